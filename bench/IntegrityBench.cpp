// Speed of the integrity check on a file of about 300 MB (the simulator's BS transponder at
// a multiplex rate with few null packets, written once into the build tree), against reading
// the same file with read() in 1 MiB blocks as a plain copy would. Both run from the page
// cache after a first read, so the difference is the cost of the check itself; the aim is the
// check within 3x of plain reading.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sources/integrity/TsIntegrity.h"
#include "tools/isdbsim/TsStream.h"

namespace {

constexpr int kMuxRate = 4'800'000;
constexpr double kStreamSeconds = 500.0;  // 300 MB
constexpr size_t kBlock = 1 << 20;

// The stream file, written block by block on the first call; empty when the simulator cannot
// encode its media.
const std::string& StreamFile() {
    static const std::string path = []() -> std::string {
        using namespace isdbsim;
        const std::filesystem::path folder(ORV_BENCH_TEMP_DIR);
        std::filesystem::create_directories(folder);
        const std::string file = (folder / "integrity-bench.ts").string();
        // A multiplex rate just above what the services send, so that null packets are few
        // and most packets go through the continuity check.
        TransportStreamInfo ts = *FindChannel(1, 0);
        ts.muxRate = kMuxRate;
        TsStream stream(ts, *ParseJstTime("2026-04-01 12:00:00"), 1);
        if (!stream.Open(nullptr)) {
            return {};
        }
        const auto total = static_cast<uint64_t>(kStreamSeconds * stream.PacketRate());
        std::error_code error;
        if (std::filesystem::file_size(file, error) == total * kTsPacketSize) {
            return file;  // written by an earlier run
        }
        FILE* out = std::fopen(file.c_str(), "wb");
        if (out == nullptr) {
            return {};
        }
        std::vector<uint8_t> block(4096 * kTsPacketSize);
        for (uint64_t done = 0; done < total; done += 4096) {
            const auto count = static_cast<size_t>(std::min<uint64_t>(4096, total - done));
            stream.Generate(block.data(), count);
            std::fwrite(block.data(), kTsPacketSize, count, out);
        }
        return std::fclose(out) == 0 ? file : std::string();
    }();
    return path;
}

uint64_t ReadPlainly(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    std::vector<uint8_t> block(kBlock);
    uint64_t bytes = 0;
    ssize_t count;
    while ((count = read(fd, block.data(), block.size())) > 0) {
        benchmark::DoNotOptimize(block.data());
        bytes += static_cast<uint64_t>(count);
    }
    close(fd);
    return bytes;
}

void PlainRead(benchmark::State& state) {
    const std::string& path = StreamFile();
    if (path.empty()) {
        state.SkipWithError("no stream file");
        return;
    }
    ReadPlainly(path);  // into the page cache
    uint64_t bytes = 0;
    for (auto _ : state) {
        bytes += ReadPlainly(path);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void CheckFile(benchmark::State& state) {
    const std::string& path = StreamFile();
    if (path.empty()) {
        state.SkipWithError("no stream file");
        return;
    }
    uint64_t bytes = 0;
    uint64_t drops = 0;
    for (auto _ : state) {
        integrity::IntegrityReport report;
        if (!integrity::CheckTsFile(path, report, nullptr)) {
            state.SkipWithError("cannot read the stream file");
            return;
        }
        bytes += report.bytes;
        drops += report.drops;
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
    state.counters["drops"] = static_cast<double>(drops);
}
BENCHMARK(CheckFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
