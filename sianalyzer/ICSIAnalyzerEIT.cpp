// The EIT handler: the present/following and schedule tables of the actual transport stream.

#include "sianalyzer/ICSIAnalyzerCore.h"

void ICSIAnalyzerCore::HandleEIT() {
    const ICSISection& section = *GetCurrentSection();
    const uint8_t tableId = section.tableId;
    const uint16_t serviceId = section.tableIdExtension;
    const uint8_t version = section.versionNumber;
    const uint8_t sectionNumber = section.sectionNumber;
    const int32_t tsid = reader.ReadUInt16();
    const int32_t onid = reader.ReadUInt16();
    const int32_t segmentLast = reader.ReadUInt8();
    const int32_t lastTableId = reader.ReadUInt8();
    if (lastTableId < 0) {
        return;
    }
    const bool presentFollowing = tableId == si::kTableEITPresentFollowing;
    const uint8_t key =
        presentFollowing ? tableId : static_cast<uint8_t>(tableId & ~si::kTableEITExtendedBit);
    const bool basic = tableId < si::kTableEITScheduleExtendedFirst;
    const intptr_t ids = static_cast<intptr_t>(onid) << 16 | tsid;
    const intptr_t serviceIds = static_cast<intptr_t>(serviceId) << 16;
    PostEvent(si::kEventEITSection, ids, serviceIds | tableId << 8 | sectionNumber);

    ICSIEIT* eit =
        store->FindEIT(static_cast<uint16_t>(onid), static_cast<uint16_t>(tsid), serviceId);
    if (eit != nullptr && eit->GetOriginalNetworkID() != onid) {
        eit = nullptr;
    }
    ICSIEITTable* table = eit != nullptr ? eit->FindTable(key) : nullptr;
    ICSIEITSegment* segment = table != nullptr ? table->FindSegment(sectionNumber) : nullptr;
    // Announces the half of the segment this section belongs to when it has just become
    // complete; `announcedTableId` goes into the event.
    auto completeSegment = [&](uint8_t announcedTableId) {
        if (segment->Progress(basic).CompleteWhenAllIn()) {
            PostEvent(basic ? si::kEventEITBasicSegment : si::kEventEITExtendedSegment, ids,
                      serviceIds | announcedTableId << 8 | segment->GetFirstSectionNumber());
        }
    };

    // A repetition of a section already held.
    if (segment != nullptr && segment->Progress(basic).HasSection(version, sectionNumber)) {
        completeSegment(tableId);
        FlushNotify();
        return;
    }
    // An extended section only adds to events that basic sections have created: it waits for
    // its segment (the next repetition brings it again).
    if (!basic && segment == nullptr) {
        DropNotify();
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (presentFollowing && table != nullptr && table->GetVersion() != version) {
        eit->RemoveTable(table);
        table = nullptr;
        segment = nullptr;
    } else if (basic && segment != nullptr && segment->Progress(true).GetVersion() != version) {
        // A new version of a schedule segment: its events are replaced, the other segments
        // of the table keep theirs until their own sections arrive in the new version.
        segment = table->RenewSegment(segment, sectionNumber);
    }
    if (!basic && segment->Progress(false).GetVersion() != version) {
        segment->Progress(false).Restart(version);
    }
    if (eit == nullptr) {
        eit = store->Add(new ICSIEIT(store.get(), static_cast<uint16_t>(onid),
                                     static_cast<uint16_t>(tsid), serviceId));
    }
    if (table == nullptr) {
        table = eit->AddTable(key);
    }
    if (segment == nullptr) {
        segment = table->AddSegment(sectionNumber);
    }

    if (!presentFollowing) {
        eit->SetLastTableID(basic, static_cast<uint8_t>(lastTableId));
    }
    table->RecordSection(basic, version, section.lastSectionNumber);
    segment->Progress(basic).RecordSection(version, sectionNumber,
                                           static_cast<uint8_t>(segmentLast));

    // Undoes this section when a descriptor loop is cut short: its bit goes, so the next
    // repetition parses it again.
    auto abandon = [&](ICSIEvent* event) {
        if (event != nullptr) {
            segment->RemoveEvent(event);
        }
        segment->Progress(basic).ForgetSection(sectionNumber);
        store->EndReset();
        DropNotify();
    };

    while (reader.GetPosition() < reader.GetLimit()) {
        const int32_t eventId = reader.ReadUInt16();
        if (eventId < 0) {
            break;
        }
        ICSIEvent* event;
        if (basic) {
            event = segment->ReplaceEvent(static_cast<uint16_t>(eventId));
        } else {
            event = segment->FindEvent(static_cast<uint16_t>(eventId));
            if (event == nullptr) {
                reader.Skip(8);
                const int32_t field = reader.ReadUInt16();
                if (field < 0) {
                    abandon(nullptr);
                    return;
                }
                reader.Skip(field & 0x0FFF);
                continue;
            }
            event->ClearExtendedDescriptors();
        }
        if (!event->ParseBody(reader, extEventJoin)) {
            abandon(event);
            return;
        }
        const intptr_t eventIds = serviceIds | eventId;
        PostEvent(basic ? si::kEventEventStored : si::kEventEventExtended, ids, eventIds);
        if (presentFollowing && sectionNumber == 0) {
            eit->SetPresentEventID(static_cast<uint16_t>(eventId));
            PostEvent(si::kEventPresentEvent, ids, eventIds);
        }
    }

    store->EndReset();
    completeSegment(key);
    FlushNotify();
}
