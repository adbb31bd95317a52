#pragma once

// Filters around the framework's transform filter in the tests: a source that the test thread
// drives sample by sample (so the test is the streaming thread), a filter derived from
// ICTransformFilter that records what it handles, and a sink that records what arrives and can
// hold samples or block in Receive.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/ICUiThread.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseInputPin.h"
#include "platform/dshow/CBaseOutputPin.h"
#include "streamfw/ICTransformFilter.h"
#include "streamfw/ICTransformInputPin.h"
#include "streamfw/ICTransformOutputPin.h"

namespace streamtest {

inline constexpr CLSID CLSID_PushSource{
    0x3B0D9C47, 0x2E1A, 0x4C55, {0x9E, 0x61, 0x0A, 0x7B, 0x52, 0x8C, 0xD1, 0x01}};
inline constexpr CLSID CLSID_RecordingTransform{
    0x3B0D9C47, 0x2E1A, 0x4C55, {0x9E, 0x61, 0x0A, 0x7B, 0x52, 0x8C, 0xD1, 0x02}};
inline constexpr CLSID CLSID_RecordingSink{
    0x3B0D9C47, 0x2E1A, 0x4C55, {0x9E, 0x61, 0x0A, 0x7B, 0x52, 0x8C, 0xD1, 0x03}};

inline CMediaType TransportStreamType() {
    CMediaType type;
    type.SetType(&MEDIATYPE_Stream);
    type.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    type.SetFormatType(&FORMAT_None);
    type.SetVariableSize();
    return type;
}

inline bool WaitUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// --- source

class PushPin final : public CBaseOutputPin {
public:
    PushPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr)
        : CBaseOutputPin(u"Push pin", filter, lock, hr, u"Out") {}

    HRESULT CheckMediaType(const CMediaType* type) override {
        return *type->Type() == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position != 0) {
            return VFW_S_NO_MORE_ITEMS;
        }
        *type = TransportStreamType();
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override {
        ALLOCATOR_PROPERTIES wanted{bufferCount, bufferSize, 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(&wanted, &actual);
    }

    LONG bufferCount = 64;
    LONG bufferSize = 188;
};

// The test pushes the samples itself: each holds its sequence number in its first four bytes.
class PushSource final : public CBaseFilter {
public:
    PushSource() : CBaseFilter(u"Push source", nullptr, &lock, CLSID_PushSource) {
        HRESULT hr = S_OK;
        pin = new PushPin(this, &lock, &hr);
    }
    ~PushSource() override { delete pin; }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

    // One sample of `size` bytes (at least 4) numbered `sequence`.
    HRESULT Push(int32_t sequence, LONG size = 188) {
        IMediaSample* sample = nullptr;
        HRESULT hr = pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            return hr;
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        size = std::min(size, sample->GetSize());
        std::memset(data, 0x47, size_t(size));
        std::memcpy(data, &sequence, sizeof(sequence));
        sample->SetActualDataLength(size);
        REFERENCE_TIME start = sequence * 10000LL;
        REFERENCE_TIME stop = start + 10000;
        sample->SetTime(&start, &stop);
        hr = pin->Deliver(sample);
        sample->Release();
        return hr;
    }
    HRESULT PushEndOfStream() { return pin->DeliverEndOfStream(); }
    HRESULT PushBeginFlush() { return pin->DeliverBeginFlush(); }
    HRESULT PushEndFlush() { return pin->DeliverEndFlush(); }
    HRESULT PushNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
        return pin->DeliverNewSegment(start, stop, rate);
    }

    CCritSec lock;
    PushPin* pin;
};

// --- transform

// A filter on the framework that records, in order, what its worker (or Receive) handles.
class RecordingTransform final : public ICTransformFilter {
public:
    struct Options {
        bool worker = true;
        bool deliveryThread = true;
        LONG bufferCount = 50;
        LONG bufferSize = 188;
    };

