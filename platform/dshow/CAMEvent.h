#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/dshow/DShowTypes.h"

inline constexpr uint32_t kInfiniteWait = 0xFFFFFFFF;

// An event object: set, reset and waited for. An automatic-reset event lets one waiter through
// per Set; a manual-reset event stays set until Reset.
class CAMEvent final : public IAMSignal {
public:
    explicit CAMEvent(bool manualReset = false) : manualReset(manualReset) {}
    CAMEvent(const CAMEvent&) = delete;
    CAMEvent& operator=(const CAMEvent&) = delete;
    ~CAMEvent() = default;

    void Set();
    void Reset();
    // True when the event was (or became) set within `milliseconds` (kInfiniteWait: no limit).
    bool Wait(uint32_t milliseconds = kInfiniteWait);
    // Whether it is set now (an automatic-reset event is consumed by the check).
    bool Check() { return Wait(0); }
    // The handle a reference clock signals.
    HEVENT Handle() { return ToHandle(this); }

    void Signal() override { Set(); }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool set = false;
    const bool manualReset;
};

// A counting semaphore a periodic clock advice releases.
class CAMSemaphore final : public IAMSignal {
public:
    CAMSemaphore() = default;
    CAMSemaphore(const CAMSemaphore&) = delete;
    CAMSemaphore& operator=(const CAMSemaphore&) = delete;
    ~CAMSemaphore() = default;

    void Release(uint32_t count = 1);
    bool Wait(uint32_t milliseconds = kInfiniteWait);
    HSEMAPHORE Handle() { return ToHandle(this); }
    void Signal() override { Release(1); }

private:
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t count = 0;
};
