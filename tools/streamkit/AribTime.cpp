#include "tools/streamkit/AribTime.h"

#include <cstdio>
#include <ctime>

namespace streamkit {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t DaysFromCivil(int year, int month, int day) {
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilTime ToCivil(JstTime time) {
    const int64_t days = DayOf(time);
    const int64_t secondsOfDay = time - days * kSecondsPerDay;
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    CivilTime civil;
    civil.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    civil.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    civil.year = static_cast<int>(yoe + era * 400 + (civil.month <= 2 ? 1 : 0));
    civil.hour = static_cast<int>(secondsOfDay / 3600);
    civil.minute = static_cast<int>(secondsOfDay / 60 % 60);
    civil.second = static_cast<int>(secondsOfDay % 60);
    return civil;
}

JstTime FromCivil(const CivilTime& civil) {
    return DaysFromCivil(civil.year, civil.month, civil.day) * kSecondsPerDay + civil.hour * 3600 +
           civil.minute * 60 + civil.second;
}

std::optional<JstTime> ParseJstTime(std::string_view text) {
    const std::string copy(text);
    CivilTime civil;
    char trailing = 0;
    if (std::sscanf(copy.c_str(), "%d-%d-%d %d:%d:%d%c", &civil.year, &civil.month, &civil.day,
                    &civil.hour, &civil.minute, &civil.second, &trailing) != 6) {
        return std::nullopt;
    }
    if (civil.year < 1970 || civil.year > 2100 || civil.month < 1 || civil.month > 12 ||
        civil.day < 1 || civil.hour < 0 || civil.hour > 23 || civil.minute < 0 ||
        civil.minute > 59 || civil.second < 0 || civil.second > 59) {
        return std::nullopt;
    }
    const JstTime time = FromCivil(civil);
    const CivilTime back = ToCivil(time);
    if (back.day != civil.day || back.month != civil.month) {
        return std::nullopt;  // 31 April and the like
    }
    return time;
}

std::string FormatJstTime(JstTime time) {
    const CivilTime c = ToCivil(time);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day,
                  c.hour, c.minute, c.second);
    return text;
}

JstTime NowJst() {
    return static_cast<JstTime>(std::time(nullptr)) + 9 * 3600;
}

void WriteAribTime(ByteWriter& out, JstTime time) {
    const CivilTime c = ToCivil(time);
    out.U16(MjdOf(time));
    out.U8(ToBcd(c.hour));
    out.U8(ToBcd(c.minute));
    out.U8(ToBcd(c.second));
}

JstTime ReadAribTime(const uint8_t* bytes) {
    const int mjd = bytes[0] << 8 | bytes[1];
    return (static_cast<int64_t>(mjd) - 40587) * kSecondsPerDay + ReadBcdDuration(bytes + 2);
}

void WriteBcdDuration(ByteWriter& out, int seconds) {
    out.U8(ToBcd(seconds / 3600));
    out.U8(ToBcd(seconds / 60 % 60));
    out.U8(ToBcd(seconds % 60));
}

int ReadBcdDuration(const uint8_t* bytes) {
    auto bcd = [](uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); };
    return bcd(bytes[0]) * 3600 + bcd(bytes[1]) * 60 + bcd(bytes[2]);
}

}  // namespace streamkit
