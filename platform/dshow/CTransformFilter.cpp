#include "platform/dshow/CTransformFilter.h"

#include <cstddef>
#include <new>

#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/CPosPassThru.h"

// --- input pin

CTransformInputPin::CTransformInputPin(const char16_t* objectName, CTransformFilter* filter,
                                       HRESULT* hr, LPCWSTR pinName)
    : CBaseInputPin(objectName, filter, &filter->m_csFilter, hr, pinName),
      m_pTransformFilter(filter) {}

HRESULT CTransformInputPin::QueryId(LPWSTR* id) {
    return AMGetWideString(u"In", id);
}

HRESULT CTransformInputPin::CheckConnect(IPin* pin) {
    const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pin);
    if (FAILED(hr)) {
        return hr;
    }
    return CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect() {
    m_pTransformFilter->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* receivePin) {
    const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, receivePin);
    if (FAILED(hr)) {
        return hr;
    }
    return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mediaType) {
    const HRESULT hr = m_pTransformFilter->CheckInputType(mediaType);
    if (hr != S_OK) {
        return hr;
    }
    CTransformOutputPin* output = m_pTransformFilter->m_pOutput;
    if (output && output->IsConnected()) {
        return m_pTransformFilter->CheckTransform(mediaType, &output->CurrentMediaType());
    }
    return hr;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mediaType) {
    const HRESULT hr = CBasePin::SetMediaType(mediaType);
    if (FAILED(hr)) {
        return hr;
    }
    return m_pTransformFilter->SetMediaType(PINDIR_INPUT, mediaType);
}

HRESULT CTransformInputPin::CheckStreaming() {
    CTransformOutputPin* output = m_pTransformFilter->m_pOutput;
    if (!output || !output->IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    return CBaseInputPin::CheckStreaming();
}

HRESULT CTransformInputPin::Receive(IMediaSample* sample) {
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr == S_OK) {
        hr = m_pTransformFilter->Receive(sample);
    }
    return hr;
}

HRESULT CTransformInputPin::EndOfStream() {
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    HRESULT hr = CheckStreaming();
    if (hr == S_OK) {
        hr = m_pTransformFilter->EndOfStream();
    }
    return hr;
}

HRESULT CTransformInputPin::BeginFlush() {
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    CTransformOutputPin* output = m_pTransformFilter->m_pOutput;
    if (!IsConnected() || !output || !output->IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    const HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr)) {
        return hr;
    }
    return m_pTransformFilter->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush() {
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    CTransformOutputPin* output = m_pTransformFilter->m_pOutput;
    if (!IsConnected() || !output || !output->IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    const HRESULT hr = m_pTransformFilter->EndFlush();
    if (FAILED(hr)) {
        return hr;
    }
    return CBaseInputPin::EndFlush();
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CBasePin::NewSegment(start, stop, rate);
    return m_pTransformFilter->NewSegment(start, stop, rate);
}

// --- output pin

CTransformOutputPin::CTransformOutputPin(const char16_t* objectName, CTransformFilter* filter,
                                         HRESULT* hr, LPCWSTR pinName)
    : CBaseOutputPin(objectName, filter, &filter->m_csFilter, hr, pinName),
      m_pTransformFilter(filter) {}

CTransformOutputPin::~CTransformOutputPin() {
    if (m_pPosition) {
        m_pPosition->Release();
        m_pPosition = nullptr;
    }
}

HRESULT CTransformOutputPin::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IMediaSeeking) {
        if (!m_pPosition) {
            const HRESULT hr = CreatePosPassThru(
                GetOwner(), FALSE, static_cast<IPin*>(m_pTransformFilter->m_pInput), &m_pPosition);
            if (FAILED(hr)) {
                return hr;
            }
        }
        return m_pPosition->QueryInterface(iid, object);
    }
    return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CTransformOutputPin::QueryId(LPWSTR* id) {
    return AMGetWideString(u"Out", id);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin) {
    // The input decides the types: it must be connected first.
    if (!m_pTransformFilter->m_pInput->IsConnected()) {
        return E_UNEXPECTED;
    }
    const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pin);
    if (FAILED(hr)) {
        return hr;
    }
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect() {
    m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* receivePin) {
    const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, receivePin);
    if (FAILED(hr)) {
        return hr;
    }
    return CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                              ALLOCATOR_PROPERTIES* request) {
    return m_pTransformFilter->DecideBufferSize(allocator, request);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mediaType) {
    if (!m_pTransformFilter->m_pInput->IsConnected()) {
        return E_INVALIDARG;
    }
    return m_pTransformFilter->CheckTransform(&m_pTransformFilter->m_pInput->CurrentMediaType(),
                                              mediaType);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* mediaType) {
    const HRESULT hr = CBasePin::SetMediaType(mediaType);
    if (FAILED(hr)) {
        return hr;
    }
    return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, mediaType);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* mediaType) {
    if (m_pTransformFilter->m_pInput->IsConnected()) {
        return m_pTransformFilter->GetMediaType(position, mediaType);
    }
    return VFW_S_NO_MORE_ITEMS;
}

// --- filter

