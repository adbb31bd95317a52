#pragma once

#include <cstdint>

#include "app/stores/CEventInfo.h"
#include "app/stores/CTuner.h"
#include "core/ICListItem.h"
#include "core/ICWString.h"

// One recording reservation: a service to record from a start for a duration, once or
// repeatedly. The start is kept as its date and time fields (as stored in the reservation file);
// the time value is computed from them.
class CRecSchedule : public ICListItem {
public:
    // Repeat periods of `interval`.
    static constexpr int32_t kNoRepeat = 0;
    static constexpr int32_t kEveryDay = 1;
    static constexpr int32_t kEveryWeek = 7;

    CRecSchedule() = default;
    CRecSchedule(const CRecSchedule&) = delete;
    CRecSchedule& operator=(const CRecSchedule&) = delete;

    // The start as a time value (0 when the date is not set).
    TimeValue GetStartTime() const;
    // Sets year, month, day, hour, minute, second and the weekday from a time value.
    void SetStartTime(TimeValue start);
    TimeValue GetEndTime() const { return GetStartTime() + duration; }
    // Whether the date and time fields name a real moment (month 1-12, a day of that month,
    // hour below 24, minute and second below 60, a year from 1).
    bool HasValidStart() const;

    ICWString folder;
    uint16_t year = 0;
    uint8_t month = 0;
    uint8_t day = 0;
    uint8_t weekday = 0;  // of the start date, 0 = Sunday ... 6 = Saturday
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    int32_t duration = 0;  // seconds
    ICWString tunerName;   // displayName of the tuner to use; empty: any
    int32_t kind = CTuningSpace::kOther;
    uint16_t transportStreamId = 0;
    uint16_t serviceId = 0;
    uint16_t eventId = 0;  // 0 for a reservation made by hand
    ICWString serviceName;
    ICWString eventTitle;
    uint8_t series = 0;
    uint8_t overwrite = 0;
    int32_t interval = kNoRepeat;
    CChannelInfo* channel = nullptr;  // the service used to record; run-time only
};
