#pragma once

// The analyzer in a real graph for the tests: the module file registered into a temporary
// registry, a source that the test thread drives sample by sample (so the test is the
// streaming thread), sinks that record what each output pin delivers, and builders of the
// TS packets and PES packets the hand-made cases need.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/ModuleExports.h"
#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseInputPin.h"
#include "platform/dshow/CBaseOutputPin.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/dshow/DShowGuids.h"
#include "sianalyzer/IQVSIAnalyzer.h"
#include "streamfw/ICModuleTables.h"

namespace tabrixtest {

using Bytes = std::vector<uint8_t>;

inline constexpr CLSID CLSID_TabrixTestSource{
    0x6A1C52D0, 0x3B7E, 0x4F0A, {0x8E, 0x11, 0x52, 0x7C, 0x90, 0x3D, 0x11, 0x01}};
inline constexpr CLSID CLSID_TabrixTestSink{
    0x6A1C52D0, 0x3B7E, 0x4F0A, {0x8E, 0x11, 0x52, 0x7C, 0x90, 0x3D, 0x11, 0x02}};

inline constexpr size_t kPacketSize = 188;
inline constexpr size_t kSamplePackets = 1024;

inline CMediaType TransportStreamType() {
    CMediaType type;
    type.SetType(&MEDIATYPE_Stream);
    type.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    type.SetFormatType(&FORMAT_None);
    type.SetVariableSize();
    return type;
}

// --- source

class SourcePin final : public CBaseOutputPin {
public:
    SourcePin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr)
        : CBaseOutputPin(u"Tabrix test source pin", filter, lock, hr, u"Out") {}

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
        ALLOCATOR_PROPERTIES wanted{8, LONG(kSamplePackets * kPacketSize + 4096), 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(&wanted, &actual);
    }
};

// Sends a byte stream in samples of up to 1024 packets from the calling thread.
class StreamSource final : public CBaseFilter {
public:
    StreamSource() : CBaseFilter(u"Tabrix test source", nullptr, &lock, CLSID_TabrixTestSource) {
        HRESULT hr = S_OK;
        pin = new SourcePin(this, &lock, &hr);
    }
    ~StreamSource() override { delete pin; }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

    // One sample with exactly these bytes.
    HRESULT PushSample(const uint8_t* data, size_t size) {
        IMediaSample* sample = nullptr;
        HRESULT hr = pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            return hr;
        }
        BYTE* buffer = nullptr;
        sample->GetPointer(&buffer);
        size = std::min(size, size_t(sample->GetSize()));
        std::memcpy(buffer, data, size);
        sample->SetActualDataLength(LONG(size));
        hr = pin->Deliver(sample);
        sample->Release();
        return hr;
    }
    // The bytes in samples of `packetsPerSample` packets.
    HRESULT Push(const Bytes& bytes, size_t packetsPerSample = kSamplePackets) {
        const size_t step = packetsPerSample * kPacketSize;
        for (size_t offset = 0; offset < bytes.size(); offset += step) {
            HRESULT hr = PushSample(bytes.data() + offset, std::min(step, bytes.size() - offset));
            if (FAILED(hr)) {
                return hr;
            }
        }
        return S_OK;
    }
    // The same with a pause after each sample, so that the analyzer's worker keeps up with the
    // tables as it would at the broadcast's own rate (watching a PMT PID needs the PAT first).
    HRESULT PushPaced(const Bytes& bytes, int millisecondsPerSample = 20) {
        const size_t step = kSamplePackets * kPacketSize;
        for (size_t offset = 0; offset < bytes.size(); offset += step) {
            HRESULT hr = PushSample(bytes.data() + offset, std::min(step, bytes.size() - offset));
            if (FAILED(hr)) {
                return hr;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(millisecondsPerSample));
        }
        return S_OK;
    }
    HRESULT PushEndOfStream() { return pin->DeliverEndOfStream(); }

    CCritSec lock;
    SourcePin* pin;
};

// --- sink

struct Received {
    Bytes data;
    bool timed = false;
    REFERENCE_TIME start = 0;
    bool syncPoint = false;
};

