#include "platform/power/SleepCoordinator.h"

#include <cerrno>
#include <utility>

namespace power {

namespace {

// Both: logind's automatic suspend follows the idle state, and a sleep asked for by another
// program is a sleep too.
constexpr InhibitorRequest kKeepAwakeWatching = {"sleep:idle", "Watching television", "block"};
constexpr InhibitorRequest kKeepAwakeScheduled = {
    "sleep:idle", "A recording or a programme guide update is due", "block"};
constexpr InhibitorRequest kSleepDelay = {"sleep", "Stopping recordings before sleep", "delay"};

}  // namespace

SleepCoordinator::SleepCoordinator(PowerService& service, PowerClock clock,
                                   std::chrono::milliseconds acknowledgeTimeout)
    : service(service), clock(std::move(clock)), acknowledgeTimeout(acknowledgeTimeout) {}

SleepCoordinator::~SleepCoordinator() {
    Stop();
}

void SleepCoordinator::Start() {
    std::lock_guard guard(lock);
    started = true;
    phase = SleepPhase::kAwake;
    TakeSleepDelayLocked();
}

void SleepCoordinator::Stop() {
    std::lock_guard guard(lock);
    started = false;
    notify = nullptr;
    ReleaseLocked(keepAwakeHandle);
    ReleaseLocked(sleepDelayHandle);
}

void SleepCoordinator::SetNotify(PowerNotify receiver) {
    std::lock_guard guard(lock);
    notify = std::move(receiver);
}

PowerResult SleepCoordinator::Suspend() {
    {
        std::lock_guard guard(lock);
        if (!started) {
            return {ENOTCONN, "the power service is not running"};
        }
        ReleaseLocked(keepAwakeHandle);
    }
    // Without the lock: the service announces the sleep while this request is on its way.
    return service.RequestSuspend();
}

PowerResult SleepCoordinator::SetSystemRequired(bool displayToo) {
    std::lock_guard guard(lock);
    if (!started) {
        return {ENOTCONN, "the power service is not running"};
    }
    const TimePoint now = clock();
    PollLocked(now);
    if (phase != SleepPhase::kAwake) {
        return {};
    }
    if (keepAwakeHandle < 0) {
        std::string message;
        const int handle =
            service.TakeInhibitor(displayToo ? kKeepAwakeWatching : kKeepAwakeScheduled, message);
        if (handle < 0) {
            return {-handle, "the computer cannot be kept awake: " + message};
        }
        keepAwakeHandle = handle;
    }
    keepAwakeUntil = now + kKeepAwakeLease;
    return {};
}

void SleepCoordinator::AcknowledgeSuspend() {
    std::lock_guard guard(lock);
    if (phase == SleepPhase::kPreparing) {
        ReleaseLocked(sleepDelayHandle);
        phase = SleepPhase::kReleased;
    }
}

void SleepCoordinator::PrepareForSleep(bool sleeping) {
    PowerNotify receiver;
    {
        std::lock_guard guard(lock);
        if (!started || (phase == SleepPhase::kAwake) != sleeping) {
            return;  // a repeated announcement, or one from before this run
        }
        if (sleeping) {
            // A lease carried through the sleep would keep the computer up after the resume
            // for a request made before it.
            ReleaseLocked(keepAwakeHandle);
            phase = SleepPhase::kPreparing;
            acknowledgeBy = clock() + acknowledgeTimeout;
            if (!notify) {
                ReleaseLocked(sleepDelayHandle);
                phase = SleepPhase::kReleased;
                return;
            }
        } else {
            ReleaseLocked(sleepDelayHandle);  // still held when the sleep was called off
            phase = SleepPhase::kAwake;
            TakeSleepDelayLocked();
        }
        receiver = notify;
    }
    if (!receiver) {
        return;
    }
    if (sleeping) {
        receiver(PowerBroadcast::kQuerySuspend);
        receiver(PowerBroadcast::kSuspend);
    } else {
        receiver(PowerBroadcast::kResumeAutomatic);
        receiver(PowerBroadcast::kResumeSuspend);
    }
}

void SleepCoordinator::Poll() {
    std::lock_guard guard(lock);
    PollLocked(clock());
}

std::optional<SleepCoordinator::TimePoint> SleepCoordinator::NextDeadline() const {
    std::lock_guard guard(lock);
    std::optional<TimePoint> next;
    if (keepAwakeHandle >= 0) {
        next = keepAwakeUntil;
    }
    if (phase == SleepPhase::kPreparing && (!next || acknowledgeBy < *next)) {
        next = acknowledgeBy;
    }
    return next;
}

bool SleepCoordinator::KeepAwakeHeld() const {
    std::lock_guard guard(lock);
    return keepAwakeHandle >= 0;
}

bool SleepCoordinator::SleepDelayHeld() const {
    std::lock_guard guard(lock);
    return sleepDelayHandle >= 0;
}

SleepPhase SleepCoordinator::Phase() const {
    std::lock_guard guard(lock);
    return phase;
}

void SleepCoordinator::PollLocked(TimePoint now) {
    if (keepAwakeHandle >= 0 && now >= keepAwakeUntil) {
        ReleaseLocked(keepAwakeHandle);
    }
    if (phase == SleepPhase::kPreparing && now >= acknowledgeBy) {
        ReleaseLocked(sleepDelayHandle);
        phase = SleepPhase::kReleased;
    }
}

void SleepCoordinator::TakeSleepDelayLocked() {
    if (sleepDelayHandle >= 0) {
        return;
    }
    // Without the lock the computer still sleeps, only without waiting for the application;
    // the next resume tries again.
    std::string ignored;
    const int handle = service.TakeInhibitor(kSleepDelay, ignored);
    sleepDelayHandle = handle >= 0 ? handle : -1;
}

void SleepCoordinator::ReleaseLocked(int& handle) {
    if (handle >= 0) {
        service.ReleaseInhibitor(handle);
        handle = -1;
    }
}

}  // namespace power
