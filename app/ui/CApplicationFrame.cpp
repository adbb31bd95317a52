#include "app/ui/CApplicationFrame.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QUrl>

#include "app/engine/CViewerGraph.h"
#include "app/scheduler/CMainTimer.h"
#include "app/startup/CAppStores.h"
#include "app/ui/GuideSweepViewers.h"
#include "app/ui/SchedulerDriver.h"
#include "app/ui/ViewerShell.h"
#include "app/ui/WindowGeometry.h"
#include "app/ui/guide/CEPGWindow.h"
#include "app/ui/lists/CRecDialog.h"
#include "app/ui/lists/CTabFileList.h"
#include "app/ui/lists/CTabRecList.h"
#include "app/ui/settings/CPropertyWindow.h"
#include "core/CodePage.h"

CApplicationFrame::CApplicationFrame(CViewerShell& shell, CAppStores& stores)
    : openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      shell(shell),
      stores(stores),
      recordedPage(new CTabFileList(nullptr, shell, recordedFiles)),
      reservationPage(new CTabRecList(nullptr, shell, shell.Windows())),
      listWindow(std::make_unique<CRecWindow>(recordedPage, reservationPage)) {
    tray.onCommand = [this](int id) { RunCommand(id); };
    standby.onCancel = [] {};
    const auto guide = [this] {
        if (showGuide) {
            showGuide();
        }
    };
    const auto settings = [this] { return OpenSettings(); };
    const auto help = [this] { ShowHelp(); };
    reservationPage->showGuide = guide;
    reservationPage->openSettings = settings;
    reservationPage->showHelp = help;
    reservationPage->refreshGuide = [this] {
        if (refreshGuide) {
            refreshGuide();
        }
    };
    reservationPage->saveReservations = [this] {
        this->stores.reservations.SaveReservations(this->stores.ReservationsPath());
    };
    recordedPage->showGuide = guide;
    recordedPage->openSettings = settings;
    recordedPage->showHelp = help;
    recordedPage->playFile = [this](const std::string& path, bool) {
        this->shell.OpenFileWindow(path);
    };
    shell.onPlayPosition = [this](const std::u16string& path, uint32_t milliseconds) {
        recordedPage->SetResume(Utf16ToUtf8(path), milliseconds);
    };
    shell.onRecordingFinished = [this](const std::u16string& path) {
        recordedPage->AddRecording(Utf16ToUtf8(path));
    };
    MakeGuide();
}

CApplicationFrame::~CApplicationFrame() {
    // Hidden first, so that their places are written.
    guide->hide();
    listWindow->hide();
    shell.guideWindow = nullptr;
    shell.sweepViewers = nullptr;
    shell.onPlayPosition = nullptr;
    shell.onRecordingFinished = nullptr;
}

// The guide is made once, hidden, and lives as long as the frame.
void CApplicationFrame::MakeGuide() {
    guide = std::make_unique<CEPGWindow>(shell);
    guide->reservationFile = stores.ReservationsPath();
    guide->editReservation = [this](CRecSchedule& reservation) {
        CRecDialog dialog(shell, shell.Windows(), reservation, guide.get());
        return dialog.exec() == QDialog::Accepted;
    };
    guide->stopRecording = [this](CRecSchedule& reservation) {
        CTuner* tuner =
            reservation.channel != nullptr ? reservation.channel->tuningSpace->tuner : nullptr;
        for (const auto& window : shell.Windows().Windows()) {
            if (window->Tuner() == tuner && window->Graph().IsRecording()) {
                shell.StopReservationRecording(window.get());
            }
        }
    };
    guide->reservationsChanged = [this] { reservationPage->Refill(); };
    guide->openReservationList = [this] { RunCommand(CTrayIcon::kReservations); };
    guide->openRecordedFiles = [this] { RunCommand(CTrayIcon::kRecordedFiles); };
    guide->openSettings = [this] { RunCommand(CTrayIcon::kSettings); };
    guide->openHelp = [this] { ShowHelp(); };
    recordedPage->linkEvent = [this](CRecFile& file) {
        guide->SetRecorded(file.transportStreamId, file.serviceId, file.eventId);
    };
    const QString data = QString::fromStdString(stores.folders.data);
    CWindowGeometry::Keep(*guide, QStringLiteral("Guide"), data);
    CWindowGeometry::Keep(*listWindow, QStringLiteral("Lists"), data);
    sweepViewers = std::make_unique<CGuideSweepViewers>(shell, *guide);
    shell.guideWindow = guide.get();
    shell.sweepViewers = sweepViewers.get();
    guide->ShowSpace(stores.epg.SpaceOfType(CTuningSpace::kTerrestrial));
    showGuide = [this] {
        if (!guide->isVisible()) {
            // Opened on the hour now on air rather than on midnight.
            const TimeValue now = stores.epg.Now();
            guide->ScrollTo(int((now - guide->BaseTime()) / 3600), guide->LeftColumn());
        }
        guide->show();
        guide->raise();
        guide->activateWindow();
    };
    refreshGuide = [this] { guide->SpacesRebuilt(); };
}

