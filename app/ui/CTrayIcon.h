#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <functional>

// The notification-area icon and its menu: watch, the guide, the reservations, the recorded
// files, the settings, help, the update check, the home page and exit. A double click watches.
// The icon shows the state of the tuners: it blinks while one records, shows the reservation
// icon while one is prepared for a reservation, and blinks in the guide's colour while the guide
// sweep runs.
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
    // The scheduler's 500 ms tick: the highest tuner state (0 idle, 1 prepared, 2 recording)
    // and whether the guide sweep runs. Returns the icon shown now.
    int UpdateState(int highestTunerState, bool sweepRunning);
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
    uint32_t blinkCounter = 0;
};
