#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/stores/CChannelInfo.h"
#include "app/stores/CEventInfo.h"
#include "app/stores/COwnedList.h"
#include "app/stores/CTuner.h"

class ICSIEvent;

// The programme guide of every channel the user has. One EPG tuner, never tuned, indexes the
// services of all tuners by broadcast kind: its tuning spaces "UHF" (terrestrial, cable and
// VHF), "BS" and "CS" hold one channel per service in their `physicalChannels`, each channel
// with its events ordered by start time, at most one per start time and per event_id.
//
// Every operation that reads or changes a channel's `events` holds that list's lock for its
// duration; the operations do not call one another while holding it. The tuning spaces and
// channels themselves are changed only by RebuildEpgIndex and the loader, on the thread that
// owns the store (the user-interface thread).
class CEpgStore {
public:
    // The application clock: the current time value (a stream's TOT time while one is watched,
    // else the local clock).
    using Clock = std::function<TimeValue()>;

    static constexpr const char* kFileName = "EPG.data";
    // The earliest merged start of a segment of which no event was merged.
    static constexpr TimeValue kNothingMerged = INT64_MAX;

    // Without a clock the local clock is read.
    explicit CEpgStore(Clock clock = {});
    CEpgStore(const CEpgStore&) = delete;
    CEpgStore& operator=(const CEpgStore&) = delete;

    CTuner& EpgTuner() { return epgTuner; }
    const CTuner& EpgTuner() const { return epgTuner; }
    // The EPG tuning space of a tuner's tuning-space kind (BS, CS, else UHF).
    CTuningSpace* SpaceForType(int32_t type) const;
    // The EPG tuning space whose own `type` is exactly `type` (0, 2 or 3), or null.
    CTuningSpace* SpaceOfType(int32_t type) const;
    TimeValue Now() const;

    // Recreates the three tuning spaces (dropping every event) and indexes the services of the
    // tuners: the first service with a given channel number in a space wins; the channels are
    // ordered by channel number.
    void RebuildEpgIndex(const COwnedList<CTuner>& tuners);
    // Puts `channel` (owned by the store from now on) into `space` before the first channel with
    // a larger channel number.
    static void InsertChannelByNumber(CTuningSpace& space, CChannelInfo* channel);

    // Reads `EPG.data` of the Data folder into the rebuilt index; a missing or damaged file
    // leaves what was read before the damage. False when nothing could be read.
    bool LoadEpg(const std::string& dataFolder);
    // Writes `EPG.data` of the Data folder (atomically: the old file stays whole until the new
    // one is complete). False when it could not be written.
    bool SaveEpg(const std::string& dataFolder);

    // Copies one event of the analyzer's SI store (held by the caller) into the channel and
    // returns the store's event. An event that carries no short-event descriptor keeps the
    // title, text and genres it already has; one that has none takes them from the event its
    // shared-event group (type 1) names, when the store holds that event.
    CEventInfo* MergeEvent(CChannelInfo& channel, const ICSIEvent& si);
    // After the events of a schedule segment (table_id 0x50-0x57) were merged, removes the
    // events of the segment's three-hour window that were not refreshed, and clears the
    // refreshed mark of the others.
    void ReconcileSegment(CChannelInfo& channel, uint8_t tableId, uint8_t sectionNumber,
                          TimeValue earliestMergedStart);
    // Puts `event` (owned by the channel from now on) in start-time order; an event with the
    // same start time is replaced (its reservation passes over when the event_id is the same).
    void InsertEvent(CChannelInfo& channel, CEventInfo* event);
    // Removes and destroys the event; the channel's current event is found again if it was it.
    void RemoveEvent(CChannelInfo& channel, CEventInfo* event);
    // The event whose interval contains `time`, or null.
    CEventInfo* FindEventAt(CChannelInfo& channel, TimeValue time);
    // Sets and returns the channel's current event at the application clock.
    CEventInfo* UpdateCurrentEvent(CChannelInfo& channel);
    // Deletes, in every channel, the events that ended before `time`; a last event of
    // undetermined length stays.
    void ExpireEvents(TimeValue time);

    // The first channel with both ids, searching CS, then BS, then UHF.
    CChannelInfo* FindEpgChannel(uint32_t transportStreamId, uint32_t serviceId) const;
    CEventInfo* FindEpgEvent(uint32_t transportStreamId, uint32_t serviceId,
                             uint16_t eventId) const;

    // The end of an event: start + duration, or for an undetermined duration the next event's
    // start; a last event of undetermined duration never ends (INT64_MAX). The caller holds the
    // list's lock.
    static TimeValue EndOf(const CEventInfo& event);

private:
    // The unlocked parts of the operations; the caller holds the channel's events lock.
    void InsertLocked(CChannelInfo& channel, CEventInfo* event);
    CEventInfo* FindAtLocked(CChannelInfo& channel, TimeValue time) const;
    CEventInfo* UpdateCurrentLocked(CChannelInfo& channel) const;
    static CEventInfo* FindByIdLocked(const CChannelInfo& channel, uint16_t eventId);

    Clock clock;
    CTuner epgTuner;
};