class CaptureSink;

class SinkPin final : public CBaseInputPin {
public:
    SinkPin(CaptureSink* filter, CCritSec* lock, HRESULT* hr);

    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT GetMediaType(int, CMediaType*) override { return VFW_S_NO_MORE_ITEMS; }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CaptureSink* sink;
};

// Records every sample (its bytes, start time and sync point) and the stream calls. It can
// keep the samples it receives, starving the pin that delivers them.
class CaptureSink final : public CBaseFilter {
public:
    CaptureSink() : CBaseFilter(u"Tabrix test sink", nullptr, &lock, CLSID_TabrixTestSink) {
        HRESULT hr = S_OK;
        pin = new SinkPin(this, &lock, &hr);
    }
    ~CaptureSink() override {
        ReleaseKept();
        delete pin;
    }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

    void OnReceive(IMediaSample* sample) {
        Received received;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        received.data.assign(data, data + sample->GetActualDataLength());
        REFERENCE_TIME stop = 0;
        received.timed = SUCCEEDED(sample->GetTime(&received.start, &stop));
        received.syncPoint = sample->IsSyncPoint() == S_OK;
        std::lock_guard guard(mutex);
        samples.push_back(std::move(received));
        if (keep) {
            sample->AddRef();
            kept.push_back(sample);
        }
        changed.notify_all();
    }
    void Note(const char* call) {
        std::lock_guard guard(mutex);
        calls[call]++;
        changed.notify_all();
    }

    std::vector<Received> Samples() {
        std::lock_guard guard(mutex);
        return samples;
    }
    size_t Count() {
        std::lock_guard guard(mutex);
        return samples.size();
    }
    int Calls(const char* call) {
        std::lock_guard guard(mutex);
        return calls[call];
    }
    bool WaitForCall(const char* call, int count = 1, int milliseconds = 30000) {
        std::unique_lock guard(mutex);
        return changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                [&] { return calls[call] >= count; });
    }
    bool WaitForCount(size_t count, int milliseconds = 30000) {
        std::unique_lock guard(mutex);
        return changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                [&] { return samples.size() >= count; });
    }
    // All the bytes received, in order.
    Bytes Concatenated() {
        std::lock_guard guard(mutex);
        Bytes all;
        for (const Received& sample : samples) {
            all.insert(all.end(), sample.data.begin(), sample.data.end());
        }
        return all;
    }
    void Keep(bool value) {
        std::lock_guard guard(mutex);
        keep = value;
    }
    void ReleaseKept() {
        std::vector<IMediaSample*> held;
        {
            std::lock_guard guard(mutex);
            held.swap(kept);
        }
        for (IMediaSample* sample : held) {
            sample->Release();
        }
    }

    CCritSec lock;
    SinkPin* pin;

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Received> samples;
    std::map<std::string, int> calls;
    std::vector<IMediaSample*> kept;
    bool keep = false;
};

inline SinkPin::SinkPin(CaptureSink* filter, CCritSec* lock, HRESULT* hr)
    : CBaseInputPin(u"Tabrix test sink pin", filter, lock, hr, u"In"), sink(filter) {}

inline HRESULT SinkPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) {
        return hr;
    }
    sink->OnReceive(sample);
    return S_OK;
}

inline HRESULT SinkPin::EndOfStream() {
    sink->Note("EndOfStream");
    return S_OK;
}

inline HRESULT SinkPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    sink->Note("BeginFlush");
    return S_OK;
}

inline HRESULT SinkPin::EndFlush() {
    CBaseInputPin::EndFlush();
    sink->Note("EndFlush");
    return S_OK;
}

inline HRESULT SinkPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CBasePin::NewSegment(start, stop, rate);
    sink->Note("NewSegment");
    return S_OK;
}

// --- the module in a temporary registry

