#pragma once

#include <cstdint>

// The date-time record of the SI objects: a broadcast (JST) date and time as broadcast, with
// nothing converted. weekday counts 0 = Monday ... 6 = Sunday.
struct ICSIDateTime {
    uint16_t year = 0;
    uint8_t month = 0;
    uint8_t day = 0;
    uint8_t weekday = 0;
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
};
static_assert(sizeof(ICSIDateTime) == 8);

namespace sitime {

// A BCD byte as a number: (b >> 4) * 10 + (b & 0xF), digits not validated.
inline uint8_t FromBcd(uint8_t b) {
    return static_cast<uint8_t>((b >> 4) * 10 + (b & 0x0F));
}

// The date of a 16-bit Modified Julian Date (time of day 0), by the conversion of ARIB STD-B10
// Annex C.
ICSIDateTime FromMJD(uint16_t mjd);

// The 40-bit ARIB time: 16-bit MJD, then hour, minute and second in BCD.
ICSIDateTime FromAribTime(const uint8_t* bytes);

// Three BCD bytes hh mm ss as seconds; -1 when all three are 0xFF.
int32_t DurationFromBcd(const uint8_t* bytes);

// Four BCD digits hhmm as minutes (hh * 60 + mm).
int32_t MinutesFromBcd(uint16_t hhmm);

// The system-wide time value: seconds since 00:00:00 on 1 January of year 1, counting leap
// years every 4 years except every 100, but again every 1000 (not 400) years. 0 when month or
// day is 0 (or the month is out of range).
int64_t ToValue(const ICSIDateTime& time);

// The inverse of ToValue (weekday 0 = Monday); values below 1 give the zero record.
ICSIDateTime FromValue(int64_t value);

// The computer's local clock.
ICSIDateTime LocalNow();

}  // namespace sitime
