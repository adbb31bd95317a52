#include "sianalyzer/ICSIPMT.h"

int32_t ICSIEmergencyInfo::FindAreaCode(uint16_t code) const {
    for (size_t i = 0; i < areaCodes.size(); ++i) {
        if (areaCodes[i] == code) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}
