#pragma once

#include <QString>
#include <string>
#include <vector>

#include "app/stores/CRecSchedule.h"
#include "sianalyzer/ICSITime.h"

class CRecScheduleList;

// What the reservation dialog's date and time controls hold, as typed or chosen.
struct RecFormValues {
    QString month;
    QString day;
    QString startHour;
    QString startMinute;
    QString endHour;
    QString endMinute;
    CTuner* tuner = nullptr;
    CChannelInfo* channel = nullptr;
};

// The outcome of checking the form: an error text (with its reservations in the way for an
// overlap), or the start and duration to write.
struct RecFormCheck {
    std::u16string error;
    std::vector<CRecSchedule*> clashes;  // on the chosen tuner, for an overlap
    TimeValue start = 0;
    int32_t duration = 0;
};

// Checks the form in the dialog's order: month, day (of that month in the year it falls in),
// times, tuner, channel, then overlaps with the other reservations of the chosen tuner
// (`self` is the reservation being edited). The year is this year, or the next one for a month
// already past. An end before the start ends on the next day.
RecFormCheck CheckRecForm(const RecFormValues& values, const ICSIDateTime& today,
                          const CRecScheduleList& reservations, const CRecSchedule* self);

// Whether the half-open spans [start, start + duration) meet.
inline bool SpansOverlap(TimeValue start, int32_t duration, TimeValue otherStart,
                         int32_t otherDuration) {
    return start < otherStart + otherDuration && otherStart < start + duration;
}

// The size rule of the lists: "1.5 GB", "700 MB", "12 KB", "10 B".
QString FormatSize(uint64_t bytes);
