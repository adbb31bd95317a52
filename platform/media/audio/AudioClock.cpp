#include "platform/media/audio/AudioClock.h"

#include <algorithm>
#include <new>

#include "platform/dshow/CSystemClock.h"

namespace orvaudio {

AudioClock::AudioClock() {
    // The system clock is held through its interface; its inner unknown takes the reference.
    if (auto* clock = new (std::nothrow) CSystemClock(u"Audio clock advice", nullptr, nullptr)) {
        clock->NonDelegatingQueryInterface(IID_IReferenceClock, system.GetVoidAddressOf());
    }
}

REFERENCE_TIME AudioClock::Now() {
    REFERENCE_TIME time = 0;
    GetTime(&time);
    return time;
}

HRESULT AudioClock::GetTime(REFERENCE_TIME* time) {
    if (time == nullptr) {
        return E_POINTER;
    }
    const REFERENCE_TIME monotonic = CSystemClock::MonotonicNow();
    std::lock_guard<std::mutex> lock(mutex);
    const REFERENCE_TIME candidate = monotonic + offset;
    *time = std::max(candidate, lastTime);
    if (candidate <= lastTime) {
        return S_FALSE;
    }
    lastTime = candidate;
    return S_OK;
}

HRESULT AudioClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                               DWORD_PTR* cookie) {
    if (!system) {
        return E_OUTOFMEMORY;
    }
    return system->AdviseTime(baseTime - Offset(), streamTime, event, cookie);
}

HRESULT AudioClock::AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period,
                                   HSEMAPHORE semaphore, DWORD_PTR* cookie) {
    if (!system) {
        return E_OUTOFMEMORY;
    }
    return system->AdvisePeriodic(start - Offset(), period, semaphore, cookie);
}

HRESULT AudioClock::Unadvise(DWORD_PTR cookie) {
    return system ? system->Unadvise(cookie) : S_FALSE;
}

void AudioClock::Follow(REFERENCE_TIME audioTime) {
    const REFERENCE_TIME monotonic = CSystemClock::MonotonicNow();
    std::lock_guard<std::mutex> lock(mutex);
    const REFERENCE_TIME difference = audioTime - (monotonic + offset);
    if (difference > kStepThreshold || difference < -kStepThreshold) {
        offset += difference;
    } else {
        offset += difference / kSlewDivisor;
    }
}

REFERENCE_TIME AudioClock::Offset() {
    std::lock_guard<std::mutex> lock(mutex);
    return offset;
}

}  // namespace orvaudio
