#include "core/ICSemaphore.h"

#include <chrono>

#include "core/ICErrors.h"

bool ICSemaphore::TryTake() {
    uint64_t old = state.load(std::memory_order_relaxed);
    while ((old & kCountMask) != 0) {
        if (state.compare_exchange_weak(old, old - 1, std::memory_order_acquire,
                                        std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

uint32_t ICSemaphore::Wait(uint32_t milliseconds) {
    if ((state.load(std::memory_order_acquire) & kAbandoned) != 0) {
        return kICWaitFailed;
    }
    if (TryTake()) {
        return kICOk;
    }
    if (milliseconds == 0) {
        return kICTimedOut;
    }
    return WaitBlocking(milliseconds);
}

uint32_t ICSemaphore::WaitBlocking(uint32_t milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock lock(waitMutex);
    // Registering as a waiter before looking at the state again makes every Signal or Abandon
    // from now on take the mutex and notify, so no wake-up is lost between the look and the
    // wait.
    state.fetch_add(kOneWaiter, std::memory_order_seq_cst);
    uint32_t result;
    for (;;) {
        if ((state.load(std::memory_order_acquire) & kAbandoned) != 0) {
            result = kICWaitFailed;
            break;
        }
        if (TryTake()) {
            result = kICOk;
            break;
        }
        if (milliseconds == kICInfinite) {
            countChanged.wait(lock);
        } else if (countChanged.wait_until(lock, deadline) == std::cv_status::timeout) {
            result = TryTake() ? kICOk : kICTimedOut;
            break;
        }
    }
    state.fetch_sub(kOneWaiter, std::memory_order_relaxed);
    return result;
}

uint32_t ICSemaphore::Acquire(uint32_t milliseconds) {
    return Wait(milliseconds);
}

void ICSemaphore::Publish(uint64_t change, uint64_t limitMask, uint64_t limit, bool wakeAll) {
    uint64_t old = state.load(std::memory_order_seq_cst);
    while ((old >> 32) == 0) {
        if ((old & limitMask) == limit) {
            return;
        }
        // Nobody is blocked: publishing the change is all there is to do, and it is the last
        // access to the object (a waiter may take the count and destroy the semaphore at once).
        if (state.compare_exchange_weak(old, old + change, std::memory_order_seq_cst)) {
            return;
        }
    }
    // A waiter is blocked, or about to block, under the mutex: publish and notify while holding
    // it, so that the waiter cannot return (and destroy the semaphore) before the notify is done.
    std::lock_guard lock(waitMutex);
    old = state.load(std::memory_order_relaxed);
    do {
        if ((old & limitMask) == limit) {
            return;
        }
    } while (!state.compare_exchange_weak(old, old + change, std::memory_order_seq_cst));
    if (wakeAll) {
        countChanged.notify_all();
    } else {
        countChanged.notify_one();
    }
}

void ICSemaphore::Signal() {
    Publish(1, kCountMask, kCountMask, false);
}

void ICSemaphore::Abandon() {
    Publish(kAbandoned, kAbandoned, kAbandoned, true);
}

int32_t ICSemaphore::GetCount() const {
    return static_cast<int32_t>(state.load(std::memory_order_relaxed) & kCountMask);
}
