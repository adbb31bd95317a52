#include "platform/dshow/CBaseRenderer.h"

#include <chrono>
#include <new>
#include <thread>

#include "platform/com/TaskAllocator.h"

// --- input pin

CRendererInputPin::CRendererInputPin(CBaseRenderer* renderer, HRESULT* hr, LPCWSTR pinName)
    : CBaseInputPin(u"Renderer input pin", renderer, &renderer->m_InterfaceLock, hr, pinName),
      m_pRenderer(renderer) {}

HRESULT CRendererInputPin::Receive(IMediaSample* sample) {
    const HRESULT hr = m_pRenderer->Receive(sample);
    if (FAILED(hr)) {
        // A failure while streaming normally ends the stream with an error.
        CAutoLock lock(&m_pRenderer->m_InterfaceLock);
        if (!IsStopped() && !IsFlushing() && !m_pRenderer->m_bAbort && !m_bRunTimeError) {
            m_pRenderer->NotifyEvent(EC_ERRORABORT, hr, 0);
            {
                CAutoLock rendererLock(&m_pRenderer->m_RendererLock);
                if (m_pRenderer->IsStreaming() && !m_pRenderer->IsEndOfStreamDelivered()) {
                    m_pRenderer->NotifyEndOfStream();
                }
            }
            m_pRenderer->m_bAbort = true;
        }
    }
    return hr;
}

HRESULT CRendererInputPin::EndOfStream() {
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    CAutoLock rendererLock(&m_pRenderer->m_RendererLock);
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) {
        return hr;
    }
    hr = m_pRenderer->EndOfStream();
    if (SUCCEEDED(hr)) {
        hr = CBaseInputPin::EndOfStream();
    }
    return hr;
}

HRESULT CRendererInputPin::BeginFlush() {
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    {
        CAutoLock rendererLock(&m_pRenderer->m_RendererLock);
        CBaseInputPin::BeginFlush();
        m_pRenderer->BeginFlush();
    }
    return m_pRenderer->ResetEndOfStream();
}

HRESULT CRendererInputPin::EndFlush() {
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    CAutoLock rendererLock(&m_pRenderer->m_RendererLock);
    HRESULT hr = m_pRenderer->EndFlush();
    if (SUCCEEDED(hr)) {
        hr = CBaseInputPin::EndFlush();
    }
    return hr;
}

HRESULT CRendererInputPin::QueryId(LPWSTR* id) {
    return AMGetWideString(u"In", id);
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* mediaType) {
    return m_pRenderer->CheckMediaType(mediaType);
}

HRESULT CRendererInputPin::SetMediaType(const CMediaType* mediaType) {
    const HRESULT hr = CBaseInputPin::SetMediaType(mediaType);
    if (FAILED(hr)) {
        return hr;
    }
    return m_pRenderer->SetMediaType(mediaType);
}

HRESULT CRendererInputPin::BreakConnect() {
    const HRESULT hr = m_pRenderer->BreakConnect();
    if (FAILED(hr)) {
        return hr;
    }
    return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* receivePin) {
    const HRESULT hr = m_pRenderer->CompleteConnect(receivePin);
    if (FAILED(hr)) {
        return hr;
    }
    return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CRendererInputPin::Active() {
    return m_pRenderer->Active();
}

HRESULT CRendererInputPin::Inactive() {
    m_bRunTimeError = false;
    return m_pRenderer->Inactive();
}

// --- render wait

void CBaseRenderer::RenderWait::Signal() {
    std::lock_guard<std::mutex> lock(mutex);
    renderDue = true;
    changed.notify_all();
}

void CBaseRenderer::RenderWait::ResetRender() {
    std::lock_guard<std::mutex> lock(mutex);
    renderDue = false;
}

void CBaseRenderer::RenderWait::SetThreadCanWait(bool canWait) {
    std::lock_guard<std::mutex> lock(mutex);
    cannotWait = !canWait;
    changed.notify_all();
}

HRESULT CBaseRenderer::RenderWait::Wait() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return cannotWait || renderDue; });
    if (cannotWait) {
        return VFW_E_STATE_CHANGED;
    }
    renderDue = false;
    return S_OK;
}

// --- renderer

CBaseRenderer::CBaseRenderer(REFCLSID clsid, const char16_t* objectName, IUnknown* outer, HRESULT*)
    : CBaseFilter(objectName, outer, &m_InterfaceLock, clsid) {
    Ready();
}

CBaseRenderer::~CBaseRenderer() {
    CancelNotification();
    ClearPendingSample();
    delete m_pInputPin;
}

HRESULT CBaseRenderer::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IAMFilterMiscFlags) {
        return GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
    }
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

CBasePin* CBaseRenderer::GetPin(int index) {
    CAutoLock lock(&m_InterfaceLock);
    if (index != 0) {
        return nullptr;
    }
    if (!m_pInputPin) {
        HRESULT hr = S_OK;
        m_pInputPin = new (std::nothrow) CRendererInputPin(this, &hr, u"In");
    }
    return m_pInputPin;
}

