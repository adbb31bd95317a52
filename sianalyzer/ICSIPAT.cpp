#include "sianalyzer/ICSIPAT.h"

#include "sianalyzer/ICSISection.h"
#include "sianalyzer/SIConstants.h"

void ICSIPAT::ParseBody(ICSISectionReader& reader) {
    const int32_t count = reader.GetRemaining() / 4;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t programNumber = reader.ReadUInt16();
        const int32_t pid = reader.ReadUInt16();
        if (pid < 0) {
            break;
        }
        programNumbers.push_back(static_cast<uint16_t>(programNumber));
        pmtPids.push_back(static_cast<uint16_t>(pid & si::kPidMask));
    }
}

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
