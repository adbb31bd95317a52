// Scans through a real viewing window and graph: the demo tuner's simulated broadcasts, the
// restoring of the graph at a stop, and the move past channels without signal.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/engine/tests/EngineTestSupport.h"
#include "app/scan/CChannelScan.h"
#include "app/scan/CScanThread.h"
#include "sianalyzer/ICSIList.h"
#include "sources/mirakurun/tests/TestTunerServer.h"
#include "sources/tests/SourceTestSupport.h"
#include "tools/isdbsim/BroadcastModel.h"

namespace {

using namespace enginetest;
using namespace std::chrono_literals;

// A channel page that keeps what it is shown.
class RecordingPage final : public IScanPage {
public:
    void SetScanStatus(const ICWString& text) override { statuses.emplace_back(text.GetView()); }
    void SetScanProgressRange(int32_t count) override { range = count; }
    void SetScanProgress(int32_t position) override { progress.push_back(position); }
    void ClearScanList() override { list.clear(); }
    void InsertScanService(int32_t position, const CChannelInfo& channel) override {
        list.insert(list.begin() + position, channel.serviceId);
    }
    void SetScanControlsEnabled(bool enabled) override { controlsEnabled = enabled; }

    std::vector<std::u16string> statuses;
    int32_t range = -1;
    std::vector<int32_t> progress;
    std::vector<uint32_t> list;
    bool controlsEnabled = true;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A tuner driver as discovery finds it (the demo tuner unless a test sets another up first), and
// a viewing window on it that is the active one.
class ChannelScan : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(drivers);
        if (std::filesystem::is_empty(drivers)) {
            std::filesystem::copy_file(ORV_DEMO_BONDRIVER, drivers + "/BonDriver_Demo.so");
        }
        host.tuners.LoadBonDriverTuners(drivers, [](const ICWString&) {});
        tuner = host.tuners.Tuners().First();
        ASSERT_NE(tuner, nullptr);
        window = windows.CreateVideoWindow(view, tuner, false, false);
        ASSERT_NE(window, nullptr);
        windows.ActivateWindow(window);
    }
    void TearDown() override { unsetenv("ORV_DEMO_TUNER_OUTAGE"); }

    // Scans one tuning space to its end.
    void ScanSpace(CChannelScan& scan, int32_t spaceIndex, bool watchSignal = false) {
        ASSERT_TRUE(scan.StartOrStop(tuner, spaceIndex, watchSignal));
        EXPECT_FALSE(page.controlsEnabled);
        ASSERT_TRUE(host.ui.RunUntil([&] { return !scan.IsRunning(); }, 120s));
    }

    TestHost host;
    const std::string drivers = host.Folder() + "/drivers";
    CVideoWindowList windows{host};
    FakeSurface surface{960, 540};
    TestView view{&surface};
    RecordingPage page;
    CTuner* tuner = nullptr;
    CVideoWindow* window = nullptr;
};

TEST_F(ChannelScan, EveryTuningSpaceOfTheDemoTunerYieldsItsTelevisionServices) {
    CChannelScan scan(host, windows, page, ScanLimits{7000, 100, 1000, 20});
    const auto& spaces = isdbsim::TuningSpaces();
    ASSERT_EQ(tuner->tuningSpaces.GetCount(), int32_t(spaces.size()));
    for (int32_t s = 0; s < int32_t(spaces.size()); ++s) {
        SCOPED_TRACE(s);
        ScanSpace(scan, s);
        EXPECT_EQ(page.range, int32_t(spaces[s].channels.size()));
        EXPECT_TRUE(page.controlsEnabled);
        EXPECT_EQ(page.statuses.back(), u"スキャン終了");
        ASSERT_GE(page.statuses.size(), 3u);
        EXPECT_NE(page.statuses[page.statuses.size() - 3].find(u" dB"), std::u16string::npos);

        // Every simulated television service, on the physical channel of its stream.
        std::set<std::tuple<uint32_t, int32_t, std::u16string>> expected;
        for (size_t c = 0; c < spaces[s].channels.size(); ++c) {
            for (const auto& service : spaces[s].channels[c].services) {
                if (service.serviceType == 0x01) {
                    expected.emplace(service.serviceId, int32_t(c), service.name);
                }
            }
        }
        std::set<std::tuple<uint32_t, int32_t, std::u16string>> found;
        std::vector<uint32_t> order;
        const CTuningSpace* space = tuner->tuningSpaces.At(s);
        for (const CChannelInfo* channel : space->channels) {
            found.emplace(channel->serviceId, channel->physicalIndex,
                          std::u16string(channel->name.GetView()));
            order.push_back(channel->serviceId);
        }
        EXPECT_EQ(found, expected);
        EXPECT_EQ(page.list, order);
    }
    EXPECT_TRUE(host.tuners.channelsDirty);
    EXPECT_TRUE(scan.changed);
    EXPECT_EQ(window->Tuner(), tuner);

    // Keys, numbers, flags and names as the channel file keeps them.
    ASSERT_TRUE(host.tuners.SaveChannelFile(tuner));
    const std::string written = ReadFile(host.tuners.ChannelFileName(*tuner));
    if (const char* update = std::getenv("ORV_SCAN_WRITE_EXPECTED")) {
        std::ofstream(update, std::ios::binary) << written;
    }
    EXPECT_EQ(written, ReadFile(ORV_SCAN_TEST_DATA "/BonDriver_Demo.ch"));
}

