// The caption renderer's drawing: character cells, downloaded glyphs, lines, brushes, fonts
// and the surfaces.
#include <algorithm>

#include "aribtext/ICAribSymbolMap.h"
#include "caption/ICDRCSData.h"
#include "caption/ICQVCaptionRenderer.h"
#include "core/ICErrors.h"

namespace {

// The half-transparent background: diagonal stripes two pixels wide.
constexpr uint8_t kStripeRows[8] = {0xCC, 0x66, 0x33, 0x99, 0xCC, 0x66, 0x33, 0x99};

constexpr uint32_t kWhitePixel = 0xFFFFFF;

GdiColor ToGdi(ICAribColor color) {
    return {color.red, color.green, color.blue};
}

bool IsPrivateUse(char16_t unit) {
    return unit >= 0xE000 && unit <= 0xF8FF;
}

}  // namespace

// --- surfaces and fonts

HRESULT ICQVCaptionRenderer::CreateSurfaces() {
    // The surfaces are made once: a renderer given again while pages are drawn keeps drawing
    // on the same ones.
    if (drawingSurface != nullptr) {
        return S_OK;
    }
    surfaceA = std::make_unique<GdiSurface>(kSurfaceWidth, kSurfaceHeight);
    surfaceB = std::make_unique<GdiSurface>(kSurfaceWidth, kSurfaceHeight);
    const int glyphSize = std::max({kGlyphSurfaceSize, page.fontWidth, page.fontHeight});
    glyphSurface = std::make_unique<GdiSurface>(glyphSize, glyphSize);
    drawingSurface = surfaceA.get();
    shownSurface = surfaceB.get();
    return S_OK;
}

HRESULT ICQVCaptionRenderer::CreateCaptionFont() {
    ComputeSizes();
    std::string face;
    {
        std::lock_guard lock(settingsMutex);
        face = faceName;
    }
    const int emHeight = page.fontHeight;
    if (font != nullptr && font->GetEmHeight() == emHeight && fontFaceName == face) {
        return S_OK;
    }
    // Pages switch between a few sizes; fonts already made are kept.
    auto key = std::make_pair(face, emHeight);
    auto cached = fontCache.find(key);
    if (cached == fontCache.end()) {
        if (fontCache.size() >= kMaxCachedFonts) {
            fontCache.clear();
        }
        std::unique_ptr<GdiFont> made = GdiFont::Create(face, emHeight);
        if (made == nullptr) {
            font = nullptr;
            return E_FAIL;
        }
        cached = fontCache.emplace(key, std::move(made)).first;
    }
    font = cached->second.get();
    fontFaceName = face;
    if (glyphSurface != nullptr &&
        (glyphSurface->GetWidth() < page.fontWidth || glyphSurface->GetHeight() < emHeight)) {
        const int glyphSize = std::max({kGlyphSurfaceSize, page.fontWidth, emHeight});
        glyphSurface = std::make_unique<GdiSurface>(glyphSize, glyphSize);
    }
    return S_OK;
}

// --- colours

ICAribColor ICQVCaptionRenderer::Visible(ICAribColor color) {
    if (color.red == 0 && color.green == 0 && color.blue == 0) {
        return {1, 1, 1, color.alpha};
    }
    return color;
}

GdiBrush ICQVCaptionRenderer::BackgroundBrushFor(ICAribColor color) const {
    const ICAribColor visible = Visible(color);
    if (visible.alpha == 0) {
        return blackBrush;
    }
    if (visible.alpha == 255) {
        return GdiBrush::Solid(ToGdi(visible));
    }
    GdiBrush::Pattern pattern{};
    const uint32_t pixel = ToGdi(visible).ToPixel();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            pattern[y * 8 + x] = (kStripeRows[y] >> (7 - x)) & 1 ? pixel : 0;
        }
    }
    return GdiBrush::FromPattern(pattern);
}

void ICQVCaptionRenderer::SetForeground(ICAribColor color) {
    page.foreground = color;
    foregroundColor = ToGdi(Visible(color));
}

void ICQVCaptionRenderer::SetBackground(ICAribColor color) {
    page.background = color;
    backgroundBrush = BackgroundBrushFor(color);
}

// --- cells

