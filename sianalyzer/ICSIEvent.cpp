#include "sianalyzer/ICSIEvent.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "sianalyzer/ICSISection.h"
#include "sianalyzer/SIConstants.h"

int32_t ICSIComponent::GetSamplingRate() const {
    static constexpr int32_t kRates[8] = {0, 16000, 22050, 24000, 0, 32000, 44100, 48000};
    return kRates[(flags >> 1) & 7];
}

int32_t ICSIEvent::GetStartTime(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                                uint8_t* minute, uint8_t* second) const {
    if (year) {
        *year = startTime.year;
    }
    if (month) {
        *month = startTime.month;
    }
    if (day) {
        *day = startTime.day;
    }
    if (hour) {
        *hour = startTime.hour;
    }
    if (minute) {
        *minute = startTime.minute;
    }
    if (second) {
        *second = startTime.second;
    }
    return startTime.year != 0 ? 1 : 0;
}

uint8_t ICSIEvent::GetExpireDate(uint16_t* year, uint8_t* month, uint8_t* day) const {
    if (year) {
        *year = expireDate.year;
    }
    if (month) {
        *month = expireDate.month;
    }
    if (day) {
        *day = expireDate.day;
    }
    return GetExpireDateValidFlag();
}

uint8_t ICSIEvent::GetParentalRating(int32_t index, char* countryCode) const {
    if (index < 0 || index >= GetParentalRatingCount()) {
        return 0;
    }
    const uint8_t* entry = parentalRatings.data() + 4 * index;
    if (countryCode) {
        std::memcpy(countryCode, entry, 3);
        countryCode[3] = '\0';
    }
    return entry[3];
}

void ICSIComponent::ParseComponent(ICSISectionReader& reader, int32_t length) {
    streamContent = static_cast<uint8_t>(reader.ReadUInt8());
    componentType = static_cast<uint8_t>(reader.ReadUInt8());
    componentTag = static_cast<uint8_t>(reader.ReadUInt8());
    reader.ReadLanguageCode(languageCode);
    text = reader.ReadText(length - 6);
}

void ICSIComponent::ParseAudioComponent(ICSISectionReader& reader, int32_t length) {
    streamContent = static_cast<uint8_t>(reader.ReadUInt8());
    componentType = static_cast<uint8_t>(reader.ReadUInt8());
    componentTag = static_cast<uint8_t>(reader.ReadUInt8());
    streamType = static_cast<uint8_t>(reader.ReadUInt8());
    simulcastGroupTag = static_cast<uint8_t>(reader.ReadUInt8());
    flags = static_cast<uint8_t>(reader.ReadUInt8());
    reader.ReadLanguageCode(languageCode);
    const bool multiLingual = (flags & 0x80) != 0;
    if (multiLingual) {
        reader.ReadLanguageCode(languageCode2);
    }
    text = reader.ReadText(length - (multiLingual ? 12 : 9));
}

void ICSIComponentGroup::Parse(ICSISectionReader& reader, bool hasTotalBitRate) {
    const int32_t groupHead = std::max(reader.ReadUInt8(), 0);
    componentGroupId = static_cast<uint8_t>(groupHead >> 4);
    for (int32_t unit = 0; unit < (groupHead & 0x0F); ++unit) {
        // CA_unit_id and a component count, then the component tags.
        reader.Skip(std::max(reader.ReadUInt8(), 0) & 0x0F);
    }
    if (hasTotalBitRate) {
        totalBitRate = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
    }
    text = reader.ReadText(reader.ReadUInt8());
}

void ICSIEventGroup::Parse(ICSISectionReader& reader, int32_t length) {
    const int32_t head = std::max(reader.ReadUInt8(), 0);
    groupType = static_cast<uint8_t>(head >> 4);
    const int32_t count = head & 0x0F;
    for (int32_t i = 0; i < count && reader.GetRemaining() >= 4; ++i) {
        serviceIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
        eventIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
    }
    if (groupType == 4 || groupType == 5) {
        const int32_t others = (length - 4 * count - 1) / 8;
        for (int32_t i = 0; i < others && reader.GetRemaining() >= 8; ++i) {
            otherOriginalNetworkIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
            otherTransportStreamIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
            otherServiceIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
            otherEventIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
        }
    }
}

