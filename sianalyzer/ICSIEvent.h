#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "core/ICListItem.h"
#include "core/ICWString.h"
#include "sianalyzer/ICSIDigitalCopyControl.h"
#include "sianalyzer/ICSIItemList.h"
#include "sianalyzer/ICSITime.h"

class ICSIEITSegment;
class ICSISectionReader;
class ICSIEvent;

// The raw bytes of the extended event item read last, which the analyzer keeps from one
// descriptor to the next: an item's text may continue in the next descriptor, and the joined
// bytes are decoded again so that a character split between the two parts comes out whole.
struct ICSIExtEventJoin {
    static constexpr int32_t kCapacity = 1024;
    // Joined items longer than this are given up.
    static constexpr int32_t kMaxLength = 999;
    uint8_t bytes[kCapacity] = {};
    int32_t length = 0;
};

// One item of the extended event descriptors of an event (a heading and its text), or the
// text of a descriptor without items.
class ICSIExtEvent : public ICListItem {
public:
    // `languageCode`: 3 characters and a terminator.
    ICSIExtEvent(ICSIEvent* owner, const char* languageCode) : owner(owner) {
        std::memcpy(this->languageCode, languageCode, sizeof this->languageCode);
    }

    virtual ICSIEvent* GetOwner() const { return owner; }
    virtual const char* GetLanguageCode() const { return languageCode; }
    virtual const char16_t* GetItemDescription() const { return itemDescription.GetText(); }
    virtual const char16_t* GetItemText() const { return itemText.GetText(); }
    // The text field of the descriptor that created or last continued the item.
    virtual const char16_t* GetText() const { return text.GetText(); }

    void SetItemDescription(ICWString value) { itemDescription = std::move(value); }
    void SetItemText(ICWString value) { itemText = std::move(value); }
    void SetText(ICWString value) { text = std::move(value); }

private:
    ICSIEvent* owner;
    char languageCode[4] = {};
    ICWString itemDescription;
    ICWString itemText;
    ICWString text;
};

// A component (tag 0x50) or audio component (tag 0xC4) of an event.
class ICSIComponent : public ICListItem {
public:
    explicit ICSIComponent(ICSIEvent* owner) : owner(owner) {}

    virtual ICSIEvent* GetOwner() const { return owner; }
    // The descriptor's first byte; stream_content in the low 4 bits.
    virtual uint8_t GetStreamContent() const { return streamContent; }
    virtual uint8_t GetComponentType() const { return componentType; }
    virtual uint8_t GetComponentTag() const { return componentTag; }
    virtual uint8_t GetStreamType() const { return streamType; }
    virtual uint8_t GetSimulcastGroupTag() const { return simulcastGroupTag; }
    // ES_multi_lingual_flag bit 7, main_component_flag bit 6, quality_indicator bits 5-4,
    // sampling_rate bits 3-1.
    virtual uint8_t GetFlags() const { return flags; }
    virtual uint8_t GetMultiLingualFlag() const { return (flags >> 7) & 1; }
    virtual uint8_t GetMainComponentFlag() const { return (flags >> 6) & 1; }
    virtual uint8_t GetQualityIndicator() const { return (flags >> 4) & 3; }
    // In Hz; 0 for the reserved codes.
    virtual int32_t GetSamplingRate() const;
    virtual const char* GetLanguageCode() const { return languageCode; }
    virtual const char* GetLanguageCode2() const { return languageCode2; }
    virtual const char16_t* GetText() const { return text.GetText(); }

    // Reads a component descriptor's body of `length` bytes.
    void ParseComponent(ICSISectionReader& reader, int32_t length);
    // Reads an audio component descriptor's body of `length` bytes.
    void ParseAudioComponent(ICSISectionReader& reader, int32_t length);

private:
    ICSIEvent* owner;
    uint8_t streamContent = 0;
    uint8_t componentType = 0;
    uint8_t componentTag = 0;
    uint8_t streamType = 0;
    uint8_t simulcastGroupTag = 0;
    uint8_t flags = 0;
    char languageCode[4] = {};
    char languageCode2[4] = {};
    ICWString text;
};

