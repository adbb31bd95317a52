#include "app/scheduler/CScheduler.h"

#include <memory>

#include "app/stores/CChannelInfo.h"
#include "app/stores/CTuner.h"
#include "sianalyzer/ICSITime.h"

namespace {

CTuner* TunerOfReservation(const CRecSchedule& reservation) {
    return reservation.channel != nullptr ? reservation.channel->tuningSpace->tuner : nullptr;
}

// Any service of the tuner, to stand for it in the reservation list.
CChannelInfo* AnyServiceOf(const CTuner& tuner) {
    for (const CTuningSpace* space : tuner.tuningSpaces) {
        if (CChannelInfo* channel = space->channels.First()) {
            return channel;
        }
    }
    return nullptr;
}

// Several steps may fall due in one tick (a recording ends and the next reservation's
// preparation time is already past); each step moves the action time on, this bounds the loop.
constexpr int kStepsPerTick = 3;

}  // namespace

CScheduler::CScheduler(ISchedulerHost& host, COwnedList<CTuner>& tuners,
                       CRecScheduleList& reservations)
    : host(host), tuners(tuners), reservations(reservations) {
    localClock = [] { return sitime::ToValue(sitime::LocalNow()); };
    reservations.clock = [this] { return clock != 0 ? clock : localClock(); };
    reservations.isRecording = [this](const CTuner* tuner) {
        return GetTunerState(tuner) == TunerReservationState::kRecording;
    };
}

CScheduler::~CScheduler() {
    reservations.clock = [] { return sitime::ToValue(sitime::LocalNow()); };
    reservations.isRecording = [](const CTuner*) { return false; };
}

CScheduler::TunerSlot& CScheduler::SlotOf(const CTuner* tuner) {
    return tunerSlots[tuner];
}

const CScheduler::TunerSlot& CScheduler::Slot(const CTuner* tuner) const {
    static const TunerSlot kNone;
    const auto found = tunerSlots.find(tuner);
    return found != tunerSlots.end() ? found->second : kNone;
}

CTuner* CScheduler::TunerOfWindow(const IReservationWindow* window) {
    for (auto& [tuner, slot] : tunerSlots) {
        if (slot.window == window) {
            return const_cast<CTuner*>(tuner);
        }
    }
    return nullptr;
}

TunerReservationState CScheduler::GetTunerState(const CTuner* tuner) const {
    return Slot(tuner).state;
}

void CScheduler::UpdateTunerNext(CTuner* tuner) {
    if (tuner == nullptr) {
        return;
    }
    TunerSlot& slot = SlotOf(tuner);
    if (slot.state == TunerReservationState::kRecording) {
        return;
    }
    reservations.UpdateTunerNext(tuner);
    const CRecScheduleList::TunerNext next = reservations.GetTunerNext(tuner);
    slot.nextReservation = next.nextReservation;
    slot.nextActionTime = next.nextActionTime;
}

void CScheduler::ReloadTunerNext() {
    for (CTuner* tuner : tuners) {
        TunerSlot& slot = SlotOf(tuner);
        slot.state = TunerReservationState::kIdle;
        UpdateTunerNext(tuner);
    }
}

CScheduler::TickSummary CScheduler::SchedulerTick() {
    TickSummary summary;
    bool clockKnown = false;
    for (CTuner* tuner : tuners) {
        TunerSlot& slot = SlotOf(tuner);
        if (slot.window != nullptr && !slot.window->IsClosing()) {
            if (const TimeValue live = slot.window->LiveApplicationTime(); live != 0) {
                clock = live;
                clockKnown = true;
            }
        }
        if (!clockKnown) {
            clock = localClock();
            clockKnown = true;
        }
        // A reservation made or removed since the last step (by the dialogs) changes an idle
        // tuner's next reservation; the list already knows it.
        if (slot.state == TunerReservationState::kIdle &&
            reservations.GetTunerNext(tuner).nextReservation != slot.nextReservation) {
            UpdateTunerNext(tuner);
        }
        for (int step = 0; step < kStepsPerTick; ++step) {
            if (slot.nextActionTime == 0 || clock < slot.nextActionTime) {
                break;
            }
            const TimeValue before = slot.nextActionTime;
            const TunerReservationState stateBefore = slot.state;
            if (slot.state == TunerReservationState::kIdle) {
                PrepareReservation(tuner);
            } else if (slot.state == TunerReservationState::kPrepared) {
                BeginReservation(tuner);
            } else if (slot.window != nullptr) {
                EndReservation(tuner);
            }
            if (slot.nextActionTime == before && slot.state == stateBefore) {
                break;
            }
        }
        if (slot.nextActionTime != 0 &&
            (summary.earliestAction == 0 || slot.nextActionTime < summary.earliestAction)) {
            summary.earliestAction = slot.nextActionTime;
        }
        if (slot.state > summary.highestState) {
            summary.highestState = slot.state;
        }
        summary.anyWindowRecords =
            summary.anyWindowRecords || (slot.window != nullptr && slot.window->IsRecording());
    }
    if (!clockKnown) {
        clock = localClock();
    }
    summary.clock = clock;
    lastTick = summary;
    return summary;
}