void ICQVCaptionRenderer::GlyphOrigin(int& x0, int& y0) const {
    const int hs = page.horizontalSpacing;
    const int vs = page.verticalSpacing;
    int a = hs / 2;
    int b = vs / 2;
    switch (page.sizeMode) {
        case kSizeSmall:
            a = hs / 4;
            b = vs / 4;
            break;
        case kSizeMiddle:
            a = hs / 4;
            break;
        case kSizeDoubleHeight:
            b = 3 * vs / 2;
            break;
        case kSizeDoubleWidth:
            a = hs;
            break;
        case kSizeDoubleSize:
            a = hs;
            b = 3 * vs / 2;
            break;
        default:
            break;
    }
    x0 = page.cursorX + a;
    y0 = page.cursorY - page.cellHeight + b + 1;
}

GdiRect ICQVCaptionRenderer::CellRect() const {
    return {page.cursorX, page.cursorY - page.cellHeight, page.cursorX + page.cellWidth,
            page.cursorY};
}

char32_t ICQVCaptionRenderer::DrawableCharacter(char16_t unit) const {
    // Fonts without the private-use additional symbols draw their Unicode characters.
    if (IsPrivateUse(unit) && font != nullptr && !font->HasGlyph(unit)) {
        if (const char32_t mapped = ICAribSymbolMap::ToUnicode(unit)) {
            return mapped;
        }
    }
    return unit;
}

void ICQVCaptionRenderer::DrawCharacter(char16_t unit) {
    DrawCell(unit, unit);
}

void ICQVCaptionRenderer::DrawCell(char16_t drawn, char16_t text) {
    if (drawn == 0x000D) {
        MoveToNextRow();
        return;
    }
    if (drawingSurface != nullptr) {
        int x0 = 0;
        int y0 = 0;
        GlyphOrigin(x0, y0);
        if (drawn == 0x007F) {
            drawingSurface->FillRect(CellRect(), BackgroundBrushFor(page.foreground));
        } else {
            drawingSurface->FillRect(CellRect(), backgroundBrush);
        }
        if (drawn != 0x0020 && drawn != 0x007F && font != nullptr) {
            const char32_t character = DrawableCharacter(drawn);
            if (page.sizeMode == kSizeNormal) {
                drawingSurface->DrawText(x0, y0, std::u32string_view(&character, 1), *font,
                                         foregroundColor);
            } else {
                DrawScaled(character, x0, y0);
            }
        }
        DrawLines();
        MarkCell();
    }
    NotifyCell(std::u16string(1, text), false);
    MoveForward();
}

void ICQVCaptionRenderer::DrawScaled(char32_t character, int x0, int y0) {
    const std::u32string_view text(&character, 1);
    const GdiRect from{0, 0, page.fontWidth, page.fontHeight};
    const GdiRect to{x0, y0, x0 + page.charWidth, y0 + page.charHeight};
    // The glyph's shape is cut out of what is there, then filled with the colour.
    glyphSurface->FillRect(from, GdiBrush::Solid(GdiColor::FromPixel(kWhitePixel)));
    glyphSurface->DrawText(0, 0, text, *font, GdiColor{0, 0, 0});
    drawingSurface->StretchBlt(to, *glyphSurface, from, GdiSurface::RasterOp::kAnd);
    glyphSurface->FillRect(from, blackBrush);
    glyphSurface->DrawText(0, 0, text, *font, foregroundColor);
    drawingSurface->StretchBlt(to, *glyphSurface, from, GdiSurface::RasterOp::kOr);
}

void ICQVCaptionRenderer::DrawLines() {
    const int x = page.cursorX;
    const int y = page.cursorY;
    const int w = page.cellWidth;
    const int h = page.cellHeight;
    if (page.underline || (page.enclosure & 1)) {
        drawingSurface->DrawLine(x, y - 1, x + w, y - 1, foregroundColor);
    }
    if (page.enclosure & 2) {
        drawingSurface->DrawLine(x + w - 1, y - 1, x + w - 1, y - h + 1, foregroundColor);
    }
    if (page.enclosure & 4) {
        drawingSurface->DrawLine(x, y - h + 1, x + w, y - h + 1, foregroundColor);
    }
    if (page.enclosure & 8) {
        drawingSurface->DrawLine(x, y - 1, x, y - h + 1, foregroundColor);
    }
}

