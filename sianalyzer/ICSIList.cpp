#include "sianalyzer/ICSIList.h"

#include <chrono>
#include <thread>

namespace {

uint64_t TickCount() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Polls `busy` with zero-length sleeps for at most `limit` ms; true when it became false.
template <typename Busy>
bool WaitWhile(Busy busy, uint32_t limit) {
    const uint64_t deadline = TickCount() + limit;
    while (busy()) {
        if (TickCount() >= deadline) {
            return !busy();
        }
        std::this_thread::yield();
    }
    return true;
}

}  // namespace

ICSIList::ICSIList() : tot(std::make_unique<ICSITOT>(this)) {}

ICSIList::~ICSIList() = default;

HRESULT ICSIList::QueryInterface(REFIID, void** object) {
    if (object) {
        *object = nullptr;
    }
    return E_NOINTERFACE;
}

ULONG ICSIList::AddRef() {
    for (;;) {
        while (resetting.load() != 0) {
            std::this_thread::yield();
        }
        const int32_t count = lockCount.fetch_add(1) + 1;
        // The writer sets `resetting` before it looks at the count: if it has set it in
        // between, this hold steps back and waits until the writer is done.
        if (resetting.load() == 0) {
            return static_cast<ULONG>(count);
        }
        lockCount.fetch_sub(1);
    }
}

ULONG ICSIList::Release() {
    int32_t count = lockCount.load();
    for (;;) {
        const int32_t next = count <= 1 ? 0 : count - 1;
        if (lockCount.compare_exchange_weak(count, next)) {
            return static_cast<ULONG>(next);
        }
    }
}

bool ICSIList::WaitForHolds(int32_t holds) {
    return WaitWhile(
        [&] {
            if (lockCount.load() > holds) {
                return true;
            }
            resetting.store(1);
            if (lockCount.load() <= holds) {
                return false;
            }
            resetting.store(0);
            return true;
        },
        kWaitLimit);
}

bool ICSIList::BeginReset() {
    if (resetting.load() != 0) {
        return true;
    }
    if (WaitForHolds(0)) {
        return true;
    }
    resetting.store(0);
    return false;
}

void ICSIList::BeginUpdate() {
    WaitWhile([&] { return removing.load() != 0; }, kWaitLimit);
    writerLock.lock();
    updating.store(1);
}

void ICSIList::EndUpdate() {
    updating.store(0);
    writerLock.unlock();
}

template <typename Remove>
int32_t ICSIList::RemoveGuarded(Remove remove) {
    removing.store(1);
    int32_t result = 0;
    // The writer lock is polled like every other wait of the store.
    if (WaitWhile([&] { return updating.load() != 0; }, kWaitLimit) &&
        WaitWhile([&] { return !writerLock.try_lock(); }, kWaitLimit)) {
        // The caller's own hold counts as one.
        if (WaitForHolds(1)) {
            result = remove();
            resetting.store(0);
        } else {
            resetting.store(0);
        }
        writerLock.unlock();
    }
    removing.store(0);
    return result;
}

void ICSIList::Clear() {
    RemoveGuarded([&] {
        patList.Clear();
        pmtList.Clear();
        nitList.Clear();
        sdtList.Clear();
        bitList.Clear();
        eitList.Clear();
        sdttList.Clear();
        cdtList.Clear();
        downloadList.Clear();
        return 1;
    });
}

ICSITOT* ICSIList::GetTOT() {
    return tot.get();
}

// --- PAT
int32_t ICSIList::GetPATCount() {
    return patList.GetCount();
}
ICSIPAT* ICSIList::GetPAT(int32_t index) {
    return patList.GetAt(index);
}
ICSIPAT* ICSIList::FindPAT(uint16_t transportStreamId) {
    return patList.FindIf(
        [&](const ICSIPAT& pat) { return pat.GetTransportStreamID() == transportStreamId; });
}
int32_t ICSIList::RemovePAT(uint16_t transportStreamId) {
    return RemoveGuarded([&] { return patList.Remove(FindPAT(transportStreamId)) ? 1 : 0; });
}

// --- PMT
int32_t ICSIList::GetPMTCount() {
    return pmtList.GetCount();
}
ICSIPMT* ICSIList::GetPMT(int32_t index) {
    return pmtList.GetAt(index);
}
ICSIPMT* ICSIList::FindPMT(uint16_t transportStreamId, uint16_t programNumber) {
    return pmtList.FindIf([&](const ICSIPMT& pmt) {
        return pmt.GetTransportStreamID() == transportStreamId &&
               pmt.GetProgramNumber() == programNumber;
    });
}
int32_t ICSIList::RemovePMT(uint16_t transportStreamId, uint16_t programNumber) {
    return RemoveGuarded(
        [&] { return pmtList.Remove(FindPMT(transportStreamId, programNumber)) ? 1 : 0; });
}

