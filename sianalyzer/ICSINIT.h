#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "core/ICListItem.h"
#include "core/ICWString.h"
#include "sianalyzer/ICSIItemList.h"
#include "sianalyzer/ICSITableState.h"

class ICSIList;
class ICSISectionReader;
class ICSINIT;
class ICSITS;

// One transmission type of a TS information descriptor and the services it carries.
class ICSILayer : public ICListItem {
public:
    explicit ICSILayer(ICSITS* owner, uint8_t transmissionTypeInfo = 0)
        : owner(owner), transmissionTypeInfo(transmissionTypeInfo) {}

    virtual ICSITS* GetOwner() const { return owner; }
    virtual uint8_t GetTransmissionTypeInfo() const { return transmissionTypeInfo; }
    virtual int32_t GetServiceCount() const { return static_cast<int32_t>(serviceIds.size()); }
    virtual const uint16_t* GetServiceIDs() const { return serviceIds.data(); }
    virtual uint16_t GetServiceID(int32_t index) const {
        return index >= 0 && index < GetServiceCount() ? serviceIds[index] : 0;
    }

    // Reads `count` service_ids; one cut short ends the list.
    void ParseServiceIDs(ICSISectionReader& reader, int32_t count);

private:
    ICSITS* owner;
    uint8_t transmissionTypeInfo = 0;
    std::vector<uint16_t> serviceIds;
};

// One transport stream entry of an NIT: its services, delivery parameters and TS information.
class ICSITS : public ICListItem {
public:
    static constexpr uint32_t kFlagServiceList = 0x01;
    static constexpr uint32_t kFlagTerrestrialDelivery = 0x02;
    static constexpr uint32_t kFlagTSInformation = 0x04;
    static constexpr uint32_t kFlagPartialReception = 0x08;
    static constexpr uint32_t kFlagSatelliteDelivery = 0x10;

    ICSITS(ICSINIT* owner, uint16_t transportStreamId, uint16_t originalNetworkId)
        : owner(owner),
          transportStreamId(transportStreamId),
          originalNetworkId(originalNetworkId) {}

    virtual ICSINIT* GetOwner() const { return owner; }
    virtual uint32_t GetDescriptorFlags() const { return descriptorFlags; }
    virtual uint16_t GetTransportStreamID() const { return transportStreamId; }
    virtual uint16_t GetOriginalNetworkID() const { return originalNetworkId; }
    virtual uint8_t GetRemoteControlKeyID() const { return remoteControlKeyId; }
    virtual const char16_t* GetTSName() const { return tsName.GetText(); }
    virtual int32_t GetServiceCount() const { return static_cast<int32_t>(serviceIds.size()); }
    virtual const uint16_t* GetServiceIDs() const { return serviceIds.data(); }
    virtual uint16_t GetServiceID(int32_t index) const {
        return index >= 0 && index < GetServiceCount() ? serviceIds[index] : 0;
    }
    virtual const uint8_t* GetServiceTypes() const { return serviceTypes.data(); }
    virtual uint8_t GetServiceType(int32_t index) const {
        return index >= 0 && index < GetServiceCount() ? serviceTypes[index] : 0;
    }
    // area_code bits 15-4, guard_interval bits 3-2, transmission_mode bits 1-0.
    virtual uint16_t GetTerrestrialInfo() const { return terrestrialInfo; }
    virtual int32_t GetFrequencyCount() const { return static_cast<int32_t>(frequencies.size()); }
    virtual const uint32_t* GetFrequencies() const { return frequencies.data(); }
    virtual uint32_t GetFrequency(int32_t index) const {
        return index >= 0 && index < GetFrequencyCount() ? frequencies[index] : 0;
    }
    virtual int32_t GetPartialReceptionCount() const {
        return static_cast<int32_t>(partialReception.size());
    }
    virtual const uint16_t* GetPartialReceptionServiceIDs() const {
        return partialReception.data();
    }
    virtual uint16_t GetPartialReceptionServiceID(int32_t index) const {
        return index >= 0 && index < GetPartialReceptionCount() ? partialReception[index] : 0;
    }
    virtual int32_t GetLayerCount() const { return layers.GetCount(); }
    virtual ICSILayer* GetLayer(int32_t index) const { return layers.GetAt(index); }
    // BCD as received.
    virtual uint16_t GetOrbitalPosition() const { return orbitalPosition; }
    virtual uint8_t GetWestEastFlag() const { return (satelliteFlags >> 7) & 1; }
    virtual uint8_t GetPolarisation() const { return (satelliteFlags >> 5) & 3; }
    virtual uint8_t GetModulation() const { return satelliteFlags & 0x1F; }
    // BCD as received.
    virtual uint32_t GetSymbolRate() const { return symbolRateWord >> 4; }
    virtual uint8_t GetFECInner() const { return symbolRateWord & 0x0F; }
    // -2: not in this TS's service list; -1: the store has no PAT for this TS; 0: the PAT does
    // not list it, or it is a data service (type 0xC0) whose PMT has not arrived; 1: available.
    virtual int32_t IsServiceAvailable(uint16_t serviceId) const;