// One group of a component group descriptor (tag 0xD9).
class ICSIComponentGroup : public ICListItem {
public:
    explicit ICSIComponentGroup(ICSIEvent* owner) : owner(owner) {}

    virtual ICSIEvent* GetOwner() const { return owner; }
    virtual uint8_t GetComponentGroupID() const { return componentGroupId; }
    virtual int32_t GetTotalBitRate() const { return totalBitRate * 4; }
    virtual const char16_t* GetText() const { return text.GetText(); }

    // Reads one group of the descriptor: its id, its CA units (skipped), the total bit rate
    // when the descriptor has one, and its text.
    void Parse(ICSISectionReader& reader, bool hasTotalBitRate);

private:
    ICSIEvent* owner;
    uint8_t componentGroupId = 0;
    uint8_t totalBitRate = 0;
    ICWString text;
};

// An event group descriptor (tag 0xD6): the events of the group, and for group types 4 and 5
// the events in other networks.
class ICSIEventGroup : public ICListItem {
public:
    explicit ICSIEventGroup(ICSIEvent* owner) : owner(owner) {}

    virtual ICSIEvent* GetOwner() const { return owner; }
    virtual uint8_t GetGroupType() const { return groupType; }
    virtual int32_t GetEventCount() const { return static_cast<int32_t>(serviceIds.size()); }
    virtual const uint16_t* GetServiceIDs() const { return serviceIds.data(); }
    virtual uint16_t GetServiceID(int32_t index) const { return At(serviceIds, index); }
    virtual const uint16_t* GetEventIDs() const { return eventIds.data(); }
    virtual uint16_t GetEventID(int32_t index) const { return At(eventIds, index); }
    virtual int32_t GetOtherCount() const { return static_cast<int32_t>(otherServiceIds.size()); }
    virtual const uint16_t* GetOtherOriginalNetworkIDs() const {
        return otherOriginalNetworkIds.data();
    }
    virtual uint16_t GetOtherOriginalNetworkID(int32_t index) const {
        return At(otherOriginalNetworkIds, index);
    }
    virtual const uint16_t* GetOtherTransportStreamIDs() const {
        return otherTransportStreamIds.data();
    }
    virtual uint16_t GetOtherTransportStreamID(int32_t index) const {
        return At(otherTransportStreamIds, index);
    }
    virtual const uint16_t* GetOtherServiceIDs() const { return otherServiceIds.data(); }
    virtual uint16_t GetOtherServiceID(int32_t index) const { return At(otherServiceIds, index); }
    virtual const uint16_t* GetOtherEventIDs() const { return otherEventIds.data(); }
    virtual uint16_t GetOtherEventID(int32_t index) const { return At(otherEventIds, index); }

    // Reads the descriptor's body of `length` bytes.
    void Parse(ICSISectionReader& reader, int32_t length);

private:
    static uint16_t At(const std::vector<uint16_t>& values, int32_t index) {
        return index >= 0 && static_cast<size_t>(index) < values.size() ? values[index] : 0;
    }

    ICSIEvent* owner;
    uint8_t groupType = 0;
    std::vector<uint16_t> serviceIds;
    std::vector<uint16_t> eventIds;
    std::vector<uint16_t> otherOriginalNetworkIds;
    std::vector<uint16_t> otherTransportStreamIds;
    std::vector<uint16_t> otherServiceIds;
    std::vector<uint16_t> otherEventIds;
};

// A data content descriptor (tag 0xC7). The selector getters 10-13 read the selector as a
// caption selector: a language count followed by 4-byte language entries.
class ICSIDataContent : public ICListItem {
public:
    explicit ICSIDataContent(ICSIEvent* owner) : owner(owner) {}

