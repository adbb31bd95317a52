#include "platform/dshow/CBaseAllocator.h"

#include <algorithm>
#include <cstdlib>
#include <new>

CBaseAllocator::CBaseAllocator(const char16_t* objectName, IUnknown* outer, HRESULT*)
    : CUnknown(objectName, outer) {}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IMemAllocator) {
        return GetInterface(static_cast<IMemAllocator*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (!request || !actual) {
        return E_POINTER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    *actual = ALLOCATOR_PROPERTIES{};
    if (request->cbAlign != 1) {
        return VFW_E_BADALIGN;
    }
    if (m_bCommitted) {
        return VFW_E_ALREADY_COMMITTED;
    }
    if (m_lAllocated != static_cast<LONG>(m_lFree.size())) {
        return VFW_E_BUFFERS_OUTSTANDING;
    }
    actual->cbBuffer = m_lSize = request->cbBuffer;
    actual->cBuffers = m_lCount = request->cBuffers;
    actual->cbAlign = m_lAlignment = request->cbAlign;
    actual->cbPrefix = m_lPrefix = request->cbPrefix;
    m_bChanged = true;
    return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties) {
    if (!properties) {
        return E_POINTER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    properties->cbBuffer = m_lSize;
    properties->cBuffers = m_lCount;
    properties->cbAlign = m_lAlignment;
    properties->cbPrefix = m_lPrefix;
    return S_OK;
}

HRESULT CBaseAllocator::Commit() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_bCommitted) {
        return S_OK;
    }
    m_bCommitted = true;
    if (m_bDecommitInProgress) {
        // Revived before the last sample came back: the samples are still there.
        m_bDecommitInProgress = false;
        return S_OK;
    }
    const HRESULT hr = Alloc();
    if (FAILED(hr)) {
        m_bCommitted = false;
        return hr;
    }
    AddRef();  // held until the decommit completes
    return S_OK;
}

HRESULT CBaseAllocator::Decommit() {
    bool release = false;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        if (!m_bCommitted && !m_bDecommitInProgress) {
            return S_OK;
        }
        m_bCommitted = false;
        if (static_cast<LONG>(m_lFree.size()) < m_lAllocated) {
            m_bDecommitInProgress = true;
        } else {
            m_bDecommitInProgress = false;
            Free();
            release = true;
        }
        // Waiting GetBuffer calls must see the decommit.
        m_sampleReturned.notify_all();
    }
    if (release) {
        Release();
    }
    return S_OK;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*,
                                  DWORD flags) {
    if (!sample) {
        return E_POINTER;
    }
    *sample = nullptr;
    std::unique_lock<std::recursive_mutex> lock(m_lock);
    for (;;) {
        if (!m_bCommitted) {
            return VFW_E_NOT_COMMITTED;
        }
        if (!m_lFree.empty()) {
            break;
        }
        if (flags & AM_GBF_NOWAIT) {
            return VFW_E_TIMEOUT;
        }
        ++m_lWaiting;
        m_sampleReturned.wait(lock);
        --m_lWaiting;
    }
    CMediaSample* taken = m_lFree.back();
    m_lFree.pop_back();
    taken->m_cRef = 1;
    *sample = taken;
    return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* sample) {
    auto* returned = dynamic_cast<CMediaSample*>(sample);
    if (!returned || returned->m_pAllocator != this) {
        return E_INVALIDARG;
    }
    bool release = false;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        // A sample returned twice is not linked twice.
        if (std::find(m_lFree.begin(), m_lFree.end(), returned) != m_lFree.end()) {
            return E_POINTER;
        }
        m_lFree.push_back(returned);
        if (m_lWaiting != 0) {
            m_sampleReturned.notify_all();
        }
        if (m_bDecommitInProgress && static_cast<LONG>(m_lFree.size()) == m_lAllocated) {
            Free();
            m_bDecommitInProgress = false;
            release = true;
        }
    }
    if (release) {
        Release();  // may destroy the allocator
    }
    return S_OK;
}

bool CBaseAllocator::IsCommitted() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_bCommitted;
}

LONG CBaseAllocator::AllocatedCount() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_lAllocated;
}

LONG CBaseAllocator::FreeCount() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return static_cast<LONG>(m_lFree.size());
}

HRESULT CBaseAllocator::Alloc() {
    if (m_lCount <= 0 || m_lSize <= 0 || m_lAlignment <= 0) {
        return VFW_E_SIZENOTSET;
    }
    return m_bChanged ? S_OK : S_FALSE;
}