// Loads Tabrix.ax once per process and registers it into a registry file of its own.
class TabrixModule {
public:
    static TabrixModule& Get() {
        static TabrixModule module;
        return module;
    }
    bool IsLoaded() const { return handle != nullptr && registered; }
    HRESULT CanUnloadNow() {
        auto function = reinterpret_cast<DllCanUnloadNowFunction>(
            ComGetModuleExport(handle, "DllCanUnloadNow"));
        return function != nullptr ? function() : E_FAIL;
    }
    const std::string& Folder() const { return folder; }

private:
    TabrixModule() {
        std::string pattern = std::filesystem::temp_directory_path() / "orv-tabrix-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            folder = pattern;
        }
        ::setenv("ORVANTA_REGISTRY", (folder + "/registry.json").c_str(), 1);
        if (ComLoadModule(ORV_TABRIX_MODULE, &handle) != S_OK) {
            handle = nullptr;
            return;
        }
        auto registerServer = reinterpret_cast<DllRegisterServerFunction>(
            ComGetModuleExport(handle, "DllRegisterServer"));
        registered = registerServer != nullptr && registerServer() == S_OK;
    }
    ~TabrixModule() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::string folder;
    void* handle = nullptr;
    bool registered = false;
};

// --- packets

// A TS packet header (payload only, or with an adaptation field when `adaptation` is not
// empty: the field's bytes after its length).
inline Bytes TsPacket(uint16_t pid, bool unitStart, uint8_t counter, const Bytes& payload,
                      const Bytes& adaptation = {}) {
    Bytes packet(kPacketSize, 0xFF);
    packet[0] = 0x47;
    packet[1] = uint8_t((unitStart ? 0x40 : 0) | ((pid >> 8) & 0x1F));
    packet[2] = uint8_t(pid);
    size_t position = 4;
    const size_t room = 184;
    const bool hasPayload = !payload.empty();
    // The adaptation field stuffs what the payload leaves free.
    size_t adaptationSize = 0;
    if (!adaptation.empty() || payload.size() < room) {
        adaptationSize = hasPayload ? room - payload.size() : room;  // includes its length byte
    }
    uint8_t control = hasPayload ? 0x10 : 0x00;
    if (adaptationSize > 0) {
        control |= 0x20;
        packet[4] = uint8_t(adaptationSize - 1);
        if (adaptationSize > 1) {
            packet[5] = 0x00;
            std::copy(adaptation.begin(), adaptation.end(), packet.begin() + 5);
        }
        position = 4 + adaptationSize;
    }
    packet[3] = uint8_t(control | (counter & 0x0F));
    std::copy(payload.begin(), payload.end(), packet.begin() + long(position));
    return packet;
}

// A packet of the PCR PID carrying only a PCR (27 MHz value).
inline Bytes PcrPacket(uint16_t pid, uint64_t pcr, uint8_t counter = 0,
                       bool discontinuity = false) {
    const uint64_t base = pcr / 300;
    const uint64_t extension = pcr % 300;
    Bytes field = {uint8_t(0x10 | (discontinuity ? 0x80 : 0)),
                   uint8_t(base >> 25),
                   uint8_t(base >> 17),
                   uint8_t(base >> 9),
                   uint8_t(base >> 1),
                   uint8_t(((base & 1) << 7) | 0x7E | ((extension >> 8) & 1)),
                   uint8_t(extension)};
    return TsPacket(pid, false, counter, {}, field);
}

// A PES packet with a PTS (and `headerLength` header data bytes, at least 5). A length of 0
// is written for video.
inline Bytes PesPacket(uint8_t streamId, uint64_t pts, const Bytes& payload,
                       uint8_t headerLength = 5) {
    Bytes pes = {0x00, 0x00, 0x01, streamId, 0, 0, 0x80, 0x80, headerLength};
    pes.push_back(uint8_t(0x21 | ((pts >> 29) & 0x0E)));
    pes.push_back(uint8_t(pts >> 22));
    pes.push_back(uint8_t(((pts >> 14) & 0xFE) | 1));
    pes.push_back(uint8_t(pts >> 7));
    pes.push_back(uint8_t(((pts << 1) & 0xFE) | 1));
    pes.insert(pes.end(), size_t(headerLength - 5), 0xFF);
    pes.insert(pes.end(), payload.begin(), payload.end());
    if (streamId != 0xE0) {
        const size_t length = pes.size() - 6;
        pes[4] = uint8_t(length >> 8);
        pes[5] = uint8_t(length);
    }
    return pes;
}

