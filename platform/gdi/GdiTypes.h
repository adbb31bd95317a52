#pragma once

#include <cstdint>

// The value types of the drawing layer: rectangles that exclude their right and bottom edges,
// and colours as red, green and blue.
struct GdiRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    friend constexpr bool operator==(const GdiRect&, const GdiRect&) = default;
};

struct GdiColor {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;

    // The pixel value on a 32-bit surface: bytes blue, green, red, 0 in memory, as in a
    // device-independent bitmap.
    constexpr uint32_t ToPixel() const {
        return static_cast<uint32_t>(red) << 16 | static_cast<uint32_t>(green) << 8 | blue;
    }
    static constexpr GdiColor FromPixel(uint32_t pixel) {
        return {static_cast<uint8_t>(pixel >> 16), static_cast<uint8_t>(pixel >> 8),
                static_cast<uint8_t>(pixel)};
    }
    friend constexpr bool operator==(const GdiColor&, const GdiColor&) = default;
};
