#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "app/stores/COwnedList.h"
#include "core/ICListItem.h"
#include "core/ICWString.h"

class CChannelInfo;
class CRecSchedule;

// The time values of the stores: seconds of local (broadcast) time since 00:00:00 on
// 1 January of year 1.
using TimeValue = int64_t;

// One event group of an event: the related events, as (service_id, event_id) pairs.
class CEventGroup : public ICListItem {
public:
    uint8_t groupType = 0;
    std::vector<uint16_t> serviceIds;
    std::vector<uint16_t> eventIds;
};

// One event of a channel's programme guide.
class CEventInfo : public ICListItem {
public:
    static constexpr uint8_t kNoComponent = 255;
    static constexpr int kMaxGenres = 7;

    CEventInfo(CChannelInfo* channel, uint16_t eventId) : channel(channel), eventId(eventId) {
        genres.fill(0xFFFF);
    }
    CEventInfo(const CEventInfo&) = delete;
    CEventInfo& operator=(const CEventInfo&) = delete;

    // The end: start + duration (a negative duration is undetermined: the start then).
    TimeValue EndTime() const { return startTime + (duration > 0 ? duration : 0); }

    CChannelInfo* channel;
    uint16_t eventId;
    uint8_t tableId = 255;
    TimeValue startTime = 0;
    int32_t duration = 0;  // seconds; negative: undetermined
    ICWString title;
    ICWString text;
    uint8_t videoType = kNoComponent;
    uint8_t audioType = kNoComponent;
    uint8_t genreCount = 0;
    std::array<uint16_t, kMaxGenres> genres{};
    COwnedList<CEventGroup> groups;
    CRecSchedule* reservation = nullptr;
    bool seen = false;
};
