// The TOT, BIT and CDT handlers: broadcast time, broadcasters and common data (logos).

#include "core/CRC32.h"
#include "sianalyzer/ICSIAnalyzerCore.h"

void ICSIAnalyzerCore::HandleTOT() {
    ICSISection& section = *GetCurrentSection();
    if (CalcCRC32(section.GetData(), static_cast<size_t>(section.endPosition)) != 0) {
        return;
    }
    ICSITOT& tot = *store->GetTOT();
    // The new values are collected first and stored in one step, so that a reader never sees
    // half a TOT.
    uint32_t flags = 0;
    char countryCode[4] = {};
    uint8_t regionPolarity = 0;
    int32_t localTimeOffset = 0;
    ICSIDateTime timeOfChange;
    int32_t nextTimeOffset = 0;
    const ICSIDateTime receiveTime = tot.Now();
    const ICSIDateTime totTime = ReadAribTime();
    const int32_t loopLength = reader.ReadUInt16() & 0x0FFF;
    const bool read = ParseDescriptors(loopLength, [&](uint8_t tag, int32_t) {
        if (tag != si::kTagLocalTimeOffset) {
            return;
        }
        flags |= ICSITOT::kFlagLocalTimeOffset;
        ReadLanguageCode(countryCode);
        regionPolarity = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
        localTimeOffset = sitime::MinutesFromBcd(static_cast<uint16_t>(reader.ReadUInt16()));
        timeOfChange = ReadAribTime();
        nextTimeOffset = sitime::MinutesFromBcd(static_cast<uint16_t>(reader.ReadUInt16()));
    });
    {
        std::lock_guard guard(tot.lock);
        tot.received = true;
        tot.flags = flags;
        tot.totTime = totTime;
        tot.receiveTime = receiveTime;
        std::memcpy(tot.countryCode, countryCode, sizeof countryCode);
        tot.regionPolarity = regionPolarity;
        tot.localTimeOffset = localTimeOffset;
        tot.timeOfChange = timeOfChange;
        tot.nextTimeOffset = nextTimeOffset;
    }
    if (!read) {
        DropNotify();
        return;
    }
    if (HasNotify(si::kEventTOT.bit)) {
        PostEvent(si::kEventTOT, totTime.year << 16 | totTime.month << 8 | totTime.day,
                  totTime.hour << 16 | totTime.minute << 8 | totTime.second);
        FlushNotify();
    }
}

std::unique_ptr<ICSISIParameter> ICSIAnalyzerCore::ParseSIParameter(void* owner, int32_t length,
                                                                    bool prime) {
    auto parameter = std::make_unique<ICSISIParameter>(owner);
    parameter->parameterVersion = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
    parameter->updateTime = static_cast<uint16_t>(reader.ReadUInt16());
    int32_t dataLength = length - 3;
    if (prime) {
        parameter->primeNetworkId = static_cast<uint16_t>(reader.ReadUInt16());
        parameter->primeTransportStreamId = static_cast<uint16_t>(reader.ReadUInt16());
        dataLength = length - 7;
    }
    dataLength = std::clamp(dataLength, 0, reader.GetRemaining());
    parameter->data.assign(reader.GetCurrent(), reader.GetCurrent() + dataLength);
    reader.Skip(dataLength);
    parameter->IndexTables();
    return parameter;
}

