#include "sianalyzer/ICSITOT.h"

#include <algorithm>
#include <cstring>

#include "sianalyzer/ICSISection.h"
#include "sianalyzer/SIConstants.h"

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

bool ICSITOT::ParseBody(ICSISectionReader& reader) {
    uint32_t newFlags = 0;
    char newCountryCode[4] = {};
    uint8_t newRegionPolarity = 0;
    int32_t newLocalTimeOffset = 0;
    ICSIDateTime newTimeOfChange;
    int32_t newNextTimeOffset = 0;
    const ICSIDateTime newReceiveTime = Now();
    const ICSIDateTime newTotTime = reader.ReadAribTime();
    const int32_t loopLength = reader.ReadUInt16() & 0x0FFF;
    const bool read = reader.ParseDescriptors(loopLength, [&](uint8_t tag, int32_t) {
        if (tag != si::kTagLocalTimeOffset) {
            return;
        }
        newFlags |= kFlagLocalTimeOffset;
        reader.ReadLanguageCode(newCountryCode);
        newRegionPolarity = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
        newLocalTimeOffset = sitime::MinutesFromBcd(static_cast<uint16_t>(reader.ReadUInt16()));
        newTimeOfChange = reader.ReadAribTime();
        newNextTimeOffset = sitime::MinutesFromBcd(static_cast<uint16_t>(reader.ReadUInt16()));
    });
    std::lock_guard guard(lock);
    received = true;
    flags = newFlags;
    totTime = newTotTime;
    receiveTime = newReceiveTime;
    std::memcpy(countryCode, newCountryCode, sizeof countryCode);
    regionPolarity = newRegionPolarity;
    localTimeOffset = newLocalTimeOffset;
    timeOfChange = newTimeOfChange;
    nextTimeOffset = newNextTimeOffset;
    return read;
}