    explicit RecordingTransform(const Options& options)
        : ICTransformFilter(u"Recording transform", nullptr, CLSID_RecordingTransform, nullptr) {
        workerEnabled = options.worker;
        ICTransformOutputPin* output = GetOutputPin();
        output->SetUseDeliveryThread(options.deliveryThread);
        output->SetBufferCount(options.bufferCount);
        output->SetBufferSize(options.bufferSize);
    }
    ~RecordingTransform() override { StopWorker(); }

    HRESULT ProcessSample(IMediaSample* sample) override {
        int32_t sequence = -1;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (sample->GetActualDataLength() >= 4) {
            std::memcpy(&sequence, data, sizeof(sequence));
        }
        {
            std::unique_lock lock(mutex);
            events.push_back(sequence);
            processThreads.push_back(ICGetCurrentThreadId());
            if (holdFirst && sequence == 0) {
                holding = true;
                changed.notify_all();
                changed.wait(lock, [this] { return !holdFirst; });
                holding = false;
            }
        }
        changed.notify_all();
        HRESULT hr = ICTransformFilter::ProcessSample(sample);
        lastResult = hr;
        return hr;
    }

    uint32_t OnStop() override {
        Record(kStopEvent);
        return 0;
    }
    uint32_t OnPause() override {
        Record(kPauseEvent);
        return 0;
    }
    uint32_t OnEndOfStream() override {
        Record(kEndOfStreamEvent);
        return 0;
    }

    void Record(int32_t event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        changed.notify_all();
    }
    std::vector<int32_t> Events() {
        std::lock_guard lock(mutex);
        return events;
    }
    std::vector<uint32_t> ProcessThreads() {
        std::lock_guard lock(mutex);
        return processThreads;
    }
    // Sample 0 waits in ProcessSample until Release().
    void HoldFirst() {
        std::lock_guard lock(mutex);
        holdFirst = true;
    }
    bool WaitHolding() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [this] { return holding; });
    }
    void ReleaseHold() {
        std::lock_guard lock(mutex);
        holdFirst = false;
        changed.notify_all();
    }

    static constexpr int32_t kStopEvent = -17;
    static constexpr int32_t kPauseEvent = -18;
    static constexpr int32_t kEndOfStreamEvent = -34;

    std::atomic<HRESULT> lastResult{S_OK};

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int32_t> events;
    std::vector<uint32_t> processThreads;
    bool holdFirst = false;
    bool holding = false;
};

// --- sink

class RecordingSink;

class SinkPin final : public CBaseInputPin {
public:
    SinkPin(RecordingSink* filter, CCritSec* lock, HRESULT* hr);

    HRESULT CheckMediaType(const CMediaType* type) override {
        return *type->Type() == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    HRESULT Inactive() override;

private:
    RecordingSink* sink;
};

// Records the sequence numbers that arrive, with the thread each arrived on. It can block in
// Receive (until a flush, a stop or Unblock) or keep the samples it receives.
class RecordingSink final : public CBaseFilter {
public:
    struct Arrival {
        int32_t sequence;
        uint32_t thread;
        uint32_t expectedThread;  // the delivering pin's thread at that moment
        LONG length;
    };

    RecordingSink() : CBaseFilter(u"Recording sink", nullptr, &lock, CLSID_RecordingSink) {
        HRESULT hr = S_OK;
        pin = new SinkPin(this, &lock, &hr);
    }
    ~RecordingSink() override {
        ReleaseKept();
        delete pin;
    }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

    HRESULT OnReceive(IMediaSample* sample) {
        int32_t sequence = -1;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (sample->GetActualDataLength() >= 4) {
            std::memcpy(&sequence, data, sizeof(sequence));
        }
        uint32_t expected = upstream != nullptr ? upstream->GetThreadId() : 0;
        std::unique_lock guard(mutex);
        arrivals.push_back(
            {sequence, ICGetCurrentThreadId(), expected, sample->GetActualDataLength()});
        if (keepSamples) {
            sample->AddRef();
            kept.push_back(sample);
        }
        changed.notify_all();
        if (blockReceive) {
            ++blocked;
            changed.notify_all();
            changed.wait(guard, [this] { return !blockReceive; });
            --blocked;
        }
        return S_OK;
    }

