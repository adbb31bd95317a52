#include "app/scheduler/CEngineScheduler.h"

#include "app/stores/CEpgStore.h"
#include "app/stores/CSettings.h"
#include "app/stores/CTunerList.h"

CEngineScheduler::CEngineScheduler(IEngineHost& engine, CVideoWindowList& windows,
                                   power::IPowerManager& power, Hooks hooks)
    : engine(engine),
      windows(windows),
      power(power),
      hooks(std::move(hooks)),
      scheduler(*this, engine.Tuners().Tuners(), engine.Reservations()),
      seams(scheduler, this->hooks.postClose),
      timer(scheduler, engine.Reservations(), power) {}

IReservationWindow* CEngineScheduler::OpenAutomaticWindow(CTuner* tuner, bool withoutVideo) {
    CVideoWindow* window =
        hooks.openAutomaticWindow ? hooks.openAutomaticWindow(tuner, withoutVideo) : nullptr;
    if (window == nullptr) {
        return nullptr;
    }
    if (!window->Graph().IsBuilt()) {
        // The failure has been shown; the window goes, and the tuner has none.
        IReservationWindow* seat = seams.SeatOf(window);
        seat->PostClose();
        scheduler.SetTunerWindow(tuner, nullptr);
        return nullptr;
    }
    return seams.SeatOf(window);
}

std::vector<IReservationWindow*> CEngineScheduler::ViewingWindows() {
    std::vector<IReservationWindow*> open;
    for (const auto& window : windows.Windows()) {
        open.push_back(seams.SeatOf(window.get()));
    }
    return open;
}

bool CEngineScheduler::RecordWithoutVideo() {
    return engine.Settings().recordWithoutVideo;
}

bool CEngineScheduler::IsEpgSweepRunning(IReservationWindow* window) {
    return engine.IsEpgSweepRunning(&static_cast<CVideoWindowSeat*>(window)->Window());
}

void CEngineScheduler::EndEpgSweep(IReservationWindow* window) {
    engine.EndEpgSweep(&static_cast<CVideoWindowSeat*>(window)->Window());
}

void CEngineScheduler::ReservationDropping(CRecSchedule& reservation) {
    CEventInfo* event = engine.EpgStore().FindEpgEvent(reservation.transportStreamId,
                                                       reservation.serviceId, reservation.eventId);
    if (event != nullptr && event->reservation == &reservation) {
        event->reservation = nullptr;
    }
}

void CEngineScheduler::ReportReservationFailure(const std::u16string& text) {
    if (hooks.report) {
        hooks.report(text);
    }
}

void CEngineScheduler::SaveAll() {
    if (hooks.saveAll) {
        hooks.saveAll();
    }
}

void CEngineScheduler::Suspend() {
    power.Suspend();
}

bool CEngineScheduler::HasWork() const {
    const CScheduler::TickSummary& tick = scheduler.LastTick();
    return engine.Reservations().First() != nullptr || tick.anyWindowRecords ||
           tick.highestState != TunerReservationState::kIdle || timer.standbyCountdown > 0 ||
           timer.wokenForReservation;
}

TunerReservationState CSchedulingEngineHost::GetTunerState(const CTuner* tuner) {
    return engineScheduler != nullptr ? engineScheduler->Seams().GetTunerState(tuner)
                                      : TunerReservationState::kIdle;
}

void CSchedulingEngineHost::GiveUpReservation(CTuner* tuner) {
    if (engineScheduler != nullptr) {
        engineScheduler->Seams().GiveUpReservation(tuner);
    }
}

void CSchedulingEngineHost::StopReservationRecording(CVideoWindow* window) {
    if (engineScheduler != nullptr) {
        engineScheduler->Seams().StopReservationRecording(window);
    }
}

void CSchedulingEngineHost::SetTunerWindow(CTuner* tuner, CVideoWindow* window) {
    if (engineScheduler != nullptr) {
        engineScheduler->Seams().SetTunerWindow(tuner, window);
    }
}

void CSchedulingEngineHost::FollowReservations(CEventInfo* const* events, size_t count) {
    if (engineScheduler != nullptr) {
        engineScheduler->Seams().FollowReservations(events, count);
    }
}
