#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/profile/tests/ProfileTestFiles.h"
#include "platform/tasks/TaskTimers.h"

namespace {

using tasks::ScheduledTask;
using tasks::TaskTrigger;
using tasks::TriggerKind;

ScheduledTask WakeTask(std::string name, std::string argument, std::vector<TaskTrigger> triggers) {
    ScheduledTask task;
    task.name = std::move(name);
    task.program = "/opt/orvanta 1.0/orvanta";
    task.argument = std::move(argument);
    task.flags = tasks::kDeleteWhenDone | tasks::kSystemRequired | tasks::kRunOnlyIfLoggedOn;
    task.account = "viewer";
    task.triggers = std::move(triggers);
    return task;
}

const std::vector<TaskTrigger> kEveryKind = {
    {TriggerKind::kOnce, 2026, 12, 10, 21, 25, 1, 0},
    {TriggerKind::kDaily, 2026, 12, 10, 4, 0, 1, 0},
    {TriggerKind::kWeekly, 2026, 12, 13, 20, 55, 1, tasks::kSunday},
    {TriggerKind::kWeekly, 2026, 12, 10, 9, 25, 1, 0x22},  // Monday and Friday
    {TriggerKind::kWeekly, 2026, 12, 10, 9, 25, 1, tasks::kAllDays},
};

TEST(SystemdTimers, UnitNamesFollowTheTaskNames) {
    const struct {
        const char* task;
        const char* unit;
    } cases[] = {
        {"Orvanta Task", "orvanta-task"},
        {"Orvanta Task0", "orvanta-task-0"},
        {"Orvanta Task9", "orvanta-task-9"},
        {"  Wake/Up %x ", "wake-up-x"},
        {"", "task"},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(tasks::UnitBaseName(test.task), test.unit) << test.task;
    }
}

TEST(SystemdTimers, UnitsOfATaskHaveOneCalendarLinePerTriggerAndStartTheProgram) {
    const ScheduledTask task = WakeTask("Orvanta Task0", "/Schedule", kEveryKind);
    EXPECT_EQ(tasks::TimerUnitText(task),
              "[Unit]\n"
              "Description=Orvanta Task0\n"
              "\n"
              "[Timer]\n"
              "OnCalendar=2026-12-10 21:25:00\n"
              "OnCalendar=*-*-* 04:00:00\n"
              "OnCalendar=Sun *-*-* 20:55:00\n"
              "OnCalendar=Mon,Fri *-*-* 09:25:00\n"
              "OnCalendar=*-*-* 09:25:00\n"
              "WakeSystem=true\n"
              "Persistent=true\n"
              "AccuracySec=1s\n"
              "\n"
              "[Install]\n"
              "WantedBy=timers.target\n");
    EXPECT_EQ(tasks::ServiceUnitText(task),
              "[Unit]\n"
              "Description=Orvanta Task0\n"
              "\n"
              "[Service]\n"
              "Type=oneshot\n"
              "ExecStart=\"/opt/orvanta 1.0/orvanta\" \"/Schedule\"\n");

    ScheduledTask odd = WakeTask("100% \"odd\"", "/EPG", {});
    odd.program = "/home/a\"b\\c/$HOME%n/orvanta";
    EXPECT_EQ(tasks::ServiceUnitText(odd),
              "[Unit]\n"
              "Description=100%% \"odd\"\n"
              "\n"
              "[Service]\n"
              "Type=oneshot\n"
              "ExecStart=\"/home/a\\\"b\\\\c/$$HOME%%n/orvanta\" \"/EPG\"\n");
}

TEST(SystemdTimers, SystemdAcceptsEveryCalendarLine) {
    if (std::system("systemd-analyze --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    std::vector<TaskTrigger> triggers = kEveryKind;
    for (uint8_t days = 1; days <= tasks::kAllDays; days = uint8_t(days * 2 + 1)) {
        triggers.push_back({TriggerKind::kWeekly, 2026, 12, 10, 23, 59, 1, days});
    }
    triggers.push_back({TriggerKind::kOnce, 2027, 2, 28, 0, 0, 1, 0});
    for (const TaskTrigger& trigger : triggers) {
        const std::string command =
            "systemd-analyze calendar '" + tasks::CalendarOf(trigger) + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << tasks::CalendarOf(trigger);
    }
}

using SystemdTimerFiles = ProfileFileTest;

TEST_F(SystemdTimerFiles, SavedTasksGetUnitFilesAndDeletedOnesLoseThem) {
    tasks::SystemdTimers timers((folder / "units").string(), false);
    timers.TaskSaved(WakeTask("Orvanta Task3", "/Schedule", kEveryKind));
    timers.TaskSaved(WakeTask("Orvanta Task", "/EPG", {kEveryKind[1]}));
    EXPECT_EQ(ReadBytes(PathOf("units/orvanta-task-3.timer")),
              tasks::TimerUnitText(WakeTask("Orvanta Task3", "/Schedule", kEveryKind)));
    EXPECT_NE(ReadBytes(PathOf("units/orvanta-task.service")).find("\"/EPG\""), std::string::npos);
    timers.TaskDeleted("Orvanta Task3");
    EXPECT_FALSE(std::filesystem::exists(PathOf("units/orvanta-task-3.timer")));
    EXPECT_FALSE(std::filesystem::exists(PathOf("units/orvanta-task-3.service")));
    EXPECT_TRUE(std::filesystem::exists(PathOf("units/orvanta-task.timer")));
}

}  // namespace