void ICSIAnalyzerCore::HandleBIT() {
    const ICSISection& section = *GetCurrentSection();
    const uint16_t onid = section.tableIdExtension;
    PostEvent(si::kEventBITSection, filterParam, onid);
    ICSIBIT* bitTable = store->FindBIT(onid);
    if (bitTable != nullptr && bitTable->HasSection(section.versionNumber, section.sectionNumber)) {
        if (!bitTable->HasAllSections()) {
            return;
        }
        if (bitTable->CompleteWhenAllIn()) {
            PostEvent(si::kEventBITComplete, filterParam, onid);
        }
        FlushNotify();
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (bitTable != nullptr && bitTable->StoredVersion() != section.versionNumber) {
        store->Discard(bitTable);
        bitTable = nullptr;
    }
    if (bitTable == nullptr) {
        bitTable = store->Add(new ICSIBIT(store.get(), onid));
    }
    bitTable->RecordSection(section.versionNumber, section.sectionNumber,
                            section.lastSectionNumber);

    auto abandon = [&] {
        store->Discard(bitTable);
        store->EndReset();
        DropNotify();
    };
    const int32_t field = reader.ReadUInt16();
    if (field < 0) {
        abandon();
        return;
    }
    bitTable->broadcastViewPropriety = static_cast<uint8_t>((field >> 12) & 1);
    bool seenDescriptor = false;
    uint32_t flags = bitTable->descriptorFlags;
    if (!ParseDescriptors(field & 0x0FFF, [&](uint8_t tag, int32_t length) {
            seenDescriptor = true;
            if (tag == si::kTagSIParameter) {
                bitTable->siParameters.Add(ParseSIParameter(bitTable, length, false).release());
                flags |= ICSIBIT::kFlagSIParameter;
            } else if (tag == si::kTagSIPrimeTS) {
                bitTable->siPrimeTS = ParseSIParameter(bitTable, length, true);
                flags |= ICSIBIT::kFlagSIPrimeTS;
            }
        })) {
        abandon();
        return;
    }
    bitTable->descriptorFlags = flags;

    const int32_t dataEnd = section.endPosition - 4;
    while (reader.GetPosition() < dataEnd) {
        const int32_t broadcasterId = reader.ReadUInt8();
        const int32_t descriptorsLength = reader.ReadUInt16();
        if (descriptorsLength < 0) {
            abandon();
            return;
        }
        if (ICSIBroadcaster* old = bitTable->FindBroadcaster(static_cast<uint8_t>(broadcasterId))) {
            bitTable->broadcasters.Remove(old);
        }
        ICSIBroadcaster* broadcaster = bitTable->broadcasters.Add(
            new ICSIBroadcaster(bitTable, static_cast<uint8_t>(broadcasterId)));
        const bool read = ParseDescriptors(descriptorsLength & 0x0FFF, [&](uint8_t tag,
                                                                           int32_t length) {
            seenDescriptor = true;
            switch (tag) {
                case si::kTagServiceList:
                    for (int32_t i = 0; i < length / 3 && reader.GetRemaining() >= 3; ++i) {
                        broadcaster->serviceIds.push_back(
                            static_cast<uint16_t>(reader.ReadUInt16()));
                        broadcaster->serviceTypes.push_back(
                            static_cast<uint8_t>(reader.ReadUInt8()));
                    }
                    break;
                case si::kTagExtendedBroadcaster: {
                    const int32_t head = std::max(reader.ReadUInt8(), 0);
                    broadcaster->broadcasterType = static_cast<uint8_t>(head >> 4);
                    if (broadcaster->broadcasterType != 1) {
                        break;
                    }
                    broadcaster->terrestrialBroadcasterId =
                        static_cast<uint16_t>(reader.ReadUInt16());
                    const int32_t counts = std::max(reader.ReadUInt8(), 0);
                    for (int32_t i = 0; i < (counts >> 4) && reader.GetRemaining() >= 1; ++i) {
                        broadcaster->affiliationIds.push_back(
                            static_cast<uint8_t>(reader.ReadUInt8()));
                    }
                    for (int32_t i = 0; i < (counts & 0x0F) && reader.GetRemaining() >= 3; ++i) {
                        broadcaster->refOriginalNetworkIds.push_back(
                            static_cast<uint16_t>(reader.ReadUInt16()));
                        broadcaster->refBroadcasterIds.push_back(
                            static_cast<uint8_t>(reader.ReadUInt8()));
                    }
                    break;
                }
                case si::kTagSIParameter:
                    broadcaster->siParameters.Add(
                        ParseSIParameter(broadcaster, length, false).release());
                    break;
                case si::kTagBroadcasterName:
                    broadcaster->broadcasterName = ReadText(length);
                    break;
                default:
                    break;
            }
        });
        if (!read) {
            abandon();
            return;
        }
        broadcaster->hasDescriptors = seenDescriptor ? 1 : 0;
    }

    store->EndReset();
    if (bitTable->CompleteWhenAllIn()) {
        PostEvent(si::kEventBITComplete, filterParam, onid);
    }
    FlushNotify();
}

void ICSIAnalyzerCore::HandleCDT() {
    const ICSISection& section = *GetCurrentSection();
    const uint16_t downloadDataId = section.tableIdExtension;
    const int32_t onid = reader.ReadUInt16();
    const int32_t dataType = reader.ReadUInt8();
    if (dataType < 0) {
        return;
    }
    const intptr_t details =
        static_cast<intptr_t>(onid) << 16 | dataType << 8 | section.sectionNumber;
    PostEvent(si::kEventCDTSection, downloadDataId, details);
    ICSICDT* cdt = store->FindCDT(static_cast<uint16_t>(onid), downloadDataId);
    if (cdt != nullptr && cdt->HasSection(section.versionNumber, section.sectionNumber)) {
        FlushNotify();
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (cdt != nullptr && cdt->StoredVersion() != section.versionNumber) {
        store->Discard(cdt);
        cdt = nullptr;
    }
    if (cdt == nullptr) {
        cdt = store->Add(new ICSICDT(store.get(), static_cast<uint16_t>(onid), downloadDataId));
    }
    cdt->RecordSection(section.versionNumber, section.sectionNumber, section.lastSectionNumber);
    cdt->dataType = static_cast<uint8_t>(dataType);
    reader.Skip(reader.ReadUInt16() & 0x0FFF);

    const int32_t moduleLength = std::max(section.endPosition - 4 - reader.GetPosition(), 0);
    if (dataType == 1) {
        auto logo = std::make_unique<ICSILogo>(cdt);
        logo->logoType = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
        const int32_t logoId = reader.ReadUInt16();
        logo->logoId = logoId < 0 ? -1 : logoId & 0x01FF;
        // reserved_future_use in the top 4 bits, logo_version in the low 12.
        logo->logoVersion = static_cast<uint16_t>(reader.ReadUInt16() & 0x0FFF);
        logo->dataSize = static_cast<uint16_t>(std::max(reader.ReadUInt16(), 0));
        const int32_t size =
            std::clamp(static_cast<int32_t>(logo->dataSize), 0,
                       std::max(section.endPosition - 4 - reader.GetPosition(), 0));
        logo->data.assign(reader.GetCurrent(), reader.GetCurrent() + size);
        reader.Skip(size);
        cdt->logo = std::move(logo);
    } else {
        cdt->data.assign(reader.GetCurrent(), reader.GetCurrent() + moduleLength);
    }

    store->EndReset();
    cdt->MarkComplete();
    PostEvent(si::kEventCDTStored, downloadDataId, details);
    FlushNotify();
}
