#include "platform/dshow/CTransInPlaceFilter.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "platform/com/ComPtr.h"
#include "platform/dshow/CBaseAllocator.h"

// --- input pin

CTransInPlaceInputPin::CTransInPlaceInputPin(const char16_t* objectName,
                                             CTransInPlaceFilter* filter, HRESULT* hr,
                                             LPCWSTR pinName)
    : CTransformInputPin(objectName, filter, hr, pinName), m_pTIPFilter(filter) {}

HRESULT CTransInPlaceInputPin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    if (!enumerator) {
        return E_POINTER;
    }
    *enumerator = nullptr;
    // Only what downstream takes can pass through.
    IPin* downstream = m_pTIPFilter->m_pOutput->GetConnected();
    if (!downstream) {
        return VFW_E_NOT_CONNECTED;
    }
    return downstream->EnumMediaTypes(enumerator);
}

HRESULT CTransInPlaceInputPin::CheckMediaType(const CMediaType* mediaType) {
    const HRESULT hr = m_pTIPFilter->CheckInputType(mediaType);
    if (hr != S_OK) {
        return hr;
    }
    IPin* downstream = m_pTIPFilter->m_pOutput->GetConnected();
    return downstream ? downstream->QueryAccept(mediaType) : S_OK;
}

HRESULT CTransInPlaceInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    CTransInPlaceOutputPin* output = m_pTIPFilter->InPlaceOutputPin();
    if (output->IsConnected()) {
        // The downstream allocator serves both sides.
        const HRESULT hr = output->ConnectedIMemInputPin()->GetAllocator(allocator);
        if (SUCCEEDED(hr)) {
            output->SetAllocator(*allocator);
        }
        return hr;
    }
    // A temporary allocator for the upstream filter; the pin is reconnected when the output
    // connects.
    return CTransformInputPin::GetAllocator(allocator);
}

HRESULT CTransInPlaceInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    if (!allocator) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    m_bReadOnly = readOnly != FALSE;
    CTransInPlaceOutputPin* output = m_pTIPFilter->InPlaceOutputPin();
    if (!output->IsConnected()) {
        return CTransformInputPin::NotifyAllocator(allocator, readOnly);
    }
    HRESULT hr = S_OK;
    if (readOnly && m_pTIPFilter->m_bModifiesData) {
        // The data cannot be changed where it lies: deliver copies in another allocator.
        IMemAllocator* outputAllocator = output->PeekAllocator();
        if (!outputAllocator) {
            ComPtr<IMemAllocator> made;
            hr = output->ConnectedIMemInputPin()->GetAllocator(made.GetAddressOf());
            if (FAILED(hr)) {
                hr = CreateMemoryAllocator(made.GetAddressOf());
            }
            if (SUCCEEDED(hr)) {
                output->SetAllocator(made.Get());
                outputAllocator = made.Get();
            }
        }
        if (SUCCEEDED(hr) && allocator == outputAllocator) {
            hr = E_FAIL;
        } else if (SUCCEEDED(hr)) {
            ALLOCATOR_PROPERTIES wanted{};
            ALLOCATOR_PROPERTIES actual{};
            hr = allocator->GetProperties(&wanted);
            if (SUCCEEDED(hr)) {
                hr = outputAllocator->SetProperties(&wanted, &actual);
            }
            if (SUCCEEDED(hr) &&
                (wanted.cBuffers > actual.cBuffers || wanted.cbBuffer > actual.cbBuffer ||
                 wanted.cbAlign > actual.cbAlign)) {
                hr = E_FAIL;
            }
            if (SUCCEEDED(hr)) {
                hr = output->ConnectedIMemInputPin()->NotifyAllocator(outputAllocator, FALSE);
            }
        }
    } else {
        hr = output->ConnectedIMemInputPin()->NotifyAllocator(allocator, readOnly);
        if (SUCCEEDED(hr)) {
            output->SetAllocator(allocator);
        }
    }
    if (SUCCEEDED(hr)) {
        allocator->AddRef();
        if (m_pAllocator) {
            m_pAllocator->Release();
        }
        m_pAllocator = allocator;
    }
    return hr;
}

HRESULT CTransInPlaceInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) {
    CTransInPlaceOutputPin* output = m_pTIPFilter->InPlaceOutputPin();
    if (output->IsConnected()) {
        return output->ConnectedIMemInputPin()->GetAllocatorRequirements(properties);
    }
    return E_NOTIMPL;
}

