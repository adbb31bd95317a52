// CPU time the SI analyzer filter spends per second of a 52 Mbit/s stream (the simulator's BS
// transponder with two 21 Mbit/s services), with all five output pins connected and a service
// selected, reported as the fraction of one core it needs to keep up with the broadcast
// (target: at most 5 %, that is at least 20 times real time).
//
// The stream is pushed as fast as the filter takes it, in samples of 1024 packets, by the
// benchmark thread (which is the filter's streaming thread). A reference clock of the
// benchmark's own follows the stream time of the sample being pushed, so every elementary
// stream sample is in time and delivered as it would be live. The figure is the process's
// CPU time over the run (the filter's streaming, worker and delivery threads, plus the small
// cost of the source's copy and the empty sinks) divided by the stream's duration.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseInputPin.h"
#include "platform/dshow/CBaseOutputPin.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/dshow/DShowGuids.h"
#include "sianalyzer/ICQVSIAnalyzer.h"
#include "tools/isdbsim/TsStream.h"

namespace {

using namespace isdbsim;

constexpr size_t kSamplePackets = 1024;
constexpr double kStreamSeconds = 20.0;

const CLSID kBenchSource{0x7B2D63E1, 0x4C8F, 0x4A1B, {0x9F, 0x22, 0x63, 0x8D, 0xA1, 0x4E, 0x22, 1}};
const CLSID kBenchSink{0x7B2D63E1, 0x4C8F, 0x4A1B, {0x9F, 0x22, 0x63, 0x8D, 0xA1, 0x4E, 0x22, 2}};

const TransportStreamInfo& Channel() {
    static const TransportStreamInfo ts = [] {
        TransportStreamInfo info = *FindChannel(1, 0);
        info.muxRate = 52'000'000;
        for (ServiceInfo& service : info.services) {
            if (service.kind == ServiceKind::Television) {
                service.video.bitRate = 21'000'000;
            }
        }
        return info;
    }();
    return ts;
}

const std::vector<uint8_t>& Stream() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> out;
        TsStream stream(Channel(), *ParseJstTime("2026-04-01 12:00:00"), 1);
        std::string error;
        if (!stream.Open(&error)) {
            std::fprintf(stderr, "cannot make the stream: %s\n", error.c_str());
            return out;
        }
        const size_t total = static_cast<size_t>(kStreamSeconds * stream.PacketRate());
        out.resize(total * kTsPacketSize);
        stream.Generate(out.data(), total);
        return out;
    }();
    return bytes;
}

// One PES packet of `payloadSize` filler bytes in its packets.
void PutPes(std::vector<uint8_t>& out, TsPacketizer& packetizer, uint8_t streamId, uint64_t pts,
            size_t payloadSize) {
    std::vector<TsPacket> packets;
    packetizer.Pes(BuildPes({.streamId = streamId, .pts = pts, .dataAlignment = false},
                            std::vector<uint8_t>(payloadSize, 0x5A)),
                   packets);
    for (const TsPacket& packet : packets) {
        out.insert(out.end(), packet.begin(), packet.end());
    }
}

