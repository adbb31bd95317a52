#include "platform/gdi/GdiFont.h"

#include <gtest/gtest.h>

#include "platform/gdi/GdiSurface.h"

namespace {

constexpr GdiColor kYellow{255, 255, 0};

struct Ink {
    int pixels = 0;
    int full = 0;  // pixels drawn exactly in the text colour
    GdiRect bounds{1 << 20, 1 << 20, -1, -1};
};

Ink InkOf(const GdiSurface& surface, GdiColor color) {
    Ink ink;
    for (int y = 0; y < surface.GetHeight(); ++y) {
        for (int x = 0; x < surface.GetWidth(); ++x) {
            const uint32_t pixel = surface.GetPixel(x, y);
            if (pixel == 0) {
                continue;
            }
            ++ink.pixels;
            ink.full += pixel == color.ToPixel() ? 1 : 0;
            ink.bounds = {std::min(ink.bounds.left, x), std::min(ink.bounds.top, y),
                          std::max(ink.bounds.right, x + 1), std::max(ink.bounds.bottom, y + 1)};
        }
    }
    return ink;
}

// The default caption face is rarely installed: the font must still draw Japanese text.
TEST(GdiFont, AMissingFaceFallsBackToAJapaneseFace) {
    auto font = GdiFont::Create("和田研中丸ゴシック2004絵文字", 36);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->GetFamily(), FontconfigFontProvider::kFallbackFamily);
    EXPECT_TRUE(font->HasGlyph(U'字'));
    EXPECT_TRUE(font->HasGlyph(U'あ'));
    EXPECT_EQ(font->GetEmHeight(), 36);
    EXPECT_GT(font->GetAscent(), 18);
    EXPECT_LE(font->GetAscent(), 36);
    EXPECT_EQ(GdiFont::Create("Noto Sans CJK JP", 0), nullptr);
}

TEST(GdiFont, TextIsDrawnInsideItsCellInTheTextColour) {
    auto font = GdiFont::Create("Noto Sans CJK JP", 36);
    ASSERT_NE(font, nullptr);
    GdiSurface surface(200, 100);
    const int end = surface.DrawText(10, 20, std::u16string_view(u"字幕"), *font, kYellow);
    EXPECT_NEAR(end, 10 + 72, 2);  // full-width characters advance one em
    const Ink ink = InkOf(surface, kYellow);
    EXPECT_GT(ink.pixels, 200);
    EXPECT_GT(ink.full, 50);
    EXPECT_GE(ink.bounds.left, 10);
    EXPECT_LE(ink.bounds.right, 10 + 72);
    EXPECT_GE(ink.bounds.top, 20);
    EXPECT_LE(ink.bounds.bottom, 20 + 36 + 2);
    // Anti-aliased edges blend with what is under them; nothing else changes colour.
    for (int y = 0; y < surface.GetHeight(); ++y) {
        for (int x = 0; x < surface.GetWidth(); ++x) {
            const GdiColor c = surface.GetColor(x, y);
            EXPECT_EQ(c.blue, 0) << x << "," << y;
            EXPECT_EQ(c.red, c.green) << x << "," << y;
        }
    }
}

// A character the face lacks comes from another installed face; the private-use additional
// symbols are in no ordinary font, so callers can tell and draw their Unicode character.
TEST(GdiFont, CharactersTheFaceLacksComeFromAnotherFace) {
    auto latin = GdiFont::Create("DejaVu Sans", 24);
    ASSERT_NE(latin, nullptr);
    if (latin->GetFamily() != "DejaVu Sans") {
        GTEST_SKIP() << "DejaVu Sans is not installed";
    }
    EXPECT_FALSE(latin->HasGlyph(U'あ'));
    GdiSurface surface(64, 64);
    surface.DrawText(4, 4, std::u32string_view(U"あ"), *latin, kYellow);
    EXPECT_GT(InkOf(surface, kYellow).pixels, 50);

    auto japanese = GdiFont::Create("Noto Sans CJK JP", 36);
    ASSERT_NE(japanese, nullptr);
    EXPECT_FALSE(japanese->HasGlyph(0xE0FE));
    EXPECT_GT(japanese->GetGlyph(U'\U0001F211').coverage.size(), 0u);
    GdiSurface symbol(64, 64);
    symbol.DrawText(4, 4, std::u16string_view(u"\U0001F211"), *japanese, kYellow);
    EXPECT_GT(InkOf(symbol, kYellow).pixels, 100);
    // The weather and traffic symbols come from a symbol face.
    GdiSurface snowman(64, 64);
    snowman.DrawText(4, 4, std::u32string_view(U"\u26C4"), *japanese, kYellow);
    EXPECT_GT(InkOf(snowman, kYellow).pixels, 100);
    // A character no face has draws nothing and does not fail.
    GdiSurface nothing(64, 64);
    nothing.DrawText(4, 4, std::u32string_view(U"\U0010FFFD"), *japanese, kYellow);
    EXPECT_EQ(InkOf(nothing, kYellow).pixels, 0);
}

TEST(GdiFont, TextClipsAtTheSurfaceEdges) {
    auto font = GdiFont::Create("Noto Sans CJK JP", 36);
    ASSERT_NE(font, nullptr);
    GdiSurface surface(20, 20);
    surface.DrawText(-10, -15, std::u16string_view(u"字幕字幕"), *font, kYellow);
    surface.DrawText(10, 10, std::u16string_view(u"字幕"), *font, kYellow);
    EXPECT_GT(InkOf(surface, kYellow).pixels, 0);
}

}  // namespace
