#include "platform/media/audio/CAudioRenderer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>

#include "platform/com/TaskAllocator.h"
#include "platform/dshow/CSystemClock.h"
#include "platform/dshow/DShowErrors.h"
#include "platform/dshow/DShowGuids.h"
#include "platform/media/audio/AacStreamDecoder.h"
#include "platform/media/audio/AudioFormats.h"

using orvaudio::kOutputChannels;
using orvaudio::kOutputFrameBytes;
using orvaudio::kOutputRate;

namespace {

constexpr LONG kSilentVolume = -10000;
constexpr LONG kFullVolume = 0;

int64_t FramesIn(REFERENCE_TIME duration) {
    return duration * kOutputRate / kUnitsPerSecond;
}

REFERENCE_TIME DurationOf(int64_t frames) {
    return frames * kUnitsPerSecond / kOutputRate;
}

// Hundredths of a decibel as an amplitude factor; the bottom of the range is silence.
float GainOf(LONG hundredthsOfDb) {
    if (hundredthsOfDb <= kSilentVolume) {
        return 0.0f;
    }
    return float(std::pow(10.0, double(hundredthsOfDb) / 2000.0));
}

}  // namespace

// --- input pin

CAudioRendererInputPin::CAudioRendererInputPin(CAudioRenderer* renderer, HRESULT* hr)
    : CBaseInputPin(u"Audio renderer input pin", renderer, &renderer->filterLock, hr, u"In"),
      renderer(renderer) {}

HRESULT CAudioRendererInputPin::CheckMediaType(const CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    return orvaudio::IsOutputPcmType(*mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAudioRendererInputPin::QueryId(LPWSTR* id) {
    return AMGetWideString(u"In", id);
}

HRESULT CAudioRendererInputPin::Receive(IMediaSample* sample) {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) {
        return hr;
    }
    return renderer->ReceiveSample(sample);
}

HRESULT CAudioRendererInputPin::EndOfStream() {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) {
        return hr;
    }
    return renderer->ReceiveEndOfStream();
}

HRESULT CAudioRendererInputPin::BeginFlush() {
    CAutoLock lock(m_pLock);
    CBaseInputPin::BeginFlush();
    renderer->BeginFlushQueue();
    return S_OK;
}

HRESULT CAudioRendererInputPin::EndFlush() {
    CAutoLock lock(m_pLock);
    renderer->EndFlushQueue();
    return CBaseInputPin::EndFlush();
}

// --- renderer

CAudioRenderer::CAudioRenderer(IUnknown* outer, HRESULT* hr)
    : CBaseFilter(u"Orvanta sound renderer", outer, &filterLock, CLSID_DSoundRender) {
    HRESULT pinResult = S_OK;
    inputPin = new (std::nothrow) CAudioRendererInputPin(this, &pinResult);
    if (hr != nullptr) {
        *hr = inputPin == nullptr ? E_OUTOFMEMORY : pinResult;
    }
}

CAudioRenderer::~CAudioRenderer() {
    StopOutput();
    delete inputPin;
}

CUnknown* CAudioRenderer::CreateInstance(IUnknown* outer, HRESULT* hr) {
    return new (std::nothrow) CAudioRenderer(outer, hr);
}

HRESULT CAudioRenderer::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IBasicAudio) {
        return GetInterface(static_cast<IBasicAudio*>(this), object);
    }
    if (iid == IID_IReferenceClock) {
        return GetInterface(static_cast<IReferenceClock*>(this), object);
    }
    if (iid == IID_IAMFilterMiscFlags) {
        return GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
    }
    if (iid == IID_IOrvAudioOutput) {
        return GetInterface(static_cast<IOrvAudioOutput*>(this), object);
    }
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

CBasePin* CAudioRenderer::GetPin(int index) {
    return index == 0 ? inputPin : nullptr;
}

HRESULT CAudioRenderer::FindPin(LPCWSTR id, IPin** pin) {
    if (id == nullptr || pin == nullptr) {
        return E_POINTER;
    }
    *pin = nullptr;
    if (std::u16string_view(id) != u"In" || inputPin == nullptr) {
        return VFW_E_NOT_FOUND;
    }
    *pin = inputPin;
    inputPin->AddRef();
    return S_OK;
}

// --- state

