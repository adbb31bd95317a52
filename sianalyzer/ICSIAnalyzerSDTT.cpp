// The software download trigger table (SDTT): per maker and model, the announced software
// downloads with their schedules and download content descriptors.

#include "sianalyzer/ICSIAnalyzerCore.h"

void ICSIAnalyzerCore::HandleSDTT() {
    const ICSISection& section = *GetCurrentSection();
    const uint16_t key = section.tableIdExtension;
    const int32_t tsid = reader.ReadUInt16();
    const int32_t onid = reader.ReadUInt16();
    const int32_t serviceId = reader.ReadUInt16();
    if (serviceId < 0) {
        return;
    }
    const intptr_t param1 =
        static_cast<intptr_t>(static_cast<uint32_t>(key) << 16 | static_cast<uint32_t>(onid));
    const intptr_t param2 =
        static_cast<intptr_t>(static_cast<uint32_t>(tsid) << 16 | static_cast<uint32_t>(serviceId));
    PostEvent(si::kEventSDTTSection, param1, param2);
    auto markComplete = [&](ICSISDTT* sdtt) {
        if (sdtt->CompleteWhenAllIn()) {
            PostEvent(si::kEventSDTTComplete, param1, param2);
        }
    };

    ICSISDTT* sdtt = store->FindSDTT(key);
    if (sdtt != nullptr && sdtt->GetVersion() == section.versionNumber &&
        sdtt->HasSection(section.sectionNumber)) {
        markComplete(sdtt);
        FlushNotify();
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (sdtt != nullptr && sdtt->GetVersion() != section.versionNumber) {
        store->Discard(sdtt);
        sdtt = nullptr;
    }
    const bool created = sdtt == nullptr;
    if (created) {
        sdtt = store->Add(new ICSISDTT(store.get(), key));
    }
    sdtt->RecordSection(section.versionNumber, section.sectionNumber, section.lastSectionNumber);
    sdtt->SetService(static_cast<uint16_t>(onid), static_cast<uint16_t>(tsid),
                     static_cast<uint16_t>(serviceId));
    // A table that has just been created and brings no contents is not kept.
    if (!sdtt->ParseBody(reader, !created)) {
        Abandon(sdtt);
        return;
    }

    store->EndReset();
    markComplete(sdtt);
    FlushNotify();
}
