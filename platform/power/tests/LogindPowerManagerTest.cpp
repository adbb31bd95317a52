#include <gtest/gtest.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/power/LogindPowerManager.h"
#include "platform/power/RecordingPowerManager.h"
#include "platform/power/tests/PowerTestSupport.h"

namespace {

using namespace std::chrono_literals;
using power::CLogindPowerManager;
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

TEST(LogindPowerManager, WithoutLogindTheFactoryFallsBackToRecording) {
    const ScopedEnvironment bus("DBUS_SYSTEM_BUS_ADDRESS", kAbsentBus);
    const ScopedEnvironment backend("ORV_POWER_BACKEND", "logind");
    const auto chosen = power::CreatePowerManager();
    EXPECT_NE(dynamic_cast<power::CRecordingPowerManager*>(chosen.get()), nullptr);
    EXPECT_TRUE(chosen->IsAvailable());
}

TEST(LogindPowerManager, TheRecordingBackendCanBeChosenOutright) {
    const ScopedEnvironment backend("ORV_POWER_BACKEND", "recording");
    const auto chosen = power::CreatePowerManager();
    EXPECT_NE(dynamic_cast<power::CRecordingPowerManager*>(chosen.get()), nullptr);
}

// The block locks logind lists for this process.
int OwnBlockInhibitors() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        return -1;
    }
    sd_bus_message* reply = nullptr;
    int count = -1;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "ListInhibitors", nullptr, &reply,
                           "") >= 0 &&
        sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0) {
        count = 0;
        const char *what, *who, *why, *mode;
        uint32_t uid = 0, pid = 0;
        while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
            if (pid == static_cast<uint32_t>(::getpid()) && std::strcmp(mode, "block") == 0) {
                ++count;
            }
        }
    }
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return count;
}

TEST(LogindPowerManager, TakesAndReleasesARealKeepAwakeLock) {
    if (OwnBlockInhibitors() < 0) {
        GTEST_SKIP() << "no system bus with logind here";
    }
    {
        CLogindPowerManager power;
        ASSERT_TRUE(power.IsAvailable()) << power.UnavailableReason();
        const power::PowerResult kept = power.SetSystemRequired(false);
        ASSERT_TRUE(kept.Succeeded()) << kept.message;
        EXPECT_EQ(OwnBlockInhibitors(), 1);
    }
    // logind notices the closed descriptor on its own time.
    int left = 1;
    for (int attempt = 0; attempt < 40 && left != 0; ++attempt) {
        std::this_thread::sleep_for(50ms);
        left = OwnBlockInhibitors();
    }
    EXPECT_EQ(left, 0);
}

}  // namespace
