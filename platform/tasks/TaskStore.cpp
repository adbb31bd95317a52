#include "platform/tasks/TaskStore.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "platform/profile/ProfileFile.h"
#include "platform/tasks/TaskTimers.h"

// The store file is UTF-8 text, one block per task:
//
//   [Orvanta Task0]
//   Program=/usr/bin/orvanta
//   Argument=/Schedule
//   Flags=0x3002
//   Account=user
//   Trigger=weekly 2026-12-13 20:55 1 0x01
//   Trigger=daily 2026-12-10 03:00 1
//   Trigger=once 2026-12-10 21:30
//
// Values run to the end of the line; names and values never hold a line break (they are
// replaced by spaces when written).

namespace tasks {
namespace {

constexpr std::string_view kKindNames[] = {"once", "daily", "weekly"};

std::string OneLine(std::string_view text) {
    std::string line(text);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line;
}

std::string FormatTrigger(const TaskTrigger& trigger) {
    char text[64];
    int length =
        std::snprintf(text, sizeof text, "%s %04u-%02u-%02u %02u:%02u",
                      kKindNames[static_cast<int>(trigger.kind)].data(), trigger.beginYear,
                      trigger.beginMonth, trigger.beginDay, trigger.startHour, trigger.startMinute);
    if (trigger.kind == TriggerKind::kDaily) {
        length +=
            std::snprintf(text + length, sizeof text - size_t(length), " %u", trigger.interval);
    } else if (trigger.kind == TriggerKind::kWeekly) {
        std::snprintf(text + length, sizeof text - size_t(length), " %u 0x%02X", trigger.interval,
                      trigger.daysOfWeek);
    }
    return text;
}

// Reads an unsigned number of at most `maximum` from the front of `text` and the separator after
// it (when `separator` is not 0); none when anything is missing or out of range.
std::optional<uint32_t> TakeNumber(std::string_view& text, char separator, uint32_t maximum,
                                   int base = 10) {
    if (base == 16) {
        if (text.substr(0, 2) != "0x") {
            return std::nullopt;
        }
        text.remove_prefix(2);
    }
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end == text.data() || value > maximum) {
        return std::nullopt;
    }
    text.remove_prefix(size_t(end - text.data()));
    if (separator != 0) {
        if (text.empty() || text.front() != separator) {
            return std::nullopt;
        }
        text.remove_prefix(1);
    }
    return value;
}

std::optional<TaskTrigger> ParseTrigger(std::string_view text) {
    TaskTrigger trigger;
    const size_t space = text.find(' ');
    const auto kind =
        std::find(std::begin(kKindNames), std::end(kKindNames), text.substr(0, space));
    if (space == std::string_view::npos || kind == std::end(kKindNames)) {
        return std::nullopt;
    }
    trigger.kind = static_cast<TriggerKind>(kind - std::begin(kKindNames));
    text.remove_prefix(space + 1);
    const bool repeats = trigger.kind != TriggerKind::kOnce;
    const auto year = TakeNumber(text, '-', 9999);
    const auto month = TakeNumber(text, '-', 12);
    const auto day = TakeNumber(text, ' ', 31);
    const auto hour = TakeNumber(text, ':', 23);
    const auto minute = TakeNumber(text, repeats ? ' ' : 0, 59);
    if (!year || !month || !day || !hour || !minute || *month == 0 || *day == 0) {
        return std::nullopt;
    }
    trigger.beginYear = uint16_t(*year);
    trigger.beginMonth = uint8_t(*month);
    trigger.beginDay = uint8_t(*day);
    trigger.startHour = uint8_t(*hour);
    trigger.startMinute = uint8_t(*minute);
    if (repeats) {
        const bool weekly = trigger.kind == TriggerKind::kWeekly;
        const auto interval = TakeNumber(text, weekly ? ' ' : 0, 0xFFFF);
        const auto days = weekly ? TakeNumber(text, 0, kAllDays, 16) : std::optional<uint32_t>(0);
        if (!interval || *interval == 0 || !days || (weekly && *days == 0)) {
            return std::nullopt;
        }
        trigger.interval = uint16_t(*interval);
        trigger.daysOfWeek = uint8_t(*days);
    }
    if (!text.empty()) {
        return std::nullopt;
    }
    return trigger;
}

}  // namespace

