#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/ICListItem.h"
#include "core/ICWString.h"
#include "sianalyzer/ICSIDigitalCopyControl.h"
#include "sianalyzer/ICSIItemList.h"
#include "sianalyzer/ICSITableState.h"

class ICSIList;
class ICSISectionReader;
class ICSISDT;

// One service of an SDT: type, names, EIT flags, linkage, logo transmission and copy control.
class ICSIService : public ICListItem {
public:
    static constexpr uint32_t kFlagService = 0x01;
    static constexpr uint32_t kFlagDigitalCopyControl = 0x02;
    static constexpr uint32_t kFlagLogoTransmission = 0x08;
    static constexpr uint32_t kFlagLinkage = 0x10;

    ICSIService(ICSISDT* owner, uint16_t serviceId, uint8_t eitFlags = 0, uint8_t status = 0)
        : owner(owner), serviceId(serviceId), eitFlags(eitFlags), status(status) {}

    virtual ICSISDT* GetOwner() const { return owner; }
    virtual uint32_t GetDescriptorFlags() const { return descriptorFlags; }
    virtual uint16_t GetServiceID() const { return serviceId; }
    virtual uint8_t GetServiceType() const { return serviceType; }
    // EIT_user_defined_flags bits 4-2, EIT_schedule_flag bit 1, EIT_present_following_flag 0.
    virtual uint8_t GetEITFlags() const { return eitFlags; }
    virtual uint8_t GetRunningStatus() const { return (status >> 1) & 7; }
    virtual uint8_t IsFreeCA() const { return (status & 1) == 0 ? 1 : 0; }
    virtual const char16_t* GetProviderName() const { return providerName.GetText(); }
    virtual const char16_t* GetServiceName() const { return serviceName.GetText(); }
    virtual ICSIDigitalCopyControl* GetDigitalCopyControl() const {
        return digitalCopyControl.get();
    }
    virtual uint16_t GetLinkageTransportStreamID() const { return linkageTransportStreamId; }
    virtual uint16_t GetLinkageOriginalNetworkID() const { return linkageOriginalNetworkId; }
    virtual uint16_t GetLinkageServiceID() const { return linkageServiceId; }
    virtual uint8_t GetLinkageType() const { return linkageType; }
    virtual int32_t GetLinkagePrivateDataLength() const {
        return static_cast<int32_t>(linkagePrivateData.size());
    }
    virtual const uint8_t* GetLinkagePrivateData() const { return linkagePrivateData.data(); }
    virtual uint8_t GetLogoTransmissionType() const { return logoTransmissionType; }
    virtual uint16_t GetLogoID() const { return logoId; }
    virtual uint16_t GetLogoVersion() const { return logoVersion; }
    virtual uint16_t GetDownloadDataID() const { return downloadDataId; }
    virtual const char16_t* GetLogoChar() const { return logoChar.GetText(); }

    // Reads the service's descriptor loop of `length` bytes; false when it is cut short.
    bool ParseDescriptors(ICSISectionReader& reader, int32_t length);

private:
    void ParseDescriptor(ICSISectionReader& reader, uint8_t tag, int32_t length);

    ICSISDT* owner;
    uint32_t descriptorFlags = 0;
    uint16_t serviceId;
    uint8_t serviceType = 0;
    uint8_t eitFlags = 0;
    uint8_t status = 0;  // running_status bits 3-1, free_CA_mode bit 0
    ICWString providerName;
    ICWString serviceName;
    std::unique_ptr<ICSIDigitalCopyControl> digitalCopyControl;
    uint16_t linkageTransportStreamId = 0;
    uint16_t linkageOriginalNetworkId = 0;
    uint16_t linkageServiceId = 0;
    uint8_t linkageType = 0;
    std::vector<uint8_t> linkagePrivateData;
    uint8_t logoTransmissionType = 0;
    uint16_t logoId = 0;
    uint16_t logoVersion = 0;
    uint16_t downloadDataId = 0;
    ICWString logoChar;
};

// The service description table of one transport stream (actual or other).
class ICSISDT : public ICListItem, public ICSITableState {
public:
    ICSISDT(ICSIList* owner, uint16_t originalNetworkId, uint16_t transportStreamId)
        : owner(owner),
          transportStreamId(transportStreamId),
          originalNetworkId(originalNetworkId) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint8_t GetVersion() const { return StoredVersion(); }
    virtual uint16_t GetTransportStreamID() const { return transportStreamId; }
    virtual uint16_t GetOriginalNetworkID() const { return originalNetworkId; }
    virtual int32_t GetServiceCount() const { return services.GetCount(); }
    virtual ICSIService* GetService(int32_t index) const { return services.GetAt(index); }
    virtual ICSIService* FindService(uint16_t serviceId) const {
        return services.FindIf(
            [&](const ICSIService& service) { return service.GetServiceID() == serviceId; });
    }

    // The table the last section came in: 0x42 (actual) or 0x46 (other).
    uint8_t GetTableID() const { return tableId; }

    // --- the analyzer's side
    void SetTableID(uint8_t value) { tableId = value; }
    // Reads the service loop of a section (after original_network_id), up to the reader's
    // limit; a service already held is replaced. False when it is cut short.
    bool ParseBody(ICSISectionReader& reader);

private:
    ICSIList* owner;
    uint8_t tableId = 0;
    uint16_t transportStreamId;
    uint16_t originalNetworkId;
    ICSIItemList<ICSIService> services;
};
