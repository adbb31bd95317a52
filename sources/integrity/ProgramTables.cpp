#include "sources/integrity/ProgramTables.h"

#include <algorithm>
#include <cstring>

#include "core/CRC32.h"

namespace integrity {

namespace {

constexpr uint8_t kCaDescriptorTag = 0x09;
constexpr uint8_t kStreamIdentifierDescriptorTag = 0x52;
constexpr size_t kLongHeaderSize = 8;  // table_id up to last_section_number
constexpr size_t kCrcSize = 4;

// Stream types of video and audio elementary streams (MPEG-1/2/4 video, H.264 and its
// extensions, HEVC, VVC; MPEG-1/2 audio, AAC in ADTS and LATM, MPEG-4 audio, AC-3, E-AC-3).
constexpr uint8_t kVideoStreamTypes[] = {0x01, 0x02, 0x10, 0x1B, 0x1F, 0x20, 0x24, 0x25, 0x33};
constexpr uint8_t kAudioStreamTypes[] = {0x03, 0x04, 0x0F, 0x11, 0x1C, 0x2D, 0x81, 0x87};
constexpr uint8_t kPesPrivateDataStreamType = 0x06;
constexpr uint8_t kPrivateSectionsStreamType = 0x05;

// Component tags of ARIB captions (0x30-0x37) and superimposed text (0x38-0x3F), and those of
// partial reception (one-segment) services.
bool IsCaptionComponent(uint8_t tag) {
    return (tag >= 0x30 && tag <= 0x3F) || tag == 0x87 || tag == 0x88;
}

uint16_t Pid13(const uint8_t* bytes) {
    return static_cast<uint16_t>((bytes[0] & 0x1F) << 8 | bytes[1]);
}
size_t Length12(const uint8_t* bytes) {
    return static_cast<size_t>((bytes[0] & 0x0F) << 8 | bytes[1]);
}

// Walks a descriptor loop; a descriptor that does not fit ends it.
template <typename OnDescriptor>
void ForEachDescriptor(const uint8_t* loop, size_t size, OnDescriptor&& onDescriptor) {
    size_t position = 0;
    while (position + 2 <= size) {
        const uint8_t tag = loop[position];
        const size_t length = loop[position + 1];
        if (position + 2 + length > size) {
            return;
        }
        onDescriptor(tag, loop + position + 2, length);
        position += 2 + length;
    }
}

void CollectCaPid(uint8_t tag, const uint8_t* body, size_t length, std::vector<uint16_t>& out) {
    // CA_system_id (16 bits), then the 13-bit CA_PID.
    if (tag == kCaDescriptorTag && length >= 4) {
        out.push_back(Pid13(body + 2));
    }
}

}  // namespace

bool IsValidSection(const uint8_t* section, size_t size, uint8_t tableId) {
    if (size < kLongHeaderSize + kCrcSize || section[0] != tableId) {
        return false;
    }
    const bool sectionSyntax = (section[1] & 0x80) != 0;
    const bool current = (section[5] & 0x01) != 0;
    return sectionSyntax && current && 3 + Length12(section + 1) == size &&
           CalcCRC32(section, size) == 0;
}

std::optional<std::vector<ProgramAssociation>> ParsePat(const uint8_t* section, size_t size) {
    if (!IsValidSection(section, size, kPatTableId)) {
        return std::nullopt;
    }
    std::vector<ProgramAssociation> programs;
    for (size_t position = kLongHeaderSize; position + 4 <= size - kCrcSize; position += 4) {
        programs.push_back({static_cast<uint16_t>(section[position] << 8 | section[position + 1]),
                            Pid13(section + position + 2)});
    }
    return programs;
}

std::optional<ProgramMap> ParsePmt(const uint8_t* section, size_t size) {
    if (!IsValidSection(section, size, kPmtTableId) || size < kLongHeaderSize + 4 + kCrcSize) {
        return std::nullopt;
    }
    ProgramMap map;
    map.programNumber = static_cast<uint16_t>(section[3] << 8 | section[4]);
    map.pcrPid = Pid13(section + 8);
    const size_t end = size - kCrcSize;
    const size_t infoLength = Length12(section + 10);
    size_t position = kLongHeaderSize + 4;
    if (position + infoLength > end) {
        return std::nullopt;
    }
    ForEachDescriptor(section + position, infoLength,
                      [&](uint8_t tag, const uint8_t* body, size_t length) {
                          CollectCaPid(tag, body, length, map.caPids);
                      });
    position += infoLength;
    // stream_type (8), PID (13), ES_info_length (12), descriptors.
    while (position + 5 <= end) {
        ElementaryStream stream;
        stream.streamType = section[position];
        stream.pid = Pid13(section + position + 1);
        const size_t esInfoLength = Length12(section + position + 3);
        position += 5;
        if (position + esInfoLength > end) {
            return std::nullopt;
        }
        ForEachDescriptor(section + position, esInfoLength,
                          [&](uint8_t tag, const uint8_t* body, size_t length) {
                              if (tag == kStreamIdentifierDescriptorTag && length >= 1) {
                                  stream.componentTag = body[0];
                              }
                              CollectCaPid(tag, body, length, map.caPids);
                          });
        position += esInfoLength;
        map.streams.push_back(stream);
    }
    return map;
}

PidKind StreamKind(const ElementaryStream& stream) {
    const auto has = [&](const auto& types) {
        return std::find(std::begin(types), std::end(types), stream.streamType) != std::end(types);
    };
    if (has(kVideoStreamTypes)) {
        return PidKind::kVideo;
    }
    if (has(kAudioStreamTypes)) {
        return PidKind::kAudio;
    }
    if (stream.streamType == kPesPrivateDataStreamType && stream.componentTag &&
        IsCaptionComponent(*stream.componentTag)) {
        return PidKind::kCaption;
    }
    if (stream.streamType == kPrivateSectionsStreamType) {
        return PidKind::kPsiSi;
    }
    return PidKind::kData;
}

size_t SectionAssembler::Append(const uint8_t* data, size_t size, bool& completed) {
    size_t used = 0;
    // The first three bytes give section_length.
    if (filled < 3) {
        used = std::min(size, 3 - filled);
        std::memcpy(buffer.data() + filled, data, used);
        filled += used;
        if (filled < 3) {
            return used;
        }
    }
    const size_t total = 3 + Length12(buffer.data() + 1);
    if (total > buffer.size()) {
        active = false;
        return size;  // unreadable: the rest of this packet is lost with it
    }
    const size_t take = std::min(size - used, total - filled);
    std::memcpy(buffer.data() + filled, data + used, take);
    filled += take;
    if (filled == total) {
        completed = true;
        active = false;
    }
    return used + take;
}

}  // namespace integrity
