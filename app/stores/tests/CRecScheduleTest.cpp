#include <gtest/gtest.h>

#include <memory>

#include "app/stores/CRecScheduleList.h"
#include "platform/profile/tests/ProfileTestFiles.h"
#include "platform/tasks/TaskTimers.h"
#include "sianalyzer/ICSITime.h"

namespace {

using tasks::TaskTrigger;
using tasks::TriggerKind;

constexpr uint16_t kTsid = 0x7FE0;
constexpr uint16_t kSid = 0x0400;

TimeValue At(uint16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute) {
    ICSIDateTime time;
    time.year = year;
    time.month = month;
    time.day = day;
    time.hour = hour;
    time.minute = minute;
    return sitime::ToValue(time);
}

// Thursday, 10 December 2026, noon.
const TimeValue kNow = At(2026, 12, 10, 12, 0);

// Tuners "A" and "B", each with a terrestrial space carrying the service kTsid / kSid.
class ReservationTest : public ProfileFileTest {
protected:
    void SetUp() override {
        ProfileFileTest::SetUp();
        for (const char16_t* name : {u"A", u"B"}) {
            auto* tuner = tuners.Add(new CTuner());
            tuner->displayName = name;
            auto* space = tuner->tuningSpaces.Add(new CTuningSpace(tuner));
            space->name = u"UHF";
            space->type = CTuningSpace::kTerrestrial;
            auto* other = space->channels.Add(new CChannelInfo(space));
            other->transportStreamId = kTsid;
            other->serviceId = kSid + 8;
            auto* channel = space->channels.Add(new CChannelInfo(space));
            channel->name = ICWString(u"ＮＨＫ総合") + name;
            channel->transportStreamId = kTsid;
            channel->serviceId = kSid;
        }
        store = std::make_unique<tasks::TaskStore>(folder.string(), &timers);
        list = std::make_unique<CRecScheduleList>(tuners, store.get());
        list->executablePath = u"/opt/orvanta/orvanta";
        list->clock = [] { return kNow; };
    }

    CRecSchedule* Reservation(TimeValue start, int32_t duration, uint16_t eventId = 0x1234) {
        auto* reservation = new CRecSchedule();
        reservation->SetStartTime(start);
        reservation->duration = duration;
        reservation->transportStreamId = kTsid;
        reservation->serviceId = kSid;
        reservation->eventId = eventId;
        return reservation;
    }

    CTuner* Tuner(int index) const { return tuners.At(index); }

    std::vector<TaskTrigger> TriggersOf(int task) const {
        const auto* stored = store->Find("Orvanta Task" + std::to_string(task));
        return stored != nullptr ? stored->triggers : std::vector<TaskTrigger>();
    }

    ICWString FilePath() const {
        ICWString path;
        path.SetUtf8(PathOf("RecSchedule.ini"));
        return path;
    }

    void LoadText(std::u16string_view text) {
        WriteBytes(PathOf("RecSchedule.ini"), Utf16File(text));
        list->LoadReservations(FilePath());
    }

