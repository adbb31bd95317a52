// The audio decoder filter between a source of AAC samples and the sound renderer: output
// times from the samples' times, the framings and the dual-mono choice through the filter,
// discontinuities, damage and the end of the stream.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DShowGuids.h"
#include "platform/media/MediaClasses.h"
#include "platform/media/audio/AudioSink.h"
#include "platform/media/audio/CAacDecoderFilter.h"
#include "platform/media/audio/tests/AudioTestGraph.h"
#include "platform/media/audio/tests/AudioTestSupport.h"
#include "streamfw/tests/GraphTest.h"

namespace {

using audiotest::Bytes;
using audiotest::EncodedAac;
using audiotest::kMs;
using audiotest::PcmSource;
using audiotest::TapRecorder;

constexpr REFERENCE_TIME kFrameTime = 1024 * kUnitsPerSecond / 48000;

using streamtest::WaitUntil;

// Frames `first` .. `first + count - 1` of `aac` in the framing asked for.
Bytes Sample(const EncodedAac& aac, size_t first, size_t count, bool loas = false) {
    EncodedAac part = aac;
    part.frames.assign(
        aac.frames.begin() + std::ptrdiff_t(first),
        aac.frames.begin() + std::ptrdiff_t(std::min(first + count, aac.frames.size())));
    return loas ? audiotest::Loas(part) : audiotest::Adts(part);
}

class DecoderGraph : public streamtest::GraphTest {
protected:
    void SetUp() override {
        ::setenv(orvaudio::kSinkVariable, "silent", 1);
        GraphTest::SetUp();
        ASSERT_EQ(graph.As(&events), S_OK);
        source = new PcmSource(audiotest::AdtsType());
        Add(source, u"Source");
        HRESULT hr = S_OK;
        decoder = new CAacDecoderFilter(nullptr, &hr);
        Add(decoder, u"Audio Decoder");
        ASSERT_EQ(CoCreateInstance(CLSID_DSoundRender, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, renderer.GetVoidAddressOf()),
                  S_OK);
        ASSERT_EQ(graph->AddFilter(renderer.Get(), u"Audio Renderer"), S_OK);
        ComPtr<IPin> rendererIn;
        ASSERT_EQ(renderer->FindPin(u"In", rendererIn.GetAddressOf()), S_OK);
        ASSERT_EQ(graph->ConnectDirect(source->pin, decoder->GetPin(0), nullptr), S_OK);
        ASSERT_EQ(graph->ConnectDirect(decoder->GetPin(1), rendererIn.Get(), nullptr), S_OK);
        ASSERT_EQ(renderer.As(&output), S_OK);
        output->SetTap(&tap);
        ComPtr<IMediaFilter> mediaFilter;
        ASSERT_EQ(graph.As(&mediaFilter), S_OK);
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_EQ(mediaFilter->GetSyncSource(clock.GetAddressOf()), S_OK);
    }

    void TearDown() override {
        control->Stop();
        output->SetTap(nullptr);
        output.Reset();
        clock.Reset();
        events.Reset();
        renderer.Reset();
        GraphTest::TearDown();
    }

    REFERENCE_TIME StreamNow() {
        REFERENCE_TIME now = 0;
        decoder->StreamTime(now);
        return now;
    }

    // Pushes samples of three frames, timed from `start` (every one, or only the first).
    void PushTimed(const EncodedAac& aac, REFERENCE_TIME start, bool everyOneTimed = true,
                   bool loas = false) {
        for (size_t first = 0; first < aac.frames.size(); first += 3) {
            const Bytes bytes = Sample(aac, first, 3, loas);
            const REFERENCE_TIME time = start + REFERENCE_TIME(first) * kFrameTime;
            ASSERT_EQ(source->PushBytes(bytes.data(), bytes.size(),
                                        everyOneTimed || first == 0 ? &time : nullptr,
                                        time + 3 * kFrameTime),
                      S_OK);
        }
    }

