#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "core/ICCriticalSection.h"

// A counting semaphore with initial count 0 and maximum count 0x7FFFFFFF.
//
// The count lives in an atomic word together with the number of threads blocked in Wait, so
// that Signal with nobody blocked and Wait with a count available cost one atomic operation
// each; the mutex and condition variable are used only when a thread has to block.
//
// A thread woken by Signal may destroy the semaphore as soon as its Wait returns: Signal
// touches nothing of the object after the count it published can be taken.
class ICSemaphore {
public:
    static constexpr int32_t kMaximumCount = 0x7FFFFFFF;

    ICSemaphore() = default;
    ICSemaphore(const ICSemaphore&) = delete;
    ICSemaphore& operator=(const ICSemaphore&) = delete;
    virtual ~ICSemaphore() = default;

    // Takes one count. Returns 0 when a count was taken, 138 on time-out, 0x08000000 once the
    // semaphore has been abandoned. kICInfinite waits without limit.
    virtual uint32_t Wait(uint32_t milliseconds);
    // The same wait, performed by calling Wait.
    virtual uint32_t Acquire(uint32_t milliseconds);
    // Releases one count; a count already at the maximum stays there.
    void Signal();
    // Gives the semaphore up as if its handle had been closed under its waiters: every wait in
    // progress and every later one returns 0x08000000. The sender of a message that is thrown
    // away unanswered is released this way.
    void Abandon();

    int32_t GetCount() const;

private:
    // The state word: the count in the low 31 bits, the abandoned mark in bit 31, the number
    // of blocked waiters above.
    static constexpr uint64_t kCountMask = 0x7FFFFFFF;
    static constexpr uint64_t kAbandoned = 0x80000000;
    static constexpr uint64_t kOneWaiter = uint64_t{1} << 32;

    bool TryTake();
    uint32_t WaitBlocking(uint32_t milliseconds);
    // Adds `change` to the state word unless (state & limitMask) == limit, waking one blocked
    // waiter, or all of them with `wakeAll`.
    void Publish(uint64_t change, uint64_t limitMask, uint64_t limit, bool wakeAll);

    std::atomic<uint64_t> state{0};
    std::mutex waitMutex;
    std::condition_variable countChanged;
};

// A lock and a semaphore with one 32-bit value: the lazily created lock-and-signal object of the
// containers, and the reply slot of a synchronous message.
class ICCondition : public ICSemaphore, public ICCriticalSection {
public:
    uint32_t value = 0;
};
