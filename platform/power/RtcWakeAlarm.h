#pragma once

#include <ctime>
#include <string>

#include "platform/power/PowerManager.h"

namespace power {

// The wake alarm of the real-time clock through sysfs: "<rtc folder>/wakealarm" takes the
// alarm time in seconds since the epoch, "0" clears it, and a new time is only accepted once
// the old one is cleared. Writing needs root unless a udev rule grants the user access; a
// missing or read-only file is reported with the path and what would fix it.
//
// The kernel counts those seconds the way the RTC itself does. An RTC kept in local time
// (a computer that also starts Windows) reads ahead of or behind the system clock by the zone
// offset, as "<rtc folder>/since_epoch" shows; the alarm is shifted by that offset, rounded to
// a quarter hour so that the few seconds the two clocks drift apart do not matter.
class RtcWakeAlarm {
public:
    static constexpr const char* kDefaultRtcFolder = "/sys/class/rtc/rtc0";

    explicit RtcWakeAlarm(std::string rtcFolder = kDefaultRtcFolder);

    bool IsWritable() const;
    PowerResult Set(std::time_t when) const;
    PowerResult Clear() const;

    const std::string& AlarmPath() const { return alarmPath; }

private:
    PowerResult Write(const std::string& text) const;
    // The RTC's reckoning minus the system clock's, in whole quarter hours.
    std::time_t RtcOffset(std::time_t now) const;

    std::string rtcFolder;
    std::string alarmPath;
};

// Whether a process status text of /proc ("CapEff:\t000001fffeffffff") grants CAP_WAKE_ALARM,
// the capability a timer needs to wake the computer.
bool StatusGrantsWakeAlarm(const std::string& statusText);

// Whether the user's service manager can wake the computer with its timers (WakeSystem=):
// it must be running in this session (reached through "$XDG_RUNTIME_DIR/systemd/private") and
// hold CAP_WAKE_ALARM, which user managers normally lack.
bool UserTimersCanWake();

}  // namespace power
