#include "platform/gdi/GdiSurface.h"

#include <algorithm>
#include <cstdlib>

#include "core/Utf16.h"
#include "platform/gdi/GdiFont.h"

GdiSurface::GdiSurface(int width, int height)
    : width(std::max(width, 0)),
      height(std::max(height, 0)),
      pixels(static_cast<size_t>(this->width) * static_cast<size_t>(this->height), 0) {}

uint32_t GdiSurface::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return 0;
    }
    return pixels[static_cast<size_t>(y) * width + x];
}

void GdiSurface::Clear() {
    std::fill(pixels.begin(), pixels.end(), 0);
}

GdiRect GdiSurface::Clip(const GdiRect& rect) const {
    return {std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, width),
            std::min(rect.bottom, height)};
}

void GdiSurface::FillRect(const GdiRect& rect, const GdiBrush& brush) {
    const GdiRect area = Clip(rect);
    if (area.IsEmpty()) {
        return;
    }
    for (int y = area.top; y < area.bottom; ++y) {
        uint32_t* row = pixels.data() + static_cast<size_t>(y) * width;
        if (brush.IsSolid()) {
            std::fill(row + area.left, row + area.right, brush.GetSolidPixel());
            continue;
        }
        // The brush's row repeats every 8 pixels: look it up once per row.
        std::optional<uint32_t> rowPixels[8];
        for (int x = 0; x < 8; ++x) {
            rowPixels[x] = brush.PixelAt(x, y);
        }
        for (int x = area.left; x < area.right; ++x) {
            if (const std::optional<uint32_t>& pixel = rowPixels[x & 7]) {
                row[x] = *pixel;
            }
        }
    }
}

void GdiSurface::DrawLine(int x0, int y0, int x1, int y1, GdiColor color) {
    const uint32_t pixel = color.ToPixel();
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int stepX = x0 < x1 ? 1 : -1;
    const int stepY = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    int x = x0;
    int y = y0;
    while (x != x1 || y != y1) {
        if (x >= 0 && y >= 0 && x < width && y < height) {
            pixels[static_cast<size_t>(y) * width + x] = pixel;
        }
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += stepX;
        }
        if (twice <= dx) {
            error += dx;
            y += stepY;
        }
    }
}

namespace {

uint8_t Blend(uint32_t under, uint32_t over, uint32_t coverage, int shift) {
    const int a = static_cast<int>((under >> shift) & 0xFF);
    const int b = static_cast<int>((over >> shift) & 0xFF);
    return static_cast<uint8_t>(a + ((b - a) * static_cast<int>(coverage) + 127) / 255);
}

}  // namespace

int GdiSurface::DrawText(int x, int y, std::u32string_view text, GdiFont& font, GdiColor color) {
    const uint32_t ink = color.ToPixel();
    const int baseline = y + font.GetAscent();
    for (char32_t character : text) {
        const GdiFont::Glyph& glyph = font.GetGlyph(character);
        const int left = x + glyph.left;
        const int top = baseline - glyph.top;
        for (int row = 0; row < glyph.height; ++row) {
            const int py = top + row;
            if (py < 0 || py >= height) {
                continue;
            }
            const uint8_t* coverage =
                glyph.coverage.data() + static_cast<size_t>(row) * glyph.width;
            uint32_t* target = pixels.data() + static_cast<size_t>(py) * width;
            for (int column = 0; column < glyph.width; ++column) {
                const int px = left + column;
                const uint32_t amount = coverage[column];
                if (amount == 0 || px < 0 || px >= width) {
                    continue;
                }
                if (amount == 255) {
                    target[px] = ink;
                    continue;
                }
                const uint32_t under = target[px];
                target[px] = static_cast<uint32_t>(Blend(under, ink, amount, 16)) << 16 |
                             static_cast<uint32_t>(Blend(under, ink, amount, 8)) << 8 |
                             Blend(under, ink, amount, 0);
            }
        }
        x += glyph.advance;
    }
    return x;
}

int GdiSurface::DrawText(int x, int y, std::u16string_view text, GdiFont& font, GdiColor color) {
    std::u32string characters;
    characters.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        characters.push_back(NextCodePoint(text, i));
    }
    return DrawText(x, y, characters, font, color);
}

void GdiSurface::StretchBlt(const GdiRect& target, const GdiSurface& source, const GdiRect& from,
                            RasterOp op) {
    if (target.IsEmpty() || from.IsEmpty()) {
        return;
    }
    const GdiRect area = Clip(target);
    for (int y = area.top; y < area.bottom; ++y) {
        // The source pixel whose span covers the centre of the target pixel.
        const int sy = from.top + static_cast<int>((static_cast<int64_t>(y - target.top) * 2 + 1) *
                                                   from.Height() / (2 * target.Height()));
        uint32_t* row = pixels.data() + static_cast<size_t>(y) * width;
        for (int x = area.left; x < area.right; ++x) {
            const int sx =
                from.left + static_cast<int>((static_cast<int64_t>(x - target.left) * 2 + 1) *
                                             from.Width() / (2 * target.Width()));
            const uint32_t pixel = source.GetPixel(sx, sy);
            switch (op) {
                case RasterOp::kCopy:
                    row[x] = pixel;
                    break;
                case RasterOp::kAnd:
                    row[x] &= pixel;
                    break;
                case RasterOp::kOr:
                    row[x] |= pixel;
                    break;
            }
        }
    }
}
