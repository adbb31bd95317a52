#include "sianalyzer/ICQVSIAnalyzer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "platform/com/TaskAllocator.h"
#include "platform/dshow/DShowGuids.h"
#include "sianalyzer/ICQVSIAnalyzerInputPin.h"
#include "sianalyzer/ICQVSIAnalyzerOutputPin.h"
#include "streamfw/ICModuleTables.h"
#include "streamfw/ICVersionPage.h"

namespace {

// The PCR and PTS run modulo 2^33 of their 90 kHz base.
constexpr int64_t kPCRWrap = (int64_t{1} << 33) * 300;

const char16_t* const kOutputNames[] = {u"TS", u"Video", u"Audio", u"Caption", u"Section"};
const ICQVSIAnalyzerPinKind kOutputKinds[] = {
    ICQVSIAnalyzerPinKind::kTS, ICQVSIAnalyzerPinKind::kVideo, ICQVSIAnalyzerPinKind::kAudio,
    ICQVSIAnalyzerPinKind::kCaption, ICQVSIAnalyzerPinKind::kSection};

ICPacket* AsPacket(IMediaSample* sample) {
    return static_cast<ICPacket*>(static_cast<IMediaSample2*>(sample));
}

// The 33-bit PTS of a PES header at `data` (5 bytes with marker bits).
int64_t ReadPTS(const uint8_t* data) {
    return (static_cast<int64_t>(data[0] & 0x0E) << 29) | (int64_t{data[1]} << 22) |
           (static_cast<int64_t>(data[2] & 0xFE) << 14) | (int64_t{data[3]} << 7) | (data[4] >> 1);
}

}  // namespace

ICQVSIAnalyzer::ICQVSIAnalyzer(IUnknown* outer, HRESULT* hr)
    : ICTransformFilter(kICModuleSIAnalyzer.filterName, outer, CLSID_QVSIAnalyzer, hr) {
    workerEnabled = true;
    SetWorkerThread(this);
    SetFilterParam(reinterpret_cast<intptr_t>(static_cast<IBaseFilter*>(this)));
    HRESULT pinResult = S_OK;
    inputPin = new (std::nothrow) ICQVSIAnalyzerInputPin(this, &pinResult);
    for (int i = kPinTS; i < kPinCount; ++i) {
        outputPins[i] = new (std::nothrow)
            ICQVSIAnalyzerOutputPin(this, &pinResult, kOutputNames[i - 1], kOutputKinds[i - 1]);
    }
    bool complete = inputPin != nullptr;
    for (int i = kPinTS; i < kPinCount; ++i) {
        complete = complete && outputPins[i] != nullptr;
    }
    if (!complete && hr != nullptr) {
        *hr = E_OUTOFMEMORY;
    }
    // The transform base works with one input and one output: the input and "TS".
    m_pInput = inputPin;
    m_pOutput = outputPins[kPinTS];
}

ICQVSIAnalyzer::~ICQVSIAnalyzer() {
    // The worker's handlers belong to this class: it ends while they exist.
    StopWorker();
    for (PESState& state : pesStates) {
        ReleasePES(state);
    }
    ReleaseClock();
    m_pInput = nullptr;
    m_pOutput = nullptr;
    for (int i = kPinTS; i < kPinCount; ++i) {
        delete outputPins[i];
        outputPins[i] = nullptr;
    }
    delete inputPin;
    inputPin = nullptr;
}

CUnknown* ICQVSIAnalyzer::CreateInstance(IUnknown* outer, HRESULT* hr) {
    return ICCreateFilter<ICQVSIAnalyzer>(outer, hr);
}

HRESULT ICQVSIAnalyzer::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IQVSIAnalyzer) {
        return GetInterface(static_cast<IQVSIAnalyzer*>(this), object);
    }
    if (iid == IID_ISpecifyPropertyPages) {
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), object);
    }
    return ICTransformFilter::NonDelegatingQueryInterface(iid, object);
}

// --- pins

int ICQVSIAnalyzer::GetPinCount() {
    return kPinCount;
}

CBasePin* ICQVSIAnalyzer::GetPin(int index) {
    if (index == kPinInput) {
        return inputPin;
    }
    if (index > kPinInput && index < kPinCount) {
        return outputPins[index];
    }
    return nullptr;
}

