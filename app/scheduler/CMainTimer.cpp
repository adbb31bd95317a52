#include "app/scheduler/CMainTimer.h"

namespace {

// Bits of the periods in kPeriods.
constexpr uint32_t kHalfSecondBit = 1u << 1;
constexpr uint32_t kSecondBit = 1u << 2;
constexpr uint32_t kMinuteBit = 1u << 7;

}  // namespace

CMainTimer::CMainTimer(CScheduler& scheduler, CRecScheduleList& reservations,
                       power::IPowerManager& power)
    : scheduler(scheduler), reservations(reservations), power(power) {}

void CMainTimer::Start(uint32_t tickCount) {
    started = true;
    lastTick = tickCount;
}

uint32_t CMainTimer::Accumulate(uint32_t elapsed) {
    if (elapsed >= kLongestGap) {
        elapsed = kDelay;
    }
    uint32_t fired = 0;
    for (size_t index = 0; index < kPeriods.size(); ++index) {
        accumulated[index] += elapsed;
        if (accumulated[index] >= kPeriods[index]) {
            accumulated[index] -= kPeriods[index];
            fired |= 1u << index;
        }
    }
    return fired;
}

void CMainTimer::OnTimer(uint32_t tickCount) {
    if (!started) {
        return;
    }
    const uint32_t fired = Accumulate(tickCount - lastTick);
    lastTick = tickCount;
    if (fired & kHalfSecondBit) {
        OnHalfSecond();
    }
    if (fired & kSecondBit) {
        OnSecond();
    }
    if (fired & kMinuteBit) {
        OnMinute();
    }
}

bool CMainTimer::ReservationNear() const {
    return reservations.First() != nullptr && secondsToNextReservation < kReservationNear;
}

void CMainTimer::OnHalfSecond() {
    const CScheduler::TickSummary tick = scheduler.SchedulerTick();
    UpdateTrayIcon(tick.highestState);
    const CRecSchedule* nearest = reservations.First();
    secondsToNextReservation = nearest != nullptr ? nearest->GetStartTime() - tick.clock : 0;
    const bool recording =
        tick.anyWindowRecords || tick.highestState == TunerReservationState::kRecording;
    if (wokenForReservation && !recording && !epgWakePending && standbyCountdown == 0 &&
        !ReservationNear()) {
        standbyCountdown = kStandbyCountdown;
    }
}

void CMainTimer::UpdateTrayIcon(TunerReservationState highest) {
    int icon = kIconApplication;
    if (highest == TunerReservationState::kRecording) {
        ++blinkCounter;
        icon = (blinkCounter & 1) != 0 ? kIconReservation : kIconBlink;
    } else if (highest == TunerReservationState::kPrepared) {
        icon = kIconReservation;
    } else if (epg.sweepRunning()) {
        ++blinkCounter;
        icon = (blinkCounter & 1) != 0 ? kIconEpgSweep : kIconBlink;
    }
    if (icon != trayIcon) {
        trayIcon = icon;
        setTrayIcon(icon);
    }
}

void CMainTimer::OnSecond() {
    if (standbyCountdown <= 0 || --standbyCountdown > 0) {
        return;
    }
    wokenForReservation = false;
    secondsToNextReservation = 0;
    scheduler.EnterStandby();
}

void CMainTimer::OnMinute() {
    if (epgWakePending && !epg.sweepRunning() && !epg.sweepRequested()) {
        epgWakePending = false;
    }
    if (!scheduler.EnteringStandby() && (ReservationNear() || epgWakePending)) {
        power.SetSystemRequired(false);
    }
    epg.minuteTick();
}

void CMainTimer::OnScheduleRequest() {
    if (resumedFlag && scheduler.Clock() - resumedAt < kWakeRequestSpan) {
        wokenForReservation = true;
    }
}

void CMainTimer::OnEpgRequest() {
    OnScheduleRequest();
    if (epg.exists() && !epg.sweepRunning()) {
        epg.requestSweep();
    }
    epgWakePending = true;
}

void CMainTimer::OnPowerBroadcast(power::PowerBroadcast event) {
    switch (event) {
        case power::PowerBroadcast::kQuerySuspend:
            scheduler.PrepareSuspend(true);
            break;
        case power::PowerBroadcast::kSuspend:
            scheduler.PrepareSuspend(false);
            wokenForReservation = false;
            epgWakePending = false;
            standbyCountdown = 0;
            secondsToNextReservation = 0;
            scheduler.ClearEnteringStandby();
            power.SetSystemRequired(false);
            power.AcknowledgeSuspend();
            break;
        case power::PowerBroadcast::kResumeAutomatic:
            resumedAt = scheduler.localClock();
            resumedFlag = true;
            standbyCountdown = 0;
            secondsToNextReservation = 0;
            scheduler.ClearEnteringStandby();
            reloadReservations();
            scheduler.ReloadTunerNext();
            // The graphs were stopped for the sleep; they are built again before the next action.
            scheduler.RebuildWindows();
            break;
        case power::PowerBroadcast::kResumeSuspend:
            epg.refreshIfVisible();
            break;
    }
}
