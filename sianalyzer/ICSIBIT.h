#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/ICListItem.h"
#include "core/ICWString.h"
#include "sianalyzer/ICSIItemList.h"
#include "sianalyzer/ICSITableState.h"
#include "sianalyzer/ICSITime.h"

class ICSISectionReader;
class ICSIList;

// The SI parameters of one SI_parameter_descriptor (or the SI prime TS descriptor): the
// parameter version, the update date and the table entries (table_id, length, description).
class ICSISIParameter : public ICListItem {
public:
    explicit ICSISIParameter(void* owner) : owner(owner) {}

    virtual void* GetOwner() const { return owner; }
    virtual uint8_t GetParameterVersion() const { return parameterVersion; }
    // Each output may be null; returns the MJD.
    virtual uint16_t GetUpdateTime(uint16_t* year, uint8_t* month, uint8_t* day) const;
    virtual int32_t GetTableCount() const { return static_cast<int32_t>(tableOffsets.size()); }
    virtual int32_t GetDataLength() const { return static_cast<int32_t>(data.size()); }
    virtual const uint8_t* GetData() const { return data.data(); }
    // Copies entry i (table_id, length byte, description) and returns its size; 0 when there
    // is no entry i.
    virtual int32_t CopyTable(int32_t index, uint8_t* destination) const;
    virtual const uint8_t* GetTable(int32_t index) const;

    uint16_t GetPrimeNetworkID() const { return primeNetworkId; }
    uint16_t GetPrimeTransportStreamID() const { return primeTransportStreamId; }

    // Reads an SI parameter descriptor's body of `length` bytes, or with `prime` that of an
    // SI prime TS descriptor (which names the prime network and TS before the table entries).
    void Parse(ICSISectionReader& reader, int32_t length, bool prime);

private:
    // Counts the table entries of the data; an entry cut short by the end is not counted.
    void IndexTables();

    void* owner;
    uint8_t parameterVersion = 0;
    uint16_t updateTime = 0;
    uint16_t primeNetworkId = 0;
    uint16_t primeTransportStreamId = 0;
    std::vector<uint8_t> data;
    std::vector<uint32_t> tableOffsets;
};

class ICSIBIT;

// One broadcaster of a BIT.
class ICSIBroadcaster : public ICListItem {
public:
    explicit ICSIBroadcaster(ICSIBIT* owner, uint8_t broadcasterId)
        : owner(owner), broadcasterId(broadcasterId) {}

    virtual ICSIBIT* GetOwner() const { return owner; }
    virtual uint8_t HasDescriptors() const { return hasDescriptors; }
    virtual uint8_t GetBroadcasterID() const { return broadcasterId; }
    virtual uint8_t GetBroadcasterType() const { return broadcasterType; }
    virtual uint16_t GetTerrestrialBroadcasterID() const { return terrestrialBroadcasterId; }
    virtual int32_t GetAffiliationCount() const {
        return static_cast<int32_t>(affiliationIds.size());
    }
    virtual const uint8_t* GetAffiliationIDs() const { return affiliationIds.data(); }
    virtual uint8_t GetAffiliationID(int32_t index) const {
        return index >= 0 && index < GetAffiliationCount() ? affiliationIds[index] : 0;
    }
    virtual int32_t GetBroadcasterRefCount() const {
        return static_cast<int32_t>(refOriginalNetworkIds.size());
    }
    virtual const uint16_t* GetRefOriginalNetworkIDs() const {
        return refOriginalNetworkIds.data();
    }
    virtual uint16_t GetRefOriginalNetworkID(int32_t index) const {
        return index >= 0 && index < GetBroadcasterRefCount() ? refOriginalNetworkIds[index] : 0;
    }
    virtual const uint8_t* GetRefBroadcasterIDs() const { return refBroadcasterIds.data(); }
    virtual uint8_t GetRefBroadcasterID(int32_t index) const {
        return index >= 0 && index < GetBroadcasterRefCount() ? refBroadcasterIds[index] : 0;
    }
    virtual const char16_t* GetBroadcasterName() const { return broadcasterName.GetText(); }
    virtual int32_t GetServiceCount() const { return static_cast<int32_t>(serviceIds.size()); }
    virtual const uint16_t* GetServiceIDs() const { return serviceIds.data(); }
    virtual uint16_t GetServiceID(int32_t index) const {
        return index >= 0 && index < GetServiceCount() ? serviceIds[index] : 0;
    }
    virtual const uint8_t* GetServiceTypes() const { return serviceTypes.data(); }
    virtual uint8_t GetServiceType(int32_t index) const {
        return index >= 0 && index < GetServiceCount() ? serviceTypes[index] : 0;
    }
    virtual int32_t GetSIParameterCount() const { return siParameters.GetCount(); }
    virtual ICSISIParameter* GetSIParameter(int32_t index) const {
        return siParameters.GetAt(index);
    }