void CApplicationFrame::Attach(CSchedulerDriver& scheduler) {
    CMainTimer& timer = scheduler.Scheduling().Timer();
    AttachTimer(timer);
    timer.setTrayIcon = [this](int icon) { tray.ShowIcon(icon); };
    standby.onCancel = [&timer] {
        timer.standbyCountdown = 0;
        timer.wokenForReservation = false;
    };
    scheduler.afterTick = [this, &timer] { standby.SetSecondsLeft(timer.standbyCountdown); };
    const auto resident = [this] { return !exiting && QSystemTrayIcon::isSystemTrayAvailable(); };
    scheduler.stayResident = resident;
    keepAwake = [&scheduler](bool display) { scheduler.Power().SetSystemRequired(display); };
    shell.panelCommands = Commands();
    shell.onAllWindowsGone = [this, resident] {
        stores.SaveAll();
        if (!resident()) {
            QApplication::quit();
        }
    };
}

CViewingWindow* CApplicationFrame::OpenFirstViewer() {
    CTuner* tuner = nullptr;
    for (CTuner* each : stores.tuners.Tuners()) {
        if (each->displayName == stores.settings.lastTuner) {
            tuner = each;
        }
    }
    if (tuner == nullptr) {
        tuner = stores.FirstTuner();
    }
    CViewingWindow* view = tuner != nullptr ? shell.OpenTunerWindow(tuner) : nullptr;
    if (view != nullptr) {
        mainViewer = view->Engine();
        PlaceViewer(*view, stores.settings.position);
    }
    return view;
}

void CApplicationFrame::PlaceViewer(CViewingWindow& view, const std::array<int32_t, 4>& rect) {
    int left = rect[0];
    int top = rect[1];
    const int width = rect[2] - rect[0] < 0 ? 860 : rect[2] - rect[0];
    const int height = rect[3] - rect[1] < 0 ? 480 : rect[3] - rect[1];
    if (top < 0) {
        left = 0;
        top = 0;
    }
    view.move(left, top);
    if (width < 100 || height < 100) {
        view.SetPictureSize(853, 480);
        return;
    }
    // The size is kept too: the rectangle is the outer frame, less what the desktop adds.
    const QSize decoration = view.frameGeometry().size() - view.geometry().size();
    view.resize(std::max(width - decoration.width(), view.minimumWidth()),
                std::max(height - decoration.height(), view.minimumHeight()));
}

void CApplicationFrame::AttachTimer(CMainTimer& timer) {
    CMainTimer::EpgWindowHooks& hooks = timer.epg;
    hooks.exists = [] { return true; };
    hooks.sweepRunning = [this] { return guide->Sweep().IsRunning(); };
    hooks.sweepRequested = [this] { return guide->SweepRequested(); };
    hooks.requestSweep = [this] { guide->RequestSweep(); };
    hooks.minuteTick = [this] { guide->OnTick(); };
    hooks.refreshIfVisible = [this] {
        if (guide->isVisible()) {
            guide->ShowSpace(guide->CurrentSpace());
        }
    };
}

void CApplicationFrame::Start() {
    recordedPage->ReloadFiles();
    tray.Show();
}

AppCommands CApplicationFrame::Commands() {
    AppCommands commands;
    commands.showGuide = [this] { RunCommand(CTrayIcon::kGuide); };
    commands.showReservations = [this] { RunCommand(CTrayIcon::kReservations); };
    commands.showRecordedFiles = [this] { RunCommand(CTrayIcon::kRecordedFiles); };
    commands.openSettings = [this] { RunCommand(CTrayIcon::kSettings); };
    commands.showHelp = [this] { RunCommand(CTrayIcon::kHelp); };
    commands.checkForUpdate = [this] { RunCommand(CTrayIcon::kUpdateCheck); };
    commands.openHomePage = [this] { RunCommand(CTrayIcon::kHomePage); };
    commands.exit = [this] { RunCommand(CTrayIcon::kExit); };
    commands.openNewWindow = [this](CVideoWindow& from) { OpenNewWindow(from); };
    commands.chooseFile = [] {
        return QFileDialog::getOpenFileName(
            nullptr, QString(), QString(),
            QStringLiteral("TS (*.mpg *.mpeg *.ts *.trp);;All File(*.*)"));
    };
    commands.keepAwake = keepAwake;
    return commands;
}

