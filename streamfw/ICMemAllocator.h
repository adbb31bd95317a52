#pragma once

#include <atomic>

#include "core/ICList.h"
#include "core/ICSemaphore.h"
#include "core/ICString.h"
#include "platform/com/CUnknown.h"
#include "platform/dshow/DShowInterfaces.h"
#include "streamfw/ICPacket.h"

// The pool of packets an output pin of the framework hands to the downstream input pin.
//
// Created (count 1, no packets) → SetProperties → Commit (the packets are made; GetBuffer
// works) → Decommit (pending while packets are out) → decommitted (packets freed). A Commit
// while a decommit is pending revives the pool with its packets. Between Commit and the end of
// the decommit the allocator holds a reference on itself, so packets still out can always come
// home.
//
// Locks: the condition's lock guards the committed state and is held while GetBuffer takes a
// packet; the free list has its own lock, always taken after the condition's, never before it.
// The condition's semaphore wakes a GetBuffer waiting for a packet.
class ICMemAllocator : public IMemAllocator, public CBaseObject {
public:
    static constexpr uint32_t kGetBufferWait = 2000;  // milliseconds
    static constexpr LONG kDefaultAlignment = 16;

    // `owner` is the pin that made the allocator (not referenced; may be null).
    ICMemAllocator(const char* name, IUnknown* owner, DWORD tag, LONG bufferSize, LONG bufferCount);
    ICMemAllocator(const ICMemAllocator&) = delete;
    ICMemAllocator& operator=(const ICMemAllocator&) = delete;

    // IUnknown
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IMemAllocator
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    // Takes an idle packet (count 1). Without one it waits up to 2000 ms for a packet to come
    // back (VFW_E_TIMEOUT after that, or at once with AM_GBF_NOWAIT); VFW_E_NOT_COMMITTED
    // when the allocator is not committed or is decommitted during the wait.
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                      DWORD flags) override;
    HRESULT ReleaseBuffer(IMediaSample* sample) override;

    // Makes `buffer count` packets.
    virtual HRESULT Alloc();
    // Makes n more packets; the buffer count grows by each one made.
    virtual HRESULT AddBuffers(LONG n);
    // Deletes every idle packet.
    virtual void Free();
    // Deletes up to n idle packets; the buffer count shrinks by each one deleted. Returns the
    // number deleted.
    virtual LONG RemoveBuffers(LONG n);
    // Unlinks the first idle packet and gives it a reference (count 1); null when none.
    virtual ICPacket* TakeFree();
    // Links a packet that came back; E_POINTER for one that is idle already.
    virtual HRESULT PutFree(ICPacket* packet);

    // Makes every GetBuffer that waits now give up with VFW_E_TIMEOUT (a flush or stop begins).
    void CancelWaits();

    const ICString& GetName() const { return name; }
    IUnknown* GetOwner() const { return owner; }
    DWORD GetTag() const { return tag; }
    bool IsCommitted();
    bool IsDecommitPending();
    LONG GetBufferCount();
    LONG GetFreeCount();

protected:
    ~ICMemAllocator() override;

    // Makes one packet of this pool; derived pools make their own kind.
    virtual ICPacket* CreatePacket(LONG bufferSize, DWORD tag);
    // Wakes every GetBuffer that waits for a packet.
    void WakeWaiters();

    std::atomic<ULONG> referenceCount{1};
    IUnknown* owner;
    ICString name;
    DWORD tag;

    // Guarded by the free-list lock.
    LONG bufferSize;
    LONG bufferCount;
    LONG alignment = kDefaultAlignment;
    LONG prefix = 0;
    bool committed = false;
    bool decommitPending = false;
    bool propertiesSet = false;

    ICList freeList;
    ICCondition condition;
    // GetBuffer calls that may wait: a returned packet signals the semaphore only for them, so
    // it never gathers counts that would later turn a wait into a spin.
    std::atomic<int32_t> waiters{0};
    std::atomic<uint32_t> cancelGeneration{0};
};
