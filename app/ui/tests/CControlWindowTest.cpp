// The control panel over a viewing window on the demo tuner: typed channel numbers, un-muting in
// steps, fading, the popup menu's channel part and the guide's sweep relay.

#include <gtest/gtest.h>

#include <QMenu>
#include <filesystem>

#include "app/engine/CVideoWindow.h"
#include "app/engine/tests/EngineTestSupport.h"
#include "app/ui/CControlWindow.h"
#include "app/ui/tests/OffscreenApplication.h"
#include "tools/isdbsim/BroadcastModel.h"

namespace {

using namespace enginetest;

class FakeViewer final : public IPanelViewer {
public:
    bool IsFullScreen() override { return fullScreen; }
    void ToggleFullScreen() override { fullScreen = !fullScreen; }
    bool CaptionsShown() override { return captions; }
    void ToggleCaptions() override { captions = !captions; }
    void ShowTypedNumber(int32_t number) override { typed.push_back(number); }
    void SetPictureSize(int width, int height) override { size = {width, height}; }
    void ShowAndActivate() override {}

    bool fullScreen = false;
    bool captions = true;
    std::vector<int32_t> typed;
    QSize size;
};

class ControlPanel : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(drivers);
        std::filesystem::copy_file(ORV_DEMO_BONDRIVER, drivers + "/BonDriver_Demo.so");
        host.tuners.LoadBonDriverTuners(drivers, [](const ICWString&) {});
        tuner = host.tuners.Tuners().First();
        ASSERT_NE(tuner, nullptr);
        // Two services of the first stream, numbered as a scan would.
        CTuningSpace* space = tuner->tuningSpaces.First();
        for (const auto& [number, serviceId] : {std::pair{11, 0x0400}, std::pair{103, 0x0402}}) {
            auto* service = space->channels.Add(new CChannelInfo(space));
            service->channelNumber = number;
            service->remoteKey = 1;
            service->serviceId = uint32_t(serviceId);
            service->transportStreamId = 0x7FE0;
            service->name = u"みなと放送";
        }
        window = windows.CreateVideoWindow(view, tuner, false, false);
        ASSERT_NE(window, nullptr);
        viewerWidget.resize(960, 540);
        panel = std::make_unique<CControlWindow>(&viewerWidget, viewer, *window, windows, host,
                                                 AppCommands{});
    }

    // Timer messages 100 ms apart.
    void Ticks(int count) {
        for (int i = 0; i < count; ++i) {
            panel->Tick(100);
        }
    }

    TestHost host;
    const std::string drivers = host.Folder() + "/drivers";
    CVideoWindowList windows{host};
    FakeSurface surface{960, 540};
    TestView view{&surface};
    CTuner* tuner = nullptr;
    CVideoWindow* window = nullptr;
    QWidget viewerWidget;
    FakeViewer viewer;
    std::unique_ptr<CControlWindow> panel;
};

TEST_F(ControlPanel, TypedDigitsTuneTheServiceOfThatNumberASecondAfterTheLast) {
    for (int key : {Qt::Key_1, Qt::Key_0, Qt::Key_3}) {
        EXPECT_TRUE(panel->HandleKey(key, false));
        Ticks(5);
    }
    EXPECT_EQ(viewer.typed, (std::vector<int32_t>{1, 10, 103}));
    Ticks(4);
    EXPECT_EQ(panel->TypedNumber(), 103);
    Ticks(1);
    EXPECT_EQ(panel->TypedNumber(), 0);
    EXPECT_EQ(viewer.typed.back(), 0);
    ASSERT_NE(window->Graph().Channel(), nullptr);
    EXPECT_EQ(window->Graph().Channel()->channelNumber, 103);

    // Any other key forgets the number; Escape also leaves full screen.
    panel->HandleKey(Qt::Key_5, true);
    viewer.fullScreen = true;
    EXPECT_TRUE(panel->HandleKey(Qt::Key_Escape, false));
    EXPECT_EQ(panel->TypedNumber(), 0);
    EXPECT_FALSE(viewer.fullScreen);
}

TEST_F(ControlPanel, UnmutingRestoresTheVolumeInStepsOfTwo) {
    panel->ToggleMute();
    EXPECT_TRUE(panel->IsMuted());
    EXPECT_EQ(panel->VolumeLevel(), 0);
    panel->ToggleMute();
    std::vector<int32_t> levels;
    for (int i = 0; i < 6; ++i) {
        Ticks(1);
        levels.push_back(panel->VolumeLevel());
    }
    EXPECT_EQ(levels, (std::vector<int32_t>{2, 4, 6, 8, 10, 10}));
    EXPECT_EQ(window->Graph().VolumeLevel(), 10);
    EXPECT_EQ(panel->VolumeBar().Position(), 10);
}

