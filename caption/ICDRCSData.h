#pragma once

#include <cstdint>
#include <vector>

#include "core/ICListItem.h"

// One downloaded character: its code and the patterns received for it (one per font).
class ICDRCSData final : public ICListItem {
public:
    struct Font {
        uint8_t mode = 0;  // fontId (high 4 bits) and mode (low 4 bits)
        int32_t depth = 0;
        int32_t width = 0;
        int32_t height = 0;
        int32_t bitsPerPixel = 0;      // 1, 2, 4 or 8
        std::vector<uint8_t> pattern;  // width x height pixels, row after row, without padding
    };

    explicit ICDRCSData(uint16_t characterCode) : characterCode(characterCode) {}

    int32_t GetFontCount() const { return static_cast<int32_t>(fonts.size()); }

    uint16_t characterCode;
    std::vector<Font> fonts;
};
