#include "app/ui/ViewerShell.h"

#include <QApplication>
#include <QMessageBox>

#include "app/ui/GuideSweepViewers.h"
#include "app/ui/guide/CEPGWindow.h"
#include "core/CodePage.h"

CViewerShell::CViewerShell(CAppStores& appStores) : stores(appStores) {}

CViewerShell::~CViewerShell() {
    // The panels go first (they act on the engines), then the engines: their graphs stop
    // drawing into the views' picture areas.
    for (auto& [window, view] : views) {
        view->DropPanel();
    }
    while (!windows.Windows().empty()) {
        CVideoWindow* window = windows.Windows().front().get();
        windows.DestroyVideoWindow(window);
    }
    views.clear();
}

CViewingWindow* CViewerShell::Open(CTuner* tuner, bool automatic, bool withoutVideo) {
    auto view = std::make_unique<CViewingWindow>();
    CViewingWindow* viewPointer = view.get();
    // The engine may report on its view while it opens, so the view is shown and known first.
    viewPointer->show();
    CVideoWindow* window = windows.CreateVideoWindow(*viewPointer, tuner, automatic, withoutVideo);
    if (window == nullptr) {
        return nullptr;
    }
    viewPointer->Attach(window);
    viewPointer->AttachPanel(
        new CControlWindow(viewPointer, *viewPointer, *window, windows, *this, panelCommands));
    views[window] = std::move(view);
    windows.ActivateWindow(window);
    return viewPointer;
}

CViewingWindow* CViewerShell::OpenTunerWindow(CTuner* tuner) {
    CViewingWindow* view = Open(tuner);
    // A tuner without a current channel (never scanned) starts on its first channel.
    if (view != nullptr && tuner != nullptr && !view->Engine()->Graph().IsRunning()) {
        if (CChannelInfo* channel = CAppStores::StartChannel(*tuner)) {
            view->Engine()->TuneChannel(channel);
        }
    }
    return view;
}

CViewingWindow* CViewerShell::OpenFileWindow(const std::string& path) {
    CViewingWindow* view = Open(nullptr);
    if (view != nullptr) {
        view->Engine()->PlayFile(ICWString(Utf8ToUtf16(path)));
    }
    return view;
}

CViewingWindow* CViewerShell::OpenAutomaticWindow(CTuner* tuner, bool withoutVideo) {
    return Open(tuner, true, withoutVideo);
}

void CViewerShell::PostClose(CVideoWindow* window) {
    uiThread.Post([this, window] {
        if (const auto found = views.find(window); found != views.end()) {
            found->second->close();
        }
    });
}

MessageResult CViewerShell::ShowMessage(const std::u16string& text, const std::u16string& caption,
                                        MessageIcon icon, MessageButtons buttons) {
    QMessageBox box;
    box.setWindowTitle(QString::fromStdU16String(caption));
    // The texts break lines with "\r\n".
    box.setText(
        QString::fromStdU16String(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    switch (icon) {
        case MessageIcon::kError:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::kExclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::kInformation:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::kQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageIcon::kNone:
            break;
    }
    switch (buttons) {
        case MessageButtons::kOk:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MessageButtons::kOkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MessageButtons::kYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return MessageResult::kCancel;
        case QMessageBox::Yes:
            return MessageResult::kYes;
        case QMessageBox::No:
            return MessageResult::kNo;
        default:
            return MessageResult::kOk;
    }
}

void CViewerShell::BeginWaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void CViewerShell::EndWaitCursor() {
    QApplication::restoreOverrideCursor();
}

void CViewerShell::PostMainWindowMessage(uint32_t message, CVideoWindow* window) {
    if (message != kMsgVideoWindowClosed) {
        return;
    }
    // Destroyed after the close command that posted this has returned.
    uiThread.Post([this, window] { Destroy(window); });
}

void CViewerShell::MarkEventOnAir(CVideoWindow*, uint16_t transportStreamId, uint16_t serviceId,
                                  uint16_t eventId) {
    if (guideWindow != nullptr) {
        guideWindow->MarkEventOnAir(transportStreamId, serviceId, eventId);
    }
}

bool CViewerShell::IsEpgSweepRunning(CVideoWindow* window) {
    return sweepViewers != nullptr && sweepViewers->IsSweepViewer(window);
}

void CViewerShell::RestartEpgSweepDwell(CVideoWindow* window) {
    const auto found = views.find(window);
    if (found != views.end() && found->second->Panel() != nullptr) {
        found->second->Panel()->RestartSweepDwell(false);
    }
}

void CViewerShell::EndEpgSweep(CVideoWindow* window) {
    if (guideWindow != nullptr && IsEpgSweepRunning(window)) {
        guideWindow->StopSweep();
    }
}

void CViewerShell::HandOverPlayPosition(const std::u16string& path, uint32_t milliseconds) {
    if (onPlayPosition) {
        onPlayPosition(path, milliseconds);
    }
}

void CViewerShell::RecordingFinished(const std::u16string& path) {
    if (onRecordingFinished) {
        onRecordingFinished(path);
    }
}

void CViewerShell::Destroy(CVideoWindow* window) {
    const auto found = views.find(window);
    if (found == views.end()) {
        return;
    }
    if (sweepViewers != nullptr) {
        sweepViewers->WindowDestroyed(window);
    }
    std::unique_ptr<CViewingWindow> view = std::move(found->second);
    views.erase(found);
    view->DropPanel();
    if (engineScheduler != nullptr) {
        engineScheduler->WindowDestroyed(window);
    }
    windows.DestroyVideoWindow(window);
    view.reset();
    // The run goes on while the scheduler has something to do; its timer ends it afterwards.
    if (engineScheduler != nullptr && engineScheduler->HasWork()) {
        return;
    }
    if (views.empty()) {
        AllWindowsGone();
    }
}

void CViewerShell::AllWindowsGone() {
    if (onAllWindowsGone) {
        onAllWindowsGone();
    } else {
        QApplication::quit();
    }
}
