// Speed of the SI analysis core on a 60-second BS-like stream at about 52 Mbit/s with full SI:
// (1) the streaming side (packet scan, routing, section assembly) in MB/s on one core;
// (2) dispatching and parsing EIT schedule sections, in sections per second;
// (3) the whole file end to end (reading, analysis, JSON dump) against the aribts library,
//     as a ratio of the elapsed times.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sianalyzer/ICSIAnalyzerCore.h"
#include "tools/isdbsim/SiTables.h"
#include "tools/isdbsim/TsStream.h"
#include "tools/sidump/SiDump.h"

namespace {

using namespace isdbsim;

constexpr size_t kSamplePackets = 1024;  // packets per input sample, as a source delivers them

// The stream: the simulator's BS transponder with its two HD services at a higher bit rate,
// so that the multiplex runs at 52 Mbit/s.
const std::vector<uint8_t>& Stream() {
    static const std::vector<uint8_t> bytes = [] {
        TransportStreamInfo ts = *FindChannel(1, 0);
        ts.muxRate = 52'000'000;
        for (ServiceInfo& service : ts.services) {
            if (service.kind == ServiceKind::Television) {
                service.video.bitRate = 21'000'000;
            }
        }
        std::vector<uint8_t> out;
        TsStream stream(ts, *ParseJstTime("2026-04-01 12:00:00"), 1);
        std::string error;
        if (!stream.Open(&error)) {
            std::fprintf(stderr, "cannot make the stream: %s\n", error.c_str());
            return out;
        }
        const uint64_t total = static_cast<uint64_t>(60.0 * stream.PacketRate());
        out.resize(total * kTsPacketSize);
        for (uint64_t done = 0; done < total; done += kSamplePackets) {
            const size_t count =
                static_cast<size_t>(std::min<uint64_t>(kSamplePackets, total - done));
            stream.Generate(out.data() + done * kTsPacketSize, count);
        }
        return out;
    }();
    return bytes;
}

const std::string& StreamFile() {
    static const std::string path = [] {
        const std::string file =
            (std::filesystem::temp_directory_path() / "orv-sianalyzer-bench.ts").string();
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(Stream().data()),
                  static_cast<std::streamsize>(Stream().size()));
        return file;
    }();
    return path;
}

class QuietAnalyzer : public ICSIAnalyzerCore {
public:
    QuietAnalyzer() { SetRunning(true); }
};

