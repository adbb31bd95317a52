#include "streamfw/ICTransformFilter.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "core/CodePage.h"
#include "core/ICErrors.h"
#include "platform/com/ComPtr.h"
#include "streamfw/ICPacket.h"
#include "streamfw/ICTransformInputPin.h"
#include "streamfw/ICTransformOutputPin.h"

namespace {

void ReleaseSample(void* object) {
    static_cast<IMediaSample*>(object)->Release();
}

}  // namespace

ICTransformFilter::ICTransformFilter(const char16_t* name, IUnknown* outer, REFCLSID clsid,
                                     HRESULT* hr)
    : CTransInPlaceFilter(name, outer, clsid, hr, true) {
    SetName(Utf16ToCp932(name != nullptr ? name : u"").c_str());
}

ICTransformFilter::~ICTransformFilter() {
    StopWorker();
    pendingList.RemoveAll(true);
}

void ICTransformFilter::StopWorker() {
    if (!workerExists.exchange(false, std::memory_order_acq_rel)) {
        return;
    }
    // Behind whatever is queued: those messages are handled first.
    PostMsg(kMsgQuit, 0, 0, 0);
    WaitForEnd();
    ICThread::Stop(0, 0);
    // Messages posted after the quit found no one to handle them: they go with what they carry.
    ClearMsgs();
}

// --- the platform filter

int ICTransformFilter::GetPinCount() {
    return 2;
}

CBasePin* ICTransformFilter::GetPin(int index) {
    if (m_pInput == nullptr && FAILED(CreatePins())) {
        return nullptr;
    }
    if (index == 0) {
        return m_pInput;
    }
    if (index == 1) {
        return m_pOutput;
    }
    return nullptr;
}

HRESULT ICTransformFilter::CreatePins() {
    HRESULT hr = S_OK;
    auto* input =
        new (std::nothrow) ICTransformInputPin(u"ICTransformInputPin", this, &hr, u"XForm In");
    if (input == nullptr) {
        return E_OUTOFMEMORY;
    }
    auto* output =
        new (std::nothrow) ICTransformOutputPin(u"ICTransformOutputPin", this, &hr, u"XForm Out");
    if (output == nullptr) {
        delete input;
        return E_OUTOFMEMORY;
    }
    m_pInput = input;
    m_pOutput = output;
    return hr;
}

ICTransformInputPin* ICTransformFilter::GetInputPin() {
    GetPin(0);
    return static_cast<ICTransformInputPin*>(m_pInput);
}

ICTransformOutputPin* ICTransformFilter::GetOutputPin() {
    GetPin(1);
    return static_cast<ICTransformOutputPin*>(m_pOutput);
}

HRESULT ICTransformFilter::Run(REFERENCE_TIME start) {
    // A Run from stopped pauses first, which starts the worker: start it now, so that it sees
    // this run too (behind the pause, which goes to the front).
    if (workerEnabled) {
        StartWorker();
    }
    if (HasWorker()) {
        PostMsg(kMsgRun, uintptr_t(uint64_t(start) >> 32), uintptr_t(uint64_t(start) & 0xFFFFFFFF));
    }
    return CTransInPlaceFilter::Run(start);
}

HRESULT ICTransformFilter::Pause() {
    CAutoLock lock(&m_csFilter);
    if (workerEnabled) {
        StartWorker();
    }
    if (HasWorker()) {
        PostMsgFront(kMsgPause);
    }
    const bool wasStopped = m_State == State_Stopped;
    if (wasStopped) {
        CAutoLock receiveLock(&m_csReceive);
        HRESULT hr = StartStreaming();
        if (FAILED(hr)) {
            pauseCompleted.store(true, std::memory_order_release);
            return hr;
        }
    }
    HRESULT hr = CBaseFilter::Pause();
    ICTransformOutputPin* output = GetOutputPin();
    // Paused after running, downstream keeps its samples: waiting for packets is allowed.
    if (SUCCEEDED(hr) && !wasStopped && output != nullptr && output->IsConnected()) {
        output->AllowRetry();
    }
    pauseCompleted.store(true, std::memory_order_release);
    return hr;
}

HRESULT ICTransformFilter::Stop() {
    return StopFilter();
}

HRESULT ICTransformFilter::StopFilter() {
    stopping.store(true, std::memory_order_release);
    if (HasWorker()) {
        PostMsgFront(kMsgStop);
    }
    // A GetPacket waiting on the streaming path gives up, so that the receive lock comes free.
    ICTransformOutputPin* output = GetOutputPin();
    if (output != nullptr && output->GetPacketAllocator() != nullptr) {
        output->GetPacketAllocator()->CancelWaits();
    }
    HRESULT hr = StopStreamingState();
    stopping.store(false, std::memory_order_release);
    pauseCompleted.store(false, std::memory_order_release);
    return hr;
}

