#include "app/scan/CScanThread.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "app/engine/CVideoWindow.h"
#include "app/engine/UiThread.h"
#include "app/scan/ScanServices.h"
#include "app/stores/CTuner.h"
#include "sianalyzer/ICSIList.h"

CScanThread::CScanThread(IUiThread& uiThread, CVideoWindow& window, CTuningSpace& space,
                         IScanPage& page, ScanLimits limits)
    : uiThread(uiThread), window(window), space(space), page(page), limits(limits) {}

CScanThread::~CScanThread() {
    RequestStop();
    Stop();
}

void CScanThread::Install() {
    CViewerGraph& graph = window.Graph();
    savedNotifyMask =
        graph.Analyzer() != nullptr ? graph.Analyzer()->GetNotifyFlags() : graph.NotifyMask();
    savedSdtCallback = graph.callbacks.sdt;
    graph.callbacks.sdt = [this](CViewerGraph&, uint8_t tableId, uint16_t onid, uint16_t tsid) {
        OnSdt(tableId, onid, tsid);
    };
    if (graph.Analyzer() != nullptr) {
        graph.Analyzer()->SetNotifyFlags(kScanNotifyMask);
    }
    installed = true;
}

void CScanThread::Finish() {
    if (installed) {
        installed = false;
        CViewerGraph& graph = window.Graph();
        graph.StopGraph();
        if (graph.Analyzer() != nullptr) {
            graph.Analyzer()->SetNotifyFlags(savedNotifyMask);
        }
        graph.callbacks.sdt = std::move(savedSdtCallback);
        savedSdtCallback = nullptr;
    }
    // The callback may destroy this object.
    const std::function<void()> callback = std::move(ended);
    ended = nullptr;
    if (callback) {
        callback();
    }
}

void CScanThread::Run() {
    const int32_t count = space.physicalChannels.GetCount();
    for (int32_t index = 0; index < count && !IsStopRequested(); ++index) {
        const CChannelInfo* physical = space.physicalChannels.At(index);
        tuning = true;
        currentIndex = index;
        CallOnUi([this, physical, index] {
            // The graph is built again for each channel, so that it starts on the new stream
            // alone: nothing of the previous channel is still on its way to the analyzer, and
            // its store holds no tables of another stream.
            CTuner* tuner = space.tuner;
            tuner->currentChannel = const_cast<CChannelInfo*>(physical);
            window.SwitchToTuner(tuner);
            if (IQVSIAnalyzer* analyzer = window.Graph().Analyzer()) {
                analyzer->SetNotifyFlags(kScanNotifyMask);
            }
            page.SetScanProgress(index);
            ShowChannel(*physical);
            // From here on the new stream's tables count.
            tuning = false;
        });
        tuning = false;
        WaitOnChannel(*physical);
    }
    // The thread object goes only on the user-interface thread, so the check cannot race.
    uiThread.Post([this, alive = std::weak_ptr<bool>(lifetime)] {
        if (!alive.expired()) {
            Finish();
        }
    });
}

void CScanThread::WaitOnChannel(const CChannelInfo& physical) {
    uint32_t sinceReading = 0;
    int32_t zeroSeconds = 0;
    for (uint32_t elapsed = 0; elapsed < limits.channelWait && !IsStopRequested();
         elapsed += limits.pollInterval) {
        Sleep(limits.pollInterval);
        sinceReading += limits.pollInterval;
        if (sinceReading < limits.signalPeriod) {
            continue;
        }
        sinceReading -= limits.signalPeriod;
        float level = 0.0f;
        if (!CallOnUi([this, &physical, &level] {
                CollectServices();
                if (watchSignal) {
                    level = ShowChannel(physical);
                }
            })) {
            return;
        }
        if (!watchSignal) {
            continue;
        }
        zeroSeconds = level != 0.0f ? 0 : zeroSeconds + 1;
        if (zeroSeconds >= limits.zeroSignalLimit) {
            break;
        }
    }
    // The last look before the next channel.
    if (!IsStopRequested()) {
        CallOnUi([this] { CollectServices(); });
    }
}

void CScanThread::Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool CScanThread::CallOnUi(std::function<void()> task) {
    struct Call {
        std::mutex mutex;
        std::condition_variable done;
        bool started = false;
        bool finished = false;
        bool abandoned = false;
    };
    auto call = std::make_shared<Call>();
    uiThread.Post([call, task = std::move(task)] {
        {
            std::lock_guard<std::mutex> lock(call->mutex);
            if (call->abandoned) {
                return;
            }
            call->started = true;
        }
        task();
        std::lock_guard<std::mutex> lock(call->mutex);
        call->finished = true;
        call->done.notify_all();
    });
    std::unique_lock<std::mutex> lock(call->mutex);
    while (!call->finished) {
        // A task that has begun is waited for: it may write to this thread's locals.
        if (IsStopRequested() && !call->started) {
            call->abandoned = true;
            return false;
        }
        call->done.wait_for(lock, std::chrono::milliseconds(limits.pollInterval));
    }
    return true;
}

float CScanThread::ShowChannel(const CChannelInfo& physical) {
    const float level = window.Graph().ReadSignalLevel();
    ICWString text;
    text.Format(u"%s  %.1lf dB", physical.name.GetText(), double(level));
    page.SetScanStatus(text);
    return level;
}

void CScanThread::OnSdt(uint8_t tableId, uint16_t originalNetworkId, uint16_t transportStreamId) {
    const int32_t index = currentIndex;
    if (tuning || tableId != scan::kTableSdtActual || index < 0) {
        return;
    }
    IQVSIAnalyzer* analyzer = window.Graph().Analyzer();
    ICSIList* si = analyzer != nullptr ? analyzer->GetSIList() : nullptr;
    if (si == nullptr) {
        return;
    }
    // GetSIList hands the store out held; the hold is let go when done.
    AddServices(*si, originalNetworkId, transportStreamId);
    si->Release();
}

void CScanThread::CollectServices() {
    IQVSIAnalyzer* analyzer = window.Graph().Analyzer();
    ICSIList* si = analyzer != nullptr ? analyzer->GetSIList() : nullptr;
    if (si == nullptr) {
        return;
    }
    if (tuning || currentIndex < 0) {
        si->Release();
        return;
    }
    // The graph is built anew for each channel: its PAT is the stream's own.
    if (ICSIPAT* pat = si->GetPATCount() > 0 ? si->GetPAT(0) : nullptr) {
        const uint16_t transportStreamId = pat->GetTransportStreamID();
        for (int32_t i = 0; i < si->GetSDTCount(); ++i) {
            const ICSISDT* sdt = si->GetSDT(i);
            if (sdt != nullptr && sdt->GetTransportStreamID() == transportStreamId) {
                AddServices(*si, sdt->GetOriginalNetworkID(), transportStreamId);
            }
        }
    }
    si->Release();
}

void CScanThread::AddServices(ICSIList& si, uint16_t originalNetworkId,
                              uint16_t transportStreamId) {
    const int32_t index = currentIndex;
    const CChannelInfo* physical = space.physicalChannels.At(index);
    if (physical == nullptr) {
        return;
    }
    const auto added =
        scan::AddScannedServices(si, space, index, *physical, originalNetworkId, transportStreamId);
    for (const scan::AddedService& service : added) {
        page.InsertScanService(service.position, *service.channel);
    }
}
