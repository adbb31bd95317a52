#include "sianalyzer/ICSISDTT.h"

bool ICSISDTTContent::GetScheduleStartDate(int32_t index, uint16_t* year, uint8_t* month,
                                           uint8_t* day) const {
    if (index < 0 || index >= GetScheduleCount()) {
        return false;
    }
    const ICSIDateTime& start = startTimes[static_cast<size_t>(index)];
    if (year != nullptr) {
        *year = start.year;
    }
    if (month != nullptr) {
        *month = start.month;
    }
    if (day != nullptr) {
        *day = start.day;
    }
    return start.year != 0;
}

bool ICSISDTT::HasAllSections() const {
    const int32_t lastByte = lastSectionNumber >> 3;
    for (int32_t i = 0; i < lastByte; ++i) {
        if (sectionMask[i] != 0xFF) {
            return false;
        }
    }
    const uint32_t expected = (1u << ((lastSectionNumber & 7) + 1)) - 1;
    return sectionMask[lastByte] == expected;
}