HRESULT CAudioRenderer::Pause() {
    CAutoLock lock(&filterLock);
    const bool connected = inputPin != nullptr && inputPin->IsConnected();
    if (m_State == State_Stopped && connected) {
        if (!sink) {
            sink = orvaudio::OpenAudioSink();
            sinkName = sink->Name();
        }
        StartOutput();
    } else if (m_State == State_Running && sink) {
        sink->SetPaused(true);
        sink->Interrupt();
    }
    const HRESULT hr = CBaseFilter::Pause();
    queueChanged.notify_all();
    return hr;
}

HRESULT CAudioRenderer::Run(REFERENCE_TIME start) {
    CAutoLock lock(&filterLock);
    if (m_State == State_Running) {
        return S_OK;
    }
    const bool connected = inputPin != nullptr && inputPin->IsConnected();
    const HRESULT hr = CBaseFilter::Run(start);
    if (FAILED(hr)) {
        return hr;
    }
    if (!connected) {
        // Nothing will ever arrive.
        NotifyEvent(EC_COMPLETE, S_OK, 0);
        return S_OK;
    }
    if (sink) {
        sink->SetPaused(false);
    }
    queueChanged.notify_all();
    return S_OK;
}

HRESULT CAudioRenderer::Stop() {
    CAutoLock lock(&filterLock);
    if (m_State == State_Stopped) {
        return S_OK;
    }
    const HRESULT hr = CBaseFilter::Stop();
    // An upstream thread waiting for a buffer of the allocator is let go.
    if (inputPin != nullptr && inputPin->Allocator() != nullptr) {
        inputPin->Allocator()->Decommit();
    }
    StopOutput();
    return hr;
}

void CAudioRenderer::StartOutput() {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        ClearQueueLocked();
        stopOutput = false;
        resetSink = true;
        endOfStream = false;
        completeSent = false;
    }
    if (!outputThread.joinable()) {
        outputThread = std::thread([this] { OutputLoop(); });
    }
}

void CAudioRenderer::StopOutput() {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        stopOutput = true;
        ClearQueueLocked();
        endOfStream = false;
        completeSent = false;
    }
    queueChanged.notify_all();
    if (sink) {
        sink->Interrupt();
    }
    if (outputThread.joinable()) {
        outputThread.join();
    }
    if (sink) {
        sink->Reset();
        sink->SetPaused(false);
    }
}

void CAudioRenderer::ClearQueueLocked() {
    queue.clear();
    queuedFrames = 0;
    timelineValid = false;
}

// --- the stream

HRESULT CAudioRenderer::ReceiveSample(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || data == nullptr) {
        return S_OK;
    }
    const LONG length = std::max<LONG>(sample->GetActualDataLength(), 0);
    const size_t frames = size_t(length) / kOutputFrameBytes;
    if (frames == 0) {
        return S_OK;
    }
    Chunk chunk;
    REFERENCE_TIME stop = 0;
    chunk.timed = SUCCEEDED(sample->GetTime(&chunk.start, &stop));
    const auto* samples = reinterpret_cast<const int16_t*>(data);
    chunk.samples.assign(samples, samples + frames * kOutputChannels);

    std::unique_lock<std::mutex> lock(queueMutex);
    const int64_t limit = FramesIn(kMaxQueuedTime);
    queueChanged.wait(lock, [&] {
        return queuedFrames < limit || flushing || stopOutput || m_State == State_Stopped;
    });
    if (flushing || stopOutput || m_State == State_Stopped || endOfStream) {
        return S_OK;  // dropped: the stream has moved on
    }
    queuedFrames += int64_t(frames);
    queue.push_back(std::move(chunk));
    lock.unlock();
    queueChanged.notify_all();
    return S_OK;
}

HRESULT CAudioRenderer::ReceiveEndOfStream() {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        endOfStream = true;
    }
    queueChanged.notify_all();
    return S_OK;
}

void CAudioRenderer::BeginFlushQueue() {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        flushing = true;
        ClearQueueLocked();
        endOfStream = false;
        completeSent = false;
        resetSink = true;
    }
    queueChanged.notify_all();
    if (sink) {
        sink->Interrupt();
    }
}

void CAudioRenderer::EndFlushQueue() {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        flushing = false;
    }
    queueChanged.notify_all();
}

// --- the output thread