HRESULT CTransInPlaceInputPin::CompleteConnect(IPin* receivePin) {
    const HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
    if (FAILED(hr)) {
        return hr;
    }
    return m_pTIPFilter->CompleteConnect(PINDIR_INPUT, receivePin);
}

// --- output pin

CTransInPlaceOutputPin::CTransInPlaceOutputPin(const char16_t* objectName,
                                               CTransInPlaceFilter* filter, HRESULT* hr,
                                               LPCWSTR pinName)
    : CTransformOutputPin(objectName, filter, hr, pinName), m_pTIPFilter(filter) {}

HRESULT CTransInPlaceOutputPin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    if (!enumerator) {
        return E_POINTER;
    }
    *enumerator = nullptr;
    IPin* upstream = m_pTIPFilter->m_pInput->GetConnected();
    if (!upstream) {
        return VFW_E_NOT_CONNECTED;
    }
    return upstream->EnumMediaTypes(enumerator);
}

HRESULT CTransInPlaceOutputPin::CheckMediaType(const CMediaType* mediaType) {
    // With copying in place the input allocator is already sized: the type cannot change.
    if (m_pTIPFilter->UsingDifferentAllocators() && !m_pFilter->IsStopped()) {
        return *mediaType == m_mt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    // Both sides carry the input type.
    const HRESULT hr = m_pTIPFilter->CheckInputType(mediaType);
    if (hr != S_OK) {
        return hr;
    }
    IPin* upstream = m_pTIPFilter->m_pInput->GetConnected();
    return upstream ? upstream->QueryAccept(mediaType) : S_OK;
}

HRESULT CTransInPlaceOutputPin::CompleteConnect(IPin* receivePin) {
    const HRESULT hr = CBaseOutputPin::CompleteConnect(receivePin);
    if (FAILED(hr)) {
        return hr;
    }
    return m_pTIPFilter->CompleteConnect(PINDIR_OUTPUT, receivePin);
}

void CTransInPlaceOutputPin::SetAllocator(IMemAllocator* allocator) {
    allocator->AddRef();
    if (m_pAllocator) {
        m_pAllocator->Release();
    }
    m_pAllocator = allocator;
}

// --- filter

CTransInPlaceFilter::CTransInPlaceFilter(const char16_t* objectName, IUnknown* outer,
                                         REFCLSID clsid, HRESULT*, bool modifiesData)
    : CTransformFilter(objectName, outer, clsid), m_bModifiesData(modifiesData) {}

CBasePin* CTransInPlaceFilter::GetPin(int index) {
    HRESULT hr = S_OK;
    if (!m_pInput) {
        m_pInput = new (std::nothrow)
            CTransInPlaceInputPin(u"In-place transform input pin", this, &hr, u"Input");
        if (!m_pInput) {
            return nullptr;
        }
        m_pOutput = new (std::nothrow)
            CTransInPlaceOutputPin(u"In-place transform output pin", this, &hr, u"Output");
        if (!m_pOutput) {
            delete m_pInput;
            m_pInput = nullptr;
            return nullptr;
        }
    }
    if (index == 0) {
        return m_pInput;
    }
    if (index == 1) {
        return m_pOutput;
    }
    return nullptr;
}

HRESULT CTransInPlaceFilter::DecideBufferSize(IMemAllocator* allocator,
                                              ALLOCATOR_PROPERTIES* request) {
    ALLOCATOR_PROPERTIES wanted{};
    ALLOCATOR_PROPERTIES actual{};
    // Upstream's view counts when it is connected.
    if (m_pInput->IsConnected() && InPlaceInputPin()->PeekAllocator()) {
        const HRESULT hr = InPlaceInputPin()->PeekAllocator()->GetProperties(&wanted);
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (request->cBuffers > wanted.cBuffers) {
        wanted.cBuffers = request->cBuffers;
    }
    if (request->cbBuffer > wanted.cbBuffer) {
        wanted.cbBuffer = request->cbBuffer;
    }
    if (request->cbAlign > wanted.cbAlign) {
        wanted.cbAlign = request->cbAlign;
    }
    if (wanted.cBuffers <= 0) {
        wanted.cBuffers = 1;
    }
    if (wanted.cbBuffer <= 0) {
        wanted.cbBuffer = 1;
    }
    if (wanted.cbAlign <= 0) {
        wanted.cbAlign = 1;
    }
    const HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) {
        return hr;
    }
    if (wanted.cBuffers > actual.cBuffers || wanted.cbBuffer > actual.cbBuffer ||
        wanted.cbAlign > actual.cbAlign) {
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CTransInPlaceFilter::CompleteConnect(PIN_DIRECTION direction, IPin*) {
    if (!m_pGraph) {
        return VFW_E_NOT_IN_GRAPH;
    }
    // Reconnecting the other side makes it take this side's type (and allocator).
    if (direction == PINDIR_OUTPUT) {
        if (m_pInput->IsConnected()) {
            return ReconnectPin(m_pInput, &m_pOutput->CurrentMediaType());
        }
        return S_OK;
    }
    if (m_pOutput->IsConnected() && m_pInput->CurrentMediaType() != m_pOutput->CurrentMediaType()) {
        return ReconnectPin(m_pOutput, &m_pInput->CurrentMediaType());
    }
    return S_OK;
}

bool CTransInPlaceFilter::UsingDifferentAllocators() const {
    return InPlaceInputPin()->PeekAllocator() != InPlaceOutputPin()->PeekAllocator();
}

bool CTransInPlaceFilter::TypesMatch() {
    return m_pInput->CurrentMediaType() == m_pOutput->CurrentMediaType();
}

HRESULT CTransInPlaceFilter::Receive(IMediaSample* sample) {
    AM_SAMPLE2_PROPERTIES* const props = m_pInput->SampleProps();
    if (props->dwStreamId != AM_STREAM_MEDIA) {
        return m_pOutput->Deliver(sample);
    }
    const bool copying = UsingDifferentAllocators();
    if (copying) {
        sample = Copy(sample);
        if (!sample) {
            return E_UNEXPECTED;
        }
    }
    HRESULT hr = Transform(sample);
    if (FAILED(hr)) {
        if (copying) {
            sample->Release();
        }
        return hr;
    }
    if (hr == S_OK) {
        hr = m_pOutput->Deliver(sample);
    } else if (hr == S_FALSE) {
        // A dropped sample is not the end of the stream: Receive succeeds.
        m_bSampleSkipped = true;
        if (!m_bQualityChanged) {
            NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
            m_bQualityChanged = true;
        }
        hr = S_OK;
    }
    if (copying) {
        sample->Release();
    }
    return hr;
}

IMediaSample* CTransInPlaceFilter::Copy(IMediaSample* source) {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    const bool timed = source->GetTime(&start, &stop) == S_OK;
    IMemAllocator* allocator = InPlaceOutputPin()->PeekAllocator();
    if (!allocator) {
        return nullptr;
    }
    IMediaSample* destination = nullptr;
    if (FAILED(allocator->GetBuffer(&destination, timed ? &start : nullptr, timed ? &stop : nullptr,
                                    m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0)) ||
        !destination) {
        return nullptr;
    }
    ComPtr<IMediaSample2> destination2;
    if (SUCCEEDED(
            destination->QueryInterface(IID_IMediaSample2, destination2.GetVoidAddressOf()))) {
        const HRESULT hr =
            destination2->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer),
                                        reinterpret_cast<const BYTE*>(m_pInput->SampleProps()));
        if (FAILED(hr)) {
            destination->Release();
            return nullptr;
        }
        if (m_bSampleSkipped) {
            destination->SetDiscontinuity(TRUE);
        }
    } else {
        if (timed) {
            destination->SetTime(&start, &stop);
        }
        if (source->IsSyncPoint() == S_OK) {
            destination->SetSyncPoint(TRUE);
        }
        if (source->IsDiscontinuity() == S_OK || m_bSampleSkipped) {
            destination->SetDiscontinuity(TRUE);
        }
        if (source->IsPreroll() == S_OK) {
            destination->SetPreroll(TRUE);
        }
        AM_MEDIA_TYPE* type = nullptr;
        if (source->GetMediaType(&type) == S_OK) {
            destination->SetMediaType(type);
            DeleteMediaType(type);
        }
    }
    m_bSampleSkipped = false;
    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
    if (source->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
        destination->SetMediaTime(&mediaStart, &mediaStop);
    }
    // The data, never past the destination buffer.
    const LONG length = source->GetActualDataLength();
    BYTE* from = nullptr;
    BYTE* to = nullptr;
    if (length < 0 || length > destination->GetSize() ||
        FAILED(destination->SetActualDataLength(length)) || FAILED(source->GetPointer(&from)) ||
        FAILED(destination->GetPointer(&to))) {
        destination->Release();
        return nullptr;
    }
    if (length > 0) {
        std::memcpy(to, from, static_cast<size_t>(length));
    }
    return destination;
}
