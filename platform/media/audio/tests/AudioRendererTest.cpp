// The sound renderer: playing at the samples' times, volume, end of stream and flushing, its
// reference clock, and the sinks under it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/CAMEvent.h"
#include "platform/dshow/CSystemClock.h"
#include "platform/dshow/DShowGuids.h"
#include "platform/media/audio/AudioClock.h"
#include "platform/media/audio/AudioSink.h"
#include "platform/media/audio/CAudioRenderer.h"
#include "platform/media/audio/tests/AudioTestGraph.h"
#include "platform/media/audio/tests/AudioTestSupport.h"
#include "streamfw/tests/GraphTest.h"

namespace {

using audiotest::kMs;
using audiotest::PcmSource;
using audiotest::TapRecorder;
using audiotest::ToneSamples;

using streamtest::WaitUntil;

// Audio must reach the renderer before the sink's buffer ahead of playing reaches its time.
constexpr REFERENCE_TIME kAhead = orvaudio::kSinkBufferTime + 100 * kMs;

// A PCM source feeding the renderer (on the silent sink) in a graph whose clock is the
// renderer's.
class RendererGraph : public streamtest::GraphTest {
protected:
    void SetUp() override {
        ::setenv(orvaudio::kSinkVariable, "silent", 1);
        GraphTest::SetUp();
        ASSERT_EQ(graph.As(&events), S_OK);
        source = new PcmSource();
        Add(source, u"PCM");
        HRESULT hr = S_OK;
        renderer = new CAudioRenderer(nullptr, &hr);
        ASSERT_EQ(hr, S_OK);
        Add(renderer, u"Audio Renderer");
        ASSERT_EQ(graph->ConnectDirect(source->pin, renderer->GetPin(0), nullptr), S_OK);
        renderer->SetTap(&tap);
    }

    void TearDown() override {
        control->Stop();
        renderer->SetTap(nullptr);
        events.Reset();
        GraphTest::TearDown();
    }

    REFERENCE_TIME StreamNow() {
        REFERENCE_TIME now = 0;
        renderer->StreamTime(now);
        return now;
    }

    // Pushes `frames` of a tone starting `ahead` from now; returns its start.
    REFERENCE_TIME PushAhead(REFERENCE_TIME ahead, size_t frames, double frequency = 1000.0,
                             double amplitude = 0.5) {
        const REFERENCE_TIME start = StreamNow() + ahead;
        EXPECT_EQ(source->Push(ToneSamples(frequency, amplitude, frames), &start), S_OK);
        return start;
    }

    // The time of the first block with sound at or after `from`.
    REFERENCE_TIME FirstSoundAfter(REFERENCE_TIME from) {
        for (const TapRecorder::Block& block : tap.Blocks()) {
            if (!block.silent && block.time >= from) {
                return block.time;
            }
        }
        return -1;
    }

    OrvAudioOutputStatistics Statistics() {
        OrvAudioOutputStatistics statistics;
        renderer->GetStatistics(&statistics);
        return statistics;
    }

    ComPtr<IMediaEventEx> events;
    PcmSource* source = nullptr;
    CAudioRenderer* renderer = nullptr;
    TapRecorder tap;
};

TEST_F(RendererGraph, EarlyAudioWaitsInSilenceAndPlaysAtItsTime) {
    ASSERT_EQ(control->Run(), S_OK);
    const REFERENCE_TIME first = PushAhead(400 * kMs, 4800);
    // A gap of 100 ms, then more.
    const REFERENCE_TIME second = first + 200 * kMs;
    ASSERT_EQ(source->Push(ToneSamples(1000.0, 0.5, 4800), &second), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames() >= 9600; }));
    const std::vector<TapRecorder::Block> blocks = tap.Blocks();
    ASSERT_FALSE(blocks.empty());
    EXPECT_TRUE(blocks.front().silent);
    EXPECT_NEAR(double(FirstSoundAfter(0)), double(first), double(CAudioRenderer::kTolerance));
    EXPECT_NEAR(double(FirstSoundAfter(first + 100 * kMs)), double(second),
                double(CAudioRenderer::kTolerance));
    // Between the two: silence of the gap's length.
    int64_t gapFrames = 0;
    for (const TapRecorder::Block& block : blocks) {
        if (block.silent && block.time > first && block.time < second) {
            gapFrames += block.frames;
        }
    }
    EXPECT_NEAR(double(gapFrames), 4800.0, 48000.0 * 0.03);
    EXPECT_EQ(Statistics().framesDropped, 0u);
    EXPECT_EQ(Statistics().framesPlayed, 9600u);
}

