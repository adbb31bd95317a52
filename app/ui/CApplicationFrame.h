#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "app/engine/recording/CRecFileList.h"
#include "app/ui/CControlWindow.h"
#include "app/ui/CStandbyWindow.h"
#include "app/ui/CTrayIcon.h"

class CAppStores;
class CEPGWindow;
class CGuideSweepViewers;
class CMainTimer;
class CPropertyWindow;
class CSchedulerDriver;
class CViewingWindow;
class CRecWindow;
class CTabFileList;
class CTabRecList;
class CViewerShell;
class CVideoWindow;

// The frame of the running application around its viewing windows: the tray icon and its menu,
// the application-wide commands (watch, the guide, the reservations, the recorded files, the
// settings, help, exit), the list window with its two pages, the settings dialog and the standby
// countdown window. The windows' control panels offer the same commands through Commands().
class CApplicationFrame {
public:
    CApplicationFrame(CViewerShell& shell, CAppStores& stores);
    ~CApplicationFrame();

    // Shows the tray icon and scans the recordings (start-up continuation).
    void Start();
    void RunCommand(int id);
    AppCommands Commands();

    // Exit: asks first (differently while recording); true when the viewers are closing.
    bool Exit();
    bool IsExiting() const { return exiting; }
    // The settings dialog; true after OK (the settings are saved then).
    bool OpenSettings(int page = 0);
    // Watch: the main viewer, else the first visible one, else a new one; then the last tuner.
    void Watch();
    void ShowHelp(const QString& page = QStringLiteral("index.html"));
    void OpenNewWindow(CVideoWindow& from);

    CTrayIcon& Tray() { return tray; }
    CStandbyWindow& Standby() { return standby; }
    CRecWindow& ListWindow() { return *listWindow; }
    CTabFileList& RecordedPage() { return *recordedPage; }
    CTabRecList& ReservationPage() { return *reservationPage; }
    CRecFileList& RecordedFiles() { return recordedFiles; }
    CEPGWindow& Guide() { return *guide; }
    CGuideSweepViewers& SweepViewers() { return *sweepViewers; }

    // Joins the scheduler: the main timer drives the tray icon, the guide's minute tick and the
    // "/epg" request's sweep, and the standby countdown; live windows keep the computer awake;
    // the application lives on in the tray without windows until exit (without a tray, until
    // the scheduler is done); the last window gone saves every store.
    void Attach(CSchedulerDriver& scheduler);
    // The first viewer of the run, on the tuner the last run used (else the first one), placed
    // where the last run left it.
    CViewingWindow* OpenFirstViewer();

    // The guide window's part: shown by the "EPG" commands, rebuilt after the channel lists
    // changed.
    std::function<void()> showGuide;
    std::function<void()> refreshGuide;
    // Keeps the computer awake while a window plays live (the platform's power manager).
    std::function<void(bool display)> keepAwake;
    // Where help pages are opened (replaced by tests).
    std::function<void(const QUrl&)> openUrl;

private:
    void MakeGuide();
    void AttachTimer(CMainTimer& timer);
    // Places a viewer by the remembered rectangle (left, top, right, bottom).
    static void PlaceViewer(CViewingWindow& view, const std::array<int32_t, 4>& rect);

    CViewerShell& shell;
    CAppStores& stores;
    CTrayIcon tray;
    CStandbyWindow standby;
    CRecFileList recordedFiles;
    CTabFileList* recordedPage;
    CTabRecList* reservationPage;
    std::unique_ptr<CRecWindow> listWindow;
    std::unique_ptr<CPropertyWindow> settingsDialog;
    std::unique_ptr<CEPGWindow> guide;
    std::unique_ptr<CGuideSweepViewers> sweepViewers;
    CVideoWindow* mainViewer = nullptr;
    bool exiting = false;
};
