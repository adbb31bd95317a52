#include "platform/dshow/CAMEvent.h"

#include <chrono>

void CAMEvent::Set() {
    // Notified under the lock: a waiter that wakes may destroy the event at once.
    std::lock_guard<std::mutex> lock(mutex);
    set = true;
    if (manualReset) {
        changed.notify_all();
    } else {
        changed.notify_one();
    }
}

void CAMEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    set = false;
}

bool CAMEvent::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex);
    if (milliseconds == kInfiniteWait) {
        changed.wait(lock, [this] { return set; });
    } else if (!changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [this] { return set; })) {
        return false;
    }
    if (!manualReset) {
        set = false;
    }
    return true;
}

void CAMSemaphore::Release(uint32_t released) {
    std::lock_guard<std::mutex> lock(mutex);
    count += released;
    changed.notify_all();
}

bool CAMSemaphore::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex);
    if (milliseconds == kInfiniteWait) {
        changed.wait(lock, [this] { return count > 0; });
    } else if (!changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [this] { return count > 0; })) {
        return false;
    }
    --count;
    return true;
}
