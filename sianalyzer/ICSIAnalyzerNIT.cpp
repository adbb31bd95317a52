// The NIT and SDT handlers: networks, transport streams and services.

#include "sianalyzer/ICSIAnalyzerCore.h"

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

    if (!nit->ParseBody(reader)) {
        Abandon(nit);
        return;
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
    sdt->SetTableID(section.tableId);
    if (!sdt->ParseBody(reader)) {
        Abandon(sdt);
        return;
    }

    store->EndReset();
    if (sdt->CompleteWhenAllIn()) {
        PostEvent(si::kEventSDTComplete, section.tableId, ids);
    }
    FlushNotify();
}
