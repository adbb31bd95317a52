#pragma once

#include <cstdint>
#include <memory>

#include "app/scan/CScanThread.h"

class CTuner;
class CTuningSpace;
class CVideoWindow;
class CVideoWindowList;
class IEngineHost;

// The channel page's side of a scan: starts it on the active viewing window switched to the
// scanned tuner, stops it on request, and when the worker has ended switches the window back
// and reports "スキャン終了". Everything runs on the user-interface thread.
class CChannelScan {
public:
    CChannelScan(IEngineHost& host, CVideoWindowList& windows, IScanPage& page,
                 ScanLimits limits = {});
    // A scan still running is stopped, finished and its window switched back.
    ~CChannelScan();
    CChannelScan(const CChannelScan&) = delete;
    CChannelScan& operator=(const CChannelScan&) = delete;

    // The start button ("スキャン開始"): requests the stop of a running scan; otherwise empties
    // the tuning space `spaceIndex` of `tuner` and scans it. False when no scan started.
    bool StartOrStop(CTuner* tuner, int32_t spaceIndex, bool watchSignal);
    bool IsRunning() const { return thread != nullptr; }
    // The page's check box, also while a scan runs.
    void SetWatchSignal(bool watch);
    // Set when a scan ended: the page's lists must be saved when the settings are applied.
    bool changed = false;

private:
    bool Start(CTuner* tuner, int32_t spaceIndex, bool watchSignal);
    // The worker has ended (it has restored the graph).
    void OnEnded();

    IEngineHost& host;
    CVideoWindowList& windows;
    IScanPage& page;
    const ScanLimits limits;
    std::unique_ptr<CScanThread> thread;
    CVideoWindow* window = nullptr;
    CTuner* previousTuner = nullptr;
};
