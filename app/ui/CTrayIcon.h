#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <functional>

// The notification-area icon and its menu: watch, the guide, the reservations, the recorded
// files, the settings, help, the update check, the home page and exit. A double click watches.
// The icon shows the state of the tuners (the main timer picks it): a lamp for a reservation,
// blinking while one records or the guide sweep runs.
class CTrayIcon {
public:
    // Menu commands.
    static constexpr int kWatch = 1, kGuide = 2, kReservations = 3, kRecordedFiles = 4,
                         kSettings = 5, kHelp = 6, kUpdateCheck = 7, kHomePage = 8, kExit = 255;
    // Icons.
    static constexpr int kIconApplication = 128, kIconReservation = 148, kIconBlink = 149,
                         kIconEpgSweep = 150;

    CTrayIcon();

    // Shows the icon (again, when the desktop's tray came back).
    void Show();
    // Shows the icon of that number.
    void ShowIcon(int id);
    int IconShown() const { return iconShown; }

    QMenu& Menu() { return menu; }
    QSystemTrayIcon& Icon() { return tray; }
    std::function<void(int command)> onCommand;

    // The picture of an icon by its number.
    static QIcon IconImage(int id);

private:
    QSystemTrayIcon tray;
    QMenu menu;
    int iconShown = 0;
};
