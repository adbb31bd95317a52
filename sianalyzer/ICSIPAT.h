#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "core/ICListItem.h"
#include "sianalyzer/ICSITableState.h"

class ICSIList;
class ICSISectionReader;

// The program association table of one transport stream: its programs and their PMT PIDs
// (program_number 0, the network PID, included).
class ICSIPAT : public ICListItem, public ICSITableState {
public:
    ICSIPAT(ICSIList* owner, uint16_t transportStreamId, uint8_t version)
        : ICSITableState(version), owner(owner), transportStreamId(transportStreamId) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint8_t GetVersion() const { return StoredVersion(); }
    virtual uint16_t GetTransportStreamID() const { return transportStreamId; }
    virtual int32_t GetProgramCount() const { return static_cast<int32_t>(programNumbers.size()); }
    virtual const uint16_t* GetProgramNumbers() const { return programNumbers.data(); }
    virtual uint16_t GetProgramNumber(int32_t index) const { return At(programNumbers, index); }
    virtual const uint16_t* GetPMTPIDs() const { return pmtPids.data(); }
    virtual uint16_t GetPMTPID(int32_t index) const { return At(pmtPids, index); }

    // The PMT PID of a program, or -1 when the PAT does not list it.
    int32_t FindPMTPID(uint16_t programNumber) const;
    bool ListsPMTPID(uint16_t pid) const;

    // Reads the program loop of a PAT section (program_number and PMT PID, four bytes each) up
    // to the reader's limit, the section's CRC_32; an entry cut short ends the loop.
    void ParseBody(ICSISectionReader& reader);

private:
    static uint16_t At(const std::vector<uint16_t>& values, int32_t index) {
        return index >= 0 && static_cast<size_t>(index) < values.size() ? values[index] : 0;
    }

    ICSIList* owner;
    uint16_t transportStreamId;
    std::vector<uint16_t> programNumbers;
    std::vector<uint16_t> pmtPids;
};