void CScheduler::DropAndMoveOn(CTuner* tuner) {
    TunerSlot& slot = SlotOf(tuner);
    slot.state = TunerReservationState::kIdle;
    if (slot.nextReservation != nullptr) {
        DropReservation(slot.nextReservation);
    }
    UpdateTunerNext(tuner);
}

void CScheduler::PrepareReservation(CTuner* tuner) {
    TunerSlot& slot = SlotOf(tuner);
    CRecSchedule* reservation = slot.nextReservation;
    if (reservation == nullptr) {
        return;
    }
    if (reservation->GetEndTime() < clock) {
        DropAndMoveOn(tuner);
        return;
    }
    const TimeValue start = reservation->GetStartTime();
    IReservationWindow* window = slot.window;
    if (window != nullptr && !window->IsClosing()) {
        if (host.IsEpgSweepRunning(window)) {
            host.EndEpgSweep(window);
        }
        if (window->IsRecording()) {
            const TimeValue lead = window->TunedChannel() == reservation->channel
                                       ? kSameChannelStopLead
                                       : kOtherChannelStopLead;
            if (clock < start - lead) {
                slot.nextActionTime = start - lead;
                return;
            }
            window->StopRecording();
        }
    } else {
        window = host.OpenAutomaticWindow(tuner, host.RecordWithoutVideo());
        if (window == nullptr) {
            if (HandToOtherTuner(tuner, reservation)) {
                return;
            }
            ICWString text;
            text.Format(u"予約録画を開始できません。チューナー「%s」を開けませんでした。\r\n%s",
                        tuner->displayName.GetText(), reservation->eventTitle.GetText());
            host.ReportReservationFailure(std::u16string(text.GetView()));
            DropAndMoveOn(tuner);
            return;
        }
        slot.window = window;
    }
    slot.state = TunerReservationState::kPrepared;
    if (window->TunedChannel() != reservation->channel) {
        window->Tune(reservation->channel);
    }
    slot.nextActionTime = start;
}

bool CScheduler::HandToOtherTuner(CTuner* failed, CRecSchedule* reservation) {
    std::vector<CTuner*>& failedOnes = failedTuners[reservation];
    failedOnes.push_back(failed);
    // Each failed tuner gets a stand-in reservation at the same time, so that the list's
    // choice of a free tuner passes it over.
    std::vector<std::unique_ptr<CRecSchedule>> standIns;
    for (CTuner* tuner : failedOnes) {
        CChannelInfo* service = AnyServiceOf(*tuner);
        if (service == nullptr) {
            continue;
        }
        auto standIn = std::make_unique<CRecSchedule>();
        standIn->SetStartTime(reservation->GetStartTime());
        standIn->duration = reservation->duration;
        standIn->channel = service;
        reservations.InsertReservation(standIn.get(), false);
        standIns.push_back(std::move(standIn));
    }
    CChannelInfo* channel = reservations.FindFreeTuner(*reservation);
    for (auto& standIn : standIns) {
        reservations.Remove(standIn.get(), false);
    }
    if (channel == nullptr) {
        return false;
    }
    CTuner* other = channel->tuningSpace->tuner;
    reservation->channel = channel;
    reservation->kind = channel->tuningSpace->type;
    reservation->tunerName = other->displayName;
    UpdateTunerNext(failed);
    UpdateTunerNext(other);
    return true;
}

void CScheduler::BeginReservation(CTuner* tuner) {
    TunerSlot& slot = SlotOf(tuner);
    if (slot.window == nullptr || slot.window->IsClosing()) {
        slot.window = nullptr;
        slot.state = TunerReservationState::kIdle;
        PrepareReservation(tuner);
        if (slot.window == nullptr || slot.state != TunerReservationState::kPrepared) {
            return;
        }
    } else if (slot.window->IsRecording()) {
        slot.window->StopRecording();
    }
    CRecSchedule* reservation = slot.nextReservation;
    if (reservation == nullptr || !slot.window->StartRecording(reservation->folder)) {
        DropAndMoveOn(tuner);
        return;
    }
    const TimeValue end = reservation->GetEndTime();
    slot.nextActionTime = end;
    slot.state = TunerReservationState::kRecording;
    // Back to back on another channel: stop early so that the next one can be tuned in time.
    for (CRecSchedule* next = CRecScheduleList::Next(reservation); next != nullptr;
         next = CRecScheduleList::Next(next)) {
        if (TunerOfReservation(*next) != tuner) {
            continue;
        }
        if (next->GetStartTime() == end && next->channel != reservation->channel) {
            slot.nextActionTime = end - kOtherChannelStopLead;
        }
        break;
    }
}

void CScheduler::EndReservation(CTuner* tuner) {
    TunerSlot& slot = SlotOf(tuner);
    IReservationWindow* window = slot.window;
    window->StopRecording();
    CRecSchedule* reservation = slot.nextReservation;
    slot.state = TunerReservationState::kIdle;
    if (reservation != nullptr && !RearmSeries(reservation)) {
        DropReservation(reservation);
    }
    UpdateTunerNext(tuner);
    if (window->IsAutomatic()) {
        const bool actsSoon =
            slot.nextActionTime != 0 && slot.nextActionTime - clock <= kKeepWindowSpan;
        if (!actsSoon) {
            window->PostClose();
            slot.window = nullptr;
        }
    }
}

