#include "sianalyzer/ICSIPMT.h"

#include <algorithm>

#include "sianalyzer/ICSISection.h"
#include "sianalyzer/SIConstants.h"

int32_t ICSIEmergencyInfo::FindAreaCode(uint16_t code) const {
    for (size_t i = 0; i < areaCodes.size(); ++i) {
        if (areaCodes[i] == code) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

void ICSIEmergencyInfo::Parse(ICSISectionReader& reader) {
    serviceId = static_cast<uint16_t>(reader.ReadUInt16());
    flags = static_cast<uint8_t>(reader.ReadUInt8());
    const int32_t areaLength = reader.ReadUInt8();
    for (int32_t i = 0; i < areaLength / 2; ++i) {
        const int32_t area = reader.ReadUInt16();
        if (area < 0) {
            break;
        }
        areaCodes.push_back(static_cast<uint16_t>(area >> 4));
    }
}

void ICSIDataComponent::Parse(ICSISectionReader& reader, int32_t length) {
    const int32_t dataComponentId = reader.ReadUInt16();
    infoLength = std::clamp(length - 2, 0, reader.GetRemaining());
    info.assign(static_cast<size_t>(std::max(infoLength, 16)), 0);
    reader.Read(info.data(), infoLength);
    if (dataComponentId == si::kDataComponentCarouselFirst ||
        dataComponentId == si::kDataComponentCarouselB ||
        dataComponentId == si::kDataComponentCarouselC ||
        dataComponentId == si::kDataComponentCarouselD) {
        if ((info[0] & 0x20) == 0) {
            carouselOffset = 1;
        } else if ((info[1] & 0x40) == 0) {
            carouselOffset = 2;
        } else if ((info[1] & 0x80) != 0) {
            carouselOffset = 10;
        } else {
            carouselOffset = 6;
        }
    }
}

void ICSIES::ParseDescriptors(ICSISectionReader& reader, int32_t length) {
    uint32_t flags = 0;
    reader.ParseDescriptors(length, [&](uint8_t tag, int32_t descriptorLength) {
        switch (tag) {
            case si::kTagStreamIdentifier:
                componentTag = static_cast<uint8_t>(reader.ReadUInt8());
                flags |= kFlagStreamIdentifier;
                break;
            case si::kTagHierarchicalTransmission:
                hierarchical = static_cast<uint8_t>(reader.ReadUInt8());
                referencePid = static_cast<uint16_t>(reader.ReadUInt16() & si::kPidMask);
                flags |= kFlagHierarchicalTransmission;
                break;
            case si::kTagDigitalCopyControl:
                digitalCopyControl = ICSIDigitalCopyControl::Parse(this, reader);
                flags |= kFlagDigitalCopyControl;
                break;
            case si::kTagTargetRegion: {
                regionSpecType = static_cast<uint8_t>(reader.ReadUInt8());
                uint8_t bitmap[7];
                reader.Read(bitmap, 7);
                uint64_t value = 0;
                for (uint8_t byte : bitmap) {
                    value = value << 8 | byte;
                }
                targetRegion = value << 8;
                flags |= kFlagTargetRegion;
                break;
            }
            case si::kTagVideoDecodeControl:
                videoDecodeControl = static_cast<uint8_t>(reader.ReadUInt8());
                flags |= kFlagVideoDecodeControl;
                break;
            case si::kTagDataComponent:
                dataComponent = std::make_unique<ICSIDataComponent>(this);
                dataComponent->Parse(reader, descriptorLength);
                flags |= kFlagDataComponent;
                break;
            default:
                break;
        }
    });
    descriptorFlags = flags;
}

void ICSIPMT::ParseEmergencyInfo(ICSISectionReader& reader) {
    while (reader.GetRemaining() >= 4) {
        emergencyInfos.Add(new ICSIEmergencyInfo(this))->Parse(reader);
    }
}

void ICSIPMT::ParseBody(ICSISectionReader& reader) {
    pcrPid = static_cast<uint16_t>(reader.ReadUInt16() & si::kPidMask);

    // A descriptor whose length cannot be read ends the loop; what was read stays.
    const int32_t programInfoLength = reader.ReadUInt16() & 0x0FFF;
    uint32_t flags = descriptorFlags;
    reader.ParseDescriptors(programInfoLength, [&](uint8_t tag, int32_t) {
        switch (tag) {
            case si::kTagDigitalCopyControl:
                digitalCopyControl = ICSIDigitalCopyControl::Parse(this, reader);
                flags |= kFlagDigitalCopyControl;
                break;
            case si::kTagContentAvailability:
                contentAvailability = static_cast<uint8_t>(reader.ReadUInt8());
                flags |= kFlagContentAvailability;
                break;
            case si::kTagEmergencyInformation:
                ParseEmergencyInfo(reader);
                flags |= kFlagEmergencyInfo;
                break;
            default:
                break;
        }
    });
    descriptorFlags = flags;

    while (reader.GetPosition() < reader.GetLimit()) {
        const int32_t streamType = reader.ReadUInt8();
        const int32_t pidField = reader.ReadUInt16();
        const int32_t infoLength = reader.ReadUInt16();
        if (infoLength < 0) {
            break;
        }
        const uint16_t streamPid = static_cast<uint16_t>(pidField & si::kPidMask);
        if (ICSIES* old = FindES(streamPid)) {
            streams.Remove(old);
        }
        streams.Add(new ICSIES(this, static_cast<uint8_t>(streamType), streamPid))
            ->ParseDescriptors(reader, infoLength & 0x0FFF);
    }
}
