#pragma once

#include <mutex>

#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowInterfaces.h"

namespace orvaudio {

// The sound renderer's reference clock: the monotonic clock plus an offset that follows the
// sound device's play position while sound plays, so that the graph keeps time with what is
// heard. Small differences are taken up gradually, large ones at once; either way the time
// handed out never goes back (it stands still until the clock has caught up). With nothing
// playing (stopped, paused, no sound) nobody calls Follow and the clock runs on the
// monotonic clock with the offset it has.
//
// Advice requests are served by a system clock: a due time of this clock is converted to the
// monotonic clock with the offset at the time of the request. Thread-safe.
class AudioClock {
public:
    // A difference above this is taken at once rather than gradually.
    static constexpr REFERENCE_TIME kStepThreshold = 200 * kUnitsPerMillisecond;
    // Each Follow takes this fraction (1 / n) of a small difference.
    static constexpr int kSlewDivisor = 8;

    AudioClock();

    REFERENCE_TIME Now();
    HRESULT GetTime(REFERENCE_TIME* time);
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                       DWORD_PTR* cookie);
    HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                           DWORD_PTR* cookie);
    HRESULT Unadvise(DWORD_PTR cookie);

    // The clock time the sound device is at now (the time of the frame being heard).
    void Follow(REFERENCE_TIME audioTime);
    // The current offset from the monotonic clock (for tests).
    REFERENCE_TIME Offset();

private:
    std::mutex mutex;
    REFERENCE_TIME offset = 0;
    REFERENCE_TIME lastTime = 0;
    ComPtr<IReferenceClock> system;
};

}  // namespace orvaudio
