#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "core/ICCriticalSection.h"

// A counting semaphore with initial count 0 and maximum count 0x7FFFFFFF.
class ICSemaphore {
public:
    static constexpr int32_t kMaximumCount = 0x7FFFFFFF;

    ICSemaphore() = default;
    ICSemaphore(const ICSemaphore&) = delete;
    ICSemaphore& operator=(const ICSemaphore&) = delete;
    virtual ~ICSemaphore() = default;

    // Takes one count. Returns 0 when a count was taken, 138 on time-out. kICInfinite waits
    // without limit.
    virtual uint32_t Wait(uint32_t milliseconds);
    // The same wait, performed by calling Wait.
    virtual uint32_t Acquire(uint32_t milliseconds);
    // Releases one count; a count already at the maximum stays there.
    void Signal();

    int32_t GetCount() const;

private:
    mutable std::mutex countMutex;
    std::condition_variable countChanged;
    int32_t count = 0;
};

// A lock and a semaphore with one 32-bit value: the lazily created lock-and-signal object of the
// containers, and the reply slot of a synchronous message.
class ICCondition : public ICSemaphore, public ICCriticalSection {
public:
    uint32_t value = 0;
};
