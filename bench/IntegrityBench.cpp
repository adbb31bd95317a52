// Speed of the integrity check on a file of about 300 MB (the simulator's BS transponder at
// a multiplex rate with few null packets, written once into the build tree), against reading
// the same file with read() in 1 MiB blocks as a plain copy would. Both run from the page
// cache after a first read, so the difference is the cost of the check itself; the aim is the
// check within 3x of plain reading.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
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

// MB/s of each run, measured by the wall clock, printed together at the end.
double plainMegabytesPerSecond = 0;
double checkMegabytesPerSecond = 0;

double Elapsed(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

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
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        bytes += ReadPlainly(path);
        seconds += Elapsed(start);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    plainMegabytesPerSecond = static_cast<double>(bytes) / 1e6 / seconds;
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
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        integrity::IntegrityReport report;
        if (!integrity::CheckTsFile(path, report, nullptr)) {
            state.SkipWithError("cannot read the stream file");
            return;
        }
        seconds += Elapsed(start);
        bytes += report.bytes;
        drops += report.drops;
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["drops"] = static_cast<double>(drops);
    checkMegabytesPerSecond = static_cast<double>(bytes) / 1e6 / seconds;
}
BENCHMARK(CheckFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (plainMegabytesPerSecond > 0 && checkMegabytesPerSecond > 0) {
        std::printf("plain read() in 1 MiB blocks: %.0f MB/s\n", plainMegabytesPerSecond);
        std::printf("integrity check of the file:  %.0f MB/s (%.2fx the time of plain reading)\n",
                    checkMegabytesPerSecond, plainMegabytesPerSecond / checkMegabytesPerSecond);
    }
    return 0;
}
