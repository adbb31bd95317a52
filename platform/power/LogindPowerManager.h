#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/power/PowerManager.h"
#include "platform/power/RtcWakeAlarm.h"
#include "platform/power/SleepCoordinator.h"

namespace power {

class LogindConnection;

// Power management through systemd-logind on the system bus: Suspend(false) for sleep,
// inhibitor locks for keep-awake and for the wait before sleep, and its PrepareForSleep
// signal for the power broadcast events (the rules are SleepCoordinator's).
//
// The constructor connects and, when logind answers, starts the event thread that hears the
// signal and lets leases and waits run out; the destructor stops that thread and releases
// every lock. Without a system bus or logind (containers, build machines) nothing starts:
// IsAvailable is false, UnavailableReason says why, and every request fails harmlessly with
// that error. The RTC wake alarm does not depend on the bus.
class CLogindPowerManager : public IPowerManager {
public:
    explicit CLogindPowerManager(
        PowerClock clock = [] { return std::chrono::steady_clock::now(); },
        std::string rtcFolder = RtcWakeAlarm::kDefaultRtcFolder);
    ~CLogindPowerManager() override;
    CLogindPowerManager(const CLogindPowerManager&) = delete;
    CLogindPowerManager& operator=(const CLogindPowerManager&) = delete;

    bool IsAvailable() const override { return unavailableError == 0; }
    std::string UnavailableReason() const override { return unavailableReason; }
    void SetNotify(PowerNotify notify) override;
    PowerResult Suspend() override;
    PowerResult SetSystemRequired(bool displayToo) override;
    void AcknowledgeSuspend() override;
    PowerResult SetWakeAlarm(std::time_t when) override;
    PowerResult ClearWakeAlarm() override;
    bool TimersCanWake() const override;

private:
    void EventLoop();
    PowerResult Unavailable() const { return {unavailableError, unavailableReason}; }

    const PowerClock clock;
    const RtcWakeAlarm wakeAlarm;
    std::unique_ptr<LogindConnection> connection;
    int unavailableError = 0;
    std::string unavailableReason;
    std::unique_ptr<SleepCoordinator> coordinator;
    std::atomic<bool> stopping{false};
    std::thread eventThread;
};

}  // namespace power
