// The engine of a viewing window: opening on a tuner, the automatic window's fallback, the
// build failure message, channels, the guide fed from the broadcast, snapshots, recording by
// the button and its rules, closing, and the mute control between windows.
#include <filesystem>
#include <fstream>

#include "app/engine/tests/EngineTestSupport.h"
#include "core/CodePage.h"

namespace enginetest {
namespace {

using std::chrono::seconds;

std::vector<std::filesystem::path> FilesIn(const std::string& folder, const char* extension) {
    std::vector<std::filesystem::path> files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        if (entry.path().extension() == extension) {
            files.push_back(entry.path());
        }
    }
    return files;
}

class CVideoWindowTest : public ::testing::Test {
protected:
    CVideoWindowTest() : windows(host) {}
    ~CVideoWindowTest() override {
        while (!windows.Windows().empty()) {
            windows.DestroyVideoWindow(windows.Windows().front().get());
        }
    }

    CVideoWindow* OpenOnDemoTuner(bool automatic = false) {
        tuner = AddBonDriverTuner(host, ORV_DEMO_BONDRIVER, 0, kSimFirstService);
        return windows.CreateVideoWindow(view, tuner, automatic, false);
    }
    std::string RecordingFolder() const { return host.Folder() + "/rec"; }

    TestHost host;
    FakeSurface surface{960, 540};
    TestView view{&surface};
    CVideoWindowList windows;
    CTuner* tuner = nullptr;
};

TEST_F(CVideoWindowTest, OpeningBuildsTheGraphAndPlaysTheTunersChannel) {
    CVideoWindow* window = OpenOnDemoTuner();
    EXPECT_EQ(view.caption.GetView(), std::u16string_view(u"Orvanta 15.12.02.00"));
    EXPECT_TRUE(window->Graph().IsBuilt());
    EXPECT_TRUE(window->Graph().IsRunning());
    EXPECT_EQ(window->Graph().Channel(), tuner->currentChannel);
    EXPECT_TRUE(host.messages.empty());
    // The present event reaches the panel, and so does the service's logo (message 0x600).
    EXPECT_TRUE(host.ui.RunUntil([&] { return view.programmeChanges > 0; }, seconds(20)));
    EXPECT_TRUE(host.ui.RunUntil([&] { return !view.logoMessages.empty(); }, seconds(20)));
    ASSERT_FALSE(view.logoMessages.empty());
    // The network id is in the high half once the graph knows it (a CDT may come first).
    EXPECT_EQ(view.logoMessages[0].first, uint32_t(kSimTransportStreamId) << 16 | kSimFirstService);
    EXPECT_EQ(view.logoMessages[0].second & 0xFFFF, 1u);
}

// A new programme of the window's service while a manual recording runs: a recording of less
// than a minute goes on; a present event of another service changes nothing.
TEST_F(CVideoWindowTest, PresentEventOfTheServiceReachesThePanelAndSparesAYoungRecording) {
    CVideoWindow* window = OpenOnDemoTuner();
    window->ToggleRecording();
    ASSERT_TRUE(window->Graph().IsRecording());
    ComPtr<IMediaEventSink> events;
    ASSERT_EQ(ComPtr<IGraphBuilder>(window->Graph().FilterGraph()).As(&events), S_OK);
    const int before = view.programmeChanges;
    events->Notify(kQVEventPresentEvent, LONG_PTR(kSimTransportStreamId),
                   LONG_PTR(0x0401) << 16 | 0x7777);
    events->Notify(kQVEventPresentEvent, LONG_PTR(kSimTransportStreamId),
                   LONG_PTR(kSimFirstService) << 16 | 0x7777);
    ASSERT_TRUE(host.ui.RunUntil([&] { return window->Graph().Programme().eventId == 0x7777; },
                                 seconds(10)));
    EXPECT_GT(view.programmeChanges, before);
    EXPECT_TRUE(window->Graph().IsRecording());
}

TEST_F(CVideoWindowTest, AutomaticWindowWithoutRendererRecordsWithoutVideo) {
    SetVideoRendererAvailable(false);
    CVideoWindow* window = OpenOnDemoTuner(true);
    SetVideoRendererAvailable(true);
    EXPECT_TRUE(window->WithoutVideo());
    EXPECT_TRUE(window->Graph().IsRunning());
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(CVideoWindowTest, FailedBuildShowsTheResultTheStageAndTheGraphsText) {
    SetVideoRendererAvailable(false);
    CVideoWindow* window = OpenOnDemoTuner(false);
    SetVideoRendererAvailable(true);
    EXPECT_FALSE(window->Graph().IsBuilt());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].caption, u"Error");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::kError);
    EXPECT_EQ(host.messages[0].text,
              u"80040154-0008 Graphを作成できません。\r\nVMR9が作成できません。\r\nシステムに重大"
              u"な障害が出ている可能性があります。\r\nシステムの再起動をお勧めします。");
}