HRESULT CBaseRenderer::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) {
        return E_POINTER;
    }
    if (std::u16string_view(id) != u"In") {
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *pin = GetPin(0);
    if (!*pin) {
        return E_OUTOFMEMORY;
    }
    (*pin)->AddRef();
    return S_OK;
}

HRESULT CBaseRenderer::GetState(DWORD milliseconds, FILTER_STATE* state) {
    if (!state) {
        return E_POINTER;
    }
    if (!m_evComplete.Wait(milliseconds)) {
        *state = m_State;
        return VFW_S_STATE_INTERMEDIATE;
    }
    *state = m_State;
    return S_OK;
}

HRESULT CBaseRenderer::CompleteStateChange(FILTER_STATE oldState) {
    if (m_bEOS) {
        Ready();
        return S_OK;
    }
    // Data held from before a stop is stale: after a stop a fresh sample is needed.
    if (HaveCurrentSample() && oldState != State_Stopped) {
        Ready();
        return S_OK;
    }
    NotReady();
    return S_FALSE;
}

HRESULT CBaseRenderer::Pause() {
    CAutoLock lock(&m_InterfaceLock);
    const FILTER_STATE oldState = m_State;
    if (m_State == State_Paused) {
        return CompleteStateChange(State_Paused);
    }
    if (!InputPin() || !m_pInputPin->IsConnected()) {
        m_State = State_Paused;
        return CompleteStateChange(State_Paused);
    }
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) {
        return hr;
    }
    StopStreaming();
    SourceThreadCanWait(true);
    CancelNotification();
    if (oldState == State_Stopped) {
        m_bAbort = false;
        ClearPendingSample();
    }
    return CompleteStateChange(oldState);
}

HRESULT CBaseRenderer::Run(REFERENCE_TIME start) {
    CAutoLock lock(&m_InterfaceLock);
    const FILTER_STATE oldState = m_State;
    if (m_State == State_Running) {
        return S_OK;
    }
    if (!InputPin() || !m_pInputPin->IsConnected()) {
        // Nothing will ever arrive.
        NotifyEvent(EC_COMPLETE, S_OK, 0);
        m_tStart = start;
        m_State = State_Running;
        return S_OK;
    }
    Ready();
    const HRESULT hr = CBaseFilter::Run(start);
    if (FAILED(hr)) {
        return hr;
    }
    SourceThreadCanWait(true);
    if (oldState == State_Stopped) {
        m_bAbort = false;
        ClearPendingSample();
    }
    return StartStreaming();
}

HRESULT CBaseRenderer::Stop() {
    CAutoLock lock(&m_InterfaceLock);
    if (m_State == State_Stopped) {
        return S_OK;
    }
    if (!InputPin() || !m_pInputPin->IsConnected()) {
        m_State = State_Stopped;
        return S_OK;
    }
    CBaseFilter::Stop();
    // Release an upstream thread waiting for a buffer of the allocator.
    if (m_pInputPin->Allocator()) {
        m_pInputPin->Allocator()->Decommit();
    }
    StopStreaming();
    SourceThreadCanWait(false);
    ResetEndOfStream();
    CancelNotification();
    Ready();
    WaitForReceiveToComplete();
    ClearPendingSample();
    m_bAbort = false;
    return S_OK;
}

HRESULT CBaseRenderer::SetMediaType(const CMediaType*) {
    return S_OK;
}

HRESULT CBaseRenderer::CompleteConnect(IPin*) {
    return S_OK;
}

HRESULT CBaseRenderer::BreakConnect() {
    return S_OK;
}

HRESULT CBaseRenderer::Active() {
    return S_OK;
}

HRESULT CBaseRenderer::Inactive() {
    ClearPendingSample();
    return S_OK;
}

HRESULT CBaseRenderer::ShouldDrawSampleNow(IMediaSample*, REFERENCE_TIME*, REFERENCE_TIME*) {
    return S_FALSE;
}

HRESULT CBaseRenderer::PrepareReceive(IMediaSample* sample) {
    CAutoLock lock(&m_InterfaceLock);
    m_bInReceive = true;
    HRESULT hr = m_pInputPin->CBaseInputPin::Receive(sample);
    if (hr != S_OK) {
        m_bInReceive = false;
        return E_FAIL;
    }
    // A type change takes effect with this sample; all rendering happens on this thread.
    if (AM_MEDIA_TYPE* type = m_pInputPin->SampleProps()->pMediaType) {
        hr = m_pInputPin->SetMediaType(AsMediaType(type));
        if (FAILED(hr)) {
            m_bInReceive = false;
            return hr;
        }
    }
    CAutoLock rendererLock(&m_RendererLock);
    // One sample at a time, and nothing after end of stream.
    if (m_pMediaSample || m_bEOS || m_bAbort) {
        Ready();
        m_bInReceive = false;
        return E_UNEXPECTED;
    }
    if (m_bStreaming && !ScheduleSample(sample)) {
        m_bInReceive = false;
        return VFW_E_SAMPLE_REJECTED;
    }
    m_SignalTime = m_pInputPin->SampleProps()->tStop;
    m_pMediaSample = sample;
    m_pMediaSample->AddRef();
    return S_OK;
}

