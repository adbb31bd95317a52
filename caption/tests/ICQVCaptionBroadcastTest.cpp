// The caption renderer on a real broadcast's captions: a downloaded character is decoded as the
// independent decoder's dump shows it and drawn as its pattern in the foreground colour.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "caption/ICDRCSData.h"
#include "caption/ICQVCaptionRenderer.h"
#include "caption/tests/CaptionTestSupport.h"

namespace {

using namespace captiontest;

// Remembers where the last downloaded character was drawn.
struct DRCSCellLog : ICCaptionPageObserver {
    void OnCell(const Cell& cell) override {
        if (cell.drcs) {
            last = cell;
            seen = true;
        }
    }
    void OnClear(REFERENCE_TIME) override {}
    void OnPresent(REFERENCE_TIME, const GdiSurface&) override {}
    Cell last;
    bool seen = false;
};

// The first pattern the dump beside the stream shows: one text row per pixel row, a full
// block for a set pixel.
std::vector<std::u32string> DumpedPattern(const std::filesystem::path& dump) {
    std::ifstream in(dump);
    std::string line;
    std::vector<std::u32string> rows;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind("<DRCS set=", 0) == 0) {
            inside = true;
            continue;
        }
        if (!inside) {
            continue;
        }
        if (line.rfind("</DRCS>", 0) == 0) {
            break;
        }
        std::u32string row;
        for (size_t i = 0; i < line.size();) {
            const bool block = line.compare(i, 3, "\xE2\x96\x88") == 0;
            row.push_back(block ? U'#' : U'.');
            i += block ? 3 : 1;
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(CaptionBroadcastTest, DownloadedCharacterOfARealStream) {
    const std::filesystem::path stream = SharedCaptionFile("detective_conan_846.es");
    if (stream.empty()) {
        GTEST_SKIP() << "the shared caption streams are not here";
    }
    const std::vector<std::u32string> expected = DumpedPattern(stream.string() + ".txt");
    ASSERT_FALSE(expected.empty());

    ICQVCaptionRenderer renderer;
    renderer.CreateSurfaces();
    renderer.SetRealTimeWaits(false);
    DRCSCellLog cells;
    renderer.SetPageObserver(&cells);
    for (const Bytes& group : SplitDataGroups(ReadFile(stream))) {
        ICCaptionPacket* packet = MakePacket(group);
        renderer.ProcessDataGroup(packet);
        packet->Release();
        if (cells.seen) {
            break;
        }
    }
    ASSERT_TRUE(cells.seen);
    const ICDRCSData* data = renderer.GetDRCS(0);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->fonts.size(), 1u);
    const ICDRCSData::Font& font = data->fonts[0];
    ASSERT_EQ(font.height, static_cast<int32_t>(expected.size()));

    // Normal size and a 36 x 36 font: the pattern is drawn pixel for pixel.
    ASSERT_EQ(cells.last.sizeMode, ICQVCaptionRenderer::kSizeNormal);
    const int x0 = cells.last.x + renderer.GetPage().horizontalSpacing / 2;
    const int y0 = cells.last.y - cells.last.height + renderer.GetPage().verticalSpacing / 2 + 1;
    const ICAribColor fg = cells.last.foreground;
    const uint32_t foreground = GdiColor{fg.red, fg.green, fg.blue}.ToPixel();
    int mismatches = 0;
    for (int y = 0; y < font.height; ++y) {
        ASSERT_EQ(static_cast<int32_t>(expected[y].size()), font.width);
        for (int x = 0; x < font.width; ++x) {
            const bool set = expected[y][x] == U'#';
            const uint32_t pixel = renderer.GetShownSurface()->GetPixel(x0 + x, y0 + y);
            mismatches += set != (pixel == foreground);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