ICQVSIAnalyzerOutputPin* ICQVSIAnalyzer::GetOutput(int index) const {
    return index > kPinInput && index < kPinCount ? outputPins[index] : nullptr;
}

HRESULT ICQVSIAnalyzer::FindPin(LPCWSTR id, IPin** pin) {
    // The pins are found by their names.
    return CBaseFilter::FindPin(id, pin);
}

HRESULT ICQVSIAnalyzer::CheckInputType(const CMediaType* mediaType) {
    return inputPin->CheckMediaType(mediaType);
}

HRESULT ICQVSIAnalyzer::CompleteConnect(PIN_DIRECTION, IPin*) {
    // Every pin has its own type: nothing is reconnected.
    return m_pGraph == nullptr ? VFW_E_NOT_IN_GRAPH : S_OK;
}

// --- state

HRESULT ICQVSIAnalyzer::Run(REFERENCE_TIME start) {
    streamStartTime.store(start);
    ICSIAnalyzerCore::SetRunning(true);
    {
        CAutoLock lock(m_pLock);
        IReferenceClock* clock = m_pClock;
        if (clock != nullptr) {
            clock->AddRef();
        }
        IReferenceClock* previous = graphClock.exchange(clock);
        if (previous != nullptr) {
            previous->Release();
        }
    }
    return ICTransformFilter::Run(start);
}

HRESULT ICQVSIAnalyzer::Pause() {
    CAutoLock lock(m_pLock);
    const bool wasRunning = m_State == State_Running;
    HRESULT hr = ICTransformFilter::Pause();
    if (SUCCEEDED(hr) && wasRunning) {
        // Paused after running, downstream keeps its samples: waiting for packets is allowed.
        for (int i = kPinTS; i < kPinCount; ++i) {
            if (outputPins[i]->IsConnected()) {
                outputPins[i]->AllowRetry();
            }
        }
    }
    return hr;
}

HRESULT ICQVSIAnalyzer::Stop() {
    ICSIAnalyzerCore::SetRunning(false);
    // The transform base's stop, for all five output pins: the stop message overtakes what is
    // queued, and a streaming thread waiting for a packet gives up (it sees `stopping` too).
    stopping.store(true, std::memory_order_release);
    if (HasWorker()) {
        PostMsgFront(kMsgStop);
    }
    for (int i = kPinTS; i < kPinCount; ++i) {
        if (ICMemAllocator* allocator = outputPins[i]->GetPacketAllocator()) {
            allocator->CancelWaits();
        }
    }
    HRESULT hr = StopStreamingState();
    stopping.store(false, std::memory_order_release);
    pauseCompleted.store(false, std::memory_order_release);
    // The streaming thread is idle now (the stop took the receive lock); wait for the worker's
    // current work too, so that nothing below races with a handler.
    if (HasWorker()) {
        SendMsg(kMsgIdle);
    }
    ReleaseClock();
    {
        ICLockGuard guard(streamLock);
        ResetStreams();
        DiscardSections();
    }
    ICSIAnalyzerCore::GetStatistics(nullptr, nullptr, nullptr, nullptr);
    DropNotify();
    ResetSI();
    return hr;
}

HRESULT ICQVSIAnalyzer::StopStreamingState() {
    CAutoLock lock(&m_csFilter);
    CAutoLock receiveLock(&m_csReceive);
    if (m_State == State_Stopped) {
        return S_OK;
    }
    for (int i = kPinInput; i < kPinCount; ++i) {
        CBasePin* pin = GetPin(i);
        if (pin != nullptr && pin->IsConnected()) {
            pin->Inactive();
        }
    }
    HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
    }
    return hr;
}

