#include <algorithm>
#include <cctype>
#include <cstring>

#include "tools/isdbsim/MediaLoops.h"

namespace isdbsim {
namespace {

// A 5 x 7 pixel font for the pattern's caption line: capitals, digits and a few signs.
struct Glyph {
    char character;
    uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'/', {0x01, 0x02, 0x02, 0x04, 0x08, 0x08, 0x10}},
};

const Glyph* FindGlyph(char c) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.character == upper) {
            return &glyph;
        }
    }
    return nullptr;
}

void FillRect(uint8_t* plane, int stride, int x0, int y0, int x1, int y1, uint8_t value) {
    for (int y = std::max(y0, 0); y < y1; ++y) {
        std::memset(plane + static_cast<ptrdiff_t>(y) * stride + x0, value,
                    static_cast<size_t>(std::max(x1 - x0, 0)));
    }
}

}  // namespace

void DrawTestPattern(const ServiceInfo& service, int index, int count, uint8_t* y, int yStride,
                     uint8_t* u, uint8_t* v, int uvStride) {
    const int width = service.video.width;
    const int height = service.video.height;
    // Seven colour bars (75 %), in BT.601 Y'CbCr.
    static constexpr uint8_t kBars[7][3] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44},
                                            {112, 72, 58},   {84, 184, 198}, {65, 100, 212},
                                            {35, 212, 114}};
    const int barsHeight = height * 2 / 3;
    for (int bar = 0; bar < 7; ++bar) {
        const int x0 = width * bar / 7;
        const int x1 = width * (bar + 1) / 7;
        FillRect(y, yStride, x0, 0, x1, barsHeight, kBars[bar][0]);
        FillRect(u, uvStride, x0 / 2, 0, x1 / 2, barsHeight / 2, kBars[bar][1]);
        FillRect(v, uvStride, x0 / 2, 0, x1 / 2, barsHeight / 2, kBars[bar][2]);
    }
    FillRect(y, yStride, 0, barsHeight, width, height, 16);
    FillRect(u, uvStride, 0, barsHeight / 2, width / 2, height / 2, 128);
    FillRect(v, uvStride, 0, barsHeight / 2, width / 2, height / 2, 128);
    // A white box sweeping across the bars once per loop.
    const int box = std::max(height / 8, 8) & ~1;
    const int boxX = ((width - box) * index / std::max(count, 1)) & ~1;
    const int boxY = (barsHeight / 2 - box / 2) & ~1;
    FillRect(y, yStride, boxX, boxY, boxX + box, boxY + box, 235);
    FillRect(u, uvStride, boxX / 2, boxY / 2, (boxX + box) / 2, (boxY + box) / 2, 128);
    FillRect(v, uvStride, boxX / 2, boxY / 2, (boxX + box) / 2, (boxY + box) / 2, 128);
    // The service's name, and its service_id, in the lower third.
    const std::string label = service.latinName + "  SID " + std::to_string(service.serviceId);
    const int scale = std::max(1, height / 120);
    const int textWidth = static_cast<int>(label.size()) * 6 * scale;
    int penX = std::max(0, (width - textWidth) / 2);
    const int penY = barsHeight + (height - barsHeight - 7 * scale) / 2;
    for (char c : label) {
        const Glyph* glyph = FindGlyph(c);
        if (glyph != nullptr) {
            for (int row = 0; row < 7; ++row) {
                for (int column = 0; column < 5; ++column) {
                    if (glyph->rows[row] & (0x10 >> column)) {
                        const int px = penX + column * scale;
                        const int py = penY + row * scale;
                        if (px + scale <= width && py + scale <= height) {
                            FillRect(y, yStride, px, py, px + scale, py + scale, 235);
                        }
                    }
                }
            }
        }
        penX += 6 * scale;
    }
}

}  // namespace isdbsim
