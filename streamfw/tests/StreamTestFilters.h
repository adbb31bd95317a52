#pragma once

// The two ends of a media graph in the tests of the stream modules: a source that the test
// thread drives sample by sample (so the test is the streaming thread) and a sink that records,
// in order, everything that reaches it. Between them goes the filter under test.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseInputPin.h"
#include "platform/dshow/CBaseOutputPin.h"

class ICTransformOutputPin;

namespace streamtest {

using Bytes = std::vector<uint8_t>;

inline constexpr size_t kTsPacketSize = 188;
// The most TS packets the modules carry in one sample.
inline constexpr size_t kSamplePackets = 1024;

inline constexpr CLSID CLSID_PushSource{
    0x3B0D9C47, 0x2E1A, 0x4C55, {0x9E, 0x61, 0x0A, 0x7B, 0x52, 0x8C, 0xD1, 0x01}};
inline constexpr CLSID CLSID_RecordingSink{
    0x3B0D9C47, 0x2E1A, 0x4C55, {0x9E, 0x61, 0x0A, 0x7B, 0x52, 0x8C, 0xD1, 0x03}};

// An MPEG-2 transport stream of variable-size samples, without a format block.
CMediaType TransportStreamType();

// Polls `done` every millisecond; false when it is still not true after `milliseconds`.
bool WaitUntil(const std::function<bool()>& done, int milliseconds = 5000);

// Takes the first reference on a new filter.
template <typename Filter>
ComPtr<IBaseFilter> Hold(Filter* filter) {
    return ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(filter));
}

// --- source

class PushPin final : public CBaseOutputPin {
public:
    PushPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LONG bufferCount, LONG bufferSize);

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override;

private:
    LONG bufferCount;
    LONG bufferSize;
};

// Offers a transport stream on its one output pin "Out" and delivers what the test gives it
// from the calling thread. A push fails, delivering nothing, when the bytes do not fit one of
// the allocator's buffers.
class PushSource final : public CBaseFilter {
public:
    struct Options {
        LONG bufferCount = 64;
        LONG bufferSize = LONG(kTsPacketSize);
    };

    PushSource();
    explicit PushSource(const Options& options);
    ~PushSource() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

    // One sample with exactly these bytes; with times when `start` is given, and the
    // sync-point flag as asked.
    HRESULT PushSample(const uint8_t* data, size_t size, const REFERENCE_TIME* start = nullptr,
                       const REFERENCE_TIME* stop = nullptr, bool syncPoint = false);
    // One sample of `size` bytes (at least 4) that carries `sequence` in its first four bytes
    // and 0x47 in the rest, timed from sequence ms to sequence + 1 ms.
    HRESULT PushNumbered(int32_t sequence, LONG size = LONG(kTsPacketSize));
    // The bytes in samples of `packetsPerSample` TS packets (the last one may be shorter).
    HRESULT Push(const Bytes& bytes, size_t packetsPerSample = kSamplePackets);
    // The same in samples of kSamplePackets with a pause after each, so that a module's worker
    // keeps up with the stream as it would at the broadcast's own rate.
    HRESULT PushPaced(const Bytes& bytes, int millisecondsPerSample = 20);

    HRESULT PushEndOfStream() { return pin->DeliverEndOfStream(); }
    HRESULT PushBeginFlush() { return pin->DeliverBeginFlush(); }
    HRESULT PushEndFlush() { return pin->DeliverEndFlush(); }
    HRESULT PushNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
        return pin->DeliverNewSegment(start, stop, rate);
    }

    CCritSec lock;
    PushPin* pin;
};

// --- sink

// One sample as it reached the sink.
struct Received {
    Bytes data;
    bool timed = false;  // GetTime succeeded
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool syncPoint = false;
    bool discontinuity = false;
    bool preroll = false;
    uint32_t thread = 0;          // the thread Receive ran on
    uint32_t expectedThread = 0;  // the upstream pin's delivery thread at that moment

    // The number PushNumbered wrote into the first four bytes; -1 for a shorter sample.
    int32_t Sequence() const;
};

struct Segment {
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
    double rate;
};

class RecordingSink;

class SinkPin final : public CBaseInputPin {
public:
    SinkPin(RecordingSink* filter, CCritSec* lock, HRESULT* hr);

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int, CMediaType*) override { return VFW_S_NO_MORE_ITEMS; }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    HRESULT Inactive() override;

private:
    RecordingSink* sink;
};

// Records every sample that arrives on its input pin "In" (bytes, times, flags and thread) and
// every stream call, in one order. It can block in Receive until a flush, a stop or Unblock,
// and it can keep the samples it receives, starving the allocator that lent them, until they
// are released or the sink stops.
class RecordingSink final : public CBaseFilter {
public:
    struct Options {
        // The major type the input accepts; none accepts every type.
        std::optional<GUID> majorType = MEDIATYPE_Stream;
    };

    // The stream calls, as Sequences() shows them among the samples.
    static constexpr int32_t kEndOfStream = -1000;
    static constexpr int32_t kBeginFlush = -1001;
    static constexpr int32_t kEndFlush = -1002;
    static constexpr int32_t kNewSegment = -1003;

    RecordingSink();
    explicit RecordingSink(const Options& options);
    ~RecordingSink() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

    bool Accepts(const CMediaType* type) const;

    std::vector<Received> Samples();
    size_t Count();
    // Each sample's Sequence() and each stream call's constant, in the order they arrived.
    std::vector<int32_t> Sequences();
    // All the bytes received, in order.
    Bytes Concatenated();
    int Calls(int32_t call);
    std::vector<Segment> Segments();

    bool WaitForCount(size_t count, int milliseconds = 30000);
    bool WaitForCall(int32_t call, int count = 1, int milliseconds = 30000);

    // Receive waits from the next sample on until Unblock, a flush or a stop.
    void Block();
    void Unblock();
    // Until a Receive is waiting.
    bool WaitBlocked(int milliseconds = 5000);

    void Keep(bool keep);
    // Gives back the oldest kept sample; false when none is kept.
    bool ReleaseOneKept();
    void ReleaseKept();

    // Called by the pin.
    HRESULT OnReceive(IMediaSample* sample);
    void OnCall(int32_t call);
    void OnNewSegment(const Segment& segment);

    CCritSec lock;
    SinkPin* pin;
    // The output pin that delivers to this sink, when its delivery thread is to be checked.
    ICTransformOutputPin* upstream = nullptr;

private:
    // A sample (its index in `samples`) or a stream call.
    struct Entry {
        int32_t call;
        size_t sample;
    };

    const Options options;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Received> samples;
    std::vector<Entry> entries;
    std::vector<Segment> segments;
    std::vector<IMediaSample*> kept;
    bool blockReceive = false;
    bool keepSamples = false;
    int blocked = 0;
};

}  // namespace streamtest
