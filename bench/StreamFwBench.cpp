// Transport-stream throughput through the stream module framework: a source pushing samples
// on the benchmark's thread -> a pass-through filter on ICTransformFilter (worker and delivery
// thread, each sample copied into a packet of the filter's own allocator) -> a counting sink.
// Large samples are those the sources deliver (1024 packets, 192,512 bytes); small ones hold a
// single 188-byte packet.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseInputPin.h"
#include "platform/dshow/CBaseOutputPin.h"
#include "platform/dshow/ControlInterfaces.h"
#include "streamfw/ICTransformFilter.h"
#include "streamfw/ICTransformInputPin.h"
#include "streamfw/ICTransformOutputPin.h"

namespace {

constexpr LONG kPacketSize = 188;
constexpr CLSID kBenchClsid{
    0x5E1F0D2A, 0x1B7C, 0x4C1E, {0x8A, 0x40, 0x2F, 0x61, 0x9B, 0x3D, 0x77, 0x10}};

CMediaType TransportStreamType() {
    CMediaType type;
    type.SetType(&MEDIATYPE_Stream);
    type.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    type.SetFormatType(&FORMAT_None);
    type.SetVariableSize();
    return type;
}

class SourcePin final : public CBaseOutputPin {
public:
    SourcePin(CBaseFilter* filter, CCritSec* lock, LONG sampleSize)
        : CBaseOutputPin(u"Bench source pin", filter, lock, &ignored, u"Out"),
          sampleSize(sampleSize) {}
    HRESULT CheckMediaType(const CMediaType* type) override {
        return *type->Type() == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override {
        ALLOCATOR_PROPERTIES wanted{64, sampleSize, 16, 0};
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(&wanted, &actual);
    }
    // One sample of transport packets; the buffers keep their bytes, so each is filled once.
    HRESULT Push() {
        IMediaSample* sample = nullptr;
        HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            return hr;
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (data[0] != 0x47) {
            for (LONG offset = 0; offset + kPacketSize <= sampleSize; offset += kPacketSize) {
                std::memset(data + offset, 0xFF, kPacketSize);
                data[offset] = 0x47;
            }
        }
        sample->SetActualDataLength(sampleSize);
        hr = Deliver(sample);
        sample->Release();
        return hr;
    }

private:
    HRESULT ignored = S_OK;
    LONG sampleSize;
};

class Source final : public CBaseFilter {
public:
    explicit Source(LONG sampleSize)
        : CBaseFilter(u"Bench source", nullptr, &lock, kBenchClsid), pin(this, &lock, sampleSize) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? &pin : nullptr; }

    CCritSec lock;
    SourcePin pin;
};

class PassThrough final : public ICTransformFilter {
public:
    explicit PassThrough(LONG sampleSize)
        : ICTransformFilter(u"Bench pass-through", nullptr, kBenchClsid, nullptr) {
        workerEnabled = true;
        GetOutputPin()->SetUseDeliveryThread(true);
        GetOutputPin()->SetBufferSize(sampleSize);
    }
    ~PassThrough() override { StopWorker(); }
};

class Sink;

class SinkPin final : public CBaseInputPin {
public:
    SinkPin(CBaseFilter* filter, CCritSec* lock, Sink* sink)
        : CBaseInputPin(u"Bench sink pin", filter, lock, &ignored, u"In"), sink(sink) {}
    HRESULT CheckMediaType(const CMediaType* type) override {
        return *type->Type() == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT Receive(IMediaSample* sample) override;

private:
    HRESULT ignored = S_OK;
    Sink* sink;
};

class Sink final : public CBaseFilter {
public:
    Sink() : CBaseFilter(u"Bench sink", nullptr, &lock, kBenchClsid), pin(this, &lock, this) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? &pin : nullptr; }

    void Arrived(LONG length) {
        bytes.fetch_add(uint64_t(length), std::memory_order_relaxed);
        // Sequentially consistent with WaitFor's store and load: one of the two sees the other.
        uint64_t count = samples.fetch_add(1) + 1;
        if (count >= target.load()) {
            std::lock_guard guard(mutex);
            reached.notify_all();
        }
    }
    void WaitFor(uint64_t count) {
        std::unique_lock guard(mutex);
        target.store(count);
        reached.wait(guard, [&] { return samples.load() >= count; });
    }

    CCritSec lock;
    SinkPin pin;
    std::atomic<uint64_t> samples{0};
    std::atomic<uint64_t> bytes{0};

private:
    std::atomic<uint64_t> target{~uint64_t{0}};
    std::mutex mutex;
    std::condition_variable reached;
};

HRESULT SinkPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr == S_OK) {
        sink->Arrived(sample->GetActualDataLength());
    }
    return hr;
}

// Source, filter and sink in a running graph, torn down at the end.
struct Chain {
    explicit Chain(LONG sampleSize) {
        source = new Source(sampleSize);
        filter = new PassThrough(sampleSize);
        sink = new Sink();
        sourceFilter = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(source));
        transformFilter = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(filter));
        sinkFilter = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(sink));
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                         graph.GetVoidAddressOf());
        if (!graph) {
            return;
        }
        graph.As(&control);
        graph->AddFilter(sourceFilter.Get(), u"Source");
        graph->AddFilter(transformFilter.Get(), u"Pass-through");
        graph->AddFilter(sinkFilter.Get(), u"Sink");
        CMediaType type = TransportStreamType();
        ok = SUCCEEDED(graph->ConnectDirect(&source->pin, filter->GetInputPin(), &type)) &&
             SUCCEEDED(graph->ConnectDirect(filter->GetOutputPin(), &sink->pin, &type)) &&
             SUCCEEDED(control->Run());
    }
    ~Chain() {
        if (control) {
            control->Stop();
        }
    }

    Source* source = nullptr;
    PassThrough* filter = nullptr;
    Sink* sink = nullptr;
    ComPtr<IBaseFilter> sourceFilter;
    ComPtr<IBaseFilter> transformFilter;
    ComPtr<IBaseFilter> sinkFilter;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    bool ok = false;
};

void RunThroughput(benchmark::State& state, LONG sampleSize, int batch) {
    Chain chain(sampleSize);
    if (!chain.ok) {
        state.SkipWithError("the graph could not be built");
        return;
    }
    uint64_t pushed = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) {
            if (FAILED(chain.source->pin.Push())) {
                state.SkipWithError("a sample could not be delivered");
                return;
            }
        }
        pushed += uint64_t(batch);
        chain.sink->WaitFor(pushed);
    }
    state.SetItemsProcessed(int64_t(chain.sink->samples.load()));
    state.SetBytesProcessed(int64_t(chain.sink->bytes.load()));
    state.counters["samples/s"] =
        benchmark::Counter(double(chain.sink->samples.load()), benchmark::Counter::kIsRate);
}

// 1024 packets per sample, as the sources deliver them.
void BM_TransportStreamLargeSamples(benchmark::State& state) {
    RunThroughput(state, 1024 * kPacketSize, 64);
}
BENCHMARK(BM_TransportStreamLargeSamples)->UseRealTime()->MinTime(2.0);

// One packet per sample.
void BM_TransportStreamSmallSamples(benchmark::State& state) {
    RunThroughput(state, kPacketSize, 10000);
}
BENCHMARK(BM_TransportStreamSmallSamples)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
