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

TEST(CTrayIcon, EachStateHasItsOwnPicture) {
    CTrayIcon tray;
    EXPECT_EQ(tray.IconShown(), CTrayIcon::kIconApplication);
    tray.ShowIcon(CTrayIcon::kIconReservation);
    EXPECT_EQ(tray.IconShown(), CTrayIcon::kIconReservation);
    const auto picture = [](int id) { return CTrayIcon::IconImage(id).pixmap(32).toImage(); };
    EXPECT_NE(picture(CTrayIcon::kIconReservation), picture(CTrayIcon::kIconBlink));
    EXPECT_NE(picture(CTrayIcon::kIconEpgSweep), picture(CTrayIcon::kIconApplication));
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
