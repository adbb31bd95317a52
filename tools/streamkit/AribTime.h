#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/streamkit/ByteWriter.h"

namespace streamkit {

// Broadcast time is Japan Standard Time throughout: a JstTime counts seconds of JST wall-clock
// time since 1970-01-01 00:00:00 JST (a "naive" local count, no time zone attached).
using JstTime = int64_t;

constexpr int64_t kSecondsPerDay = 86400;

struct CivilTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

int64_t DaysFromCivil(int year, int month, int day);
CivilTime ToCivil(JstTime time);
JstTime FromCivil(const CivilTime& civil);

// Parses "YYYY-MM-DD HH:MM:SS" (JST); nothing on a malformed text or an impossible date.
std::optional<JstTime> ParseJstTime(std::string_view text);
std::string FormatJstTime(JstTime time);

// The current time of the system clock, in JST (UTC+9, whatever the local zone is).
JstTime NowJst();

// Day number of a JST time (days since 1970-01-01) and the start of that day.
inline int64_t DayOf(JstTime time) {
    return time >= 0 ? time / kSecondsPerDay : -((-time + kSecondsPerDay - 1) / kSecondsPerDay);
}
inline JstTime DayStart(JstTime time) {
    return DayOf(time) * kSecondsPerDay;
}

// Modified Julian Date of a JST day: 40587 is the MJD of 1970-01-01.
inline uint16_t MjdOf(JstTime time) {
    return static_cast<uint16_t>(DayOf(time) + 40587);
}
inline uint16_t MjdOf(int year, int month, int day) {
    return static_cast<uint16_t>(DaysFromCivil(year, month, day) + 40587);
}

inline uint8_t ToBcd(int value) {
    return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

// The 40-bit ARIB time: 16-bit MJD, then hour, minute and second in BCD.
void WriteAribTime(ByteWriter& out, JstTime time);
inline void WriteAribTime(ByteWriter& out, const CivilTime& civil) {
    WriteAribTime(out, FromCivil(civil));
}
// The time of a 40-bit ARIB time at `bytes`.
JstTime ReadAribTime(const uint8_t* bytes);
// A duration as three BCD bytes hh mm ss.
void WriteBcdDuration(ByteWriter& out, int seconds);
int ReadBcdDuration(const uint8_t* bytes);

}  // namespace streamkit
