// The NIT and SDT handlers: networks, transport streams and services.

#include "sianalyzer/ICSIAnalyzerCore.h"

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

void ICSIAnalyzerCore::ParseTSDescriptor(ICSITS* ts, uint8_t tag, int32_t length) {
    switch (tag) {
        case si::kTagServiceList: {
            ts->serviceIds.clear();
            ts->serviceTypes.clear();
            for (int32_t i = 0; i < length / 3; ++i) {
                const int32_t serviceId = reader.ReadUInt16();
                const int32_t serviceType = reader.ReadUInt8();
                if (serviceType < 0) {
                    break;
                }
                ts->serviceIds.push_back(static_cast<uint16_t>(serviceId));
                ts->serviceTypes.push_back(static_cast<uint8_t>(serviceType));
            }
            ts->descriptorFlags |= ICSITS::kFlagServiceList;
            break;
        }
        case si::kTagSatelliteDelivery: {
            const int64_t frequency = reader.ReadUInt32();
            // The BCD frequency counts 10 kHz units; kept in kHz.
            ts->frequencies.assign(
                1, frequency < 0 ? 0 : BcdDigits(static_cast<uint32_t>(frequency)) * 10);
            ts->orbitalPosition = static_cast<uint16_t>(reader.ReadUInt16());
            ts->satelliteFlags = static_cast<uint8_t>(reader.ReadUInt8());
            ts->symbolRateWord = static_cast<uint32_t>(reader.ReadUInt32());
            ts->descriptorFlags |= ICSITS::kFlagSatelliteDelivery;
            break;
        }
        case si::kTagTSInformation: {
            ts->remoteControlKeyId = static_cast<uint8_t>(reader.ReadUInt8());
            const int32_t lengths = reader.ReadUInt8();
            if (lengths < 0) {
                break;
            }
            ts->tsName = ReadText(lengths >> 2);
            ts->layers.Clear();
            for (int32_t i = 0; i < (lengths & 3); ++i) {
                const int32_t typeInfo = reader.ReadUInt8();
                const int32_t serviceCount = reader.ReadUInt8();
                if (serviceCount < 0) {
                    break;
                }
                ICSILayer* layer = ts->layers.Add(new ICSILayer(ts));
                layer->transmissionTypeInfo = static_cast<uint8_t>(typeInfo);
                for (int32_t j = 0; j < serviceCount; ++j) {
                    const int32_t serviceId = reader.ReadUInt16();
                    if (serviceId < 0) {
                        break;
                    }
                    layer->serviceIds.push_back(static_cast<uint16_t>(serviceId));
                }
            }
            ts->descriptorFlags |= ICSITS::kFlagTSInformation;
            break;
        }
        case si::kTagTerrestrialDelivery: {
            ts->terrestrialInfo = static_cast<uint16_t>(reader.ReadUInt16());
            ts->frequencies.clear();
            // Frequencies count 1/7 MHz units; the store keeps the field times 7.
            for (int32_t i = 0; i < (length - 2) / 2; ++i) {
                const int32_t frequency = reader.ReadUInt16();
                if (frequency < 0) {
                    break;
                }
                ts->frequencies.push_back(static_cast<uint32_t>(frequency) * 7);
            }
            ts->descriptorFlags |= ICSITS::kFlagTerrestrialDelivery;
            break;
        }
        case si::kTagPartialReception: {
            ts->partialReception.clear();
            for (int32_t i = 0; i < length / 2; ++i) {
                const int32_t serviceId = reader.ReadUInt16();
                if (serviceId < 0) {
                    break;
                }
                ts->partialReception.push_back(static_cast<uint16_t>(serviceId));
            }
            ts->descriptorFlags |= ICSITS::kFlagPartialReception;
            break;
        }
        default:
            break;
    }
}

void ICSIAnalyzerCore::AutoSelectFirstService(ICSINIT* nit) {
    if (!autoSelect.load() || selectedServiceId.load() != 0) {
        return;
    }
    const ICSITS* ts = nit->FindTS(transportStreamId.load());
    if (ts == nullptr || ts->GetServiceCount() == 0 || ts->GetServiceID(0) == 0) {
        return;
    }
    SetServiceID(ts->GetServiceID(0), true);
}

