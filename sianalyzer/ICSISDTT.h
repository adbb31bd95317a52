#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "core/ICListItem.h"
#include "core/ICWString.h"
#include "sianalyzer/ICSIDownload.h"
#include "sianalyzer/ICSIItemList.h"
#include "sianalyzer/ICSITime.h"

class ICSIList;
class ICSISectionReader;
class ICSISDTT;
class ICSISDTTContent;

// A download content descriptor (tag 0xC9) of an SDTT content: the carousel (download_id,
// component) that carries the software, what it is compatible with and its modules.
class ICSIDownloadContent : public ICListItem {
public:
    // Bits of the flags byte as broadcast.
    static constexpr uint8_t kFlagReboot = 0x80;
    static constexpr uint8_t kFlagAddOn = 0x40;
    static constexpr uint8_t kFlagCompatibility = 0x20;
    static constexpr uint8_t kFlagModuleInfo = 0x10;
    static constexpr uint8_t kFlagTextInfo = 0x08;

    explicit ICSIDownloadContent(ICSISDTTContent* owner) : owner(owner) {}

    virtual ICSISDTTContent* GetOwner() const { return owner; }
    virtual uint8_t GetFlags() const { return flags; }
    virtual uint8_t GetReboot() const { return (flags >> 7) & 1; }
    virtual uint8_t GetAddOn() const { return (flags >> 6) & 1; }
    virtual uint8_t GetCompatibilityFlag() const { return (flags >> 5) & 1; }
    virtual uint8_t GetModuleInfoFlag() const { return (flags >> 4) & 1; }
    virtual uint8_t GetTextInfoFlag() const { return (flags >> 3) & 1; }
    virtual uint32_t GetComponentSize() const { return componentSize; }
    virtual uint32_t GetDownloadID() const { return downloadId; }
    virtual uint32_t GetTimeOutValueDII() const { return timeOutValueDII; }
    // 22 bits.
    virtual uint32_t GetLeakRate() const { return leakRate; }
    virtual uint8_t GetComponentTag() const { return componentTag; }
    virtual int32_t GetCompatibilityCount() const { return compatibilities.GetCount(); }
    virtual ICSICompatibility* GetCompatibility(int32_t index) const {
        return compatibilities.GetAt(index);
    }
    virtual uint8_t GetPrivateDataLength() const { return privateDataLength; }
    // GetPrivateDataLength bytes (fewer when the section ended first).
    virtual const uint8_t* GetPrivateData() const { return privateData.data(); }
    // The 3 characters of the text information's ISO_639_language_code (empty without it).
    virtual const char* GetLanguageCode() const { return languageCode; }
    // The text information (8-unit text), empty without it.
    virtual const char16_t* GetText() const { return text.GetText(); }
    virtual int32_t GetModuleInfoCount() const { return moduleInfos.GetCount(); }
    virtual ICSIModuleInfo* GetModuleInfo(int32_t index) const { return moduleInfos.GetAt(index); }

    // Reads the descriptor's body (the reader limited to it); false when a compatibility
    // descriptor or the module info list is cut short.
    bool Parse(ICSISectionReader& reader);

private:
    ICSISDTTContent* owner;
    uint8_t flags = 0;
    uint32_t componentSize = 0;
    uint32_t downloadId = 0;
    uint32_t timeOutValueDII = 0;
    uint32_t leakRate = 0;
    uint8_t componentTag = 0;
    ICSIItemList<ICSICompatibility> compatibilities;
    ICSIItemList<ICSIModuleInfo> moduleInfos;
    uint8_t privateDataLength = 0;
    std::vector<uint8_t> privateData;
    char languageCode[4] = {};
    ICWString text;
};

// One content of an SDTT: the software versions it concerns, its broadcast schedule and its
// download content descriptors.
class ICSISDTTContent : public ICListItem {
public:
    // Descriptor flags.
    static constexpr uint32_t kFlagDownloadContent = 0x01;

    explicit ICSISDTTContent(ICSISDTT* owner) : owner(owner) {}

