#include "platform/gdi/GdiSurface.h"

#include <gtest/gtest.h>

namespace {

constexpr GdiColor kRed{255, 0, 0};
constexpr GdiColor kWhite{255, 255, 255};
constexpr GdiColor kGrey{128, 128, 128};

int CountPixels(const GdiSurface& surface, uint32_t pixel) {
    int count = 0;
    for (int y = 0; y < surface.GetHeight(); ++y) {
        for (int x = 0; x < surface.GetWidth(); ++x) {
            count += surface.GetPixel(x, y) == pixel ? 1 : 0;
        }
    }
    return count;
}

TEST(GdiSurface, StartsBlackAndLaysOutPixelsAsABitmap) {
    GdiSurface surface(960, 540);
    EXPECT_EQ(surface.GetByteSize(), 2073600u);
    EXPECT_EQ(CountPixels(surface, 0), 960 * 540);
    surface.FillRect({1, 0, 2, 1}, GdiBrush::Solid({0x11, 0x22, 0x33}));
    const auto* bytes = reinterpret_cast<const uint8_t*>(surface.GetPixels());
    // Blue, green, red, zero: the memory order of a 32-bit device-independent bitmap.
    EXPECT_EQ(bytes[4], 0x33);
    EXPECT_EQ(bytes[5], 0x22);
    EXPECT_EQ(bytes[6], 0x11);
    EXPECT_EQ(bytes[7], 0x00);
}

TEST(GdiSurface, FillsExcludeTheRightAndBottomEdgesAndClip) {
    GdiSurface surface(16, 16);
    surface.FillRect({2, 3, 6, 5}, GdiBrush::Solid(kRed));
    EXPECT_EQ(CountPixels(surface, kRed.ToPixel()), 4 * 2);
    EXPECT_EQ(surface.GetColor(5, 4), kRed);
    EXPECT_EQ(surface.GetColor(6, 4), GdiColor{});
    EXPECT_EQ(surface.GetColor(5, 5), GdiColor{});
    surface.FillRect({-10, -10, 100, 1}, GdiBrush::Solid(kWhite));
    EXPECT_EQ(CountPixels(surface, kWhite.ToPixel()), 16);
    surface.FillRect({20, 20, 30, 30}, GdiBrush::Solid(kWhite));
    surface.FillRect({5, 5, 5, 9}, GdiBrush::Solid(kWhite));
    EXPECT_EQ(CountPixels(surface, kWhite.ToPixel()), 16);
}

// The half-transparent caption background: rows 11001100, 01100110, 00110011, 10011001 give
// diagonal stripes two pixels wide, aligned to the surface so that cells join.
TEST(GdiSurface, PatternBrushesRepeatFromTheSurfaceOrigin) {
    static constexpr uint8_t kRows[4] = {0xCC, 0x66, 0x33, 0x99};
    GdiBrush::Pattern pattern{};
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            pattern[y * 8 + x] = (kRows[y % 4] >> (7 - x)) & 1 ? kGrey.ToPixel() : 0;
        }
    }
    GdiSurface surface(32, 16);
    surface.FillRect({3, 0, 32, 16}, GdiBrush::FromPattern(pattern));
    for (int y = 0; y < 16; ++y) {
        for (int x = 3; x < 32; ++x) {
            const bool set = (kRows[y % 4] >> (7 - x % 8)) & 1;
            EXPECT_EQ(surface.GetColor(x, y), set ? kGrey : GdiColor{}) << x << "," << y;
        }
    }
    // Each row has stripes of exactly two pixels, moving one pixel right per row.
    EXPECT_EQ(surface.GetColor(8, 0), kGrey);
    EXPECT_EQ(surface.GetColor(9, 0), kGrey);
    EXPECT_EQ(surface.GetColor(9, 1), kGrey);
    EXPECT_EQ(surface.GetColor(10, 1), kGrey);
    EXPECT_EQ(surface.GetColor(8, 1), GdiColor{});
}

