#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/com/CUnknown.h"
#include "platform/dshow/DShowInterfaces.h"

// The system reference clock: the monotonic clock in 100 ns units, never going back. Advice
// requests are served by one thread of the clock's own, started by the first request and
// joined when the clock goes. After Unadvise returns, that advice no longer signals.
class CSystemClock final : public CUnknown, public IReferenceClock {
public:
    CSystemClock(const char16_t* objectName, IUnknown* outer, HRESULT* hr);
    ~CSystemClock() override;
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // S_FALSE when the time has not moved since the previous call.
    HRESULT GetTime(REFERENCE_TIME* time) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                       DWORD_PTR* cookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                           DWORD_PTR* cookie) override;
    HRESULT Unadvise(DWORD_PTR cookie) override;

    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    // The monotonic clock now, in 100 ns units.
    static REFERENCE_TIME MonotonicNow();

private:
    struct Advice {
        REFERENCE_TIME due;
        REFERENCE_TIME period;  // 0 for a single advice
        IAMSignal* target;
    };

    HRESULT AddAdvice(REFERENCE_TIME due, REFERENCE_TIME period, DWORD_PTR handle,
                      DWORD_PTR* cookie);
    void AdviceThread();

    std::mutex mutex;
    std::condition_variable changed;
    std::map<DWORD_PTR, Advice> advices;
    DWORD_PTR nextCookie = 1;
    bool ending = false;
    std::thread thread;
    REFERENCE_TIME lastTime = 0;
};
