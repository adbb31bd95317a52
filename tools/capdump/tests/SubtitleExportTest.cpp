// The subtitle writers and the cue recorder on pages made up cell by cell.

#include <gtest/gtest.h>

#include "platform/gdi/GdiSurface.h"
#include "tools/capdump/SubtitleExport.h"

namespace capdump {
namespace {

using Cell = ICCaptionPageObserver::Cell;

constexpr ICAribColor kWhite{255, 255, 255, 255};
constexpr ICAribColor kYellow{255, 255, 0, 255};
constexpr ICAribColor kDarkCyan{0, 170, 170, 255};
constexpr REFERENCE_TIME kSecond = kUnitsPerSecond;

// The cells of `text` from (x, bottom) on, one 40 x 60 normal-size cell per character.
std::vector<Cell> Cells(std::u16string_view text, int x, int bottom, ICAribColor color = kWhite,
                        int sizeMode = 0) {
    std::vector<Cell> cells;
    for (char16_t c : text) {
        cells.push_back({std::u16string(1, c), x, bottom, 40, 60, sizeMode, color, {}, false});
        x += 40;
    }
    return cells;
}

std::vector<Cell> Join(std::vector<Cell> a, const std::vector<Cell>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A presented page of `cells` at `time`.
void Present(CueRecorder& recorder, REFERENCE_TIME time, const std::vector<Cell>& cells) {
    static const GdiSurface surface(1, 1);
    for (const Cell& cell : cells) {
        recorder.OnCell(cell);
    }
    recorder.OnPresent(time, surface);
}

TEST(SubtitleRows, CellsGroupByBottomEdgeTopToBottomAndSplitIntoSpansByStyle) {
    // Drawn bottom row first and right to left: the order of the rows comes from the page.
    std::vector<Cell> cells = Join(Cells(u"下段", 200, 480), Cells(u"うえ", 80, 420, kYellow));
    cells = Join(Cells(u"上の", 0, 420, kYellow), cells);
    cells = Join(cells, Cells(u"（中）", 100, 450, kWhite, 2));
    const std::vector<Row> rows = RowsFromCells(cells);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Text(), u"上のうえ");
    EXPECT_EQ(rows[0].left, 0);
    EXPECT_EQ(rows[0].spans.size(), 1u);  // one colour, one size
    EXPECT_EQ(rows[1].Text(), u"（中）");
    EXPECT_TRUE(rows[1].spans[0].halfWidth);
    EXPECT_EQ(rows[2].Text(), u"下段");
    EXPECT_EQ(rows[2].bottom, 480);
    EXPECT_EQ(rows[2].height, 60);
}

TEST(SubtitleRows, BlanksAtRowEndsDownloadedGlyphsAndEmptyRowsGoSymbolsBecomeUnicode) {
    std::vector<Cell> cells = Cells(u"\u3000 \uE0FE字幕 ", 0, 420);
    Cell drcs = cells[3];
    drcs.text.clear();
    drcs.drcs = true;
    drcs.y = 480;
    cells.push_back(drcs);
    cells = Join(cells, Cells(u"\u3000\u3000", 0, 540));
    const std::vector<Row> rows = RowsFromCells(cells);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Text(), u"\U0001F211字幕");
    EXPECT_EQ(rows[0].left, 80);  // where the first character that stays stands
}

TEST(CueRecorder, APageWithTextLastsUntilTheNextClearOrPresentedPage) {
    CueRecorder recorder;
    Present(recorder, 1 * kSecond, Cells(u"一", 0, 60));
    Present(recorder, 3 * kSecond, Cells(u"二", 0, 60));
    recorder.OnClear(4 * kSecond);
    Present(recorder, 6 * kSecond, {});  // an empty page ends nothing more and starts nothing
    recorder.OnCell(Cells(u"消える", 0, 60)[0]);
    recorder.OnClear(7 * kSecond);  // cells before a clear never show
    Present(recorder, 8 * kSecond, Cells(u"三", 0, 60));
    Present(recorder, 8 * kSecond, Cells(u"四", 0, 60));  // shown for no time: dropped
    recorder.OnFormat(720, 480);
    Present(recorder, 10 * kSecond, Cells(u"五", 0, 60));
    recorder.Finish(12 * kSecond);
    Present(recorder, 13 * kSecond, Cells(u"後", 0, 60));  // after the end: ignored

    const std::vector<Cue>& cues = recorder.GetCues();
    ASSERT_EQ(cues.size(), 4u);
    const std::pair<REFERENCE_TIME, REFERENCE_TIME> expected[] = {
        {1, 3}, {3, 4}, {8, 10}, {10, 12}};
    const char16_t* texts[] = {u"一", u"二", u"四", u"五"};
    for (size_t i = 0; i < cues.size(); ++i) {
        EXPECT_EQ(cues[i].start, expected[i].first * kSecond) << i;
        EXPECT_EQ(cues[i].end, expected[i].second * kSecond) << i;
        EXPECT_EQ(cues[i].rows[0].Text(), texts[i]) << i;
    }
    EXPECT_EQ(cues[3].formatWidth, 720);

    // Without a later stream end the last cue lasts the default time.
    CueRecorder last;
    Present(last, 2 * kSecond, Cells(u"終", 0, 60));
    last.Finish(2 * kSecond);
    ASSERT_EQ(last.GetCues().size(), 1u);
    EXPECT_EQ(last.GetCues()[0].end, 2 * kSecond + CueRecorder::kLastCueDuration);
}

// Two cues: two rows (white, then yellow in two sizes and dark cyan) and one row with characters
// each format must escape.
std::vector<Cue> SampleCues() {
    std::vector<Cell> cells = Join(Cells(u"字幕", 100, 420), Cells(u"黄", 200, 480, kYellow));
    cells =
        Join(Join(cells, Cells(u"色", 240, 480, kYellow, 2)), Cells(u"青", 280, 480, kDarkCyan));
    Cue first{kSecond + 2345, 3 * kSecond + 995'000, 960, 540, RowsFromCells(cells)};
    Cue second{3723 * kSecond, 3724 * kSecond, 720, 480,
               RowsFromCells(Cells(u"<a>&{\\b}", 0, 360))};
    return {first, second};
}

TEST(SubtitleWriters, SrtNumbersCuesAndKeepsTagsAndBracesFromBeingRead) {
    EXPECT_EQ(ToSrt(SampleCues()),
              "1\n00:00:01,000 --> 00:00:03,100\n字幕\n黄色青\n\n"
              "2\n01:02:03,000 --> 01:02:04,000\n＜a＞&｛\\b｝\n\n");
}

TEST(SubtitleWriters, AssPositionsAndColoursEachRowInTheWritingFormatsResolution) {
    const std::string ass = ToAss(SampleCues());
    EXPECT_NE(ass.find("PlayResX: 960\nPlayResY: 540\n"), std::string::npos);
    EXPECT_NE(ass.find("Dialogue: 0,0:00:01.00,0:00:03.10,Default,,0,0,0,,"
                       "{\\an1\\pos(100,408)}{\\c&HFFFFFF&\\fs36\\fscx100}字幕\n"),
              std::string::npos)
        << ass;
    EXPECT_NE(ass.find("{\\an1\\pos(200,468)}{\\c&H00FFFF&\\fs36\\fscx100}黄"
                       "{\\c&H00FFFF&\\fs36\\fscx50}色"
                       "{\\c&HAAAA00&\\fs36\\fscx100}青\n"),
              std::string::npos)
        << ass;
    // The 720 x 480 cue is scaled to the script's 960 x 540; braces and backslashes would open
    // override blocks.
    EXPECT_NE(ass.find("Dialogue: 0,1:02:03.00,1:02:04.00,Default,,0,0,0,,"
                       "{\\an1\\pos(0,392)}{\\c&HFFFFFF&\\fs41\\fscx100}<a>&｛＼b｝\n"),
              std::string::npos)
        << ass;
}

TEST(SubtitleWriters, VttPlacesOneCuePerRowWithColourClassesAndEntities) {
    const std::string vtt = ToVtt(SampleCues());
    EXPECT_EQ(vtt.rfind("WEBVTT\n\nSTYLE\n::cue(.black) { color: #000000; }\n", 0), 0u);
    EXPECT_NE(vtt.find("::cue(.yellow) { color: #FFFF00; }\n"), std::string::npos);
    EXPECT_NE(vtt.find("\n\n00:00:01.000 --> 00:00:03.100 position:10.42%,line-left align:left "
                       "line:77.78%,end\n<c.white>字幕</c>\n\n"
                       "00:00:01.000 --> 00:00:03.100 position:20.83%,line-left align:left "
                       "line:88.89%,end\n<c.yellow>黄色</c><c.cyan>青</c>\n\n"),
              std::string::npos)
        << vtt;
    EXPECT_NE(vtt.find("line:75.00%,end\n<c.white>&lt;a&gt;&amp;{\\b}</c>\n\n"), std::string::npos)
        << vtt;
}

}  // namespace
}  // namespace capdump
