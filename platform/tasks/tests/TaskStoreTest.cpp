#include <gtest/gtest.h>

#include "platform/profile/tests/ProfileTestFiles.h"
#include "platform/tasks/TaskStore.h"
#include "platform/tasks/TaskTimers.h"

namespace {

using tasks::ScheduledTask;
using tasks::TaskStore;
using tasks::TaskTrigger;
using tasks::TriggerKind;

using TaskStoreTest = ProfileFileTest;

ScheduledTask MakeTask(std::string name, std::string argument) {
    ScheduledTask task;
    task.name = std::move(name);
    task.program = "/opt/orvanta/bin/orvanta";
    task.argument = std::move(argument);
    task.flags = 0x3002;
    task.account = "viewer";
    return task;
}

ScheduledTask ReservationTask() {
    ScheduledTask task = MakeTask("Orvanta Task0", "/Schedule");
    task.triggers = {
        {TriggerKind::kWeekly, 2026, 12, 13, 20, 55, 1, tasks::kSunday},
        {TriggerKind::kWeekly, 2026, 12, 10, 9, 25, 1, tasks::kAllDays},
        {TriggerKind::kDaily, 2026, 12, 11, 0, 0, 1, 0},
        {TriggerKind::kOnce, 2027, 1, 2, 23, 59, 1, 0},
    };
    return task;
}

TEST_F(TaskStoreTest, SavedTasksAreWrittenAsTextAndReadBackByTheNextStore) {
    ScheduledTask epg = MakeTask("Orvanta Task", "/EPG");
    epg.triggers = {{TriggerKind::kDaily, 2026, 12, 10, 4, 0, 1, 0}};
    {
        TaskStore store(folder.string(), nullptr);
        ASSERT_TRUE(store.Save(ReservationTask()));
        ASSERT_TRUE(store.Save(epg));
    }
    EXPECT_EQ(ReadBytes(PathOf(TaskStore::kFileName)),
              "[Orvanta Task0]\n"
              "Program=/opt/orvanta/bin/orvanta\n"
              "Argument=/Schedule\n"
              "Flags=0x3002\n"
              "Account=viewer\n"
              "Trigger=weekly 2026-12-13 20:55 1 0x01\n"
              "Trigger=weekly 2026-12-10 09:25 1 0x7F\n"
              "Trigger=daily 2026-12-11 00:00 1\n"
              "Trigger=once 2027-01-02 23:59\n"
              "[Orvanta Task]\n"
              "Program=/opt/orvanta/bin/orvanta\n"
              "Argument=/EPG\n"
              "Flags=0x3002\n"
              "Account=viewer\n"
              "Trigger=daily 2026-12-10 04:00 1\n");
    TaskStore reloaded(folder.string(), nullptr);
    ASSERT_EQ(reloaded.GetTasks().size(), 2u);
    const ScheduledTask* task = reloaded.Find("Orvanta Task0");
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->program, "/opt/orvanta/bin/orvanta");
    EXPECT_EQ(task->argument, "/Schedule");
    EXPECT_EQ(task->flags, 0x3002u);
    EXPECT_EQ(task->account, "viewer");
    EXPECT_EQ(task->triggers, ReservationTask().triggers);
    EXPECT_EQ(reloaded.Find("Orvanta Task")->triggers, epg.triggers);
}

TEST_F(TaskStoreTest, SavingReplacesTheTaskOfTheSameNameAndDeletingRemovesIt) {
    tasks::RecordingTaskTimers timers;
    TaskStore store(folder.string(), &timers);
    ScheduledTask task = ReservationTask();
    ASSERT_TRUE(store.Save(task));
    task.triggers.resize(1);
    ASSERT_TRUE(store.Save(task));
    ASSERT_EQ(store.GetTasks().size(), 1u);
    EXPECT_EQ(store.Find("Orvanta Task0")->triggers.size(), 1u);
    EXPECT_TRUE(store.Delete("Orvanta Task0"));
    EXPECT_TRUE(store.Delete("Orvanta Task7"));  // absent: nothing to do
    EXPECT_EQ(store.Find("Orvanta Task0"), nullptr);
    EXPECT_TRUE(TaskStore(folder.string(), nullptr).GetTasks().empty());

    // The backend saw two saves and one deletion, never the absent task.
    ASSERT_EQ(timers.calls.size(), 3u);
    EXPECT_FALSE(timers.calls[1].deleted);
    EXPECT_EQ(timers.calls[1].task.triggers.size(), 1u);
    EXPECT_TRUE(timers.calls[2].deleted);
    EXPECT_EQ(timers.calls[2].task.name, "Orvanta Task0");
}

TEST_F(TaskStoreTest, AFailedWriteLeavesTheStoreAndTheBackendUntouched) {
    tasks::RecordingTaskTimers timers;
    TaskStore store((folder / "missing").string(), &timers);
    EXPECT_FALSE(store.Save(ReservationTask()));
    EXPECT_TRUE(store.GetTasks().empty());
    EXPECT_TRUE(timers.calls.empty());
}

TEST(TaskStoreFile, DamagedLinesAreSkippedAndTheRestIsKept) {
    const auto parsed = TaskStore::Parse(
        "Trigger=once 2026-12-10 20:55\n"  // before any task
        "[Orvanta Task1]\r\n"
        "Flags=zzz\n"
        "Trigger=weekly 2026-12-13 20:55 1 0x80\n"  // no such day
        "Trigger=weekly 2026-13-13 20:55 1 0x01\n"  // no such month
        "Trigger=daily 2026-12-13 24:00 1\n"        // no such hour
        "Trigger=daily 2026-12-13 23:00 0\n"        // never
        "Trigger=once 2026-12-13 23:00 junk\n"
        "Trigger=hourly 2026-12-13 23:00\n"
        "Trigger=once 2026-12-13 23:00\r\n"
        "no key here\n"
        "Argument=/Schedule");
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].flags, 0u);
    EXPECT_EQ(parsed[0].argument, "/Schedule");
    ASSERT_EQ(parsed[0].triggers.size(), 1u);
    EXPECT_EQ(parsed[0].triggers[0], (TaskTrigger{TriggerKind::kOnce, 2026, 12, 13, 23, 0, 1, 0}));
}

TEST(TaskStoreFile, EveryTruncationAndFlippedByteReadsWithoutHarm) {
    const std::string text = TaskStore::Format({ReservationTask()});
    for (size_t length = 0; length <= text.size(); ++length) {
        const auto parsed = TaskStore::Parse(std::string_view(text).substr(0, length));
        ASSERT_LE(parsed.size(), 1u);
        if (!parsed.empty()) {
            EXPECT_LE(parsed[0].triggers.size(), 4u);
        }
    }
    for (size_t index = 0; index < text.size(); ++index) {
        std::string damaged = text;
        damaged[index] = static_cast<char>(damaged[index] ^ 0xA5);
        const auto parsed = TaskStore::Parse(damaged);
        ASSERT_LE(parsed.size(), 1u);
    }
}

TEST(TaskStoreFile, LineBreaksInValuesCannotSplitATask) {
    ScheduledTask task = ReservationTask();
    task.argument = "/Schedule\n[Other]";
    const auto parsed = TaskStore::Parse(TaskStore::Format({task}));
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].argument, "/Schedule [Other]");
    EXPECT_EQ(parsed[0].triggers.size(), 4u);
}

}  // namespace