CAudioRenderer::BlockKind CAudioRenderer::TakeBlock(std::vector<int16_t>* block,
                                                    REFERENCE_TIME* blockTime) {
    if (!timelineValid) {
        // The timeline begins where the first frame written now will be heard.
        timelineStart = clock.Now() - m_tStart.load() + sink->StartDelay();
        timelineFrames = 0;
        timelineValid = true;
    }
    const REFERENCE_TIME writeTime = timelineStart + DurationOf(timelineFrames);
    *blockTime = writeTime;
    auto silence = [&](int64_t frames) {
        const size_t count =
            size_t(std::clamp<int64_t>(frames, 1, int64_t(kBlockFrames) + FramesIn(kTolerance)));
        block->assign(count * kOutputChannels, 0);
        timelineFrames += int64_t(count);
        framesSilence += count;
        return BlockKind::kSilence;
    };
    while (!queue.empty()) {
        Chunk& chunk = queue.front();
        if (chunk.Frames() == 0) {
            queue.pop_front();
            continue;
        }
        if (chunk.timed) {
            const REFERENCE_TIME chunkTime = chunk.start + DurationOf(int64_t(chunk.consumed));
            const REFERENCE_TIME lateness = writeTime - chunkTime;
            if (lateness > kTolerance) {
                const size_t dropped =
                    std::min(chunk.Frames(), size_t(std::max<int64_t>(FramesIn(lateness), 1)));
                chunk.consumed += dropped;
                queuedFrames -= int64_t(dropped);
                framesDropped += dropped;
                continue;
            }
            if (-lateness > kTolerance) {
                // Silence up to the chunk's time, so that it starts on time: the last block
                // of the gap takes what would otherwise be left over.
                const int64_t early = FramesIn(-lateness);
                return silence(early <= int64_t(kBlockFrames) + FramesIn(kTolerance)
                                   ? early
                                   : int64_t(kBlockFrames));
            }
        }
        const size_t count = std::min(chunk.Frames(), kBlockFrames);
        const int16_t* from = chunk.samples.data() + chunk.consumed * kOutputChannels;
        block->assign(from, from + count * kOutputChannels);
        chunk.consumed += count;
        queuedFrames -= int64_t(count);
        timelineFrames += int64_t(count);
        framesPlayed += count;
        if (chunk.Frames() == 0) {
            queue.pop_front();
        }
        return BlockKind::kAudio;
    }
    if (endOfStream) {
        return BlockKind::kEndOfStream;
    }
    return silence(int64_t(kBlockFrames));
}

void CAudioRenderer::ApplyVolume(std::vector<int16_t>* block) const {
    const float left = leftGain.load();
    const float right = rightGain.load();
    if (left == 1.0f && right == 1.0f) {
        return;
    }
    // The gains are at most 1, so nothing can overflow.
    for (size_t i = 0; i + 1 < block->size(); i += 2) {
        (*block)[i] = int16_t(std::lrint(float((*block)[i]) * left));
        (*block)[i + 1] = int16_t(std::lrint(float((*block)[i + 1]) * right));
    }
}

