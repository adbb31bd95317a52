#include "streamfw/ICMemAllocator.h"

#include <new>

#include "core/ICErrors.h"

namespace {

// Holds the free list's lock for a scope.
class FreeListLock {
public:
    explicit FreeListLock(ICList& list) : list(list) { list.Lock(); }
    ~FreeListLock() { list.Unlock(); }
    FreeListLock(const FreeListLock&) = delete;
    FreeListLock& operator=(const FreeListLock&) = delete;

private:
    ICList& list;
};

}  // namespace

ICMemAllocator::ICMemAllocator(const char* name, IUnknown* owner, DWORD tag, LONG bufferSize,
                               LONG bufferCount)
    : CBaseObject(u"ICMemAllocator"),
      owner(owner),
      name(name),
      tag(tag),
      bufferSize(bufferSize < 0 ? 0 : bufferSize),
      bufferCount(bufferCount < 0 ? 0 : bufferCount) {}

ICMemAllocator::~ICMemAllocator() {
    Free();
}

// --- IUnknown

HRESULT ICMemAllocator::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_IMemAllocator) {
        *object = static_cast<IMemAllocator*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG ICMemAllocator::AddRef() {
    return referenceCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG ICMemAllocator::Release() {
    ULONG count = referenceCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) {
        delete this;
    }
    return count;
}

// --- IMemAllocator

HRESULT ICMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (request == nullptr || actual == nullptr) {
        return E_POINTER;
    }
    if (request->cbAlign == 0 || ((request->cbAlign - 1) & kAllocationGranularity) != 0) {
        return VFW_E_BADALIGN;
    }
    if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) {
        return E_INVALIDARG;
    }
    ICLockGuard allocatorLock(condition);
    FreeListLock listLock(freeList);
    if (committed) {
        return VFW_E_ALREADY_COMMITTED;
    }
    // Packets still out belong to the old properties.
    if (decommitPending) {
        return VFW_E_BUFFERS_OUTSTANDING;
    }
    bufferCount = request->cBuffers;
    bufferSize = request->cbBuffer;
    alignment = request->cbAlign;
    prefix = request->cbPrefix;
    *actual = {bufferCount, bufferSize, alignment, prefix};
    propertiesSet = true;
    return S_OK;
}

HRESULT ICMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties) {
    if (properties == nullptr) {
        return E_POINTER;
    }
    FreeListLock listLock(freeList);
    *properties = {bufferCount, bufferSize, alignment, prefix};
    return S_OK;
}

HRESULT ICMemAllocator::Commit() {
    ICLockGuard allocatorLock(condition);
    bool revived = false;
    {
        FreeListLock listLock(freeList);
        if (committed) {
            return S_OK;
        }
        committed = true;
        if (decommitPending) {
            // The packets of the pending decommit serve again, and so does its reference.
            decommitPending = false;
            revived = true;
        }
    }
    if (revived) {
        return S_OK;
    }
    HRESULT hr = Alloc();
    if (FAILED(hr)) {
        FreeListLock listLock(freeList);
        committed = false;
        return hr;
    }
    AddRef();
    return S_OK;
}

HRESULT ICMemAllocator::Decommit() {
    bool finished = false;
    {
        ICLockGuard allocatorLock(condition);
        FreeListLock listLock(freeList);
        if (!committed && !decommitPending) {
            return S_OK;
        }
        committed = false;
        if (freeList.GetCount() < bufferCount) {
            decommitPending = true;
        } else {
            Free();
            decommitPending = false;
            finished = true;
        }
    }
    WakeWaiters();
    if (finished) {
        Release();  // the reference taken by Commit; this may be the last
    }
    return S_OK;
}

HRESULT ICMemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                  REFERENCE_TIME* stop, DWORD flags) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    *sample = nullptr;
    ICPacket* packet = nullptr;
    const uint32_t generation = cancelGeneration.load(std::memory_order_acquire);
    {
        ICLockGuard allocatorLock(condition);
        if (!IsCommitted()) {
            return VFW_E_NOT_COMMITTED;
        }
        // Announced before looking, so that a packet coming back after the look signals.
        waiters.fetch_add(1, std::memory_order_seq_cst);
        packet = TakeFree();
        while (packet == nullptr) {
            if (flags & AM_GBF_NOWAIT) {
                waiters.fetch_sub(1, std::memory_order_seq_cst);
                return VFW_E_TIMEOUT;
            }
            condition.Unlock();
            uint32_t waited = condition.Wait(kGetBufferWait);
            condition.Lock();
            if (waited != kICOk || cancelGeneration.load(std::memory_order_acquire) != generation) {
                waiters.fetch_sub(1, std::memory_order_seq_cst);
                return VFW_E_TIMEOUT;
            }
            if (!IsCommitted()) {
                waiters.fetch_sub(1, std::memory_order_seq_cst);
                return VFW_E_NOT_COMMITTED;
            }
            packet = TakeFree();
        }
        waiters.fetch_sub(1, std::memory_order_seq_cst);
    }
    if (start != nullptr) {
        HRESULT hr = packet->SetTime(start, stop);
        if (FAILED(hr)) {
            packet->Release();
            return hr;
        }
    }
    *sample = static_cast<IMediaSample2*>(packet);
    return S_OK;
}