    virtual ICSIEvent* GetOwner() const { return owner; }
    virtual uint16_t GetDataComponentID() const { return dataComponentId; }
    virtual uint8_t GetEntryComponent() const { return entryComponent; }
    virtual uint8_t GetSelectorLength() const { return static_cast<uint8_t>(selector.size()); }
    virtual const uint8_t* GetSelector() const { return selector.data(); }
    virtual uint8_t GetComponentRefCount() const {
        return static_cast<uint8_t>(componentRefs.size());
    }
    virtual const uint8_t* GetComponentRefs() const { return componentRefs.data(); }
    virtual const char* GetLanguageCode() const { return languageCode; }
    virtual const char16_t* GetText() const { return text.GetText(); }
    virtual uint8_t GetSelectorLanguageCount() const { return selector.empty() ? 0 : selector[0]; }
    virtual uint8_t GetSelectorLanguageTag(int32_t index) const {
        return HasEntry(index) ? selector[1 + 4 * index] >> 5 : 0;
    }
    virtual uint8_t GetSelectorDMF(int32_t index) const {
        return HasEntry(index) ? selector[1 + 4 * index] & 0x0F : 0;
    }
    // Three bytes; null when there is no such entry (or it is cut short).
    virtual const uint8_t* GetSelectorLanguageCode(int32_t index) const {
        return HasEntry(index) && static_cast<size_t>(5 + 4 * index) <= selector.size()
                   ? selector.data() + 2 + 4 * index
                   : nullptr;
    }

    // Reads the descriptor's body.
    void Parse(ICSISectionReader& reader);

private:
    bool HasEntry(int32_t index) const {
        return index >= 0 && static_cast<size_t>(1 + 4 * index) < selector.size();
    }

    ICSIEvent* owner;
    uint16_t dataComponentId = 0;
    uint8_t entryComponent = 0;
    std::vector<uint8_t> selector;
    std::vector<uint8_t> componentRefs;
    char languageCode[4] = {};
    ICWString text;
};

// A hyperlink descriptor (tag 0xC5).
class ICSIHyperlink : public ICListItem {
public:
    explicit ICSIHyperlink(ICSIEvent* owner) : owner(owner) {}

    virtual ICSIEvent* GetOwner() const { return owner; }
    virtual uint8_t GetHyperLinkageType() const { return hyperLinkageType; }
    virtual uint8_t GetLinkDestinationType() const { return linkDestinationType; }
    virtual uint8_t GetSelectorLength() const { return static_cast<uint8_t>(selector.size()); }
    virtual const uint8_t* GetSelector() const { return selector.data(); }
    virtual uint8_t GetPrivateDataLength() const {
        return static_cast<uint8_t>(privateData.size());
    }
    virtual const uint8_t* GetPrivateData() const { return privateData.data(); }

    // Reads the descriptor's body of `length` bytes.
    void Parse(ICSISectionReader& reader, int32_t length);

private:
    ICSIEvent* owner;
    uint8_t hyperLinkageType = 0;
    uint8_t linkDestinationType = 0;
    std::vector<uint8_t> selector;
    std::vector<uint8_t> privateData;
};

// An LDT linkage descriptor (tag 0xDC).
class ICSILDTLink : public ICListItem {
public:
    explicit ICSILDTLink(ICSIEvent* owner) : owner(owner) {}

    virtual ICSIEvent* GetOwner() const { return owner; }
    virtual uint16_t GetOriginalServiceID() const { return originalServiceId; }
    virtual uint16_t GetTransportStreamID() const { return transportStreamId; }
    virtual uint16_t GetOriginalNetworkID() const { return originalNetworkId; }
    virtual int32_t GetDescriptionCount() const {
        return static_cast<int32_t>(descriptions.size() / 4);
    }
    virtual uint16_t GetDescriptionID(int32_t index) const {
        return InRange(index) ? static_cast<uint16_t>(descriptions[4 * index] << 8 |
                                                      descriptions[4 * index + 1])
                              : 0;
    }
    virtual uint8_t GetDescriptionType(int32_t index) const {
        return InRange(index) ? descriptions[4 * index + 2] & 0x0F : 0;
    }
    // The raw 4-byte entries.
    virtual const uint8_t* GetDescriptions() const { return descriptions.data(); }

    // Reads the descriptor's body of `length` bytes.
    void Parse(ICSISectionReader& reader, int32_t length);

private:
    bool InRange(int32_t index) const { return index >= 0 && index < GetDescriptionCount(); }

