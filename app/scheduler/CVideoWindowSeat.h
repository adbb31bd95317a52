#pragma once

#include <functional>
#include <map>
#include <memory>

#include "app/engine/CVideoWindow.h"
#include "app/scheduler/CScheduler.h"

// A viewing window of the engine as the scheduler sees it.
class CVideoWindowSeat final : public IReservationWindow {
public:
    // `postClose` posts the window's close message (the user interface owns the window).
    CVideoWindowSeat(CVideoWindow& window, std::function<void(CVideoWindow*)> postClose)
        : window(window), postClose(std::move(postClose)) {}

    bool IsClosing() override { return closing; }
    TimeValue LiveApplicationTime() override;
    bool IsAutomatic() override { return window.IsAutomatic(); }
    bool IsRecording() override { return window.Graph().IsRecording(); }
    CChannelInfo* TunedChannel() override { return window.Graph().Channel(); }
    bool Tune(CChannelInfo* channel) override;
    bool StartRecording(const ICWString& folder) override;
    void StopRecording() override { window.StopWindowRecording(); }
    void StopGraph() override { window.Graph().StopGraph(); }
    bool RebuildGraph() override;
    void PostClose() override;

    CVideoWindow& Window() { return window; }

private:
    CVideoWindow& window;
    std::function<void(CVideoWindow*)> postClose;
    bool closing = false;
};

// The engine host's scheduler seams, joined to a scheduler: the host forwards its calls here,
// and this keeps a seat for every window that shows a tuner.
class CSchedulerEngineSeams {
public:
    CSchedulerEngineSeams(CScheduler& scheduler, std::function<void(CVideoWindow*)> postClose)
        : scheduler(scheduler), postClose(std::move(postClose)) {}

    TunerReservationState GetTunerState(const CTuner* tuner) const {
        return scheduler.GetTunerState(tuner);
    }
    void GiveUpReservation(CTuner* tuner) { scheduler.GiveUpReservation(tuner); }
    void StopReservationRecording(CVideoWindow* window);
    void SetTunerWindow(CTuner* tuner, CVideoWindow* window);
    void FollowReservations(CEventInfo* const* events, size_t count);

    // The seat of a window (made on first use).
    CVideoWindowSeat* SeatOf(CVideoWindow* window);
    // Forgets a window that is destroyed.
    void Forget(CVideoWindow* window) { seats.erase(window); }

private:
    CScheduler& scheduler;
    std::function<void(CVideoWindow*)> postClose;
    std::map<const CVideoWindow*, std::unique_ptr<CVideoWindowSeat>> seats;
};