    size_t Count() {
        std::lock_guard guard(mutex);
        return arrivals.size();
    }
    bool WaitForCount(size_t count, int milliseconds = 5000) {
        std::unique_lock guard(mutex);
        return changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                [&] { return arrivals.size() >= count; });
    }
    bool WaitBlocked() {
        std::unique_lock guard(mutex);
        return changed.wait_for(guard, std::chrono::seconds(5), [&] { return blocked > 0; });
    }
    std::vector<Arrival> Arrivals() {
        std::lock_guard guard(mutex);
        return arrivals;
    }
    std::vector<int32_t> Sequences() {
        std::lock_guard guard(mutex);
        std::vector<int32_t> sequences;
        for (const Arrival& arrival : arrivals) {
            sequences.push_back(arrival.sequence);
        }
        return sequences;
    }
    void Block() {
        std::lock_guard guard(mutex);
        blockReceive = true;
    }
    void Unblock() {
        std::lock_guard guard(mutex);
        blockReceive = false;
        changed.notify_all();
    }
    void Keep(bool keep) {
        std::lock_guard guard(mutex);
        keepSamples = keep;
    }
    // Gives one kept sample back; false when none is kept.
    bool ReleaseOneKept() {
        IMediaSample* sample = nullptr;
        {
            std::lock_guard guard(mutex);
            if (kept.empty()) {
                return false;
            }
            sample = kept.front();
            kept.erase(kept.begin());
        }
        sample->Release();
        return true;
    }
    void ReleaseKept() {
        while (ReleaseOneKept()) {
        }
    }
    void NoteEvent(int32_t event) {
        std::lock_guard guard(mutex);
        arrivals.push_back({event, ICGetCurrentThreadId(), 0, 0});
        changed.notify_all();
    }

    static constexpr int32_t kEndOfStream = -1000;
    static constexpr int32_t kBeginFlush = -1001;
    static constexpr int32_t kEndFlush = -1002;
    static constexpr int32_t kNewSegment = -1003;

    CCritSec lock;
    SinkPin* pin;
    // The output pin that delivers to this sink (its thread is the expected one).
    ICTransformOutputPin* upstream = nullptr;
    std::atomic<REFERENCE_TIME> segmentStart{-1};

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Arrival> arrivals;
    std::vector<IMediaSample*> kept;
    bool blockReceive = false;
    bool keepSamples = false;
    int blocked = 0;
};

inline SinkPin::SinkPin(RecordingSink* filter, CCritSec* lock, HRESULT* hr)
    : CBaseInputPin(u"Sink pin", filter, lock, hr, u"In"), sink(filter) {}

inline HRESULT SinkPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) {
        return hr;
    }
    return sink->OnReceive(sample);
}

inline HRESULT SinkPin::EndOfStream() {
    sink->NoteEvent(RecordingSink::kEndOfStream);
    return S_OK;
}

inline HRESULT SinkPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    sink->NoteEvent(RecordingSink::kBeginFlush);
    sink->Unblock();  // a flush frees a blocked Receive, as a renderer's does
    return S_OK;
}

inline HRESULT SinkPin::EndFlush() {
    sink->NoteEvent(RecordingSink::kEndFlush);
    return CBaseInputPin::EndFlush();
}

inline HRESULT SinkPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    sink->segmentStart = start;
    sink->NoteEvent(RecordingSink::kNewSegment);
    return CBaseInputPin::NewSegment(start, stop, rate);
}

inline HRESULT SinkPin::Inactive() {
    sink->Unblock();
    sink->ReleaseKept();
    return CBaseInputPin::Inactive();
}

// Takes the first reference on a new filter.
template <typename Filter>
ComPtr<IBaseFilter> Hold(Filter* filter) {
    return ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(filter));
}

}  // namespace streamtest
