#include "app/stores/CRecSchedule.h"

#include "sianalyzer/ICSITime.h"

namespace {

ICSIDateTime StartOf(const CRecSchedule& reservation) {
    ICSIDateTime start;
    start.year = reservation.year;
    start.month = reservation.month;
    start.day = reservation.day;
    start.hour = reservation.hour;
    start.minute = reservation.minute;
    start.second = reservation.second;
    return start;
}

}  // namespace

TimeValue CRecSchedule::GetStartTime() const {
    return sitime::ToValue(StartOf(*this));
}

void CRecSchedule::SetStartTime(TimeValue start) {
    const ICSIDateTime time = sitime::FromValue(start);
    year = time.year;
    month = time.month;
    day = time.day;
    weekday = uint8_t((time.weekday + 1) % 7);  // the record counts from Monday
    hour = time.hour;
    minute = time.minute;
    second = time.second;
}

bool CRecSchedule::HasValidStart() const {
    // A date the time value does not give back (31 February, hour 25) is not a real moment.
    const ICSIDateTime start = StartOf(*this);
    const ICSIDateTime back = sitime::FromValue(sitime::ToValue(start));
    return year >= 1 && back.year == start.year && back.month == start.month &&
           back.day == start.day && back.hour == start.hour && back.minute == start.minute &&
           back.second == start.second;
}