void ICSIDataContent::Parse(ICSISectionReader& reader) {
    dataComponentId = static_cast<uint16_t>(reader.ReadUInt16());
    entryComponent = static_cast<uint8_t>(reader.ReadUInt8());
    const int32_t selectorLength = std::clamp(reader.ReadUInt8(), 0, reader.GetRemaining());
    selector.assign(reader.GetCurrent(), reader.GetCurrent() + selectorLength);
    reader.Skip(selectorLength);
    const int32_t refCount = std::clamp(reader.ReadUInt8(), 0, reader.GetRemaining());
    componentRefs.assign(reader.GetCurrent(), reader.GetCurrent() + refCount);
    reader.Skip(refCount);
    reader.ReadLanguageCode(languageCode);
    text = reader.ReadText(reader.ReadUInt8());
}

void ICSIHyperlink::Parse(ICSISectionReader& reader, int32_t length) {
    hyperLinkageType = static_cast<uint8_t>(reader.ReadUInt8());
    linkDestinationType = static_cast<uint8_t>(reader.ReadUInt8());
    const int32_t selectorLength = std::clamp(reader.ReadUInt8(), 0, reader.GetRemaining());
    selector.assign(reader.GetCurrent(), reader.GetCurrent() + selectorLength);
    reader.Skip(selectorLength);
    const int32_t privateLength = std::clamp(length - selectorLength - 3, 0, reader.GetRemaining());
    privateData.assign(reader.GetCurrent(), reader.GetCurrent() + privateLength);
    reader.Skip(privateLength);
}

void ICSILDTLink::Parse(ICSISectionReader& reader, int32_t length) {
    originalServiceId = static_cast<uint16_t>(reader.ReadUInt16());
    transportStreamId = static_cast<uint16_t>(reader.ReadUInt16());
    originalNetworkId = static_cast<uint16_t>(reader.ReadUInt16());
    const int32_t bytes = std::min((length - 6) / 4 * 4, reader.GetRemaining() / 4 * 4);
    if (bytes > 0) {
        descriptions.assign(reader.GetCurrent(), reader.GetCurrent() + bytes);
        reader.Skip(bytes);
    }
}

void ICSIEvent::ParseExtendedEvent(ICSISectionReader& reader, ICSIExtEventJoin& join) {
    reader.Skip(1);  // descriptor_number, last_descriptor_number
    char language[4];
    reader.ReadLanguageCode(language);
    const int32_t itemsLength = std::max(reader.ReadUInt8(), 0);
    const int32_t itemsEnd = std::min(reader.GetPosition() + itemsLength, reader.GetLimit());
    ICSIExtEvent* last = nullptr;
    while (reader.GetPosition() < itemsEnd) {
        const int32_t descriptionLength = reader.ReadUInt8();
        if (descriptionLength < 0) {
            break;
        }
        if (descriptionLength > 0) {
            ICSIExtEvent* item = extEvents.Add(new ICSIExtEvent(this, language));
            item->SetItemDescription(reader.ReadText(descriptionLength));
            const int32_t itemLength = std::max(reader.ReadUInt8(), 0);
            join.length = reader.Read(join.bytes, itemLength);
            item->SetItemText(reader.DecodeText(join.bytes, join.length));
            last = item;
        } else {
            // The item continues the previous one, possibly from the previous descriptor.
            ICSIExtEvent* item = extEvents.GetLast();
            if (item == nullptr) {
                return;
            }
            const int32_t itemLength = std::max(reader.ReadUInt8(), 0);
            if (join.length + itemLength > ICSIExtEventJoin::kMaxLength) {
                join.length = 0;
                return;
            }
            join.length += reader.Read(join.bytes + join.length, itemLength);
            item->SetItemText(reader.DecodeText(join.bytes, join.length));
            last = item;
        }
    }
    reader.Seek(itemsEnd);
    const int32_t textLength = reader.ReadUInt8();
    if (textLength < 0) {
        return;
    }
    if (last == nullptr) {
        last = extEvents.Add(new ICSIExtEvent(this, language));
    }
    last->SetText(reader.ReadText(textLength));
}

