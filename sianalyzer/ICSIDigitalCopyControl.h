#pragma once

#include <cstdint>
#include <memory>

#include "core/ICListItem.h"
#include "sianalyzer/ICSIItemList.h"

class ICSISectionReader;

// One component entry of a digital copy control descriptor.
class ICSIComponentDigitalCopyControl : public ICListItem {
public:
    explicit ICSIComponentDigitalCopyControl(void* owner) : owner(owner) {}

    virtual void* GetOwner() const { return owner; }
    virtual uint8_t GetComponentTag() const { return componentTag; }
    virtual uint8_t GetFlags() const { return flags; }
    virtual uint8_t GetMaximumBitrateFlag() const { return (flags >> 5) & 1; }
    virtual uint8_t GetComponentControlFlag() const { return (flags >> 4) & 1; }
    virtual uint8_t GetCopyControlType() const { return (flags >> 2) & 3; }
    virtual uint8_t GetAPSControlData() const { return flags & 3; }
    // The broadcast value times 4 (the field counts units of 1/4 Mbit/s).
    virtual int32_t GetMaximumBitrate() const { return maximumBitrate * 4; }

    // Reads one component entry: component_tag, the flags byte and, when its flag is set,
    // maximum_bitrate.
    void Parse(ICSISectionReader& reader);

private:
    void* owner;
    uint8_t componentTag = 0;
    // digital_recording_control_data bits 7-6, maximum_bitrate_flag bit 5, copy_control_type
    // bits 3-2, APS_control_data bits 1-0 (bit 4 reserved).
    uint8_t flags = 0;
    uint8_t maximumBitrate = 0;
};

// The digital copy control descriptor (tag 0xC1) of a programme, an elementary stream, a
// service or an event.
class ICSIDigitalCopyControl : public ICListItem {
public:
    explicit ICSIDigitalCopyControl(void* owner) : owner(owner) {}

    virtual void* GetOwner() const { return owner; }
    virtual uint8_t GetFlags() const { return flags; }
    virtual uint8_t GetDigitalRecordingControlData() const { return (flags >> 6) & 3; }
    virtual uint8_t GetMaximumBitrateFlag() const { return (flags >> 5) & 1; }
    virtual uint8_t GetComponentControlFlag() const { return (flags >> 4) & 1; }
    virtual uint8_t GetCopyControlType() const { return (flags >> 2) & 3; }
    virtual uint8_t GetAPSControlData() const { return flags & 3; }
    virtual int32_t GetMaximumBitrate() const { return maximumBitrate * 4; }
    virtual int32_t GetComponentCount() const { return components.GetCount(); }
    virtual ICSIComponentDigitalCopyControl* GetComponent(int32_t index) const {
        return components.GetAt(index);
    }
    virtual ICSIComponentDigitalCopyControl* FindComponent(uint8_t componentTag) const {
        return components.FindIf([&](const ICSIComponentDigitalCopyControl& component) {
            return component.GetComponentTag() == componentTag;
        });
    }

    // Reads a descriptor's body (the reader limited to it) into a new object for `owner`: the
    // flags byte, maximum_bitrate when flagged, and the component loop when flagged.
    static std::unique_ptr<ICSIDigitalCopyControl> Parse(void* owner, ICSISectionReader& reader);

private:
    void* owner;
    uint8_t flags = 0;
    uint8_t maximumBitrate = 0;
    ICSIItemList<ICSIComponentDigitalCopyControl> components;
};