void CBaseAllocator::AddFreeSample(CMediaSample* sample) {
    m_lFree.push_back(sample);
}

std::vector<CMediaSample*> CBaseAllocator::TakeFreeSamples() {
    std::vector<CMediaSample*> taken;
    taken.swap(m_lFree);
    return taken;
}

CMemAllocator::CMemAllocator(const char16_t* objectName, IUnknown* outer, HRESULT* hr)
    : CBaseAllocator(objectName, outer, hr) {}

CMemAllocator::~CMemAllocator() {
    Decommit();
    ReallyFree();
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (!request || !actual) {
        return E_POINTER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    *actual = ALLOCATOR_PROPERTIES{};
    const LONG align = request->cbAlign;
    if (align <= 0 || (kAllocationGranularity & (align - 1)) != 0 || (align & (align - 1)) != 0) {
        return VFW_E_BADALIGN;
    }
    if (m_bCommitted) {
        return VFW_E_ALREADY_COMMITTED;
    }
    if (static_cast<LONG>(m_lFree.size()) < m_lAllocated) {
        return VFW_E_BUFFERS_OUTSTANDING;
    }
    if (request->cbBuffer < 0 || request->cbPrefix < 0 || request->cBuffers < 0) {
        return E_INVALIDARG;
    }
    // The prefix counts towards the alignment.
    int64_t size = int64_t{request->cbBuffer} + request->cbPrefix;
    const int64_t remainder = size % align;
    if (remainder != 0) {
        size += align - remainder;
    }
    if (size - request->cbPrefix > 0x7FFFFFFF) {
        return E_OUTOFMEMORY;
    }
    actual->cbBuffer = m_lSize = static_cast<LONG>(size - request->cbPrefix);
    actual->cBuffers = m_lCount = request->cBuffers;
    actual->cbAlign = m_lAlignment = align;
    actual->cbPrefix = m_lPrefix = request->cbPrefix;
    m_bChanged = true;
    return S_OK;
}

HRESULT CMemAllocator::Alloc() {
    HRESULT hr = CBaseAllocator::Alloc();
    if (FAILED(hr)) {
        return hr;
    }
    if (hr == S_FALSE && m_pBuffer) {
        return S_OK;  // the samples made before still fit
    }
    ReallyFree();
    int64_t alignedSize = int64_t{m_lSize} + m_lPrefix;
    if (m_lAlignment > 1 && alignedSize % m_lAlignment != 0) {
        alignedSize += m_lAlignment - alignedSize % m_lAlignment;
    }
    const int64_t total = alignedSize * m_lCount;
    if (alignedSize <= 0 || total > 0x7FFFFFFF) {
        return E_OUTOFMEMORY;
    }
    const size_t blockAlignment = std::max<size_t>(static_cast<size_t>(m_lAlignment), 16);
    void* block = nullptr;
    if (::posix_memalign(&block, blockAlignment, static_cast<size_t>(total)) != 0 || !block) {
        return E_OUTOFMEMORY;
    }
    m_pBuffer = static_cast<BYTE*>(block);
    BYTE* next = m_pBuffer;
    for (; m_lAllocated < m_lCount; ++m_lAllocated, next += alignedSize) {
        auto* sample =
            new (std::nothrow) CMediaSample(u"Memory sample", this, &hr, next + m_lPrefix, m_lSize);
        if (!sample) {
            return E_OUTOFMEMORY;
        }
        AddFreeSample(sample);
    }
    m_bChanged = false;
    return S_OK;
}

void CMemAllocator::ReallyFree() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (CMediaSample* sample : TakeFreeSamples()) {
        delete sample;
    }
    m_lAllocated = 0;
    std::free(m_pBuffer);
    m_pBuffer = nullptr;
}

CUnknown* CMemAllocator::CreateInstance(IUnknown* outer, HRESULT* hr) {
    return new CMemAllocator(u"Memory allocator", outer, hr);
}

HRESULT CreateMemoryAllocator(IMemAllocator** allocator) {
    if (!allocator) {
        return E_POINTER;
    }
    *allocator = nullptr;
    auto* created = new (std::nothrow) CMemAllocator(u"Memory allocator", nullptr, nullptr);
    if (!created) {
        return E_OUTOFMEMORY;
    }
    return created->NonDelegatingQueryInterface(IID_IMemAllocator,
                                                reinterpret_cast<void**>(allocator));
}