HRESULT ICMemAllocator::ReleaseBuffer(IMediaSample* sample) {
    auto* packet = dynamic_cast<ICPacket*>(sample);
    if (packet == nullptr || packet->GetAllocator() != this) {
        return E_INVALIDARG;
    }
    return PutFree(packet);
}

// --- the pool

ICPacket* ICMemAllocator::CreatePacket(LONG size, DWORD packetTag) {
    auto* packet = new (std::nothrow) ICPacket(this, size, packetTag);
    if (packet != nullptr && packet->GetCapacity() < size) {
        delete packet;  // its buffer could not be allocated
        return nullptr;
    }
    return packet;
}

HRESULT ICMemAllocator::Alloc() {
    FreeListLock listLock(freeList);
    for (LONG i = 0; i < bufferCount; ++i) {
        ICPacket* packet = CreatePacket(bufferSize, tag);
        if (packet == nullptr) {
            Free();
            return E_OUTOFMEMORY;
        }
        packet->inFreeList = true;
        freeList.AddTail(packet);
    }
    return S_OK;
}

HRESULT ICMemAllocator::AddBuffers(LONG n) {
    LONG added = 0;
    {
        FreeListLock listLock(freeList);
        for (; added < n; ++added) {
            ICPacket* packet = CreatePacket(bufferSize, tag);
            if (packet == nullptr) {
                break;
            }
            packet->inFreeList = true;
            freeList.AddTail(packet);
            ++bufferCount;
        }
    }
    for (LONG i = 0; i < added; ++i) {
        WakeWaiters();
    }
    return added == n || n < 0 ? S_OK : E_OUTOFMEMORY;
}

void ICMemAllocator::Free() {
    FreeListLock listLock(freeList);
    while (ICListItem* item = freeList.GetHead()) {
        freeList.Remove(item, false);
        delete static_cast<ICPacket*>(item);
    }
}

LONG ICMemAllocator::RemoveBuffers(LONG n) {
    FreeListLock listLock(freeList);
    LONG removed = 0;
    if (!committed && !decommitPending) {
        // Decommitted: no packet exists, only the number to make at the next commit.
        removed = n < bufferCount ? (n > 0 ? n : 0) : bufferCount;
        bufferCount -= removed;
        return removed;
    }
    while (removed < n) {
        ICListItem* item = freeList.GetTail();
        if (item == nullptr) {
            break;
        }
        freeList.Remove(item, false);
        delete static_cast<ICPacket*>(item);
        --bufferCount;
        ++removed;
    }
    return removed;
}

ICPacket* ICMemAllocator::TakeFree() {
    FreeListLock listLock(freeList);
    ICListItem* item = freeList.GetHead();
    if (item == nullptr) {
        return nullptr;
    }
    freeList.Remove(item, false);
    auto* packet = static_cast<ICPacket*>(item);
    packet->inFreeList = false;
    packet->referenceCount.store(1, std::memory_order_relaxed);
    return packet;
}

HRESULT ICMemAllocator::PutFree(ICPacket* packet) {
    if (packet == nullptr) {
        return E_POINTER;
    }
    bool finished = false;
    {
        FreeListLock listLock(freeList);
        if (packet->inFreeList) {
            return E_POINTER;  // released twice: not linked twice
        }
        packet->inFreeList = true;
        freeList.AddTail(packet);
        if (decommitPending && freeList.GetCount() >= bufferCount) {
            // The last packet out came home: finish the decommit here, under the lock, so
            // that a Commit cannot slip in between and see its new packets freed.
            decommitPending = false;
            Free();
            finished = true;
        }
    }
    if (waiters.load(std::memory_order_seq_cst) > 0) {
        condition.Signal();
    }
    if (finished) {
        Release();  // the reference taken by Commit; this may be the last
    }
    return S_OK;
}

void ICMemAllocator::CancelWaits() {
    cancelGeneration.fetch_add(1, std::memory_order_acq_rel);
    WakeWaiters();
}

void ICMemAllocator::WakeWaiters() {
    for (int32_t i = waiters.load(std::memory_order_seq_cst); i > 0; --i) {
        condition.Signal();
    }
}

bool ICMemAllocator::IsCommitted() {
    FreeListLock listLock(freeList);
    return committed;
}

bool ICMemAllocator::IsDecommitPending() {
    FreeListLock listLock(freeList);
    return decommitPending;
}

LONG ICMemAllocator::GetBufferCount() {
    FreeListLock listLock(freeList);
    return bufferCount;
}

LONG ICMemAllocator::GetFreeCount() {
    FreeListLock listLock(freeList);
    return freeList.GetCount();
}
