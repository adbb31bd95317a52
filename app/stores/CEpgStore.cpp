#include "app/stores/CEpgStore.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>
#include <utility>

#include "app/stores/EpgDataFile.h"
#include "platform/profile/ProfileFile.h"
#include "sianalyzer/ICSIEIT.h"
#include "sianalyzer/ICSIEvent.h"
#include "sianalyzer/ICSITime.h"

namespace {

constexpr TimeValue kNever = CEpgStore::kNothingMerged;
constexpr TimeValue kSecondsPerDay = 86400;
constexpr TimeValue kSegmentWindow = 3 * 3600;
constexpr uint8_t kScheduleFirstTable = 0x50;
constexpr uint8_t kScheduleLastTable = 0x57;
constexpr uint8_t kSharedEventGroup = 1;

struct EpgSpace {
    const char16_t* name;
    int32_t type;
};
constexpr EpgSpace kEpgSpaces[] = {
    {u"UHF", CTuningSpace::kTerrestrial},
    {u"BS", CTuningSpace::kBS},
    {u"CS", CTuningSpace::kCS},
};

// Holds a channel's events lock for a scope.
class EventsLock {
public:
    explicit EventsLock(CChannelInfo& channel) : events(channel.events) { events.Lock(); }
    EventsLock(const EventsLock&) = delete;
    EventsLock& operator=(const EventsLock&) = delete;
    ~EventsLock() { events.Unlock(); }

private:
    COwnedList<CEventInfo>& events;
};

// Titles use the wave dash where the 8-unit text decoder gives the fullwidth tilde.
ICWString WithWaveDashes(const char16_t* text) {
    ICWString result(text);
    if (!result.IsEmpty()) {
        char16_t* buffer = result.GetBuffer();
        std::replace(buffer, buffer + result.GetLength(), u'\uFF5E', u'\u301C');
    }
    return result;
}

// What an event lends to the events that share it.
struct SharedDescription {
    ICWString title;
    ICWString text;
    uint8_t genreCount = 0;
    std::array<uint16_t, CEventInfo::kMaxGenres> genres{};
};

}  // namespace

CEpgStore::CEpgStore(Clock clock) : clock(std::move(clock)) {
    RebuildEpgIndex(COwnedList<CTuner>());
}

TimeValue CEpgStore::Now() const {
    return clock ? clock() : sitime::ToValue(sitime::LocalNow());
}

CTuningSpace* CEpgStore::SpaceOfType(int32_t type) const {
    for (CTuningSpace* space : epgTuner.tuningSpaces) {
        if (space->type == type) {
            return space;
        }
    }
    return nullptr;
}

CTuningSpace* CEpgStore::SpaceForType(int32_t type) const {
    return SpaceOfType(
        type == CTuningSpace::kBS || type == CTuningSpace::kCS ? type : CTuningSpace::kTerrestrial);
}

void CEpgStore::InsertChannelByNumber(CTuningSpace& space, CChannelInfo* channel) {
    CChannelInfo* position = space.physicalChannels.First();
    while (position != nullptr && position->channelNumber <= channel->channelNumber) {
        position = COwnedList<CChannelInfo>::Next(position);
    }
    space.physicalChannels.InsertBefore(position, channel);
}

void CEpgStore::RebuildEpgIndex(const COwnedList<CTuner>& tuners) {
    epgTuner.tuningSpaces.RemoveAll(true);
    for (const EpgSpace& kind : kEpgSpaces) {
        auto* space = new CTuningSpace(&epgTuner);
        space->name = kind.name;
        space->type = kind.type;
        epgTuner.tuningSpaces.Add(space);
    }
    for (const CTuner* tuner : tuners) {
        for (const CTuningSpace* source : tuner->tuningSpaces) {
            CTuningSpace& space = *SpaceForType(source->type);
            for (const CChannelInfo* service : source->channels) {
                bool numberTaken = false;
                for (const CChannelInfo* channel : space.physicalChannels) {
                    numberTaken |= channel->channelNumber == service->channelNumber;
                }
                if (numberTaken) {
                    continue;
                }
                auto* copy = new CChannelInfo(&space);
                copy->name = service->name;
                copy->tsName = service->tsName;
                copy->enabled = service->enabled;
                copy->physicalIndex = service->physicalIndex;
                copy->networkId = service->networkId;
                copy->transportStreamId = service->transportStreamId;
                copy->serviceId = service->serviceId;
                copy->remoteKey = service->remoteKey;
                copy->channelNumber = service->channelNumber;
                InsertChannelByNumber(space, copy);
            }
        }
    }
}