    // Reads the transport stream's descriptor loop of `length` bytes; false when it is cut
    // short.
    bool ParseDescriptors(ICSISectionReader& reader, int32_t length);

private:
    void ParseDescriptor(ICSISectionReader& reader, uint8_t tag, int32_t length);

    ICSINIT* owner;
    uint32_t descriptorFlags = 0;
    uint16_t transportStreamId;
    uint16_t originalNetworkId;
    uint8_t remoteControlKeyId = 0;
    ICWString tsName;
    std::vector<uint16_t> serviceIds;
    std::vector<uint8_t> serviceTypes;
    uint16_t terrestrialInfo = 0;
    std::vector<uint32_t> frequencies;
    std::vector<uint16_t> partialReception;
    ICSIItemList<ICSILayer> layers;
    uint16_t orbitalPosition = 0;
    uint8_t satelliteFlags = 0;   // west_east_flag bit 7, polarisation bits 6-5, modulation 4-0
    uint32_t symbolRateWord = 0;  // symbol_rate top 28 bits, FEC_inner low 4 bits
};

// The network information table of one network (actual network only).
class ICSINIT : public ICListItem, public ICSITableState {
public:
    static constexpr uint32_t kFlagNetworkName = 0x01;
    static constexpr uint32_t kFlagSystemManagement = 0x02;

    ICSINIT(ICSIList* owner, uint16_t networkId) : owner(owner), networkId(networkId) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint8_t GetVersion() const { return StoredVersion(); }
    virtual uint32_t GetDescriptorFlags() const { return descriptorFlags; }
    virtual uint16_t GetNetworkID() const { return networkId; }
    virtual const char16_t* GetNetworkName() const { return networkName.GetText(); }
    virtual uint16_t GetSystemManagementID() const { return systemManagementId; }
    virtual int32_t GetAdditionalInfoLength() const {
        return static_cast<int32_t>(additionalInfo.size());
    }
    virtual const uint8_t* GetAdditionalInfo() const { return additionalInfo.data(); }
    virtual int32_t GetTSCount() const { return transportStreams.GetCount(); }
    virtual ICSITS* GetTS(int32_t index) const { return transportStreams.GetAt(index); }
    virtual ICSITS* FindTS(uint16_t transportStreamId) const {
        return transportStreams.FindIf(
            [&](const ICSITS& ts) { return ts.GetTransportStreamID() == transportStreamId; });
    }

    // Reads a section's body after its header: the network descriptors and the transport
    // stream loop (an entry already held is replaced). False when a loop is cut short.
    bool ParseBody(ICSISectionReader& reader);

private:
    ICSIList* owner;
    uint32_t descriptorFlags = 0;
    uint16_t networkId;
    ICWString networkName;
    uint16_t systemManagementId = 0;
    std::vector<uint8_t> additionalInfo;
    ICSIItemList<ICSITS> transportStreams;
};