// The packets of a PES on `pid`, the counter continuing from `counter`.
inline Bytes Packetize(uint16_t pid, const Bytes& pes, uint8_t& counter) {
    Bytes out;
    for (size_t offset = 0; offset < pes.size(); offset += 184) {
        const size_t n = std::min<size_t>(184, pes.size() - offset);
        Bytes payload(pes.begin() + long(offset), pes.begin() + long(offset + n));
        Bytes packet = TsPacket(pid, offset == 0, counter, payload);
        counter = uint8_t((counter + 1) & 0x0F);
        out.insert(out.end(), packet.begin(), packet.end());
    }
    return out;
}

inline Bytes Filler(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = uint8_t(seed + i * 7);
    }
    return bytes;
}

inline void Append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

// --- reading a stream back

// The PES packets of a PID in stream order (each from its unit start up to the next), with
// the packet index of its unit start.
struct Pes {
    size_t firstPacket;
    Bytes data;
};

inline std::vector<Pes> SplitPes(const Bytes& stream, uint16_t pid) {
    std::vector<Pes> out;
    for (size_t offset = 0; offset + kPacketSize <= stream.size(); offset += kPacketSize) {
        const uint8_t* packet = stream.data() + offset;
        if (packet[0] != 0x47 || (packet[1] & 0x80) != 0 ||
            ((packet[1] & 0x1F) << 8 | packet[2]) != pid || (packet[3] & 0x10) == 0) {
            continue;
        }
        size_t start = 4;
        if ((packet[3] & 0x20) != 0) {
            start = 5 + packet[4];
            if (start >= kPacketSize) {
                continue;
            }
        }
        if ((packet[1] & 0x40) != 0) {
            out.push_back({offset / kPacketSize, {}});
        }
        if (!out.empty()) {
            out.back().data.insert(out.back().data.end(), packet + start, packet + kPacketSize);
        }
    }
    return out;
}

// The index of the first packet of `pid` that carries a PCR, and that PCR.
inline bool FirstPcr(const Bytes& stream, uint16_t pid, size_t* index, uint64_t* pcr) {
    for (size_t offset = 0; offset + kPacketSize <= stream.size(); offset += kPacketSize) {
        const uint8_t* p = stream.data() + offset;
        if (((p[1] & 0x1F) << 8 | p[2]) == pid && (p[3] & 0x20) != 0 && p[4] >= 7 &&
            (p[5] & 0x10) != 0) {
            const uint64_t base = (uint64_t(p[6]) << 25) | (uint64_t(p[7]) << 17) |
                                  (uint64_t(p[8]) << 9) | (uint64_t(p[9]) << 1) | (p[10] >> 7);
            *pcr = base * 300 + ((uint64_t(p[10] & 1) << 8) | p[11]);
            *index = offset / kPacketSize;
            return true;
        }
    }
    return false;
}

inline int64_t PtsOf(const Bytes& pes) {
    return (int64_t(pes[9] & 0x0E) << 29) | (int64_t(pes[10]) << 22) |
           (int64_t(pes[11] & 0xFE) << 14) | (int64_t(pes[12]) << 7) | (pes[13] >> 1);
}

// --- the graph

// The analyzer (from the module, or a given instance) between the source and four sinks, on
// "TS", "Video", "Audio" and "Caption", in a graph with the system reference clock.
class AnalyzerGraph {
public:
    static constexpr const char16_t* kOutputs[4] = {u"TS", u"Video", u"Audio", u"Caption"};
    enum Sink { kTS, kVideo, kAudio, kCaption };

