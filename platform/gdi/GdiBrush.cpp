#include "platform/gdi/GdiBrush.h"

GdiBrush GdiBrush::Solid(GdiColor color) {
    GdiBrush brush;
    brush.pixels.fill(color.ToPixel());
    return brush;
}

GdiBrush GdiBrush::FromPattern(const Pattern& pixels) {
    GdiBrush brush;
    brush.kind = Kind::kPattern;
    brush.pixels = pixels;
    return brush;
}

GdiBrush GdiBrush::Hatched(Hatch hatch, GdiColor color) {
    GdiBrush brush;
    brush.kind = Kind::kHatch;
    brush.pixels.fill(color.ToPixel());
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            switch (hatch) {
                case Hatch::kForwardDiagonal:
                    brush.hatchMask[y * 8 + x] = x == y;
                    break;
            }
        }
    }
    return brush;
}
