#pragma once

#include <atomic>
#include <cstdint>

// The received-section masks of the tables whose sections fit 32 bits (PAT, PMT, NIT, SDT, BIT,
// CDT): section n is bit n.

// The mask bit of a section; 0 for a section number the mask cannot hold.
inline uint32_t SectionBit(uint8_t sectionNumber) {
    return sectionNumber < 32 ? 1u << sectionNumber : 0;
}

// True when every section from 0 to lastSectionNumber is in the mask. A table with a larger
// last_section_number can never be complete in a 32-bit mask.
inline bool AllSectionsIn(uint32_t mask, uint8_t lastSectionNumber) {
    if (lastSectionNumber >= 32) {
        return false;
    }
    return static_cast<uint64_t>(mask) + 1 == (uint64_t{1} << (lastSectionNumber + 1));
}

// What a table object of the store knows about the sections it was built from: the
// version_number it holds, the sections of that version received so far, the
// last_section_number, and whether it is complete.
//
// Only the worker thread (the table's handler, and the reset) changes it; readers test
// IsComplete, which is atomic, while the handler may be adding sections.
class ICSITableState {
public:
    bool IsComplete() const { return complete.load(std::memory_order_relaxed) != 0; }
    uint8_t GetLastSectionNumber() const { return lastSectionNumber; }

    // --- the handler's side
    // The version_number the object holds (0xFF before its first section).
    uint8_t StoredVersion() const { return version; }
    // True when section `sectionNumber` of version `versionNumber` is already held.
    bool HasSection(uint8_t versionNumber, uint8_t sectionNumber) const {
        return version == versionNumber && (sectionMask & SectionBit(sectionNumber)) != 0;
    }
    // Records a section; the object holds that version from now on.
    void RecordSection(uint8_t versionNumber, uint8_t sectionNumber, uint8_t lastNumber) {
        version = versionNumber;
        lastSectionNumber = lastNumber;
        sectionMask |= SectionBit(sectionNumber);
    }
    bool HasAllSections() const { return AllSectionsIn(sectionMask, lastSectionNumber); }
    void MarkComplete() { complete.store(1); }
    // Marks the object complete when every section is in; true when it has just become so.
    bool CompleteWhenAllIn() {
        if (IsComplete() || !HasAllSections()) {
            return false;
        }
        MarkComplete();
        return true;
    }
    // Forgets the sections received (stop): the next sections rebuild the object, whose
    // contents stay for the readers meanwhile.
    void MarkIncomplete() {
        complete.store(0);
        sectionMask = 0;
    }

protected:
    explicit ICSITableState(uint8_t versionNumber = 0xFF) : version(versionNumber) {}
    ~ICSITableState() = default;

private:
    std::atomic<uint8_t> complete{0};
    uint8_t version;
    uint8_t lastSectionNumber = 0;
    uint32_t sectionMask = 0;
};