TEST_F(CVideoWindowTest, ChannelsStepThroughTheTunersEnabledChannelsAndWrap) {
    CVideoWindow* window = OpenOnDemoTuner();
    CTuningSpace* space = tuner->tuningSpaces.First();
    CChannelInfo* first = tuner->currentChannel;
    auto* disabled = new CChannelInfo(space);
    disabled->enabled = 0;
    space->channels.Add(disabled);
    auto* second = new CChannelInfo(space);
    second->physicalIndex = 1;
    second->serviceId = 0x0420;
    second->transportStreamId = 0x7FE1;
    space->channels.Add(second);

    EXPECT_EQ(window->ChannelUp(), S_OK);
    EXPECT_EQ(tuner->currentChannel, second);
    EXPECT_EQ(window->Graph().TransportStreamId(), 0x7FE1);
    EXPECT_EQ(window->ChannelUp(), S_OK);
    EXPECT_EQ(tuner->currentChannel, first);
    EXPECT_EQ(window->ChannelDown(), S_OK);
    EXPECT_EQ(tuner->currentChannel, second);

    // A channel the driver does not have fails; the graph stays built.
    second->physicalIndex = 99;
    EXPECT_EQ(window->TuneChannel(second), E_FAIL);
    EXPECT_TRUE(window->Graph().IsBuilt());
}

TEST_F(CVideoWindowTest, BroadcastEventsReachTheProgrammeGuide) {
    CVideoWindow* window = OpenOnDemoTuner();
    host.epg.RebuildEpgIndex(host.tuners.Tuners());
    CChannelInfo* guide = host.epg.FindEpgChannel(kSimTransportStreamId, kSimFirstService);
    ASSERT_NE(guide, nullptr);
    const auto eventCount = [guide] {
        guide->events.Lock();
        const int32_t count = guide->events.GetCount();
        guide->events.Unlock();
        return count;
    };
    ASSERT_TRUE(window->Graph().IsRunning());
    EXPECT_TRUE(host.ui.RunUntil([&] { return eventCount() > 0; }, seconds(30)));
}

TEST_F(CVideoWindowTest, SnapshotWritesABitmapOrTellsWhyItCannot) {
    CVideoWindow* window = OpenOnDemoTuner();
    window->Snapshot();
    EXPECT_TRUE(host.messages.empty());
    const std::vector<std::filesystem::path> bitmaps = FilesIn(RecordingFolder(), ".bmp");
    ASSERT_EQ(bitmaps.size(), 1u);
    std::ifstream file(bitmaps[0], std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(bytes.size(), 14u + 40u + 16u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(uint8_t(bytes[2]), 70);   // file size
    EXPECT_EQ(uint8_t(bytes[10]), 54);  // pixel offset

    StandIns().imageFails = true;
    window->Snapshot();
    StandIns().imageFails = false;
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, u"Capture Error 8000FFFF");

    window->Graph().withoutVideo = true;
    ASSERT_EQ(window->Graph().Build(tuner, ICWString()), S_OK);
    window->Snapshot();
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1].text, u"Capture Error FFFFFFFF");
    EXPECT_EQ(host.messages[1].caption, u"Error");
}

TEST_F(CVideoWindowTest, RecordingButtonStartsAndStopsARecordingInTheFirstFolder) {
    CVideoWindow* window = OpenOnDemoTuner();
    window->ToggleRecording();
    ASSERT_TRUE(window->Graph().IsRecording());
    EXPECT_TRUE(view.recordingShown);
    EXPECT_EQ(window->RecordingFolder().GetView(),
              std::u16string_view(Utf8ToUtf16(RecordingFolder())));
    EXPECT_EQ(FilesIn(RecordingFolder(), ".ts").size(), 1u);
    host.ui.RunFor(std::chrono::milliseconds(300));
    window->ToggleRecording();
    EXPECT_FALSE(window->Graph().IsRecording());
    EXPECT_FALSE(view.recordingShown);
    const std::vector<std::filesystem::path> files = FilesIn(RecordingFolder(), ".ts");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(std::filesystem::file_size(files[0]), 188u);

    // A folder that cannot be made fails with the message.
    host.settings.recFolders[0] = u"/proc/orvanta-cannot-write-here";
    window->ToggleRecording();
    EXPECT_FALSE(window->Graph().IsRecording());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].text.find(u":録画に失敗しました"), std::u16string::npos);
}