void ICQVCaptionRenderer::DrawDRCS(const ICDRCSData& data, size_t fontIndex) {
    if (fontIndex >= data.fonts.size()) {
        return;
    }
    const ICDRCSData::Font& pattern = data.fonts[fontIndex];
    if (drawingSurface != nullptr && pattern.width > 0 && pattern.height > 0) {
        int x0 = 0;
        int y0 = 0;
        GlyphOrigin(x0, y0);
        drawingSurface->FillRect(CellRect(), backgroundBrush);
        // One run of bits, row after row, most significant bits first.
        const int bits = pattern.bitsPerPixel;
        const int mask = (1 << bits) - 1;
        GdiSurface shape(pattern.width, pattern.height);
        GdiSurface colour(pattern.width, pattern.height);
        for (int y = 0; y < pattern.height; ++y) {
            for (int x = 0; x < pattern.width; ++x) {
                const size_t bit = (static_cast<size_t>(y) * pattern.width + x) * bits;
                const size_t index = bit / 8;
                const int shift = 8 - bits - static_cast<int>(bit % 8);
                const bool set =
                    index < pattern.pattern.size() && ((pattern.pattern[index] >> shift) & mask);
                shape.GetPixels()[y * pattern.width + x] = set ? 0 : kWhitePixel;
                colour.GetPixels()[y * pattern.width + x] = set ? foregroundColor.ToPixel() : 0;
            }
        }
        const GdiRect from{0, 0, pattern.width, pattern.height};
        const GdiRect to{x0, y0, x0 + page.charWidth, y0 + page.charHeight};
        drawingSurface->StretchBlt(to, shape, from, GdiSurface::RasterOp::kAnd);
        drawingSurface->StretchBlt(to, colour, from, GdiSurface::RasterOp::kOr);
        DrawLines();
        MarkCell();
    }
    NotifyCell({}, true);
    MoveForward();
}

void ICQVCaptionRenderer::MarkCell() {
    // The cell, and as far around it as a glyph of this size can reach.
    const GdiRect cell = CellRect();
    const int reach = std::max({page.fontWidth, page.fontHeight, page.charWidth, page.charHeight});
    MarkDrawn({cell.left - reach, cell.top - reach, cell.right + reach, cell.bottom + reach});
}

void ICQVCaptionRenderer::NotifyCell(std::u16string text, bool drcs) {
    if (pageObserver == nullptr) {
        return;
    }
    ICCaptionPageObserver::Cell cell;
    cell.text = std::move(text);
    cell.x = page.cursorX;
    cell.y = page.cursorY;
    cell.width = page.cellWidth;
    cell.height = page.cellHeight;
    cell.sizeMode = page.sizeMode;
    cell.foreground = page.foreground;
    cell.background = page.background;
    cell.drcs = drcs;
    pageObserver->OnCell(cell);
}

// --- pages

void ICQVCaptionRenderer::MarkDrawn(const GdiRect& rect) {
    const GdiRect clipped{std::max(rect.left, 0), std::max(rect.top, 0),
                          std::min(rect.right, kSurfaceWidth),
                          std::min(rect.bottom, kSurfaceHeight)};
    if (clipped.IsEmpty()) {
        return;
    }
    if (drawingDirty.IsEmpty()) {
        drawingDirty = clipped;
        return;
    }
    drawingDirty = {
        std::min(drawingDirty.left, clipped.left), std::min(drawingDirty.top, clipped.top),
        std::max(drawingDirty.right, clipped.right), std::max(drawingDirty.bottom, clipped.bottom)};
}

void ICQVCaptionRenderer::ClearDrawingSurface() {
    if (drawingSurface != nullptr && !drawingDirty.IsEmpty()) {
        drawingSurface->FillRect(drawingDirty, blackBrush);
    }
    drawingDirty = {};
}

void ICQVCaptionRenderer::ClearPage() {
    ClearDrawingSurface();
    if (pageObserver != nullptr) {
        pageObserver->OnClear(presentationTime);
    }
}

void ICQVCaptionRenderer::FillDisplayArea(ICAribColor color) {
    if (drawingSurface == nullptr) {
        return;
    }
    GdiBrush brush = blackBrush;
    if (color.alpha == 255) {
        brush = GdiBrush::Solid(ToGdi(color));
    } else if (color.alpha != 0) {
        brush = GdiBrush::Hatched(GdiBrush::Hatch::kForwardDiagonal, ToGdi(color));
    }
    const GdiRect area{page.areaLeft, page.areaTop, page.areaLeft + page.areaWidth,
                       page.areaTop + page.areaHeight};
    drawingSurface->FillRect(area, brush);
    MarkDrawn(area);
}