    // Without `instance` the filter is created by class identifier through the registry.
    void Build(IBaseFilter* instance = nullptr) {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.GetVoidAddressOf()),
                  S_OK);
        ASSERT_EQ(graph.As(&control), S_OK);
        ASSERT_EQ(graph.As(&events), S_OK);
        ASSERT_EQ(graph.As(&mediaFilter), S_OK);
        if (instance != nullptr) {
            filter = ComPtr<IBaseFilter>(instance);
        } else {
            ASSERT_TRUE(TabrixModule::Get().IsLoaded());
            ASSERT_EQ(CoCreateInstance(CLSID_QVSIAnalyzer, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IBaseFilter, filter.GetVoidAddressOf()),
                      S_OK);
        }
        ASSERT_EQ(filter.As(&analyzer), S_OK);
        source = new StreamSource();
        sourceFilter = ComPtr<IBaseFilter>(source);
        ASSERT_EQ(graph->AddFilter(sourceFilter.Get(), u"Source"), S_OK);
        ASSERT_EQ(graph->AddFilter(filter.Get(), u"QV SI Analyzer"), S_OK);
        ComPtr<IPin> input;
        ASSERT_EQ(filter->FindPin(u"Input", input.GetAddressOf()), S_OK);
        CMediaType type = TransportStreamType();
        ASSERT_EQ(graph->ConnectDirect(source->pin, input.Get(), &type), S_OK);
        for (int i = 0; i < 4; ++i) {
            sinks[i] = new CaptureSink();
            sinkFilters[i] = ComPtr<IBaseFilter>(sinks[i]);
            ASSERT_EQ(graph->AddFilter(sinkFilters[i].Get(), kOutputs[i]), S_OK);
            ComPtr<IPin> output;
            ASSERT_EQ(filter->FindPin(kOutputs[i], output.GetAddressOf()), S_OK);
            ASSERT_EQ(graph->ConnectDirect(output.Get(), sinks[i]->pin, nullptr), S_OK);
        }
    }

    // Pauses (which chooses the clock), then runs with a start time 10 ms from now.
    void Run() {
        ASSERT_TRUE(SUCCEEDED(control->Pause()));
        mediaFilter->GetSyncSource(clock.GetAddressOf());
        REFERENCE_TIME now = 0;
        if (clock) {
            clock->GetTime(&now);
        }
        startTime = now + 10 * kUnitsPerMillisecond;
        ASSERT_TRUE(SUCCEEDED(mediaFilter->Run(startTime)));
    }

    REFERENCE_TIME ClockNow() {
        REFERENCE_TIME now = 0;
        if (clock) {
            clock->GetTime(&now);
        }
        return now;
    }

    // Ends the stream and waits until every sink has seen the end.
    bool Finish() {
        if (FAILED(source->PushEndOfStream())) {
            return false;
        }
        for (CaptureSink* sink : sinks) {
            if (!sink->WaitForCall("EndOfStream")) {
                return false;
            }
        }
        return true;
    }

    // The analyzer's graph events (codes 0x9000 and above) queued so far.
    struct Event {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };
    std::vector<Event> TakeEvents() {
        std::vector<Event> taken;
        LONG code = 0;
        LONG_PTR param1 = 0;
        LONG_PTR param2 = 0;
        while (events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
            if (code >= 0x9000) {
                taken.push_back({code, param1, param2});
            }
            events->FreeEventParams(code, param1, param2);
        }
        return taken;
    }

    void Teardown() {
        if (control) {
            control->Stop();
        }
        for (CaptureSink* sink : sinks) {
            if (sink != nullptr) {
                sink->ReleaseKept();
            }
        }
        analyzer.Reset();
        clock.Reset();
        mediaFilter.Reset();
        events.Reset();
        control.Reset();
        graph.Reset();
        filter.Reset();
        sourceFilter.Reset();
        for (int i = 0; i < 4; ++i) {
            sinkFilters[i].Reset();
            sinks[i] = nullptr;
        }
        source = nullptr;
    }

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    ComPtr<IMediaFilter> mediaFilter;
    ComPtr<IReferenceClock> clock;
    ComPtr<IBaseFilter> filter;
    ComPtr<IQVSIAnalyzer> analyzer;
    StreamSource* source = nullptr;
    ComPtr<IBaseFilter> sourceFilter;
    CaptureSink* sinks[4] = {};
    ComPtr<IBaseFilter> sinkFilters[4];
    REFERENCE_TIME startTime = 0;
};

}  // namespace tabrixtest
