#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "core/ICSemaphore.h"
#include "core/ICWindowTarget.h"

class ICMsgQueue;
class ICThread;
class ICTimer;

// The periods a timer can run at, in milliseconds.
inline constexpr uint32_t kICTimerMinimumPeriod = 1;
inline constexpr uint32_t kICTimerMaximumPeriod = 1000000;

using ICTimerCallback = std::function<void(ICTimer* timer)>;

// A periodic or one-shot millisecond timer. The caller sets `delay`, `resolution`, `oneShot`,
// `event` and `callback`, then calls Start(); Stop() ends it, and so does destruction.
//
// Each timer has one thread of its own (made by the first Start, joined by the destructor) that
// sleeps until each tick is due. On a tick it signals `event` if one is set; otherwise it calls
// OnTimer(), whose exceptions are swallowed. A periodic timer that falls behind (a long
// OnTimer) catches up with one tick, not a burst. A one-shot timer fires once and stays active
// until Stop().
//
// Stop() may be called from OnTimer. Called from any other thread it returns only when no
// OnTimer is running any more. A derived class that overrides OnTimer stops the timer in its
// own destructor. The timer must not be destroyed from its own OnTimer.
class ICTimer {
public:
    explicit ICTimer(ICWindowTarget* window = nullptr);
    ICTimer(const ICTimer&) = delete;
    ICTimer& operator=(const ICTimer&) = delete;
    virtual ~ICTimer();

    // If active: posts the window timer message (wParam 0, lParam 0) to the window if set, then
    // calls the callback if set.
    virtual void OnTimer();

    // Nothing when active. Clamps `delay` and `resolution` into [minPeriod, maxPeriod] and
    // starts ticking. Returns whether the timer is active.
    bool Start();
    void Stop();
    bool IsActive() const { return active.load(std::memory_order_acquire); }
    // The identifier of the running timer, 0 when not active.
    uint32_t GetTimerId() const { return timerId.load(std::memory_order_acquire); }

    uint32_t minPeriod = kICTimerMinimumPeriod;
    uint32_t maxPeriod = kICTimerMaximumPeriod;
    uint32_t delay = 100;
    // Kept for the callers that set it; the ticks are as exact as the system's sleeping is.
    uint32_t resolution = kICTimerMinimumPeriod;
    bool oneShot = false;
    ICWindowTarget* window = nullptr;
    // Signalled on each tick instead of calling OnTimer.
    ICSemaphore* event = nullptr;
    ICTimerCallback callback;

protected:
    std::atomic<bool> active{false};
    std::atomic<uint32_t> timerId{0};

private:
    void WorkerMain();

    // Guard the worker's schedule below and signal its changes.
    std::mutex mutex;
    std::condition_variable changed;
    std::thread worker;
    bool armed = false;     // a tick is scheduled
    bool quit = false;      // the worker ends
    bool firing = false;    // the worker is delivering a tick
    uint64_t schedule = 0;  // bumped by each Start and Stop
    std::chrono::steady_clock::time_point nextTick;
    std::chrono::milliseconds period{0};
    bool periodic = true;
    ICSemaphore* tickEvent = nullptr;
};

// A timer that also posts its ticks as messages {3, this timer, 0, 0} to a thread and/or a
// message queue (either may be null), and posts the window timer message with wParam = the
// timer.
class ICTimer2 : public ICTimer {
public:
    explicit ICTimer2(ICWindowTarget* window = nullptr, ICThread* targetThread = nullptr,
                      ICMsgQueue* targetQueue = nullptr);
    ~ICTimer2() override;

    void OnTimer() override;

    ICThread* targetThread;
    ICMsgQueue* targetQueue;
};