void ICSIAnalyzerCore::HandleNIT() {
    const ICSISection& section = *GetCurrentSection();
    const uint16_t id = section.tableIdExtension;
    PostEvent(si::kEventNITSection, section.tableId, id);
    ICSINIT* nit = store->FindNIT(id);
    if (nit != nullptr && nit->HasSection(section.versionNumber, section.sectionNumber)) {
        if (nit->CompleteWhenAllIn()) {
            PostEvent(si::kEventNITComplete, section.tableId, id);
        }
        // Each section is announced: the queued events go out with the repetition too.
        FlushNotify();
        if (!engineeringLookedUp) {
            LookupEngineeringService();
        }
        AutoSelectFirstService(nit);
        return;
    }
    if (!store->BeginReset()) {
        return;
    }
    if (nit != nullptr && nit->StoredVersion() != section.versionNumber) {
        store->Discard(nit);
        nit = nullptr;
    }
    if (nit == nullptr) {
        nit = store->Add(new ICSINIT(store.get(), id));
    }
    nit->RecordSection(section.versionNumber, section.sectionNumber, section.lastSectionNumber);
    networkId.store(id);

    auto abandon = [&] {
        store->Discard(nit);
        store->EndReset();
        DropNotify();
    };
    const int32_t networkDescriptorsLength = reader.ReadUInt16() & 0x0FFF;
    uint32_t flags = nit->descriptorFlags;
    const bool networkLoopRead =
        ParseDescriptors(networkDescriptorsLength, [&](uint8_t tag, int32_t length) {
            if (tag == si::kTagNetworkName) {
                nit->networkName = ReadText(length);
                flags |= ICSINIT::kFlagNetworkName;
            } else if (tag == si::kTagSystemManagement) {
                nit->systemManagementId = static_cast<uint16_t>(reader.ReadUInt16());
                nit->additionalInfo.assign(reader.GetCurrent(),
                                           reader.GetCurrent() + reader.GetRemaining());
                flags |= ICSINIT::kFlagSystemManagement;
            }
        });
    if (!networkLoopRead) {
        abandon();
        return;
    }
    nit->descriptorFlags = flags;

    const int32_t loopLength = reader.ReadUInt16() & 0x0FFF;
    const int32_t loopEnd = std::min(reader.GetPosition() + loopLength, section.endPosition - 4);
    while (reader.GetPosition() < loopEnd) {
        const int32_t tsid = reader.ReadUInt16();
        const int32_t onid = reader.ReadUInt16();
        const int32_t descriptorsLength = reader.ReadUInt16();
        if (descriptorsLength < 0) {
            abandon();
            return;
        }
        if (ICSITS* old = nit->FindTS(static_cast<uint16_t>(tsid))) {
            nit->transportStreams.Remove(old);
        }
        ICSITS* ts = nit->transportStreams.Add(
            new ICSITS(nit, static_cast<uint16_t>(tsid), static_cast<uint16_t>(onid)));
        if (!ParseDescriptors(descriptorsLength & 0x0FFF, [&](uint8_t tag, int32_t length) {
                ParseTSDescriptor(ts, tag, length);
            })) {
            abandon();
            return;
        }
    }

    store->EndReset();
    if (!engineeringLookedUp) {
        LookupEngineeringService();
    }
    if (nit->CompleteWhenAllIn()) {
        PostEvent(si::kEventNITComplete, section.tableId, id);
        AutoSelectFirstService(nit);
    }
    FlushNotify();
}

