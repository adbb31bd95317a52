#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>

#include "app/engine/CVideoWindow.h"
#include "app/engine/EngineHost.h"
#include "app/scheduler/CEngineScheduler.h"
#include "app/startup/CAppStores.h"
#include "app/ui/QtUiThread.h"
#include "app/ui/ViewingWindow.h"

class CEPGWindow;
class CGuideSweepViewers;

// The application's side of the viewing windows on Qt: it gives the engine the stores, the
// user-interface thread, message boxes and the wait cursor, opens viewing windows for tuners
// and files, destroys them when they have closed, and ends the run when the last one is gone.
class CViewerShell final : public CSchedulingEngineHost {
public:
    explicit CViewerShell(CAppStores& stores);
    ~CViewerShell() override;

    // A window on the tuner, tuned to its start channel; null when it could not be opened.
    CViewingWindow* OpenTunerWindow(CTuner* tuner);
    // A window playing the file.
    CViewingWindow* OpenFileWindow(const std::string& path);
    // A window the scheduler opens for a reservation; null when it could not be opened.
    CViewingWindow* OpenAutomaticWindow(CTuner* tuner, bool withoutVideo);
    // Posts the window's close command.
    void PostClose(CVideoWindow* window);

    CVideoWindowList& Windows() { return windows; }
    // The last window is gone: by default the run ends.
    void AllWindowsGone();
    std::function<void()> onAllWindowsGone;
    // What the windows' control panels offer besides the window's own commands.
    AppCommands panelCommands;
    // The frame's guide window with its sweep viewers, and the recorded-file list's part (the
    // play positions of files and finished recordings), once the frame has made them.
    CEPGWindow* guideWindow = nullptr;
    CGuideSweepViewers* sweepViewers = nullptr;
    std::function<void(const std::u16string& path, uint32_t milliseconds)> onPlayPosition;
    std::function<void(const std::u16string& path)> onRecordingFinished;

    // IEngineHost
    CSettings& Settings() override { return stores.settings; }
    CTunerList& Tuners() override { return stores.tuners; }
    CEpgStore& EpgStore() override { return stores.epg; }
    CLogoList& Logos() override { return stores.logos; }
    CRecScheduleList& Reservations() override { return stores.reservations; }
    IUiThread& UiThread() override { return uiThread; }
    MessageResult ShowMessage(const std::u16string& text, const std::u16string& caption,
                              MessageIcon icon, MessageButtons buttons) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void PostMainWindowMessage(uint32_t message, CVideoWindow* window) override;
    bool EpgWindowExists() override { return guideWindow != nullptr; }
    void MarkEventOnAir(CVideoWindow* window, uint16_t transportStreamId, uint16_t serviceId,
                        uint16_t eventId) override;
    bool IsEpgSweepRunning(CVideoWindow* window) override;
    void RestartEpgSweepDwell(CVideoWindow* window) override;
    void EndEpgSweep(CVideoWindow* window) override;
    void HandOverPlayPosition(const std::u16string& path, uint32_t milliseconds) override;
    void RecordingFinished(const std::u16string& path) override;

private:
    CViewingWindow* Open(CTuner* tuner, bool automatic = false, bool withoutVideo = false);
    void Destroy(CVideoWindow* window);

    CAppStores& stores;
    CQtUiThread uiThread;
    CVideoWindowList windows{*this};
    std::map<CVideoWindow*, std::unique_ptr<CViewingWindow>> views;
};
