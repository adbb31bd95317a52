#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/com/CUnknown.h"
#include "platform/dshow/CMediaSample.h"
#include "platform/dshow/DShowInterfaces.h"

// The base of a sample allocator: a pool of CMediaSample objects handed out by GetBuffer and
// returned when their count falls to 0.
//
// Commit makes the samples (Alloc) and takes a reference on the allocator itself, so it lives
// while samples are out; Decommit with samples still out leaves the decommit pending until the
// last one comes back, then frees them (Free) and drops that reference. GetBuffer waits for a
// free sample unless AM_GBF_NOWAIT is given, and fails with VFW_E_NOT_COMMITTED once the
// allocator is decommitted (a waiting GetBuffer is woken for that).
class CBaseAllocator : public CUnknown, public IMemAllocator {
public:
    CBaseAllocator(const char16_t* objectName, IUnknown* outer, HRESULT* hr);
    ~CBaseAllocator() override;
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                      DWORD flags) override;
    HRESULT ReleaseBuffer(IMediaSample* sample) override;

    bool IsCommitted();
    // Samples that exist, and samples idle in the free list.
    LONG AllocatedCount();
    LONG FreeCount();

protected:
    // Called with the allocator lock held. Alloc makes the samples (S_FALSE: the existing ones
    // still fit); Free deletes the idle ones.
    virtual HRESULT Alloc();
    virtual void Free() = 0;

    // Puts a sample made by the derived class into the free list (lock held).
    void AddFreeSample(CMediaSample* sample);
    // Removes every idle sample from the free list and returns them (lock held).
    std::vector<CMediaSample*> TakeFreeSamples();

    std::recursive_mutex m_lock;
    std::condition_variable_any m_sampleReturned;
    std::vector<CMediaSample*> m_lFree;
    LONG m_lWaiting = 0;
    LONG m_lCount = 0;
    LONG m_lAllocated = 0;
    LONG m_lSize = 0;
    LONG m_lAlignment = 0;
    LONG m_lPrefix = 0;
    bool m_bChanged = false;
    bool m_bCommitted = false;
    bool m_bDecommitInProgress = false;
};

// An allocator of samples in one block of memory.
class CMemAllocator final : public CBaseAllocator {
public:
    CMemAllocator(const char16_t* objectName, IUnknown* outer, HRESULT* hr);
    ~CMemAllocator() override;

    // Alignment must be a power of two that does not exceed the allocation granularity; the
    // buffer size is rounded up so that every sample (prefix included) stays aligned.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;

    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

protected:
    HRESULT Alloc() override;
    // Keeps the samples for the next Commit; they go with ReallyFree.
    void Free() override {}

private:
    void ReallyFree();

    BYTE* m_pBuffer = nullptr;
};

// A new memory allocator, referenced once.
HRESULT CreateMemoryAllocator(IMemAllocator** allocator);