HRESULT ICQVSIAnalyzer::GetState(DWORD, FILTER_STATE* state) {
    if (state == nullptr) {
        return E_POINTER;
    }
    *state = m_State;
    return *state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

void ICQVSIAnalyzer::ReleaseClock() {
    if (IReferenceClock* clock = graphClock.exchange(nullptr)) {
        clock->Release();
    }
}

// --- stream calls

HRESULT ICQVSIAnalyzer::EndOfStream() {
    return DeliverEndOfStream();
}

HRESULT ICQVSIAnalyzer::BeginFlush() {
    flushing.store(true);
    // The pins stop taking samples and any wait for a packet gives up first, so the streaming
    // thread leaves the assembly state quickly.
    HRESULT hr = DeliverBeginFlush();
    {
        ICLockGuard guard(streamLock);
        ResetStreams();
        DiscardSections();
    }
    ICSIAnalyzerCore::GetStatistics(nullptr, nullptr, nullptr, nullptr);
    // The pending notifications belong to the worker: it drops them (message 35).
    if (HasWorker()) {
        PostMsg(kMsgBeginFlush);
    }
    return hr;
}

HRESULT ICQVSIAnalyzer::EndFlush() {
    HRESULT hr = DeliverEndFlush();
    flushing.store(false);
    return hr;
}

HRESULT ICQVSIAnalyzer::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    segmentStart = start;
    segmentStop = stop;
    segmentRate = rate;
    SetClockLocked(false);
    return DeliverNewSegment(start, stop, rate);
}

HRESULT ICQVSIAnalyzer::DeliverEndOfStream() {
    for (int i = kPinTS; i < kPinCount; ++i) {
        if (outputPins[i]->IsConnected()) {
            outputPins[i]->DeliverEndOfStream();
        }
    }
    return S_OK;
}

HRESULT ICQVSIAnalyzer::DeliverBeginFlush() {
    for (int i = kPinTS; i < kPinCount; ++i) {
        if (outputPins[i]->IsConnected()) {
            outputPins[i]->DeliverBeginFlush();
        }
    }
    return S_OK;
}

HRESULT ICQVSIAnalyzer::DeliverEndFlush() {
    for (int i = kPinTS; i < kPinCount; ++i) {
        if (outputPins[i]->IsConnected()) {
            outputPins[i]->DeliverEndFlush();
        }
    }
    return S_OK;
}

HRESULT ICQVSIAnalyzer::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    for (int i = kPinTS; i < kPinCount; ++i) {
        if (outputPins[i]->IsConnected()) {
            outputPins[i]->DeliverNewSegment(start, stop, rate);
        }
    }
    return S_OK;
}

bool ICQVSIAnalyzer::IsFlushingNow() const {
    return flushing.load(std::memory_order_acquire) || IsStopping();
}

// --- the streaming thread

HRESULT ICQVSIAnalyzer::Receive(IMediaSample* sample) {
    // Scanning never waits for the worker: it is done here, on the streaming thread.
    return ProcessSample(sample);
}

HRESULT ICQVSIAnalyzer::ProcessSample(IMediaSample* sample) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    if (!ICSIAnalyzerCore::IsRunning() || IsStopping()) {
        return S_OK;
    }
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || data == nullptr) {
        return S_OK;
    }
    const LONG length = std::min(sample->GetActualDataLength(), sample->GetSize());
    if (length <= 0) {
        return S_OK;
    }
    {
        ICLockGuard guard(streamLock);
        ProcessInput(data, static_cast<size_t>(length));
    }
    PassThrough(data, length);
    return S_OK;
}

void ICQVSIAnalyzer::PassThrough(const BYTE* data, LONG length) {
    ICQVSIAnalyzerOutputPin* pin = outputPins[kPinTS];
    ICMemAllocator* allocator = pin->GetPacketAllocator();
    if (!pin->IsConnected() || allocator == nullptr) {
        return;
    }
    // The pass-through is never dropped for want of a packet: it waits until one comes back,
    // or a flush or stop begins (which cancels the wait).
    IMediaSample* sample = nullptr;
    for (;;) {
        HRESULT hr = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
        if (SUCCEEDED(hr) && sample != nullptr) {
            break;
        }
        sample = nullptr;
        if (hr != VFW_E_TIMEOUT || IsFlushingNow() || pin->IsFlushing()) {
            return;
        }
    }
    ICPacket* packet = AsPacket(sample);
    packet->Reset();
    if (packet->GetCapacity() < length && FAILED(packet->SetCapacity(length))) {
        packet->Release();
        return;
    }
    if (SUCCEEDED(packet->Write(data, length))) {
        pin->Deliver(packet);
    }
    packet->Release();
}

