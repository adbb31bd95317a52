#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "app/scheduler/CScheduler.h"
#include "platform/power/PowerManager.h"

// The main window's timer without its window: the eight accumulators that turn 100 ms timer
// messages into periods, the scheduler tick with the tray icon's state, the standby countdown
// after a reservation woke the computer, keeping the computer awake before a reservation, the
// requests forwarded by a second start (0x410, 0x411) and the power events.
//
// Everything is called on the user-interface thread.
class CMainTimer {
public:
    static constexpr uint32_t kDelay = 100;  // ms between timer messages
    static constexpr std::array<uint32_t, 8> kPeriods = {100,  500,   1000,  2000,
                                                         5000, 10000, 30000, 60000};
    // A gap this long or longer between two timer messages (the process was stopped or the
    // computer slept) counts as one delay.
    static constexpr uint32_t kLongestGap = 1000;
    static constexpr int32_t kStandbyCountdown = 30;  // s
    // A reservation closer than this keeps the computer awake and holds off the standby.
    static constexpr TimeValue kReservationNear = 600;
    // A request of the reservation task within this after a resume means it woke the computer.
    static constexpr TimeValue kWakeRequestSpan = 240;

    // The tray icons by resource number.
    static constexpr int kIconApplication = 128;
    static constexpr int kIconReservation = 148;
    static constexpr int kIconBlink = 149;
    static constexpr int kIconEpgSweep = 150;

    // The guide window's part: its sweep, a requested sweep, its minute tick and its refresh.
    struct EpgWindowHooks {
        std::function<bool()> exists = [] { return false; };
        std::function<bool()> sweepRunning = [] { return false; };
        std::function<bool()> sweepRequested = [] { return false; };
        std::function<void()> requestSweep = [] {};
        std::function<void()> minuteTick = [] {};
        std::function<void()> refreshIfVisible = [] {};
    };

    CMainTimer(CScheduler& scheduler, CRecScheduleList& reservations, power::IPowerManager& power);

    // Start-up has finished: the timer messages count from `tickCount`.
    void Start(uint32_t tickCount);
    // One timer message at the tick count (ms).
    void OnTimer(uint32_t tickCount);
    // The periods that fire for a message `elapsed` ms after the previous one, as a bit per
    // period of kPeriods.
    uint32_t Accumulate(uint32_t elapsed);

    // 0x410 and 0x411 from a second start.
    void OnScheduleRequest();
    void OnEpgRequest();
    void OnPowerBroadcast(power::PowerBroadcast event);

    EpgWindowHooks epg;
    // Loads the reservations and their wake-up registration again.
    std::function<void()> reloadReservations = [] {};
    // Gives the tray the icon (only when it changes).
    std::function<void(int icon)> setTrayIcon = [](int) {};

    int32_t standbyCountdown = 0;
    int64_t secondsToNextReservation = 0;
    TimeValue resumedAt = 0;
    bool resumedFlag = false;
    bool wokenForReservation = false;
    bool epgWakePending = false;
    int trayIcon = kIconApplication;
    uint32_t blinkCounter = 0;

private:
    void OnHalfSecond();
    void OnSecond();
    void OnMinute();
    void UpdateTrayIcon(TunerReservationState highest);
    // Whether a reservation starts within kReservationNear (or is already due).
    bool ReservationNear() const;

    CScheduler& scheduler;
    CRecScheduleList& reservations;
    power::IPowerManager& power;
    bool started = false;
    uint32_t lastTick = 0;
    std::array<uint32_t, kPeriods.size()> accumulated{};
};