    COwnedList<CTuner> tuners;
    tasks::RecordingTaskTimers timers;
    std::unique_ptr<tasks::TaskStore> store;
    std::unique_ptr<CRecScheduleList> list;
};

// ---- the file

TEST_F(ReservationTest, TheFileIsWrittenByteForByteAndReadBack) {
    CRecSchedule* weekly = Reservation(At(2026, 12, 13, 21, 0), 1800);
    weekly->folder = u"/rec/dramas/";
    weekly->tunerName = u"B";
    weekly->serviceName = u"ＮＨＫ総合B";
    weekly->eventTitle = u"夜〜朝, \"特集\"";
    weekly->series = 1;
    weekly->interval = CRecSchedule::kEveryWeek;
    weekly->overwrite = 1;
    list->InsertReservation(weekly, false);
    CRecSchedule* byHand = Reservation(At(2026, 12, 11, 9, 5), 600, 0);
    byHand->eventTitle = u"\"quoted, with a comma\"";
    byHand->serviceName = u" padded ";
    list->InsertReservation(byHand, false);

    const std::u16string expected =
        u"[Schedule000]\r\n"
        u"Folder=\r\n"
        u"Time=2026,12,11,9,5\r\n"
        u"Duration=600\r\n"
        u"TSID=0x7FE0\r\n"
        u"ServiceID=0x0400\r\n"
        u"EventID=0x0000\r\n"
        u"Series=0\r\n"
        u"Interval=0\r\n"
        u"Overwrite=0\r\n"
        u"Tuner=\r\n"
        u"Service=\" padded \"\r\n"
        u"Event=\"\"quoted, with a comma\"\"\r\n"
        u"[Schedule001]\r\n"
        u"Folder=/rec/dramas/\r\n"
        u"Time=2026,12,13,21,0\r\n"
        u"Duration=1800\r\n"
        u"TSID=0x7FE0\r\n"
        u"ServiceID=0x0400\r\n"
        u"EventID=0x1234\r\n"
        u"Series=1\r\n"
        u"Interval=7\r\n"
        u"Overwrite=1\r\n"
        u"Tuner=B\r\n"
        u"Service=ＮＨＫ総合B\r\n"
        u"Event=夜\uFF5E朝, \"特集\"\r\n";
    ASSERT_TRUE(list->SaveReservations(FilePath()));
    EXPECT_EQ(ReadBytes(PathOf("RecSchedule.ini")), Utf16File(expected));

    CRecScheduleList loaded(tuners, nullptr);
    loaded.LoadReservations(FilePath());
    ASSERT_EQ(loaded.GetCount(), 2);
    const CRecSchedule* first = loaded.First();
    EXPECT_EQ(first->GetStartTime(), At(2026, 12, 11, 9, 5));
    EXPECT_EQ(first->weekday, 5);  // Friday
    EXPECT_TRUE(first->eventTitle == u"\"quoted, with a comma\"");
    EXPECT_TRUE(first->serviceName == u"ＮＨＫ総合B");  // the free tuner's service: B is last
    EXPECT_TRUE(first->tunerName == u"B");
    const CRecSchedule* second = CRecScheduleList::Next(first);
    EXPECT_TRUE(second->folder == u"/rec/dramas/");
    EXPECT_EQ(second->weekday, 0);  // Sunday
    EXPECT_EQ(second->duration, 1800);
    EXPECT_EQ(second->eventId, 0x1234);
    EXPECT_EQ(second->series, 1);
    EXPECT_EQ(second->interval, 7);
    EXPECT_EQ(second->overwrite, 1);
    EXPECT_TRUE(second->eventTitle == u"夜〜朝, \"特集\"");
    EXPECT_EQ(second->channel, Tuner(1)->tuningSpaces.First()->channels.Last());
    EXPECT_EQ(second->kind, CTuningSpace::kTerrestrial);
    EXPECT_TRUE(list->FormatReservations() == ReadBytes(PathOf("RecSchedule.ini")));
}

TEST_F(ReservationTest, UnusableSectionsAreDroppedAndTheOthersLoad) {
    const struct {
        const char16_t* lines;
        bool kept;
    } cases[] = {
        {u"Time=2026,12,11,9,5\r\nDuration=60\r\nTSID=0x7FE0\r\nServiceID=0x400\r\n", true},
        {u"Time=2026,12,11,9,5\r\nDuration=0\r\nTSID=0x7FE0\r\nServiceID=0x400\r\n", false},
        {u"Time=2026,12,11,9,5\r\nDuration=60\r\nTSID=0\r\nServiceID=0x400\r\n", false},
        {u"Time=2026,12,11,9,5\r\nDuration=60\r\nTSID=0x7FE0\r\n", false},
        {u"Time=2026,2,29,9,5\r\nDuration=60\r\nTSID=0x7FE0\r\nServiceID=0x400\r\n", false},
        {u"Time=2026,12,11,25,5\r\nDuration=60\r\nTSID=0x7FE0\r\nServiceID=0x400\r\n", false},
        {u"Time=2026,12,11,9,300\r\nDuration=60\r\nTSID=0x7FE0\r\nServiceID=0x400\r\n", false},
        {u"Time=2026,12\r\nDuration=60\r\nTSID=0x7FE0\r\nServiceID=0x400\r\n", false},
        {u"Time=2026,12,11,9,5\r\nDuration=-60\r\nTSID=0x7FE0\r\nServiceID=0x400\r\n", false},
        {u"Time=2026,12,11,9\r\nDuration=60\r\nTSID=0x7FE0\r\nServiceID=0x400\r\n", true},
    };
    const std::u16string valid =
        u"[schedule999]\r\nTime=2026,12,12,0,0\r\nDuration=60\r\nTSID=1\r\nServiceID=2\r\n";
    for (const auto& test : cases) {
        LoadText(
            u"[Other]\r\nTime=2026,12,11,9,5\r\nDuration=60\r\nTSID=1\r\nServiceID=2\r\n"
            u"[MySchedule]\r\n" +
            std::u16string(test.lines) + valid);
        EXPECT_EQ(list->GetCount(), test.kept ? 2 : 1) << ICWString(test.lines).GetUtf8();
        EXPECT_EQ(list->Last()->transportStreamId, 1);
    }
    std::filesystem::remove(PathOf("RecSchedule.ini"));
    list->LoadReservations(FilePath());
    EXPECT_EQ(list->GetCount(), 0);
}

TEST_F(ReservationTest, DuplicatesAreDroppedButHandMadeReservationsAtOtherTimesAreKept) {
    LoadText(
        u"[Schedule000]\r\nTime=2026,12,11,9,0\r\nDuration=60\r\nTSID=1\r\nServiceID=2\r\n"
        u"EventID=7\r\n"
        u"[Schedule001]\r\nTime=2026,12,12,9,0\r\nDuration=60\r\nTSID=1\r\nServiceID=2\r\n"
        u"EventID=7\r\n"
        u"[Schedule002]\r\nTime=2026,12,11,9,0\r\nDuration=60\r\nTSID=1\r\nServiceID=2\r\n"
        u"[Schedule003]\r\nTime=2026,12,12,9,0\r\nDuration=60\r\nTSID=1\r\nServiceID=2\r\n"
        u"[Schedule004]\r\nTime=2026,12,12,9,0\r\nDuration=90\r\nTSID=1\r\nServiceID=2\r\n");
    ASSERT_EQ(list->GetCount(), 3);
    EXPECT_EQ(list->FindReservation(1, 2, 7)->day, 11);
    EXPECT_EQ(list->At(2)->duration, 60);
}

TEST_F(ReservationTest, DamagedFilesLoadWithoutHarm) {
    for (int day = 11; day <= 13; ++day) {
        CRecSchedule* reservation = Reservation(At(2026, 12, uint8_t(day), 20, 0), 3600);
        reservation->eventId = uint16_t(day);
        reservation->eventTitle = u"ニュース";
        list->InsertReservation(reservation, false);
    }
    const std::string bytes = list->FormatReservations();
    CRecScheduleList loaded(tuners, nullptr);
    for (size_t length = 0; length <= bytes.size(); ++length) {
        WriteBytes(PathOf("RecSchedule.ini"), bytes.substr(0, length));
        loaded.LoadReservations(FilePath());
        ASSERT_LE(loaded.GetCount(), 3);
    }
    for (size_t index = 0; index < bytes.size(); ++index) {
        std::string damaged = bytes;
        damaged[index] = char(damaged[index] ^ 0x5A);
        WriteBytes(PathOf("RecSchedule.ini"), damaged);
        loaded.LoadReservations(FilePath());
        ASSERT_LE(loaded.GetCount(), 3);
        for (const CRecSchedule* reservation : loaded) {
            EXPECT_TRUE(reservation->HasValidStart());
            EXPECT_GT(reservation->duration, 0);
        }
    }
}

// ---- order and tuners

TEST_F(ReservationTest, InsertionKeepsStartOrderAndEqualStartsInInsertionOrder) {
    CRecSchedule* late = Reservation(At(2026, 12, 12, 0, 0), 60, 1);
    CRecSchedule* early = Reservation(At(2026, 12, 11, 0, 0), 60, 2);
    CRecSchedule* sameAsLate = Reservation(At(2026, 12, 12, 0, 0), 60, 3);
    list->InsertReservation(late, false);
    list->InsertReservation(early, false);
    list->InsertReservation(sameAsLate, false);
    EXPECT_EQ(list->At(0), early);
    EXPECT_EQ(list->At(1), late);
    EXPECT_EQ(list->At(2), sameAsLate);
}

TEST_F(ReservationTest, FindFreeTunerNeverDoubleBooksButAllowsBackToBack) {
    CRecSchedule* first = Reservation(At(2026, 12, 11, 20, 0), 3600, 1);
    first->channel = list->FindFreeTuner(*first);
    list->InsertReservation(first, true);
    ASSERT_NE(first->channel, nullptr);
    EXPECT_EQ(first->channel->tuningSpace->tuner, Tuner(1));  // the last tuner first

    CRecSchedule* overlapping = Reservation(At(2026, 12, 11, 20, 59), 600, 2);
    overlapping->channel = list->FindFreeTuner(*overlapping);
    list->InsertReservation(overlapping, true);
    ASSERT_NE(overlapping->channel, nullptr);
    EXPECT_EQ(overlapping->channel->tuningSpace->tuner, Tuner(0));

    CRecSchedule* third = Reservation(At(2026, 12, 11, 20, 59), 60, 3);
    EXPECT_EQ(list->FindFreeTuner(*third), nullptr);  // both tuners are busy
    delete third;

    CRecSchedule* backToBack = Reservation(At(2026, 12, 11, 21, 9), 600, 4);
    EXPECT_EQ(list->FindFreeTuner(*backToBack)->tuningSpace->tuner, Tuner(1));
    delete backToBack;
}

TEST_F(ReservationTest, LoadingGivesTunersByNameThenFreeTunersThenNone) {
    LoadText(
        u"[Schedule000]\r\nTime=2026,12,11,20,0\r\nDuration=3600\r\nTSID=0x7FE0\r\n"
        u"ServiceID=0x400\r\nEventID=1\r\nTuner=A\r\nService=old name\r\n"
        u"[Schedule001]\r\nTime=2026,12,11,20,0\r\nDuration=3600\r\nTSID=0x7FE0\r\n"
        u"ServiceID=0x400\r\nEventID=2\r\n"
        u"[Schedule002]\r\nTime=2026,12,11,20,30\r\nDuration=60\r\nTSID=0x7FE0\r\n"
        u"ServiceID=0x400\r\nEventID=3\r\nTuner=Gone\r\n");
    ASSERT_EQ(list->GetCount(), 3);
    const CRecSchedule* named = list->FindReservation(kTsid, kSid, 1);
    EXPECT_EQ(named->channel->tuningSpace->tuner, Tuner(0));
    EXPECT_TRUE(named->serviceName == u"ＮＨＫ総合A");
    const CRecSchedule* free = list->FindReservation(kTsid, kSid, 2);
    EXPECT_EQ(free->channel->tuningSpace->tuner, Tuner(1));
    EXPECT_TRUE(free->tunerName == u"B");
    const CRecSchedule* none = list->FindReservation(kTsid, kSid, 3);
    EXPECT_EQ(none->channel, nullptr);
    EXPECT_TRUE(none->tunerName.IsEmpty());
    EXPECT_EQ(none->kind, CTuningSpace::kOther);
    // Still mirrored: all three have their triggers.
    EXPECT_EQ(TriggersOf(0).size(), 3u);
    EXPECT_EQ(list->GetTunerNext(Tuner(0)).nextReservation, named);
    EXPECT_EQ(list->GetTunerNext(Tuner(0)).nextActionTime, At(2026, 12, 11, 19, 58));
}

TEST_F(ReservationTest, ScannedServicesReplaceTheOnesTheReservationsRecordThrough) {
    LoadText(
        u"[Schedule000]\r\nTime=2026,12,11,20,0\r\nDuration=3600\r\nTSID=0x7FE0\r\n"
        u"ServiceID=0x400\r\nEventID=1\r\nTuner=A\r\n");
    CRecSchedule* reservation = list->FindReservation(kTsid, kSid, 1);
    CTuningSpace* space = Tuner(0)->tuningSpaces.First();
    ASSERT_EQ(reservation->channel->tuningSpace, space);

    // The scan empties the space, then finds the service again.
    list->UnlinkChannelsOf(space);
    EXPECT_EQ(reservation->channel, nullptr);
    space->channels.RemoveAll(true);
    auto* found = space->channels.Add(new CChannelInfo(space));
    found->transportStreamId = kTsid;
    found->serviceId = kSid;
    list->RelinkReservations();
    EXPECT_EQ(reservation->channel, found);
    EXPECT_EQ(list->GetTunerNext(Tuner(0)).nextReservation, reservation);

    // A scan that no longer finds it leaves it to the other tuner.
    list->UnlinkChannelsOf(space);
    space->channels.RemoveAll(true);
    list->RelinkReservations();
    ASSERT_NE(reservation->channel, nullptr);
    EXPECT_EQ(reservation->channel->tuningSpace->tuner, Tuner(1));
}

TEST_F(ReservationTest, TunerNextFollowsTheEarliestReservationUnlessRecording) {
    CRecSchedule* later = Reservation(At(2026, 12, 12, 20, 0), 60, 1);
    CRecSchedule* earlier = Reservation(At(2026, 12, 11, 20, 0), 60, 2);
    CChannelInfo* channel = Tuner(0)->tuningSpaces.First()->channels.Last();
    later->channel = channel;
    earlier->channel = channel;
    list->InsertReservation(later, true);
    EXPECT_EQ(list->GetTunerNext(Tuner(0)).nextReservation, later);
    list->InsertReservation(earlier, true);
    EXPECT_EQ(list->GetTunerNext(Tuner(0)).nextReservation, earlier);
    EXPECT_EQ(list->GetTunerNext(Tuner(0)).nextActionTime, At(2026, 12, 11, 19, 58));
    EXPECT_EQ(list->GetTunerNext(Tuner(1)).nextReservation, nullptr);

    list->isRecording = [this](const CTuner* tuner) { return tuner == Tuner(0); };
    list->RemoveReservation(earlier);
    // The removed reservation is never left behind, even while the tuner records.
    EXPECT_EQ(list->GetTunerNext(Tuner(0)).nextReservation, nullptr);
    list->isRecording = [](const CTuner*) { return false; };
    list->UpdateTunerNext(Tuner(0));
    EXPECT_EQ(list->GetTunerNext(Tuner(0)).nextReservation, later);
    list->RemoveReservation(later);
    EXPECT_EQ(list->GetTunerNext(Tuner(0)).nextReservation, nullptr);
}

// ---- wake-up triggers

TEST_F(ReservationTest, WakeTriggersComeFiveMinutesEarlyInTheShapeOfTheRepeat) {
    const struct {
        TimeValue start;
        uint8_t series;
        int32_t interval;
        std::vector<TaskTrigger> expected;
    } cases[] = {
        // Once, in 3 minutes: the wake-up time has passed.
        {kNow + 180, 0, 0, {}},
        // Once, in 10 minutes: every day from today at start - 5 minutes.
        {kNow + 600, 0, 0, {{TriggerKind::kWeekly, 2026, 12, 10, 12, 5, 1, 0x7F}}},
        // Weekly, Sunday 21:00.
        {At(2026, 12, 13, 21, 0), 1, 7, {{TriggerKind::kWeekly, 2026, 12, 13, 20, 55, 1, 0x01}}},
        // Weekly, Sunday 00:02: the wake-up is on Saturday.
        {At(2026, 12, 13, 0, 2), 1, 7, {{TriggerKind::kWeekly, 2026, 12, 12, 23, 57, 1, 0x40}}},
        // Daily, even when today's start has passed.
        {kNow - 3600, 1, 1, {{TriggerKind::kDaily, 2026, 12, 10, 10, 55, 1, 0}}},
        // A repeat period without the series flag still gets its trigger.
        {kNow - 3600, 0, 7, {{TriggerKind::kWeekly, 2026, 12, 10, 10, 55, 1, 0x7F}}},
    };
    for (const auto& test : cases) {
        CRecSchedule* reservation = Reservation(test.start, 600);
        reservation->series = test.series;
        reservation->interval = test.interval;
        list->InsertReservation(reservation, true);
        EXPECT_EQ(TriggersOf(0), test.expected) << test.start;
        list->RemoveReservation(reservation);
        EXPECT_TRUE(TriggersOf(0).empty());
        EXPECT_EQ(store->Find("Orvanta Task0"), nullptr);  // a task without triggers goes
    }
    list->InsertReservation(Reservation(kNow + 600, 60), true);
    const tasks::ScheduledTask* task = store->Find("Orvanta Task0");
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->program, "/opt/orvanta/orvanta");
    EXPECT_EQ(task->argument, "/Schedule");
    EXPECT_EQ(task->flags, 0x3002u);
    EXPECT_FALSE(task->account.empty());
}