TEST_F(RendererGraph, LateAudioIsDroppedAndTheStreamGoesOn) {
    ASSERT_EQ(control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const REFERENCE_TIME past = 0;
    ASSERT_EQ(source->Push(ToneSamples(1000.0, 0.5, 4800), &past), S_OK);
    PushAhead(kAhead, 4800);
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames() >= 4800; }));
    EXPECT_EQ(Statistics().framesDropped, 4800u);
    EXPECT_EQ(tap.SoundFrames(), 4800u);
}

TEST_F(RendererGraph, UntimedAudioPlaysInTurn) {
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_EQ(source->Push(ToneSamples(500.0, 0.5, 2400), nullptr), S_OK);
    ASSERT_EQ(source->Push(ToneSamples(500.0, 0.5, 2400), nullptr), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames() >= 4800; }));
    EXPECT_NEAR(audiotest::ToneFrequency(tap.Sound(), 0), 500.0, 5.0);
}

TEST_F(RendererGraph, VolumeIsHundredthsOfADecibelAndTheBottomIsSilence) {
    EXPECT_EQ(renderer->put_Volume(1), E_INVALIDARG);
    EXPECT_EQ(renderer->put_Volume(-10001), E_INVALIDARG);
    ComPtr<IBasicAudio> audio;
    ASSERT_EQ(graph.As(&audio), S_OK);  // the graph passes it on to the renderer
    ASSERT_EQ(control->Run(), S_OK);
    const LONG volumes[] = {0, -2000, -600, -10000};
    for (int phase = 0; phase < 4; ++phase) {
        SCOPED_TRACE(volumes[phase]);
        ASSERT_EQ(audio->put_Volume(volumes[phase]), S_OK);
        LONG volume = 1;
        ASSERT_EQ(audio->get_Volume(&volume), S_OK);
        EXPECT_EQ(volume, volumes[phase]);
        tap.phase = phase;
        const REFERENCE_TIME start = PushAhead(kAhead, 9600);
        ASSERT_TRUE(WaitUntil([&] {
            const auto blocks = tap.Blocks();
            return !blocks.empty() && blocks.back().time > start + 220 * kMs;
        }));
    }
    const double reference = audiotest::LevelDb(tap.Sound(0), 0);
    EXPECT_NEAR(reference, 20.0 * std::log10(0.5 / std::sqrt(2.0)), 0.5);
    EXPECT_NEAR(audiotest::LevelDb(tap.Sound(1), 0) - reference, -20.0, 1.0);
    EXPECT_NEAR(audiotest::LevelDb(tap.Sound(2), 1) - reference, -6.0, 1.0);
    EXPECT_EQ(tap.SoundFrames(3), 0u);
    EXPECT_EQ(Statistics().framesPlayed, 4u * 9600);
}

TEST_F(RendererGraph, BalanceLowersTheOtherSide) {
    EXPECT_EQ(renderer->put_Balance(10001), E_INVALIDARG);
    ASSERT_EQ(renderer->put_Balance(2000), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    PushAhead(kAhead, 4800);
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames() >= 4800; }));
    const std::vector<int16_t> sound = tap.Sound();
    EXPECT_NEAR(audiotest::LevelDb(sound, 0) - audiotest::LevelDb(sound, 1), -20.0, 1.0);
}