void StreamingSide(benchmark::State& state) {
    const std::vector<uint8_t>& stream = Stream();
    if (stream.empty()) {
        state.SkipWithError("no stream");
        return;
    }
    QuietAnalyzer analyzer;
    size_t sections = 0;
    for (auto _ : state) {
        for (size_t offset = 0; offset < stream.size(); offset += kSamplePackets * 188) {
            const size_t n = std::min(kSamplePackets * 188, stream.size() - offset);
            analyzer.ProcessInput(stream.data() + offset, n);
            sections += static_cast<size_t>(analyzer.GetCompletedCount());
            analyzer.ReleaseCompletedSections();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["sections"] =
        benchmark::Counter(static_cast<double>(sections), benchmark::Counter::kAvgIterations);
    state.counters["Mbit/s of stream"] = static_cast<double>(stream.size()) * 8 / 60.0 / 1e6;
}
BENCHMARK(StreamingSide)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The EIT schedule sections of the stream, each version once, in arrival order.
std::vector<std::unique_ptr<ICSISection>> ScheduleSections() {
    std::vector<std::unique_ptr<ICSISection>> sections;
    // The simulator's builder gives the sections the stream carries: basic and extended
    // tables of each service, for a week of days (each day's tables are a new version).
    TransportStreamInfo ts = *FindChannel(1, 0);
    const JstTime first = *ParseJstTime("2026-04-01 12:00:00");
    for (int day = 0; day < 7; ++day) {
        for (const ServiceInfo& service : ts.services) {
            if (!service.hasEit) {
                continue;
            }
            for (bool extended : {false, true}) {
                for (const Bytes& bytes :
                     BuildEitSchedule(ts, service, 1, first + day * kSecondsPerDay, extended)) {
                    auto section = std::make_unique<ICSISection>();
                    section->pid = 0x12;
                    section->Write(bytes.data(), static_cast<LONG>(bytes.size()));
                    sections.push_back(std::move(section));
                }
            }
        }
    }
    return sections;
}

void DispatchEitSchedule(benchmark::State& state) {
    const auto sections = ScheduleSections();
    size_t events = 0;
    for (auto _ : state) {
        QuietAnalyzer analyzer;
        for (const auto& section : sections) {
            analyzer.DispatchSection(section.get());
        }
        state.PauseTiming();
        ICSIList* store = analyzer.GetSIList();
        for (int32_t i = 0; i < store->GetEITCount(); ++i) {
            const ICSIEIT* eit = store->GetEIT(i);
            for (int32_t t = 0; t < eit->GetTableCount(); ++t) {
                for (int32_t s = 0; s < eit->GetTable(t)->GetSegmentCount(); ++s) {
                    events += static_cast<size_t>(eit->GetTable(t)->GetSegment(s)->GetEventCount());
                }
            }
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * sections.size()));
    state.counters["sections/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * sections.size()), benchmark::Counter::kIsRate);
    state.counters["events"] =
        benchmark::Counter(static_cast<double>(events), benchmark::Counter::kAvgIterations);
    state.counters["sections"] = static_cast<double>(sections.size());
}
BENCHMARK(DispatchEitSchedule)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Repetitions (the steady state of a receiver): every section of one day's tables is already
// held.
void DispatchEitRepetitions(benchmark::State& state) {
    auto sections = ScheduleSections();
    sections.resize(sections.size() / 7);
    QuietAnalyzer analyzer;
    for (const auto& section : sections) {
        analyzer.DispatchSection(section.get());
    }
    for (auto _ : state) {
        for (const auto& section : sections) {
            analyzer.DispatchSection(section.get());
        }
    }
    state.counters["sections/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * sections.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(DispatchEitRepetitions)->Unit(benchmark::kMillisecond)->MinTime(1.0);

double EndToEndSeconds() {
    const auto start = std::chrono::steady_clock::now();
    sidump::DumpAnalyzer analyzer;
    sidump::StreamReader reader(analyzer);
    if (!sidump::ReadStream(StreamFile(), reader, nullptr)) {
        return 0;
    }
    const std::string json =
        sidump::ToJson(analyzer, {reader.GetBytes(), reader.GetPackets(), 0}).dump();
    benchmark::DoNotOptimize(json.data());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void EndToEndAgainstAribts(benchmark::State& state) {
    if (Stream().empty()) {
        state.SkipWithError("no stream");
        return;
    }
    StreamFile();  // written before the clock runs
    double ours = 0;
    for (auto _ : state) {
        ours += EndToEndSeconds();
    }
    ours /= static_cast<double>(state.iterations());
    state.counters["ours s"] = ours;
    state.counters["MB/s"] = static_cast<double>(Stream().size()) / ours / 1e6;
    // The simulator's oracle script, beside this file's folder in the source tree.
    const std::string oracle = (std::filesystem::path(__FILE__).parent_path().parent_path() /
                                "tools" / "isdbsim" / "oracle" / "run-oracle.sh")
                                   .string();
    if (!std::filesystem::exists(oracle)) {
        return;
    }
    const std::string output = StreamFile() + ".aribts.json";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(
        ("bash " + oracle + " " + StreamFile() + " " + output + " >/dev/null 2>&1").c_str());
    const double theirs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::remove(output.c_str());
    if (status != 0) {
        state.counters["aribts"] = -1;  // the oracle is unavailable
        return;
    }
    state.counters["aribts s"] = theirs;
    state.counters["ratio"] = theirs / ours;
}
BENCHMARK(EndToEndAgainstAribts)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
