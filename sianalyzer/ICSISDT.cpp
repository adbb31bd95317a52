#include "sianalyzer/ICSISDT.h"

#include "sianalyzer/ICSISection.h"
#include "sianalyzer/SIConstants.h"

void ICSIService::ParseDescriptor(ICSISectionReader& reader, uint8_t tag, int32_t length) {
    switch (tag) {
        case si::kTagService: {
            serviceType = static_cast<uint8_t>(reader.ReadUInt8());
            providerName = reader.ReadText(reader.ReadUInt8());
            serviceName = reader.ReadText(reader.ReadUInt8());
            descriptorFlags |= kFlagService;
            break;
        }
        case si::kTagLinkage: {
            linkageTransportStreamId = static_cast<uint16_t>(reader.ReadUInt16());
            linkageOriginalNetworkId = static_cast<uint16_t>(reader.ReadUInt16());
            linkageServiceId = static_cast<uint16_t>(reader.ReadUInt16());
            linkageType = static_cast<uint8_t>(reader.ReadUInt8());
            linkagePrivateData.assign(reader.GetCurrent(),
                                      reader.GetCurrent() + reader.GetRemaining());
            descriptorFlags |= kFlagLinkage;
            break;
        }
        case si::kTagDigitalCopyControl:
            digitalCopyControl = ICSIDigitalCopyControl::Parse(this, reader);
            descriptorFlags |= kFlagDigitalCopyControl;
            break;
        case si::kTagLogoTransmission: {
            logoTransmissionType = static_cast<uint8_t>(reader.ReadUInt8());
            if (logoTransmissionType == 1) {
                logoId = static_cast<uint16_t>(reader.ReadUInt16() & 0x01FF);
                logoVersion = static_cast<uint16_t>(reader.ReadUInt16() & 0x0FFF);
                downloadDataId = static_cast<uint16_t>(reader.ReadUInt16());
            } else if (logoTransmissionType == 2) {
                logoId = static_cast<uint16_t>(reader.ReadUInt16() & 0x01FF);
            } else if (logoTransmissionType == 3) {
                logoChar = reader.ReadText(length - 1);
            }
            descriptorFlags |= kFlagLogoTransmission;
            break;
        }
        default:
            break;
    }
}

bool ICSIService::ParseDescriptors(ICSISectionReader& reader, int32_t length) {
    return reader.ParseDescriptors(length, [&](uint8_t tag, int32_t descriptorLength) {
        ParseDescriptor(reader, tag, descriptorLength);
    });
}

bool ICSISDT::ParseBody(ICSISectionReader& reader) {
    while (reader.GetPosition() < reader.GetLimit()) {
        const int32_t serviceId = reader.ReadUInt16();
        const int32_t eitFlags = reader.ReadUInt8();
        const int32_t field = reader.ReadUInt16();
        if (field < 0) {
            return false;
        }
        if (ICSIService* old = FindService(static_cast<uint16_t>(serviceId))) {
            services.Remove(old);
        }
        ICSIService* service = services.Add(new ICSIService(this, static_cast<uint16_t>(serviceId),
                                                            static_cast<uint8_t>(eitFlags),
                                                            static_cast<uint8_t>(field >> 12)));
        if (!service->ParseDescriptors(reader, field & 0x0FFF)) {
            return false;
        }
    }
    return true;
}