namespace {

std::string DataFilePath(const std::string& dataFolder) {
    if (dataFolder.empty()) {
        return CEpgStore::kFileName;
    }
    return dataFolder.back() == '/' ? dataFolder + CEpgStore::kFileName
                                    : dataFolder + '/' + CEpgStore::kFileName;
}

}  // namespace

bool CEpgStore::LoadEpg(const std::string& dataFolder) {
    std::string bytes;
    if (profile::ReadWholeFile(DataFilePath(dataFolder), bytes) != profile::FileReadResult::kRead) {
        return false;
    }
    return epgdata::Read(bytes, *this).records > 0;
}

bool CEpgStore::SaveEpg(const std::string& dataFolder) {
    return profile::ReplaceFileAtomically(DataFilePath(dataFolder), epgdata::Write(epgTuner));
}

TimeValue CEpgStore::EndOf(const CEventInfo& event) {
    if (event.duration >= 0) {
        return event.startTime + event.duration;
    }
    const CEventInfo* next = COwnedList<CEventInfo>::Next(&event);
    return next != nullptr ? next->startTime : kNever;
}

CEventInfo* CEpgStore::FindByIdLocked(const CChannelInfo& channel, uint16_t eventId) {
    for (CEventInfo* event : channel.events) {
        if (event->eventId == eventId) {
            return event;
        }
    }
    return nullptr;
}

void CEpgStore::InsertLocked(CChannelInfo& channel, CEventInfo* event) {
    event->channel = &channel;
    // Events mostly arrive in start order: the place is found from the end.
    CEventInfo* before = channel.events.Last();
    while (before != nullptr && before->startTime > event->startTime) {
        before = static_cast<CEventInfo*>(before->prev);
    }
    if (before != nullptr && before->startTime == event->startTime) {
        if (before->eventId == event->eventId) {
            event->reservation = before->reservation;
        }
        const bool wasCurrent = channel.currentEvent == before;
        channel.events.Replace(before, event);
        delete before;
        if (wasCurrent) {
            UpdateCurrentLocked(channel);
        }
        return;
    }
    channel.events.InsertBefore(before != nullptr ? before->next : channel.events.GetHead(), event);
}

void CEpgStore::InsertEvent(CChannelInfo& channel, CEventInfo* event) {
    EventsLock lock(channel);
    InsertLocked(channel, event);
}

void CEpgStore::RemoveEvent(CChannelInfo& channel, CEventInfo* event) {
    EventsLock lock(channel);
    const bool wasCurrent = channel.currentEvent == event;
    if (!channel.events.Remove(event, true)) {
        return;
    }
    if (wasCurrent) {
        UpdateCurrentLocked(channel);
    }
}

CEventInfo* CEpgStore::FindAtLocked(CChannelInfo& channel, TimeValue time) const {
    // The last event that starts at or before `time` is the only one that can cover it.
    CEventInfo* event = channel.events.Last();
    while (event != nullptr && event->startTime > time) {
        event = static_cast<CEventInfo*>(event->prev);
    }
    return event != nullptr && time < EndOf(*event) ? event : nullptr;
}

CEventInfo* CEpgStore::FindEventAt(CChannelInfo& channel, TimeValue time) {
    EventsLock lock(channel);
    return FindAtLocked(channel, time);
}