    ICSIEvent* owner;
    uint16_t originalServiceId = 0;
    uint16_t transportStreamId = 0;
    uint16_t originalNetworkId = 0;
    std::vector<uint8_t> descriptions;
};

// One event of an EIT with the descriptors an electronic programme guide needs.
class ICSIEvent : public ICListItem {
public:
    static constexpr uint32_t kFlagShortEvent = 0x01;
    static constexpr uint32_t kFlagExtendedEvent = 0x02;
    static constexpr uint32_t kFlagComponent = 0x04;
    static constexpr uint32_t kFlagContent = 0x08;
    static constexpr uint32_t kFlagDigitalCopyControl = 0x10;
    static constexpr uint32_t kFlagAudioComponent = 0x20;
    static constexpr uint32_t kFlagDataContent = 0x40;
    static constexpr uint32_t kFlagEventGroup = 0x100;
    static constexpr uint32_t kFlagComponentGroup = 0x200;
    static constexpr uint32_t kFlagSeries = 0x400;
    static constexpr uint32_t kFlagStuffing = 0x800;
    static constexpr uint32_t kFlagParentalRating = 0x1000;
    static constexpr uint32_t kFlagHyperlink = 0x2000;
    static constexpr uint32_t kFlagLDTLinkage = 0x4000;
    static constexpr int32_t kMaxContents = 7;

    ICSIEvent(ICSIEITSegment* owner, uint16_t eventId) : owner(owner), eventId(eventId) {}

    virtual ICSIEITSegment* GetOwner() const { return owner; }
    virtual uint32_t GetDescriptorFlags() const { return descriptorFlags; }
    virtual uint16_t GetEventID() const { return eventId; }
    // Each output may be null. 1 when the year is not 0.
    virtual int32_t GetStartTime(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                                 uint8_t* minute, uint8_t* second) const;
    virtual int64_t GetStartTimeValue() const { return sitime::ToValue(startTime); }
    // Seconds; -1 when undefined.
    virtual int32_t GetDuration() const { return duration; }
    virtual uint8_t GetRunningStatus() const { return (status >> 1) & 7; }
    virtual uint8_t IsFreeCA() const { return (status & 1) == 0 ? 1 : 0; }
    virtual const char* GetLanguageCode() const { return languageCode; }
    virtual const char16_t* GetEventName() const { return eventName.GetText(); }
    virtual const char16_t* GetEventText() const { return eventText.GetText(); }
    virtual int32_t GetExtEventCount() const { return extEvents.GetCount(); }
    virtual ICSIExtEvent* GetExtEvent(int32_t index) const { return extEvents.GetAt(index); }
    virtual int32_t GetComponentCount() const { return components.GetCount(); }
    virtual ICSIComponent* GetComponent(int32_t index) const { return components.GetAt(index); }
    virtual ICSIComponent* FindComponent(uint8_t componentTag) const {
        return FindByTag(components, componentTag);
    }
    virtual int32_t GetAudioComponentCount() const { return audioComponents.GetCount(); }
    virtual ICSIComponent* GetAudioComponent(int32_t index) const {
        return audioComponents.GetAt(index);
    }
    virtual ICSIComponent* FindAudioComponent(uint8_t componentTag) const {
        return FindByTag(audioComponents, componentTag);
    }
    virtual int32_t GetContentCount() const { return contentCount; }
    // 8 entries: content_nibble_level_1 << 12 | content_nibble_level_2 << 8 | user nibbles;
    // unused entries 0xFFFF.
    virtual const uint16_t* GetContents() const { return contents; }
    virtual uint16_t GetContent(int32_t index) const {
        return index >= 0 && index < contentCount ? contents[index] : 0;
    }
    virtual ICSIDigitalCopyControl* GetDigitalCopyControl() const {
        return digitalCopyControl.get();
    }
    virtual int32_t GetEventGroupCount() const { return eventGroups.GetCount(); }
    virtual ICSIEventGroup* GetEventGroup(int32_t index) const { return eventGroups.GetAt(index); }
    virtual int32_t GetComponentGroupCount() const { return componentGroups.GetCount(); }
    virtual ICSIComponentGroup* GetComponentGroup(int32_t index) const {
        return componentGroups.GetAt(index);
    }
    virtual uint16_t GetSeriesID() const { return seriesId; }
    virtual uint8_t GetRepeatLabel() const { return (seriesFlags >> 4) & 0x0F; }
    virtual uint8_t GetProgramPattern() const { return (seriesFlags >> 1) & 7; }
    virtual uint8_t GetExpireDateValidFlag() const { return seriesFlags & 1; }
    // Returns the valid flag; each output may be null.
    virtual uint8_t GetExpireDate(uint16_t* year, uint8_t* month, uint8_t* day) const;
    virtual uint16_t GetEpisodeNumber() const { return episodeNumber; }
    virtual uint16_t GetLastEpisodeNumber() const { return lastEpisodeNumber; }
    virtual const char16_t* GetSeriesName() const { return seriesName.GetText(); }
    // The rating byte of entry i (0 out of range); `countryCode` (may be null) receives the
    // 3-byte country code and a terminator.
    virtual uint8_t GetParentalRating(int32_t index, char* countryCode) const;
    virtual int32_t GetHyperlinkCount() const { return hyperlinks.GetCount(); }
    virtual ICSIHyperlink* GetHyperlink(int32_t index) const { return hyperlinks.GetAt(index); }
    virtual ICSILDTLink* GetLDTLink() const { return ldtLink.get(); }
    virtual int32_t GetDataContentCount() const { return dataContents.GetCount(); }
    virtual ICSIDataContent* GetDataContent(int32_t index) const {
        return dataContents.GetAt(index);
    }
    virtual int32_t GetParentalRatingCount() const {
        return static_cast<int32_t>(parentalRatings.size() / 4);
    }

