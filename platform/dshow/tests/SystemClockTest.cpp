#include "platform/dshow/CSystemClock.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/CAMEvent.h"

namespace {

ComPtr<IReferenceClock> MakeClock() {
    ComPtr<IReferenceClock> clock;
    EXPECT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IReferenceClock, clock.GetVoidAddressOf()),
              S_OK);
    return clock;
}

}  // namespace

TEST(SystemClock, RunsOnTheMonotonicClockWithoutGoingBack) {
    ComPtr<IReferenceClock> clock = MakeClock();
    ASSERT_TRUE(clock);
    REFERENCE_TIME previous = 0;
    ASSERT_TRUE(SUCCEEDED(clock->GetTime(&previous)));
    const REFERENCE_TIME monotonic = CSystemClock::MonotonicNow();
    EXPECT_LT(std::llabs(monotonic - previous), 100 * kUnitsPerMillisecond);
    for (int i = 0; i < 1000; ++i) {
        REFERENCE_TIME now = 0;
        ASSERT_TRUE(SUCCEEDED(clock->GetTime(&now)));
        ASSERT_GE(now, previous);
        previous = now;
    }
    EXPECT_EQ(clock->GetTime(nullptr), E_POINTER);
}

TEST(SystemClock, SignalsAdviceAtItsTime) {
    ComPtr<IReferenceClock> clock = MakeClock();
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    CAMEvent event;
    DWORD_PTR cookie = 0;
    ASSERT_EQ(clock->AdviseTime(now, 30 * kUnitsPerMillisecond, event.Handle(), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_FALSE(event.Wait(5));
    ASSERT_TRUE(event.Wait(2000));
    REFERENCE_TIME fired = 0;
    clock->GetTime(&fired);
    EXPECT_GE(fired, now + 30 * kUnitsPerMillisecond);
    EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);  // a single advice is gone once signalled

    // A past time is signalled at once; a time at or before zero is refused.
    ASSERT_EQ(clock->AdviseTime(1, 0, event.Handle(), &cookie), S_OK);
    EXPECT_TRUE(event.Wait(1000));
    EXPECT_EQ(clock->AdviseTime(0, 0, event.Handle(), &cookie), E_INVALIDARG);
    EXPECT_EQ(clock->AdviseTime(now, 0, 0, &cookie), E_INVALIDARG);
}

TEST(SystemClock, UnadvisedTimeIsNotSignalled) {
    ComPtr<IReferenceClock> clock = MakeClock();
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    CAMEvent event;
    DWORD_PTR cookie = 0;
    // Far enough ahead that a loaded machine still unadvises before the time comes.
    ASSERT_EQ(clock->AdviseTime(now, 300 * kUnitsPerMillisecond, event.Handle(), &cookie), S_OK);
    ASSERT_EQ(clock->Unadvise(cookie), S_OK);
    EXPECT_FALSE(event.Wait(400));
}

TEST(SystemClock, PeriodicAdviceReleasesOncePerPeriod) {
    ComPtr<IReferenceClock> clock = MakeClock();
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    CAMSemaphore semaphore;
    DWORD_PTR cookie = 0;
    ASSERT_EQ(clock->AdvisePeriodic(now + kUnitsPerMillisecond, 10 * kUnitsPerMillisecond,
                                    semaphore.Handle(), &cookie),
              S_OK);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(semaphore.Wait(2000)) << i;
    }
    ASSERT_EQ(clock->Unadvise(cookie), S_OK);
    EXPECT_EQ(clock->AdvisePeriodic(now, 0, semaphore.Handle(), &cookie), E_INVALIDARG);
}
