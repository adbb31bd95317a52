#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/ICErrors.h"
#include "core/ICSemaphore.h"

TEST(ICSemaphore, WaitTimesOutWithoutCount) {
    ICSemaphore semaphore;
    EXPECT_EQ(semaphore.Wait(0), kICTimedOut);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(semaphore.Wait(20), kICTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

TEST(ICSemaphore, EachSignalReleasesOneWait) {
    ICSemaphore semaphore;
    semaphore.Signal();
    semaphore.Signal();
    EXPECT_EQ(semaphore.Acquire(0), kICOk);
    EXPECT_EQ(semaphore.Wait(0), kICOk);
    EXPECT_EQ(semaphore.Wait(0), kICTimedOut);
}

TEST(ICSemaphore, InfiniteWaitWakesOnSignalFromAnotherThread) {
    ICSemaphore semaphore;
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        semaphore.Signal();
    });
    EXPECT_EQ(semaphore.Wait(kICInfinite), kICOk);
    signaller.join();
}

TEST(ICCondition, IsRecursiveLockAndSemaphore) {
    ICCondition condition;
    condition.Lock();
    EXPECT_TRUE(condition.TryLock());
    condition.value = 7;
    condition.Unlock();
    condition.Unlock();
    condition.Signal();
    EXPECT_EQ(condition.Wait(0), kICOk);
    EXPECT_EQ(condition.value, 7u);
}