TaskStore::TaskStore(std::string folder, TaskTimerBackend* backend)
    : path(std::move(folder) + "/" + kFileName), backend(backend) {
    std::string bytes;
    if (profile::ReadWholeFile(path, bytes) == profile::FileReadResult::kRead) {
        tasks = Parse(bytes);
    }
}

const ScheduledTask* TaskStore::Find(std::string_view name) const {
    const auto found = std::find_if(tasks.begin(), tasks.end(), [name](const ScheduledTask& task) {
        return task.name == name;
    });
    return found != tasks.end() ? &*found : nullptr;
}

bool TaskStore::Save(const ScheduledTask& task) {
    std::vector<ScheduledTask> newTasks = tasks;
    ScheduledTask stored = task;
    stored.name = OneLine(task.name);
    const auto found = std::find_if(newTasks.begin(), newTasks.end(),
                                    [&](const ScheduledTask& t) { return t.name == stored.name; });
    if (found != newTasks.end()) {
        *found = stored;
    } else {
        newTasks.push_back(stored);
    }
    if (!WriteFile(newTasks)) {
        return false;
    }
    tasks = std::move(newTasks);
    if (backend != nullptr) {
        backend->TaskSaved(stored);
    }
    return true;
}

bool TaskStore::Delete(std::string_view name) {
    std::vector<ScheduledTask> newTasks = tasks;
    std::erase_if(newTasks, [name](const ScheduledTask& task) { return task.name == name; });
    if (newTasks.size() == tasks.size()) {
        return true;
    }
    if (!WriteFile(newTasks)) {
        return false;
    }
    tasks = std::move(newTasks);
    if (backend != nullptr) {
        backend->TaskDeleted(std::string(name));
    }
    return true;
}

bool TaskStore::WriteFile(const std::vector<ScheduledTask>& newTasks) const {
    return profile::ReplaceFileAtomically(path, Format(newTasks));
}

std::string TaskStore::Format(const std::vector<ScheduledTask>& tasks) {
    std::string text;
    for (const ScheduledTask& task : tasks) {
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%04X", task.flags);
        text += "[" + OneLine(task.name) + "]\n";
        text += "Program=" + OneLine(task.program) + "\n";
        text += "Argument=" + OneLine(task.argument) + "\n";
        text += std::string("Flags=") + flags + "\n";
        text += "Account=" + OneLine(task.account) + "\n";
        for (const TaskTrigger& trigger : task.triggers) {
            text += "Trigger=" + FormatTrigger(trigger) + "\n";
        }
    }
    return text;
}

std::vector<ScheduledTask> TaskStore::Parse(std::string_view text) {
    std::vector<ScheduledTask> tasks;
    size_t current = SIZE_MAX;  // lines before the first task belong to none
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            const std::string name(line.substr(1, line.size() - 2));
            // A name seen twice continues the task of that name.
            const auto found =
                std::find_if(tasks.begin(), tasks.end(),
                             [&](const ScheduledTask& task) { return task.name == name; });
            current = size_t(found - tasks.begin());
            if (found == tasks.end()) {
                tasks.emplace_back().name = name;
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (current >= tasks.size() || equals == std::string_view::npos) {
            continue;
        }
        ScheduledTask& task = tasks[current];
        const std::string_view key = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        if (key == "Program") {
            task.program = value;
        } else if (key == "Argument") {
            task.argument = value;
        } else if (key == "Account") {
            task.account = value;
        } else if (key == "Flags") {
            task.flags = TakeNumber(value, 0, 0xFFFFFFFF, 16).value_or(task.flags);
        } else if (key == "Trigger") {
            if (const auto trigger = ParseTrigger(value)) {
                task.triggers.push_back(*trigger);
            }
        }
    }
    return tasks;
}

}  // namespace tasks
