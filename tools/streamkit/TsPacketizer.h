#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tools/streamkit/ByteWriter.h"

namespace streamkit {

constexpr size_t kTsPacketSize = 188;
constexpr size_t kTsPayloadSize = 184;  // after the 4-byte header
constexpr uint16_t kNullPid = 0x1FFF;
using TsPacket = std::array<uint8_t, kTsPacketSize>;

// PCR: 33-bit base and 9-bit extension in 27 MHz units; PTS and DTS: 33 bits at 90 kHz.
constexpr uint64_t kPcrWrap = (uint64_t{1} << 33) * 300;
constexpr uint64_t kPtsWrap = uint64_t{1} << 33;

struct PacketHeader {
    uint16_t pid = 0;
    bool unitStart = false;  // payload_unit_start_indicator
    uint8_t counter = 0;     // continuity_counter, 4 bits
};

// The flags an adaptation field may carry besides its stuffing.
struct AdaptationField {
    bool discontinuity = false;
    bool randomAccess = false;
    std::optional<uint64_t> pcr = std::nullopt;  // 27 MHz
};

// A packet whose payload (at most 184 bytes) is followed by 0xFF up to the end, as sections
// leave the rest of their last packet.
TsPacket PaddedPacket(const PacketHeader& header, std::span<const uint8_t> payload);

// A packet whose adaptation field carries `field` and as many stuffing bytes as make the
// payload end at the packet's end; the field is left out when it would be empty and the payload
// fills the packet. The payload may be at most StuffedPayloadRoom(field) bytes. Without payload
// the packet is adaptation-only (adaptation_field_control 2): give it the PID's current counter,
// which such a packet does not advance.
TsPacket StuffedPacket(const PacketHeader& header, std::span<const uint8_t> payload,
                       const AdaptationField& field = {});
size_t StuffedPayloadRoom(const AdaptationField& field);

// A packet of the null PID.
TsPacket NullPacket();

// Writes the 6-byte PCR field (base, 6 reserved bits, extension) at `out`.
void WritePcr(uint8_t* out, uint64_t pcr);

// The packets one after the other.
Bytes Join(std::span<const TsPacket> packets);

// Cuts sections and PES packets of one PID into transport packets, keeping the PID's
// continuity counter across calls.
class TsPacketizer {
public:
    explicit TsPacketizer(uint16_t pid, uint8_t counter = 0) : pid(pid), counter(counter & 0x0F) {}

    uint16_t Pid() const { return pid; }
    // The counter the next packet with payload gets.
    uint8_t Counter() const { return counter; }

    // One section: it starts a packet (pointer_field 0) and the last packet is filled with 0xFF
    // stuffing, so a new section never starts within the last three bytes of a packet.
    void Section(std::span<const uint8_t> section, std::vector<TsPacket>& out);

    // Sections sent back to back: each one starts right where the one before ended, so a
    // packet can finish one section and start the next, its pointer_field giving the offset
    // of the first section that starts in it. Only the last packet is filled with 0xFF.
    void Sections(std::span<const Bytes> sections, std::vector<TsPacket>& out);

    // One PES packet. The last packet is padded with adaptation-field stuffing. With `pcr`,
    // the first packet carries that PCR; `randomAccess` sets random_access_indicator.
    void Pes(std::span<const uint8_t> pes, std::vector<TsPacket>& out, bool randomAccess = false,
             std::optional<uint64_t> pcr = std::nullopt);

    // An adaptation-field-only packet carrying a PCR (the continuity counter does not advance).
    TsPacket PcrOnly(uint64_t pcr) const;

private:
    uint8_t NextCounter() {
        const uint8_t value = counter;
        counter = static_cast<uint8_t>((counter + 1) & 0x0F);
        return value;
    }
    // `data` holds sections back to back, `starts` the offset of each (ascending).
    void SectionPackets(std::span<const uint8_t> data, std::span<const size_t> starts,
                        std::vector<TsPacket>& out);

    uint16_t pid;
    uint8_t counter;
};

// The packets of one section on `pid`, counting from continuity counter 0.
Bytes PacketizeSection(uint16_t pid, std::span<const uint8_t> section);

// The optional parts of a PES header. The header always carries a PTS.
struct PesHeader {
    uint8_t streamId = 0;
    uint64_t pts = 0;
    std::optional<uint64_t> dts = std::nullopt;
    bool dataAlignment = true;     // data_alignment_indicator
    bool unboundedLength = false;  // PES_packet_length 0, as video may send it
    uint8_t stuffingBytes = 0;     // 0xFF bytes closing the header
};

// PES header followed by `payload`. A packet length above 65535 (possible only for video) is
// written as 0, "unbounded", too.
Bytes BuildPes(const PesHeader& header, std::span<const uint8_t> payload);

}  // namespace streamkit