    ComPtr<IMediaEventEx> events;
    ComPtr<IReferenceClock> clock;
    PcmSource* source = nullptr;
    CAacDecoderFilter* decoder = nullptr;
    ComPtr<IBaseFilter> renderer;
    ComPtr<IOrvAudioOutput> output;
    TapRecorder tap;
};

TEST_F(DecoderGraph, SoundPlaysAtTheSamplesTimesTimedOrNot) {
    const EncodedAac aac = audiotest::EncodeTones({{937.5, 0.25}, {1875.0, 0.25}}, 48000, 0.5);
    if (aac.frames.empty()) {
        GTEST_SKIP() << "no AAC encoder";
    }
    for (const bool everyOneTimed : {true, false}) {
        SCOPED_TRACE(everyOneTimed ? "every sample timed" : "only the first timed");
        tap.phase = everyOneTimed ? 0 : 1;
        const REFERENCE_TIME start = StreamNow() + 400 * kMs;
        PushTimed(aac, start, everyOneTimed);
        const size_t frames = aac.frames.size() * 1024;
        ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames(tap.phase) >= frames; }));
        for (const TapRecorder::Block& block : tap.Blocks()) {
            if (!block.silent && block.phase == tap.phase) {
                EXPECT_NEAR(double(block.time), double(start), double(kMs));
                break;
            }
        }
        EXPECT_EQ(tap.SoundFrames(tap.phase), frames);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    OrvAudioOutputStatistics statistics;
    output->GetStatistics(&statistics);
    EXPECT_EQ(statistics.framesDropped, 0u);
}

TEST_F(DecoderGraph, LatmAndDualMonoComeThroughTheFilter) {
    const EncodedAac main = audiotest::EncodeTones({{750.0, 0.25}}, 48000, 0.5);
    const EncodedAac sub = audiotest::EncodeTones({{1500.0, 0.25}}, 48000, 0.5);
    const EncodedAac stereo = audiotest::EncodeTones({{937.5, 0.25}, {1875.0, 0.25}}, 48000, 0.5);
    if (main.frames.empty()) {
        GTEST_SKIP() << "no AAC encoder";
    }
    ComPtr<IOrvDualMono> dualMono;
    ASSERT_EQ(decoder->QueryInterface(IID_IOrvDualMono, dualMono.GetVoidAddressOf()), S_OK);
    ASSERT_EQ(dualMono->SetDualMonoOutput(DualMonoOutput::kBoth), S_OK);
    PushTimed(audiotest::DualMono(main, sub), StreamNow() + 300 * kMs);
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames(0) >= 9600; }));
    EXPECT_EQ(dualMono->IsDualMono(), S_OK);
    std::vector<int16_t> sound = audiotest::FramesFrom(tap.Sound(0), 4800);
    EXPECT_NEAR(audiotest::ToneFrequency(sound, 0), 750.0, 15.0);
    EXPECT_NEAR(audiotest::ToneFrequency(sound, 1), 1500.0, 30.0);

    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames(0) >= main.frames.size() * 1024; }));
    tap.phase = 1;
    PushTimed(stereo, StreamNow() + 300 * kMs, true, true);
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames(1) >= 9600; }));
    EXPECT_EQ(dualMono->IsDualMono(), S_FALSE);
    sound = audiotest::FramesFrom(tap.Sound(1), 4800);
    EXPECT_NEAR(audiotest::ToneFrequency(sound, 1), 1875.0, 37.5);
}

TEST_F(DecoderGraph, DamageAndDiscontinuitiesNeverStopTheStream) {
    const EncodedAac aac = audiotest::EncodeTones({{937.5, 0.25}, {1875.0, 0.25}}, 48000, 0.5);
    if (aac.frames.empty()) {
        GTEST_SKIP() << "no AAC encoder";
    }
    const REFERENCE_TIME start = StreamNow() + 300 * kMs;
    for (size_t first = 0; first < aac.frames.size(); first += 3) {
        Bytes bytes = Sample(aac, first, 3);
        if (first == 6) {
            bytes.assign(bytes.size(), 0x5A);  // a sample of garbage
        } else if (first == 12) {
            bytes.resize(bytes.size() / 2);  // a sample cut short
        }
        const REFERENCE_TIME time = start + REFERENCE_TIME(first) * kFrameTime;
        ASSERT_EQ(source->PushBytes(bytes.data(), bytes.size(), &time, time + 3 * kFrameTime),
                  S_OK);
    }
    // Most of it plays; where data was lost the stream carries on at the next sample's time.
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames() >= (aac.frames.size() - 6) * 1024; }));
    ASSERT_EQ(source->PushEndOfStream(), S_OK);
    EXPECT_TRUE(audiotest::WaitForEvent(events.Get(), EC_COMPLETE, 3000));
    const std::vector<int16_t> sound = tap.Sound();
    EXPECT_NEAR(audiotest::ToneFrequency(audiotest::FramesFrom(sound, sound.size() / 2 - 4800), 0),
                937.5, 9.4);
    EXPECT_GE(decoder->DecoderStatistics().framesDecoded, aac.frames.size() - 6);
}

}  // namespace