void ICSIAnalyzerCore::ParseServiceDescriptor(ICSIService* service, uint8_t tag, int32_t length) {
    switch (tag) {
        case si::kTagService: {
            service->serviceType = static_cast<uint8_t>(reader.ReadUInt8());
            service->providerName = ReadText(reader.ReadUInt8());
            service->serviceName = ReadText(reader.ReadUInt8());
            service->descriptorFlags |= ICSIService::kFlagService;
            break;
        }
        case si::kTagLinkage: {
            service->linkageTransportStreamId = static_cast<uint16_t>(reader.ReadUInt16());
            service->linkageOriginalNetworkId = static_cast<uint16_t>(reader.ReadUInt16());
            service->linkageServiceId = static_cast<uint16_t>(reader.ReadUInt16());
            service->linkageType = static_cast<uint8_t>(reader.ReadUInt8());
            service->linkagePrivateData.assign(reader.GetCurrent(),
                                               reader.GetCurrent() + reader.GetRemaining());
            service->descriptorFlags |= ICSIService::kFlagLinkage;
            break;
        }
        case si::kTagDigitalCopyControl:
            service->digitalCopyControl = ICSIDigitalCopyControl::Parse(service, reader);
            service->descriptorFlags |= ICSIService::kFlagDigitalCopyControl;
            break;
        case si::kTagLogoTransmission: {
            service->logoTransmissionType = static_cast<uint8_t>(reader.ReadUInt8());
            if (service->logoTransmissionType == 1) {
                service->logoId = static_cast<uint16_t>(reader.ReadUInt16() & 0x01FF);
                service->logoVersion = static_cast<uint16_t>(reader.ReadUInt16() & 0x0FFF);
                service->downloadDataId = static_cast<uint16_t>(reader.ReadUInt16());
            } else if (service->logoTransmissionType == 2) {
                service->logoId = static_cast<uint16_t>(reader.ReadUInt16() & 0x01FF);
            } else if (service->logoTransmissionType == 3) {
                service->logoChar = ReadText(length - 1);
            }
            service->descriptorFlags |= ICSIService::kFlagLogoTransmission;
            break;
        }
        default:
            break;
    }
}

void ICSIAnalyzerCore::HandleSDT() {
    const ICSISection& section = *GetCurrentSection();
    const uint16_t tsid = section.tableIdExtension;
    const uint16_t onid = static_cast<uint16_t>(reader.ReadUInt16());
    reader.Skip(1);
    if (section.tableId == si::kTableSDTActual && networkId.load() != onid) {
        networkId.store(onid);
    }
    const intptr_t ids = static_cast<intptr_t>(onid) << 16 | tsid;
    PostEvent(si::kEventSDTSection, section.tableId, ids);
    ICSISDT* sdt = store->FindSDT(onid, tsid);
    if (sdt != nullptr && sdt->GetOriginalNetworkID() != onid) {
        sdt = nullptr;
    }
    if (sdt != nullptr && sdt->HasSection(section.versionNumber, section.sectionNumber)) {
        if (!sdt->HasAllSections()) {
            return;
        }
        if (sdt->CompleteWhenAllIn()) {
            PostEvent(si::kEventSDTComplete, section.tableId, ids);
        }
        FlushNotify();
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (sdt != nullptr && sdt->StoredVersion() != section.versionNumber) {
        store->Discard(sdt);
        sdt = nullptr;
    }
    if (sdt == nullptr) {
        sdt = store->Add(new ICSISDT(store.get(), onid, tsid));
    }
    sdt->RecordSection(section.versionNumber, section.sectionNumber, section.lastSectionNumber);
    sdt->tableId = section.tableId;

    auto abandon = [&] {
        store->Discard(sdt);
        store->EndReset();
        DropNotify();
    };
    const int32_t dataEnd = section.endPosition - 4;
    while (reader.GetPosition() < dataEnd) {
        const int32_t serviceId = reader.ReadUInt16();
        const int32_t eitFlags = reader.ReadUInt8();
        const int32_t field = reader.ReadUInt16();
        if (field < 0) {
            abandon();
            return;
        }
        if (ICSIService* old = sdt->FindService(static_cast<uint16_t>(serviceId))) {
            sdt->services.Remove(old);
        }
        ICSIService* service =
            sdt->services.Add(new ICSIService(sdt, static_cast<uint16_t>(serviceId)));
        service->eitFlags = static_cast<uint8_t>(eitFlags);
        service->status = static_cast<uint8_t>(field >> 12);
        if (!ParseDescriptors(field & 0x0FFF, [&](uint8_t tag, int32_t length) {
                ParseServiceDescriptor(service, tag, length);
            })) {
            abandon();
            return;
        }
    }

    store->EndReset();
    if (sdt->CompleteWhenAllIn()) {
        PostEvent(si::kEventSDTComplete, section.tableId, ids);
    }
    FlushNotify();
}
