#pragma once

#include <cstdint>

#include "core/ICListItem.h"

class ICSIAnalyzerCore;
class ICSIList;

// The software download trigger table of one maker and model (key = table_id_extension:
// maker_id in the high byte, model_id in the low byte). The store keeps a list of them; the
// table's contents are filled by its own handler.
class ICSISDTT : public ICListItem {
public:
    ICSISDTT(ICSIList* owner, uint16_t key) : owner(owner), key(key) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint8_t GetVersion() const { return version; }
    virtual uint16_t GetKey() const { return key; }
    virtual uint8_t GetMakerID() const { return static_cast<uint8_t>(key >> 8); }
    virtual uint8_t GetModelID() const { return static_cast<uint8_t>(key); }
    virtual uint16_t GetOriginalNetworkID() const { return originalNetworkId; }
    virtual uint16_t GetTransportStreamID() const { return transportStreamId; }
    virtual uint16_t GetServiceID() const { return serviceId; }

protected:
    friend class ICSIAnalyzerCore;
    ICSIList* owner;
    uint8_t version = 0xFF;
    uint16_t key;
    uint16_t originalNetworkId = 0;
    uint16_t transportStreamId = 0;
    uint16_t serviceId = 0;
};
