// The caption renderer on hand-made data groups: what a page looks like (pixels), and how
// management data, statement bodies and the settings change the page model and the text.
#include <gtest/gtest.h>

#include <cstring>

#include "aribtext/ICAribColorTable.h"
#include "caption/ICQVCaptionRenderer.h"
#include "caption/tests/CaptionTestSupport.h"
#include "core/CodePage.h"

namespace {

using namespace captiontest;

constexpr uint32_t kWhite = 0xFFFFFF;

class CaptionRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        renderer.CreateSurfaces();
        renderer.SetTextCallback(&TextLog::Callback, &log);
        Feed(ManagementGroup(0x00, {{}}));
        log.texts.clear();  // the first management data clears the page
    }

    void Feed(const Bytes& group) {
        ICCaptionPacket* packet = MakePacket(group);
        renderer.ProcessDataGroup(packet);
        packet->Release();
    }
    void Show(Body& body) { Feed(BodyGroup(0x01, body.Take())); }

    const GdiSurface& Shown() const { return *renderer.GetShownSurface(); }
    uint32_t Pixel(int x, int y) const { return Shown().GetPixel(x, y); }
    int CountLit(int left, int top, int right, int bottom) const {
        int count = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                count += Pixel(x, y) != 0;
            }
        }
        return count;
    }

    ICQVCaptionRenderer renderer;
    TextLog log;
};

// The first cell of format 8 is (0, 0)-(40, 60); a normal glyph's em box starts at (2, 13).
constexpr int kGlyphCentreX = 2 + 18;
constexpr int kGlyphCentreY = 13 + 18;

TEST_F(CaptionRendererTest, ColoursOfForegroundAndBackground) {
    {
        // Black text on white: the text is (1, 1, 1), not the transparent key.
        Body body;
        body.Control({0x80}).Control({0x90, 0x57}).Text(u"■");
        Show(body);
        EXPECT_EQ(Pixel(kGlyphCentreX, kGlyphCentreY), 0x010101u);
        EXPECT_EQ(Pixel(1, 1), kWhite);
    }
    {
        // A transparent background leaves pure black around the glyph.
        Body body;
        body.Control({0x90, 0x58}).Text(u"■");
        Show(body);
        EXPECT_EQ(Pixel(kGlyphCentreX, kGlyphCentreY), kWhite);
        EXPECT_EQ(Pixel(1, 1), 0u);
        EXPECT_EQ(Pixel(39, 59), 0u);
    }
    {
        // Half-transparent background (entry 72): diagonal stripes two pixels wide.
        Body body;
        body.Control({0x90, 0x20, 0x44}).Control({0x90, 0x58}).Text(u"■");
        Show(body);
        const ICAribColor colour = ICAribColorTable::Get(72);
        const uint32_t stripe = GdiColor{colour.red, colour.green, colour.blue}.ToPixel();
        const uint8_t rows[4] = {0xCC, 0x66, 0x33, 0x99};
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                const bool set = (rows[y & 3] >> (7 - x)) & 1;
                EXPECT_EQ(Pixel(x, y), set ? stripe : 0u) << x << "," << y;
            }
        }
    }
}

TEST_F(CaptionRendererTest, SizeControlsScaleCellsAndGlyphs) {
    Body body;
    body.Control({0x90, 0x58}).Control({0x89}).Text(u"■■");
    Show(body);
    // MSZ with font 36 x 36 and spacing 4: 18 x 36 characters in 20 x 60 cells.
    EXPECT_EQ(renderer.GetPage().charWidth, 18);
    EXPECT_EQ(renderer.GetPage().cellWidth, 20);
    EXPECT_EQ(renderer.GetPage().cursorX, 40);
    EXPECT_NE(Pixel(10, kGlyphCentreY), 0u);
    EXPECT_EQ(Pixel(19, kGlyphCentreY), 0u);  // beyond the 18-pixel character, from x = 1
    EXPECT_NE(Pixel(30, kGlyphCentreY), 0u);

    Body twice;
    twice.Control({0x90, 0x58}).Control({0x8B, 0x45}).Text(u"■");
    Show(twice);
    EXPECT_EQ(renderer.GetPage().cellWidth, 80);
    EXPECT_EQ(renderer.GetPage().cellHeight, 120);
    EXPECT_EQ(renderer.GetPage().charHeight, 72);
    // The cursor stays on the first row's bottom (y = 60): the glyph starts at (4, -23) and
    // is 72 high.
    EXPECT_NE(Pixel(40, 20), 0u);
    EXPECT_NE(Pixel(60, 20), 0u);
    EXPECT_EQ(Pixel(40, 55), 0u);
}