// --- NIT
int32_t ICSIList::GetNITCount() {
    return nitList.GetCount();
}
ICSINIT* ICSIList::GetNIT(int32_t index) {
    return nitList.GetAt(index);
}
ICSINIT* ICSIList::FindNIT(uint16_t networkId) {
    return nitList.FindIf([&](const ICSINIT& nit) { return nit.GetNetworkID() == networkId; });
}
ICSITS* ICSIList::FindTS(uint16_t transportStreamId) {
    for (const ICSINIT* nit : nitList) {
        if (ICSITS* ts = nit->FindTS(transportStreamId)) {
            return ts;
        }
    }
    return nullptr;
}
int32_t ICSIList::RemoveNIT(uint16_t networkId) {
    return RemoveGuarded([&] { return nitList.Remove(FindNIT(networkId)) ? 1 : 0; });
}

// --- SDT
int32_t ICSIList::GetSDTCount() {
    return sdtList.GetCount();
}
ICSISDT* ICSIList::GetSDT(int32_t index) {
    return sdtList.GetAt(index);
}
ICSISDT* ICSIList::FindSDT(uint16_t originalNetworkId, uint16_t transportStreamId) {
    return sdtList.FindIf([&](const ICSISDT& sdt) {
        return (originalNetworkId == 0 || sdt.GetOriginalNetworkID() == originalNetworkId) &&
               sdt.GetTransportStreamID() == transportStreamId;
    });
}
int32_t ICSIList::RemoveSDT(uint16_t originalNetworkId, uint16_t transportStreamId) {
    return RemoveGuarded(
        [&] { return sdtList.Remove(FindSDT(originalNetworkId, transportStreamId)) ? 1 : 0; });
}

// --- BIT
int32_t ICSIList::GetBITCount() {
    return bitList.GetCount();
}
ICSIBIT* ICSIList::GetBIT(int32_t index) {
    return bitList.GetAt(index);
}
ICSIBIT* ICSIList::FindBIT(uint16_t originalNetworkId) {
    return bitList.FindIf(
        [&](const ICSIBIT& bit) { return bit.GetOriginalNetworkID() == originalNetworkId; });
}
int32_t ICSIList::RemoveBIT(uint16_t originalNetworkId) {
    return RemoveGuarded([&] { return bitList.Remove(FindBIT(originalNetworkId)) ? 1 : 0; });
}

// --- EIT
int32_t ICSIList::GetEITCount() {
    return eitList.GetCount();
}
ICSIEIT* ICSIList::GetEIT(int32_t index) {
    return eitList.GetAt(index);
}
ICSIEIT* ICSIList::FindEIT(uint16_t originalNetworkId, uint16_t transportStreamId,
                           uint16_t serviceId) {
    return eitList.FindIf([&](const ICSIEIT& eit) {
        return eit.GetServiceID() == serviceId && eit.GetTransportStreamID() == transportStreamId &&
               (originalNetworkId == 0 || eit.GetOriginalNetworkID() == originalNetworkId);
    });
}
int32_t ICSIList::RemoveEIT(uint16_t originalNetworkId, uint16_t transportStreamId,
                            uint16_t serviceId) {
    return RemoveGuarded([&] {
        return eitList.Remove(FindEIT(originalNetworkId, transportStreamId, serviceId)) ? 1 : 0;
    });
}

// --- CDT
int32_t ICSIList::GetCDTCount() {
    return cdtList.GetCount();
}
ICSICDT* ICSIList::GetCDT(int32_t index) {
    return cdtList.GetAt(index);
}
ICSICDT* ICSIList::FindCDT(uint16_t originalNetworkId, uint16_t downloadDataId) {
    return cdtList.FindIf([&](const ICSICDT& cdt) {
        return cdt.GetOriginalNetworkID() == originalNetworkId &&
               cdt.GetDownloadDataID() == downloadDataId;
    });
}
int32_t ICSIList::RemoveCDT(uint16_t originalNetworkId, uint16_t downloadDataId) {
    return RemoveGuarded(
        [&] { return cdtList.Remove(FindCDT(originalNetworkId, downloadDataId)) ? 1 : 0; });
}

// --- SDTT
int32_t ICSIList::GetSDTTCount() {
    return sdttList.GetCount();
}
ICSISDTT* ICSIList::GetSDTT(int32_t index) {
    return sdttList.GetAt(index);
}
ICSISDTT* ICSIList::FindSDTT(uint16_t key) {
    return sdttList.FindIf([&](const ICSISDTT& sdtt) { return sdtt.GetKey() == key; });
}
int32_t ICSIList::RemoveSDTT(uint16_t key) {
    return RemoveGuarded([&] { return sdttList.Remove(FindSDTT(key)) ? 1 : 0; });
}

// --- downloads
int32_t ICSIList::GetDownloadCount() {
    return downloadList.GetCount();
}
ICSIDownload* ICSIList::GetDownload(int32_t index) {
    return downloadList.GetAt(index);
}
ICSIDownload* ICSIList::FindDownload(uint32_t downloadId) {
    return downloadList.FindIf(
        [&](const ICSIDownload& download) { return download.GetDownloadID() == downloadId; });
}
int32_t ICSIList::RemoveDownload(uint32_t downloadId) {
    return RemoveGuarded([&] { return downloadList.Remove(FindDownload(downloadId)) ? 1 : 0; });
}
