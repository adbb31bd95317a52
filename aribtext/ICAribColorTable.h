#pragma once

#include <array>
#include <cstdint>

// The fixed 128-entry colour look-up table of ARIB 8-unit captions and station logos. A colour
// index is palette x 16 + n; station logos use the same indexes for their implied palette.
struct ICAribColor {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    uint8_t alpha;  // 255 opaque, 128 half-transparent, 0 transparent

    friend constexpr bool operator==(const ICAribColor&, const ICAribColor&) = default;
};

class ICAribColorTable {
public:
    static constexpr int kCount = 128;

    // Entry `index` (0..127); an index outside the table gives the transparent entry 8, so a
    // stray colour control draws nothing instead of reading past the table.
    static ICAribColor Get(int index);
    // All entries in index order.
    static const std::array<ICAribColor, kCount>& Entries();
};
