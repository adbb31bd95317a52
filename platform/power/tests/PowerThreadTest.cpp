#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/power/RecordingPowerManager.h"

namespace {

using power::CRecordingPowerManager;
using power::PowerBroadcast;

// The application's side: events are posted to its own thread, which handles them in order
// and acknowledges the suspend from there.
class ApplicationThread {
public:
    explicit ApplicationThread(CRecordingPowerManager& power) : power(power) {
        power.SetNotify([this](PowerBroadcast event) {
            std::lock_guard guard(lock);
            posted.push_back(event);
            arrived.notify_one();
        });
        worker = std::thread([this] { Run(); });
    }
    ~ApplicationThread() {
        {
            std::lock_guard guard(lock);
            ending = true;
        }
        arrived.notify_one();
        worker.join();
        power.SetNotify(nullptr);
    }

    void WaitForHandled(size_t count) {
        std::unique_lock guard(lock);
        arrived.wait(guard, [&] { return handled.size() >= count; });
    }
    std::vector<PowerBroadcast> Handled() {
        std::lock_guard guard(lock);
        return handled;
    }

private:
    void Run() {
        std::unique_lock guard(lock);
        while (true) {
            arrived.wait(guard, [&] { return ending || !posted.empty(); });
            if (posted.empty()) {
                return;
            }
            const PowerBroadcast event = posted.front();
            posted.pop_front();
            guard.unlock();
            power.SetSystemRequired(false);  // the Part's suspend handling asks for this too
            if (event == PowerBroadcast::kSuspend) {
                power.AcknowledgeSuspend();
            }
            guard.lock();
            handled.push_back(event);
            arrived.notify_all();
        }
    }

    CRecordingPowerManager& power;
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<PowerBroadcast> posted;
    std::vector<PowerBroadcast> handled;
    bool ending = false;
    std::thread worker;
};

TEST(PowerThreads, SleepsAndResumesAnnouncedOnOneThreadAreHandledOnAnother) {
    CRecordingPowerManager power;
    ApplicationThread application(power);
    std::thread keepAwake([&] {
        for (int request = 0; request < 200; ++request) {
            power.SetSystemRequired(true);
        }
    });
    for (int cycle = 1; cycle <= 20; ++cycle) {
        power.RaisePrepareForSleep(true);
        application.WaitForHandled(4 * cycle - 2);
        power.RaisePrepareForSleep(false);
        application.WaitForHandled(4 * cycle);
        EXPECT_TRUE(power.Coordinator().SleepDelayHeld());
    }
    keepAwake.join();
    const std::vector<PowerBroadcast> handled = application.Handled();
    ASSERT_EQ(handled.size(), 80u);
    for (size_t index = 0; index < handled.size(); index += 4) {
        EXPECT_EQ(handled[index], PowerBroadcast::kQuerySuspend);
        EXPECT_EQ(handled[index + 1], PowerBroadcast::kSuspend);
        EXPECT_EQ(handled[index + 2], PowerBroadcast::kResumeAutomatic);
        EXPECT_EQ(handled[index + 3], PowerBroadcast::kResumeSuspend);
    }
}

}  // namespace
