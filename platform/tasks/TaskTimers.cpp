#include "platform/tasks/TaskTimers.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/profile/ProfileFile.h"

extern char** environ;

namespace tasks {
namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

bool IsAsciiAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Unit files expand '%' specifiers everywhere; a name shown in Description= keeps its '%'.
std::string EscapeSpecifiers(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        escaped += c == '%' ? "%%" : std::string(1, c);
    }
    return escaped;
}

// One word of ExecStart=: double-quoted, with the C escapes of the quote and the backslash, and
// '%' and '$' doubled so that neither specifiers nor variables are expanded.
std::string QuoteWord(const std::string& word) {
    std::string quoted = "\"";
    for (const char c : word) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        } else if (c == '%' || c == '$') {
            quoted += c;
        } else if (c == '\n' || c == '\r') {
            quoted += ' ';
            continue;
        }
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string UnitBaseName(const std::string& taskName) {
    std::string base;
    bool pendingDash = false;
    for (size_t i = 0; i < taskName.size(); ++i) {
        const char c = taskName[i];
        if (!IsAsciiAlphanumeric(c)) {
            pendingDash = !base.empty();
            continue;
        }
        const bool digitAfterLetter =
            c >= '0' && c <= '9' && !base.empty() && !(base.back() >= '0' && base.back() <= '9');
        if (pendingDash || digitAfterLetter) {
            base += '-';
        }
        pendingDash = false;
        base += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    return base.empty() ? "task" : base;
}

std::string CalendarOf(const TaskTrigger& trigger) {
    char text[64];
    if (trigger.kind == TriggerKind::kOnce) {
        std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:00", trigger.beginYear,
                      trigger.beginMonth, trigger.beginDay, trigger.startHour, trigger.startMinute);
        return text;
    }
    std::string days;
    if (trigger.kind == TriggerKind::kWeekly && (trigger.daysOfWeek & kAllDays) != kAllDays) {
        for (int day = 0; day < 7; ++day) {
            if (trigger.daysOfWeek & (1 << day)) {
                days += days.empty() ? "" : ",";
                days += kDayNames[day];
            }
        }
        days += ' ';
    }
    std::snprintf(text, sizeof text, "*-*-* %02u:%02u:00", trigger.startHour, trigger.startMinute);
    return days + text;
}

std::string TimerUnitText(const ScheduledTask& task) {
    std::string text = "[Unit]\nDescription=" + EscapeSpecifiers(task.name) + "\n\n[Timer]\n";
    for (const TaskTrigger& trigger : task.triggers) {
        text += "OnCalendar=" + CalendarOf(trigger) + "\n";
    }
    // Persistent: a run missed while the computer was off happens at the next start, so that a
    // reservation still under way is recorded from then on.
    text += "WakeSystem=" + std::string(task.flags & kSystemRequired ? "true" : "false") + "\n";
    text += "Persistent=true\nAccuracySec=1s\n\n[Install]\nWantedBy=timers.target\n";
    return text;
}

std::string ServiceUnitText(const ScheduledTask& task) {
    std::string text = "[Unit]\nDescription=" + EscapeSpecifiers(task.name) + "\n\n[Service]\n";
    text += "Type=oneshot\nExecStart=" + QuoteWord(task.program);
    if (!task.argument.empty()) {
        text += " " + QuoteWord(task.argument);
    }
    return text + "\n";
}

SystemdTimers::SystemdTimers(std::string unitFolder, bool install)
    : unitFolder(std::move(unitFolder)), install(install) {}

void SystemdTimers::TaskSaved(const ScheduledTask& task) {
    const std::string base = unitFolder + "/" + UnitBaseName(task.name);
    ::mkdir(unitFolder.c_str(), 0755);
    const bool written = profile::ReplaceFileAtomically(base + ".service", ServiceUnitText(task)) &&
                         profile::ReplaceFileAtomically(base + ".timer", TimerUnitText(task));
    if (!written || !install || !UserSessionPresent()) {
        return;
    }
    Systemctl({"daemon-reload"});
    const std::string timer = UnitBaseName(task.name) + ".timer";
    Systemctl({task.triggers.empty() ? "disable" : "enable", "--now", timer});
}

void SystemdTimers::TaskDeleted(const std::string& name) {
    const std::string base = UnitBaseName(name);
    const bool active = install && UserSessionPresent();
    if (active) {
        Systemctl({"disable", "--now", base + ".timer"});
    }
    std::remove((unitFolder + "/" + base + ".timer").c_str());
    std::remove((unitFolder + "/" + base + ".service").c_str());
    if (active) {
        Systemctl({"daemon-reload"});
    }
}

std::string SystemdTimers::UserUnitFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/systemd/user";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/systemd/user";
}

bool SystemdTimers::UserSessionPresent() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat status {};
    return runtime != nullptr && runtime[0] == '/' &&
           ::stat((std::string(runtime) + "/systemd/private").c_str(), &status) == 0;
}

void SystemdTimers::Systemctl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> words = {"systemctl", "--user", "--quiet"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, "systemctl", nullptr, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        ::waitpid(child, &status, 0);
    }
}

}  // namespace tasks