TEST_F(CaptionRendererTest, UnderlineAndEnclosureLines) {
    Body body;
    body.Control({0x90, 0x58}).Control({0x9A}).Text(u" ").Control({0x99, 0x97, 0x4E}).Text(u" ");
    Show(body);
    // Underline of the first cell: y = 59 from x = 0 to 39.
    EXPECT_EQ(CountLit(0, 59, 40, 60), 40);
    EXPECT_EQ(CountLit(0, 0, 40, 59), 0);
    // The second cell (40..80) has right, top and left lines but no bottom one.
    EXPECT_EQ(Pixel(79, 30), kWhite);
    EXPECT_EQ(Pixel(60, 1), kWhite);
    EXPECT_EQ(Pixel(40, 30), kWhite);
    EXPECT_EQ(Pixel(60, 59), 0u);
}

TEST_F(CaptionRendererTest, AdditionalSymbolIsDrawnWithAFallbackFont) {
    Body body;
    body.Control({0x90, 0x58}).Text(u"\U0001F211");  // [字]
    Show(body);
    ASSERT_EQ(log.Texts().size(), 1u);
    EXPECT_GE(log.Texts()[0][0], 0xE000);  // the text keeps the private-use code
    EXPECT_GT(CountLit(0, 0, 40, 60), 50);
}

TEST_F(CaptionRendererTest, PageIsClearedByCSAndByAGroupChange) {
    Body text;
    text.Text(u"■");
    Show(text);
    EXPECT_GT(CountLit(0, 0, 40, 60), 0);

    Body clear;
    clear.Control({0x0C});
    Show(clear);
    EXPECT_EQ(CountLit(0, 0, 960, 540), 0);
    // A statement of only CS: one "\f", no text.
    ASSERT_EQ(log.Texts().size(), 2u);
    EXPECT_EQ(log.Texts()[1], u"\f");

    Body again;
    again.Text(u"■");
    Show(again);
    Feed(ManagementGroup(0x00, {{}}));  // the same set: nothing cleared
    EXPECT_EQ(log.Texts().size(), 3u);
    Feed(ManagementGroup(0x20, {{}}));  // set B
    EXPECT_EQ(CountLit(0, 0, 960, 540), 0);
    EXPECT_EQ(log.Texts().back(), u"\f");
    // Statements of set A are not decoded any more; those of set B are.
    Body late;
    late.Text(u"A");
    Feed(BodyGroup(0x01, late.Take()));
    EXPECT_EQ(log.Texts().size(), 4u);
    Body ours;
    ours.Text(u"B");
    Feed(BodyGroup(0x21, ours.Take()));
    ASSERT_EQ(log.Texts().size(), 5u);
    EXPECT_NE(log.Texts().back(), u"\f");
}

TEST_F(CaptionRendererTest, PagesGoToTheMixerBitmapUntilHidden) {
    auto* mixer = new RecordingMixer();
    mixer->NonDelegatingAddRef();
    renderer.SetVideoRenderer(static_cast<IVMRMixerBitmap9*>(mixer));
    EXPECT_EQ(renderer.GetMixerKind(), 9);
    renderer.SetDisplayFormat(10);  // 720 x 480
    renderer.Present();
    std::vector<VMR9AlphaBitmap> calls = mixer->Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].dwFlags, VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey);
    EXPECT_EQ(calls[0].hdc, renderer.GetShownSurface());
    EXPECT_EQ(calls[0].rSrc.right, 720);
    EXPECT_EQ(calls[0].rSrc.bottom, 480);
    EXPECT_EQ(calls[0].rDest.right, 1.0F);
    EXPECT_EQ(calls[0].clrSrcKey, 0u);

    // Hiding disables the bitmap once; pages presented while hidden are not shown.
    renderer.SetVisible(false);
    Body body;
    body.Text(u"字幕");
    Show(body);
    calls = mixer->Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].dwFlags, VMR9AlphaBitmap_Disable);
    EXPECT_FALSE(log.Texts().empty());
    renderer.SetVisible(true);
    Show(body);
    EXPECT_EQ(mixer->Calls().size(), 3u);
    renderer.SetVideoRenderer(nullptr);
    mixer->NonDelegatingRelease();
}

