#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/ICListItem.h"
#include "sianalyzer/ICSIDigitalCopyControl.h"
#include "sianalyzer/ICSIItemList.h"
#include "sianalyzer/ICSITableState.h"

class ICSIList;
class ICSISectionReader;
class ICSIPMT;
class ICSIES;

// One service entry of an emergency information descriptor (tag 0xFC).
class ICSIEmergencyInfo : public ICListItem {
public:
    explicit ICSIEmergencyInfo(ICSIPMT* owner) : owner(owner) {}

    virtual ICSIPMT* GetOwner() const { return owner; }
    virtual uint16_t GetServiceID() const { return serviceId; }
    virtual uint8_t GetFlags() const { return flags; }
    virtual uint8_t GetStartEndFlag() const { return (flags >> 7) & 1; }
    virtual uint8_t GetSignalLevel() const { return (flags >> 6) & 1; }
    virtual int32_t GetAreaCount() const { return static_cast<int32_t>(areaCodes.size()); }
    virtual const uint16_t* GetAreaCodes() const { return areaCodes.data(); }
    virtual uint16_t GetAreaCode(int32_t index) const {
        return index >= 0 && index < GetAreaCount() ? areaCodes[index] : 0;
    }
    // The index of the area code, or -1.
    virtual int32_t FindAreaCode(uint16_t code) const;

    // Reads one service entry: service_id, the flags byte and the area code list.
    void Parse(ICSISectionReader& reader);

private:
    ICSIPMT* owner;
    uint16_t serviceId = 0;
    uint8_t flags = 0;                // start_end_flag bit 7, signal_level bit 6
    std::vector<uint16_t> areaCodes;  // 12-bit area codes
};

// The data component descriptor (tag 0xFD) of an elementary stream: the additional data
// component information as broadcast, read through bit-field getters. Getters 4-15 follow the
// layout of the BML information, 16-20 that of the carousel information which follows it at
// GetCarouselOffset, 21 and 22 that of the caption information.
class ICSIDataComponent : public ICListItem {
public:
    explicit ICSIDataComponent(ICSIES* owner) : owner(owner) {}

    virtual ICSIES* GetOwner() const { return owner; }
    virtual int32_t GetInfoLength() const { return infoLength; }
    virtual const uint8_t* GetInfo() const { return info.data(); }
    virtual uint8_t GetTransmissionFormat() const { return (Byte(0) >> 6) & 3; }
    virtual uint8_t GetEntryPointFlag() const { return (Byte(0) >> 5) & 1; }
    virtual uint8_t GetAutoStartFlag() const { return (Byte(0) >> 4) & 1; }
    virtual uint8_t GetDocumentResolution() const { return Byte(0) & 0x0F; }
    virtual uint8_t GetUseXML() const { return (Byte(1) >> 7) & 1; }
    virtual uint8_t GetDefaultVersionFlag() const { return (Byte(1) >> 6) & 1; }
    virtual uint8_t GetIndependentFlag() const { return (Byte(1) >> 5) & 1; }
    virtual uint8_t GetStyleForTVFlag() const { return (Byte(1) >> 4) & 1; }
    virtual uint16_t GetBMLMajorVersion() const { return Word(2); }
    virtual uint16_t GetBMLMinorVersion() const { return Word(4); }
    virtual uint16_t GetBXMLMajorVersion() const { return Word(6); }
    virtual uint16_t GetBXMLMinorVersion() const { return Word(8); }
    virtual uint8_t GetDataEventID() const { return (Byte(carouselOffset) >> 4) & 0x0F; }
    virtual uint8_t GetEventSectionFlag() const { return (Byte(carouselOffset) >> 3) & 1; }
    virtual uint8_t GetOnDemandRetrievalFlag() const { return (Byte(carouselOffset + 1) >> 7) & 1; }
    virtual uint8_t GetFileStorableFlag() const { return (Byte(carouselOffset + 1) >> 6) & 1; }
    virtual uint8_t GetStartPriority() const { return (Byte(carouselOffset + 1) >> 5) & 1; }
    virtual uint8_t GetDMF() const { return (Byte(0) >> 4) & 0x0F; }
    virtual uint8_t GetTiming() const { return Byte(0) & 3; }

    int32_t GetCarouselOffset() const { return carouselOffset; }

    // Reads the descriptor's body of `length` bytes (the reader limited to it):
    // data_component_id and the additional information, whose carousel part is located for
    // the carousel data components.
    void Parse(ICSISectionReader& reader, int32_t length);

private:
    uint8_t Byte(int32_t index) const {
        return index >= 0 && static_cast<size_t>(index) < info.size() ? info[index] : 0;
    }
    uint16_t Word(int32_t index) const {
        return static_cast<uint16_t>(Byte(index) << 8 | Byte(index + 1));
    }

    ICSIES* owner;
    int32_t infoLength = 0;
    std::vector<uint8_t> info = std::vector<uint8_t>(16, 0);  // zero-filled, at least 16 bytes
    int32_t carouselOffset = 10;
};

// One elementary stream of a PMT with the descriptors the application uses, as plain fields.
class ICSIES : public ICListItem {
public:
    static constexpr uint32_t kFlagDigitalCopyControl = 0x04;
    static constexpr uint32_t kFlagStreamIdentifier = 0x08;
    static constexpr uint32_t kFlagVideoDecodeControl = 0x10;
    static constexpr uint32_t kFlagDataComponent = 0x20;
    static constexpr uint32_t kFlagHierarchicalTransmission = 0x40;
    static constexpr uint32_t kFlagTargetRegion = 0x80;

