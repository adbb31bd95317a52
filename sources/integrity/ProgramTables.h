#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sources/integrity/TsIntegrity.h"

namespace integrity {

constexpr uint16_t kPatPid = 0x0000;
constexpr uint8_t kPatTableId = 0x00;
constexpr uint8_t kPmtTableId = 0x02;
// PAT and PMT sections: section_length at most 1021, so 1024 bytes with the header.
constexpr size_t kMaxProgramSectionSize = 1024;

// Gathers the sections of one PID from its packets' payloads. A section may span packets and
// a packet may end one section and start others; a continuity break throws away the section
// in progress. Sections longer than kMaxProgramSectionSize are dropped unread.
class SectionAssembler {
public:
    // `onSection(const uint8_t* section, size_t size)` gets every completed section.
    template <typename OnSection>
    void Feed(const uint8_t* payload, size_t size, bool unitStart, bool continuityBroken,
              OnSection&& onSection);

private:
    // Takes bytes of the section in progress from `data` and returns how many it used;
    // `completed` tells when the section became whole.
    size_t Append(const uint8_t* data, size_t size, bool& completed);

    std::array<uint8_t, kMaxProgramSectionSize> buffer{};
    size_t filled = 0;
    bool active = false;
};

template <typename OnSection>
void SectionAssembler::Feed(const uint8_t* payload, size_t size, bool unitStart,
                            bool continuityBroken, OnSection&& onSection) {
    if (continuityBroken) {
        active = false;
    }
    bool completed = false;
    if (!unitStart) {
        if (active) {
            Append(payload, size, completed);
            if (completed) {
                onSection(buffer.data(), filled);
            }
        }
        return;
    }
    // pointer_field: the bytes that finish the section in progress come first.
    const size_t pointer = size > 0 ? payload[0] : size;
    if (pointer + 1 > size) {
        active = false;
        return;
    }
    if (active && Append(payload + 1, pointer, completed) > 0 && completed) {
        onSection(buffer.data(), filled);
    }
    active = false;
    // Sections follow one another until 0xFF stuffing or the end of the packet.
    size_t position = 1 + pointer;
    while (position < size && payload[position] != 0xFF) {
        active = true;
        filled = 0;
        completed = false;
        position += Append(payload + position, size - position, completed);
        if (!completed) {
            break;  // continues in the next packet, or was malformed
        }
        onSection(buffer.data(), filled);
    }
}

// A PAT, PMT section after its length, syntax and CRC_32 were checked.
struct ProgramAssociation {
    uint16_t programNumber = 0;  // 0: the network PID
    uint16_t pid = 0;
};

struct ElementaryStream {
    uint8_t streamType = 0;
    uint16_t pid = 0;
    std::optional<uint8_t> componentTag;  // from the stream_identifier descriptor
};

struct ProgramMap {
    uint16_t programNumber = 0;
    uint16_t pcrPid = 0;
    std::vector<ElementaryStream> streams;
    std::vector<uint16_t> caPids;  // ECM PIDs of the CA descriptors
};

// Whether `section` is a whole, current long-form section of `tableId` whose section_length
// matches its size and whose CRC_32 is right.
bool IsValidSection(const uint8_t* section, size_t size, uint8_t tableId);

// The programmes of a PAT section; empty when the section is not a valid PAT.
std::optional<std::vector<ProgramAssociation>> ParsePat(const uint8_t* section, size_t size);

// The PCR PID and elementary streams of a PMT section; empty when it is not a valid PMT.
// Every descriptor and loop length is checked against the space that holds it.
std::optional<ProgramMap> ParsePmt(const uint8_t* section, size_t size);

// What a PMT entry carries, from its stream_type and component_tag.
PidKind StreamKind(const ElementaryStream& stream);

}  // namespace integrity