void CApplicationFrame::RunCommand(int id) {
    switch (id) {
        case CTrayIcon::kWatch:
            Watch();
            break;
        case CTrayIcon::kGuide:
            if (showGuide) {
                showGuide();
            }
            break;
        case CTrayIcon::kReservations:
            listWindow->OpenPage(1);
            break;
        case CTrayIcon::kRecordedFiles:
            listWindow->OpenPage(0);
            break;
        case CTrayIcon::kSettings:
            OpenSettings();
            break;
        case CTrayIcon::kHelp:
            ShowHelp();
            break;
        case CTrayIcon::kUpdateCheck:
            shell.ShowMessage(u"このバージョンには最新版の確認がありません。", u"Orvanta",
                              MessageIcon::kInformation, MessageButtons::kOk);
            break;
        case CTrayIcon::kHomePage:
            ShowHelp();
            break;
        case CTrayIcon::kExit:
            Exit();
            break;
        default:
            break;
    }
}

void CApplicationFrame::OpenNewWindow(CVideoWindow& from) {
    // A tuner no window uses, when there is one.
    CTuner* free = nullptr;
    for (CTuner* tuner : stores.tuners.Tuners()) {
        bool used = false;
        for (const auto& window : shell.Windows().Windows()) {
            used = used || window->Tuner() == tuner;
        }
        if (!used) {
            free = tuner;
            break;
        }
    }
    const std::array<int32_t, 4> rect = from.View().WindowRect();
    CViewingWindow* view = shell.OpenTunerWindow(free);
    if (view == nullptr) {
        return;
    }
    // 40 pixels right and down of the window it came from, kept on the screen.
    QPoint at(rect[0] + 40, rect[1] + 40);
    if (const QScreen* screen = view->screen()) {
        const QRect area = screen->availableGeometry();
        if (at.x() + view->frameGeometry().width() > area.right()) {
            at.setX(0);
        }
        if (at.y() + view->frameGeometry().height() > area.bottom()) {
            at.setY(0);
        }
    }
    view->move(at);
    view->ShowAndActivate();
}

void CApplicationFrame::ShowHelp(const QString& page) {
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/help/");
    openUrl(QUrl::fromLocalFile(folder + page));
}

bool CApplicationFrame::OpenSettings(int page) {
    if (!settingsDialog) {
        settingsDialog =
            std::make_unique<CPropertyWindow>(shell, shell.Windows(), stores.folders.data);
        CWindowGeometry::Keep(*settingsDialog, QStringLiteral("Settings"),
                              QString::fromStdString(stores.folders.data));
        settingsDialog->showHelp = [this] { ShowHelp(); };
        settingsDialog->guideRebuilt = [this] {
            if (refreshGuide) {
                refreshGuide();
            }
        };
    }
    if (!settingsDialog->Open(page)) {
        return false;
    }
    stores.settings.SaveSettings(stores.SettingsPath(), stores.tuners.Tuners());
    reservationPage->RefreshFolderLabels();
    return true;
}

void CApplicationFrame::Watch() {
    const auto& windows = shell.Windows().Windows();
    CVideoWindow* shown = nullptr;
    for (const auto& window : windows) {
        if (window.get() == mainViewer) {
            shown = mainViewer;
        }
    }
    if (shown == nullptr) {
        for (const auto& window : windows) {
            if (window->View().IsVisible()) {
                shown = window.get();
                break;
            }
        }
    }
    if (shown == nullptr) {
        OpenFirstViewer();
        return;
    }
    shown->View().Show();
    shell.Windows().ActivateWindow(shown);
}

bool CApplicationFrame::Exit() {
    std::vector<CVideoWindow*> recording;
    for (const auto& window : shell.Windows().Windows()) {
        if (window->Graph().Recorder().IsRecording()) {
            recording.push_back(window.get());
        }
    }
    if (!recording.empty()) {
        if (shell.ShowMessage(u"録画中です。終了してよろしいですか？", u"警告",
                              MessageIcon::kExclamation,
                              MessageButtons::kOkCancel) != MessageResult::kOk) {
            return false;
        }
        for (CVideoWindow* window : recording) {
            CTuner* tuner = window->Tuner();
            const bool reservation =
                tuner != nullptr && shell.GetTunerState(tuner) == TunerReservationState::kRecording;
            CRecSchedule* recorded =
                reservation ? stores.reservations.GetTunerNext(tuner).nextReservation : nullptr;
            window->StopWindowRecording();
            if (recorded != nullptr) {
                // The scheduler lets the reservation go first; whatever it left is removed.
                shell.GiveUpReservation(tuner);
                if (stores.reservations.IndexOf(recorded) >= 0) {
                    stores.reservations.RemoveReservation(recorded);
                }
            }
        }
    } else if (shell.ShowMessage(u"終了してよろしいですか？", u"終了", MessageIcon::kQuestion,
                                 MessageButtons::kOkCancel) != MessageResult::kOk) {
        return false;
    }
    exiting = true;
    std::vector<CVideoWindow*> open;
    for (const auto& window : shell.Windows().Windows()) {
        open.push_back(window.get());
    }
    if (open.empty()) {
        shell.AllWindowsGone();
    }
    for (CVideoWindow* window : open) {
        window->Close();
    }
    return true;
}