    // Reads the broadcaster's descriptor loop of `length` bytes; `seenDescriptor` tells
    // whether the section has had a descriptor so far, which HasDescriptors then reports.
    // False when the loop is cut short.
    bool ParseDescriptors(ICSISectionReader& reader, int32_t length, bool& seenDescriptor);

private:
    void ParseDescriptor(ICSISectionReader& reader, uint8_t tag, int32_t length);

    ICSIBIT* owner;
    uint8_t hasDescriptors = 0;
    uint8_t broadcasterId;
    uint8_t broadcasterType = 1;
    uint16_t terrestrialBroadcasterId = 0;
    std::vector<uint8_t> affiliationIds;
    std::vector<uint16_t> refOriginalNetworkIds;
    std::vector<uint8_t> refBroadcasterIds;
    ICWString broadcasterName;
    std::vector<uint16_t> serviceIds;
    std::vector<uint8_t> serviceTypes;
    ICSIItemList<ICSISIParameter> siParameters;
};

// The broadcaster information table of one original network.
class ICSIBIT : public ICListItem, public ICSITableState {
public:
    static constexpr uint32_t kFlagSIParameter = 0x01;
    static constexpr uint32_t kFlagSIPrimeTS = 0x02;

    ICSIBIT(ICSIList* owner, uint16_t originalNetworkId)
        : owner(owner), originalNetworkId(originalNetworkId) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint8_t GetVersion() const { return StoredVersion(); }
    virtual uint32_t GetDescriptorFlags() const { return descriptorFlags; }
    virtual uint16_t GetOriginalNetworkID() const { return originalNetworkId; }
    virtual uint8_t GetBroadcastViewPropriety() const { return broadcastViewPropriety; }
    virtual ICSISIParameter* GetSIPrimeTS() const { return siPrimeTS.get(); }
    virtual int32_t GetSIParameterCount() const { return siParameters.GetCount(); }
    virtual ICSISIParameter* GetSIParameter(int32_t index) const {
        return siParameters.GetAt(index);
    }
    virtual int32_t GetBroadcasterCount() const { return broadcasters.GetCount(); }
    virtual ICSIBroadcaster* GetBroadcaster(int32_t index) const {
        return broadcasters.GetAt(index);
    }
    virtual ICSIBroadcaster* FindBroadcaster(uint8_t broadcasterId) const {
        return broadcasters.FindIf(
            [&](const ICSIBroadcaster& b) { return b.GetBroadcasterID() == broadcasterId; });
    }
    virtual ICSIBroadcaster* FindBroadcasterByTerrestrialID(uint16_t id) const {
        return broadcasters.FindIf(
            [&](const ICSIBroadcaster& b) { return b.GetTerrestrialBroadcasterID() == id; });
    }

    // Reads a section's body after its header: broadcast_view_propriety, the first descriptor
    // loop and the broadcaster loop (a broadcaster already held is replaced). False when it
    // is cut short.
    bool ParseBody(ICSISectionReader& reader);

private:
    ICSIList* owner;
    uint32_t descriptorFlags = 0;
    uint16_t originalNetworkId;
    uint8_t broadcastViewPropriety = 0;
    std::unique_ptr<ICSISIParameter> siPrimeTS;
    ICSIItemList<ICSISIParameter> siParameters;
    ICSIItemList<ICSIBroadcaster> broadcasters;
};
