// Generation speed of the broadcast simulator: 60 seconds of each of the three terrestrial
// channels, as a test or the demo tuner would make them. The first run includes encoding the
// video and audio loops; later runs take them from the cache.

#include <benchmark/benchmark.h>

#include <vector>

#include "tools/isdbsim/TsStream.h"

namespace {

void GenerateTerrestrialMinute(benchmark::State& state) {
    using namespace isdbsim;
    const JstTime start = *ParseJstTime("2026-04-01 12:00:00");
    std::vector<uint8_t> buffer(1024 * kTsPacketSize);
    uint64_t bytes = 0;
    for (auto _ : state) {
        for (int channel = 0; channel < 3; ++channel) {
            TsStream stream(*FindChannel(0, channel), start, 1);
            if (!stream.Open(nullptr)) {
                state.SkipWithError("the encoders are unavailable");
                return;
            }
            const uint64_t total = static_cast<uint64_t>(60.0 * stream.PacketRate());
            for (uint64_t done = 0; done < total; done += 1024) {
                const size_t count = static_cast<size_t>(std::min<uint64_t>(1024, total - done));
                stream.Generate(buffer.data(), count);
                benchmark::DoNotOptimize(buffer.data());
            }
            bytes += total * kTsPacketSize;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(GenerateTerrestrialMinute)->Unit(benchmark::kSecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
