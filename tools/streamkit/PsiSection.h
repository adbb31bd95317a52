#pragma once

#include <cstdint>
#include <span>

#include "tools/streamkit/ByteWriter.h"

namespace streamkit {

// The largest section an ARIB SI table may use (section_length at most 4093).
constexpr size_t kMaxSectionSize = 4096;

// The fields of a long-form section header, in the order they are sent.
struct SectionHeader {
    uint8_t tableId = 0;
    uint16_t tableIdExtension = 0;
    uint8_t version = 0;  // 5 bits
    uint8_t sectionNumber = 0;
    uint8_t lastSectionNumber = 0;
    // The bit after section_syntax_indicator: 0 for PAT, PMT and DSM-CC sections, 1
    // (reserved_future_use) for the SI tables of ARIB.
    bool privateIndicator = true;
};

// A long-form section (section_syntax_indicator 1, current_next_indicator 1) with its CRC_32.
Bytes BuildSection(const SectionHeader& header, std::span<const uint8_t> body);

// A short-form section (section_syntax_indicator 0) that still ends in a CRC_32, as the TOT.
Bytes BuildShortSection(uint8_t tableId, std::span<const uint8_t> body);

}  // namespace streamkit