void ICQVSIAnalyzer::OnPCRPacket(const uint8_t* packet) {
    const uint8_t adaptationLength = packet[4];
    if (adaptationLength == 0) {
        return;
    }
    const uint8_t flags = packet[5];
    if ((flags & 0x80) != 0) {  // discontinuity_indicator
        SetClockLocked(false);
    }
    if (IsClockLocked() || (flags & 0x10) == 0 || adaptationLength < 7) {
        return;
    }
    IReferenceClock* clock = graphClock.load();
    if (clock == nullptr) {
        return;  // without a graph clock nothing is ever locked
    }
    const uint64_t base = (uint64_t{packet[6]} << 25) | (uint64_t{packet[7]} << 17) |
                          (uint64_t{packet[8]} << 9) | (uint64_t{packet[9]} << 1) |
                          (packet[10] >> 7);
    const uint64_t extension = (static_cast<uint64_t>(packet[10] & 0x01) << 8) | packet[11];
    REFERENCE_TIME now = 0;
    if (FAILED(clock->GetTime(&now))) {
        return;
    }
    lockPcr.store(base * 300 + extension);
    clockOffset.store(now - streamStartTime.load());
    lateScore.store(0);
    SetClockLocked(true);
}

ICQVSIAnalyzerOutputPin* ICQVSIAnalyzer::StreamPin(Stream stream) const {
    switch (stream) {
        case Stream::kVideo:
            return outputPins[kPinVideo];
        case Stream::kAudio:
            return outputPins[kPinAudio];
        case Stream::kCaption:
            return outputPins[kPinCaption];
    }
    return nullptr;
}

void ICQVSIAnalyzer::OnStreamPacket(Stream stream, const uint8_t* packet) {
    ICQVSIAnalyzerOutputPin* pin = StreamPin(stream);
    if (pin == nullptr || !pin->IsConnected()) {
        return;
    }
    PESState& state = pesStates[static_cast<int>(stream)];
    const uint8_t counter = packet[3] & 0x0F;
    // Packets without payload (adaptation field only) do not advance the counter.
    const bool hasPayload = (packet[3] & 0x10) != 0;
    if ((packet[1] & 0x40) != 0) {
        if (!hasPayload) {
            return;
        }
        if (state.sample != nullptr) {
            ICPacket* finished = state.sample;
            state.sample = nullptr;
            FinishPES(stream, finished);
        }
        // A PES cannot be timed once the lock is lost (persistent lateness): the next lock
        // starts the stream again at its next unit start.
        if (!IsClockLocked()) {
            return;
        }
        ICPacket* sample = AcquireStreamSample(pin);
        if (sample == nullptr) {
            return;
        }
        sample->Reset();
        sample->SetSyncPoint(TRUE);
        state.sample = sample;
        state.expectedCounter = static_cast<uint8_t>((counter + 1) & 0x0F);
        state.duplicateSeen = false;
        AppendPayload(state, packet);
        return;
    }
    if ((packet[1] & 0x80) != 0) {  // transport_error_indicator: the PES is lost
        ReleasePES(state);
        return;
    }
    if (state.sample == nullptr || !hasPayload) {
        return;
    }
    if (counter == state.expectedCounter) {
        state.expectedCounter = static_cast<uint8_t>((counter + 1) & 0x0F);
        state.duplicateSeen = false;
    } else if (counter == ((state.expectedCounter + 15) & 0x0F) && !state.duplicateSeen) {
        // A repeated packet: its payload is already in the sample.
        state.duplicateSeen = true;
        return;
    } else {
        CountContinuityError();
        ReleasePES(state);
        return;
    }
    AppendPayload(state, packet);
}

void ICQVSIAnalyzer::AppendPayload(PESState& state, const uint8_t* packet) {
    const uint8_t control = (packet[3] >> 4) & 0x03;
    if ((control & 0x01) == 0) {
        return;
    }
    LONG start = 4;
    LONG size = 184;
    if ((control & 0x02) != 0) {
        const LONG adaptationLength = packet[4];
        if (adaptationLength >= 183) {
            return;
        }
        start = 5 + adaptationLength;
        size = 183 - adaptationLength;
    }
    ICPacket* sample = state.sample;
    const LONG length = sample->GetLength();
    if (length + size > kMaxPESSize) {
        ReleasePES(state);
        return;
    }
    // Grown by doubling: a picture of a megabyte arrives in thousands of packets.
    if (sample->GetCapacity() - length < size) {
        const LONG wanted = std::max<LONG>({sample->GetCapacity() * 2, length + size, 4096});
        if (FAILED(sample->SetCapacity(std::min<LONG>(wanted, kMaxPESSize)))) {
            ReleasePES(state);
            return;
        }
    }
    if (FAILED(sample->Write(packet + start, size))) {
        ReleasePES(state);
    }
}