HRESULT ICTransformFilter::StopStreamingState() {
    CAutoLock lock(&m_csFilter);
    CAutoLock receiveLock(&m_csReceive);
    if (m_State == State_Stopped) {
        return S_OK;
    }
    if (m_pInput != nullptr && m_pInput->IsConnected()) {
        m_pInput->Inactive();
    }
    if (m_pOutput != nullptr && m_pOutput->IsConnected()) {
        m_pOutput->Inactive();
    }
    HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
    }
    return hr;
}

HRESULT ICTransformFilter::CheckInputType(const CMediaType*) {
    return S_OK;
}

HRESULT ICTransformFilter::Transform(IMediaSample*) {
    return S_OK;
}

HRESULT ICTransformFilter::CompleteConnect(PIN_DIRECTION direction, IPin*) {
    if (m_pGraph == nullptr) {
        return VFW_E_NOT_IN_GRAPH;
    }
    // Both pins carry one type: the other side is reconnected only when its type differs.
    if (direction == PINDIR_OUTPUT) {
        if (m_pInput->IsConnected() &&
            m_pInput->CurrentMediaType() != m_pOutput->CurrentMediaType()) {
            return ReconnectPin(m_pInput, &m_pOutput->CurrentMediaType());
        }
        return S_OK;
    }
    if (m_pOutput->IsConnected() && m_pInput->CurrentMediaType() != m_pOutput->CurrentMediaType()) {
        return ReconnectPin(m_pOutput, &m_pInput->CurrentMediaType());
    }
    return S_OK;
}

// --- the stream

HRESULT ICTransformFilter::Receive(IMediaSample* sample) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    if (HasWorker()) {
        return PostSampleMsg(this, kMsgSample, sample);
    }
    return ProcessSample(sample);
}

HRESULT ICTransformFilter::EndOfStream() {
    if (HasWorker()) {
        return PostMsg(kMsgEndOfStream) == kICOk ? S_OK : E_FAIL;
    }
    return DeliverEndOfStream();
}

HRESULT ICTransformFilter::BeginFlush() {
    if (HasWorker()) {
        PostMsg(kMsgBeginFlush);
    }
    return DeliverBeginFlush();
}

HRESULT ICTransformFilter::EndFlush() {
    if (HasWorker()) {
        return PostMsg(kMsgEndFlush) == kICOk ? S_OK : E_FAIL;
    }
    return DeliverEndFlush();
}

HRESULT ICTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    segmentStart = start;
    segmentStop = stop;
    segmentRate = rate;
    if (HasWorker()) {
        return PostSegmentMsg(this, kMsgNewSegment, {start, stop, rate});
    }
    return DeliverNewSegment(start, stop, rate);
}

HRESULT ICTransformFilter::GetSampleProperties(IMediaSample* sample, AM_SAMPLE2_PROPERTIES* props,
                                               AM_MEDIA_TYPE** ownedType) {
    *props = AM_SAMPLE2_PROPERTIES{};
    *ownedType = nullptr;
    ComPtr<IMediaSample2> sample2;
    if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, sample2.GetVoidAddressOf()))) {
        return sample2->GetProperties(sizeof(*props), reinterpret_cast<BYTE*>(props));
    }
    props->cbData = sizeof(*props);
    HRESULT hr = sample->GetTime(&props->tStart, &props->tStop);
    if (SUCCEEDED(hr)) {
        props->dwSampleFlags |= AM_SAMPLE_TIMEVALID;
        if (hr == S_OK) {
            props->dwSampleFlags |= AM_SAMPLE_STOPVALID;
        }
    }
    if (sample->GetMediaType(ownedType) == S_OK && *ownedType != nullptr) {
        props->dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
        props->pMediaType = *ownedType;
    }
    if (sample->IsSyncPoint() == S_OK) {
        props->dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
    }
    if (sample->IsPreroll() == S_OK) {
        props->dwSampleFlags |= AM_SAMPLE_PREROLL;
    }
    if (sample->IsDiscontinuity() == S_OK) {
        props->dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
    }
    props->lActual = sample->GetActualDataLength();
    props->cbBuffer = sample->GetSize();
    sample->GetPointer(&props->pbBuffer);
    return S_OK;
}

