#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

// Power management for the application: putting the computer to sleep, keeping it awake while
// something needs it, hearing that it is about to sleep or has woken, and the RTC wake alarm.
//
// The application calls this layer where a Windows program calls SetSuspendState and
// SetThreadExecutionState, and receives the power broadcast events through a callback. On this
// platform the requests go to systemd-logind; without a reachable logind a recording backend
// stands in, so that headless runs and tests never put the machine to sleep.
namespace power {

// The power broadcast events, with the event numbers of WM_POWERBROADCAST so that the
// application can carry them in its own window messages.
enum class PowerBroadcast : uint32_t {
    kQuerySuspend = 0x0000,     // PBT_APMQUERYSUSPEND
    kSuspend = 0x0004,          // PBT_APMSUSPEND
    kResumeSuspend = 0x0007,    // PBT_APMRESUMESUSPEND
    kResumeAutomatic = 0x0012,  // PBT_APMRESUMEAUTOMATIC
};

// Called on the layer's own thread (or on the thread that raises an event in tests); the
// application posts the event to its user-interface thread and returns at once.
using PowerNotify = std::function<void(PowerBroadcast event)>;

// The clock that times the keep-awake lease and the wait for the application before sleep;
// tests inject their own.
using PowerClock = std::function<std::chrono::steady_clock::time_point()>;

// The outcome of a request: `error` is 0 or an errno value, `message` says what failed in
// words a log line can carry (empty on success).
struct PowerResult {
    int error = 0;
    std::string message;

    bool Succeeded() const { return error == 0; }
};

// How long one keep-awake request holds the computer awake: the application renews it every
// minute while it needs the computer, so a request outlives the next renewal and lapses soon
// after the last one.
inline constexpr std::chrono::seconds kKeepAwakeLease{120};

class IPowerManager {
public:
    virtual ~IPowerManager() = default;

    // Whether requests reach the system; when not, every request fails harmlessly and
    // UnavailableReason says why.
    virtual bool IsAvailable() const = 0;
    virtual std::string UnavailableReason() const = 0;

    // The receiver of the power broadcast events (an empty function: none). When nobody
    // listens, the computer is let sleep at once.
    virtual void SetNotify(PowerNotify notify) = 0;

    // Puts the computer to sleep (SetSuspendState: suspend, not hibernate, not forced, wake
    // events allowed). The keep-awake lease is given up first so that it cannot hold off the
    // sleep asked for. Returns once the request is made, not after the resume.
    virtual PowerResult Suspend() = 0;

    // SetThreadExecutionState with ES_SYSTEM_REQUIRED (and ES_DISPLAY_REQUIRED when
    // `displayToo`): the computer neither sleeps nor goes idle until kKeepAwakeLease after the
    // last such call. While the computer is preparing to sleep the call holds nothing, as a
    // one-shot reset of the idle timer cannot stop a sleep that has begun.
    virtual PowerResult SetSystemRequired(bool displayToo) = 0;

    // The application has handled the suspend event (its recordings and graphs are stopped):
    // the computer may sleep now. Without it the layer lets the computer sleep after a bounded
    // wait.
    virtual void AcknowledgeSuspend() = 0;

    // The RTC wake alarm, in seconds since the epoch (UTC); for when no timer of the user's
    // service manager can wake the computer (TimersCanWake).
    virtual PowerResult SetWakeAlarm(std::time_t when) = 0;
    virtual PowerResult ClearWakeAlarm() = 0;
    // Whether the timers of the user's service manager can wake the computer from sleep.
    virtual bool TimersCanWake() const = 0;
};

// The logind backend when logind can be reached, otherwise the recording backend (with a note
// on stderr, once per process). ORV_POWER_BACKEND=recording chooses the recording backend.
std::unique_ptr<IPowerManager> CreatePowerManager();

}  // namespace power
