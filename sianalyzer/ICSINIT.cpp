#include "sianalyzer/ICSINIT.h"

#include "sianalyzer/ICSIList.h"
#include "sianalyzer/ICSISection.h"
#include "sianalyzer/SIConstants.h"

namespace {

// Eight BCD digits read digit by digit as a decimal number (no validation).
uint32_t BcdDigits(uint32_t bcd) {
    uint32_t value = 0;
    for (int shift = 28; shift >= 0; shift -= 4) {
        value = value * 10 + ((bcd >> shift) & 0x0F);
    }
    return value;
}

}  // namespace

int32_t ICSITS::IsServiceAvailable(uint16_t serviceId) const {
    int32_t index = -1;
    for (size_t i = 0; i < serviceIds.size(); ++i) {
        if (serviceIds[i] == serviceId) {
            index = static_cast<int32_t>(i);
            break;
        }
    }
    if (index < 0) {
        return -2;
    }
    ICSIList* store = owner->GetOwner();
    const ICSIPAT* pat = store->FindPAT(transportStreamId);
    if (pat == nullptr) {
        return -1;
    }
    if (pat->FindPMTPID(serviceId) < 0) {
        return 0;
    }
    if (serviceTypes[index] == si::kServiceTypeData &&
        store->FindPMT(transportStreamId, serviceId) == nullptr) {
        return 0;
    }
    return 1;
}

void ICSILayer::ParseServiceIDs(ICSISectionReader& reader, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const int32_t serviceId = reader.ReadUInt16();
        if (serviceId < 0) {
            break;
        }
        serviceIds.push_back(static_cast<uint16_t>(serviceId));
    }
}

void ICSITS::ParseDescriptor(ICSISectionReader& reader, uint8_t tag, int32_t length) {
    switch (tag) {
        case si::kTagServiceList: {
            serviceIds.clear();
            serviceTypes.clear();
            for (int32_t i = 0; i < length / 3; ++i) {
                const int32_t serviceId = reader.ReadUInt16();
                const int32_t serviceType = reader.ReadUInt8();
                if (serviceType < 0) {
                    break;
                }
                serviceIds.push_back(static_cast<uint16_t>(serviceId));
                serviceTypes.push_back(static_cast<uint8_t>(serviceType));
            }
            descriptorFlags |= kFlagServiceList;
            break;
        }
        case si::kTagSatelliteDelivery: {
            const int64_t frequency = reader.ReadUInt32();
            // The BCD frequency counts 10 kHz units; kept in kHz.
            frequencies.assign(
                1, frequency < 0 ? 0 : BcdDigits(static_cast<uint32_t>(frequency)) * 10);
            orbitalPosition = static_cast<uint16_t>(reader.ReadUInt16());
            satelliteFlags = static_cast<uint8_t>(reader.ReadUInt8());
            symbolRateWord = static_cast<uint32_t>(reader.ReadUInt32());
            descriptorFlags |= kFlagSatelliteDelivery;
            break;
        }
        case si::kTagTSInformation: {
            remoteControlKeyId = static_cast<uint8_t>(reader.ReadUInt8());
            const int32_t lengths = reader.ReadUInt8();
            if (lengths < 0) {
                break;
            }
            tsName = reader.ReadText(lengths >> 2);
            layers.Clear();
            for (int32_t i = 0; i < (lengths & 3); ++i) {
                const int32_t typeInfo = reader.ReadUInt8();
                const int32_t serviceCount = reader.ReadUInt8();
                if (serviceCount < 0) {
                    break;
                }
                layers.Add(new ICSILayer(this, static_cast<uint8_t>(typeInfo)))
                    ->ParseServiceIDs(reader, serviceCount);
            }
            descriptorFlags |= kFlagTSInformation;
            break;
        }
        case si::kTagTerrestrialDelivery: {
            terrestrialInfo = static_cast<uint16_t>(reader.ReadUInt16());
            frequencies.clear();
            // Frequencies count 1/7 MHz units; the store keeps the field times 7.
            for (int32_t i = 0; i < (length - 2) / 2; ++i) {
                const int32_t frequency = reader.ReadUInt16();
                if (frequency < 0) {
                    break;
                }
                frequencies.push_back(static_cast<uint32_t>(frequency) * 7);
            }
            descriptorFlags |= kFlagTerrestrialDelivery;
            break;
        }
        case si::kTagPartialReception: {
            partialReception.clear();
            for (int32_t i = 0; i < length / 2; ++i) {
                const int32_t serviceId = reader.ReadUInt16();
                if (serviceId < 0) {
                    break;
                }
                partialReception.push_back(static_cast<uint16_t>(serviceId));
            }
            descriptorFlags |= kFlagPartialReception;
            break;
        }
        default:
            break;
    }
}

bool ICSITS::ParseDescriptors(ICSISectionReader& reader, int32_t length) {
    return reader.ParseDescriptors(length, [&](uint8_t tag, int32_t descriptorLength) {
        ParseDescriptor(reader, tag, descriptorLength);
    });
}

bool ICSINIT::ParseBody(ICSISectionReader& reader) {
    const int32_t networkDescriptorsLength = reader.ReadUInt16() & 0x0FFF;
    uint32_t flags = descriptorFlags;
    const bool networkLoopRead =
        reader.ParseDescriptors(networkDescriptorsLength, [&](uint8_t tag, int32_t length) {
            if (tag == si::kTagNetworkName) {
                networkName = reader.ReadText(length);
                flags |= kFlagNetworkName;
            } else if (tag == si::kTagSystemManagement) {
                systemManagementId = static_cast<uint16_t>(reader.ReadUInt16());
                additionalInfo.assign(reader.GetCurrent(),
                                      reader.GetCurrent() + reader.GetRemaining());
                flags |= kFlagSystemManagement;
            }
        });
    if (!networkLoopRead) {
        return false;
    }
    descriptorFlags = flags;

    const int32_t loopLength = reader.ReadUInt16() & 0x0FFF;
    const int32_t loopEnd = std::min(reader.GetPosition() + loopLength, reader.GetLimit());
    while (reader.GetPosition() < loopEnd) {
        const int32_t tsid = reader.ReadUInt16();
        const int32_t onid = reader.ReadUInt16();
        const int32_t descriptorsLength = reader.ReadUInt16();
        if (descriptorsLength < 0) {
            return false;
        }
        if (ICSITS* old = FindTS(static_cast<uint16_t>(tsid))) {
            transportStreams.Remove(old);
        }
        ICSITS* ts = transportStreams.Add(
            new ICSITS(this, static_cast<uint16_t>(tsid), static_cast<uint16_t>(onid)));
        if (!ts->ParseDescriptors(reader, descriptorsLength & 0x0FFF)) {
            return false;
        }
    }
    return true;
}