TEST_F(ChannelScan, AChannelWithoutSignalIsLeftAfterTheZeroSecondsLimit) {
    setenv("ORV_DEMO_TUNER_OUTAGE", "0,100000", 1);
    CChannelScan scan(host, windows, page, ScanLimits{60000, 50, 100, 3});
    const auto started = std::chrono::steady_clock::now();
    ScanSpace(scan, 0, true);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
    EXPECT_EQ(tuner->tuningSpaces.First()->channels.GetCount(), 0);
    // Shown at the tune and at every reading: "27ch  0.0 dB".
    EXPECT_GE(page.statuses.size(), 3u * 3u);
}

TEST_F(ChannelScan, StoppingRestoresTheGraphsMaskAndSdtCallback) {
    CViewerGraph& graph = window->Graph();
    ASSERT_NE(graph.Analyzer(), nullptr);
    const DWORD mask = graph.Analyzer()->GetNotifyFlags();
    int windowSdtCalls = 0;
    graph.callbacks.sdt = [&](CViewerGraph&, uint8_t, uint16_t, uint16_t) { ++windowSdtCalls; };

    CTuningSpace* space = tuner->tuningSpaces.First();
    CScanThread thread(host.ui, *window, *space, page, ScanLimits{60000, 100, 1000, 20});
    bool ended = false;
    thread.ended = [&] { ended = true; };
    thread.Install();
    EXPECT_EQ(graph.Analyzer()->GetNotifyFlags(), CScanThread::kScanNotifyMask);
    thread.Start();
    // Runs until the first stream's services are in, then stops in the middle of its wait.
    ASSERT_TRUE(host.ui.RunUntil([&] { return space->channels.GetCount() > 0; }, 30s));
    EXPECT_EQ(windowSdtCalls, 0);
    thread.RequestStop();
    ASSERT_TRUE(host.ui.RunUntil([&] { return ended; }, 10s));

    EXPECT_EQ(graph.Analyzer()->GetNotifyFlags(), mask);
    EXPECT_FALSE(graph.IsRunning());
    // Every hold the scan took on the analyzer's store was let go: a hold left behind makes
    // the analyzer wait at each reset, and the stream backs up.
    ICSIList* si = graph.Analyzer()->GetSIList();
    EXPECT_EQ(si->GetLockCount(), 1);
    si->Release();
    ASSERT_TRUE(graph.callbacks.sdt);
    graph.callbacks.sdt(graph, 0x42, 1, 1);
    EXPECT_EQ(windowSdtCalls, 1);
}

// The tuner-server driver offers the server's channels as one tuning space; a scan through it finds
// the services of each served stream. The server has no signal to give: the driver's level is the
// bit rate it receives, so a channel that serves nothing is left at the zero-signal limit.
class ChannelScanOnTunerServer : public ChannelScan {
protected:
    void SetUp() override {
        using mirakurun::test::Reply;
        ASSERT_TRUE(server.Listening());
        server.Set("/api/channels", Reply::Document(R"([
            {"type": "GR", "channel": "27", "name": "27ch"},
            {"type": "GR", "channel": "99", "name": "99ch"},
            {"type": "GR", "channel": "26", "name": "26ch"}])"));
        for (const auto& [path, channel] : {std::pair{"/api/channels/GR/27/stream", 0},
                                            std::pair{"/api/channels/GR/26/stream", 1}}) {
            const auto stream = sourcetest::SimulatedStream(3.0, 0, channel);
            ASSERT_FALSE(stream.empty());
            server.Set(path, Reply::Stream(stream).Paced(double(stream.size()) / 3.0).Repeated());
        }
        server.Set("/api/channels/GR/99/stream", Reply::Status(503));
        std::filesystem::create_directories(drivers);
        std::filesystem::copy_file(ORV_MIRAKURUN_BONDRIVER, drivers + "/BonDriver_Mirakurun.so");
        std::ofstream(drivers + "/BonDriver_Mirakurun.so.ini")
            << "[Mirakurun]\r\nServer=" << server.Url() << "\r\nTimeout=2000\r\n";
        ChannelScan::SetUp();
    }

    mirakurun::test::TestTunerServer server;
};

TEST_F(ChannelScanOnTunerServer, FindsTheServicesOfEveryServedStream) {
    ASSERT_EQ(tuner->tuningSpaces.GetCount(), 1);
    CChannelScan scan(host, windows, page, ScanLimits{8000, 100, 500, 3});
    ScanSpace(scan, 0, true);
    EXPECT_EQ(page.range, 3);
    EXPECT_EQ(page.statuses.back(), u"スキャン終了");

    std::set<std::pair<uint32_t, int32_t>> expected;
    for (const auto& [physical, simulated] : {std::pair{0, 0}, std::pair{2, 1}}) {
        for (const auto& service : isdbsim::FindChannel(0, simulated)->services) {
            if (service.serviceType == 0x01) {
                expected.emplace(service.serviceId, physical);
            }
        }
    }
    std::set<std::pair<uint32_t, int32_t>> found;
    for (const CChannelInfo* channel : tuner->tuningSpaces.First()->channels) {
        found.emplace(channel->serviceId, channel->physicalIndex);
    }
    EXPECT_EQ(found, expected);
}

}  // namespace