void ICQVSIAnalyzer::ReleasePES(PESState& state) {
    if (state.sample != nullptr) {
        state.sample->Release();
        state.sample = nullptr;
    }
}

ICPacket* ICQVSIAnalyzer::AcquireStreamSample(ICQVSIAnalyzerOutputPin* pin) {
    ICMemAllocator* allocator = pin->GetPacketAllocator();
    if (allocator == nullptr) {
        return nullptr;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kAllocationWaitMs);
    for (;;) {
        IMediaSample* sample = nullptr;
        HRESULT hr = allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT);
        if (SUCCEEDED(hr) && sample != nullptr) {
            return AsPacket(sample);
        }
        if (hr != VFW_E_TIMEOUT || IsFlushingNow() || pin->IsFlushing()) {
            return nullptr;  // not committed, or the stream is ending: no time-out
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            // Every time-out counts: the counter is cleared only by the statistics and a stop.
            CountBufferTimeout();
            return nullptr;
        }
        std::this_thread::yield();
    }
}

void ICQVSIAnalyzer::FinishPES(Stream stream, ICPacket* sample) {
    BYTE* data = sample->GetData();
    const LONG length = sample->GetLength();
    // A PES packet begins with its start code, and a bounded one must fit what was gathered.
    if (length < 6 || data[0] != 0x00 || data[1] != 0x00 || data[2] != 0x01 ||
        ((data[4] << 8) | data[5]) >= length) {
        sample->Release();
        return;
    }
    bool timed = false;
    REFERENCE_TIME startTime = 0;
    if (length >= 14 && (data[6] & 0xC0) == 0x80 && (data[7] & 0x80) != 0 && data[8] >= 5) {
        int64_t difference = ReadPTS(data + 9) * 300 - static_cast<int64_t>(lockPcr.load());
        // A PTS that wrapped after the locking PCR is still later than it.
        if (difference < -kPCRWrap / 16) {
            difference += kPCRWrap;
        }
        startTime = difference * 10 / 27 + latency.load() + clockOffset.load();
        sample->SetTime(&startTime, nullptr);
        timed = true;
    }
    if (stream != Stream::kCaption && timed) {
        if (IReferenceClock* clock = graphClock.load()) {
            REFERENCE_TIME now = 0;
            clock->GetTime(&now);
            const REFERENCE_TIME ahead = streamStartTime.load() + startTime - now;
            if (ahead >= 1 && ahead <= kMaxAhead) {
                if (lateScore.load() > 0) {
                    lateScore.fetch_sub(1);
                }
            } else {
                CountLateSample();
                if (lateScore.fetch_add(2) + 2 > kLateScoreLimit) {
                    lateScore.store(0);
                    SetClockLocked(false);
                }
                sample->Release();
                return;
            }
        }
    }
    if (stream == Stream::kAudio) {
        // The decoder takes the elementary stream: the PES header goes.
        const LONG offset = 9 + LONG{data[8]};
        if (length < offset) {
            sample->Release();
            return;
        }
        std::memmove(data, data + offset, static_cast<size_t>(length - offset));
        sample->SetLength(length - offset);
    }
    StreamPin(stream)->Deliver(sample);
    sample->Release();
}

void ICQVSIAnalyzer::ResetStreams() {
    for (PESState& state : pesStates) {
        ReleasePES(state);
        state.expectedCounter = 0;
        state.duplicateSeen = false;
    }
    SetClockLocked(false);
    lateScore.store(0);
}

// --- the worker

uint32_t ICQVSIAnalyzer::OnSample(ICMsg* msg) {
    // Message 32 carries no sample here: the section queue has news.
    if (msg != nullptr && SampleOf(msg) == nullptr) {
        DrainSections();
    }
    return 0;
}

uint32_t ICQVSIAnalyzer::OnBeginFlush() {
    DropNotify();
    return 0;
}

uint32_t ICQVSIAnalyzer::OnUserMessage(ICMsg*) {
    // kMsgIdle only marks the point the worker has reached.
    return 0;
}

void ICQVSIAnalyzer::OnNotify(uint32_t code, intptr_t param1, intptr_t param2) {
    if (IMediaEventSink* sink = m_pSink.load()) {
        sink->Notify(static_cast<LONG>(code), param1, param2);
    }
}

