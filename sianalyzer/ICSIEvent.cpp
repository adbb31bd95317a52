#include "sianalyzer/ICSIEvent.h"

#include <cstring>

int32_t ICSIComponent::GetSamplingRate() const {
    static constexpr int32_t kRates[8] = {0, 16000, 22050, 24000, 0, 32000, 44100, 48000};
    return kRates[(flags >> 1) & 7];
}

int32_t ICSIEvent::GetStartTime(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                                uint8_t* minute, uint8_t* second) const {
    if (year) {
        *year = startTime.year;
    }
    if (month) {
        *month = startTime.month;
    }
    if (day) {
        *day = startTime.day;
    }
    if (hour) {
        *hour = startTime.hour;
    }
    if (minute) {
        *minute = startTime.minute;
    }
    if (second) {
        *second = startTime.second;
    }
    return startTime.year != 0 ? 1 : 0;
}

uint8_t ICSIEvent::GetExpireDate(uint16_t* year, uint8_t* month, uint8_t* day) const {
    if (year) {
        *year = expireDate.year;
    }
    if (month) {
        *month = expireDate.month;
    }
    if (day) {
        *day = expireDate.day;
    }
    return GetExpireDateValidFlag();
}

uint8_t ICSIEvent::GetParentalRating(int32_t index, char* countryCode) const {
    if (index < 0 || index >= GetParentalRatingCount()) {
        return 0;
    }
    const uint8_t* entry = parentalRatings.data() + 4 * index;
    if (countryCode) {
        std::memcpy(countryCode, entry, 3);
        countryCode[3] = '\0';
    }
    return entry[3];
}
