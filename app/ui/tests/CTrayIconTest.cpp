// The tray icon's menu and its state icon, and the standby countdown window.

#include <gtest/gtest.h>

#include "app/ui/CStandbyWindow.h"
#include "app/ui/CTrayIcon.h"
#include "app/ui/tests/OffscreenApplication.h"

namespace {

TEST(CTrayIcon, TheMenuOffersTheApplicationsCommandsInOrder) {
    CTrayIcon tray;
    std::vector<int> commands;
    tray.onCommand = [&](int id) { commands.push_back(id); };
    QStringList texts;
    for (QAction* action : tray.Menu().actions()) {
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        if (!action->isSeparator()) {
            action->trigger();
        }
    }
    EXPECT_EQ(texts, (QStringList{"視聴", "EPG", "録画予約", "録画ファイル", "設定", "-", "ヘルプ",
                                  "最新版を確認...", "ホームページ", "-", "終了..."}));
    EXPECT_EQ(commands, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 255}));
    EXPECT_EQ(tray.Icon().toolTip(), QStringLiteral("Orvanta"));
}

TEST(CTrayIcon, TheIconBlinksWhileRecordingAndShowsAPreparedReservation) {
    CTrayIcon tray;
    EXPECT_EQ(tray.IconShown(), CTrayIcon::kIconApplication);
    std::vector<int> shown;
    for (int i = 0; i < 3; ++i) {
        shown.push_back(tray.UpdateState(2, true));
    }
    EXPECT_EQ(shown, (std::vector<int>{148, 149, 148}));
    EXPECT_EQ(tray.UpdateState(1, true), CTrayIcon::kIconReservation);
    const int sweep = tray.UpdateState(0, true);
    EXPECT_TRUE(sweep == CTrayIcon::kIconEpgSweep || sweep == CTrayIcon::kIconBlink);
    EXPECT_NE(tray.UpdateState(0, true), sweep);
    EXPECT_EQ(tray.UpdateState(0, false), CTrayIcon::kIconApplication);
}

TEST(CStandbyWindow, ShowsTheSecondsLeftAndCanBeCancelled) {
    CStandbyWindow window;
    int cancelled = 0;
    window.onCancel = [&] { ++cancelled; };
    window.SetSecondsLeft(30);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.Text().contains(QStringLiteral("30")));
    window.reject();
    EXPECT_EQ(cancelled, 1);
    EXPECT_FALSE(window.isVisible());
    window.SetSecondsLeft(5);
    window.SetSecondsLeft(0);
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
