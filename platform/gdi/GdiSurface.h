#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/gdi/GdiBrush.h"
#include "platform/gdi/GdiTypes.h"

class GdiFont;

// A 32-bit top-down surface in memory (blue, green, red and a zero byte per pixel, rows without
// padding), created zero-filled, and the drawing operations on it. Every operation clips to the
// surface; coordinates outside it are not an error.
class GdiSurface {
public:
    // How StretchBlt combines source and destination pixels.
    enum class RasterOp { kCopy, kAnd, kOr };

    GdiSurface(int width, int height);

    int GetWidth() const { return width; }
    int GetHeight() const { return height; }
    uint32_t* GetPixels() { return pixels.data(); }
    const uint32_t* GetPixels() const { return pixels.data(); }
    size_t GetByteSize() const { return pixels.size() * sizeof(uint32_t); }
    // The pixel at (x, y); 0 outside the surface.
    uint32_t GetPixel(int x, int y) const;
    GdiColor GetColor(int x, int y) const { return GdiColor::FromPixel(GetPixel(x, y)); }

    // Fills every pixel with zero (black, which the video overlay shows as transparent).
    void Clear();
    void FillRect(const GdiRect& rect, const GdiBrush& brush);
    // A 1-pixel line from (x0, y0) towards (x1, y1), without its end point.
    void DrawLine(int x0, int y0, int x1, int y1, GdiColor color);
    // Draws text with the top of its line at y and its first pen position at x, in `color`,
    // blending anti-aliased edges into what is there (the background is left as it is). Returns
    // the x of the pen after the text.
    int DrawText(int x, int y, std::u32string_view text, GdiFont& font, GdiColor color);
    int DrawText(int x, int y, std::u16string_view text, GdiFont& font, GdiColor color);
    // Copies `source`'s rectangle onto this surface's rectangle, scaled by nearest pixel and
    // combined by `op`.
    void StretchBlt(const GdiRect& target, const GdiSurface& source, const GdiRect& from,
                    RasterOp op);

private:
    GdiRect Clip(const GdiRect& rect) const;

    int width;
    int height;
    std::vector<uint32_t> pixels;
};
