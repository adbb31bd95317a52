#include <gtest/gtest.h>

#include "app/scheduler/CMainTimer.h"
#include "app/scheduler/tests/SchedulerTestSupport.h"
#include "platform/power/RecordingPowerManager.h"

namespace {

using schedtest::Today;
using Kind = power::PowerCall::Kind;

// The main timer over the scheduler's fixture, with the recording power backend; timer
// messages come every 100 ms and move the fixture's clock with them.
class MainTimerTest : public ::testing::Test, public schedtest::SchedulerFixture {
protected:
    void SetUp() override {
        host.power = &power;
        timer.reloadReservations = [this] { ++reloads; };
        timer.setTrayIcon = [this](int icon) { icons.push_back(icon); };
        start = now = Today(20, 0);
        timer.Start(0);
    }

    // Timer messages for `milliseconds`.
    void Advance(uint32_t milliseconds) {
        for (uint32_t step = 0; step < milliseconds; step += CMainTimer::kDelay) {
            tick += CMainTimer::kDelay;
            now = start + tick / 1000;
            timer.OnTimer(tick);
        }
    }

    size_t CountCalls(Kind kind) const {
        size_t count = 0;
        for (const power::PowerCall& call : power.Calls()) {
            count += call.kind == kind;
        }
        return count;
    }