    const ICSIDateTime& GetStartDateTime() const { return startTime; }

    // --- the analyzer's side
    // Reads the event's fields after its event_id: start_time, duration, running_status,
    // free_CA_mode and the descriptor loop. `join` carries an extended item from one
    // descriptor to the next. False when the event is cut short.
    bool ParseBody(ICSISectionReader& reader, ICSIExtEventJoin& join);
    // Forgets what the extended sections add (extended event items and hyperlinks) before
    // they are read again.
    void ClearExtendedDescriptors();

private:
    void ParseDescriptor(ICSISectionReader& reader, uint8_t tag, int32_t length,
                         ICSIExtEventJoin& join);
    void ParseExtendedEvent(ICSISectionReader& reader, ICSIExtEventJoin& join);
    static ICSIComponent* FindByTag(const ICSIItemList<ICSIComponent>& list, uint8_t tag) {
        return list.FindIf([&](const ICSIComponent& c) { return c.GetComponentTag() == tag; });
    }

    ICSIEITSegment* owner;
    uint32_t descriptorFlags = 0;
    uint16_t eventId;
    ICSIDateTime startTime;
    int32_t duration = 0;
    uint8_t status = 0;  // running_status bits 3-1, free_CA_mode bit 0
    char languageCode[4] = {};
    ICWString eventName;
    ICWString eventText;
    ICSIItemList<ICSIExtEvent> extEvents;
    ICSIItemList<ICSIComponent> components;
    ICSIItemList<ICSIComponent> audioComponents;
    ICSIItemList<ICSIEventGroup> eventGroups;
    ICSIItemList<ICSIDataContent> dataContents;
    ICSIItemList<ICSIComponentGroup> componentGroups;
    ICSIItemList<ICSIHyperlink> hyperlinks;
    int32_t contentCount = 0;
    uint16_t contents[8] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    std::unique_ptr<ICSIDigitalCopyControl> digitalCopyControl;
    std::unique_ptr<ICSILDTLink> ldtLink;
    uint16_t seriesId = 0;
    uint8_t seriesFlags = 0;  // repeat_label bits 7-4, program_pattern 3-1, expire valid bit 0
    ICSIDateTime expireDate;
    uint16_t episodeNumber = 0;
    uint16_t lastEpisodeNumber = 0;
    ICWString seriesName;
    uint8_t componentGroupType = 0;
    std::vector<uint8_t> parentalRatings;  // 4-byte entries: country code, rating
};
