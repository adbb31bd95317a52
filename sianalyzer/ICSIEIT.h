#pragma once

#include <atomic>
#include <cstdint>

#include "core/ICListItem.h"
#include "sianalyzer/ICSIEvent.h"
#include "sianalyzer/ICSIItemList.h"

class ICSIList;
class ICSIEIT;
class ICSIEITTable;

// The sections received of one half of an EIT segment (the basic or the extended one): the
// version they belong to, one bit per section of the segment, the segment's last section number
// (segment_last_section_number of its sections) and whether every section is in. Only the
// worker thread changes it; readers test IsComplete, which is atomic.
class ICSIEITSegmentProgress {
public:
    explicit ICSIEITSegmentProgress(uint8_t lastSectionNumber)
        : lastSectionNumber(lastSectionNumber) {}

    bool IsComplete() const { return complete.load(std::memory_order_relaxed) != 0; }
    uint8_t GetLastSectionNumber() const { return lastSectionNumber; }
    uint8_t GetVersion() const { return version; }

    // True when section `sectionNumber` of version `versionNumber` is already held.
    bool HasSection(uint8_t versionNumber, uint8_t sectionNumber) const {
        return version == versionNumber && (receivedMask & Bit(sectionNumber)) != 0;
    }
    // Starts over in another version: nothing of it is received yet.
    void Restart(uint8_t versionNumber) {
        version = versionNumber;
        receivedMask = 0;
        complete.store(0);
    }
    void RecordSection(uint8_t versionNumber, uint8_t sectionNumber, uint8_t segmentLast) {
        version = versionNumber;
        lastSectionNumber = segmentLast;
        receivedMask |= Bit(sectionNumber);
    }
    // Takes back a section whose parsing was abandoned, so its next repetition is parsed.
    void ForgetSection(uint8_t sectionNumber) {
        receivedMask &= static_cast<uint8_t>(~Bit(sectionNumber));
    }
    // Marks the half complete when every section of the segment is in; true when it has just
    // become so.
    bool CompleteWhenAllIn() {
        const uint8_t full = static_cast<uint8_t>((1u << ((lastSectionNumber & 7) + 1)) - 1);
        if (IsComplete() || receivedMask != full) {
            return false;
        }
        complete.store(1);
        return true;
    }
    // Nothing received (stop); the version and the events stay.
    void MarkNotReceived() {
        complete.store(0);
        receivedMask = 0;
    }

private:
    static uint8_t Bit(uint8_t sectionNumber) {
        return static_cast<uint8_t>(1u << (sectionNumber & 7));
    }

    std::atomic<uint8_t> complete{0};
    uint8_t version = 0xFF;
    uint8_t lastSectionNumber;
    uint8_t receivedMask = 0;
};

// A group of eight sections of an EIT sub-table and the events they carry, sorted by event_id.
// The basic half (table_id 0x4E, 0x50-0x57) creates events; the extended half (0x58-0x5F)
// adds extended descriptions to them.
class ICSIEITSegment : public ICListItem {
public:
    ICSIEITSegment(ICSIEITTable* owner, uint8_t sectionNumber)
        : owner(owner),
          firstSectionNumber(sectionNumber & 0xF8),
          basicProgress(sectionNumber | 7),
          extendedProgress(sectionNumber | 7) {}

    virtual ICSIEITTable* GetOwner() const { return owner; }
    virtual uint8_t GetFirstSectionNumber() const { return firstSectionNumber; }
    virtual uint8_t GetSegmentLastSectionNumber() const {
        return basicProgress.GetLastSectionNumber();
    }
    virtual uint8_t GetExtSegmentLastSectionNumber() const {
        return extendedProgress.GetLastSectionNumber();
    }
    virtual int32_t GetEventCount() const { return events.GetCount(); }
    virtual ICSIEvent* GetEvent(int32_t index) const { return events.GetAt(index); }
    virtual ICSIEvent* FindEvent(uint16_t eventId) const;

    bool IsComplete() const { return basicProgress.IsComplete(); }
    bool IsExtComplete() const { return extendedProgress.IsComplete(); }
    // The basic or the extended half.
    ICSIEITSegmentProgress& Progress(bool basic) {
        return basic ? basicProgress : extendedProgress;
    }

    // --- the analyzer's side
    // A new event in event_id order; an event with that id is replaced.
    ICSIEvent* ReplaceEvent(uint16_t eventId);
    void RemoveEvent(ICSIEvent* event) { events.Remove(event); }

private:
    // The index at which an event with this id is or would be inserted.
    int32_t LowerBound(uint16_t eventId) const;

    ICSIEITTable* owner;
    uint8_t firstSectionNumber;
    // Each half keeps the version of its own sections: a segment is rebuilt when its sections
    // arrive in another version, whatever other segments of the table have seen.
    ICSIEITSegmentProgress basicProgress;
    ICSIEITSegmentProgress extendedProgress;
    ICSIItemList<ICSIEvent> events;
};