    virtual ICSISDTT* GetOwner() const { return owner; }
    virtual uint32_t GetDescriptorFlags() const { return descriptorFlags; }
    // 4 bits.
    virtual uint8_t GetGroup() const { return group; }
    // 12 bits each.
    virtual uint16_t GetTargetVersion() const { return targetVersion; }
    virtual uint16_t GetNewVersion() const { return newVersion; }
    virtual uint8_t GetDownloadLevel() const { return (levelIndicator >> 2) & 0x03; }
    virtual uint8_t GetVersionIndicator() const { return levelIndicator & 0x03; }
    virtual int32_t GetScheduleCount() const { return static_cast<int32_t>(startTimes.size()); }
    // True when entry i exists and its year is not 0 (each output may be null); out of range
    // the outputs are left untouched and the result is false.
    virtual bool GetScheduleStartDate(int32_t index, uint16_t* year, uint8_t* month,
                                      uint8_t* day) const;
    // The duration as broadcast (24-bit BCD hhmmss); -1 out of range.
    virtual int32_t GetScheduleDuration(int32_t index) const {
        return index >= 0 && index < GetScheduleCount() ? durations[index] : -1;
    }
    virtual int32_t GetDownloadContentCount() const { return downloadContents.GetCount(); }
    virtual ICSIDownloadContent* GetDownloadContent(int32_t index) const {
        return downloadContents.GetAt(index);
    }

    // The whole start time of entry i (date and time of day), or null out of range.
    const ICSIDateTime* GetScheduleStartTime(int32_t index) const {
        return index >= 0 && index < GetScheduleCount() ? &startTimes[index] : nullptr;
    }

    // Reads the content: versions, schedule and descriptors (download content descriptors
    // are kept). False when it is cut short.
    bool Parse(ICSISectionReader& reader);

private:
    ICSISDTT* owner;
    uint32_t descriptorFlags = 0;
    uint8_t group = 0;
    uint16_t targetVersion = 0;
    uint16_t newVersion = 0;
    uint8_t levelIndicator = 0;  // download_level bits 3-2, version_indicator bits 1-0
    std::vector<ICSIDateTime> startTimes;
    std::vector<int32_t> durations;
    ICSIItemList<ICSIDownloadContent> downloadContents;
};

// The software download trigger table of one maker and model (key = table_id_extension:
// maker_id in the high byte, model_id in the low byte). Each newly received section replaces
// the contents held before.
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
    virtual int32_t GetContentCount() const { return contents.GetCount(); }
    virtual ICSISDTTContent* GetContent(int32_t index) const { return contents.GetAt(index); }

    bool IsComplete() const { return complete.load(std::memory_order_relaxed) != 0; }
    uint8_t GetLastSectionNumber() const { return lastSectionNumber; }
    // Whether section n has been received in this version.
    bool HasSection(uint8_t sectionNumber) const {
        return (sectionMask[sectionNumber >> 3] & (1u << (sectionNumber & 7))) != 0;
    }
    // Whether sections 0 ... last_section_number are all in the mask.
    bool HasAllSections() const;

    // --- the analyzer's side
    // Records a section; the table holds that version from now on.
    void RecordSection(uint8_t versionNumber, uint8_t sectionNumber, uint8_t lastNumber) {
        version = versionNumber;
        lastSectionNumber = lastNumber;
        sectionMask[sectionNumber >> 3] |= static_cast<uint8_t>(1u << (sectionNumber & 7));
    }
    // The service the last section named.
    void SetService(uint16_t originalNetwork, uint16_t transportStream, uint16_t service) {
        originalNetworkId = originalNetwork;
        transportStreamId = transportStream;
        serviceId = service;
    }
    // Marks the table complete when every section is in; true when it has just become so.
    bool CompleteWhenAllIn() {
        if (IsComplete() || !HasAllSections()) {
            return false;
        }
        complete.store(1);
        return true;
    }
    // Reads a section's contents (after service_id), which replace those held. False when it
    // is cut short, or when it has none and `acceptEmpty` is false.
    bool ParseBody(ICSISectionReader& reader, bool acceptEmpty);

private:
    ICSIList* owner;
    std::atomic<uint8_t> complete{0};
    uint8_t version = 0xFF;
    uint8_t lastSectionNumber = 0;
    uint8_t sectionMask[32] = {};
    uint16_t key;
    uint16_t originalNetworkId = 0;
    uint16_t transportStreamId = 0;
    uint16_t serviceId = 0;
    ICSIItemList<ICSISDTTContent> contents;
};