    explicit ICSIES(ICSIPMT* owner, uint8_t streamType = 0, uint16_t pid = 0)
        : owner(owner), pid(pid), streamType(streamType) {}

    virtual ICSIPMT* GetOwner() const { return owner; }
    virtual uint32_t GetDescriptorFlags() const { return descriptorFlags; }
    virtual uint16_t GetPID() const { return pid; }
    virtual uint8_t GetStreamType() const { return streamType; }
    virtual uint8_t GetComponentTag() const { return componentTag; }
    virtual uint8_t GetVideoDecodeControl() const { return videoDecodeControl; }
    virtual ICSIDigitalCopyControl* GetDigitalCopyControl() const {
        return digitalCopyControl.get();
    }
    virtual ICSIDataComponent* GetDataComponent() const { return dataComponent.get(); }
    virtual uint8_t GetQualityLevel() const { return hierarchical & 1; }
    virtual uint16_t GetReferencePID() const { return referencePid; }
    virtual uint8_t GetRegionSpecType() const { return regionSpecType; }
    // The 56-bit prefecture bitmap, first bitmap byte in the top byte, lowest byte 0.
    virtual uint64_t GetTargetRegion() const { return targetRegion; }

    // Reads the stream's descriptor loop of `length` bytes; the descriptor flags name what it
    // held.
    void ParseDescriptors(ICSISectionReader& reader, int32_t length);

private:
    ICSIPMT* owner;
    uint32_t descriptorFlags = 0;
    uint16_t pid = 0;
    uint8_t streamType = 0;
    uint8_t componentTag = 0;
    uint8_t videoDecodeControl = 0;
    std::unique_ptr<ICSIDigitalCopyControl> digitalCopyControl;
    std::unique_ptr<ICSIDataComponent> dataComponent;
    uint8_t hierarchical = 0;
    uint16_t referencePid = 0;
    uint8_t regionSpecType = 0;
    uint64_t targetRegion = 0;
};

// The program map of one program of a transport stream.
class ICSIPMT : public ICListItem, public ICSITableState {
public:
    static constexpr uint32_t kFlagDigitalCopyControl = 0x04;
    static constexpr uint32_t kFlagEmergencyInfo = 0x08;
    static constexpr uint32_t kFlagContentAvailability = 0x10;

    ICSIPMT(ICSIList* owner, uint16_t transportStreamId, uint16_t programNumber)
        : owner(owner), transportStreamId(transportStreamId), programNumber(programNumber) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint8_t GetVersion() const { return StoredVersion(); }
    virtual uint32_t GetDescriptorFlags() const { return descriptorFlags; }
    virtual uint16_t GetPID() const { return pid; }
    virtual uint16_t GetTransportStreamID() const { return transportStreamId; }
    virtual uint16_t GetProgramNumber() const { return programNumber; }
    virtual uint16_t GetPCRPID() const { return pcrPid; }
    virtual ICSIDigitalCopyControl* GetDigitalCopyControl() const {
        return digitalCopyControl.get();
    }
    virtual int32_t GetEmergencyInfoCount() const { return emergencyInfos.GetCount(); }
    virtual ICSIEmergencyInfo* GetEmergencyInfo(int32_t index) const {
        return emergencyInfos.GetAt(index);
    }
    virtual ICSIEmergencyInfo* FindEmergencyInfo(uint16_t serviceId) const {
        return emergencyInfos.FindIf(
            [&](const ICSIEmergencyInfo& info) { return info.GetServiceID() == serviceId; });
    }
    virtual uint8_t GetContentAvailability() const { return contentAvailability; }
    virtual uint8_t GetCopyRestrictionMode() const { return (contentAvailability >> 6) & 1; }
    virtual uint8_t IsNotEncrypted() const { return (contentAvailability & 1) == 0 ? 1 : 0; }
    virtual int32_t GetESCount() const { return streams.GetCount(); }
    virtual ICSIES* GetES(int32_t index) const { return streams.GetAt(index); }
    virtual ICSIES* FindES(uint16_t pid) const {
        return streams.FindIf([&](const ICSIES& es) { return es.GetPID() == pid; });
    }
    virtual ICSIES* FindESByComponentTag(uint8_t componentTag) const {
        return streams.FindIf(
            [&](const ICSIES& es) { return es.GetComponentTag() == componentTag; });
    }

    // --- the analyzer's side
    // The PID the last section came on.
    void SetPID(uint16_t value) { pid = value; }
    // Reads a section's body after its header: PCR_PID, the program descriptors and the
    // elementary stream loop (a stream already held is replaced), up to the reader's limit.
    void ParseBody(ICSISectionReader& reader);
    // The PIDs the analyzer watches for this program (the engineering service's streams).
    const std::vector<uint16_t>& GetWatchedPIDs() const { return watchedPids; }
    void AddWatchedPID(uint16_t value) { watchedPids.push_back(value); }
    void ClearWatchedPIDs() { watchedPids.clear(); }

private:
    void ParseEmergencyInfo(ICSISectionReader& reader);

    ICSIList* owner;
    uint32_t descriptorFlags = 0;
    uint16_t transportStreamId;
    uint16_t pid = 0;
    uint16_t programNumber;
    uint16_t pcrPid = 0;
    std::unique_ptr<ICSIDigitalCopyControl> digitalCopyControl;
    ICSIItemList<ICSIEmergencyInfo> emergencyInfos;
    uint8_t contentAvailability = 0x6F;
    ICSIItemList<ICSIES> streams;
    // PIDs this PMT put into the watch table (elementary PIDs of the engineering service).
    std::vector<uint16_t> watchedPids;
};