void ICSIEvent::ParseDescriptor(ICSISectionReader& reader, uint8_t tag, int32_t length,
                                ICSIExtEventJoin& join) {
    switch (tag) {
        case si::kTagStuffing:
            descriptorFlags |= kFlagStuffing;
            break;
        case si::kTagShortEvent:
            reader.ReadLanguageCode(languageCode);
            eventName = reader.ReadText(reader.ReadUInt8());
            eventText = reader.ReadText(reader.ReadUInt8());
            descriptorFlags |= kFlagShortEvent;
            break;
        case si::kTagExtendedEvent:
            ParseExtendedEvent(reader, join);
            descriptorFlags |= kFlagExtendedEvent;
            break;
        case si::kTagComponent:
            components.Add(new ICSIComponent(this))->ParseComponent(reader, length);
            descriptorFlags |= kFlagComponent;
            break;
        case si::kTagContent: {
            const int32_t count = std::min(length, 14) / 2;
            std::fill(std::begin(contents), std::end(contents), 0xFFFF);
            int32_t stored = 0;
            for (; stored < count; ++stored) {
                const int32_t entry = reader.ReadUInt16();
                if (entry < 0) {
                    break;
                }
                contents[stored] = static_cast<uint16_t>(entry);
            }
            contentCount = stored;
            descriptorFlags |= kFlagContent;
            break;
        }
        case si::kTagParentalRating: {
            const int32_t bytes = std::min(length / 4 * 4, reader.GetRemaining() / 4 * 4);
            parentalRatings.assign(reader.GetCurrent(), reader.GetCurrent() + bytes);
            reader.Skip(bytes);
            descriptorFlags |= kFlagParentalRating;
            break;
        }
        case si::kTagDigitalCopyControl:
            digitalCopyControl = ICSIDigitalCopyControl::Parse(this, reader);
            descriptorFlags |= kFlagDigitalCopyControl;
            break;
        case si::kTagAudioComponent:
            audioComponents.Add(new ICSIComponent(this))->ParseAudioComponent(reader, length);
            descriptorFlags |= kFlagAudioComponent;
            break;
        case si::kTagHyperlink:
            hyperlinks.Add(new ICSIHyperlink(this))->Parse(reader, length);
            descriptorFlags |= kFlagHyperlink;
            break;
        case si::kTagDataContent:
            dataContents.Add(new ICSIDataContent(this))->Parse(reader);
            descriptorFlags |= kFlagDataContent;
            break;
        case si::kTagSeries: {
            seriesId = static_cast<uint16_t>(reader.ReadUInt16());
            seriesFlags = static_cast<uint8_t>(reader.ReadUInt8());
            expireDate = sitime::FromMJD(static_cast<uint16_t>(reader.ReadUInt16()));
            const int32_t episodes = reader.ReadUInt24();
            episodeNumber = static_cast<uint16_t>((episodes >> 12) & 0x0FFF);
            lastEpisodeNumber = static_cast<uint16_t>(episodes & 0x0FFF);
            seriesName = reader.ReadText(length - 8);
            descriptorFlags |= kFlagSeries;
            break;
        }
        case si::kTagEventGroup:
            eventGroups.Add(new ICSIEventGroup(this))->Parse(reader, length);
            descriptorFlags |= kFlagEventGroup;
            break;
        case si::kTagComponentGroup: {
            const int32_t head = std::max(reader.ReadUInt8(), 0);
            componentGroupType = static_cast<uint8_t>(head >> 5);
            const bool hasTotalBitRate = (head & 0x10) != 0;
            const int32_t groups = head & 0x0F;
            for (int32_t i = 0; i < groups && reader.GetRemaining() > 0; ++i) {
                componentGroups.Add(new ICSIComponentGroup(this))->Parse(reader, hasTotalBitRate);
            }
            descriptorFlags |= kFlagComponentGroup;
            break;
        }
        case si::kTagLDTLinkage:
            ldtLink = std::make_unique<ICSILDTLink>(this);
            ldtLink->Parse(reader, length);
            descriptorFlags |= kFlagLDTLinkage;
            break;
        default:
            break;
    }
}

bool ICSIEvent::ParseBody(ICSISectionReader& reader, ICSIExtEventJoin& join) {
    startTime = reader.ReadAribTime();
    uint8_t durationBcd[3];
    reader.Read(durationBcd, 3);
    duration = sitime::DurationFromBcd(durationBcd);
    const int32_t field = reader.ReadUInt16();
    if (field < 0) {
        return false;
    }
    status = static_cast<uint8_t>(field >> 12);
    return reader.ParseDescriptors(field & 0x0FFF, [&](uint8_t tag, int32_t length) {
        ParseDescriptor(reader, tag, length, join);
    });
}

void ICSIEvent::ClearExtendedDescriptors() {
    descriptorFlags &= ~(kFlagExtendedEvent | kFlagHyperlink);
    extEvents.Clear();
    hyperlinks.Clear();
}
