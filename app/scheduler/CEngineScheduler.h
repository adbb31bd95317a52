#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/engine/CVideoWindow.h"
#include "app/scheduler/CMainTimer.h"
#include "app/scheduler/CScheduler.h"
#include "app/scheduler/CVideoWindowSeat.h"
#include "platform/power/PowerManager.h"

// The reservation scheduler and the main timer joined to the engine's viewing windows: the
// scheduler's host over the engine host and its window list, and the seams the engine host
// forwards to. What needs the user interface (making a window's view, posting its close,
// showing a failure, saving the stores) comes in through the hooks; the user interface drives
// the main timer.
//
// Everything is called on the user-interface thread.
class CEngineScheduler final : public ISchedulerHost {
public:
    struct Hooks {
        // Opens an automatic viewing window on the tuner (the user interface makes its view);
        // null when it could not be opened.
        std::function<CVideoWindow*(CTuner* tuner, bool withoutVideo)> openAutomaticWindow;
        // Posts the window's close command.
        std::function<void(CVideoWindow* window)> postClose;
        // Shows a failure to the user.
        std::function<void(const std::u16string& text)> report;
        // Saves every store.
        std::function<void()> saveAll;
    };

    CEngineScheduler(IEngineHost& engine, CVideoWindowList& windows, power::IPowerManager& power,
                     Hooks hooks);
    CEngineScheduler(const CEngineScheduler&) = delete;
    CEngineScheduler& operator=(const CEngineScheduler&) = delete;

    // ISchedulerHost
    IReservationWindow* OpenAutomaticWindow(CTuner* tuner, bool withoutVideo) override;
    std::vector<IReservationWindow*> ViewingWindows() override;
    bool RecordWithoutVideo() override;
    bool IsEpgSweepRunning(IReservationWindow* window) override;
    void EndEpgSweep(IReservationWindow* window) override;
    void ReservationDropping(CRecSchedule& reservation) override;
    void ReportReservationFailure(const std::u16string& text) override;
    void SaveAll() override;
    void Suspend() override;

    // The window is being destroyed: its seat goes with it.
    void WindowDestroyed(CVideoWindow* window) { seams.Forget(window); }
    // Whether the scheduler still has something to do: a reservation, a recording, a standby
    // countdown, or a computer woken for a reservation.
    bool HasWork() const;

    CScheduler& Scheduler() { return scheduler; }
    CSchedulerEngineSeams& Seams() { return seams; }
    CMainTimer& Timer() { return timer; }

private:
    IEngineHost& engine;
    CVideoWindowList& windows;
    power::IPowerManager& power;
    Hooks hooks;
    CScheduler scheduler;
    CSchedulerEngineSeams seams;
    CMainTimer timer;
};

// An engine host whose scheduler seams go to an engine scheduler once one is attached; until
// then every tuner is idle, as with no scheduler.
class CSchedulingEngineHost : public IEngineHost {
public:
    void AttachScheduler(CEngineScheduler* attached) { engineScheduler = attached; }

    TunerReservationState GetTunerState(const CTuner* tuner) override;
    void GiveUpReservation(CTuner* tuner) override;
    void StopReservationRecording(CVideoWindow* window) override;
    void SetTunerWindow(CTuner* tuner, CVideoWindow* window) override;
    void FollowReservations(CEventInfo* const* events, size_t count) override;

protected:
    CEngineScheduler* engineScheduler = nullptr;
};
