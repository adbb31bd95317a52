// The caption renderer on a real broadcast's captions: pages decoded and drawn per second
// (target: at least 2,000, half a millisecond a page), and the cost of presenting a page to the
// video renderer's alpha bitmap.
//
// The stream is a caption elementary stream of the shared test data (ORV_SHARED_DIR, or
// ../shared beside the source tree); without it the page benchmark reports an error and the
// presentation benchmark still runs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "caption/ICCaptionPacket.h"
#include "caption/ICQVCaptionRenderer.h"
#include "caption/tests/RecordingMixer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::filesystem::path CaptionStream() {
    const char* shared = std::getenv("ORV_SHARED_DIR");
    const std::filesystem::path root =
        shared != nullptr ? std::filesystem::path(shared)
                          : std::filesystem::path(ORV_SOURCE_DIR) / ".." / "shared";
    return root / "testdata" / "captions" / "detective_conan_846.es";
}

// The data groups of a caption elementary stream (PES data packets without PES header).
std::vector<Bytes> ReadDataGroups(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes stream((std::istreambuf_iterator<char>(in)), {});
    std::vector<Bytes> groups;
    for (size_t at = 0; at + 8 <= stream.size();) {
        const size_t privateLength = stream[at + 2] & 0x0F;
        if (at + privateLength + 8 > stream.size()) {
            break;
        }
        const size_t length =
            (stream[at + privateLength + 6] << 8 | stream[at + privateLength + 7]) + privateLength +
            10;
        if (at + length > stream.size()) {
            break;
        }
        groups.emplace_back(stream.begin() + at, stream.begin() + at + length);
        at += length;
    }
    return groups;
}

// Counts the pages presented.
struct PageCounter : ICCaptionPageObserver {
    void OnCell(const Cell&) override {}
    void OnClear(REFERENCE_TIME) override {}
    void OnPresent(REFERENCE_TIME, const GdiSurface&) override { ++pages; }
    int64_t pages = 0;
};

void BM_CaptionPages(benchmark::State& state) {
    const std::vector<Bytes> groups = ReadDataGroups(CaptionStream());
    if (groups.empty()) {
        state.SkipWithError("the shared caption stream is not here");
        return;
    }
    std::vector<ICCaptionPacket*> packets;
    for (const Bytes& group : groups) {
        auto* packet = new ICCaptionPacket(nullptr, static_cast<LONG>(group.size()), 0);
        packet->AddRef();
        packet->Write(group.data(), static_cast<LONG>(group.size()));
        packets.push_back(packet);
    }
    ICQVCaptionRenderer renderer;
    renderer.CreateSurfaces();
    renderer.SetRealTimeWaits(false);
    PageCounter counter;
    renderer.SetPageObserver(&counter);
    for (auto _ : state) {
        for (ICCaptionPacket* packet : packets) {
            renderer.ProcessDataGroup(packet);
        }
    }
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(counter.pages), benchmark::Counter::kIsRate);
    state.counters["groups"] = static_cast<double>(packets.size());
    for (ICCaptionPacket* packet : packets) {
        packet->Release();
    }
}
BENCHMARK(BM_CaptionPages)->Unit(benchmark::kMillisecond);

// Presenting a page: the swap, the clearing of what was drawn on the surface that becomes the
// drawing surface, and (mixer 1) the alpha bitmap handed over and copied whole by the mixer.
void BM_Present(benchmark::State& state) {
    auto* mixer = new captiontest::RecordingMixer();
    mixer->NonDelegatingAddRef();
    ICQVCaptionRenderer renderer;
    renderer.SetVideoRenderer(static_cast<IVMRMixerBitmap9*>(mixer));
    const bool copyToMixer = state.range(0) != 0;
    if (!copyToMixer) {
        renderer.SetVideoRenderer(nullptr);
    }
    for (auto _ : state) {
        // The worst case: the whole page was drawn on and must be cleared after the swap.
        state.PauseTiming();
        renderer.FillDisplayArea({255, 255, 255, 128});
        state.ResumeTiming();
        renderer.Present();
    }
    renderer.SetVideoRenderer(nullptr);
    mixer->NonDelegatingRelease();
}
BENCHMARK(BM_Present)->Arg(0)->Arg(1)->ArgName("mixer")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
