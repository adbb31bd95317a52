#include "platform/dshow/CSystemClock.h"

#include <chrono>
#include <ctime>
#include <new>
#include <system_error>

namespace {

std::chrono::steady_clock::time_point ToTimePoint(REFERENCE_TIME time) {
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(time * 100));
}

}  // namespace

CSystemClock::CSystemClock(const char16_t* objectName, IUnknown* outer, HRESULT*)
    : CUnknown(objectName, outer) {}

CSystemClock::~CSystemClock() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ending = true;
    }
    changed.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

HRESULT CSystemClock::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IReferenceClock) {
        return GetInterface(static_cast<IReferenceClock*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

REFERENCE_TIME CSystemClock::MonotonicNow() {
    // steady_clock is CLOCK_MONOTONIC here, so advice deadlines use the same time base.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
               .count() /
           100;
}

HRESULT CSystemClock::GetTime(REFERENCE_TIME* time) {
    if (!time) {
        return E_POINTER;
    }
    const REFERENCE_TIME now = MonotonicNow();
    std::lock_guard<std::mutex> lock(mutex);
    if (now > lastTime) {
        lastTime = now;
        *time = now;
        return S_OK;
    }
    *time = lastTime;
    return S_FALSE;
}

HRESULT CSystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                                 DWORD_PTR* cookie) {
    if (!cookie) {
        return E_POINTER;
    }
    *cookie = 0;
    const REFERENCE_TIME due = baseTime + streamTime;
    if (!event || due <= 0 || due == kMaxReferenceTime) {
        return E_INVALIDARG;
    }
    return AddAdvice(due, 0, event, cookie);
}

HRESULT CSystemClock::AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period,
                                     HSEMAPHORE semaphore, DWORD_PTR* cookie) {
    if (!cookie) {
        return E_POINTER;
    }
    *cookie = 0;
    if (!semaphore || start <= 0 || period <= 0 || start == kMaxReferenceTime) {
        return E_INVALIDARG;
    }
    return AddAdvice(start, period, semaphore, cookie);
}

HRESULT CSystemClock::AddAdvice(REFERENCE_TIME due, REFERENCE_TIME period, DWORD_PTR handle,
                                DWORD_PTR* cookie) {
    try {
        std::lock_guard<std::mutex> lock(mutex);
        if (!thread.joinable()) {
            thread = std::thread([this] { AdviceThread(); });
        }
        const DWORD_PTR assigned = nextCookie++;
        advices.emplace(assigned, Advice{due, period, FromHandle(handle)});
        *cookie = assigned;
    } catch (const std::system_error&) {
        return E_OUTOFMEMORY;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    changed.notify_all();
    return S_OK;
}

HRESULT CSystemClock::Unadvise(DWORD_PTR cookie) {
    std::lock_guard<std::mutex> lock(mutex);
    return advices.erase(cookie) > 0 ? S_OK : S_FALSE;
}

void CSystemClock::AdviceThread() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!ending) {
        // Fire what is due; single advices go, periodic ones move on by their period.
        const REFERENCE_TIME now = MonotonicNow();
        REFERENCE_TIME next = kMaxReferenceTime;
        for (auto it = advices.begin(); it != advices.end();) {
            Advice& advice = it->second;
            if (advice.due <= now) {
                // Signalled under the lock, so that Unadvise waits for a signal in progress.
                advice.target->Signal();
                if (advice.period == 0) {
                    it = advices.erase(it);
                    continue;
                }
                while (advice.due <= now) {
                    advice.due += advice.period;
                }
            }
            if (advice.due < next) {
                next = advice.due;
            }
            ++it;
        }
        if (next == kMaxReferenceTime) {
            changed.wait(lock);
        } else {
            changed.wait_until(lock, ToTimePoint(next));
        }
    }
}

CUnknown* CSystemClock::CreateInstance(IUnknown* outer, HRESULT* hr) {
    return new CSystemClock(u"System reference clock", outer, hr);
}