TEST(GdiSurface, HatchesPaintTheirLinesAndKeepTheGaps) {
    GdiSurface surface(16, 16);
    surface.FillRect({0, 0, 16, 16}, GdiBrush::Solid(kWhite));
    surface.FillRect({0, 0, 16, 16}, GdiBrush::Hatched(GdiBrush::Hatch::kForwardDiagonal, kRed));
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(surface.GetColor(x, y), (x - y) % 8 == 0 ? kRed : kWhite) << x << "," << y;
        }
    }
}

TEST(GdiSurface, LinesLeaveOutTheirEndPoint) {
    GdiSurface surface(10, 10);
    surface.DrawLine(1, 8, 6, 8, kRed);
    surface.DrawLine(9, 9, 9, 2, kWhite);
    EXPECT_EQ(CountPixels(surface, kRed.ToPixel()), 5);
    EXPECT_EQ(surface.GetColor(1, 8), kRed);
    EXPECT_EQ(surface.GetColor(5, 8), kRed);
    EXPECT_EQ(surface.GetColor(6, 8), GdiColor{});
    EXPECT_EQ(CountPixels(surface, kWhite.ToPixel()), 7);
    EXPECT_EQ(surface.GetColor(9, 9), kWhite);
    EXPECT_EQ(surface.GetColor(9, 2), GdiColor{});
    // Partly outside: clipped, nothing written out of bounds.
    surface.DrawLine(-5, 0, 20, 0, kRed);
    EXPECT_EQ(CountPixels(surface, kRed.ToPixel()), 15);
    surface.DrawLine(3, 3, 3, 3, kRed);
    EXPECT_EQ(surface.GetColor(3, 3), GdiColor{});
}

// Scaled glyphs are drawn in two passes: a mask (black on white) ANDed in, then the ink (colour
// on black) ORed in.
TEST(GdiSurface, StretchBltScalesByNearestPixelAndCombines) {
    GdiSurface glyph(4, 4);
    glyph.FillRect({0, 0, 4, 4}, GdiBrush::Solid(kWhite));
    glyph.FillRect({0, 0, 2, 2}, GdiBrush::Solid({}));  // the glyph covers the top-left quarter
    GdiSurface page(20, 20);
    page.FillRect({0, 0, 20, 20}, GdiBrush::Solid(kGrey));
    page.StretchBlt({4, 4, 12, 12}, glyph, {0, 0, 4, 4}, GdiSurface::RasterOp::kAnd);
    EXPECT_EQ(page.GetColor(4, 4), GdiColor{});
    EXPECT_EQ(page.GetColor(7, 7), GdiColor{});
    EXPECT_EQ(page.GetColor(8, 8), kGrey);
    EXPECT_EQ(page.GetColor(3, 3), kGrey);

    glyph.Clear();
    glyph.FillRect({0, 0, 2, 2}, GdiBrush::Solid(kRed));
    page.StretchBlt({4, 4, 12, 12}, glyph, {0, 0, 4, 4}, GdiSurface::RasterOp::kOr);
    int red = 0;
    for (int y = 4; y < 12; ++y) {
        for (int x = 4; x < 12; ++x) {
            red += page.GetColor(x, y) == kRed ? 1 : 0;
        }
    }
    EXPECT_EQ(red, 16);  // the 2 x 2 ink doubled in both directions
    EXPECT_EQ(page.GetColor(11, 11), kGrey);

    // Shrinking picks pixels; a target partly off the surface is clipped.
    GdiSurface small(2, 2);
    small.StretchBlt({-1, -1, 3, 3}, glyph, {0, 0, 4, 4}, GdiSurface::RasterOp::kCopy);
    EXPECT_EQ(small.GetColor(0, 0), kRed);
    EXPECT_EQ(small.GetColor(1, 1), GdiColor{});
}

}  // namespace