HRESULT ICTransformFilter::ProcessSample(IMediaSample* sample) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    ICTransformOutputPin* output = GetOutputPin();
    if (output == nullptr) {
        return E_UNEXPECTED;
    }
    DWORD streamId = AM_STREAM_MEDIA;
    {
        ComPtr<IMediaSample2> sample2;
        AM_SAMPLE2_PROPERTIES props{};
        if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, sample2.GetVoidAddressOf())) &&
            SUCCEEDED(
                sample2->GetProperties(offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId) + sizeof(DWORD),
                                       reinterpret_cast<BYTE*>(&props)))) {
            streamId = props.dwStreamId;
        }
    }
    if (streamId != AM_STREAM_MEDIA) {
        return output->Deliver(sample);
    }
    HRESULT hr = S_OK;
    ICPacket* packet = output->GetPacket(&hr);
    if (packet == nullptr) {
        return FAILED(hr) ? hr : kNoOutputSample;
    }
    auto* destination = static_cast<IMediaSample2*>(packet);
    hr = CopySample(sample, destination);
    if (hr == S_OK) {
        hr = output->Deliver(destination);
        m_bSampleSkipped = false;
        destination->Release();
        return hr;
    }
    destination->Release();
    if (hr == S_FALSE) {
        // The concrete filter dropped the sample: that is not an error of the stream.
        m_bSampleSkipped = true;
        if (!m_bQualityChanged) {
            NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
            m_bQualityChanged = true;
        }
        return S_OK;
    }
    return hr;
}

