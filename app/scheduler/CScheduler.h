#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "app/engine/EngineHost.h"
#include "app/scheduler/SchedulerSeams.h"
#include "app/stores/CEventInfo.h"
#include "app/stores/CRecScheduleList.h"

class CTuner;

// The reservation scheduler: every tick it computes the application clock and moves each
// tuner whose action time has come through its reservation: prepared two minutes before the
// start (a window opened or taken over and tuned), recording from the start, idle again at the
// end. It keeps reservations in step with moved programmes and stops everything for standby.
//
// A tuner whose window cannot be opened hands its reservation to another free tuner; when
// there is none the reservation is reported and dropped. A repeating reservation is not
// dropped after it has recorded: it moves on to its next occurrence.
//
// Everything is called on the user-interface thread; the tick never overlaps a window
// operation.
class CScheduler {
public:
    // A window that records must stop this long before a reservation on another channel,
    // and kSameChannelStopLead before one on its own channel.
    static constexpr TimeValue kOtherChannelStopLead = 30;
    static constexpr TimeValue kSameChannelStopLead = 1;
    // An automatic window stays open after a recording when its tuner acts again within this.
    static constexpr TimeValue kKeepWindowSpan = 300;
    static constexpr TimeValue kSecondsPerDay = 86400;

    // What the scheduler keeps of one tuner.
    struct TunerSlot {
        CRecSchedule* nextReservation = nullptr;
        TimeValue nextActionTime = 0;  // 0: nothing due
        TunerReservationState state = TunerReservationState::kIdle;
        IReservationWindow* window = nullptr;
    };

    // What one tick found, for the tray icon and the standby rules of the main timer.
    struct TickSummary {
        TimeValue clock = 0;
        TimeValue earliestAction = 0;  // 0: none
        TunerReservationState highestState = TunerReservationState::kIdle;
        bool anyWindowRecords = false;
    };

    // `tuners` is the application's tuner list. The scheduler becomes the reservation list's clock
    // and tells it which tuners record.
    CScheduler(ISchedulerHost& host, COwnedList<CTuner>& tuners, CRecScheduleList& reservations);
    // Gives the list back the computer's clock and its "nothing records".
    ~CScheduler();
    CScheduler(const CScheduler&) = delete;
    CScheduler& operator=(const CScheduler&) = delete;

    // The computer's local clock; tests replace it.
    std::function<TimeValue()> localClock;

    TickSummary SchedulerTick();
    void PrepareReservation(CTuner* tuner);
    void BeginReservation(CTuner* tuner);
    void EndReservation(CTuner* tuner);
    void DropReservation(CRecSchedule* reservation);
    void StopRecordingForReservation(IReservationWindow* window);
    // The merged events that carry a reservation.
    void FollowEvent(const CEventInfo& event);
    // Stops recordings and graphs; with `closeWindows` (query-suspend, standby) also closes
    // every window.
    void PrepareSuspend(bool closeWindows);
    void EnterStandby();
    // After a resume: every window's graph is built again before it is used; a window whose
    // graph cannot be built is closed, so that the next action opens a new one.
    void RebuildWindows();

    // Takes the tuners' next reservations from the list again (after a reload).
    void ReloadTunerNext();

    // The scheduler seams of the engine host.
    TunerReservationState GetTunerState(const CTuner* tuner) const;
    void GiveUpReservation(CTuner* tuner);
    void SetTunerWindow(CTuner* tuner, IReservationWindow* window);

    const TunerSlot& Slot(const CTuner* tuner) const;
    TimeValue Clock() const { return clock; }
    const TickSummary& LastTick() const { return lastTick; }
    bool EnteringStandby() const { return enteringStandby; }
    void ClearEnteringStandby() { enteringStandby = false; }

private:
    TunerSlot& SlotOf(const CTuner* tuner);
    CTuner* TunerOfWindow(const IReservationWindow* window);
    void UpdateTunerNext(CTuner* tuner);
    // Drops the tuner's reservation and sends the tuner on to its next one.
    void DropAndMoveOn(CTuner* tuner);
    // After a recording: a repeating reservation moves to its next occurrence after the clock;
    // false when it does not repeat.
    bool RearmSeries(CRecSchedule* reservation);
    // Moves a reservation's stored start and its place in the list, with its wake-up trigger.
    void MoveStart(CRecSchedule* reservation, TimeValue start);
    // Another free tuner for a reservation whose tuner failed; false when there is none.
    bool HandToOtherTuner(CTuner* failed, CRecSchedule* reservation);

    ISchedulerHost& host;
    COwnedList<CTuner>& tuners;
    CRecScheduleList& reservations;
    std::map<const CTuner*, TunerSlot> tunerSlots;
    // Tuners that failed to open for a reservation, so that it is not handed back to them.
    std::map<const CRecSchedule*, std::vector<CTuner*>> failedTuners;
    TimeValue clock = 0;
    TickSummary lastTick;
    bool enteringStandby = false;
};
