// A built graph playing: the streams chosen from the PAT and PMT of a simulated broadcast,
// outputs switched off and on, the reception watchdog on a stalled tuner, a file played to
// its end and seeked, and the read-out texts.
#include "app/engine/tests/EngineTestSupport.h"

namespace enginetest {
namespace {

using std::chrono::seconds;

class CViewerGraphPlaybackTest : public ::testing::Test {
protected:
    CViewerGraphPlaybackTest() : graph(host) { graph.videoWindow = &surface; }

    bool RunUntil(const std::function<bool()>& done, int timeoutSeconds = 20) {
        return host.ui.RunUntil(done, seconds(timeoutSeconds));
    }

    TestHost host;
    FakeSurface surface{960, 540};
    CViewerGraph graph;
};

// A terrestrial channel stored with service_id 0 plays the broadcaster's first service; until
// its PMT arrives, no stream passes the analyzer.
TEST_F(CViewerGraphPlaybackTest, TuneSelectsTheStreamsOnlyOnceThePmtArrives) {
    CTuner* tuner = AddBonDriverTuner(host, ORV_DEMO_BONDRIVER, 0, 0);
    ASSERT_EQ(graph.Build(tuner, ICWString()), S_OK) << graph.errorText.GetText();
    ASSERT_EQ(graph.Tune(tuner->currentChannel), S_OK);
    IQVSIAnalyzer* analyzer = graph.Analyzer();
    EXPECT_EQ(analyzer->GetVideoPID(), 0xFFFFu);
    EXPECT_EQ(analyzer->GetAudioPID(), 0xFFFFu);
    EXPECT_EQ(analyzer->GetCaptionPID(), 0xFFFFu);
    EXPECT_EQ(analyzer->GetPCRPID(), 0xFFFFu);
    EXPECT_EQ(graph.NotifyMask(), CViewerGraph::kNotifyMask);

    ASSERT_EQ(graph.RunGraph(), S_OK);
    ASSERT_TRUE(RunUntil([&] { return graph.CaptionPid() != 0 && graph.AudioPid() != 0; }));
    EXPECT_EQ(graph.ServiceId(), kSimFirstService);
    EXPECT_NE(graph.VideoPid(), 0);
    EXPECT_EQ(analyzer->GetVideoPID(), graph.VideoPid());
    EXPECT_EQ(analyzer->GetAudioPID(), graph.AudioPid());
    EXPECT_EQ(analyzer->GetCaptionPID(), graph.CaptionPid());
    EXPECT_EQ(analyzer->GetPCRPID(), graph.PcrPid());

    // The SDT names the service and gives the network; the channel learns its logo.
    ASSERT_TRUE(RunUntil([&] { return !graph.ServiceName().IsEmpty(); }));
    EXPECT_EQ(graph.NetworkId(), kSimTransportStreamId);
    EXPECT_EQ(graph.ServiceName().GetView(), std::u16string_view(u"みなと放送１"));
    EXPECT_EQ(tuner->currentChannel->logoId, 1);
    EXPECT_TRUE(host.tuners.channelsDirty);
    graph.StopGraph();
    EXPECT_FALSE(graph.IsRunning());
}

TEST_F(CViewerGraphPlaybackTest, OutputsOffKeepTheChosenPidsUntilSwitchedOn) {
    CTuner* tuner = AddBonDriverTuner(host, ORV_DEMO_BONDRIVER, 0, kSimFirstService);
    ASSERT_EQ(graph.Build(tuner, ICWString()), S_OK);
    ASSERT_EQ(graph.Tune(tuner->currentChannel), S_OK);
    graph.SetOutputsEnabled(false);
    ASSERT_EQ(graph.RunGraph(), S_OK);
    ASSERT_TRUE(RunUntil([&] { return graph.CaptionPid() != 0 && graph.AudioPid() != 0; }));
    IQVSIAnalyzer* analyzer = graph.Analyzer();
    EXPECT_EQ(analyzer->GetVideoPID(), 0xFFFFu);
    EXPECT_EQ(analyzer->GetAudioPID(), 0xFFFFu);
    EXPECT_EQ(analyzer->GetCaptionPID(), 0xFFFFu);
    graph.SetOutputsEnabled(true);
    EXPECT_EQ(analyzer->GetVideoPID(), graph.VideoPid());
    EXPECT_EQ(analyzer->GetAudioPID(), graph.AudioPid());
    EXPECT_EQ(analyzer->GetCaptionPID(), graph.CaptionPid());
    graph.SetOutputsEnabled(false);
    EXPECT_EQ(analyzer->GetVideoPID(), 0xFFFFu);
    EXPECT_TRUE(graph.AreOutputsOff());
}

// A tuner that delivers nothing: three seconds after the tune a ten-second window watches the
// bit rate; two zero seconds re-tune the first time, four after that, three re-tunes at most.
TEST_F(CViewerGraphPlaybackTest, StalledTunerIsRetunedAfterTwoThenFourZeroSecondsThreeTimes) {
    // The test driver has no channel 7: its tuner never delivers.
    CTuner* tuner = AddBonDriverTuner(host, ORV_TEST_BONDRIVER, 7, kSimFirstService);
    uint32_t now = 1000;
    graph.SetTickSource([&] { return now; });
    ASSERT_EQ(graph.Build(tuner, ICWString()), S_OK);
    EXPECT_EQ(graph.Tune(tuner->currentChannel), E_FAIL);
    ASSERT_EQ(graph.RunGraph(), S_OK);
    const auto advanceTo = [&](uint32_t milliseconds) {
        while (now < 1000 + milliseconds) {
            now += 100;
            graph.OnTimerTick();
        }
    };
    const struct {
        uint32_t at;  // ms after the run
        int32_t retunes;
    } checks[] = {{4900, 0}, {5000, 1}, {11900, 1}, {12000, 2}, {18900, 2}, {19000, 3}, {60000, 3}};
    for (const auto& check : checks) {
        advanceTo(check.at);
        EXPECT_EQ(graph.RetuneCount(), check.retunes) << check.at << " ms";
    }
}

TEST_F(CViewerGraphPlaybackTest, FileSeeksToAPositionAndStopsAtItsEnd) {
    const std::string file = WriteSimulatedFile(host.Folder(), 3.0);
    ASSERT_EQ(graph.Build(nullptr, ICWString(std::u16string_view(Utf8ToUtf16(file)))), S_OK);
    ASSERT_EQ(graph.RunGraph(), S_OK);
    graph.SetPosition(2000);
    const uint32_t position = graph.GetPosition();
    EXPECT_GE(position, 2000u);
    EXPECT_LE(position, 3000u);  // the file may already have been read to its end
    // The end of the file completes the graph, which stops it.
    ASSERT_TRUE(RunUntil([&] { return !graph.IsRunning(); }));
    EXPECT_TRUE(graph.IsBuilt());
}

TEST_F(CViewerGraphPlaybackTest, PauseAndResumeFollowTheGraph) {
    const std::string file = WriteSimulatedFile(host.Folder(), 1.0);
    ASSERT_EQ(graph.Build(nullptr, ICWString(std::u16string_view(Utf8ToUtf16(file)))), S_OK);
    ASSERT_EQ(graph.RunGraph(), S_OK);
    graph.PauseGraph();
    EXPECT_TRUE(graph.IsPaused());
    graph.PauseGraph();
    EXPECT_FALSE(graph.IsPaused());
    EXPECT_TRUE(graph.IsRunning());
    graph.Teardown();
    EXPECT_FALSE(graph.IsBuilt());
    EXPECT_FALSE(graph.IsRunning());
}

TEST(CViewerGraphText, ComponentTextNamesFormatAspectAndSound) {
    const struct {
        uint8_t video;
        uint8_t audio;
        const char16_t* text;
    } cases[] = {
        {0xB3, 0x03, u"1080i 16:9   Stereo "}, {0xE1, 0x09, u"       4:3   5.1ch  "},
        {0x01, 0x01, u" 480i  4:3    Mono  "}, {0xA3, 0x02, u" 480p 16:9 Dual Mono"},
        {0xC4, 0x07, u" 720p      3/1 Mode "}, {0xD1, 0x08, u" 240p  4:3 3/2 Mode "},
        {0x53, 0x05, u"      16:9"},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(CViewerGraph::FormatComponentText(test.video, test.audio).GetView(),
                  std::u16string_view(test.text))
            << int(test.video) << " " << int(test.audio);
    }
}

TEST(CViewerGraphText, TimeRangeShowsStartAndEndOrAnOpenEnd) {
    const ICSIDateTime start{2024, 1, 1, 0, 23, 30, 0};
    EXPECT_EQ(CViewerGraph::FormatTimeRange(&start, 3600).GetView(),
              std::u16string_view(u"23:30 ～ 00:30"));
    EXPECT_EQ(CViewerGraph::FormatTimeRange(&start, -1).GetView(),
              std::u16string_view(u"23:30 ～      "));
    EXPECT_EQ(CViewerGraph::FormatTimeRange(nullptr, 0).GetView(), std::u16string_view(u"--:--"));
}

}  // namespace
}  // namespace enginetest
