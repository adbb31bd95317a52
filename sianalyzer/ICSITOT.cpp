#include "sianalyzer/ICSITOT.h"

int32_t ICSITOT::Put(const ICSIDateTime& time, int32_t result, uint16_t* year, uint8_t* month,
                     uint8_t* day, uint8_t* hour, uint8_t* minute, uint8_t* second) {
    if (year) {
        *year = time.year;
    }
    if (month) {
        *month = time.month;
    }
    if (day) {
        *day = time.day;
    }
    if (hour) {
        *hour = time.hour;
    }
    if (minute) {
        *minute = time.minute;
    }
    if (second) {
        *second = time.second;
    }
    return result;
}

ICSIDateTime ICSITOT::Now() const {
    return clock != nullptr ? clock() : sitime::LocalNow();
}

void ICSITOT::SetLocalClock(LocalClock newClock) {
    std::lock_guard guard(lock);
    clock = newClock;
}

uint32_t ICSITOT::GetFlags() const {
    std::lock_guard guard(lock);
    return flags;
}

int32_t ICSITOT::GetTOTTime(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                            uint8_t* minute, uint8_t* second) const {
    std::lock_guard guard(lock);
    return Put(totTime, received ? 1 : 0, year, month, day, hour, minute, second);
}

int32_t ICSITOT::GetReceiveTime(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                                uint8_t* minute, uint8_t* second) const {
    std::lock_guard guard(lock);
    return Put(receiveTime, receiveTime.year != 0 ? 1 : 0, year, month, day, hour, minute, second);
}

int64_t ICSITOT::EstimateLocked() const {
    return sitime::ToValue(totTime) + sitime::ToValue(Now()) - sitime::ToValue(receiveTime);
}

int32_t ICSITOT::GetCurrentTime(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                                uint8_t* minute, uint8_t* second) const {
    std::lock_guard guard(lock);
    if (!received) {
        return Put(Now(), 0, year, month, day, hour, minute, second);
    }
    return Put(sitime::FromValue(EstimateLocked()), 1, year, month, day, hour, minute, second);
}

uint8_t ICSITOT::GetCountryRegionID() const {
    std::lock_guard guard(lock);
    return regionPolarity >> 2;
}

uint8_t ICSITOT::GetOffsetPolarity() const {
    std::lock_guard guard(lock);
    return regionPolarity & 1;
}

int32_t ICSITOT::GetLocalTimeOffset() const {
    std::lock_guard guard(lock);
    return localTimeOffset;
}

int32_t ICSITOT::GetTimeOfChange(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                                 uint8_t* minute, uint8_t* second) const {
    std::lock_guard guard(lock);
    return Put(timeOfChange, timeOfChange.year != 0 ? 1 : 0, year, month, day, hour, minute,
               second);
}

int32_t ICSITOT::GetNextTimeOffset() const {
    std::lock_guard guard(lock);
    return nextTimeOffset;
}

int64_t ICSITOT::GetCurrentTimeValue() const {
    std::lock_guard guard(lock);
    return received ? EstimateLocked() : sitime::ToValue(Now());
}