TEST_F(ControlPanel, ThePanelShowsOnAMouseMoveAndFadesDuringTheLastSecondOfFive) {
    EXPECT_EQ(panel->PanelAlpha(), 0);
    panel->MouseMoved();
    EXPECT_EQ(panel->PanelAlpha(), CControlWindow::kShownAlpha);
    Ticks(39);
    EXPECT_EQ(panel->PanelAlpha(), CControlWindow::kShownAlpha);
    Ticks(1);
    EXPECT_EQ(panel->PanelAlpha(), 100);
    Ticks(9);
    EXPECT_EQ(panel->PanelAlpha(), 10);
    Ticks(1);
    EXPECT_EQ(panel->PanelAlpha(), 0);
    EXPECT_TRUE(panel->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST_F(ControlPanel, TheMenuHoldsTheServicesTheSpacesThenTheTuners) {
    QMenu& menu = panel->PopupMenu();
    const QList<QAction*> actions = menu.actions();
    const int spaces = int(isdbsim::TuningSpaces().size());
    ASSERT_GT(actions.size(), spaces + 2);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("チャンネル"));
    ASSERT_NE(actions[0]->menu(), nullptr);
    const QList<QAction*> services = actions[0]->menu()->actions();
    ASSERT_EQ(services.size(), 2);
    EXPECT_EQ(services[1]->text(), QStringLiteral("103 みなと放送"));
    EXPECT_EQ(services[1]->data().toInt(), CControlWindow::kFirstService + 1);
    for (int k = 0; k < spaces; ++k) {
        EXPECT_EQ(actions[k + 1]->text(),
                  QString::fromStdU16String(isdbsim::TuningSpaces()[size_t(k)].name));
    }
    EXPECT_EQ(actions[spaces + 1]->data().toInt(), CControlWindow::kChannelPartEnd);
    EXPECT_EQ(actions[spaces + 2]->text(), QStringLiteral("チューナー"));

    // The menu's texts follow the states; its commands act on the viewer.
    panel->RunCommand(CControlWindow::kBitRate);
    EXPECT_TRUE(panel->BitRateMode());
    bool captionsItemSeen = false;
    for (QAction* action : panel->PopupMenu().actions()) {
        if (action->data().toInt() == CControlWindow::kBitRate) {
            EXPECT_EQ(action->text(), QStringLiteral("信号レベル表示"));
        } else if (action->data().toInt() == CControlWindow::kCaptions) {
            EXPECT_EQ(action->text(), QStringLiteral("字幕 &Off"));
            captionsItemSeen = true;
        }
    }
    EXPECT_TRUE(captionsItemSeen);
    panel->RunCommand(CControlWindow::kFirstSize + 2);
    EXPECT_EQ(viewer.size, QSize(853, 480));
    panel->RunCommand(CControlWindow::kFirstService + 1);
    EXPECT_EQ(window->Graph().Channel()->channelNumber, 103);
}

TEST_F(ControlPanel, ASweepViewerReportsWhenItsChannelsGuideStopsComing) {
    std::vector<uint32_t> reported;
    panel->onSweepStepDone = [&](CControlWindow&, uint32_t serviceId) {
        reported.push_back(serviceId);
    };
    panel->clock = [] { return int64_t(1000); };
    panel->StartSweepStep(tuner->tuningSpaces.First()->channels.First(), 1000);
    EXPECT_TRUE(panel->IsSweepViewer());
    // A segment completed: the channel gets a minute more.
    panel->RestartSweepDwell(false);
    panel->OnSweepMinute();
    EXPECT_TRUE(reported.empty());
    for (int i = 0; i < 59; ++i) {
        panel->OnTimer1000();
    }
    EXPECT_TRUE(reported.empty());
    panel->OnTimer1000();
    EXPECT_EQ(reported, (std::vector<uint32_t>{0x0400}));
    // Reported once per step.
    panel->OnSweepMinute();
    EXPECT_EQ(reported.size(), 1u);

    // A channel that sends no guide at all is left at the next minute tick.
    panel->StartSweepStep(tuner->tuningSpaces.First()->channels.First(), 1000);
    panel->OnSweepMinute();
    EXPECT_EQ(reported.size(), 2u);
    panel->EndSweep();
    EXPECT_FALSE(panel->IsSweepViewer());
}

}  // namespace