CEventInfo* CEpgStore::UpdateCurrentLocked(CChannelInfo& channel) const {
    const TimeValue now = Now();
    channel.currentEvent = nullptr;
    for (CEventInfo* event : channel.events) {
        if (event->startTime > now) {
            break;
        }
        if (event->duration < 0 && event->next == nullptr) {
            continue;
        }
        if (EndOf(*event) > now) {
            channel.currentEvent = event;
            break;
        }
    }
    return channel.currentEvent;
}

CEventInfo* CEpgStore::UpdateCurrentEvent(CChannelInfo& channel) {
    EventsLock lock(channel);
    return UpdateCurrentLocked(channel);
}

void CEpgStore::ExpireEvents(TimeValue time) {
    for (CTuningSpace* space : epgTuner.tuningSpaces) {
        for (CChannelInfo* channel : space->physicalChannels) {
            EventsLock lock(*channel);
            bool currentRemoved = false;
            // The end of an undetermined event is the start of the event that followed it
            // before this sweep removed anything.
            TimeValue followingStart = kNever;
            CEventInfo* event = channel->events.Last();
            while (event != nullptr) {
                auto* previous = static_cast<CEventInfo*>(event->prev);
                const TimeValue start = event->startTime;
                const TimeValue end =
                    event->duration >= 0 ? start + event->duration : followingStart;
                if (end < time) {
                    currentRemoved |= channel->currentEvent == event;
                    channel->events.Remove(event, true);
                }
                followingStart = start;
                event = previous;
            }
            if (currentRemoved) {
                UpdateCurrentLocked(*channel);
            }
        }
    }
}

CChannelInfo* CEpgStore::FindEpgChannel(uint32_t transportStreamId, uint32_t serviceId) const {
    for (auto* space = static_cast<CTuningSpace*>(epgTuner.tuningSpaces.GetTail());
         space != nullptr; space = static_cast<CTuningSpace*>(space->prev)) {
        for (CChannelInfo* channel : space->physicalChannels) {
            if (channel->transportStreamId == transportStreamId &&
                channel->serviceId == serviceId) {
                return channel;
            }
        }
    }
    return nullptr;
}

CEventInfo* CEpgStore::FindEpgEvent(uint32_t transportStreamId, uint32_t serviceId,
                                    uint16_t eventId) const {
    CChannelInfo* channel = FindEpgChannel(transportStreamId, serviceId);
    if (channel == nullptr) {
        return nullptr;
    }
    EventsLock lock(*channel);
    return FindByIdLocked(*channel, eventId);
}

void CEpgStore::ReconcileSegment(CChannelInfo& channel, uint8_t tableId, uint8_t sectionNumber,
                                 TimeValue earliestMergedStart) {
    if (tableId < kScheduleFirstTable || tableId > kScheduleLastTable ||
        earliestMergedStart == kNever || earliestMergedStart < 0) {
        return;
    }
    const TimeValue windowStart = earliestMergedStart - earliestMergedStart % kSecondsPerDay +
                                  ((sectionNumber / 8) % 8) * kSegmentWindow;
    const TimeValue windowEnd = windowStart + kSegmentWindow;
    EventsLock lock(channel);
    bool currentRemoved = false;
    // Every event that starts in the window, whether or not an event covers its start.
    CEventInfo* event = channel.events.First();
    while (event != nullptr && event->startTime < windowStart) {
        event = COwnedList<CEventInfo>::Next(event);
    }
    while (event != nullptr && event->startTime < windowEnd) {
        CEventInfo* next = COwnedList<CEventInfo>::Next(event);
        if (event->seen) {
            event->seen = false;
        } else {
            currentRemoved |= channel.currentEvent == event;
            channel.events.Remove(event, true);
        }
        event = next;
    }
    if (currentRemoved) {
        UpdateCurrentLocked(channel);
    }
}