TEST_F(ReservationTest, AFullTaskSendsTriggersToTheNextAndTenFullTasksTakeNoMore) {
    const auto fill = [this](int task) {
        tasks::ScheduledTask full;
        full.name = "Orvanta Task" + std::to_string(task);
        full.triggers.assign(41, {TriggerKind::kOnce, 2020, 1, 1, 0, 0, 1, 0});
        ASSERT_TRUE(store->Save(full));
    };
    fill(0);
    list->InsertReservation(Reservation(kNow + 3600, 60), true);
    EXPECT_EQ(TriggersOf(0).size(), 41u);
    ASSERT_EQ(TriggersOf(1).size(), 1u);
    EXPECT_EQ(TriggersOf(1)[0].startHour, 12);
    EXPECT_EQ(TriggersOf(1)[0].startMinute, 55);

    for (int task = 1; task < 10; ++task) {
        fill(task);
    }
    list->InsertReservation(Reservation(kNow + 7200, 60), true);
    for (int task = 0; task < 10; ++task) {
        EXPECT_EQ(TriggersOf(task).size(), 41u) << task;
    }
    EXPECT_EQ(list->GetCount(), 2);  // the reservation stays without a trigger
}

TEST_F(ReservationTest, RemovingATriggerLeavesOtherReservationsTriggersAlone) {
    CRecSchedule* daily = Reservation(At(2026, 12, 13, 21, 0), 600, 1);
    daily->series = 1;
    daily->interval = CRecSchedule::kEveryDay;
    CRecSchedule* weekly = Reservation(At(2026, 12, 13, 21, 0), 600, 2);
    weekly->series = 1;
    weekly->interval = CRecSchedule::kEveryWeek;
    list->InsertReservation(daily, true);
    list->InsertReservation(weekly, true);
    ASSERT_EQ(TriggersOf(0).size(), 2u);
    list->RemoveReservation(weekly);
    ASSERT_EQ(TriggersOf(0).size(), 1u);
    EXPECT_EQ(TriggersOf(0)[0].kind, TriggerKind::kDaily);

    // Two reservations starting together on different tuners each keep a trigger.
    CRecSchedule* first = Reservation(kNow + 3600, 600, 3);
    CRecSchedule* second = Reservation(kNow + 3600, 600, 4);
    list->InsertReservation(first, true);
    list->InsertReservation(second, true);
    list->AddWakeTrigger(*second);  // registering again adds nothing
    EXPECT_EQ(TriggersOf(0).size(), 3u);
    list->RemoveReservation(first);
    ASSERT_EQ(TriggersOf(0).size(), 2u);
    EXPECT_EQ(TriggersOf(0)[1], CRecScheduleList::WakeTriggerOf(*second));
}

