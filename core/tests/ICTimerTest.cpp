#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/ICErrors.h"
#include "core/ICMsgQueue.h"
#include "core/ICThread.h"
#include "core/ICTimer.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 20s;

bool Eventually(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct PostedWindowMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

class RecordingWindow : public ICWindowTarget {
public:
    void PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard lock(mutex);
        posted.push_back({message, wParam, lParam});
    }
    std::vector<PostedWindowMessage> Posted() {
        std::lock_guard lock(mutex);
        return posted;
    }

private:
    std::mutex mutex;
    std::vector<PostedWindowMessage> posted;
};

// A thread that records the timer messages it receives.
class TimerListener : public ICThread {
public:
    ~TimerListener() override { Stop(0, 0); }
    uint32_t OnMessage(ICMsg* msg) override {
        if (msg->id == kICMsgTimer) {
            lastTimer = msg->param1;
            ++ticks;
        }
        return ICThread::OnMessage(msg);
    }
    std::atomic<uintptr_t> lastTimer{0};
    std::atomic<int> ticks{0};
};

}  // namespace

TEST(ICTimer, DelayBelowTheMinimumRunsAtTheMinimumPeriod) {
    ICTimer timer;
    EXPECT_EQ(timer.minPeriod, kICTimerMinimumPeriod);
    EXPECT_EQ(timer.maxPeriod, kICTimerMaximumPeriod);
    EXPECT_EQ(timer.delay, 100u);
    EXPECT_EQ(timer.resolution, timer.minPeriod);

    ICSemaphore ticks;
    timer.delay = 0;
    timer.resolution = 0;
    timer.event = &ticks;
    EXPECT_TRUE(timer.Start());
    EXPECT_EQ(timer.delay, 1u);
    EXPECT_EQ(timer.resolution, 1u);
    EXPECT_TRUE(timer.IsActive());
    EXPECT_NE(timer.GetTimerId(), 0u);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(ticks.Wait(20000), kICOk);
    }
    timer.Stop();
    EXPECT_FALSE(timer.IsActive());
    EXPECT_EQ(timer.GetTimerId(), 0u);
}

TEST(ICTimer, DelayAboveTheMaximumRunsAtTheMaximumPeriod) {
    ICTimer timer;
    ICSemaphore ticks;
    timer.delay = 5000000;
    timer.resolution = 2000000;
    timer.event = &ticks;
    timer.Start();
    EXPECT_EQ(timer.delay, kICTimerMaximumPeriod);
    EXPECT_EQ(timer.resolution, kICTimerMaximumPeriod);
    EXPECT_EQ(ticks.Wait(50), kICTimedOut);
    // Destroyed while active: the timer thread is stopped and joined.
}

TEST(ICTimer, OneShotFiresOnceAndStaysActiveUntilStopped) {
    ICTimer timer;
    std::atomic<int> calls{0};
    timer.oneShot = true;
    timer.delay = 5;
    timer.callback = [&](ICTimer* t) {
        EXPECT_EQ(t, &timer);
        ++calls;
    };
    timer.Start();
    ASSERT_TRUE(Eventually([&] { return calls == 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(timer.IsActive());
    EXPECT_TRUE(timer.Start());  // already active: nothing happens
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(calls, 1);

    timer.Stop();
    timer.Start();
    ASSERT_TRUE(Eventually([&] { return calls == 2; }));
}

TEST(ICTimer, TickPostsTheTimerMessageToTheWindowThenCallsBack) {
    RecordingWindow window;
    std::atomic<int> calls{0};
    ICTimer timer(&window);
    timer.delay = 2;
    timer.callback = [&](ICTimer*) { ++calls; };
    timer.Start();
    ASSERT_TRUE(Eventually([&] { return calls >= 3; }));
    timer.Stop();
    auto posted = window.Posted();
    ASSERT_GE(posted.size(), 3u);
    EXPECT_EQ(posted[0].message, kICWmTimer);
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(posted[0].lParam, 0);
}

TEST(ICTimer, EventTargetReplacesTheCallback) {
    ICTimer timer;
    ICSemaphore ticks;
    std::atomic<int> calls{0};
    timer.delay = 2;
    timer.event = &ticks;
    timer.callback = [&](ICTimer*) { ++calls; };
    timer.Start();
    ASSERT_EQ(ticks.Wait(20000), kICOk);
    ASSERT_EQ(ticks.Wait(20000), kICOk);
    timer.Stop();
    EXPECT_EQ(calls, 0);
}

TEST(ICTimer, ExceptionsFromTheTickAreSwallowed) {
    ICTimer timer;
    std::atomic<int> calls{0};
    timer.delay = 2;
    timer.callback = [&](ICTimer*) {
        if (++calls == 1) {
            throw std::runtime_error("tick failed");
        }
    };
    timer.Start();
    ASSERT_TRUE(Eventually([&] { return calls >= 3; }));
}

TEST(ICTimer, StopFromTheTickEndsTheTicks) {
    ICTimer timer;
    std::atomic<int> calls{0};
    timer.delay = 1;
    timer.callback = [&](ICTimer* t) {
        ++calls;
        t->Stop();
    };
    timer.Start();
    ASSERT_TRUE(Eventually([&] { return !timer.IsActive(); }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(calls, 1);
}

TEST(ICTimer, StopWaitsForATickInProgress) {
    ICTimer timer;
    std::atomic<bool> inside{false};
    std::atomic<bool> entered{false};
    timer.delay = 1;
    timer.callback = [&](ICTimer*) {
        inside = true;
        entered = true;
        std::this_thread::sleep_for(30ms);
        inside = false;
    };
    timer.Start();
    ASSERT_TRUE(Eventually([&] { return entered.load(); }));
    timer.Stop();
    EXPECT_FALSE(inside);
}

TEST(ICTimer2, PostsTimerMessagesToItsThreadQueueAndWindow) {
    TimerListener listener;
    listener.Start();
    ICMsgQueue queue;
    RecordingWindow window;
    {
        ICTimer2 timer(&window, &listener, &queue);
        timer.delay = 2;
        timer.Start();
        ASSERT_TRUE(Eventually([&] { return listener.ticks >= 2; }));
        EXPECT_EQ(listener.lastTimer, reinterpret_cast<uintptr_t>(&timer));

        ICMsg msg;
        ASSERT_EQ(queue.GetMsg(&msg, 0, true), kICOk);
        EXPECT_EQ(msg.id, kICMsgTimer);
        EXPECT_EQ(msg.param1, reinterpret_cast<uintptr_t>(&timer));
        EXPECT_EQ(msg.param2, 0u);
        timer.Stop();
        ASSERT_FALSE(window.Posted().empty());
        EXPECT_EQ(window.Posted()[0].message, kICWmTimer);
        EXPECT_EQ(window.Posted()[0].wParam, reinterpret_cast<uintptr_t>(&timer));

        // Nothing is posted once Stop has returned.
        int queued = queue.GetCount();
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(queue.GetCount(), queued);
    }
}
