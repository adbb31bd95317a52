#include "sianalyzer/ICSIEIT.h"

#include "sianalyzer/SIConstants.h"

int32_t ICSIEITSegment::LowerBound(uint16_t eventId) const {
    int32_t low = 0;
    int32_t high = events.GetCount();
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        if (events.GetAt(middle)->GetEventID() < eventId) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

ICSIEvent* ICSIEITSegment::FindEvent(uint16_t eventId) const {
    ICSIEvent* event = events.GetAt(LowerBound(eventId));
    return event != nullptr && event->GetEventID() == eventId ? event : nullptr;
}

ICSIEvent* ICSIEITTable::FindEvent(uint16_t eventId) const {
    for (const ICSIEITSegment* segment : segments) {
        if (ICSIEvent* event = segment->FindEvent(eventId)) {
            return event;
        }
    }
    return nullptr;
}

ICSIEvent* ICSIEIT::FindEvent(uint16_t eventId, bool includePresentFollowing) const {
    if (includePresentFollowing) {
        if (const ICSIEITTable* table = FindTable(si::kTableEITPresentFollowing)) {
            if (ICSIEvent* event = table->FindEvent(eventId)) {
                return event;
            }
        }
    }
    for (const ICSIEITTable* table : tables) {
        if (table->GetTableID() == si::kTableEITPresentFollowing) {
            continue;
        }
        if (ICSIEvent* event = table->FindEvent(eventId)) {
            return event;
        }
    }
    return nullptr;
}

ICSIEvent* ICSIEIT::GetPresentEvent() const {
    const ICSIEITTable* table = FindTable(si::kTableEITPresentFollowing);
    if (table == nullptr) {
        return nullptr;
    }
    const ICSIEITSegment* first = table->GetSegment(0);
    return first != nullptr ? first->FindEvent(presentEventId) : nullptr;
}

void ICSIEIT::MarkNotReceived(bool dropPresentFollowing) {
    if (dropPresentFollowing) {
        presentEventId = 0;
        for (int32_t i = tables.GetCount() - 1; i >= 0; --i) {
            const uint8_t key = tables.GetAt(i)->GetTableID();
            if (key == si::kTableEITPresentFollowing || key == si::kTableEITPresentFollowingOther) {
                tables.RemoveAt(i);
            }
        }
    }
    for (ICSIEITTable* table : tables) {
        table->MarkNotReceived();
    }
}

void ICSIEITTable::MarkNotReceived() {
    for (ICSIEITSegment* segment : segments) {
        segment->Progress(true).MarkNotReceived();
        segment->Progress(false).MarkNotReceived();
    }
}

ICSIEvent* ICSIEITSegment::ReplaceEvent(uint16_t eventId) {
    if (ICSIEvent* old = FindEvent(eventId)) {
        events.Remove(old);
    }
    return events.InsertAt(LowerBound(eventId), new ICSIEvent(this, eventId));
}

void ICSIEITTable::RecordSection(bool basic, uint8_t versionNumber, uint8_t lastNumber) {
    if (basic) {
        version = versionNumber;
        lastSectionNumber = lastNumber;
    } else {
        extVersion = versionNumber;
        extLastSectionNumber = lastNumber;
    }
}

ICSIEITSegment* ICSIEITTable::RenewSegment(ICSIEITSegment* segment, uint8_t sectionNumber) {
    int32_t index = 0;
    while (segments.GetAt(index) != segment) {
        ++index;
    }
    segments.RemoveAt(index);
    return segments.InsertAt(index, new ICSIEITSegment(this, sectionNumber));
}