TEST_F(ReservationTest, LoadingReplacesEveryWakeTask) {
    tasks::ScheduledTask stale;
    stale.name = "Orvanta Task5";
    stale.triggers = {{TriggerKind::kOnce, 2020, 1, 1, 0, 0, 1, 0}};
    ASSERT_TRUE(store->Save(stale));
    list->SetEpgUpdateTask(4);
    LoadText(u"[Schedule000]\r\nTime=2026,12,11,9,0\r\nDuration=60\r\nTSID=1\r\nServiceID=2\r\n");
    ASSERT_EQ(store->GetTasks().size(), 1u);
    EXPECT_EQ(store->GetTasks()[0].name, "Orvanta Task0");

    // Fifty reservations fill the first task and go on in the second, in list order.
    std::u16string text;
    for (int i = 0; i < 50; ++i) {
        const std::string section = "[Schedule" + std::to_string(100 + i) +
                                    "]\r\nTime=2026,12,11," + std::to_string(i / 6) + "," +
                                    std::to_string(i % 6 * 10) +
                                    "\r\nDuration=60\r\nTSID=1\r\nServiceID=2\r\n";
        text += std::u16string(section.begin(), section.end());
    }
    LoadText(text);
    ASSERT_EQ(TriggersOf(0).size(), 41u);
    ASSERT_EQ(TriggersOf(1).size(), 9u);
    EXPECT_EQ(TriggersOf(0)[0].startHour, 23);  // 00:00 less five minutes, the day before
    EXPECT_EQ(TriggersOf(1)[8].startHour, 8);
    EXPECT_EQ(TriggersOf(1)[8].startMinute, 5);
}

TEST_F(ReservationTest, TheGuideUpdateTaskHoldsOneDailyTriggerAtTheHour) {
    list->SetEpgUpdateTask(4);
    list->SetEpgUpdateTask(5);
    const tasks::ScheduledTask* task = store->Find("Orvanta Task");
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->argument, "/EPG");
    EXPECT_EQ(task->triggers,
              std::vector<TaskTrigger>({{TriggerKind::kDaily, 2026, 12, 10, 5, 0, 1, 0}}));
    list->SetEpgUpdateTask(24);
    EXPECT_EQ(store->Find("Orvanta Task"), nullptr);
    EXPECT_TRUE(timers.calls.back().deleted);
}

}  // namespace
