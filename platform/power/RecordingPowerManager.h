#pragma once

#include <chrono>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/power/PowerManager.h"
#include "platform/power/SleepCoordinator.h"

namespace power {

// One request that reached the (recorded) power service.
struct PowerCall {
    enum class Kind {
        kSuspend,            // the computer was asked to sleep
        kInhibitorTaken,     // `what` and `mode` of the lock
        kInhibitorReleased,  // `what` and `mode` of the lock
        kAlarmSet,           // `alarm`
        kAlarmCleared,
    };

    Kind kind;
    std::string what;
    std::string mode;
    std::time_t alarm = 0;

    bool operator==(const PowerCall&) const = default;
};

// The backend of tests and headless runs: nothing reaches the system, every request is
// recorded in order, and a test raises the service's announcements itself. The rules between
// requests and announcements are the same as with logind. Time is the given clock's; Poll
// applies what has run out by it (every request polls first, as the logind backend's thread
// does on its own).
class CRecordingPowerManager : public IPowerManager {
public:
    explicit CRecordingPowerManager(
        PowerClock clock = [] { return std::chrono::steady_clock::now(); },
        std::chrono::milliseconds acknowledgeTimeout = std::chrono::seconds(5));

    bool IsAvailable() const override { return true; }
    std::string UnavailableReason() const override { return {}; }
    void SetNotify(PowerNotify notify) override;
    PowerResult Suspend() override;
    PowerResult SetSystemRequired(bool displayToo) override;
    void AcknowledgeSuspend() override;
    PowerResult SetWakeAlarm(std::time_t when) override;
    PowerResult ClearWakeAlarm() override;
    bool TimersCanWake() const override;

    // logind's PrepareForSleep(sleeping), as if the system had sent it.
    void RaisePrepareForSleep(bool sleeping);
    void Poll();
    // From now on inhibitor locks are refused with `error` (0: granted again).
    void RefuseInhibitors(int error);
    void SetTimersCanWake(bool canWake);

    std::vector<PowerCall> Calls() const;
    const SleepCoordinator& Coordinator() const { return coordinator; }

private:
    class RecordedService : public PowerService {
    public:
        explicit RecordedService(CRecordingPowerManager& owner) : owner(owner) {}
        int TakeInhibitor(const InhibitorRequest& request, std::string& message) override;
        void ReleaseInhibitor(int handle) override;
        PowerResult RequestSuspend() override;

    private:
        CRecordingPowerManager& owner;
    };

    void Record(PowerCall call);

    mutable std::mutex lock;  // guards the fields below; taken after the coordinator's lock
    std::vector<PowerCall> calls;
    std::vector<InhibitorRequest> heldInhibitors;  // by handle; a released one keeps its slot
    int inhibitorError = 0;
    bool timersCanWake = true;

    RecordedService service{*this};
    SleepCoordinator coordinator;
};

}  // namespace power