// --- IQVSIAnalyzer

ICSIList* ICQVSIAnalyzer::GetSIList() {
    ICSIList* list = ICSIAnalyzerCore::GetSIList();
    list->AddRef();
    return list;
}

void ICQVSIAnalyzer::SetNotifyFlags(DWORD mask) {
    ICSIAnalyzerCore::SetNotifyFlags(mask);
}

DWORD ICQVSIAnalyzer::GetNotifyFlags() {
    return ICSIAnalyzerCore::GetNotifyFlags();
}

DWORD ICQVSIAnalyzer::GetNetworkID() {
    return ICSIAnalyzerCore::GetNetworkID();
}

void ICQVSIAnalyzer::SetTransportStreamID(DWORD transportStreamId) {
    ICSIAnalyzerCore::SetTransportStreamID(static_cast<uint16_t>(transportStreamId));
}

DWORD ICQVSIAnalyzer::GetTransportStreamID() {
    return ICSIAnalyzerCore::GetTransportStreamID();
}

BYTE ICQVSIAnalyzer::SetServiceID(DWORD serviceId, BYTE apply) {
    return ICSIAnalyzerCore::SetServiceID(static_cast<uint16_t>(serviceId), apply != 0) ? 1 : 0;
}

DWORD ICQVSIAnalyzer::GetServiceID() {
    return ICSIAnalyzerCore::GetServiceID();
}

void ICQVSIAnalyzer::SetPCRPID(DWORD pid) {
    ICSIAnalyzerCore::SetPCRPID(static_cast<uint16_t>(pid));
}

DWORD ICQVSIAnalyzer::GetPCRPID() {
    return ICSIAnalyzerCore::GetPCRPID();
}

void ICQVSIAnalyzer::SetVideoPID(DWORD pid) {
    ICSIAnalyzerCore::SetVideoPID(static_cast<uint16_t>(pid));
}

DWORD ICQVSIAnalyzer::GetVideoPID() {
    return ICSIAnalyzerCore::GetVideoPID();
}

void ICQVSIAnalyzer::SetAudioPID(DWORD pid) {
    ICSIAnalyzerCore::SetAudioPID(static_cast<uint16_t>(pid));
}

DWORD ICQVSIAnalyzer::GetAudioPID() {
    return ICSIAnalyzerCore::GetAudioPID();
}

void ICQVSIAnalyzer::SetCaptionPID(DWORD pid) {
    ICSIAnalyzerCore::SetCaptionPID(static_cast<uint16_t>(pid));
}

DWORD ICQVSIAnalyzer::GetCaptionPID() {
    return ICSIAnalyzerCore::GetCaptionPID();
}

void ICQVSIAnalyzer::SetAutoSelect(BYTE value) {
    ICSIAnalyzerCore::SetAutoSelect(value != 0);
}

BYTE ICQVSIAnalyzer::GetAutoSelect() {
    return ICSIAnalyzerCore::GetAutoSelect() ? 1 : 0;
}

void ICQVSIAnalyzer::SetLatency(LONGLONG value) {
    latency.store(value);
}

LONGLONG ICQVSIAnalyzer::GetLatency() {
    return latency.load();
}

LONG ICQVSIAnalyzer::GetCurrentTime(WORD* year, BYTE* month, BYTE* day, BYTE* hour, BYTE* minute,
                                    BYTE* second) {
    return ICSIAnalyzerCore::GetSIList()->GetTOT()->GetCurrentTime(year, month, day, hour, minute,
                                                                   second);
}

LONGLONG ICQVSIAnalyzer::GetCurrentTimeValue() {
    return ICSIAnalyzerCore::GetSIList()->GetTOT()->GetCurrentTimeValue();
}

DWORD ICQVSIAnalyzer::GetStatistics(DWORD* sectionErrorCount, DWORD* continuityErrorCount,
                                    DWORD* bufferTimeoutCount, DWORD* lateSampleCount) {
    return ICSIAnalyzerCore::GetStatistics(sectionErrorCount, continuityErrorCount,
                                           bufferTimeoutCount, lateSampleCount);
}

HRESULT ICQVSIAnalyzer::GetPages(CAUUID* pages) {
    return ICVersionPageList(CLSID_QVSIAnalyzerVersionPage, pages);
}