TEST_F(CaptionRendererTest, LanguageSelection) {
    const LanguageEntry japanese{0, "jpn", 8};
    const LanguageEntry english{1, "eng", 8};
    const uint32_t code = 'E' | 'N' << 8 | 'G' << 16;
    EXPECT_EQ(renderer.SelectLanguageByCode(&code), S_OK);
    Feed(ManagementGroup(0x00, {japanese, english}));
    EXPECT_EQ(renderer.GetSelectedIndex(), 1);
    EXPECT_EQ(renderer.GetLanguageCount(), 2);

    Body first;
    first.Text(u"x");
    Feed(BodyGroup(0x01, first.Take()));
    EXPECT_TRUE(log.Texts().empty());
    Body second;
    second.Text(u"y");
    Feed(BodyGroup(0x02, second.Take()));
    ASSERT_EQ(log.Texts().size(), 1u);

    // A code whose fourth byte is not zero is refused, but selection by code is on all the same.
    renderer.SelectLanguageByIndex(0);
    const uint32_t bad = 'j' | 'p' << 8 | 'n' << 16 | 'x' << 24;
    EXPECT_EQ(renderer.SelectLanguageByCode(&bad), E_INVALIDARG);
    Feed(ManagementGroup(0x00, {english, japanese}));
    EXPECT_EQ(renderer.GetSelectedIndex(), 0);
    EXPECT_EQ(renderer.SelectLanguageByIndex(8), E_INVALIDARG);
}

TEST_F(CaptionRendererTest, CursorWrapsAndFormatsSwitch) {
    Body body;
    // A 2 x 2 cell display area; APS to row 1, column 1 (the last cell), then APF.
    body.Csi({80, 120}, 0x56).Csi({0, 0}, 0x5F).Control({0x1C, 0x41, 0x41});
    Show(body);
    EXPECT_EQ(renderer.GetPage().cursorX, 40);
    EXPECT_EQ(renderer.GetPage().cursorY, 120);

    Body wrap;
    wrap.Csi({80, 120}, 0x56).Csi({0, 0}, 0x5F).Control({0x1C, 0x41, 0x41}).Control({0x09});
    Show(wrap);
    EXPECT_EQ(renderer.GetPage().cursorX, 0);
    EXPECT_EQ(renderer.GetPage().cursorY, 60);

    renderer.SetDisplayFormat(10);
    EXPECT_EQ(renderer.GetPage().formatWidth, 720);
    Body two;
    two.Csi({7, 0}, 0x53);
    // SWF with two parameters changes nothing; with one it selects format P1 + 1.
    Bytes twoBytes = two.Take();
    renderer.SetDisplayFormat(10);
    ICCaptionPacket* packet = MakePacket(BodyGroup(0x01, twoBytes));
    renderer.ProcessDataGroup(packet);
    packet->Release();
    Body one;
    one.Csi({9}, 0x53);
    Show(one);
    EXPECT_EQ(renderer.GetPage().formatWidth, 720);
    EXPECT_EQ(renderer.GetPage().horizontalSpacing, 4);
    Body seven;
    seven.Csi({9}, 0x53).Csi({7}, 0x53);
    Show(seven);
    EXPECT_EQ(renderer.GetPage().formatWidth, 960);
    EXPECT_EQ(renderer.GetPage().verticalSpacing, 24);
}