// The worst case for the stream path: the same rate with every packet but the PCRs and a few
// padding packets demultiplexed, 30 pictures of about 160 KB (43 Mbit/s) and 46.875 AAC frames
// per second on the selected service's PIDs.
const std::vector<uint8_t>& DenseStream() {
    static const std::vector<uint8_t> bytes = [] {
        const ServiceInfo& service = Channel().services[0];
        const double packetSeconds = 188.0 * 8.0 / Channel().muxRate;
        const size_t total = static_cast<size_t>(kStreamSeconds / packetSeconds);
        std::vector<uint8_t> out;
        out.reserve(total * kTsPacketSize + 1024 * kTsPacketSize);
        TsPacketizer pcrPackets(Channel().pcrPid);
        TsPacketizer videoPackets(service.videoPid);
        TsPacketizer audioPackets(service.audioPid);
        size_t audioFrame = 0;
        for (size_t frame = 0; out.size() / kTsPacketSize < total; ++frame) {
            const double time = double(out.size() / kTsPacketSize) * packetSeconds;
            const uint64_t pcr = uint64_t(time * 27e6);
            const TsPacket pcrPacket = pcrPackets.PcrOnly(pcr);
            out.insert(out.end(), pcrPacket.begin(), pcrPacket.end());
            const uint64_t pts = uint64_t((time + 0.5) * 90000);
            while (double(audioFrame) * 1024.0 / 48000.0 <= double(frame) / 30.0) {
                PutPes(out, audioPackets, 0xC0, pts, 400);
                ++audioFrame;
            }
            PutPes(out, videoPackets, 0xE0, pts, 160000);
            // Padding up to the picture's share of the multiplex.
            const size_t due = size_t(double(frame + 1) / 30.0 / packetSeconds);
            while (out.size() / kTsPacketSize < due) {
                const TsPacket null = NullPacket();
                out.insert(out.end(), null.begin(), null.end());
            }
        }
        return out;
    }();
    return bytes;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A clock that shows whatever time the benchmark gives it.
class StreamClock final : public CUnknown, public IReferenceClock {
public:
    StreamClock() : CUnknown(u"Bench clock", nullptr) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IReferenceClock) {
            return GetInterface(static_cast<IReferenceClock*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT GetTime(REFERENCE_TIME* time) override {
        *time = now.load();
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT Unadvise(DWORD_PTR) override { return E_NOTIMPL; }

    std::atomic<REFERENCE_TIME> now{kUnitsPerSecond};
};

class SourcePin final : public CBaseOutputPin {
public:
    SourcePin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr)
        : CBaseOutputPin(u"Bench source pin", filter, lock, hr, u"Out") {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override {
        ALLOCATOR_PROPERTIES wanted{4, LONG(kSamplePackets * kTsPacketSize), 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(&wanted, &actual);
    }
};

class Source final : public CBaseFilter {
public:
    Source() : CBaseFilter(u"Bench source", nullptr, &lock, kBenchSource) {
        HRESULT hr = S_OK;
        pin = new SourcePin(this, &lock, &hr);
    }
    ~Source() override { delete pin; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

    CCritSec lock;
    SourcePin* pin;
};

class Sink;

class SinkPin final : public CBaseInputPin {
public:
    SinkPin(Sink* filter, CCritSec* lock, HRESULT* hr);
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT GetMediaType(int, CMediaType*) override { return VFW_S_NO_MORE_ITEMS; }
    HRESULT EndOfStream() override;
    HRESULT Receive(IMediaSample* sample) override {
        HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr == S_OK) {
            samples.fetch_add(1);
            bytes.fetch_add(sample->GetActualDataLength());
        }
        return hr;
    }

    std::atomic<int64_t> samples{0};
    std::atomic<int64_t> bytes{0};

private:
    Sink* sink;
};

// Takes every sample and lets it go at once.
class Sink final : public CBaseFilter {
public:
    Sink() : CBaseFilter(u"Bench sink", nullptr, &lock, kBenchSink) {
        HRESULT hr = S_OK;
        pin = new SinkPin(this, &lock, &hr);
    }
    ~Sink() override { delete pin; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

    void Ended() {
        std::lock_guard guard(mutex);
        ++ends;
        changed.notify_all();
    }
    bool WaitForEnd(int count) {
        std::unique_lock guard(mutex);
        return changed.wait_for(guard, std::chrono::seconds(120), [&] { return ends >= count; });
    }

    CCritSec lock;
    SinkPin* pin;

private:
    std::mutex mutex;
    std::condition_variable changed;
    int ends = 0;
};

SinkPin::SinkPin(Sink* filter, CCritSec* lock, HRESULT* hr)
    : CBaseInputPin(u"Bench sink pin", filter, lock, hr, u"In"), sink(filter) {}

HRESULT SinkPin::EndOfStream() {
    sink->Ended();
    return S_OK;
}

void RunFilter(benchmark::State& state, const std::vector<uint8_t>& stream, const char* label) {
    if (stream.empty()) {
        state.SkipWithError("no stream");
        return;
    }
    ComPtr<IGraphBuilder> graph;
    if (CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                         graph.GetVoidAddressOf()) != S_OK) {
        state.SkipWithError("no graph");
        return;
    }
    ComPtr<IMediaFilter> control;
    graph.As(&control);
    ComPtr<IMediaControl> mediaControl;
    graph.As(&mediaControl);
    auto* clock = new StreamClock();
    ComPtr<IReferenceClock> clockHolder(static_cast<IReferenceClock*>(clock));
    HRESULT hr = S_OK;
    auto* analyzer = static_cast<ICQVSIAnalyzer*>(ICQVSIAnalyzer::CreateInstance(nullptr, &hr));
    ComPtr<IBaseFilter> filter(static_cast<IBaseFilter*>(analyzer));
    auto* source = new Source();
    ComPtr<IBaseFilter> sourceFilter(static_cast<IBaseFilter*>(source));
    graph->AddFilter(sourceFilter.Get(), u"Source");
    graph->AddFilter(filter.Get(), u"QV SI Analyzer");
    ComPtr<IPin> input;
    filter->FindPin(u"Input", input.GetAddressOf());
    CMediaType type;
    type.SetType(&MEDIATYPE_Stream);
    type.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    type.SetFormatType(&FORMAT_None);
    if (graph->ConnectDirect(source->pin, input.Get(), &type) != S_OK) {
        state.SkipWithError("cannot connect the input");
        return;
    }
    const char16_t* outputs[] = {u"TS", u"Video", u"Audio", u"Caption", u"Section"};
    std::vector<ComPtr<IBaseFilter>> sinkFilters;
    std::vector<Sink*> sinks;
    for (const char16_t* name : outputs) {
        auto* sink = new Sink();
        sinks.push_back(sink);
        sinkFilters.emplace_back(static_cast<IBaseFilter*>(sink));
        graph->AddFilter(sinkFilters.back().Get(), name);
        ComPtr<IPin> output;
        filter->FindPin(name, output.GetAddressOf());
        if (graph->ConnectDirect(output.Get(), sink->pin, nullptr) != S_OK) {
            state.SkipWithError("cannot connect an output");
            return;
        }
    }
    control->SetSyncSource(clock);

    const ServiceInfo& service = Channel().services[0];
    analyzer->SetServiceID(service.serviceId, 0);
    analyzer->SetPCRPID(Channel().pcrPid);
    analyzer->SetVideoPID(service.videoPid);
    analyzer->SetAudioPID(service.audioPid);
    analyzer->SetCaptionPID(service.captionPid);

    const double packetSeconds = 188.0 * 8.0 / Channel().muxRate;
    const size_t packets = stream.size() / kTsPacketSize;
    int runs = 0;
    double cpuTotal = 0;
    double wallTotal = 0;
    for (auto _ : state) {
        const REFERENCE_TIME start = clock->now.load() + kUnitsPerSecond;
        clock->now.store(start);
        mediaControl->Pause();
        control->Run(start);
        const double cpuBefore = ProcessCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        for (size_t first = 0; first < packets; first += kSamplePackets) {
            clock->now.store(start + REFERENCE_TIME(double(first) * packetSeconds * 1e7));
            IMediaSample* sample = nullptr;
            if (FAILED(source->pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) {
                state.SkipWithError("no source buffer");
                break;
            }
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            const size_t count = std::min(kSamplePackets, packets - first);
            std::memcpy(data, stream.data() + first * kTsPacketSize, count * kTsPacketSize);
            sample->SetActualDataLength(LONG(count * kTsPacketSize));
            source->pin->Deliver(sample);
            sample->Release();
        }
        source->pin->DeliverEndOfStream();
        ++runs;
        for (Sink* sink : sinks) {
            sink->WaitForEnd(runs);
        }
        // The worker's share too: until the sections queued so far are parsed.
        while (analyzer->GetCompletedCount() > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        cpuTotal += ProcessCpuSeconds() - cpuBefore;
        wallTotal +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        DWORD counts[4] = {};
        analyzer->GetStatistics(&counts[0], &counts[1], &counts[2], &counts[3]);
        if (counts[1] + counts[2] + counts[3] != 0) {
            std::fprintf(stderr, "unexpected drops: continuity %u, time-outs %u, late %u\n",
                         counts[1], counts[2], counts[3]);
        }
        mediaControl->Stop();
    }
    if (runs > 0) {
        const double streamSeconds = double(packets) * packetSeconds;
        const double fraction = cpuTotal / runs / streamSeconds;
        state.counters["core_fraction"] = fraction;
        state.counters["realtime_x"] = streamSeconds * runs / cpuTotal;
        state.counters["wall_realtime_x"] = streamSeconds * runs / wallTotal;
        std::printf(
            "Tabrix, %s: %.1f s of a 52 Mbit/s stream: %.2f %% of a core (%.0fx real time; "
            "%.0fx in elapsed time)\n",
            label, streamSeconds, fraction * 100.0, 1.0 / fraction,
            streamSeconds * runs / wallTotal);
        for (size_t i = 0; i < sinks.size(); ++i) {
            std::printf(
                "  %-8s %8lld samples %12lld bytes per run\n",
                std::string(outputs[i], outputs[i] + std::char_traits<char16_t>::length(outputs[i]))
                    .c_str(),
                static_cast<long long>(sinks[i]->pin->samples.load() / runs),
                static_cast<long long>(sinks[i]->pin->bytes.load() / runs));
        }
    }
}

// The simulated broadcast: full SI, the service's real (sparse) pictures, null packets.
void SimulatedBroadcast(benchmark::State& state) {
    RunFilter(state, Stream(), "simulated broadcast");
}
void DenseElementaryStreams(benchmark::State& state) {
    RunFilter(state, DenseStream(), "dense elementary streams");
}

BENCHMARK(SimulatedBroadcast)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(DenseElementaryStreams)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
