#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <type_traits>

#include "platform/com/Unknown.h"
#include "sianalyzer/ICSIBIT.h"
#include "sianalyzer/ICSICDT.h"
#include "sianalyzer/ICSIDownload.h"
#include "sianalyzer/ICSIEIT.h"
#include "sianalyzer/ICSIItemList.h"
#include "sianalyzer/ICSINIT.h"
#include "sianalyzer/ICSIPAT.h"
#include "sianalyzer/ICSIPMT.h"
#include "sianalyzer/ICSISDT.h"
#include "sianalyzer/ICSISDTT.h"
#include "sianalyzer/ICSITOT.h"

// The SI store of one analyzer: a list per table kind and the single TOT. It is shared without
// a mutex between one writer (the analyzer's worker, through its table handlers) and any number
// of readers:
// - a reader holds the store with AddRef / Release for as long as it uses any object of it;
//   AddRef waits while the writer is replacing objects (`resetting`);
// - the writer marks every handler with `updating` and, before it changes or deletes objects,
//   waits (at most 5000 ms) for the holds to end and sets `resetting` (BeginReset); a reader
//   that arrives meanwhile backs off, so the two never pass each other;
// - a caller removing an object sets `removing`, waits for the running handler to end and for
//   the other holds to go (its own hold counts as 1), each for at most 5000 ms, and removes the
//   object only when both waits succeeded. The writer waits for `removing` to clear (at most
//   5000 ms) before a handler, and a handler and a removal never overlap.
// The interface operations keep their slot order: the application calls them directly.
class ICSIList final : public IUnknown {
public:
    static constexpr uint32_t kWaitLimit = 5000;  // milliseconds

    ICSIList();
    ~ICSIList();
    ICSIList(const ICSIList&) = delete;
    ICSIList& operator=(const ICSIList&) = delete;

    // Always E_NOINTERFACE: the store is reached only through the analyzer.
    HRESULT QueryInterface(REFIID iid, void** object) override;
    // Waits (without limit) while objects are being replaced, then counts one hold.
    ULONG AddRef() override;
    // Ends one hold; never deletes the store. At a count of 1 or below the count becomes 0.
    ULONG Release() override;
    // Deletes every table object (the TOT stays), under the protocol of the Remove operations.
    virtual void Clear();
    virtual ICSITOT* GetTOT();

    virtual int32_t GetPATCount();
    virtual ICSIPAT* GetPAT(int32_t index);
    virtual int32_t RemovePAT(uint16_t transportStreamId);
    virtual ICSIPAT* FindPAT(uint16_t transportStreamId);

    virtual int32_t GetPMTCount();
    virtual ICSIPMT* GetPMT(int32_t index);
    virtual ICSIPMT* FindPMT(uint16_t transportStreamId, uint16_t programNumber);
    virtual int32_t RemovePMT(uint16_t transportStreamId, uint16_t programNumber);

    virtual int32_t GetNITCount();
    virtual ICSINIT* GetNIT(int32_t index);
    virtual ICSINIT* FindNIT(uint16_t networkId);
    // The first NIT (in list order) that has an entry for this transport stream.
    virtual ICSITS* FindTS(uint16_t transportStreamId);
    virtual int32_t RemoveNIT(uint16_t networkId);

    // An original_network_id of 0 matches any.
    virtual int32_t GetSDTCount();
    virtual ICSISDT* GetSDT(int32_t index);
    virtual ICSISDT* FindSDT(uint16_t originalNetworkId, uint16_t transportStreamId);
    virtual int32_t RemoveSDT(uint16_t originalNetworkId, uint16_t transportStreamId);

    virtual int32_t GetBITCount();
    virtual ICSIBIT* GetBIT(int32_t index);
    virtual ICSIBIT* FindBIT(uint16_t originalNetworkId);
    virtual int32_t RemoveBIT(uint16_t originalNetworkId);

    // An original_network_id of 0 matches any.
    virtual int32_t GetEITCount();
    virtual ICSIEIT* GetEIT(int32_t index);
    virtual ICSIEIT* FindEIT(uint16_t originalNetworkId, uint16_t transportStreamId,
                             uint16_t serviceId);
    virtual int32_t RemoveEIT(uint16_t originalNetworkId, uint16_t transportStreamId,
                              uint16_t serviceId);