HRESULT ICTransformFilter::CopySample(IMediaSample* source, IMediaSample* destination) {
    if (source == nullptr || destination == nullptr) {
        return E_POINTER;
    }
    BYTE* from = nullptr;
    HRESULT hr = source->GetPointer(&from);
    if (FAILED(hr)) {
        return hr;
    }
    const LONG length = source->GetActualDataLength();

    // The data first: resetting a packet for its new data clears its sample properties, which
    // are set below.
    ComPtr<IxPacket> packet;
    if (SUCCEEDED(destination->QueryInterface(IID_IxPacket, packet.GetVoidAddressOf()))) {
        packet->Reset();
        if (length > 0) {
            hr = packet->Write(from, length);
            if (FAILED(hr)) {
                return hr;
            }
        }
    } else {
        BYTE* to = nullptr;
        if (length < 0 || length > destination->GetSize()) {
            return VFW_E_BUFFER_OVERFLOW;
        }
        hr = destination->GetPointer(&to);
        if (SUCCEEDED(hr)) {
            hr = destination->SetActualDataLength(length);
        }
        if (FAILED(hr)) {
            return hr;
        }
        if (length > 0) {
            std::memmove(to, from, size_t(length));
        }
    }

    AM_SAMPLE2_PROPERTIES props{};
    AM_MEDIA_TYPE* ownedType = nullptr;
    hr = GetSampleProperties(source, &props, &ownedType);
    if (FAILED(hr)) {
        return hr;
    }
    const bool timed = (props.dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0;
    const bool stopped = (props.dwSampleFlags & AM_SAMPLE_STOPVALID) != 0;
    ComPtr<IMediaSample2> destination2;
    if (FAILED(destination->QueryInterface(IID_IMediaSample2, destination2.GetVoidAddressOf()))) {
        if (timed && stopped) {
            destination->SetTime(&props.tStart, &props.tStop);
        }
        destination->SetSyncPoint((props.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) != 0);
        destination->SetPreroll((props.dwSampleFlags & AM_SAMPLE_PREROLL) != 0);
        destination->SetDiscontinuity((props.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0 ||
                                      m_bSampleSkipped);
        if (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
            destination->SetMediaType(props.pMediaType);
        }
    } else {
        if (timed) {
            destination->SetTime(&props.tStart, stopped ? &props.tStop : nullptr);
        }
        // The properties up to the media type, with the length the data copy has set.
        props.cbData = offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer);
        props.lActual = destination->GetActualDataLength();
        if (m_bSampleSkipped) {
            props.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
        }
        hr = destination2->SetProperties(props.cbData, reinterpret_cast<const BYTE*>(&props));
        if (FAILED(hr)) {
            DeleteMediaType(ownedType);
            return hr;
        }
    }
    DeleteMediaType(ownedType);
    m_bSampleSkipped = false;

    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
    const bool hasMediaTime = source->GetMediaTime(&mediaStart, &mediaStop) == S_OK;
    if (hasMediaTime) {
        destination->SetMediaTime(&mediaStart, &mediaStop);
    } else {
        destination->SetMediaTime(nullptr, nullptr);
        mediaStart = 0;
    }

    ComPtr<IMediaSampleEx> destinationEx;
    if (SUCCEEDED(
            destination->QueryInterface(IID_IMediaSampleEx, destinationEx.GetVoidAddressOf()))) {
        ComPtr<IMediaSampleEx> sourceEx;
        if (SUCCEEDED(source->QueryInterface(IID_IMediaSampleEx, sourceEx.GetVoidAddressOf()))) {
            LONGLONG extStart = 0;
            LONGLONG extStop = 0;
            LONG clockRate = 0;
            sourceEx->GetExtTime(&extStart, &extStop, &clockRate);
            destinationEx->SetExtTime(&extStart, &extStop, clockRate);
        } else {
            // 100 ns units to 90 kHz ticks.
            LONGLONG ticks = LONGLONG(double(mediaStart) * 0.009);
            destinationEx->SetExtTime(&ticks, &ticks, ICPacket::kDefaultExtClockRate);
        }
    }
    return S_OK;
}

bool ICTransformFilter::HasWorker() {
    return workerExists.load(std::memory_order_acquire);
}

void ICTransformFilter::AddPending(IMediaSample* sample) {
    if (sample == nullptr) {
        return;
    }
    sample->AddRef();
    pendingList.AddObject(sample, ReleaseSample);
}

int32_t ICTransformFilter::GetPendingCount() {
    return pendingList.GetCount();
}

HRESULT ICTransformFilter::ProcessPending() {
    while (pendingList.GetCount() > 0) {
        auto* sample = static_cast<IMediaSample*>(pendingList.TakeObjectAt(0));
        if (sample == nullptr) {
            break;
        }
        HRESULT hr = ProcessSample(sample);
        sample->Release();
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

void ICTransformFilter::StartWorker() {
    if (!IsRunning()) {
        Start();
    }
    workerExists.store(true, std::memory_order_release);
}

HRESULT ICTransformFilter::DeliverEndOfStream() {
    ICTransformOutputPin* output = GetOutputPin();
    return output != nullptr && output->IsConnected() ? output->DeliverEndOfStream() : S_OK;
}

HRESULT ICTransformFilter::DeliverBeginFlush() {
    ICTransformOutputPin* output = GetOutputPin();
    return output != nullptr && output->IsConnected() ? output->DeliverBeginFlush() : S_OK;
}

HRESULT ICTransformFilter::DeliverEndFlush() {
    ICTransformOutputPin* output = GetOutputPin();
    return output != nullptr && output->IsConnected() ? output->DeliverEndFlush() : S_OK;
}

HRESULT ICTransformFilter::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                             double rate) {
    ICTransformOutputPin* output = GetOutputPin();
    return output != nullptr && output->IsConnected() ? output->DeliverNewSegment(start, stop, rate)
                                                      : S_OK;
}

// --- the worker

uint32_t ICTransformFilter::OnUserMessage(ICMsg*) {
    return 0;
}

uint32_t ICTransformFilter::OnQuit() {
    stopRequested.store(true);
    return 0;
}

uint32_t ICTransformFilter::OnRun(REFERENCE_TIME) {
    return 0;
}

uint32_t ICTransformFilter::OnStop() {
    return 0;
}

uint32_t ICTransformFilter::OnPause() {
    return 0;
}

uint32_t ICTransformFilter::OnSample(ICMsg* msg) {
    IMediaSample* sample = SampleOf(msg);
    if (sample == nullptr) {
        return 0;
    }
    return static_cast<uint32_t>(ProcessSample(sample));
}

uint32_t ICTransformFilter::OnEndOfStream() {
    return 0;
}

uint32_t ICTransformFilter::OnBeginFlush() {
    return 0;
}

uint32_t ICTransformFilter::OnEndFlush() {
    return 0;
}

uint32_t ICTransformFilter::OnNewSegment(ICMsg*) {
    return 0;
}

uint32_t ICTransformFilter::OnMessage(ICMsg* msg) {
    if (msg == nullptr) {
        return 0;
    }
    switch (msg->id) {
        case kMsgQuit:
            return OnQuit();
        case kMsgRun:
            return OnRun(REFERENCE_TIME((uint64_t(msg->param1) << 32) | uint64_t(msg->param2)));
        case kMsgStop:
            return OnStop();
        case kMsgPause:
            return OnPause();
        case kMsgSample:
            return OnSample(msg);
        case kMsgEndOfStream: {
            uint32_t result = OnEndOfStream();
            // Behind every sample that came before it.
            DeliverEndOfStream();
            return result;
        }
        case kMsgBeginFlush:
            return OnBeginFlush();
        case kMsgEndFlush: {
            uint32_t result = OnEndFlush();
            DeliverEndFlush();
            return result;
        }
        case kMsgNewSegment: {
            uint32_t result = OnNewSegment(msg);
            if (const ICSegmentRecord* record = SegmentOf(msg)) {
                DeliverNewSegment(record->start, record->stop, record->rate);
            }
            return result;
        }
        default:
            return OnUserMessage(msg);
    }
}
