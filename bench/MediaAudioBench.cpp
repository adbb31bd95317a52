// The audio branch under a real-time load, as a timed program: ten seconds of stereo 48 kHz
// AAC-LC (128 kbit/s, ADTS frames in PES-sized samples of three frames) pushed at its own pace
// through the audio decoder into the default sound renderer, on the silent sink and, when a
// sound server answers, on PulseAudio. Prints the CPU the process spends per second of sound,
// as a share of one core (the target is at most 2 %).
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DShowGuids.h"
#include "platform/media/MediaClasses.h"
#include "platform/media/audio/AudioSink.h"
#include "platform/media/audio/tests/AudioTestGraph.h"
#include "platform/media/audio/tests/AudioTestSupport.h"

namespace {

constexpr double kSeconds = 10.0;
constexpr size_t kFramesPerSample = 3;
constexpr REFERENCE_TIME kAhead = 500 * audiotest::kMs;  // as the analyzer's latency

double CpuSeconds() {
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

// Plays the stream through decoder and renderer on the sink the environment chooses; returns
// the CPU share of one core, or a negative value when the graph could not be built.
double Play(const audiotest::EncodedAac& aac, const char** sinkName) {
    ComPtr<IGraphBuilder> graph;
    if (CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                         graph.GetVoidAddressOf()) != S_OK) {
        return -1.0;
    }
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    graph.As(&control);
    graph.As(&events);
    auto* source = new audiotest::PcmSource(audiotest::AdtsType());
    ComPtr<IBaseFilter> sourceFilter(static_cast<IBaseFilter*>(source));
    ComPtr<IBaseFilter> decoder;
    ComPtr<IBaseFilter> renderer;
    CoCreateInstance(CLSID_OrvAudioDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     decoder.GetVoidAddressOf());
    CoCreateInstance(CLSID_DSoundRender, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     renderer.GetVoidAddressOf());
    if (!decoder || !renderer) {
        return -1.0;
    }
    graph->AddFilter(sourceFilter.Get(), u"Source");
    graph->AddFilter(decoder.Get(), u"Audio Decoder");
    graph->AddFilter(renderer.Get(), u"Audio Renderer");
    ComPtr<IPin> decoderIn;
    ComPtr<IPin> decoderOut;
    ComPtr<IPin> rendererIn;
    decoder->FindPin(u"In", decoderIn.GetAddressOf());
    decoder->FindPin(u"Out", decoderOut.GetAddressOf());
    renderer->FindPin(u"In", rendererIn.GetAddressOf());
    if (graph->ConnectDirect(source->pin, decoderIn.Get(), nullptr) != S_OK ||
        graph->ConnectDirect(decoderOut.Get(), rendererIn.Get(), nullptr) != S_OK) {
        return -1.0;
    }
    ComPtr<IOrvAudioOutput> output;
    renderer.As(&output);
    ComPtr<IMediaFilter> mediaFilter;
    graph.As(&mediaFilter);

    control->Run();
    output->GetSinkName(sinkName);
    ComPtr<IReferenceClock> clock;
    mediaFilter->GetSyncSource(clock.GetAddressOf());
    REFERENCE_TIME runStart = 0;
    clock->GetTime(&runStart);
    const REFERENCE_TIME streamStart = kAhead;
    // The samples are framed before the clock starts: only the branch's work is measured.
    std::vector<audiotest::Bytes> samples;
    for (size_t first = 0; first + kFramesPerSample <= aac.frames.size();
         first += kFramesPerSample) {
        audiotest::EncodedAac sample;
        sample.sampleRate = aac.sampleRate;
        sample.channelConfiguration = aac.channelConfiguration;
        sample.frames.assign(aac.frames.begin() + std::ptrdiff_t(first),
                             aac.frames.begin() + std::ptrdiff_t(first + kFramesPerSample));
        samples.push_back(audiotest::Adts(sample));
    }
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    const REFERENCE_TIME sampleTime = kFramesPerSample * 1024 * kUnitsPerSecond / 48000;
    for (size_t i = 0; i < samples.size(); ++i) {
        const REFERENCE_TIME start = streamStart + REFERENCE_TIME(i) * sampleTime;
        // Delivered as live: each sample about kAhead before its time.
        for (;;) {
            REFERENCE_TIME now = 0;
            clock->GetTime(&now);
            if (start - (now - runStart) <= kAhead) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        source->PushBytes(samples[i].data(), samples[i].size(), &start, start + sampleTime);
    }
    source->PushEndOfStream();
    bool complete = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!complete && std::chrono::steady_clock::now() < deadline) {
        LONG code = 0;
        LONG_PTR param1 = 0;
        LONG_PTR param2 = 0;
        if (events->GetEvent(&code, &param1, &param2, 50) == S_OK) {
            events->FreeEventParams(code, param1, param2);
            complete = code == EC_COMPLETE;
        }
    }
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    control->Stop();
    OrvAudioOutputStatistics statistics;
    output->GetStatistics(&statistics);
    std::printf("  %.1f s of sound in %.1f s, %llu frames played, %llu dropped%s\n",
                double(statistics.framesPlayed) / 48000.0, wall,
                static_cast<unsigned long long>(statistics.framesPlayed),
                static_cast<unsigned long long>(statistics.framesDropped),
                complete ? "" : " (no end of stream seen)");
    return cpu / wall;
}

}  // namespace

int main() {
    const audiotest::EncodedAac aac =
        audiotest::EncodeTones({{937.5, 0.25}, {1875.0, 0.25}}, 48000, kSeconds);
    if (aac.frames.empty()) {
        std::printf("media audio: no AAC encoder\n");
        return 1;
    }
    ::setenv(orvaudio::kSinkVariable, "silent", 1);
    const char* sink = "";
    const double silent = Play(aac, &sink);
    std::printf("media audio (decoder + renderer, %s sink): %.2f %% of one core\n", sink,
                silent * 100.0);
    if (auto pulse = orvaudio::OpenPulseSink()) {
        pulse.reset();
        ::unsetenv(orvaudio::kSinkVariable);
        const double played = Play(aac, &sink);
        std::printf("media audio (decoder + renderer, %s sink): %.2f %% of one core\n", sink,
                    played * 100.0);
    } else {
        std::printf("media audio: no sound server reachable, PulseAudio not measured\n");
    }
    return silent < 0 ? 1 : 0;
}