TEST_F(CaptionRendererTest, OneByteDRCSIsLookedUpAndDrawnInTheForeground) {
    // Character 0x4121 (DRCS-1, byte 0x21): 36 x 36, depth 2, the left half set.
    streamkit::ByteWriter drcs;
    drcs.U8(1).U16(0x4121).U8(1).U8(0x01).U8(2).U8(36).U8(36);
    for (int row = 0; row < 36; ++row) {
        drcs.Fill(0xFF, 4).U8(0xF0).Fill(0x00, 4);
    }
    Body body;
    // ESC ) SP A designates DRCS-1 to G1; LS1 invokes it; then the byte 0x21.
    body.Control({0x90, 0x58, 0x82, 0x1B, 0x29, 0x20, 0x41, 0x0E, 0x21});
    Feed(StatementGroup(0x01, {Unit(kDRCS1Byte, drcs.Data()), Unit(kStatementBody, body.Take())}));
    const uint32_t green = 0x00FF00;
    EXPECT_EQ(Pixel(2 + 5, 13 + 18), green);
    EXPECT_EQ(Pixel(2 + 30, 13 + 18), 0u);
    EXPECT_EQ(renderer.GetPage().cursorX, 40);
    EXPECT_TRUE(log.Texts().empty());  // a downloaded glyph has no text
}

TEST_F(CaptionRendererTest, FaceNamesInEitherEncodingAreKeptToThirtyOneBytes) {
    const std::string utf8 = "和田研中丸ゴシック2004絵文字";
    const std::string cp932 = Utf16ToCp932(Utf8ToUtf16(utf8));
    ASSERT_EQ(cp932.size(), 28u);
    EXPECT_EQ(renderer.SetFontName(cp932.c_str()), S_OK);
    EXPECT_EQ(renderer.GetFaceName(), utf8);
    EXPECT_EQ(renderer.SetFontName(utf8.c_str()), S_OK);
    EXPECT_EQ(renderer.GetFaceName(), utf8);
    renderer.SetFontName("漢字漢字漢字漢字漢字漢字漢字漢字");  // 32 bytes in code page 932
    EXPECT_EQ(renderer.GetFaceName(), "漢字漢字漢字漢字漢字漢字漢字漢");
}

TEST_F(CaptionRendererTest, TimeWaitShowsWhatWasDrawnAndMovesTheTimeOn) {
    struct Presents : ICCaptionPageObserver {
        void OnCell(const Cell&) override {}
        void OnClear(REFERENCE_TIME) override {}
        void OnPresent(REFERENCE_TIME time, const GdiSurface& surface) override {
            times.push_back(time);
            lit.push_back(surface.GetPixel(kGlyphCentreX, kGlyphCentreY) != 0);
        }
        std::vector<REFERENCE_TIME> times;
        std::vector<bool> lit;
    } presents;
    renderer.SetPageObserver(&presents);
    renderer.SetRealTimeWaits(false);
    Body body;
    body.Text(u"■").Control({0x9D, 0x20, 0x45}).Text(u"■");  // TIME: wait 0.5 s
    Show(body);
    ASSERT_EQ(presents.times.size(), 2u);
    EXPECT_EQ(presents.times[1] - presents.times[0], 500 * kUnitsPerMillisecond);
    // The first character stays on the page after the wait.
    EXPECT_TRUE(presents.lit[0]);
    EXPECT_TRUE(presents.lit[1]);
    renderer.SetPageObserver(nullptr);
}

TEST_F(CaptionRendererTest, CharacterReplacement) {
    const char16_t pairs[] = {u'～', u'〜'};
    renderer.SetCharReplacement(pairs, 1, true);
    Body kept;
    kept.Text(u"～");
    Show(kept);
    EXPECT_EQ(log.Texts().back(), u"～");
    renderer.SetCharReplacement(pairs, 1, false);
    Body replaced;
    replaced.Text(u"～");
    Show(replaced);
    EXPECT_EQ(log.Texts().back(), u"〜");
    renderer.SetCharReplacement(nullptr, 0, false);
    Body plain;
    plain.Text(u"～");
    Show(plain);
    EXPECT_EQ(log.Texts().back(), u"～");
}

}  // namespace
