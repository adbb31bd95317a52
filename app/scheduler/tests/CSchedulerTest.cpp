#include <gtest/gtest.h>

#include "app/scheduler/tests/SchedulerTestSupport.h"

namespace {

using schedtest::SchedulerFixture;
using schedtest::Today;
using Times = std::vector<TimeValue>;

// A reservation from 21:00 to 21:30 on tuner A; the automatic window stays after it only when
// the tuner's next action (the next reservation's preparation) is within 300 s of its end.
TEST(CScheduler, ReservationPreparesStartsEndsAndClosesItsWindowUnlessTheNextIsNear) {
    struct Case {
        TimeValue nextStart;  // 0: no next reservation
        bool windowStays;
    };
    for (const Case& c :
         {Case{0, false}, Case{Today(21, 37), true}, Case{Today(21, 37, 1), false}}) {
        SchedulerFixture f;
        f.Reserve(0, 1, Today(21, 0), 1800);
        if (c.nextStart != 0) {
            f.Reserve(0, 1, c.nextStart, 600);
        }
        f.Run(Today(20, 50), Today(21, 30, 30));
        SCOPED_TRACE(c.nextStart);
        EXPECT_EQ(f.TimesOf("open"), Times{Today(20, 58)});
        EXPECT_EQ(f.TimesOf("tune"), Times{Today(20, 58)});
        EXPECT_EQ(f.TimesOf("start"), Times{Today(21, 0)});
        EXPECT_EQ(f.TimesOf("stop"), Times{Today(21, 30)});
        EXPECT_EQ(f.TimesOf("close").empty(), c.windowStays);
        EXPECT_TRUE(f.host.openedWithoutVideo);
        EXPECT_EQ(f.list->GetCount(), c.nextStart != 0 ? 1 : 0);
        EXPECT_EQ(f.scheduler->GetTunerState(f.Tuner(0)), TunerReservationState::kIdle);
    }
}

// 21:00-21:30 then 21:30-22:00 on one tuner: on another channel the first stops 30 s early so
// that the second can be tuned; on the same channel it runs to its end.
TEST(CScheduler, BackToBackReservationsHandOverOnOneWindow) {
    struct Case {
        int secondChannel;
        TimeValue firstStop;
    };
    for (const Case& c : {Case{2, Today(21, 29, 30)}, Case{1, Today(21, 30)}}) {
        SchedulerFixture f;
        f.Reserve(0, 1, Today(21, 0), 1800);
        f.Reserve(0, c.secondChannel, Today(21, 30), 1800);
        f.Run(Today(20, 55), Today(22, 1));
        SCOPED_TRACE(c.secondChannel);
        EXPECT_EQ(f.TimesOf("open"), Times{Today(20, 58)});
        EXPECT_EQ(f.TimesOf("start"), (Times{Today(21, 0), Today(21, 30)}));
        EXPECT_EQ(f.TimesOf("stop"), (Times{c.firstStop, Today(22, 0)}));
        EXPECT_EQ(f.TimesOf("close"), Times{Today(22, 0)});
        const Times tunes = f.TimesOf("tune");
        EXPECT_EQ(tunes.size(), c.secondChannel == 2 ? 2u : 1u);
        EXPECT_EQ(f.list->GetCount(), 0);
    }
}

// The user's window records; a reservation on the same tuner takes the window over, stopping
// the recording 30 s before its start on another channel and 1 s before on the same one.
TEST(CScheduler, ManualRecordingIsStoppedBeforeTheReservationTakesTheWindow) {
    struct Case {
        int userChannel;
        TimeValue stop;
    };
    for (const Case& c : {Case{2, Today(20, 59, 30)}, Case{1, Today(20, 59, 59)}}) {
        SchedulerFixture f;
        schedtest::FakeWindow* user = f.host.Add(f.Tuner(0), false);
        user->channel = f.Channel(0, c.userChannel);
        user->recording = true;
        f.scheduler->SetTunerWindow(f.Tuner(0), user);
        f.Reserve(0, 1, Today(21, 0), 1800);
        f.Run(Today(20, 57), Today(21, 31));
        SCOPED_TRACE(c.userChannel);
        EXPECT_TRUE(f.TimesOf("open").empty());
        EXPECT_EQ(f.TimesOf("stop"), (Times{c.stop, Today(21, 30)}));
        EXPECT_EQ(f.TimesOf("start"), Times{Today(21, 0)});
        EXPECT_EQ(f.TimesOf("tune").size(), c.userChannel == 2 ? 1u : 0u);
        // The user's own window is not closed after the recording.
        EXPECT_TRUE(f.TimesOf("close").empty());
    }
}

// The guide moves a prepared reservation's event 5 minutes later: recording starts at the new
// time, and the stored start and the wake-up trigger follow the event.
TEST(CScheduler, MovedEventMovesTheRecordingTheStoredStartAndTheWakeUp) {
    SchedulerFixture f;
    CRecSchedule* reservation = f.Reserve(0, 1, Today(21, 0), 1800);
    f.Run(Today(20, 57), Today(20, 59));
    ASSERT_EQ(f.scheduler->GetTunerState(f.Tuner(0)), TunerReservationState::kPrepared);

    CEventInfo event(f.Channel(0, 1), reservation->eventId);
    event.startTime = Today(21, 5);
    event.duration = 1800;
    event.title = u"ニュース（時間変更）";
    event.reservation = reservation;
    f.scheduler->FollowEvent(event);
    EXPECT_EQ(reservation->GetStartTime(), Today(21, 5));
    EXPECT_EQ(reservation->eventTitle, ICWString(u"ニュース（時間変更）"));
    const tasks::TaskTrigger moved = CRecScheduleList::WakeTriggerOf(*reservation);
    EXPECT_EQ(moved.startHour, 21);
    EXPECT_EQ(moved.startMinute, 0);
    ASSERT_NE(f.store->Find("Orvanta Task0"), nullptr);
    EXPECT_EQ(f.store->Find("Orvanta Task0")->triggers, std::vector<tasks::TaskTrigger>{moved});

    f.Run(Today(20, 59), Today(21, 36));
    EXPECT_EQ(f.TimesOf("start"), Times{Today(21, 5)});
    EXPECT_EQ(f.TimesOf("stop"), Times{Today(21, 35)});
}

// While recording, a longer event or one whose length is not yet known moves the end.
TEST(CScheduler, MovedEventWhileRecordingMovesTheEnd) {
    for (const int32_t duration : {2400, -1}) {
        SchedulerFixture f;
        CRecSchedule* reservation = f.Reserve(0, 1, Today(21, 0), 1800);
        f.Run(Today(20, 57), Today(21, 10));
        CEventInfo event(f.Channel(0, 1), reservation->eventId);
        CEventInfo following(f.Channel(0, 1), 1);
        event.next = &following;
        following.startTime = Today(21, 45);
        event.startTime = Today(21, 0);
        event.duration = duration;
        event.reservation = reservation;
        f.scheduler->FollowEvent(event);
        event.next = nullptr;
        f.Run(Today(21, 10), Today(21, 50));
        SCOPED_TRACE(duration);
        EXPECT_EQ(f.TimesOf("stop"), Times{duration > 0 ? Today(21, 40) : Today(21, 45)});
    }
}

// A reservation that ended while the computer was off goes at the first tick, unrecorded.
TEST(CScheduler, ReservationAlreadyOverAtStartUpIsDroppedAtTheFirstTick) {
    SchedulerFixture f;
    f.Reserve(0, 1, Today(10, 0), 1800, u"朝のニュース");
    f.Run(Today(12, 0), Today(12, 0));
    EXPECT_EQ(f.list->GetCount(), 0);
    EXPECT_TRUE(f.host.actions.empty());
    EXPECT_EQ(f.host.dropped, std::vector<std::u16string>{u"朝のニュース"});
    EXPECT_EQ(f.scheduler->Slot(f.Tuner(0)).nextActionTime, 0);
}

// A weekly reservation records on two Thursdays and stays, armed for the third, with its
// wake-up trigger.
TEST(CScheduler, WeeklyReservationRecordsEveryWeekAndStaysArmed) {
    SchedulerFixture f;
    CRecSchedule* weekly = f.Reserve(0, 1, Today(21, 0), 1800);
    f.list->RemoveWakeTrigger(*weekly);
    weekly->series = 1;
    weekly->interval = CRecSchedule::kEveryWeek;
    f.list->AddWakeTrigger(*weekly);
    for (int week = 0; week < 2; ++week) {
        const TimeValue day = TimeValue(week) * 7 * CScheduler::kSecondsPerDay;
        f.Run(day + Today(20, 50), day + Today(21, 40));
    }
    const TimeValue week = 7 * CScheduler::kSecondsPerDay;
    EXPECT_EQ(f.TimesOf("start"), (Times{Today(21, 0), week + Today(21, 0)}));
    EXPECT_EQ(f.TimesOf("stop"), (Times{Today(21, 30), week + Today(21, 30)}));
    ASSERT_EQ(f.list->GetCount(), 1);
    EXPECT_EQ(f.list->First(), weekly);
    EXPECT_EQ(weekly->GetStartTime(), 2 * week + Today(21, 0));
    EXPECT_EQ(f.scheduler->Slot(f.Tuner(0)).nextActionTime, 2 * week + Today(20, 58));
    ASSERT_NE(f.store->Find("Orvanta Task0"), nullptr);
    EXPECT_EQ(f.store->Find("Orvanta Task0")->triggers,
              std::vector<tasks::TaskTrigger>{CRecScheduleList::WakeTriggerOf(*weekly)});
}

// A daily reservation whose recording ends two days late (the computer slept) moves to the
// first occurrence that is not over yet.
TEST(CScheduler, DailyReservationSkipsOccurrencesThatAreOver) {
    SchedulerFixture f;
    CRecSchedule* daily = f.Reserve(0, 1, Today(21, 0), 1800);
    daily->series = 1;
    daily->interval = CRecSchedule::kEveryDay;
    f.Run(Today(20, 50), Today(21, 10));
    // The clock jumps (the computer slept through the end) to two days later.
    const TimeValue later = Today(21, 10) + 2 * CScheduler::kSecondsPerDay;
    f.Run(later, later);
    EXPECT_EQ(daily->GetStartTime(), Today(21, 0) + 2 * CScheduler::kSecondsPerDay);
}

// Two reservations at the same time on two tuners record side by side.
TEST(CScheduler, TwoTunersRecordAtOnce) {
    SchedulerFixture f;
    f.Reserve(0, 1, Today(21, 0), 1800);
    f.Reserve(1, 2, Today(21, 0), 3600);
    f.Run(Today(20, 55), Today(22, 5));
    for (const char tuner : {'A', 'B'}) {
        EXPECT_EQ(f.TimesOf("open", tuner), Times{Today(20, 58)});
        EXPECT_EQ(f.TimesOf("start", tuner), Times{Today(21, 0)});
    }
    EXPECT_EQ(f.TimesOf("stop", 'A'), Times{Today(21, 30)});
    EXPECT_EQ(f.TimesOf("stop", 'B'), Times{Today(22, 0)});
    EXPECT_EQ(f.host.windows[1]->channel, f.Channel(1, 2));
}

// A tuner that cannot be opened hands its reservation to a free tuner; with none free, the
// reservation is reported and dropped.
TEST(CScheduler, TunerThatFailsToOpenHandsTheReservationOnOrReportsIt) {
    for (const bool otherFree : {true, false}) {
        SchedulerFixture f;
        CRecSchedule* reservation = f.Reserve(0, 1, Today(21, 0), 1800);
        f.host.failingTuners.insert(f.Tuner(0));
        if (!otherFree) {
            f.Reserve(1, 2, Today(20, 30), 3600, u"映画");
        }
        f.Run(Today(20, 25), Today(21, 31));
        SCOPED_TRACE(otherFree);
        EXPECT_EQ(f.TimesOf("fail"), Times{Today(20, 58)});
        if (otherFree) {
            EXPECT_EQ(f.TimesOf("open", 'B'), Times{Today(20, 58)});
            EXPECT_EQ(f.TimesOf("start", 'B'), Times{Today(21, 0)});
            EXPECT_EQ(f.TimesOf("stop", 'B'), Times{Today(21, 30)});
            EXPECT_TRUE(f.host.failures.empty());
        } else {
            EXPECT_EQ(f.TimesOf("start", 'B'), Times{Today(20, 30)});
            EXPECT_EQ(f.host.failures.size(), 1u);
            EXPECT_NE(f.host.failures[0].find(u"ニュース"), std::u16string::npos);
            EXPECT_EQ(f.host.dropped.front(), u"ニュース");
        }
        (void)reservation;
    }
}

// A recording that cannot start drops its reservation silently; the tuner goes on.
TEST(CScheduler, RecordingThatCannotStartIsDroppedSilently) {
    SchedulerFixture f;
    f.Reserve(0, 1, Today(21, 0), 1800);
    f.Reserve(0, 1, Today(22, 0), 1800, u"天気");
    f.Run(Today(20, 57), Today(20, 59));
    f.host.windows[0]->recordingRefused = true;
    f.Run(Today(20, 59), Today(21, 1));
    EXPECT_EQ(f.host.dropped, std::vector<std::u16string>{u"ニュース"});
    EXPECT_TRUE(f.host.failures.empty());
    EXPECT_EQ(f.scheduler->Slot(f.Tuner(0)).nextActionTime, Today(21, 58));
}

// The stop button on a reservation's recording drops it; suspension stops and closes all.
TEST(CScheduler, StoppingByHandAndSuspendingDropTheReservation) {
    SchedulerFixture f;
    f.Reserve(0, 1, Today(21, 0), 1800);
    f.Reserve(1, 1, Today(21, 0), 1800, u"天気");
    f.Run(Today(20, 57), Today(21, 1));
    f.scheduler->StopRecordingForReservation(f.host.windows[0].get());
    EXPECT_EQ(f.scheduler->GetTunerState(f.Tuner(0)), TunerReservationState::kIdle);
    EXPECT_EQ(f.list->GetCount(), 1);

    f.scheduler->EnterStandby();
    EXPECT_TRUE(f.scheduler->EnteringStandby());
    EXPECT_EQ(f.list->GetCount(), 0);
    EXPECT_FALSE(f.host.windows[1]->recording);
    EXPECT_FALSE(f.host.windows[1]->running);
    EXPECT_TRUE(f.host.windows[0]->closing && f.host.windows[1]->closing);
    EXPECT_EQ(f.host.toolWindowCloses, 1);
    ASSERT_GE(f.host.actions.size(), 2u);
    EXPECT_EQ(f.host.actions[f.host.actions.size() - 2].what, "save");
    EXPECT_EQ(f.host.actions.back().what, "suspend");
}

// The broadcast time of a live window is the clock of the tuners after it in the list.
TEST(CScheduler, LiveWindowsBroadcastTimeIsTheClock) {
    SchedulerFixture f;
    schedtest::FakeWindow* user = f.host.Add(f.Tuner(0), false);
    f.scheduler->SetTunerWindow(f.Tuner(0), user);
    user->liveTime = Today(20, 58);
    f.Reserve(1, 1, Today(21, 0), 1800);
    f.now = Today(20, 50);
    f.scheduler->SchedulerTick();
    EXPECT_EQ(f.scheduler->Clock(), Today(20, 58));
    EXPECT_EQ(f.TimesOf("open", 'B'), Times{Today(20, 58)});
}

}  // namespace
