#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The wake-up task store: named tasks that start a program with an argument at the times of
// their triggers and wake the computer for it. The store keeps its tasks in one small file in the
// folder it is given (the Data folder) and hands every saved or deleted task to a timer backend,
// which makes the system act on it (TaskTimers.h).
namespace tasks {

class TaskTimerBackend;

enum class TriggerKind : uint8_t {
    kOnce,    // at the begin date and start time
    kDaily,   // every `interval` days from the begin date
    kWeekly,  // every `interval` weeks from the begin date, on the days of `daysOfWeek`
};

// Day flags of a weekly trigger.
inline constexpr uint8_t kSunday = 0x01;
inline constexpr uint8_t kAllDays = 0x7F;  // Sunday 0x01, Monday 0x02, ... Saturday 0x40

struct TaskTrigger {
    TriggerKind kind = TriggerKind::kOnce;
    uint16_t beginYear = 0;
    uint8_t beginMonth = 0;
    uint8_t beginDay = 0;
    uint8_t startHour = 0;
    uint8_t startMinute = 0;
    uint16_t interval = 1;   // days or weeks; unused for a one-time trigger
    uint8_t daysOfWeek = 0;  // weekly triggers only

    bool operator==(const TaskTrigger&) const = default;
};

// Task flags.
inline constexpr uint32_t kDeleteWhenDone = 0x0002;
inline constexpr uint32_t kSystemRequired = 0x1000;  // wake the computer to run
inline constexpr uint32_t kRunOnlyIfLoggedOn = 0x2000;

struct ScheduledTask {
    std::string name;
    std::string program;  // full path (UTF-8)
    std::string argument;
    uint32_t flags = 0;
    std::string account;  // the user the task runs for; no password is kept
    std::vector<TaskTrigger> triggers;
};

// The store is used from one thread (the application's user-interface thread).
class TaskStore {
public:
    // The file is named kFileName inside `folder`; it is read at once (a missing file is an empty
    // store, damaged lines are skipped). `backend` may be null: the store then only keeps its
    // file.
    TaskStore(std::string folder, TaskTimerBackend* backend);

    static constexpr const char* kFileName = "Tasks.txt";

    // The saved state of the task, or null when there is none.
    const ScheduledTask* Find(std::string_view name) const;
    // Every saved task, in the order they were first saved.
    const std::vector<ScheduledTask>& GetTasks() const { return tasks; }

    // Stores the task (replacing one of the same name), rewrites the file and hands the task to
    // the backend. False when the file could not be written: the store is then unchanged.
    bool Save(const ScheduledTask& task);
    // Removes the task; deleting a task that does not exist succeeds.
    bool Delete(std::string_view name);

    // The text of the store file for `tasks`, and the tasks read back from such a text (lines that
    // are not understood are skipped; a task keeps whatever valid lines it has).
    static std::string Format(const std::vector<ScheduledTask>& tasks);
    static std::vector<ScheduledTask> Parse(std::string_view text);

private:
    bool WriteFile(const std::vector<ScheduledTask>& newTasks) const;

    std::string path;
    TaskTimerBackend* backend;
    std::vector<ScheduledTask> tasks;
};

}  // namespace tasks
