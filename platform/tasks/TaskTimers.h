#pragma once

#include <string>
#include <vector>

#include "platform/tasks/TaskStore.h"

// What makes the system act on the stored tasks: the store hands every saved or deleted task to a
// backend. On this platform a task becomes a systemd user timer that wakes the computer and
// starts the task's program; tests use a backend that only records what it was given.
namespace tasks {

class TaskTimerBackend {
public:
    virtual ~TaskTimerBackend() = default;
    // The task as saved, with all its triggers (possibly none).
    virtual void TaskSaved(const ScheduledTask& task) = 0;
    virtual void TaskDeleted(const std::string& name) = 0;
};

// The unit name of a task without its suffix: the name in lower case, every run of other
// characters than letters and digits made one '-', and a '-' before a trailing number
// ("Orvanta Task3" → "orvanta-task-3").
std::string UnitBaseName(const std::string& taskName);
// The OnCalendar= value of a trigger ("2026-12-10 20:55:00", "*-*-* 03:00:00",
// "Sun *-*-* 20:55:00"). Daily and weekly triggers fire on every matching day from the moment
// they are written; intervals above 1 are written as 1 (the application uses none).
std::string CalendarOf(const TaskTrigger& trigger);
// The text of the timer unit (one OnCalendar= line per trigger, waking the system) and of the
// service unit that runs the task's program with its argument.
std::string TimerUnitText(const ScheduledTask& task);
std::string ServiceUnitText(const ScheduledTask& task);

// Writes "<base>.timer" and "<base>.service" for each saved task into a folder the caller chooses
// (normally the user's systemd unit folder) and, when `install` is set and a systemd user session
// is present, reloads the user manager and enables (or, for a deleted or trigger-less task,
// disables) the timer. Failures are not reported: a task that cannot be mirrored stays in the
// store.
class SystemdTimers : public TaskTimerBackend {
public:
    SystemdTimers(std::string unitFolder, bool install);

    void TaskSaved(const ScheduledTask& task) override;
    void TaskDeleted(const std::string& name) override;

    // The folder of the user's own units: $XDG_CONFIG_HOME/systemd/user or
    // ~/.config/systemd/user.
    static std::string UserUnitFolder();
    // Whether a systemd user manager of this session can be reached.
    static bool UserSessionPresent();

private:
    void Systemctl(const std::vector<std::string>& arguments) const;

    std::string unitFolder;
    bool install;
};

// The test backend: every call in order.
class RecordingTaskTimers : public TaskTimerBackend {
public:
    struct Call {
        bool deleted;
        ScheduledTask task;  // only the name for a deletion
    };

    void TaskSaved(const ScheduledTask& task) override { calls.push_back({false, task}); }
    void TaskDeleted(const std::string& name) override {
        ScheduledTask deleted;
        deleted.name = name;
        calls.push_back({true, std::move(deleted)});
    }

    std::vector<Call> calls;
};

}  // namespace tasks