void CAudioRenderer::OutputLoop() {
    std::vector<int16_t> pending;  // the block being written
    size_t pendingWritten = 0;     // frames of it the sink has taken
    std::vector<int16_t> block;
    REFERENCE_TIME endNoticed = 0;  // when the end of the stream was first seen drained
    for (;;) {
        bool sendComplete = false;
        REFERENCE_TIME blockTime = 0;
        BlockKind kind = BlockKind::kNone;
        {
            std::unique_lock<std::mutex> lock(queueMutex);
            if (stopOutput) {
                break;
            }
            if (resetSink) {
                resetSink = false;
                timelineValid = false;
                pending.clear();
                pendingWritten = 0;
                endNoticed = 0;
                lock.unlock();
                sink->Reset();
                continue;
            }
            if (m_State != State_Running || flushing) {
                queueChanged.wait_for(lock, std::chrono::milliseconds(100));
                continue;
            }
            if (pendingWritten * kOutputChannels >= pending.size()) {
                kind = TakeBlock(&block, &blockTime);
                if (kind == BlockKind::kEndOfStream) {
                    // Complete once the sink has played what it was given (or, should its
                    // position stall, once that much time has surely gone by).
                    const REFERENCE_TIME now = CSystemClock::MonotonicNow();
                    if (endNoticed == 0) {
                        endNoticed = now;
                    }
                    const bool played =
                        sink->PlayedFrames() + FramesIn(kTolerance) >= timelineFrames;
                    const bool overdue = now - endNoticed > sink->StartDelay() +
                                                                orvaudio::kSinkBufferTime +
                                                                500 * kUnitsPerMillisecond;
                    if (!completeSent && (played || overdue)) {
                        completeSent = true;
                        sendComplete = true;
                    } else {
                        queueChanged.wait_for(lock, std::chrono::milliseconds(10));
                        continue;
                    }
                }
            }
        }
        queueChanged.notify_all();  // a taken block makes room for Receive
        if (sendComplete) {
            NotifyEvent(EC_COMPLETE, S_OK, 0);
            continue;
        }
        if (kind == BlockKind::kAudio || kind == BlockKind::kSilence) {
            ApplyVolume(&block);
            {
                std::lock_guard<std::mutex> lock(tapMutex);
                if (tap != nullptr) {
                    tap->OnAudioOutput(block.data(), uint32_t(block.size() / kOutputChannels),
                                       blockTime);
                }
            }
            pending.swap(block);
            pendingWritten = 0;
        }
        const size_t pendingFrames = pending.size() / kOutputChannels;
        if (pendingWritten < pendingFrames) {
            pendingWritten += sink->Write(pending.data() + pendingWritten * kOutputChannels,
                                          pendingFrames - pendingWritten);
        }
        const int64_t played = sink->PlayedFrames();
        if (played > 0) {
            std::lock_guard<std::mutex> lock(queueMutex);
            if (timelineValid && !resetSink) {
                clock.Follow(m_tStart.load() + timelineStart + DurationOf(played));
            }
        }
    }
}

// --- IBasicAudio

HRESULT CAudioRenderer::put_Volume(LONG newVolume) {
    if (newVolume < kSilentVolume || newVolume > kFullVolume) {
        return E_INVALIDARG;
    }
    volume = newVolume;
    const LONG currentBalance = balance.load();
    // The balance lowers the other side.
    leftGain = GainOf(newVolume - std::max<LONG>(currentBalance, 0));
    rightGain = GainOf(newVolume + std::min<LONG>(currentBalance, 0));
    return S_OK;
}

HRESULT CAudioRenderer::get_Volume(LONG* result) {
    if (result == nullptr) {
        return E_POINTER;
    }
    *result = volume.load();
    return S_OK;
}

HRESULT CAudioRenderer::put_Balance(LONG newBalance) {
    if (newBalance < -10000 || newBalance > 10000) {
        return E_INVALIDARG;
    }
    balance = newBalance;
    return put_Volume(volume.load());
}

HRESULT CAudioRenderer::get_Balance(LONG* result) {
    if (result == nullptr) {
        return E_POINTER;
    }
    *result = balance.load();
    return S_OK;
}

// --- IReferenceClock

HRESULT CAudioRenderer::GetTime(REFERENCE_TIME* time) {
    return clock.GetTime(time);
}

HRESULT CAudioRenderer::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                                   DWORD_PTR* cookie) {
    return clock.AdviseTime(baseTime, streamTime, event, cookie);
}

HRESULT CAudioRenderer::AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period,
                                       HSEMAPHORE semaphore, DWORD_PTR* cookie) {
    return clock.AdvisePeriodic(start, period, semaphore, cookie);
}

HRESULT CAudioRenderer::Unadvise(DWORD_PTR cookie) {
    return clock.Unadvise(cookie);
}

// --- IOrvAudioOutput

HRESULT CAudioRenderer::SetTap(IOrvAudioTap* newTap) {
    std::lock_guard<std::mutex> lock(tapMutex);
    tap = newTap;
    return S_OK;
}

HRESULT CAudioRenderer::GetSinkName(const char** name) {
    if (name == nullptr) {
        return E_POINTER;
    }
    CAutoLock lock(&filterLock);
    *name = sinkName;
    return S_OK;
}

HRESULT CAudioRenderer::GetStatistics(OrvAudioOutputStatistics* statistics) {
    if (statistics == nullptr) {
        return E_POINTER;
    }
    statistics->framesPlayed = framesPlayed.load();
    statistics->framesSilence = framesSilence.load();
    statistics->framesDropped = framesDropped.load();
    return S_OK;
}