    virtual int32_t GetCDTCount();
    virtual ICSICDT* GetCDT(int32_t index);
    virtual ICSICDT* FindCDT(uint16_t originalNetworkId, uint16_t downloadDataId);
    virtual int32_t RemoveCDT(uint16_t originalNetworkId, uint16_t downloadDataId);

    virtual int32_t GetSDTTCount();
    virtual ICSISDTT* GetSDTT(int32_t index);
    virtual ICSISDTT* FindSDTT(uint16_t key);
    virtual int32_t RemoveSDTT(uint16_t key);

    virtual int32_t GetDownloadCount();
    virtual ICSIDownload* GetDownload(int32_t index);
    virtual ICSIDownload* FindDownload(uint32_t downloadId);
    virtual int32_t RemoveDownload(uint32_t downloadId);

    // --- the writer's side (the analyzer)
    // Succeeds at once when `resetting` is already set; otherwise waits (at most 5000 ms) until
    // no reader holds the store, then sets `resetting`. False on time-out, `resetting` clear.
    bool BeginReset();
    void EndReset() { resetting.store(0); }
    // Before a handler: waits (at most 5000 ms) while a removal is under way, then marks the
    // handler as running. EndUpdate ends it.
    void BeginUpdate();
    void EndUpdate();

    // Takes ownership of a new table object (or download) and appends it to its list.
    template <typename T>
    T* Add(T* object) {
        return ListOf<T>().Add(object);
    }
    // Deletes a table object (or download) the writer replaces or abandons.
    template <typename T>
    void Discard(T* object) {
        ListOf<T>().Remove(object);
    }

    // Calls visit(T*) for every object of type T, in list order.
    template <typename T, typename Visit>
    void ForEach(Visit visit) {
        for (T* object : ListOf<T>()) {
            visit(object);
        }
    }

    int32_t GetLockCount() const { return lockCount.load(); }
    bool IsUpdating() const { return updating.load() != 0; }
    bool IsResetting() const { return resetting.load() != 0; }
    bool IsRemoving() const { return removing.load() != 0; }

private:
    // The list that holds objects of type T.
    template <typename T>
    ICSIItemList<T>& ListOf();

    // Runs `remove` under the removal protocol; returns its result, 0 when a wait timed out.
    template <typename Remove>
    int32_t RemoveGuarded(Remove remove);
    // Sets `resetting` once at most `holds` holds remain; false after 5000 ms.
    bool WaitForHolds(int32_t holds);

    std::atomic<int32_t> lockCount{0};
    std::atomic<uint8_t> updating{0};
    std::atomic<uint8_t> resetting{0};
    std::atomic<uint8_t> removing{0};
    // Held by the writer for each handler and by a removal while it deletes.
    std::mutex writerLock;

    ICSIItemList<ICSIPAT> patList;
    ICSIItemList<ICSIPMT> pmtList;
    ICSIItemList<ICSINIT> nitList;
    ICSIItemList<ICSISDT> sdtList;
    ICSIItemList<ICSIBIT> bitList;
    ICSIItemList<ICSIEIT> eitList;
    ICSIItemList<ICSISDTT> sdttList;
    ICSIItemList<ICSICDT> cdtList;
    ICSIItemList<ICSIDownload> downloadList;
    std::unique_ptr<ICSITOT> tot;
};

template <typename T>
ICSIItemList<T>& ICSIList::ListOf() {
    if constexpr (std::is_same_v<T, ICSIPAT>) {
        return patList;
    } else if constexpr (std::is_same_v<T, ICSIPMT>) {
        return pmtList;
    } else if constexpr (std::is_same_v<T, ICSINIT>) {
        return nitList;
    } else if constexpr (std::is_same_v<T, ICSISDT>) {
        return sdtList;
    } else if constexpr (std::is_same_v<T, ICSIBIT>) {
        return bitList;
    } else if constexpr (std::is_same_v<T, ICSIEIT>) {
        return eitList;
    } else if constexpr (std::is_same_v<T, ICSISDTT>) {
        return sdttList;
    } else if constexpr (std::is_same_v<T, ICSICDT>) {
        return cdtList;
    } else {
        static_assert(std::is_same_v<T, ICSIDownload>, "the store keeps no list of this type");
        return downloadList;
    }
}
