#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "platform/power/PowerManager.h"

namespace power {

// An inhibitor lock as logind takes it: what it blocks ("sleep", "idle", or both joined by
// ':'), why (shown to the user by the system), and the mode ("block" or "delay").
struct InhibitorRequest {
    const char* what;
    const char* why;
    const char* mode;
};

// What the coordinator needs of the system's power service. Calls may come from any thread
// and are made with the coordinator's lock held, so an implementation never calls back into
// the coordinator.
class PowerService {
public:
    virtual ~PowerService() = default;
    // A handle (>= 0) of the lock taken, or a negative errno value with `message` filled.
    virtual int TakeInhibitor(const InhibitorRequest& request, std::string& message) = 0;
    virtual void ReleaseInhibitor(int handle) = 0;
    virtual PowerResult RequestSuspend() = 0;
};

// Where the computer is in a sleep, as the service reports it.
enum class SleepPhase {
    kAwake,      // running; a delay lock stands ready for the next sleep
    kPreparing,  // the service announced a sleep; the application is stopping what runs
    kReleased,   // the application acknowledged (or the wait ran out); sleep may proceed
};

// The rules between the application's requests and the power service, kept apart from any
// bus so that they can be driven by tests:
// - keep-awake: the first request takes a "sleep:idle" block lock, later ones only extend
//   its lease; Poll releases it once the lease has run out;
// - before sleep: a "sleep" delay lock is held whenever the computer is awake, so that the
//   service waits for the application; on the announcement the application gets the
//   query-suspend and suspend events and the lock goes on its acknowledgement, after
//   `acknowledgeTimeout` at the latest, or at once when nobody listens;
// - after sleep: the resume events, and a new delay lock for the next sleep.
//
// Thread safety: every member may be called from any thread. The notify function is called
// without the coordinator's lock, so it may call back (AcknowledgeSuspend from inside it is
// fine).
class SleepCoordinator {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    SleepCoordinator(PowerService& service, PowerClock clock,
                     std::chrono::milliseconds acknowledgeTimeout);
    ~SleepCoordinator();
    SleepCoordinator(const SleepCoordinator&) = delete;
    SleepCoordinator& operator=(const SleepCoordinator&) = delete;

    // Takes the delay lock for the first sleep; called once the service is reachable.
    void Start();
    // Releases every lock and forgets the notify function; later requests take nothing new
    // until Start.
    void Stop();

    void SetNotify(PowerNotify notify);
    PowerResult Suspend();
    PowerResult SetSystemRequired(bool displayToo);
    void AcknowledgeSuspend();
    // The service's announcement: true before a sleep, false after the resume (or when a
    // sleep was called off).
    void PrepareForSleep(bool sleeping);
    // Releases what has run out: the keep-awake lease, the wait for the acknowledgement.
    void Poll();
    // When Poll next has something to do, if ever.
    std::optional<TimePoint> NextDeadline() const;

    bool KeepAwakeHeld() const;
    bool SleepDelayHeld() const;
    SleepPhase Phase() const;

private:
    void PollLocked(TimePoint now);
    void TakeSleepDelayLocked();
    void ReleaseLocked(int& handle);

    PowerService& service;
    const PowerClock clock;
    const std::chrono::milliseconds acknowledgeTimeout;

    mutable std::mutex lock;
    bool started = false;
    PowerNotify notify;
    SleepPhase phase = SleepPhase::kAwake;
    int keepAwakeHandle = -1;
    TimePoint keepAwakeUntil{};
    int sleepDelayHandle = -1;
    TimePoint acknowledgeBy{};
};

}  // namespace power
