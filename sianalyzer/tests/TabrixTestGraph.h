#pragma once

// The analyzer in a real graph for the tests: the module file registered into a temporary
// registry, the shared push source and recording sinks around it (one on each output pin), and
// builders of the TS packets and PES packets the hand-made cases need.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/ModuleExports.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/dshow/DShowGuids.h"
#include "sianalyzer/IQVSIAnalyzer.h"
#include "streamfw/ICModuleTables.h"
#include "streamfw/tests/StreamTestFilters.h"
#include "tools/streamkit/TsPacketizer.h"

namespace tabrixtest {

using streamtest::Bytes;
using streamtest::Hold;
using streamtest::kSamplePackets;
using streamtest::kTsPacketSize;
using streamtest::PushSource;
using streamtest::Received;
using streamtest::RecordingSink;
using streamtest::TransportStreamType;
using streamtest::WaitUntil;

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

// Packets and PES packets are written with streamkit; these keep the tests' short forms.

// A TS packet whose adaptation field stuffs what the payload leaves (adaptation-only when the
// payload is empty).
inline Bytes TsPacket(uint16_t pid, bool unitStart, uint8_t counter, const Bytes& payload) {
    const streamkit::TsPacket packet = streamkit::StuffedPacket({pid, unitStart, counter}, payload);
    return Bytes(packet.begin(), packet.end());
}

// A packet of the PCR PID carrying only a PCR (27 MHz value).
inline Bytes PcrPacket(uint16_t pid, uint64_t pcr, uint8_t counter = 0,
                       bool discontinuity = false) {
    const streamkit::TsPacket packet = streamkit::StuffedPacket(
        {pid, false, counter}, {}, {.discontinuity = discontinuity, .pcr = pcr});
    return Bytes(packet.begin(), packet.end());
}

// A PES packet with a PTS (and `headerLength` header data bytes, at least 5). A length of 0
// is written for video.
inline Bytes PesPacket(uint8_t streamId, uint64_t pts, const Bytes& payload,
                       uint8_t headerLength = 5) {
    return streamkit::BuildPes({.streamId = streamId,
                                .pts = pts,
                                .dataAlignment = false,
                                .unboundedLength = streamId == 0xE0,
                                .stuffingBytes = static_cast<uint8_t>(headerLength - 5)},
                               payload);
}

// The packets of a PES on `pid`, the counter continuing from `counter`.
inline Bytes Packetize(uint16_t pid, const Bytes& pes, uint8_t& counter) {
    streamkit::TsPacketizer packetizer(pid, counter);
    std::vector<streamkit::TsPacket> packets;
    packetizer.Pes(pes, packets);
    counter = packetizer.Counter();
    return streamkit::Join(packets);
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
    for (size_t offset = 0; offset + kTsPacketSize <= stream.size(); offset += kTsPacketSize) {
        const uint8_t* packet = stream.data() + offset;
        if (packet[0] != 0x47 || (packet[1] & 0x80) != 0 ||
            ((packet[1] & 0x1F) << 8 | packet[2]) != pid || (packet[3] & 0x10) == 0) {
            continue;
        }
        size_t start = 4;
        if ((packet[3] & 0x20) != 0) {
            start = 5 + packet[4];
            if (start >= kTsPacketSize) {
                continue;
            }
        }
        if ((packet[1] & 0x40) != 0) {
            out.push_back({offset / kTsPacketSize, {}});
        }
        if (!out.empty()) {
            out.back().data.insert(out.back().data.end(), packet + start, packet + kTsPacketSize);
        }
    }
    return out;
}

// The index of the first packet of `pid` that carries a PCR, and that PCR.
inline bool FirstPcr(const Bytes& stream, uint16_t pid, size_t* index, uint64_t* pcr) {
    for (size_t offset = 0; offset + kTsPacketSize <= stream.size(); offset += kTsPacketSize) {
        const uint8_t* p = stream.data() + offset;
        if (((p[1] & 0x1F) << 8 | p[2]) == pid && (p[3] & 0x20) != 0 && p[4] >= 7 &&
            (p[5] & 0x10) != 0) {
            const uint64_t base = (uint64_t(p[6]) << 25) | (uint64_t(p[7]) << 17) |
                                  (uint64_t(p[8]) << 9) | (uint64_t(p[9]) << 1) | (p[10] >> 7);
            *pcr = base * 300 + ((uint64_t(p[10] & 1) << 8) | p[11]);
            *index = offset / kTsPacketSize;
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
        // Room for a full sample and for the odd bytes a damaged stream inserts into one.
        source = new PushSource(
            {.bufferCount = 8, .bufferSize = LONG(kSamplePackets * kTsPacketSize + 4096)});
        sourceFilter = Hold(source);
        ASSERT_EQ(graph->AddFilter(sourceFilter.Get(), u"Source"), S_OK);
        ASSERT_EQ(graph->AddFilter(filter.Get(), u"QV SI Analyzer"), S_OK);
        ComPtr<IPin> input;
        ASSERT_EQ(filter->FindPin(u"Input", input.GetAddressOf()), S_OK);
        CMediaType type = TransportStreamType();
        ASSERT_EQ(graph->ConnectDirect(source->pin, input.Get(), &type), S_OK);
        for (int i = 0; i < 4; ++i) {
            // Each output offers its own media type; the sinks take any.
            sinks[i] = new RecordingSink({.majorType = std::nullopt});
            sinkFilters[i] = Hold(sinks[i]);
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
        for (RecordingSink* sink : sinks) {
            if (!sink->WaitForCall(RecordingSink::kEndOfStream)) {
                return false;
            }
        }
        return true;
    }

    // The analyzer's graph events (codes from kQVEventFirst on) queued so far.
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
            if (code >= kQVEventFirst) {
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
        for (RecordingSink* sink : sinks) {
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
    PushSource* source = nullptr;
    ComPtr<IBaseFilter> sourceFilter;
    RecordingSink* sinks[4] = {};
    ComPtr<IBaseFilter> sinkFilters[4];
    REFERENCE_TIME startTime = 0;
};

}  // namespace tabrixtest
