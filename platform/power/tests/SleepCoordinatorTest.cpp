#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/power/RecordingPowerManager.h"
#include "platform/power/tests/PowerTestSupport.h"

namespace {

using namespace std::chrono_literals;
using power::CRecordingPowerManager;
using power::PowerBroadcast;
using power::PowerCall;
using power::SleepPhase;
using power::testing::Released;
using power::testing::SuspendAsked;
using power::testing::Taken;

// The recording backend on a clock the test moves; it has taken its sleep delay lock.
class PowerRules : public ::testing::Test {
protected:
    std::vector<PowerCall> CallsSinceStart() const {
        std::vector<PowerCall> calls = power.Calls();
        EXPECT_EQ(calls.at(0), Taken("sleep", "delay"));
        calls.erase(calls.begin());
        return calls;
    }

    void Listen() {
        power.SetNotify([this](PowerBroadcast event) { events.push_back(event); });
    }

    std::chrono::steady_clock::time_point now{};
    CRecordingPowerManager power{[this] { return now; }, 5s};
    std::vector<PowerBroadcast> events;
};

using RecordingPowerManager = PowerRules;
using KeepAwake = PowerRules;
using SleepAnnouncement = PowerRules;

TEST_F(RecordingPowerManager, RecordsEveryRequestInOrder) {
    EXPECT_TRUE(power.SetWakeAlarm(1'796'000'000).Succeeded());
    EXPECT_TRUE(power.SetSystemRequired(false).Succeeded());
    EXPECT_TRUE(power.ClearWakeAlarm().Succeeded());
    EXPECT_TRUE(power.Suspend().Succeeded());
    const std::vector<PowerCall> expected = {
        {PowerCall::Kind::kAlarmSet, {}, {}, 1'796'000'000},
        Taken("sleep:idle", "block"),
        {PowerCall::Kind::kAlarmCleared, {}, {}, 0},
        // The keep-awake lock would stand in the way of the sleep asked for.
        Released("sleep:idle", "block"),
        SuspendAsked(),
    };
    EXPECT_EQ(CallsSinceStart(), expected);
    EXPECT_TRUE(power.IsAvailable());
}

TEST_F(KeepAwake, RenewalsExtendOneLockUntilTwoMinutesAfterTheLastRequest) {
    ASSERT_TRUE(power.SetSystemRequired(false).Succeeded());
    EXPECT_EQ(power.Coordinator().NextDeadline(), now + 120s);
    now += 60s;
    ASSERT_TRUE(power.SetSystemRequired(true).Succeeded());
    now += 119s;
    power.Poll();
    EXPECT_TRUE(power.Coordinator().KeepAwakeHeld());
    now += 1s;
    power.Poll();
    EXPECT_FALSE(power.Coordinator().KeepAwakeHeld());
    EXPECT_EQ(power.Coordinator().NextDeadline(), std::nullopt);

    now += 10min;
    ASSERT_TRUE(power.SetSystemRequired(false).Succeeded());
    EXPECT_EQ(power.Coordinator().NextDeadline(), now + 120s);
    EXPECT_EQ(CallsSinceStart(),
              (std::vector<PowerCall>{Taken("sleep:idle", "block"), Released("sleep:idle", "block"),
                                      Taken("sleep:idle", "block")}));
}

TEST_F(KeepAwake, ARefusedLockIsReportedAndAskedForAgainNextTime) {
    power.RefuseInhibitors(EACCES);
    const power::PowerResult refused = power.SetSystemRequired(false);
    EXPECT_EQ(refused.error, EACCES);
    EXPECT_NE(refused.message.find("kept awake"), std::string::npos) << refused.message;
    EXPECT_FALSE(power.Coordinator().KeepAwakeHeld());

    power.RefuseInhibitors(0);
    now += 60s;
    EXPECT_TRUE(power.SetSystemRequired(false).Succeeded());
    EXPECT_TRUE(power.Coordinator().KeepAwakeHeld());
}

TEST_F(SleepAnnouncement, SendsQuerySuspendAndSuspendAndHoldsTheSleepUntilAcknowledged) {
    Listen();
    ASSERT_TRUE(power.SetSystemRequired(true).Succeeded());
    power.RaisePrepareForSleep(true);
    EXPECT_EQ(events, (std::vector{PowerBroadcast::kQuerySuspend, PowerBroadcast::kSuspend}));
    EXPECT_EQ(power.Coordinator().Phase(), SleepPhase::kPreparing);
    EXPECT_TRUE(power.Coordinator().SleepDelayHeld());
    EXPECT_FALSE(power.Coordinator().KeepAwakeHeld());

    now += 2s;
    power.AcknowledgeSuspend();
    EXPECT_FALSE(power.Coordinator().SleepDelayHeld());
    EXPECT_EQ(power.Coordinator().Phase(), SleepPhase::kReleased);

    power.RaisePrepareForSleep(false);
    EXPECT_EQ(events,
              (std::vector{PowerBroadcast::kQuerySuspend, PowerBroadcast::kSuspend,
                           PowerBroadcast::kResumeAutomatic, PowerBroadcast::kResumeSuspend}));
    EXPECT_EQ(power.Coordinator().Phase(), SleepPhase::kAwake);
    EXPECT_EQ(CallsSinceStart(),
              (std::vector<PowerCall>{Taken("sleep:idle", "block"), Released("sleep:idle", "block"),
                                      Released("sleep", "delay"), Taken("sleep", "delay")}));
}

TEST_F(SleepAnnouncement, WithoutAcknowledgementTheSleepWaitsOnlyUntilTheTimeout) {
    Listen();
    power.RaisePrepareForSleep(true);
    EXPECT_EQ(power.Coordinator().NextDeadline(), now + 5s);
    now += 4999ms;
    power.Poll();
    EXPECT_TRUE(power.Coordinator().SleepDelayHeld());
    now += 1ms;
    power.Poll();
    EXPECT_FALSE(power.Coordinator().SleepDelayHeld());
    EXPECT_EQ(power.Coordinator().Phase(), SleepPhase::kReleased);
    power.AcknowledgeSuspend();  // late: nothing left to release
    EXPECT_EQ(CallsSinceStart(), (std::vector<PowerCall>{Released("sleep", "delay")}));
}

TEST_F(SleepAnnouncement, WithNobodyListeningTheComputerSleepsAtOnce) {
    power.RaisePrepareForSleep(true);
    EXPECT_FALSE(power.Coordinator().SleepDelayHeld());
    EXPECT_EQ(power.Coordinator().Phase(), SleepPhase::kReleased);
}

TEST_F(SleepAnnouncement, ASleepCalledOffStandsReadyForTheNextAndRepeatsAreIgnored) {
    Listen();
    power.RaisePrepareForSleep(false);  // a resume from before this run
    EXPECT_TRUE(events.empty());
    power.RaisePrepareForSleep(true);
    power.RaisePrepareForSleep(true);
    EXPECT_EQ(events.size(), 2u);
    power.RaisePrepareForSleep(false);  // called off before the acknowledgement
    power.RaisePrepareForSleep(false);
    EXPECT_EQ(events.size(), 4u);
    EXPECT_TRUE(power.Coordinator().SleepDelayHeld());
    EXPECT_EQ(power.Coordinator().NextDeadline(), std::nullopt);
    EXPECT_EQ(CallsSinceStart(),
              (std::vector<PowerCall>{Released("sleep", "delay"), Taken("sleep", "delay")}));
}

TEST_F(SleepAnnouncement, KeepAwakeRequestsWhilePreparingHoldNothing) {
    Listen();
    power.RaisePrepareForSleep(true);
    EXPECT_TRUE(power.SetSystemRequired(false).Succeeded());
    EXPECT_FALSE(power.Coordinator().KeepAwakeHeld());
    power.AcknowledgeSuspend();
    EXPECT_TRUE(power.SetSystemRequired(false).Succeeded());
    EXPECT_FALSE(power.Coordinator().KeepAwakeHeld());
    power.RaisePrepareForSleep(false);
    EXPECT_TRUE(power.SetSystemRequired(false).Succeeded());
    EXPECT_TRUE(power.Coordinator().KeepAwakeHeld());
}

TEST_F(SleepAnnouncement, AnAcknowledgementFromInsideTheNotificationIsAccepted) {
    power.SetNotify([this](PowerBroadcast event) {
        events.push_back(event);
        if (event == PowerBroadcast::kSuspend) {
            power.AcknowledgeSuspend();
        }
    });
    power.RaisePrepareForSleep(true);
    EXPECT_EQ(events.size(), 2u);
    EXPECT_FALSE(power.Coordinator().SleepDelayHeld());
}

}  // namespace
