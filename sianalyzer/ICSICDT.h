#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/ICListItem.h"
#include "sianalyzer/ICSITableState.h"

class ICSISectionReader;
class ICSIList;

// A station logo as broadcast in a CDT (terrestrial) or a logo module of the data carousel
// (BS/CS). Carousel logos also name the services that show them.
class ICSILogo : public ICListItem {
public:
    explicit ICSILogo(void* owner) : owner(owner) {}

    virtual void* GetOwner() const { return owner; }
    virtual uint16_t GetLogoVersion() const { return logoVersion; }
    // 9 bits; -1 until set.
    virtual int32_t GetLogoID() const { return logoId; }
    virtual uint8_t GetLogoType() const { return logoType; }
    virtual int32_t GetServiceCount() const { return static_cast<int32_t>(serviceIds.size()); }
    virtual uint16_t GetServiceOriginalNetworkID(int32_t index) const {
        return At(originalNetworkIds, index);
    }
    virtual const uint16_t* GetServiceOriginalNetworkIDs() const {
        return originalNetworkIds.data();
    }
    virtual uint16_t GetServiceTransportStreamID(int32_t index) const {
        return At(transportStreamIds, index);
    }
    virtual const uint16_t* GetServiceTransportStreamIDs() const {
        return transportStreamIds.data();
    }
    virtual uint16_t GetServiceServiceID(int32_t index) const { return At(serviceIds, index); }
    virtual const uint16_t* GetServiceServiceIDs() const { return serviceIds.data(); }
    // The data_size field as broadcast; GetData holds at most that many bytes (fewer when the
    // section ended first: see GetDataLength).
    virtual uint16_t GetDataSize() const { return dataSize; }
    virtual const uint8_t* GetData() const { return data.data(); }

    int32_t GetDataLength() const { return static_cast<int32_t>(data.size()); }

    // --- building a logo, from a CDT or from a logo module alike
    // logo_type, the logo_id field (9 bits kept; a negative field leaves -1) and the version.
    void SetIdentity(uint8_t type, int32_t logoIdField, uint16_t version);
    // A service that shows the logo.
    void AddService(uint16_t originalNetworkId, uint16_t transportStreamId, uint16_t serviceId);
    // data_size as broadcast and the image: at most data_size of the `available` bytes at
    // `bytes` are kept. Returns how many.
    int32_t SetData(uint16_t size, const uint8_t* bytes, int32_t available);

private:
    static uint16_t At(const std::vector<uint16_t>& values, int32_t index) {
        return index >= 0 && static_cast<size_t>(index) < values.size() ? values[index] : 0;
    }

    void* owner;
    uint16_t logoVersion = 0;
    int32_t logoId = -1;
    uint8_t logoType = 0;
    std::vector<uint16_t> originalNetworkIds;
    std::vector<uint16_t> transportStreamIds;
    std::vector<uint16_t> serviceIds;
    uint16_t dataSize = 0;
    std::vector<uint8_t> data;
};

// The common data table of one (original_network_id, download_data_id): a logo (data_type 1)
// or another data module.
class ICSICDT : public ICListItem, public ICSITableState {
public:
    ICSICDT(ICSIList* owner, uint16_t originalNetworkId, uint16_t downloadDataId)
        : owner(owner), downloadDataId(downloadDataId), originalNetworkId(originalNetworkId) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint8_t GetVersion() const { return StoredVersion(); }
    virtual uint16_t GetDownloadDataID() const { return downloadDataId; }
    virtual uint16_t GetOriginalNetworkID() const { return originalNetworkId; }
    virtual uint8_t GetDataType() const { return dataType; }
    virtual int32_t GetDataLength() const { return static_cast<int32_t>(data.size()); }
    virtual const uint8_t* GetData() const { return data.data(); }
    virtual ICSILogo* GetLogo() const { return logo.get(); }

    // Reads a section's body after data_type: the descriptor loop (skipped), then a logo
    // (data_type 1) or the raw module bytes up to the reader's limit.
    void ParseBody(ICSISectionReader& reader, uint8_t type);

private:
    ICSIList* owner;
    uint16_t downloadDataId;
    uint16_t originalNetworkId;
    uint8_t dataType = 0;
    std::vector<uint8_t> data;
    std::unique_ptr<ICSILogo> logo;
};