TEST_F(RendererGraph, EndOfStreamCompletesOnceTheQueuedAudioHasPlayed) {
    ASSERT_EQ(control->Run(), S_OK);
    const REFERENCE_TIME start = PushAhead(kAhead, 14400);
    ASSERT_EQ(source->PushEndOfStream(), S_OK);
    ASSERT_TRUE(audiotest::WaitForEvent(events.Get(), EC_COMPLETE, 5000));
    // Not before the last frame was due.
    EXPECT_GE(StreamNow(), start + 300 * kMs - CAudioRenderer::kTolerance);
    EXPECT_EQ(tap.SoundFrames(), 14400u);
}

TEST_F(RendererGraph, EndOfStreamWhilePausedCompletesAfterRun) {
    ASSERT_EQ(control->Pause(), S_OK);
    ASSERT_EQ(source->PushEndOfStream(), S_OK);
    EXPECT_FALSE(audiotest::WaitForEvent(events.Get(), EC_COMPLETE, 200));
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_TRUE(audiotest::WaitForEvent(events.Get(), EC_COMPLETE, 2000));
}

TEST_F(RendererGraph, FlushAndStopEmptyWhatIsQueued) {
    ASSERT_EQ(control->Run(), S_OK);
    PushAhead(500 * kMs, 48000, 1000.0);
    ASSERT_EQ(source->PushBeginFlush(), S_OK);
    ASSERT_EQ(source->PushEndFlush(), S_OK);
    PushAhead(kAhead, 4800, 3000.0);
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames() >= 4800; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    // Only the tone pushed after the flush was heard.
    EXPECT_EQ(tap.SoundFrames(), 4800u);
    EXPECT_NEAR(audiotest::ToneFrequency(tap.Sound(), 0), 3000.0, 30.0);

    // A stop drops what waits, and the next run starts afresh.
    PushAhead(400 * kMs, 48000, 1000.0);
    ASSERT_EQ(control->Stop(), S_OK);
    tap.phase = 1;
    ASSERT_EQ(control->Run(), S_OK);
    PushAhead(kAhead, 4800, 2000.0);
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames(1) >= 4800; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(tap.SoundFrames(1), 4800u);
}

TEST_F(RendererGraph, PauseHoldsTheSoundAndRunGoesOn) {
    ASSERT_EQ(control->Run(), S_OK);
    PushAhead(kAhead, 24000);
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames() >= 4800; }));
    ASSERT_EQ(control->Pause(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t heard = tap.SoundFrames();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(tap.SoundFrames(), heard);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return tap.SoundFrames() >= 24000; }));
    EXPECT_EQ(Statistics().framesDropped, 0u);
}

TEST_F(RendererGraph, TheRendererIsTheGraphsClockAndFollowsTheSound) {
    ComPtr<IMediaFilter> mediaFilter;
    ASSERT_EQ(graph.As(&mediaFilter), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ComPtr<IReferenceClock> graphClock;
    ASSERT_EQ(mediaFilter->GetSyncSource(graphClock.GetAddressOf()), S_OK);
    ComPtr<IReferenceClock> rendererClock;
    ASSERT_EQ(renderer->QueryInterface(IID_IReferenceClock, rendererClock.GetVoidAddressOf()),
              S_OK);
    EXPECT_EQ(graphClock.Get(), rendererClock.Get());

    // While sound plays the clock keeps pace with the monotonic clock and never goes back.
    PushAhead(kAhead, 48000);
    REFERENCE_TIME previous = 0;
    graphClock->GetTime(&previous);
    const REFERENCE_TIME clockStart = previous;
    const REFERENCE_TIME monotonicStart = CSystemClock::MonotonicNow();
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(8));
        REFERENCE_TIME now = 0;
        graphClock->GetTime(&now);
        EXPECT_GE(now, previous);
        previous = now;
    }
    const double clockElapsed = double(previous - clockStart);
    const double monotonicElapsed = double(CSystemClock::MonotonicNow() - monotonicStart);
    EXPECT_NEAR(clockElapsed / monotonicElapsed, 1.0, 0.05);

    // An advice of the clock arrives at its time.
    CAMEvent due(true);
    DWORD_PTR cookie = 0;
    REFERENCE_TIME now = 0;
    graphClock->GetTime(&now);
    ASSERT_EQ(graphClock->AdviseTime(now, 50 * kMs, ToHandle(&due), &cookie), S_OK);
    EXPECT_TRUE(due.Wait(1000));
    REFERENCE_TIME after = 0;
    graphClock->GetTime(&after);
    EXPECT_GE(after, now + 45 * kMs);
}