HRESULT CBaseRenderer::Receive(IMediaSample* sample) {
    if (!sample) {
        return E_POINTER;
    }
    HRESULT hr = PrepareReceive(sample);
    if (FAILED(hr)) {
        return hr == VFW_E_SAMPLE_REJECTED ? S_OK : hr;
    }
    if (m_State == State_Paused) {
        m_bInReceive = false;
        {
            CAutoLock lock(&m_InterfaceLock);
            if (m_State == State_Stopped) {
                return S_OK;
            }
            m_bInReceive = true;
            CAutoLock rendererLock(&m_RendererLock);
            OnReceiveFirstSample(sample);
        }
        Ready();
    }
    hr = WaitForRenderTime();
    m_bInReceive = false;
    if (FAILED(hr)) {
        return S_OK;  // stopped or flushed while waiting: the sample is not rendered
    }
    CAutoLock lock(&m_InterfaceLock);
    if (m_State == State_Stopped) {
        return S_OK;
    }
    CAutoLock rendererLock(&m_RendererLock);
    if (m_pMediaSample) {
        DoRenderSample(m_pMediaSample);
    }
    ClearPendingSample();
    SendEndOfStream();
    CancelNotification();
    return S_OK;
}

HRESULT CBaseRenderer::WaitForRenderTime() {
    return m_renderWait.Wait();
}

bool CBaseRenderer::ScheduleSample(IMediaSample* sample) {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    const HRESULT draw = ShouldDrawSampleNow(sample, &start, &stop);
    if (FAILED(draw)) {
        return false;
    }
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    if (draw == S_OK || !m_pClock || !timed) {
        m_renderWait.Signal();
        return true;
    }
    CancelNotification();
    const HRESULT hr = m_pClock->AdviseTime(m_tStart, start, ToHandle(&m_renderWait), &m_dwAdvise);
    if (FAILED(hr)) {
        // A time the clock cannot wait for (at or before its zero) is due now.
        m_dwAdvise = 0;
        m_renderWait.Signal();
    }
    return true;
}

void CBaseRenderer::CancelNotification() {
    CAutoLock rendererLock(&m_RendererLock);
    if (m_dwAdvise && m_pClock) {
        m_pClock->Unadvise(m_dwAdvise);
    }
    m_dwAdvise = 0;
    m_renderWait.ResetRender();
}

HRESULT CBaseRenderer::StartStreaming() {
    CAutoLock rendererLock(&m_RendererLock);
    if (m_bStreaming) {
        return S_OK;
    }
    m_bStreaming = true;
    OnStartStreaming();
    if (!m_pMediaSample) {
        return SendEndOfStream();
    }
    if (!ScheduleSample(m_pMediaSample)) {
        m_renderWait.Signal();
    }
    return S_OK;
}

HRESULT CBaseRenderer::StopStreaming() {
    CAutoLock rendererLock(&m_RendererLock);
    if (m_bStreaming) {
        m_bStreaming = false;
        OnStopStreaming();
    }
    return S_OK;
}

HRESULT CBaseRenderer::SendEndOfStream() {
    CAutoLock rendererLock(&m_RendererLock);
    if (!m_bEOS || m_bEOSDelivered) {
        return S_OK;
    }
    return NotifyEndOfStream();
}

HRESULT CBaseRenderer::NotifyEndOfStream() {
    CAutoLock rendererLock(&m_RendererLock);
    if (!m_bStreaming) {
        return S_OK;
    }
    m_bEOSDelivered = true;
    return NotifyEvent(EC_COMPLETE, S_OK, 0);
}

HRESULT CBaseRenderer::ResetEndOfStream() {
    CAutoLock rendererLock(&m_RendererLock);
    m_bEOS = false;
    m_bEOSDelivered = false;
    m_SignalTime = 0;
    return S_OK;
}

HRESULT CBaseRenderer::EndOfStream() {
    if (m_State == State_Stopped) {
        return S_OK;
    }
    m_bEOS = true;
    // With a sample waiting, completion follows its rendering.
    if (m_pMediaSample) {
        return S_OK;
    }
    // No sample will come: a pending pause is complete.
    Ready();
    if (m_bStreaming) {
        SendEndOfStream();
    }
    return S_OK;
}

HRESULT CBaseRenderer::BeginFlush() {
    if (m_State == State_Paused) {
        NotReady();
    }
    SourceThreadCanWait(false);
    CancelNotification();
    ClearPendingSample();
    WaitForReceiveToComplete();
    return S_OK;
}

HRESULT CBaseRenderer::EndFlush() {
    SourceThreadCanWait(true);
    return S_OK;
}

void CBaseRenderer::ClearPendingSample() {
    CAutoLock rendererLock(&m_RendererLock);
    if (m_pMediaSample) {
        m_pMediaSample->Release();
        m_pMediaSample = nullptr;
    }
}

void CBaseRenderer::WaitForReceiveToComplete() {
    while (m_bInReceive) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
