#include "app/scan/CChannelScan.h"

#include "app/engine/CVideoWindow.h"
#include "app/engine/EngineHost.h"
#include "app/stores/CRecScheduleList.h"
#include "app/stores/CTuner.h"
#include "app/stores/CTunerList.h"

CChannelScan::CChannelScan(IEngineHost& host, CVideoWindowList& windows, IScanPage& page,
                           ScanLimits limits)
    : host(host), windows(windows), page(page), limits(limits) {}

CChannelScan::~CChannelScan() {
    if (thread != nullptr) {
        thread->RequestStop();
        thread->Stop();
        thread->Finish();
    }
}

bool CChannelScan::StartOrStop(CTuner* tuner, int32_t spaceIndex, bool watchSignal) {
    if (thread != nullptr) {
        thread->RequestStop();
        return false;
    }
    return Start(tuner, spaceIndex, watchSignal);
}

void CChannelScan::SetWatchSignal(bool watch) {
    if (thread != nullptr) {
        thread->watchSignal = watch;
    }
}

bool CChannelScan::Start(CTuner* tuner, int32_t spaceIndex, bool watchSignal) {
    CTuningSpace* space = tuner != nullptr ? tuner->tuningSpaces.At(spaceIndex) : nullptr;
    window = windows.ActiveWindow();
    if (space == nullptr || window == nullptr) {
        return false;
    }
    page.SetScanStatus(ICWString());
    page.SetScanProgress(0);
    page.SetScanControlsEnabled(false);

    // The services are replaced; the tuner must not keep pointing at one of them, and the
    // window's graph is rebuilt (for the scanned tuner) before they go.
    if (tuner->currentChannel != nullptr && tuner->currentChannel->tuningSpace == space &&
        space->channels.IndexOf(tuner->currentChannel) >= 0) {
        tuner->currentChannel = nullptr;
    }
    previousTuner = window->Tuner();
    if (FAILED(window->SwitchToTuner(tuner))) {
        window->SwitchToTuner(previousTuner);
        page.SetScanControlsEnabled(true);
        window = nullptr;
        return false;
    }
    host.Reservations().UnlinkChannelsOf(space);
    space->channels.RemoveAll(true);
    page.SetScanProgressRange(space->physicalChannels.GetCount());
    page.ClearScanList();

    thread = std::make_unique<CScanThread>(host.UiThread(), *window, *space, page, limits);
    thread->watchSignal = watchSignal;
    thread->ended = [this] { OnEnded(); };
    thread->Install();
    thread->Start();
    return true;
}

void CChannelScan::OnEnded() {
    // Called from the thread's Finish on the user-interface thread; the thread has left its
    // body, so destroying it only joins.
    thread.reset();
    window->SwitchToTuner(previousTuner);
    window = nullptr;
    page.SetScanStatus(ICWString());
    page.SetScanProgress(0);
    page.SetScanControlsEnabled(true);
    page.SetScanStatus(ICWString(u"スキャン終了"));
    host.Reservations().RelinkReservations();
    host.Tuners().channelsDirty = true;
    changed = true;
}
