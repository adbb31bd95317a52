#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "platform/power/LogindPowerManager.h"
#include "platform/power/RecordingPowerManager.h"
#include "platform/power/tests/FakeLogind.h"
#include "platform/power/tests/PowerTestSupport.h"

namespace {

using namespace std::chrono_literals;
using power::CLogindPowerManager;
using power::PowerBroadcast;
using power::testing::FakeLogind;
using power::testing::ScopedEnvironment;

constexpr const char* kAbsentBus = "unix:path=/nonexistent/orvanta-test/system_bus_socket";

TEST(LogindPowerManager, WithoutASystemBusEveryRequestFailsHarmlessly) {
    const ScopedEnvironment bus("DBUS_SYSTEM_BUS_ADDRESS", kAbsentBus);
    const auto started = std::chrono::steady_clock::now();
    {
        CLogindPowerManager power;
        EXPECT_FALSE(power.IsAvailable());
        EXPECT_NE(power.UnavailableReason().find("system bus"), std::string::npos)
            << power.UnavailableReason();
        bool notified = false;
        power.SetNotify([&](power::PowerBroadcast) { notified = true; });

        const power::PowerResult suspend = power.Suspend();
        EXPECT_NE(suspend.error, 0);
        EXPECT_EQ(suspend.message, power.UnavailableReason());
        EXPECT_NE(power.SetSystemRequired(true).error, 0);
        power.AcknowledgeSuspend();
        EXPECT_FALSE(notified);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}

TEST(LogindPowerManager, WithoutLogindTheFactoryChoosesTheRecordingBackend) {
    const ScopedEnvironment bus("DBUS_SYSTEM_BUS_ADDRESS", kAbsentBus);
    for (const char* chosen : {"logind", "recording"}) {
        const ScopedEnvironment backend("ORV_POWER_BACKEND", chosen);
        const auto manager = power::CreatePowerManager();
        EXPECT_NE(dynamic_cast<power::CRecordingPowerManager*>(manager.get()), nullptr) << chosen;
        EXPECT_TRUE(manager->IsAvailable());
    }
}

// The logind backend against a stand-in logind on a private bus.
class LogindOnAPrivateBus : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fake.Usable()) {
            GTEST_SKIP() << "no dbus-daemon for a private bus here";
        }
    }

    void Listen(CLogindPowerManager& power) {
        power.SetNotify([this](PowerBroadcast event) {
            std::lock_guard guard(lock);
            events.push_back(event);
        });
    }
    std::vector<PowerBroadcast> Events() {
        std::lock_guard guard(lock);
        return events;
    }
    bool LockCountReaches(size_t count) {
        return FakeLogind::Eventually([&] { return fake.Locks().size() >= count; });
    }

    FakeLogind fake{true, 300ms};
    const ScopedEnvironment bus{"DBUS_SYSTEM_BUS_ADDRESS", fake.Address().c_str()};
    std::mutex lock;
    std::vector<PowerBroadcast> events;
};

TEST_F(LogindOnAPrivateBus, SuspendWaitsForTheAcknowledgementAndResumesReady) {
    CLogindPowerManager power;
    ASSERT_TRUE(power.IsAvailable()) << power.UnavailableReason();
    Listen(power);
    ASSERT_TRUE(LockCountReaches(1));
    const FakeLogind::Lock delay = fake.Locks()[0];
    EXPECT_EQ(delay.what, "sleep");
    EXPECT_EQ(delay.who, "Orvanta");
    EXPECT_EQ(delay.mode, "delay");

    ASSERT_TRUE(power.Suspend().Succeeded());
    EXPECT_EQ(fake.SuspendRequests(), 1);
    ASSERT_TRUE(FakeLogind::Eventually([&] { return Events().size() == 2; }));
    EXPECT_EQ(Events(), (std::vector{PowerBroadcast::kQuerySuspend, PowerBroadcast::kSuspend}));
    EXPECT_FALSE(fake.Released(delay));
    power.AcknowledgeSuspend();
    EXPECT_TRUE(FakeLogind::Eventually([&] { return fake.Released(delay); }));

    fake.Announce(false);
    ASSERT_TRUE(FakeLogind::Eventually([&] { return Events().size() == 4; }));
    EXPECT_EQ(Events()[2], PowerBroadcast::kResumeAutomatic);
    EXPECT_EQ(Events()[3], PowerBroadcast::kResumeSuspend);
    ASSERT_TRUE(LockCountReaches(2));
    EXPECT_EQ(fake.Locks()[1].mode, "delay");
}

TEST_F(LogindOnAPrivateBus, AnUnacknowledgedSleepIsLetGoAfterLogindsOwnDelay) {
    CLogindPowerManager power;
    Listen(power);
    ASSERT_TRUE(LockCountReaches(1));
    const auto announced = std::chrono::steady_clock::now();
    fake.Announce(true);
    ASSERT_TRUE(FakeLogind::Eventually([&] { return fake.Released(fake.Locks()[0]); }));
    EXPECT_GE(std::chrono::steady_clock::now() - announced, 300ms);
    EXPECT_EQ(Events().size(), 2u);
}

TEST_F(LogindOnAPrivateBus, KeepAwakeLocksAreLetGoWithTheManager) {
    {
        CLogindPowerManager power;
        ASSERT_TRUE(power.SetSystemRequired(true).Succeeded());
        ASSERT_TRUE(power.SetSystemRequired(false).Succeeded());
        ASSERT_TRUE(LockCountReaches(2));
    }
    const std::vector<FakeLogind::Lock> locks = fake.Locks();
    ASSERT_EQ(locks.size(), 2u);  // the renewal took no second lock
    EXPECT_EQ(locks[1].what, "sleep:idle");
    EXPECT_EQ(locks[1].mode, "block");
    // The fake sees a closed descriptor when its bus thread next looks.
    EXPECT_TRUE(FakeLogind::Eventually([&] { return fake.Released(locks[0]); }));
    EXPECT_TRUE(FakeLogind::Eventually([&] { return fake.Released(locks[1]); }));
}

TEST(LogindPowerManager, ABusWithoutLogindFailsHarmlessly) {
    FakeLogind emptyBus(false);
    if (!emptyBus.Usable()) {
        GTEST_SKIP() << "no dbus-daemon for a private bus here";
    }
    const ScopedEnvironment bus("DBUS_SYSTEM_BUS_ADDRESS", emptyBus.Address().c_str());
    CLogindPowerManager power;
    EXPECT_FALSE(power.IsAvailable());
    EXPECT_NE(power.UnavailableReason().find("logind"), std::string::npos)
        << power.UnavailableReason();
    EXPECT_NE(power.Suspend().error, 0);
    EXPECT_EQ(emptyBus.SuspendRequests(), 0);
}

}  // namespace
