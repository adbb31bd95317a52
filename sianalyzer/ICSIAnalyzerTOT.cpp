// The TOT, BIT and CDT handlers: broadcast time, broadcasters and common data (logos).

#include "core/CRC32.h"
#include "sianalyzer/ICSIAnalyzerCore.h"

void ICSIAnalyzerCore::HandleTOT() {
    ICSISection& section = *GetCurrentSection();
    if (CalcCRC32(section.GetData(), static_cast<size_t>(section.endPosition)) != 0) {
        return;
    }
    ICSITOT& tot = *store->GetTOT();
    if (!tot.ParseBody(reader)) {
        DropNotify();
        return;
    }
    if (HasNotify(si::kEventTOT.bit)) {
        uint16_t year = 0;
        uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
        tot.GetTOTTime(&year, &month, &day, &hour, &minute, &second);
        PostEvent(si::kEventTOT, year << 16 | month << 8 | day, hour << 16 | minute << 8 | second);
        FlushNotify();
    }
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

    if (!bitTable->ParseBody(reader)) {
        Abandon(bitTable);
        return;
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
    cdt->ParseBody(reader, static_cast<uint8_t>(dataType));

    store->EndReset();
    cdt->MarkComplete();
    PostEvent(si::kEventCDTStored, downloadDataId, details);
    FlushNotify();
}