bool CScheduler::RearmSeries(CRecSchedule* reservation) {
    if (!reservation->series || reservation->interval <= 0) {
        return false;
    }
    const TimeValue period = TimeValue(reservation->interval) * kSecondsPerDay;
    TimeValue start = reservation->GetStartTime();
    do {
        start += period;
    } while (start + reservation->duration <= clock);
    failedTuners.erase(reservation);
    MoveStart(reservation, start);
    return true;
}

void CScheduler::MoveStart(CRecSchedule* reservation, TimeValue start) {
    reservations.RemoveWakeTrigger(*reservation);
    reservations.Remove(reservation, false);
    reservation->SetStartTime(start);
    reservations.InsertReservation(reservation, true);
}

void CScheduler::DropReservation(CRecSchedule* reservation) {
    host.ReservationDropping(*reservation);
    failedTuners.erase(reservation);
    CTuner* tuner = TunerOfReservation(*reservation);
    for (auto& [ignored, slot] : tunerSlots) {
        if (slot.nextReservation == reservation) {
            slot.nextReservation = nullptr;
            slot.nextActionTime = 0;
        }
    }
    reservations.RemoveReservation(reservation);
    UpdateTunerNext(tuner);
}

void CScheduler::StopRecordingForReservation(IReservationWindow* window) {
    CTuner* tuner = TunerOfWindow(window);
    bool dropped = false;
    if (tuner != nullptr) {
        TunerSlot& slot = SlotOf(tuner);
        if (slot.state == TunerReservationState::kRecording && slot.nextReservation != nullptr) {
            DropReservation(slot.nextReservation);
            dropped = true;
        }
    }
    window->StopRecording();
    if (dropped) {
        SlotOf(tuner).state = TunerReservationState::kIdle;
        UpdateTunerNext(tuner);
    }
}

void CScheduler::FollowEvent(const CEventInfo& event) {
    CRecSchedule* reservation = event.reservation;
    if (reservation == nullptr) {
        return;
    }
    if (!(event.title == reservation->eventTitle)) {
        reservation->eventTitle = event.title;
    }
    // A negative duration is not given yet; the reservation keeps its own.
    if (event.duration >= 0 && event.duration != reservation->duration) {
        reservation->duration = event.duration;
    }
    if (reservation->GetStartTime() != event.startTime) {
        // The stored start follows the event, so that a reload and the wake-up use it.
        MoveStart(reservation, event.startTime);
    }
    for (auto& [tuner, slot] : tunerSlots) {
        if (slot.nextReservation != reservation) {
            continue;
        }
        switch (slot.state) {
            case TunerReservationState::kIdle:
                slot.nextActionTime = event.startTime - CRecScheduleList::kActionLead;
                break;
            case TunerReservationState::kPrepared:
                slot.nextActionTime = event.startTime;
                break;
            case TunerReservationState::kRecording:
                if (event.duration >= 0) {
                    slot.nextActionTime = event.startTime + event.duration;
                } else if (const auto* following = static_cast<const CEventInfo*>(event.next)) {
                    slot.nextActionTime = following->startTime;
                }
                break;
        }
    }
}

void CScheduler::PrepareSuspend(bool closeWindows) {
    const std::vector<IReservationWindow*> windows = host.ViewingWindows();
    for (IReservationWindow* window : windows) {
        if (host.IsEpgSweepRunning(window)) {
            host.EndEpgSweep(window);
        }
    }
    for (IReservationWindow* window : windows) {
        if (window->IsRecording()) {
            StopRecordingForReservation(window);
        }
    }
    for (IReservationWindow* window : windows) {
        window->StopGraph();
    }
    if (!closeWindows) {
        return;
    }
    for (IReservationWindow* window : windows) {
        if (!window->IsClosing()) {
            window->PostClose();
        }
    }
    host.CloseToolWindows();
}

void CScheduler::EnterStandby() {
    enteringStandby = true;
    PrepareSuspend(true);
    host.SaveAll();
    host.Suspend();
}

void CScheduler::RebuildWindows() {
    for (IReservationWindow* window : host.ViewingWindows()) {
        if (!window->IsClosing() && !window->RebuildGraph()) {
            window->PostClose();
            if (CTuner* tuner = TunerOfWindow(window)) {
                SlotOf(tuner).window = nullptr;
            }
        }
    }
}

void CScheduler::GiveUpReservation(CTuner* tuner) {
    TunerSlot& slot = SlotOf(tuner);
    if (slot.state == TunerReservationState::kRecording && slot.nextReservation != nullptr) {
        DropReservation(slot.nextReservation);
    }
    slot.state = TunerReservationState::kIdle;
    slot.window = nullptr;
    UpdateTunerNext(tuner);
}

void CScheduler::SetTunerWindow(CTuner* tuner, IReservationWindow* window) {
    SlotOf(tuner).window = window;
}