CTransformFilter::CTransformFilter(const char16_t* objectName, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(objectName, outer, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() {
    delete m_pInput;
    delete m_pOutput;
}

int CTransformFilter::GetPinCount() {
    return 2;
}

CBasePin* CTransformFilter::GetPin(int index) {
    HRESULT hr = S_OK;
    if (!m_pInput) {
        m_pInput =
            new (std::nothrow) CTransformInputPin(u"Transform input pin", this, &hr, u"XForm In");
        if (!m_pInput) {
            return nullptr;
        }
        m_pOutput = new (std::nothrow)
            CTransformOutputPin(u"Transform output pin", this, &hr, u"XForm Out");
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

HRESULT CTransformFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) {
        return E_POINTER;
    }
    const std::u16string_view wanted(id);
    CBasePin* found = nullptr;
    if (wanted == u"In") {
        found = GetPin(0);
    } else if (wanted == u"Out") {
        found = GetPin(1);
    } else {
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *pin = found;
    if (!found) {
        return E_OUTOFMEMORY;
    }
    found->AddRef();
    return S_OK;
}

HRESULT CTransformFilter::Stop() {
    CAutoLock lock(&m_csFilter);
    if (m_State == State_Stopped) {
        return S_OK;
    }
    if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
        return S_OK;
    }
    // Decommitting the input first releases a streaming thread waiting for a buffer.
    m_pInput->Inactive();
    CAutoLock receiveLock(&m_csReceive);
    m_pOutput->Inactive();
    const HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
    }
    return hr;
}

HRESULT CTransformFilter::Pause() {
    CAutoLock lock(&m_csFilter);
    HRESULT hr = S_OK;
    if (m_State == State_Paused) {
        // Already there.
    } else if (!m_pInput || !m_pInput->IsConnected()) {
        // Nothing can ever arrive: tell downstream so that it does not wait.
        if (m_pOutput && !m_bEOSDelivered) {
            m_pOutput->DeliverEndOfStream();
            m_bEOSDelivered = true;
        }
        m_State = State_Paused;
    } else if (!m_pOutput->IsConnected()) {
        m_State = State_Paused;
    } else {
        if (m_State == State_Stopped) {
            CAutoLock receiveLock(&m_csReceive);
            hr = StartStreaming();
        }
        if (SUCCEEDED(hr)) {
            hr = CBaseFilter::Pause();
        }
    }
    m_bSampleSkipped = false;
    m_bQualityChanged = false;
    return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) {
    return E_UNEXPECTED;
}

HRESULT CTransformFilter::StartStreaming() {
    return S_OK;
}

HRESULT CTransformFilter::StopStreaming() {
    return S_OK;
}

HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const CMediaType*) {
    return S_OK;
}

HRESULT CTransformFilter::CheckConnect(PIN_DIRECTION, IPin*) {
    return S_OK;
}

HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION) {
    return S_OK;
}

HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION, IPin*) {
    return S_OK;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* sample,
                                                 IMediaSample** outputSample) {
    AM_SAMPLE2_PROPERTIES* const props = m_pInput->SampleProps();
    const DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
    // A sample that does not begin a unit tells the allocator so.
    const DWORD bufferFlags =
        flags | ((props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) ? 0 : AM_GBF_NOTASYNCPOINT);
    IMediaSample* output = nullptr;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(
        &output, (props->dwSampleFlags & AM_SAMPLE_TIMEVALID) ? &props->tStart : nullptr,
        (props->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &props->tStop : nullptr, bufferFlags);
    *outputSample = output;
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IMediaSample2> output2;
    if (SUCCEEDED(output->QueryInterface(IID_IMediaSample2, output2.GetVoidAddressOf()))) {
        hr = output2->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer),
                                    reinterpret_cast<const BYTE*>(props));
        if (FAILED(hr)) {
            output->Release();
            *outputSample = nullptr;
            return hr;
        }
    } else {
        if (props->dwSampleFlags & AM_SAMPLE_TIMEVALID) {
            output->SetTime(&props->tStart, &props->tStop);
        }
        if (props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) {
            output->SetSyncPoint(TRUE);
        }
        if (props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) {
            output->SetDiscontinuity(TRUE);
        }
    }
    if (m_bSampleSkipped) {
        output->SetDiscontinuity(TRUE);
    }
    m_bSampleSkipped = false;
    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
    if (sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
        output->SetMediaTime(&mediaStart, &mediaStop);
    }
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* sample) {
    AM_SAMPLE2_PROPERTIES* const props = m_pInput->SampleProps();
    if (props->dwStreamId != AM_STREAM_MEDIA) {
        return m_pOutput->Deliver(sample);
    }
    IMediaSample* output = nullptr;
    HRESULT hr = InitializeOutputSample(sample, &output);
    if (FAILED(hr)) {
        return hr;
    }
    hr = Transform(sample, output);
    if (hr == S_OK) {
        hr = m_pOutput->Deliver(output);
        m_bSampleSkipped = false;
    } else if (hr == S_FALSE) {
        // The derived class dropped the sample: Receive itself succeeds.
        output->Release();
        m_bSampleSkipped = true;
        if (!m_bQualityChanged) {
            NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
            m_bQualityChanged = true;
        }
        return S_OK;
    }
    output->Release();
    return hr;
}

HRESULT CTransformFilter::EndOfStream() {
    return m_pOutput ? m_pOutput->DeliverEndOfStream() : S_OK;
}

HRESULT CTransformFilter::BeginFlush() {
    return m_pOutput ? m_pOutput->DeliverBeginFlush() : S_OK;
}

HRESULT CTransformFilter::EndFlush() {
    return m_pOutput ? m_pOutput->DeliverEndFlush() : S_OK;
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return m_pOutput ? m_pOutput->DeliverNewSegment(start, stop, rate) : S_OK;
}
