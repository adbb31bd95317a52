#pragma once

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