TEST_F(CVideoWindowTest, RecordingStopsWhenTheFolderRunsOutOfSpace) {
    CVideoWindow* window = OpenOnDemoTuner();
    uint64_t freeSpace = uint64_t(900) << 20;
    window->freeSpaceProbe = [&](const std::string&) { return freeSpace; };
    int cleanups = 0;
    window->freeOldRecordings = [&](const std::string&) {
        ++cleanups;
        freeSpace = uint64_t(2) << 30;
    };
    host.settings.deleteOldFile = true;
    window->ToggleRecording();
    ASSERT_TRUE(window->Graph().IsRecording());
    window->OnPanelTimer(60000);  // old recordings make room: it goes on
    EXPECT_EQ(cleanups, 1);
    EXPECT_TRUE(window->Graph().IsRecording());

    freeSpace = uint64_t(900) << 20;
    host.settings.deleteOldFile = false;
    window->OnPanelTimer(59999);
    EXPECT_TRUE(window->Graph().IsRecording());
    window->OnPanelTimer(1);
    EXPECT_FALSE(window->Graph().IsRecording());
    EXPECT_EQ(cleanups, 1);
}

TEST_F(CVideoWindowTest, ClosingWhileRecordingHidesTheWindowOrAsksFirst) {
    CVideoWindow* window = OpenOnDemoTuner();
    window->ToggleRecording();
    ASSERT_TRUE(window->Graph().IsRecording());

    // Without FreeRecord the recording goes on in a hidden window without outputs.
    EXPECT_FALSE(window->Close());
    EXPECT_FALSE(view.visible);
    EXPECT_TRUE(window->Graph().AreOutputsOff());
    EXPECT_TRUE(window->Graph().IsRecording());
    view.Show();
    window->OnShown();
    EXPECT_FALSE(window->Graph().AreOutputsOff());

    // With FreeRecord the user is asked; Cancel keeps everything.
    host.settings.freeRecord = true;
    host.answer = MessageResult::kCancel;
    EXPECT_FALSE(window->Close());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, u"録画中です。終了してよろしいですか？");
    EXPECT_EQ(host.messages[0].caption, u"警告");
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::kOkCancel);
    EXPECT_TRUE(view.visible);
    EXPECT_TRUE(window->Graph().IsRecording());

    host.answer = MessageResult::kOk;
    EXPECT_TRUE(window->Close());
    EXPECT_FALSE(window->Graph().IsRecording());
    EXPECT_FALSE(window->Graph().IsRunning());
    EXPECT_FALSE(view.visible);
    EXPECT_EQ(host.settings.lastTuner.GetView(), std::u16string_view(u"Test Tuner"));
    EXPECT_EQ(host.settings.position, (std::array<int32_t, 4>{10, 20, 970, 560}));
    ASSERT_EQ(host.mainWindowMessages.size(), 1u);
    EXPECT_EQ(host.mainWindowMessages[0], std::make_pair(kMsgVideoWindowClosed, window));
}

TEST_F(CVideoWindowTest, ATunerPreparedForAReservationKeepsItsWindowOpen) {
    CVideoWindow* window = OpenOnDemoTuner();
    host.tunerState = TunerReservationState::kPrepared;
    EXPECT_FALSE(window->Close());
    EXPECT_FALSE(view.visible);
    EXPECT_TRUE(window->Graph().IsRunning());
    EXPECT_TRUE(host.mainWindowMessages.empty());
}

TEST_F(CVideoWindowTest, ActivatingAWindowMutesTheOthersUnderMuteControl) {
    FakeSurface otherSurface{320, 180};
    TestView otherView{&otherSurface};
    CVideoWindow* first = windows.CreateVideoWindow(view, nullptr, false, false);
    CVideoWindow* second = windows.CreateVideoWindow(otherView, nullptr, false, false);
    first->SetVolume(7);
    second->SetVolume(6);
    windows.ActivateWindow(first);
    EXPECT_EQ(windows.ActiveWindow(), first);
    EXPECT_EQ(second->Graph().VolumeLevel(), 0);
    EXPECT_TRUE(otherView.mutedShown);
    EXPECT_EQ(first->Graph().VolumeLevel(), 7);
    EXPECT_FALSE(view.mutedShown);

    host.settings.muteControl = false;
    second->SetVolume(6);
    windows.ActivateWindow(second);
    EXPECT_EQ(first->Graph().VolumeLevel(), 7);
    EXPECT_EQ(windows.ActiveWindow(), second);
}

}  // namespace
}  // namespace enginetest
