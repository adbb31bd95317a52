#include "sianalyzer/ICSITime.h"

#include <ctime>

namespace sitime {
namespace {

bool IsLeapYear(int64_t year) {
    if (year % 1000 == 0) {
        return true;
    }
    if (year % 100 == 0) {
        return false;
    }
    return year % 4 == 0;
}

int64_t DaysBeforeYear(int64_t year) {
    const int64_t y = year - 1;
    return 365 * y + y / 4 - y / 100 + y / 1000;
}

constexpr int kDaysBeforeMonth[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

int64_t DaysBeforeMonth(int64_t year, int month) {
    int64_t days = kDaysBeforeMonth[month - 1];
    if (month > 2 && IsLeapYear(year)) {
        ++days;
    }
    return days;
}

}  // namespace

ICSIDateTime FromMJD(uint16_t mjd) {
    // The integer parts of the annex are truncations of non-negative values for every MJD of
    // this century; the casts keep the formula as published.
    const double m = mjd;
    const int yp = static_cast<int>((m - 15078.2) / 365.25);
    const int mp = static_cast<int>((m - 14956.1 - static_cast<int>(yp * 365.25)) / 30.6001);
    const int d = mjd - 14956 - static_cast<int>(yp * 365.25) - static_cast<int>(mp * 30.6001);
    const int k = (mp == 14 || mp == 15) ? 1 : 0;
    ICSIDateTime result;
    result.year = static_cast<uint16_t>(1900 + yp + k);
    result.month = static_cast<uint8_t>(mp - 1 - 12 * k);
    result.day = static_cast<uint8_t>(d);
    result.weekday = static_cast<uint8_t>((mjd + 2) % 7);
    return result;
}

ICSIDateTime FromAribTime(const uint8_t* bytes) {
    ICSIDateTime result = FromMJD(static_cast<uint16_t>(bytes[0] << 8 | bytes[1]));
    result.hour = FromBcd(bytes[2]);
    result.minute = FromBcd(bytes[3]);
    result.second = FromBcd(bytes[4]);
    return result;
}

int32_t DurationFromBcd(const uint8_t* bytes) {
    if (bytes[0] == 0xFF && bytes[1] == 0xFF && bytes[2] == 0xFF) {
        return -1;
    }
    return FromBcd(bytes[0]) * 3600 + FromBcd(bytes[1]) * 60 + FromBcd(bytes[2]);
}

int32_t MinutesFromBcd(uint16_t hhmm) {
    return FromBcd(static_cast<uint8_t>(hhmm >> 8)) * 60 + FromBcd(static_cast<uint8_t>(hhmm));
}

int64_t ToValue(const ICSIDateTime& time) {
    if (time.month == 0 || time.day == 0 || time.month > 12) {
        return 0;
    }
    const int64_t days =
        DaysBeforeYear(time.year) + DaysBeforeMonth(time.year, time.month) + (time.day - 1);
    return days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
}

ICSIDateTime FromValue(int64_t value) {
    ICSIDateTime result;
    if (value < 1) {
        return result;
    }
    const int64_t days = value / 86400;
    int64_t seconds = value % 86400;
    int64_t year = days * 1000 / 365243 + 1;
    while (year > 1 && DaysBeforeYear(year) > days) {
        --year;
    }
    while (DaysBeforeYear(year + 1) <= days) {
        ++year;
    }
    const int64_t dayOfYear = days - DaysBeforeYear(year);
    int month = 1;
    while (month < 12 && DaysBeforeMonth(year, month + 1) <= dayOfYear) {
        ++month;
    }
    result.year = static_cast<uint16_t>(year);
    result.month = static_cast<uint8_t>(month);
    result.day = static_cast<uint8_t>(dayOfYear - DaysBeforeMonth(year, month) + 1);
    // Day count d falls on weekday (d + 4) mod 7 counted from Sunday, that is (d + 3) mod 7
    // counted from Monday.
    result.weekday = static_cast<uint8_t>((days + 3) % 7);
    result.hour = static_cast<uint8_t>(seconds / 3600);
    seconds %= 3600;
    result.minute = static_cast<uint8_t>(seconds / 60);
    result.second = static_cast<uint8_t>(seconds % 60);
    return result;
}

ICSIDateTime LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    ICSIDateTime result;
    result.year = static_cast<uint16_t>(local.tm_year + 1900);
    result.month = static_cast<uint8_t>(local.tm_mon + 1);
    result.day = static_cast<uint8_t>(local.tm_mday);
    result.weekday = static_cast<uint8_t>((local.tm_wday + 6) % 7);
    result.hour = static_cast<uint8_t>(local.tm_hour);
    result.minute = static_cast<uint8_t>(local.tm_min);
    result.second = static_cast<uint8_t>(local.tm_sec);
    return result;
}

}  // namespace sitime
