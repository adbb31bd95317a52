#include "sianalyzer/ICSIPAT.h"

int32_t ICSIPAT::FindPMTPID(uint16_t programNumber) const {
    for (size_t i = 0; i < programNumbers.size(); ++i) {
        if (programNumbers[i] == programNumber) {
            return pmtPids[i];
        }
    }
    return -1;
}

bool ICSIPAT::ListsPMTPID(uint16_t pid) const {
    for (size_t i = 0; i < pmtPids.size(); ++i) {
        if (pmtPids[i] == pid && programNumbers[i] != 0) {
            return true;
        }
    }
    return false;
}
