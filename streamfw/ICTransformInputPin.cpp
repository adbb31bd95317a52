#include "streamfw/ICTransformInputPin.h"

#include <new>

#include "streamfw/ICMemAllocator.h"
#include "streamfw/ICTransformFilter.h"
#include "streamfw/ICTransformOutputPin.h"

ICTransformInputPin::ICTransformInputPin(const char16_t* objectName, ICTransformFilter* filter,
                                         HRESULT* hr, LPCWSTR pinName)
    : CTransInPlaceInputPin(objectName, filter, hr, pinName), transformFilter(filter) {}

HRESULT ICTransformInputPin::Active() {
    active.store(true, std::memory_order_release);
    return CTransInPlaceInputPin::Active();
}

HRESULT ICTransformInputPin::Inactive() {
    active.store(false, std::memory_order_release);
    return CTransInPlaceInputPin::Inactive();
}

HRESULT ICTransformInputPin::CheckStreaming() {
    return CBaseInputPin::CheckStreaming();
}

HRESULT ICTransformInputPin::BeginFlush() {
    CAutoLock lock(transformFilter->FilterLock());
    HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr)) {
        return hr;
    }
    return transformFilter->BeginFlush();
}

HRESULT ICTransformInputPin::EndFlush() {
    CAutoLock lock(transformFilter->FilterLock());
    HRESULT hr = transformFilter->EndFlush();
    if (FAILED(hr)) {
        return hr;
    }
    return CBaseInputPin::EndFlush();
}

HRESULT ICTransformInputPin::ReceiveCanBlock() {
    return transformFilter->HasWorker() ? S_FALSE : S_OK;
}

HRESULT ICTransformInputPin::GetAllocator(IMemAllocator** allocator) {
    if (allocator == nullptr) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    if (m_pAllocator == nullptr) {
        // Packets for an upstream pin that has no allocator of its own; it sizes them.
        auto* created = new (std::nothrow) ICMemAllocator(
            "Allocator", static_cast<IPin*>(this), 0, ICTransformOutputPin::kDefaultBufferSize,
            ICTransformOutputPin::kDefaultBufferCount);
        if (created == nullptr) {
            *allocator = nullptr;
            return E_OUTOFMEMORY;
        }
        m_pAllocator = created;
    }
    m_pAllocator->AddRef();
    *allocator = m_pAllocator;
    return S_OK;
}

HRESULT ICTransformInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    return CBaseInputPin::NotifyAllocator(allocator, readOnly);
}

HRESULT ICTransformInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) {
    return CBaseInputPin::GetAllocatorRequirements(properties);
}
