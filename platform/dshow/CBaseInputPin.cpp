#include "platform/dshow/CBaseInputPin.h"

#include "platform/com/ComPtr.h"
#include "platform/dshow/CBaseAllocator.h"

CBaseInputPin::CBaseInputPin(const char16_t* objectName, CBaseFilter* filter, CCritSec* lock,
                             HRESULT* hr, LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, hr, pinName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
    DeleteMediaType(receivedType);
    if (m_pAllocator) {
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IMemInputPin) {
        return GetInterface(static_cast<IMemInputPin*>(this), object);
    }
    return CBasePin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    if (!m_pAllocator) {
        const HRESULT hr = CreateMemoryAllocator(&m_pAllocator);
        if (FAILED(hr)) {
            *allocator = nullptr;
            return hr;
        }
    }
    *allocator = m_pAllocator;
    m_pAllocator->AddRef();
    return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    if (!allocator) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    // Taking the new one first keeps an allocator that is both old and new alive.
    allocator->AddRef();
    if (m_pAllocator) {
        m_pAllocator->Release();
    }
    m_pAllocator = allocator;
    m_bReadOnly = readOnly != FALSE;
    return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

HRESULT CBaseInputPin::CheckStreaming() {
    if (IsStopped()) {
        return VFW_E_WRONG_STATE;
    }
    if (m_bFlushing) {
        return S_FALSE;
    }
    if (m_bRunTimeError) {
        return VFW_E_RUNTIME_ERROR;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
    if (!sample) {
        return E_POINTER;
    }
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) {
        return hr;
    }
    ComPtr<IMediaSample2> sample2;
    if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, sample2.GetVoidAddressOf()))) {
        hr = sample2->GetProperties(sizeof(m_SampleProps), reinterpret_cast<BYTE*>(&m_SampleProps));
        if (FAILED(hr)) {
            return hr;
        }
    } else {
        // Gather the properties from the plain interface.
        DeleteMediaType(receivedType);
        receivedType = nullptr;
        m_SampleProps = AM_SAMPLE2_PROPERTIES{};
        m_SampleProps.cbData = sizeof(m_SampleProps);
        hr = sample->GetTime(&m_SampleProps.tStart, &m_SampleProps.tStop);
        if (SUCCEEDED(hr)) {
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_TIMEVALID;
            if (hr == S_OK) {
                m_SampleProps.dwSampleFlags |= AM_SAMPLE_STOPVALID;
            }
        }
        if (sample->GetMediaType(&m_SampleProps.pMediaType) == S_OK) {
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
        }
        if (sample->IsSyncPoint() == S_OK) {
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
        }
        if (sample->IsPreroll() == S_OK) {
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_PREROLL;
        }
        if (sample->IsDiscontinuity() == S_OK) {
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
        }
        m_SampleProps.lActual = sample->GetActualDataLength();
        m_SampleProps.cbBuffer = sample->GetSize();
        sample->GetPointer(&m_SampleProps.pbBuffer);
        // The copied type is this pin's to free; it lives until the next sample.
        DeleteMediaType(receivedType);
        receivedType = m_SampleProps.pMediaType;
    }
    if (m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
        if (!m_SampleProps.pMediaType ||
            CheckMediaType(AsMediaType(m_SampleProps.pMediaType)) != S_OK) {
            // The stream cannot go on with a type this pin does not take.
            EndOfStream();
            m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            m_bRunTimeError = true;
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
    if (!samples || !processed) {
        return E_POINTER;
    }
    HRESULT hr = S_OK;
    *processed = 0;
    while (count-- > 0) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK) {
            break;
        }
        ++*processed;
    }
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() {
    // A pin can block when the filter passes samples on to a pin that can block, or renders
    // them itself (no output pins).
    int outputs = 0;
    const int count = m_pFilter->GetPinCount();
    for (int i = 0; i < count; ++i) {
        CBasePin* pin = m_pFilter->GetPin(i);
        if (!pin) {
            break;
        }
        PIN_DIRECTION direction;
        if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) {
            continue;
        }
        ++outputs;
        IPin* connected = pin->GetConnected();
        if (!connected) {
            return S_OK;
        }
        ComPtr<IMemInputPin> input;
        if (FAILED(connected->QueryInterface(IID_IMemInputPin, input.GetVoidAddressOf())) ||
            input->ReceiveCanBlock() != S_FALSE) {
            return S_OK;
        }
    }
    return outputs == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush() {
    CAutoLock lock(m_pLock);
    m_bFlushing = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
    CAutoLock lock(m_pLock);
    m_bFlushing = false;
    m_bRunTimeError = false;
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bRunTimeError = false;
    if (!m_pAllocator) {
        return VFW_E_NO_ALLOCATOR;
    }
    m_bFlushing = false;
    return m_pAllocator->Decommit();
}
