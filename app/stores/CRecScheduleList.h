#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "app/stores/COwnedList.h"
#include "app/stores/CRecSchedule.h"
#include "app/stores/CTuner.h"
#include "core/ICWString.h"
#include "platform/tasks/TaskStore.h"

// The application's reservation list, ordered by start (equal starts keep the order they were
// inserted in), with its file RecSchedule.ini and its mirror in the wake-up tasks: every
// reservation is a trigger of one of the tasks "Orvanta Task0" ... "Orvanta Task9", which start
// the program with "/Schedule" five minutes before it; the task "Orvanta Task" starts it daily
// with "/EPG" for the programme-guide update.
//
// The list, the tuners and the task store are used from the user-interface thread only.
class CRecScheduleList : public COwnedList<CRecSchedule> {
public:
    static constexpr int kReservationTaskCount = 10;
    // A task takes triggers until it holds this many; the next go to the next task.
    static constexpr size_t kTriggersPerTask = 41;
    static constexpr TimeValue kWakeLead = 300;    // the wake-up comes 5 minutes early
    static constexpr TimeValue kActionLead = 120;  // the scheduler acts 2 minutes early

    // What the scheduler needs of each tuner: its earliest reservation and when to act on it.
    struct TunerNext {
        CRecSchedule* nextReservation = nullptr;
        TimeValue nextActionTime = 0;
    };

    // `tuners` is the application's tuner list; `taskStore` may be null (no wake-up tasks).
    CRecScheduleList(COwnedList<CTuner>& tuners, tasks::TaskStore* taskStore);

    // Replaces the list with the reservations of the file (a missing file gives none; sections
    // that cannot be used are dropped), links them to tuners, rewrites the wake-up tasks and
    // the tuners' next reservations.
    void LoadReservations(const ICWString& path);
    // Writes every reservation; false when the file could not be replaced (it is then kept).
    bool SaveReservations(const ICWString& path) const;
    // The bytes SaveReservations writes: UTF-16 LE with a byte-order mark, CR LF lines.
    std::string FormatReservations() const;

    // Inserts keeping the order; with `registerWakeUp` also adds its wake-up trigger and updates
    // its tuner's next reservation.
    void InsertReservation(CRecSchedule* reservation, bool registerWakeUp);
    // Removes the reservation's trigger, takes it out of the list, updates its tuner and
    // destroys it.
    void RemoveReservation(CRecSchedule* reservation);
    // Before the services of `space` are replaced (a channel scan): the reservations that record
    // through one of them let go of it, so that none points at a destroyed service.
    void UnlinkChannelsOf(const CTuningSpace* space);
    // Links every reservation without a service to its named tuner's service, else to a free
    // tuner, and updates the tuners' next reservations.
    void RelinkReservations();
    // The first reservation with these keys, or null.
    CRecSchedule* FindReservation(uint16_t transportStreamId, uint16_t serviceId,
                                  uint16_t eventId) const;

    // A service entry of some tuner (the last tuner first) that carries the reservation's service
    // and whose tuner has no other reservation overlapping it; null when there is none.
    CChannelInfo* FindFreeTuner(const CRecSchedule& reservation) const;
    // Recomputes the tuner's next reservation (left alone while the tuner records).
    void UpdateTunerNext(const CTuner* tuner);
    TunerNext GetTunerNext(const CTuner* tuner) const;

    void AddWakeTrigger(const CRecSchedule& reservation);
    void RemoveWakeTrigger(const CRecSchedule& reservation);
    // Deletes the reservation tasks and the programme-guide task.
    void ClearWakeTasks();
    // Makes the programme-guide task start the program daily at `hour`:00 from today; an hour
    // outside 0-23 removes the task.
    void SetEpgUpdateTask(int32_t hour);

    // The trigger a reservation gets (its start minus kWakeLead).
    static tasks::TaskTrigger WakeTriggerOf(const CRecSchedule& reservation);

    // The program the tasks start (the executable's full path).
    ICWString executablePath;
    // The application clock; the computer's local clock unless replaced.
    std::function<TimeValue()> clock;
    // Whether a tuner is recording now; none records unless replaced.
    std::function<bool(const CTuner*)> isRecording;

private:
    void WriteWakeTasks();
    // Whether the reservation gets a trigger: a repeating one always, another only while its
    // wake-up time is still ahead of the clock.
    bool WantsWakeTrigger(const CRecSchedule& reservation) const;
    // How many reservations of the list other than `except` want this trigger.
    size_t CountWakeTriggers(const tasks::TaskTrigger& trigger, const CRecSchedule* except) const;
    tasks::ScheduledTask NewTask(std::string name, std::string argument) const;
    // Links a loaded reservation to its tuner's service, or to a free tuner.
    void LinkToNamedTuner(CRecSchedule& reservation) const;
    void LinkToFreeTuner(CRecSchedule& reservation) const;

    COwnedList<CTuner>& tuners;
    tasks::TaskStore* taskStore;
    std::map<const CTuner*, TunerNext> tunerNext;
};
