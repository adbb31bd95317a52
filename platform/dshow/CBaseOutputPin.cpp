#include "platform/dshow/CBaseOutputPin.h"

#include "platform/dshow/CBaseAllocator.h"

CBaseOutputPin::CBaseOutputPin(const char16_t* objectName, CBaseFilter* filter, CCritSec* lock,
                               HRESULT* hr, LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, hr, pinName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    if (m_pAllocator) {
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
    return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) {
        return hr;
    }
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
    if (FAILED(hr)) {
        m_pInputPin = nullptr;
        return VFW_E_NO_TRANSPORT;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
    if (!pin || !allocator) {
        return E_POINTER;
    }
    *allocator = nullptr;
    ALLOCATOR_PROPERTIES request{};
    pin->GetAllocatorRequirements(&request);  // the input pin may have no requirements
    if (request.cbAlign == 0) {
        request.cbAlign = 1;
    }
    // First the input pin's allocator, then one of this pin's own.
    HRESULT hr = pin->GetAllocator(allocator);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*allocator, &request);
        if (SUCCEEDED(hr)) {
            hr = pin->NotifyAllocator(*allocator, FALSE);
            if (SUCCEEDED(hr)) {
                return S_OK;
            }
        }
    }
    if (*allocator) {
        (*allocator)->Release();
        *allocator = nullptr;
    }
    hr = InitAllocator(allocator);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*allocator, &request);
        if (SUCCEEDED(hr)) {
            hr = pin->NotifyAllocator(*allocator, FALSE);
            if (SUCCEEDED(hr)) {
                return S_OK;
            }
        }
    }
    if (*allocator) {
        (*allocator)->Release();
        *allocator = nullptr;
    }
    return hr;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** allocator) {
    return CreateMemoryAllocator(allocator);
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                          REFERENCE_TIME* stop, DWORD flags) {
    if (!m_pAllocator) {
        return E_NOINTERFACE;
    }
    return m_pAllocator->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
    if (!m_pInputPin) {
        return VFW_E_NOT_CONNECTED;
    }
    return m_pInputPin->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    if (!m_Connected) {
        return VFW_E_NOT_CONNECTED;
    }
    return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    if (!m_Connected) {
        return VFW_E_NOT_CONNECTED;
    }
    return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    if (!m_Connected) {
        return VFW_E_NOT_CONNECTED;
    }
    return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (!m_Connected) {
        return VFW_E_NOT_CONNECTED;
    }
    return m_Connected->NewSegment(start, stop, rate);
}

HRESULT CBaseOutputPin::Active() {
    if (!m_pAllocator) {
        return VFW_E_NO_ALLOCATOR;
    }
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    m_bRunTimeError = false;
    if (!m_pAllocator) {
        return VFW_E_NO_ALLOCATOR;
    }
    return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::EndOfStream() {
    return E_UNEXPECTED;
}

HRESULT CBaseOutputPin::BeginFlush() {
    return E_UNEXPECTED;
}

HRESULT CBaseOutputPin::EndFlush() {
    return E_UNEXPECTED;
}
