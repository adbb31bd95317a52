// The PAT and PMT handlers: the programs of the transport stream and their streams.

#include "sianalyzer/ICSIAnalyzerCore.h"

void ICSIAnalyzerCore::HandlePAT() {
    const ICSISection& section = *GetCurrentSection();
    const uint16_t tsid = section.tableIdExtension;
    {
        ICLockGuard guard(watchLock);
        if (transportStreamId.load() == 0) {
            transportStreamId.store(tsid);
        }
    }
    PostEvent(si::kEventPATSection, filterParam, tsid);
    ICSIPAT* pat = store->FindPAT(tsid);
    if (pat != nullptr && pat->IsComplete() && pat->StoredVersion() == section.versionNumber) {
        FlushNotify();
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (pat != nullptr) {
        {
            ICLockGuard guard(watchLock);
            for (int32_t i = 0; i < pat->GetProgramCount(); ++i) {
                watchTable[pat->GetPMTPID(i)] = 0;
            }
            if (currentPat == pat) {
                currentPat = nullptr;
            }
        }
        store->Discard(pat);
    }
    pat = store->Add(new ICSIPAT(store.get(), tsid, section.versionNumber));
    pat->ParseBody(reader);
    {
        ICLockGuard guard(watchLock);
        if (tsid == transportStreamId.load()) {
            currentPat = pat;
        }
        for (int32_t i = 0; i < pat->GetProgramCount(); ++i) {
            watchTable[pat->GetPMTPID(i)] = kWatchPMT;
        }
    }
    pat->MarkComplete();
    PostEvent(si::kEventPATStored, filterParam, tsid);
    store->EndReset();
    FlushNotify();
}

void ICSIAnalyzerCore::HandlePMT() {
    const ICSISection& section = *GetCurrentSection();
    const uint16_t tsid = transportStreamId.load();
    const uint16_t programNumber = section.tableIdExtension;
    const ICSIPAT* pat = tsid != 0 ? store->FindPAT(tsid) : nullptr;
    if (pat == nullptr) {
        return;
    }
    ICSIPMT* pmt = store->FindPMT(tsid, programNumber);
    bool listed = false;
    for (int32_t i = 0; i < pat->GetProgramCount(); ++i) {
        listed = listed || pat->GetPMTPID(i) == section.pid;
    }
    if (!listed) {
        if (pmt != nullptr) {
            ClearPMTWatch(pmt);
        }
        return;
    }
    PostEvent(si::kEventPMTSection, filterParam, static_cast<intptr_t>(tsid) << 16 | programNumber);
    const bool selected = autoSelect.load() && programNumber == selectedServiceId.load();
    if (pmt != nullptr && pmt->StoredVersion() == section.versionNumber) {
        if (pmt->IsComplete() && !engineeringLookedUp) {
            LookupEngineeringService();
        }
        if (pmt->HasSection(section.versionNumber, section.sectionNumber)) {
            if (pmt->IsComplete()) {
                FlushNotify();
            } else {
                DropNotify();
            }
            if (selected && (pcrPid.load() == 0 || videoPid.load() == 0 || audioPid.load() == 0)) {
                SelectStreams();
            }
            return;
        }
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (pmt != nullptr && pmt->StoredVersion() != section.versionNumber) {
        ClearPMTWatch(pmt);
        store->Discard(pmt);
        pmt = nullptr;
    }
    if (pmt == nullptr) {
        pmt = store->Add(new ICSIPMT(store.get(), tsid, programNumber));
    }
    pmt->SetPID(section.pid);
    pmt->RecordSection(section.versionNumber, section.sectionNumber, section.lastSectionNumber);
    pmt->ParseBody(reader);

    store->EndReset();
    if (!engineeringLookedUp) {
        LookupEngineeringService();
    }
    if (pmt->CompleteWhenAllIn()) {
        PostEvent(si::kEventPMTComplete, filterParam,
                  static_cast<intptr_t>(tsid) << 16 | programNumber);
    }
    if (selected) {
        SelectStreams();
    }
    FlushNotify();
}