    power::CRecordingPowerManager power;
    CMainTimer timer{*scheduler, *list, power};
    TimeValue start = 0;
    uint32_t tick = 0;
    int reloads = 0;
    std::vector<int> icons;
};

// Each period fires when its accumulator reaches it; a gap of a second or more counts as one
// delay, so a stopped process does not make every period fire at once.
TEST(CMainTimerAccumulators, PeriodsFireOnTheirAccumulatedTimeAndLongGapsCountAsOneDelay) {
    struct Case {
        std::vector<uint32_t> gaps;
        uint32_t lastFired;
    };
    const uint32_t every100 = 1u << 0;
    const uint32_t every500 = 1u << 1;
    const uint32_t every1000 = 1u << 2;
    for (const Case& c :
         {Case{{100, 100, 100, 100, 100}, every100 | every500},
          Case{{100, 100, 100, 100, 5000}, every100 | every500},
          Case{{100, 100, 100, 100, 1000}, every100 | every500}, Case{{999}, every100 | every500},
          Case{{400, 400, 999}, every100 | every500 | every1000},
          Case{{999, 999}, every100 | every500 | every1000}}) {
        CMainTimer::EpgWindowHooks hooks;
        schedtest::SchedulerFixture f;
        power::CRecordingPowerManager power;
        CMainTimer timer(*f.scheduler, *f.list, power);
        uint32_t fired = 0;
        for (const uint32_t gap : c.gaps) {
            fired = timer.Accumulate(gap);
        }
        EXPECT_EQ(fired, c.lastFired) << c.gaps.size() << " gaps, last " << c.gaps.back();
    }
}

// After a wake for a reservation the countdown is armed only when the next reservation is 600 s
// or more away.
TEST_F(MainTimerTest, StandbyCountdownIsArmedOnlyWithNoReservationWithin600Seconds) {
    timer.wokenForReservation = true;
    Reserve(0, 1, Today(20, 10, 0), 1800);  // 600 s after the first half-second tick
    Advance(500);
    EXPECT_EQ(timer.secondsToNextReservation, 600);
    EXPECT_EQ(timer.standbyCountdown, CMainTimer::kStandbyCountdown);

    schedtest::SchedulerFixture* self = this;
    self->list->RemoveReservation(list->First());
    timer.standbyCountdown = 0;
    Reserve(0, 1, Today(20, 10, 0), 1800);
    Advance(1000);  // the clock is 20:00:01, the reservation 599 s ahead
    EXPECT_EQ(timer.secondsToNextReservation, 599);
    EXPECT_EQ(timer.standbyCountdown, 0);
}

// Nothing arms the countdown while the user is present, something records or the guide's
// update is pending.
TEST_F(MainTimerTest, StandbyCountdownWaitsForTheGuideAndTheUser) {
    timer.epgWakePending = true;
    timer.epg.sweepRunning = [] { return true; };
    Advance(500);
    EXPECT_EQ(timer.standbyCountdown, 0);
    timer.wokenForReservation = true;
    Advance(500);
    EXPECT_EQ(timer.standbyCountdown, 0);
    timer.epgWakePending = false;
    Advance(500);
    EXPECT_EQ(timer.standbyCountdown, CMainTimer::kStandbyCountdown);
}

// When the countdown runs out the windows close, the stores are saved and the computer is
// asked to sleep.
TEST_F(MainTimerTest, CountdownRunsOutIntoStandby) {
    schedtest::FakeWindow* window = host.Add(Tuner(0), false);
    timer.wokenForReservation = true;
    Advance(500);
    Advance(29000);
    EXPECT_EQ(CountCalls(Kind::kSuspend), 0u);
    Advance(1500);
    EXPECT_EQ(timer.standbyCountdown, 0);
    EXPECT_TRUE(scheduler->EnteringStandby());
    EXPECT_FALSE(timer.wokenForReservation);
    EXPECT_TRUE(window->closing);
    EXPECT_EQ(CountCalls(Kind::kSuspend), 1u);
    ASSERT_GE(host.actions.size(), 2u);
    EXPECT_EQ(host.actions[host.actions.size() - 2].what, "save");

    // The suspend event clears the flag; no keep-awake is asked while entering standby.
    timer.OnPowerBroadcast(power::PowerBroadcast::kSuspend);
    EXPECT_FALSE(scheduler->EnteringStandby());
}

// A request of the reservation task means a wake for a reservation only within 240 s of a
// resume.
TEST_F(MainTimerTest, ScheduleRequestMarksAWakeOnlySoonAfterAResume) {
    struct Case {
        bool resumed;
        TimeValue after;
        bool woken;
    };
    for (const Case& c : {Case{true, 0, true}, Case{true, 239, true}, Case{true, 240, false},
                          Case{false, 10, false}}) {
        timer.wokenForReservation = false;
        timer.resumedFlag = false;
        if (c.resumed) {
            timer.OnPowerBroadcast(power::PowerBroadcast::kResumeAutomatic);
        }
        Advance(uint32_t(c.after) * 1000);
        timer.OnScheduleRequest();
        EXPECT_EQ(timer.wokenForReservation, c.woken) << c.resumed << " " << c.after;
    }
}

// The guide task's request also asks the guide window for a sweep and keeps the computer awake
// until the sweep is over.
TEST_F(MainTimerTest, EpgRequestKeepsTheComputerAwakeUntilTheSweepIsOver) {
    bool requested = false;
    bool running = false;
    timer.epg.exists = [] { return true; };
    timer.epg.sweepRunning = [&] { return running; };
    timer.epg.sweepRequested = [&] { return requested; };
    timer.epg.requestSweep = [&] { requested = true; };
    timer.OnEpgRequest();
    EXPECT_TRUE(requested);
    EXPECT_TRUE(timer.epgWakePending);
    Advance(60000);
    const size_t held = CountCalls(Kind::kInhibitorTaken);
    EXPECT_GT(held, 0u);
    requested = false;
    Advance(60000);
    EXPECT_FALSE(timer.epgWakePending);
    EXPECT_EQ(CountCalls(Kind::kInhibitorTaken), held);
}

// Every minute a reservation within 600 s (or already due) keeps the computer awake. The
// minute fires 60 s after the reservation is made.
TEST_F(MainTimerTest, NearReservationKeepsTheComputerAwake) {
    for (const TimeValue ahead : {60 + 600, 60 + 599}) {
        power.Poll();
        const size_t before = CountCalls(Kind::kInhibitorTaken);
        SchedulerFixture::Reserve(1, 1, now + ahead, 60);
        Advance(60000);
        EXPECT_EQ(CountCalls(Kind::kInhibitorTaken) > before, ahead < 60 + 600) << ahead;
        list->RemoveReservation(list->First());
    }
}

// The tray shows a prepared tuner, blinks while one records, and is given an icon only when
// it changes.
TEST_F(MainTimerTest, TrayIconFollowsTheHighestTunerState) {
    Reserve(0, 1, Today(20, 2, 1), 60);
    Advance(500);
    EXPECT_TRUE(icons.empty());
    Advance(1000);
    EXPECT_EQ(icons, std::vector<int>{CMainTimer::kIconReservation});
    Advance(121000);
    ASSERT_GE(icons.size(), 3u);
    EXPECT_EQ(icons[1], CMainTimer::kIconBlink);
    EXPECT_EQ(icons[2], CMainTimer::kIconReservation);
    Advance(65000);
    EXPECT_EQ(icons.back(), CMainTimer::kIconApplication);
}

// A resume clears the flags, reloads the reservations and builds the windows' graphs again; a
// window whose graph cannot be built is closed so that the next action opens a new one.
TEST_F(MainTimerTest, ResumeReloadsAndRebuildsBeforeTheNextAction) {
    schedtest::FakeWindow* kept = host.Add(Tuner(0), false);
    schedtest::FakeWindow* broken = host.Add(Tuner(1), true);
    scheduler->SetTunerWindow(Tuner(0), kept);
    scheduler->SetTunerWindow(Tuner(1), broken);
    broken->rebuildFails = true;
    timer.standbyCountdown = 12;
    timer.OnPowerBroadcast(power::PowerBroadcast::kSuspend);
    EXPECT_FALSE(kept->running);
    timer.OnPowerBroadcast(power::PowerBroadcast::kResumeAutomatic);
    EXPECT_TRUE(timer.resumedFlag);
    EXPECT_EQ(timer.resumedAt, now);
    EXPECT_EQ(timer.standbyCountdown, 0);
    EXPECT_EQ(reloads, 1);
    EXPECT_FALSE(kept->closing);
    EXPECT_TRUE(broken->closing);
    EXPECT_EQ(scheduler->Slot(Tuner(1)).window, nullptr);

    Reserve(1, 1, now + 60, 600);
    Advance(1000);
    EXPECT_EQ(TimesOf("open", 'B').size(), 1u);
}

}  // namespace
