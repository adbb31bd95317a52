#include "streamfw/tests/StreamTestFilters.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/ICUiThread.h"
#include "streamfw/ICTransformOutputPin.h"

namespace streamtest {

namespace {

// What an entry of the sink's log holds when it is a sample rather than a stream call.
constexpr int32_t kSampleEntry = 0;

}  // namespace

CMediaType TransportStreamType() {
    CMediaType type;
    type.SetType(&MEDIATYPE_Stream);
    type.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    type.SetFormatType(&FORMAT_None);
    type.SetVariableSize();
    return type;
}

bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// --- source

PushPin::PushPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LONG bufferCount,
                 LONG bufferSize)
    : CBaseOutputPin(u"Push pin", filter, lock, hr, u"Out"),
      bufferCount(bufferCount),
      bufferSize(bufferSize) {}

HRESULT PushPin::CheckMediaType(const CMediaType* type) {
    return *type->Type() == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT PushPin::GetMediaType(int position, CMediaType* type) {
    if (position != 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    *type = TransportStreamType();
    return S_OK;
}

HRESULT PushPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) {
    ALLOCATOR_PROPERTIES wanted{bufferCount, bufferSize, 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(&wanted, &actual);
}

PushSource::PushSource() : PushSource(Options{}) {}

PushSource::PushSource(const Options& options)
    : CBaseFilter(u"Push source", nullptr, &lock, CLSID_PushSource) {
    HRESULT hr = S_OK;
    pin = new PushPin(this, &lock, &hr, options.bufferCount, options.bufferSize);
}

PushSource::~PushSource() {
    delete pin;
}

HRESULT PushSource::PushSample(const uint8_t* data, size_t size, const REFERENCE_TIME* start,
                               const REFERENCE_TIME* stop, bool syncPoint) {
    IMediaSample* sample = nullptr;
    HRESULT hr = pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) {
        return hr;
    }
    if (size > size_t(sample->GetSize())) {
        // Cutting the bytes short would pass a test on a stream it never delivered.
        sample->Release();
        return VFW_E_BUFFER_OVERFLOW;
    }
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    if (size > 0) {
        std::memcpy(buffer, data, size);
    }
    sample->SetActualDataLength(LONG(size));
    if (start != nullptr) {
        REFERENCE_TIME sampleStart = *start;
        REFERENCE_TIME sampleStop = stop != nullptr ? *stop : *start;
        sample->SetTime(&sampleStart, &sampleStop);
    }
    sample->SetSyncPoint(syncPoint ? TRUE : FALSE);
    hr = pin->Deliver(sample);
    sample->Release();
    return hr;
}

HRESULT PushSource::PushNumbered(int32_t sequence, LONG size) {
    if (size < LONG(sizeof(sequence))) {
        return E_INVALIDARG;
    }
    Bytes bytes(size_t(size), 0x47);
    std::memcpy(bytes.data(), &sequence, sizeof(sequence));
    const REFERENCE_TIME start = sequence * 10000LL;
    const REFERENCE_TIME stop = start + 10000;
    return PushSample(bytes.data(), bytes.size(), &start, &stop);
}

HRESULT PushSource::Push(const Bytes& bytes, size_t packetsPerSample) {
    if (packetsPerSample == 0) {
        return E_INVALIDARG;
    }
    const size_t step = packetsPerSample * kTsPacketSize;
    for (size_t offset = 0; offset < bytes.size(); offset += step) {
        HRESULT hr = PushSample(bytes.data() + offset, std::min(step, bytes.size() - offset));
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT PushSource::PushPaced(const Bytes& bytes, int millisecondsPerSample) {
    const size_t step = kSamplePackets * kTsPacketSize;
    for (size_t offset = 0; offset < bytes.size(); offset += step) {
        HRESULT hr = PushSample(bytes.data() + offset, std::min(step, bytes.size() - offset));
        if (FAILED(hr)) {
            return hr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(millisecondsPerSample));
    }
    return S_OK;
}

// --- sink

int32_t Received::Sequence() const {
    int32_t sequence = -1;
    if (data.size() >= sizeof(sequence)) {
        std::memcpy(&sequence, data.data(), sizeof(sequence));
    }
    return sequence;
}

SinkPin::SinkPin(RecordingSink* filter, CCritSec* lock, HRESULT* hr)
    : CBaseInputPin(u"Sink pin", filter, lock, hr, u"In"), sink(filter) {}

HRESULT SinkPin::CheckMediaType(const CMediaType* type) {
    return sink->Accepts(type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SinkPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) {
        return hr;
    }
    return sink->OnReceive(sample);
}

HRESULT SinkPin::EndOfStream() {
    sink->OnCall(RecordingSink::kEndOfStream);
    return S_OK;
}

HRESULT SinkPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    sink->OnCall(RecordingSink::kBeginFlush);
    sink->Unblock();  // a flush frees a blocked Receive, as a renderer's does
    return S_OK;
}

HRESULT SinkPin::EndFlush() {
    // Noted once the pin takes samples again, so that a test that waits for it may push on.
    HRESULT hr = CBaseInputPin::EndFlush();
    sink->OnCall(RecordingSink::kEndFlush);
    return hr;
}

HRESULT SinkPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    HRESULT hr = CBaseInputPin::NewSegment(start, stop, rate);
    sink->OnNewSegment({start, stop, rate});
    return hr;
}

HRESULT SinkPin::Inactive() {
    // The allocator cannot be decommitted from under a blocked Receive or a kept sample.
    sink->Unblock();
    sink->ReleaseKept();
    return CBaseInputPin::Inactive();
}

RecordingSink::RecordingSink() : RecordingSink(Options{}) {}

RecordingSink::RecordingSink(const Options& options)
    : CBaseFilter(u"Recording sink", nullptr, &lock, CLSID_RecordingSink), options(options) {
    HRESULT hr = S_OK;
    pin = new SinkPin(this, &lock, &hr);
}

RecordingSink::~RecordingSink() {
    ReleaseKept();
    delete pin;
}

bool RecordingSink::Accepts(const CMediaType* type) const {
    return !options.majorType || *type->Type() == *options.majorType;
}

HRESULT RecordingSink::OnReceive(IMediaSample* sample) {
    Received received;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (data != nullptr && length > 0) {
        received.data.assign(data, data + length);
    }
    received.timed = SUCCEEDED(sample->GetTime(&received.start, &received.stop));
    received.syncPoint = sample->IsSyncPoint() == S_OK;
    received.discontinuity = sample->IsDiscontinuity() == S_OK;
    received.preroll = sample->IsPreroll() == S_OK;
    received.thread = ICGetCurrentThreadId();
    received.expectedThread = upstream != nullptr ? upstream->GetThreadId() : 0;

    std::unique_lock guard(mutex);
    entries.push_back({kSampleEntry, samples.size()});
    samples.push_back(std::move(received));
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

void RecordingSink::OnCall(int32_t call) {
    std::lock_guard guard(mutex);
    entries.push_back({call, 0});
    changed.notify_all();
}

void RecordingSink::OnNewSegment(const Segment& segment) {
    std::lock_guard guard(mutex);
    segments.push_back(segment);
    entries.push_back({kNewSegment, 0});
    changed.notify_all();
}

std::vector<Received> RecordingSink::Samples() {
    std::lock_guard guard(mutex);
    return samples;
}

size_t RecordingSink::Count() {
    std::lock_guard guard(mutex);
    return samples.size();
}

std::vector<int32_t> RecordingSink::Sequences() {
    std::lock_guard guard(mutex);
    std::vector<int32_t> sequences;
    sequences.reserve(entries.size());
    for (const Entry& entry : entries) {
        sequences.push_back(entry.call == kSampleEntry ? samples[entry.sample].Sequence()
                                                       : entry.call);
    }
    return sequences;
}

Bytes RecordingSink::Concatenated() {
    std::lock_guard guard(mutex);
    Bytes all;
    for (const Received& sample : samples) {
        all.insert(all.end(), sample.data.begin(), sample.data.end());
    }
    return all;
}

int RecordingSink::Calls(int32_t call) {
    std::lock_guard guard(mutex);
    return int(std::count_if(entries.begin(), entries.end(),
                             [call](const Entry& entry) { return entry.call == call; }));
}

std::vector<Segment> RecordingSink::Segments() {
    std::lock_guard guard(mutex);
    return segments;
}

bool RecordingSink::WaitForCount(size_t count, int milliseconds) {
    std::unique_lock guard(mutex);
    return changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                            [&] { return samples.size() >= count; });
}

bool RecordingSink::WaitForCall(int32_t call, int count, int milliseconds) {
    std::unique_lock guard(mutex);
    return changed.wait_for(guard, std::chrono::milliseconds(milliseconds), [&] {
        return std::count_if(entries.begin(), entries.end(),
                             [call](const Entry& entry) { return entry.call == call; }) >= count;
    });
}

void RecordingSink::Block() {
    std::lock_guard guard(mutex);
    blockReceive = true;
}

void RecordingSink::Unblock() {
    std::lock_guard guard(mutex);
    blockReceive = false;
    changed.notify_all();
}

bool RecordingSink::WaitBlocked(int milliseconds) {
    std::unique_lock guard(mutex);
    return changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                            [&] { return blocked > 0; });
}

void RecordingSink::Keep(bool keep) {
    std::lock_guard guard(mutex);
    keepSamples = keep;
}

bool RecordingSink::ReleaseOneKept() {
    IMediaSample* sample = nullptr;
    {
        std::lock_guard guard(mutex);
        if (kept.empty()) {
            return false;
        }
        sample = kept.front();
        kept.erase(kept.begin());
    }
    // Outside the lock: giving a sample back may wake a thread that delivers to this sink.
    sample->Release();
    return true;
}

void RecordingSink::ReleaseKept() {
    std::vector<IMediaSample*> held;
    {
        std::lock_guard guard(mutex);
        held.swap(kept);
    }
    for (IMediaSample* sample : held) {
        sample->Release();
    }
}

}  // namespace streamtest
