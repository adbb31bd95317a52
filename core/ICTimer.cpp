#include "core/ICTimer.h"

#include <algorithm>
#include <system_error>

#include "core/ICMsgItem.h"
#include "core/ICMsgQueue.h"
#include "core/ICThread.h"

namespace {

std::atomic<uint32_t> lastTimerId{0};

uint32_t NewTimerId() {
    uint32_t id;
    do {
        id = lastTimerId.fetch_add(1) + 1;
    } while (id == 0);
    return id;
}

}  // namespace

ICTimer::ICTimer(ICWindowTarget* window) : resolution(minPeriod), window(window) {}

ICTimer::~ICTimer() {
    Stop();
    {
        std::lock_guard lock(mutex);
        quit = true;
        changed.notify_all();
    }
    if (worker.joinable()) {
        worker.join();
    }
}

bool ICTimer::Start() {
    if (IsActive()) {
        return true;
    }
    delay = std::clamp(delay, minPeriod, maxPeriod);
    resolution = std::clamp(resolution, minPeriod, maxPeriod);

    std::lock_guard lock(mutex);
    if (!worker.joinable()) {
        try {
            worker = std::thread([this] { WorkerMain(); });
        } catch (const std::system_error&) {
            return false;
        }
    }
    period = std::chrono::milliseconds(delay);
    periodic = !oneShot;
    tickEvent = event;
    nextTick = std::chrono::steady_clock::now() + period;
    armed = true;
    ++schedule;
    timerId.store(NewTimerId(), std::memory_order_release);
    active.store(true, std::memory_order_release);
    changed.notify_all();
    return true;
}

void ICTimer::Stop() {
    if (!IsActive()) {
        return;
    }
    std::unique_lock lock(mutex);
    armed = false;
    ++schedule;
    timerId.store(0, std::memory_order_release);
    active.store(false, std::memory_order_release);
    changed.notify_all();
    // After Stop no OnTimer runs any more, unless Stop was called from within it.
    if (std::this_thread::get_id() != worker.get_id()) {
        changed.wait(lock, [this] { return !firing; });
    }
}

void ICTimer::WorkerMain() {
    std::unique_lock lock(mutex);
    while (!quit) {
        if (!armed) {
            changed.wait(lock);
            continue;
        }
        uint64_t scheduled = schedule;
        if (changed.wait_until(lock, nextTick, [&] { return quit || schedule != scheduled; })) {
            continue;  // stopped, restarted or ending
        }
        if (periodic) {
            nextTick += period;
            auto now = std::chrono::steady_clock::now();
            if (nextTick < now) {
                nextTick = now;
            }
        } else {
            armed = false;
        }
        ICSemaphore* target = tickEvent;
        firing = true;
        lock.unlock();
        if (target != nullptr) {
            target->Signal();
        } else {
            try {
                OnTimer();
            } catch (...) {
                // A failing tick handler must not end the timer thread.
            }
        }
        lock.lock();
        firing = false;
        changed.notify_all();
    }
}

void ICTimer::OnTimer() {
    if (!IsActive()) {
        return;
    }
    if (window != nullptr) {
        window->PostWindowMessage(kICWmTimer, 0, 0);
    }
    if (callback) {
        callback(this);
    }
}

ICTimer2::ICTimer2(ICWindowTarget* window, ICThread* targetThread, ICMsgQueue* targetQueue)
    : ICTimer(window), targetThread(targetThread), targetQueue(targetQueue) {}

ICTimer2::~ICTimer2() {
    Stop();
}

void ICTimer2::OnTimer() {
    if (!IsActive()) {
        return;
    }
    auto self = reinterpret_cast<uintptr_t>(this);
    if (window != nullptr) {
        window->PostWindowMessage(kICWmTimer, self, 0);
    }
    if (callback) {
        callback(this);
    }
    if (targetThread != nullptr) {
        targetThread->PostMsg(kICMsgTimer, self, 0, 0);
    }
    if (targetQueue != nullptr) {
        targetQueue->PostMsg(kICMsgTimer, self, 0, 0);
    }
}
