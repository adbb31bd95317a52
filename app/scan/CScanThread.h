#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/engine/CViewerGraph.h"
#include "core/ICThread.h"
#include "core/ICWString.h"

class CChannelInfo;
class CTuningSpace;
class ICSIList;
class CVideoWindow;
class IUiThread;

// What the settings dialog's channel page shows of a scan. Called on the user-interface thread.
class IScanPage {
public:
    virtual ~IScanPage() = default;
    virtual void SetScanStatus(const ICWString& text) = 0;
    virtual void SetScanProgressRange(int32_t count) = 0;
    virtual void SetScanProgress(int32_t position) = 0;
    // The page's list of found services.
    virtual void ClearScanList() = 0;
    virtual void InsertScanService(int32_t position, const CChannelInfo& channel) = 0;
    // While a scan runs the dialog's buttons and the tuner and tuning-space selectors are off.
    virtual void SetScanControlsEnabled(bool enabled) = 0;
};

// How long the scan stays on a physical channel. The defaults are the broadcast ones; tests
// shorten them.
struct ScanLimits {
    uint32_t channelWait = 30000;  // ms from the tune
    uint32_t pollInterval = 100;   // ms between looks at the stop request
    uint32_t signalPeriod = 1000;  // ms between signal readings when the signal is watched
    int32_t zeroSignalLimit = 20;  // consecutive zero readings that move on to the next channel
};

// The worker of a channel scan: tunes the viewing window to each physical channel of a tuning
// space in turn and waits there while the graph's SDT sections (handled on the user-interface
// thread) add the stream's services to the space.
//
// Threading: every use of the window, its graph and the tuning space happens on the
// user-interface thread. The worker hands the tune and each signal reading to that thread and
// waits for them; it looks at its stop request at least every poll interval, also while it
// waits. SDT sections are ignored while a tune is under way. Install, Finish and the SDT
// handling run on the user-interface thread; the worker posts Finish when it has ended.
class CScanThread final : public ICThread {
public:
    static constexpr DWORD kScanNotifyMask = 0xFFFF0010;  // SDT sections and completions

    CScanThread(IUiThread& uiThread, CVideoWindow& window, CTuningSpace& space, IScanPage& page,
                ScanLimits limits = {});
    ~CScanThread() override;

    // Saves the graph's notification mask and SDT callback and puts the scan's in their place.
    void Install();
    // Stops the graph and gives it back its mask and SDT callback (once), then calls `ended`.
    void Finish();

    void Run() override;
    // The scan's SDT callback.
    void OnSdt(uint8_t tableId, uint16_t originalNetworkId, uint16_t transportStreamId);

    // The page's check box; may change during the scan.
    std::atomic<bool> watchSignal{false};
    // Called on the user-interface thread at the end of Finish.
    std::function<void()> ended;

private:
    // Runs `task` on the user-interface thread and waits for it. False when a stop request
    // came first (the task then never runs).
    bool CallOnUi(std::function<void()> task);
    // Status text with the channel's name and the signal level; returns the level.
    float ShowChannel(const CChannelInfo& physical);
    // Adds the services of the stream received now from what the analyzer holds. An SDT is
    // announced once per version: one that came in while the channel was being tuned, or before
    // the NIT it needs, is taken here at a later reading.
    void CollectServices();
    void AddServices(ICSIList& si, uint16_t originalNetworkId, uint16_t transportStreamId);
    // Waits on the tuned channel; returns when the time is up, the signal stayed away or a
    // stop was requested.
    void WaitOnChannel(const CChannelInfo& physical);
    void Sleep(uint32_t milliseconds);

    IUiThread& uiThread;
    CVideoWindow& window;
    CTuningSpace& space;
    IScanPage& page;
    const ScanLimits limits;
    std::atomic<bool> tuning{false};
    std::atomic<int32_t> currentIndex{-1};
    // The graph's values before the scan (user-interface thread only).
    DWORD savedNotifyMask = 0;
    decltype(CViewerGraph::Callbacks::sdt) savedSdtCallback;
    bool installed = false;
    std::shared_ptr<bool> lifetime = std::make_shared<bool>(true);
};
