#include "core/ICSemaphore.h"

#include <chrono>

#include "core/ICErrors.h"

uint32_t ICSemaphore::Wait(uint32_t milliseconds) {
    std::unique_lock lock(countMutex);
    if (milliseconds == kICInfinite) {
        countChanged.wait(lock, [this] { return count > 0; });
    } else if (!countChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                      [this] { return count > 0; })) {
        return kICTimedOut;
    }
    --count;
    return kICOk;
}

uint32_t ICSemaphore::Acquire(uint32_t milliseconds) { return Wait(milliseconds); }

void ICSemaphore::Signal() {
    {
        std::lock_guard lock(countMutex);
        if (count == kMaximumCount) {
            return;
        }
        ++count;
    }
    countChanged.notify_one();
}

int32_t ICSemaphore::GetCount() const {
    std::lock_guard lock(countMutex);
    return count;
}
