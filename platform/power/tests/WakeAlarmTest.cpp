#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "platform/power/RtcWakeAlarm.h"
#include "platform/power/tests/PowerTestSupport.h"
#include "platform/profile/tests/ProfileTestFiles.h"

namespace {

using power::RtcWakeAlarm;

// A stand-in for the RTC's sysfs folder; the alarm file starts cleared.
class RtcWakeAlarmTest : public ProfileFileTest {
protected:
    void SetUp() override {
        ProfileFileTest::SetUp();
        WriteBytes(PathOf("wakealarm"), "0\n");
    }

    RtcWakeAlarm Alarm() const { return RtcWakeAlarm(folder.string()); }
    std::string AlarmText() const { return ReadBytes(PathOf("wakealarm")); }

    const std::time_t inOneHour = std::time(nullptr) + 3600;
};

TEST_F(RtcWakeAlarmTest, SetWritesTheEpochSecondsAndClearWritesZero) {
    const RtcWakeAlarm alarm = Alarm();
    EXPECT_TRUE(alarm.IsWritable());
    ASSERT_TRUE(alarm.Set(inOneHour).Succeeded());
    EXPECT_EQ(AlarmText(), std::to_string(inOneHour) + "\n");
    ASSERT_TRUE(alarm.Clear().Succeeded());
    EXPECT_EQ(AlarmText(), "0\n");
}

TEST_F(RtcWakeAlarmTest, APassedTimeIsRefusedAndTheAlarmLeftAsItWas) {
    ASSERT_TRUE(Alarm().Set(inOneHour).Succeeded());
    const power::PowerResult refused = Alarm().Set(std::time(nullptr) - 1);
    EXPECT_EQ(refused.error, EINVAL);
    EXPECT_NE(refused.message.find("has passed"), std::string::npos) << refused.message;
    EXPECT_EQ(AlarmText(), std::to_string(inOneHour) + "\n");
}

TEST_F(RtcWakeAlarmTest, AnRtcInLocalTimeShiftsTheAlarmByTheZoneOffset) {
    // Japan is nine hours ahead; the two clocks also drift a few seconds apart.
    WriteBytes(PathOf("since_epoch"), std::to_string(std::time(nullptr) + 9 * 3600 + 4) + "\n");
    ASSERT_TRUE(Alarm().Set(inOneHour).Succeeded());
    EXPECT_EQ(AlarmText(), std::to_string(inOneHour + 9 * 3600) + "\n");

    WriteBytes(PathOf("since_epoch"), std::to_string(std::time(nullptr) - 6) + "\n");
    ASSERT_TRUE(Alarm().Set(inOneHour).Succeeded());
    EXPECT_EQ(AlarmText(), std::to_string(inOneHour) + "\n");
}

TEST_F(RtcWakeAlarmTest, AMissingAlarmIsReportedWithItsPath) {
    const RtcWakeAlarm alarm(PathOf("rtc9"));
    EXPECT_FALSE(alarm.IsWritable());
    const power::PowerResult missing = alarm.Set(inOneHour);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_NE(missing.message.find(PathOf("rtc9") + "/wakealarm"), std::string::npos)
        << missing.message;
    EXPECT_EQ(alarm.Clear().error, ENOENT);
}

TEST_F(RtcWakeAlarmTest, AnAlarmThisUserMayNotWriteSaysWhatWouldAllowIt) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write any file";
    }
    ::chmod(PathOf("wakealarm").c_str(), 0444);
    const power::PowerResult denied = Alarm().Set(inOneHour);
    EXPECT_EQ(denied.error, EACCES);
    EXPECT_NE(denied.message.find("udev rule"), std::string::npos) << denied.message;
    EXPECT_FALSE(Alarm().IsWritable());
}

TEST(WakeCapability, OnlyTheEffectiveSetCountsAndOnlyItsWakeAlarmBit) {
    const struct {
        const char* status;
        bool grants;
    } cases[] = {
        {"Name:\tsystemd\nCapPrm:\t000001ffffffffff\nCapEff:\t000001ffffffffff\n", true},
        {"CapEff:\t0000000800000000\n", true},   // CAP_WAKE_ALARM alone
        {"CapEff:\t000001f7ffffffff\n", false},  // everything else
        {"CapPrm:\t000001ffffffffff\nCapEff:\t0000000000000000\n", false},
        {"CapEff:\t\n", false},
        {"Name:\tsystemd\n", false},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(power::StatusGrantsWakeAlarm(test.status), test.grants) << test.status;
    }
}

TEST_F(RtcWakeAlarmTest, TimersCannotWakeWithoutAUserManager) {
    {
        const power::testing::ScopedEnvironment runtime("XDG_RUNTIME_DIR", folder.c_str());
        EXPECT_FALSE(power::UserTimersCanWake());
    }
    const power::testing::ScopedEnvironment relative("XDG_RUNTIME_DIR", "run/user");
    EXPECT_FALSE(power::UserTimersCanWake());
}

}  // namespace