// One sub-table of a service's EIT: the present/following table (key 0x4E) or a schedule table
// (key table_id & 0xF7, so a basic table 0x50-0x57 and its extended partner share it).
class ICSIEITTable : public ICListItem {
public:
    ICSIEITTable(ICSIEIT* owner, uint8_t tableId) : owner(owner), tableId(tableId) {}

    virtual ICSIEIT* GetOwner() const { return owner; }
    virtual uint8_t GetVersion() const { return version; }
    virtual uint8_t GetTableID() const { return tableId; }
    virtual uint8_t GetLastSectionNumber() const { return lastSectionNumber; }
    virtual uint8_t GetExtVersion() const { return extVersion; }
    virtual uint8_t GetExtLastSectionNumber() const { return extLastSectionNumber; }
    virtual int32_t GetSegmentCount() const { return segments.GetCount(); }
    virtual ICSIEITSegment* GetSegment(int32_t index) const { return segments.GetAt(index); }
    // Matched on section_number & 0xF8.
    virtual ICSIEITSegment* FindSegment(uint8_t sectionNumber) const {
        const uint8_t first = sectionNumber & 0xF8;
        return segments.FindIf(
            [&](const ICSIEITSegment& s) { return s.GetFirstSectionNumber() == first; });
    }
    virtual ICSIEvent* FindEvent(uint16_t eventId) const;

    // --- the analyzer's side
    // Holds the version and last_section_number of the basic or the extended sections.
    void RecordSection(bool basic, uint8_t versionNumber, uint8_t lastNumber);
    ICSIEITSegment* AddSegment(uint8_t sectionNumber) {
        return segments.Add(new ICSIEITSegment(this, sectionNumber));
    }
    // Replaces a segment by an empty one in its place (a new version of its sections).
    ICSIEITSegment* RenewSegment(ICSIEITSegment* segment, uint8_t sectionNumber);
    // Forgets the sections received by every segment (stop).
    void MarkNotReceived();

private:
    ICSIEIT* owner;
    uint8_t tableId;
    uint8_t version = 0xFF;
    uint8_t lastSectionNumber = 0xFF;
    uint8_t extVersion = 0xFF;
    uint8_t extLastSectionNumber = 0xFF;
    ICSIItemList<ICSIEITSegment> segments;
};

// The event information of one service of the actual transport stream.
class ICSIEIT : public ICListItem {
public:
    ICSIEIT(ICSIList* owner, uint16_t originalNetworkId, uint16_t transportStreamId,
            uint16_t serviceId)
        : owner(owner),
          originalNetworkId(originalNetworkId),
          transportStreamId(transportStreamId),
          serviceId(serviceId) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint16_t GetOriginalNetworkID() const { return originalNetworkId; }
    virtual uint16_t GetTransportStreamID() const { return transportStreamId; }
    virtual uint16_t GetServiceID() const { return serviceId; }
    virtual uint8_t GetLastTableID() const { return lastTableId; }
    virtual uint8_t GetExtLastTableID() const { return extLastTableId; }
    virtual int32_t GetTableCount() const { return tables.GetCount(); }
    virtual ICSIEITTable* GetTable(int32_t index) const { return tables.GetAt(index); }
    // The key is compared as a byte: schedule callers pass 0x50-0x57.
    virtual ICSIEITTable* FindTable(uint8_t key) const {
        return tables.FindIf([&](const ICSIEITTable& t) { return t.GetTableID() == key; });
    }
    // The present/following table first when asked, then every schedule table in list order.
    virtual ICSIEvent* FindEvent(uint16_t eventId, bool includePresentFollowing) const;
    virtual uint16_t GetPresentEventID() const { return presentEventId; }
    // The event with the present event_id in the first segment of the present/following
    // table, or null.
    virtual ICSIEvent* GetPresentEvent() const;

    // Forgets the sections received (stop): the events stay for the readers and the next
    // sections rebuild them. With `dropPresentFollowing` the present/following tables and the
    // present event go too.
    void MarkNotReceived(bool dropPresentFollowing);

    // --- the analyzer's side
    ICSIEITTable* AddTable(uint8_t key) { return tables.Add(new ICSIEITTable(this, key)); }
    void RemoveTable(ICSIEITTable* table) { tables.Remove(table); }
    // last_table_id of the basic or the extended schedule sections.
    void SetLastTableID(bool basic, uint8_t value) {
        (basic ? lastTableId : extLastTableId) = value;
    }
    void SetPresentEventID(uint16_t value) { presentEventId = value; }

private:
    ICSIList* owner;
    uint16_t originalNetworkId;
    uint16_t transportStreamId;
    uint16_t serviceId;
    uint8_t lastTableId = 0x5F;
    uint8_t extLastTableId = 0;
    uint16_t presentEventId = 0;
    ICSIItemList<ICSIEITTable> tables;
};
