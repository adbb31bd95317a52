// The guide's rules without its window: cells, colours, detail text, the time axis, the next
// update time, text folding and the search walk.

#include <gtest/gtest.h>

#include "app/stores/CSettings.h"
#include "app/ui/guide/GuideLayout.h"
#include "app/ui/guide/GuideSearch.h"
#include "app/ui/guide/GuideSweep.h"
#include "app/ui/guide/tests/GuideTestSupport.h"

using guidetest::AddChannel;
using guidetest::AddEvent;
using guidetest::At;

namespace {

class GuideRules : public ::testing::Test {
protected:
    // Thursday 10 December 2026, 20:00.
    TimeValue now = At(2026, 12, 10, 20);
    TimeValue base = At(2026, 12, 10);
    CEpgStore store{[this] { return now; }};
    CSettings settings;
};

TEST_F(GuideRules, CellsFollowTheGridGeometryAndTruncate) {
    CChannelInfo* channel = AddChannel(store, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
    CEventInfo* evening = AddEvent(store, *channel, 1, At(2026, 12, 10, 21, 30), 1800, u"夜");
    EXPECT_EQ(guide::CellOf(*evening, 3, base), (guide::CellRect{396, 3440, 528, 3520}));
    // 22.5 s per pixel: 10 s after midnight of the next day is still the day's first pixel row.
    CEventInfo* odd = AddEvent(store, *channel, 2, At(2026, 12, 11) + 10, 35, u"短");
    EXPECT_EQ(guide::CellOf(*odd, 0, base).top, 24 * 160);
    EXPECT_EQ(guide::CellOf(*odd, 0, base).bottom, 24 * 160 + 2);  // 45 s: 2 pixels
    EXPECT_EQ(guide::kGridHeight, 30721);
}

TEST_F(GuideRules, AnUndeterminedDurationEndsAtTheNextEventAndTheLastIsEmpty) {
    CChannelInfo* channel = AddChannel(store, CTuningSpace::kBS, 4, 101, u"BS");
    CEventInfo* open = AddEvent(store, *channel, 1, At(2026, 12, 10, 6), -1, u"未定");
    AddEvent(store, *channel, 2, At(2026, 12, 10, 7, 15), 600, u"次");
    CEventInfo* last = AddEvent(store, *channel, 3, At(2026, 12, 10, 9), -1, u"最後");
    EXPECT_EQ(guide::CellOf(*open, 0, base), (guide::CellRect{0, 960, 132, 1160}));
    EXPECT_TRUE(guide::CellOf(*last, 0, base).IsEmpty());
    EXPECT_EQ(guide::CellOf(*last, 0, base).top, 1440);
    // Undetermined durations never earn the ended mark; the colour end of the last is now.
    EXPECT_FALSE(guide::HasEndedAt(*open, At(2026, 12, 10, 8)));
    EXPECT_EQ(guide::ColourEnd(*last, now), now);
}

TEST_F(GuideRules, CellColoursFollowSelectionEndAndGenre) {
    CChannelInfo* channel = AddChannel(store, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
    CEventInfo* drama = AddEvent(store, *channel, 1, At(2026, 12, 10, 9), 3600, u"劇", {}, 0x3000);
    CEventInfo* plain = AddEvent(store, *channel, 2, At(2026, 12, 10, 21), 3600, u"無");
    settings.genreColors[3] = 0x102030;  // 0x00BBGGRR
    EXPECT_TRUE(guide::HasEndedAt(*drama, now));
    EXPECT_FALSE(guide::HasEndedAt(*plain, now));
    EXPECT_EQ(guide::CellColor(*drama, settings, true, true, false), guide::kSelectedColor);
    EXPECT_EQ(guide::CellColor(*drama, settings, false, true, false), guide::kEndedColor);
    EXPECT_EQ(guide::CellColor(*drama, settings, false, true, true), 0x302010u);
    EXPECT_EQ(guide::CellColor(*drama, settings, false, false, false), 0x302010u);
    EXPECT_EQ(guide::CellColor(*plain, settings, false, false, false),
              guide::FromBgr(settings.genreColors[15]));
    // B + 2G + 2R below 300 gives white text.
    EXPECT_EQ(guide::TextColorOn(0x302010), 0xFFFFFFu);
    EXPECT_EQ(guide::TextColorOn(0x000000 | 100 << 8 | 100), 0x000000u);  // 100 + 200 = 300
    EXPECT_EQ(guide::TextColorOn(guide::kSelectedColor), 0x000000u);
}

TEST_F(GuideRules, DetailTextShowsFormatsAndTimeRange) {
    CChannelInfo* channel = AddChannel(store, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
    CEventInfo* news =
        AddEvent(store, *channel, 1, At(2026, 12, 10, 21, 30), 1800, u"ニュース", u"今日の出来事");
    EXPECT_EQ(guide::DetailText(*news),
              u"ニュース\n\n今日の出来事\n\n1080i 16:9   Stereo \n\n12/10 21:30 ～ 22:00");
    CEventInfo* open = AddEvent(store, *channel, 2, At(2026, 12, 10, 22, 5), -1, u"延長");
    EXPECT_EQ(guide::TimeRange(*open), u"12/10 22:05 ～      ");
    CEventInfo* early = AddEvent(store, *channel, 3, At(2026, 1, 2, 3, 4), 60, u"早");
    EXPECT_EQ(guide::TimeRange(*early), u" 1/ 2 03:04 ～ 03:05");
    early->videoType = 0xE3;
    early->audioType = 4;
    EXPECT_EQ(guide::DetailText(*early), u"早\n\n\n\n      16:9\n\n 1/ 2 03:04 ～ 03:05");
}

TEST_F(GuideRules, TimeAxisLabelsTheFirstHourOfEachDayWithItsDate) {
    EXPECT_EQ(guide::HourLabel(base, 0), u"12/10\n(木)\n\n0時");
    EXPECT_EQ(guide::HourLabel(base, 23), u"23時");
    EXPECT_EQ(guide::HourLabel(base, 24 * 3), u"12/13\n(日)\n\n0時");
    EXPECT_EQ(guide::HourLabel(base, 24 * 7 + 1), u"1時");
    EXPECT_EQ(guide::DayStart(now), base);
}

TEST_F(GuideRules, NextUpdateIsTwelveHoursLaterButOneOClockOnAnotherDay) {
    EXPECT_EQ(guide::NextUpdateTime(At(2026, 12, 10, 20)), At(2026, 12, 11, 1));
    EXPECT_EQ(guide::NextUpdateTime(At(2026, 12, 10, 1)), At(2026, 12, 10, 13));
    EXPECT_EQ(guide::NextUpdateTime(At(2026, 12, 10, 13, 10)), At(2026, 12, 11, 1));
    EXPECT_EQ(guide::NextUpdateTime(At(2026, 12, 31, 12, 45)), At(2027, 1, 1, 0));
}

TEST(GuideTextFolding, IgnoresAsciiCaseAndFullAndHalfWidthForms) {
    EXPECT_EQ(guide::FoldForSearch(u"ＺＥＲＯ ｶﾞﾝﾀﾞﾑ"), u"zero ガンダム");
    const guide::FoldedKeyword zero(u"ZERO");
    EXPECT_TRUE(zero.IsFoundIn(u"新番組ＺＥＲＯの挑戦"));
    EXPECT_TRUE(zero.IsFoundIn(u"project zero"));
    EXPECT_FALSE(zero.IsFoundIn(u"ZER0"));
    EXPECT_TRUE(guide::FoldedKeyword(u"ｶﾞ").IsFoundIn(u"ガイド"));
    EXPECT_TRUE(guide::FoldedKeyword(u"ガ").IsFoundIn(u"ｶﾞｲﾄﾞ"));
    EXPECT_FALSE(guide::FoldedKeyword(u"ガ").IsFoundIn(u"ｶｲﾄﾞ"));
    // Decomposed voiced marks compose like the precomposed letter; only ASCII case is folded.
    EXPECT_TRUE(guide::FoldedKeyword(u"ガ").IsFoundIn(u"カ\u3099イド"));
    EXPECT_FALSE(guide::FoldedKeyword(u"ä").IsFoundIn(u"Ä"));
    EXPECT_TRUE(guide::FoldedKeyword(u"").IsFoundIn(u"何でも"));
}

class GuideSearchWalk : public GuideRules {
protected:
    void SetUp() override {
        first = AddChannel(store, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
        second = AddChannel(store, CTuningSpace::kTerrestrial, 0x7FE1, 0x408, u"二");
        yesterday = AddEvent(store, *first, 1, At(2026, 12, 9, 21), 3600, u"Zero 昨日");
        news =
            AddEvent(store, *first, 2, At(2026, 12, 10, 21), 3600, u"ニュース", u"ｽﾎﾟｰﾂ", 0x0100);
        film =
            AddEvent(store, *second, 1, At(2026, 12, 10, 20), 3600, u"ＺＥＲＯの映画", {}, 0x6000);
        sport =
            AddEvent(store, *second, 2, At(2026, 12, 11, 20), 3600, u"スポーツ中継", {}, 0x1000);
        space = store.SpaceOfType(CTuningSpace::kTerrestrial);
    }

    CChannelInfo* first = nullptr;
    CChannelInfo* second = nullptr;
    CEventInfo* yesterday = nullptr;
    CEventInfo* news = nullptr;
    CEventInfo* film = nullptr;
    CEventInfo* sport = nullptr;
    CTuningSpace* space = nullptr;
    guide::EpgSearch search;
};

TEST_F(GuideSearchWalk, WalksChannelsInOrderFromThePositionAndStartsOverWhenExhausted) {
    constexpr int kAll = guide::EpgSearch::kAll;
    // Title first, else text; events before base time are skipped.
    EXPECT_EQ(search.FindNext(*space, u"スポーツ", kAll, kAll, base), news);
    EXPECT_EQ(search.FindNext(*space, u"スポーツ", kAll, kAll, base), sport);
    EXPECT_EQ(search.FindNext(*space, u"スポーツ", kAll, kAll, base), nullptr);
    EXPECT_EQ(search.GetPosition().channel, 0);
    EXPECT_EQ(search.FindNext(*space, u"スポーツ", kAll, kAll, base), news);
    // Case and width: "zero" finds "ＺＥＲＯ"; yesterday's "Zero" is before base time.
    EXPECT_EQ(search.FindNext(*space, u"zero", kAll, kAll, base), film);
    EXPECT_EQ(search.FindNext(*space, u"zero", kAll, kAll, base), nullptr);
    EXPECT_EQ(search.FindNext(*space, u"zero", kAll, kAll, At(2026, 12, 9)), yesterday);
}

TEST_F(GuideSearchWalk, ChannelAndGenreFiltersNarrowTheWalk) {
    constexpr int kAll = guide::EpgSearch::kAll;
    // Genre 1 (sports) is on the second channel; any of the genre values counts.
    EXPECT_EQ(search.FindNext(*space, u"", kAll, 1, base), sport);
    news->genres[1] = 0x1000;
    news->genreCount = 2;
    EXPECT_EQ(search.FindNext(*space, u"", kAll, 1, base), nullptr);
    EXPECT_EQ(search.FindNext(*space, u"", kAll, 1, base), news);
    // A channel filter moves the position to that channel and wraps within it.
    EXPECT_EQ(search.FindNext(*space, u"", 1, kAll, base), film);
    EXPECT_EQ(search.FindNext(*space, u"", 1, kAll, base), sport);
    EXPECT_EQ(search.FindNext(*space, u"", 1, kAll, base), nullptr);
    EXPECT_EQ(search.GetPosition().channel, 1);
    EXPECT_EQ(search.FindNext(*space, u"", 1, kAll, base), film);
    // Another space starts over at its first channel.
    AddChannel(store, CTuningSpace::kBS, 4, 101, u"BS");
    search.UseSpace(store.SpaceOfType(CTuningSpace::kBS));
    EXPECT_EQ(search.GetPosition().channel, 0);
    EXPECT_EQ(search.FindNext(*space, u"ニュース", kAll, kAll, base), news);
}

// The sweep, with viewers that only record what they were asked.
class GuideSweepParts : public GuideRules {
protected:
    void SetUp() override {
        uhf1 = AddChannel(store, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
        uhf1b = AddChannel(store, CTuningSpace::kTerrestrial, 0x7FE0, 0x401, u"一の二");
        uhf2 = AddChannel(store, CTuningSpace::kTerrestrial, 0x7FE1, 0x408, u"二");
        bs = AddChannel(store, CTuningSpace::kBS, 4, 101, u"BS");
        cs = AddChannel(store, CTuningSpace::kCS, 6, 201, u"CS");
        sweep.openViewer = [this](CChannelInfo& channel) {
            if (busy) {
                return int(guide::EpgSweep::kNoViewer);
            }
            tuned.push_back(&channel);
            return int(tuned.size() - 1) + 10;
        };
        sweep.retuneViewer = [this](int, CChannelInfo& channel) {
            tuned.push_back(&channel);
            return true;
        };
        sweep.closeViewer = [this](int viewer) { closed.push_back(viewer); };
    }

    guide::EpgSweep sweep{store};
    bool busy = false;
    std::vector<CChannelInfo*> tuned;
    std::vector<int> closed;
    CChannelInfo *uhf1 = nullptr, *uhf1b = nullptr, *uhf2 = nullptr, *bs = nullptr, *cs = nullptr;
};

TEST_F(GuideSweepParts, EachPartVisitsEveryStreamOnceAndEndsAtItsStart) {
    ASSERT_TRUE(sweep.Start(now));
    EXPECT_EQ(sweep.nextUpdateTime, At(2026, 12, 11, 1));
    ASSERT_EQ(tuned, (std::vector<CChannelInfo*>{uhf1, bs}));
    // The terrestrial viewer skips the first stream's second service.
    sweep.Step(10);
    EXPECT_EQ(tuned.back(), uhf2);
    EXPECT_EQ(sweep.Progress(), 2 * 100 / 5);
    // BS crosses into CS, then back to its start: that part ends.
    sweep.Step(11);
    EXPECT_EQ(tuned.back(), cs);
    sweep.Step(11);
    EXPECT_EQ(closed, std::vector<int>{11});
    EXPECT_TRUE(sweep.IsRunning());
    sweep.Step(10);
    EXPECT_EQ(closed, (std::vector<int>{11, 10}));
    EXPECT_FALSE(sweep.IsRunning());
    EXPECT_EQ(sweep.Cursor(guide::EpgSweep::kTerrestrialPart), uhf1);
}

TEST_F(GuideSweepParts, NoFreeTunerMeansNoSweep) {
    busy = true;
    EXPECT_FALSE(sweep.Start(now));
    EXPECT_FALSE(sweep.IsRunning());
    busy = false;
    ASSERT_TRUE(sweep.Start(now));
    sweep.retuneViewer = [](int, CChannelInfo&) { return false; };
    sweep.Step(10);
    sweep.Step(11);
    EXPECT_FALSE(sweep.IsRunning());
    EXPECT_EQ(closed, (std::vector<int>{10, 11}));
    // A channel scan rebuilds the index under a running sweep: its cursors are gone.
    ASSERT_TRUE(sweep.Start(now));
    store.RebuildEpgIndex(COwnedList<CTuner>());
    sweep.Step(12);
    sweep.Step(13);
    EXPECT_FALSE(sweep.IsRunning());
    EXPECT_EQ(closed, (std::vector<int>{10, 11, 12, 13}));
}

}  // namespace