namespace {

// The description of the first event a shared-event group of `si` names that the store holds
// with a title.
bool FindSharedDescription(const CEpgStore& store, const CChannelInfo& channel, const ICSIEvent& si,
                           SharedDescription& shared) {
    for (int32_t g = 0; g < si.GetEventGroupCount(); ++g) {
        const ICSIEventGroup* group = si.GetEventGroup(g);
        if (group == nullptr || group->GetGroupType() != kSharedEventGroup) {
            continue;
        }
        for (int32_t i = 0; i < group->GetEventCount(); ++i) {
            const uint16_t serviceId = group->GetServiceID(i);
            const uint16_t eventId = group->GetEventID(i);
            if (serviceId == channel.serviceId && eventId == si.GetEventID()) {
                continue;
            }
            CChannelInfo* source = store.FindEpgChannel(channel.transportStreamId, serviceId);
            if (source == nullptr) {
                continue;
            }
            EventsLock lock(*source);
            for (const CEventInfo* event : source->events) {
                if (event->eventId == eventId && !event->title.IsEmpty()) {
                    shared.title = event->title;
                    shared.text = event->text;
                    shared.genreCount = event->genreCount;
                    shared.genres = event->genres;
                    return true;
                }
            }
        }
    }
    return false;
}

}  // namespace

CEventInfo* CEpgStore::MergeEvent(CChannelInfo& channel, const ICSIEvent& si) {
    const uint32_t flags = si.GetDescriptorFlags();
    const bool hasShortEvent = (flags & ICSIEvent::kFlagShortEvent) != 0;
    const bool hasContent = (flags & ICSIEvent::kFlagContent) != 0;
    // Found before this channel's lock is taken: the named event may be in another channel,
    // and no operation holds two channels' locks at once.
    SharedDescription shared;
    const bool hasShared = !hasShortEvent && FindSharedDescription(*this, channel, si, shared);

    EventsLock lock(channel);
    const uint16_t eventId = si.GetEventID();
    const TimeValue startTime = si.GetStartTimeValue();
    CEventInfo* event = FindByIdLocked(channel, eventId);
    if (event == nullptr) {
        event = new CEventInfo(&channel, eventId);
        event->startTime = startTime;
        event->duration = si.GetDuration();
        InsertLocked(channel, event);
    }
    const ICSIEITSegment* segment = si.GetOwner();
    const ICSIEITTable* table = segment != nullptr ? segment->GetOwner() : nullptr;
    event->eventId = eventId;
    event->tableId = table != nullptr ? table->GetTableID() : 0xFF;
    event->startTime = startTime;
    event->duration = si.GetDuration();
    if (hasShortEvent) {
        event->title = WithWaveDashes(si.GetEventName());
        event->text = WithWaveDashes(si.GetEventText());
    }
    if (hasShortEvent || hasContent) {
        const int32_t count = std::clamp(si.GetContentCount(), 0, CEventInfo::kMaxGenres);
        event->genreCount = static_cast<uint8_t>(count);
        event->genres.fill(0xFFFF);
        std::copy_n(si.GetContents(), count, event->genres.begin());
    }
    if (hasShared && event->title.IsEmpty()) {
        event->title = shared.title;
        event->text = shared.text;
        if (event->genreCount == 0) {
            event->genreCount = shared.genreCount;
            event->genres = shared.genres;
        }
    }
    const ICSIComponent* video = si.GetComponent(0);
    event->videoType = video != nullptr ? video->GetComponentType() : CEventInfo::kNoComponent;
    const ICSIComponent* audio = si.GetAudioComponent(0);
    event->audioType = audio != nullptr ? audio->GetComponentType() : CEventInfo::kNoComponent;

    event->groups.RemoveAll(true);
    for (int32_t g = 0; g < si.GetEventGroupCount(); ++g) {
        const ICSIEventGroup* source = si.GetEventGroup(g);
        if (source == nullptr) {
            continue;
        }
        auto* group = new CEventGroup;
        group->groupType = source->GetGroupType();
        const int32_t count = source->GetEventCount();
        group->serviceIds.assign(source->GetServiceIDs(), source->GetServiceIDs() + count);
        group->eventIds.assign(source->GetEventIDs(), source->GetEventIDs() + count);
        event->groups.Add(group);
    }
    event->seen = true;
    return event;
}
