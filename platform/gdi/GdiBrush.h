#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/gdi/GdiTypes.h"

// A brush that fills rectangles on a surface: a solid colour, an 8 x 8 pattern of pixels, or a
// hatch that paints only its lines and leaves the gaps as they were. Patterns and hatches are
// aligned to the surface's origin, so neighbouring fills join without a seam.
class GdiBrush {
public:
    enum class Hatch {
        kForwardDiagonal,  // lines from top left to bottom right, every 8 pixels
    };
    using Pattern = std::array<uint32_t, 64>;  // 8 rows of 8 pixel values

    static GdiBrush Solid(GdiColor color);
    static GdiBrush FromPattern(const Pattern& pixels);
    static GdiBrush Hatched(Hatch hatch, GdiColor color);

    // The pixel the brush paints at surface position (x, y), or nothing where a hatch leaves the
    // surface unchanged.
    std::optional<uint32_t> PixelAt(int x, int y) const {
        const uint32_t index = static_cast<uint32_t>(y & 7) * 8 + static_cast<uint32_t>(x & 7);
        if (kind == Kind::kHatch && !hatchMask[index]) {
            return std::nullopt;
        }
        return pixels[index];
    }
    bool IsSolid() const { return kind == Kind::kSolid; }
    uint32_t GetSolidPixel() const { return pixels[0]; }

private:
    enum class Kind { kSolid, kPattern, kHatch };

    Kind kind = Kind::kSolid;
    Pattern pixels{};
    std::array<bool, 64> hatchMask{};
};