// --- the clock alone

TEST(AudioClock, TakesSmallDifferencesGraduallyAndLargeOnesAtOnceNeverGoingBack) {
    orvaudio::AudioClock clock;
    const REFERENCE_TIME start = clock.Now();
    // The sound is 40 ms ahead: an eighth of it per look.
    clock.Follow(CSystemClock::MonotonicNow() + 40 * kMs);
    EXPECT_NEAR(double(clock.Offset()), 5.0 * kMs, 0.5 * kMs);
    // A second behind: taken at once, but the time handed out stands still rather than going
    // back.
    const REFERENCE_TIME before = clock.Now();
    clock.Follow(CSystemClock::MonotonicNow() - kUnitsPerSecond);
    EXPECT_LT(clock.Offset(), -900 * kMs);
    REFERENCE_TIME time = 0;
    EXPECT_EQ(clock.GetTime(&time), S_FALSE);
    EXPECT_EQ(time, before);
    EXPECT_GE(time, start);
}

// --- the sinks

TEST(SilentSink, ConsumesAtTheSampleRateAndHoldsWhilePaused) {
    auto sink = orvaudio::OpenSilentSink(100 * kMs);
    const std::vector<int16_t> block(960 * 2, 0);
    const REFERENCE_TIME start = CSystemClock::MonotonicNow();
    int64_t written = 0;
    while (CSystemClock::MonotonicNow() - start < 400 * kMs) {
        written += int64_t(sink->Write(block.data(), 960));
    }
    const double elapsed = double(CSystemClock::MonotonicNow() - start) / kUnitsPerSecond;
    const int64_t played = sink->PlayedFrames();
    EXPECT_NEAR(double(played), elapsed * 48000.0, 48000.0 * 0.03);
    // It never takes more than its buffer ahead.
    EXPECT_LE(written - played, 4800 + 960);
    sink->SetPaused(true);
    const int64_t held = sink->PlayedFrames();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sink->PlayedFrames(), held);
    sink->Reset();
    EXPECT_EQ(sink->PlayedFrames(), 0);
}

TEST(AudioSinks, WithoutASoundServerTheSilentSinkPlays) {
    const char* oldServer = std::getenv("PULSE_SERVER");
    const std::string saved = oldServer != nullptr ? oldServer : "";
    ::unsetenv(orvaudio::kSinkVariable);
    ::setenv("PULSE_SERVER", "unix:/nonexistent/orvanta-no-server", 1);
    auto sink = orvaudio::OpenAudioSink();
    ASSERT_NE(sink, nullptr);
    EXPECT_STREQ(sink->Name(), "silent");
    ::setenv(orvaudio::kSinkVariable, "silent", 1);
    EXPECT_STREQ(orvaudio::OpenAudioSink()->Name(), "silent");
    if (oldServer != nullptr) {
        ::setenv("PULSE_SERVER", saved.c_str(), 1);
    } else {
        ::unsetenv("PULSE_SERVER");
    }
}

TEST(AudioSinks, ThePulseSinkPlaysWhenAServerIsReachable) {
    auto sink = orvaudio::OpenPulseSink();
    if (!sink) {
        GTEST_SKIP() << "no PulseAudio server reachable";
    }
    EXPECT_STREQ(sink->Name(), "pulse");
    const std::vector<int16_t> block = ToneSamples(440.0, 0.1, 960);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (sink->PlayedFrames() < 4800 && std::chrono::steady_clock::now() < deadline) {
        sink->Write(block.data(), 960);
    }
    EXPECT_GE(sink->PlayedFrames(), 4800);
}

}  // namespace
