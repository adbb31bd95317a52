// The audio branch as the application builds it, on a simulated broadcast: the TS source
// playing a file, the analyzer's "Audio" pin, the audio decoder found by its friendly name and
// the default sound renderer (on the silent sink, with a tap), the renderer being the graph's
// clock.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <thread>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/dshow/DShowGuids.h"
#include "platform/media/MediaClasses.h"
#include "platform/media/audio/AudioSink.h"
#include "platform/media/audio/tests/AudioTestGraph.h"
#include "platform/media/audio/tests/AudioTestSupport.h"
#include "sianalyzer/ICQVSIAnalyzer.h"
#include "sources/tests/SourceTestSupport.h"

namespace {

using audiotest::kMs;
using audiotest::TapRecorder;
using sourcetest::Bytes;
using sourcetest::TempFolder;

const isdbsim::TransportStreamInfo& Channel() {
    return *isdbsim::FindChannel(0, 0);
}

// The simulator's audio: a tone of toneStep x 48000 / 1024 Hz on the left, an octave up on the
// right.
double ToneOf(const isdbsim::ServiceInfo& service) {
    return service.toneStep * 48000.0 / 1024.0;
}

// The first filter of the legacy category with this friendly name, as the application finds
// its decoders.
HRESULT CreateByFriendlyName(const char16_t* name, IBaseFilter** filter) {
    std::vector<CategoryEntry> entries;
    ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &entries);
    for (const CategoryEntry& entry : entries) {
        if (entry.friendlyName == name) {
            return CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    reinterpret_cast<void**>(filter));
        }
    }
    return REGDB_E_CLASSNOTREG;
}

class AudioBranch : public streamtest::GraphTest {
protected:
    static void SetUpTestSuite() {
        ::setenv(orvaudio::kSinkVariable, "silent", 1);
        // A registry of the tests' own, empty but for the built-in entries.
        static TempFolder registryFolder;
        ::setenv("ORVANTA_REGISTRY", registryFolder.File("registry.json").c_str(), 1);
    }

    void SetUp() override {
        GraphTest::SetUp();
        ASSERT_EQ(graph.As(&events), S_OK);
    }

    void TearDown() override {
        control->Stop();
        if (output) {
            output->SetTap(nullptr);
        }
        output.Reset();
        analyzer.Reset();
        events.Reset();
        for (ComPtr<IBaseFilter>& filter : filters) {
            filter.Reset();
        }
        GraphTest::TearDown();
    }

    // The file source on `seconds` of the simulated channel, the analyzer set to its first
    // service, the decoder and the renderer.
    void Build(double seconds) {
        const Bytes stream = sourcetest::SimulatedStream(seconds);
        ASSERT_FALSE(stream.empty());
        const std::string path = folder.File("channel.ts");
        ASSERT_TRUE(sourcetest::WriteFile(path, stream));

        HRESULT hr = S_OK;
        auto* source = new ICQVTSSource(nullptr, &hr);
        ASSERT_EQ(hr, S_OK);
        filters[kSource] = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(source));
        ASSERT_EQ(source->Load(sourcetest::Utf16(path).c_str(), nullptr), S_OK);
        auto* analyzerFilter = new ICQVSIAnalyzer(nullptr, &hr);
        ASSERT_EQ(hr, S_OK);
        filters[kAnalyzer] = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(analyzerFilter));
        ASSERT_EQ(CreateByFriendlyName(kOrvAudioDecoderName, filters[kDecoder].GetAddressOf()),
                  S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_DSoundRender, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, filters[kRenderer].GetVoidAddressOf()),
                  S_OK);
        const char16_t* names[] = {u"Source", u"QV SI Analyzer", u"Audio Decoder",
                                   u"Audio Renderer"};
        for (int i = 0; i < kFilterCount; ++i) {
            ASSERT_EQ(graph->AddFilter(filters[i].Get(), names[i]), S_OK);
        }
        ASSERT_EQ(filters[kAnalyzer].As(&analyzer), S_OK);
        ASSERT_EQ(filters[kRenderer].As(&output), S_OK);
        output->SetTap(&tap);

        CMediaType transportStream = streamtest::TransportStreamType();
        ASSERT_EQ(graph->ConnectDirect(source->GetPin(1), Pin(kAnalyzer, u"Input").Get(),
                                       &transportStream),
                  S_OK);
        ASSERT_EQ(graph->ConnectDirect(Pin(kAnalyzer, u"Audio").Get(), Pin(kDecoder, u"In").Get(),
                                       nullptr),
                  S_OK);
        ASSERT_EQ(
            graph->ConnectDirect(Pin(kDecoder, u"Out").Get(), Pin(kRenderer, u"In").Get(), nullptr),
            S_OK);

        const isdbsim::ServiceInfo& service = Channel().services[0];
        analyzer->SetAutoSelect(0);
        analyzer->SetPCRPID(Channel().pcrPid);
        analyzer->SetAudioPID(service.audioPid);
    }

    ComPtr<IPin> Pin(int filter, const char16_t* id) {
        ComPtr<IPin> pin;
        filters[filter]->FindPin(id, pin.GetAddressOf());
        return pin;
    }

    bool WaitForSound(size_t frames, int phase = -1, int milliseconds = 10000) {
        return sourcetest::WaitPatiently([&] { return tap.SoundFrames(phase) >= frames; },
                                         milliseconds);
    }

    enum { kSource, kAnalyzer, kDecoder, kRenderer, kFilterCount };

    TempFolder folder;
    ComPtr<IMediaEventEx> events;
    ComPtr<IBaseFilter> filters[kFilterCount];
    ComPtr<IQVSIAnalyzer> analyzer;
    ComPtr<IOrvAudioOutput> output;
    TapRecorder tap;
};

TEST_F(AudioBranch, PlaysTheServicesToneToTheEndWithTheRendererAsClock) {
    Build(3.0);
    ASSERT_EQ(control->Run(), S_OK);

    ComPtr<IMediaFilter> mediaFilter;
    ASSERT_EQ(graph.As(&mediaFilter), S_OK);
    ComPtr<IReferenceClock> graphClock;
    ASSERT_EQ(mediaFilter->GetSyncSource(graphClock.GetAddressOf()), S_OK);
    ComPtr<IReferenceClock> rendererClock;
    ASSERT_EQ(filters[kRenderer].As(&rendererClock), S_OK);
    EXPECT_EQ(graphClock.Get(), rendererClock.Get());
    const char* sink = nullptr;
    ASSERT_EQ(output->GetSinkName(&sink), S_OK);
    EXPECT_STREQ(sink, "silent");

    ASSERT_TRUE(audiotest::WaitForEvent(events.Get(), EC_COMPLETE, 20000));
    // Nearly all of the stream was heard: it begins at the analyzer's first lock.
    EXPECT_GT(tap.SoundFrames(), size_t(48000 * 2));
    const std::vector<int16_t> sound = audiotest::FramesFrom(tap.Sound(), 4800);
    const double tone = ToneOf(Channel().services[0]);
    EXPECT_NEAR(audiotest::ToneFrequency(sound, 0), tone, tone * 0.02);
    EXPECT_NEAR(audiotest::ToneFrequency(sound, 1), 2 * tone, 2 * tone * 0.02);
    OrvAudioOutputStatistics statistics;
    ASSERT_EQ(output->GetStatistics(&statistics), S_OK);
    EXPECT_EQ(statistics.framesDropped, 0u);
}

TEST_F(AudioBranch, TheGraphsVolumeLowersTheLevelAndTheBottomIsSilence) {
    Build(4.0);
    ComPtr<IBasicAudio> audio;
    ASSERT_EQ(graph.As(&audio), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    // Each volume for a while, measured on what the tap saw meanwhile.
    const LONG volumes[] = {0, -2000, -10000};
    for (int phase = 0; phase < 3; ++phase) {
        ASSERT_EQ(audio->put_Volume(volumes[phase]), S_OK);
        tap.phase = phase;
        if (phase == 0) {
            ASSERT_TRUE(WaitForSound(48000 / 2, 0));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
    // The simulator's left tone is a sine of amplitude 0.25.
    const double full = audiotest::LevelDb(audiotest::FramesFrom(tap.Sound(0), 4800), 0);
    EXPECT_NEAR(full, 20.0 * std::log10(0.25 / std::sqrt(2.0)), 1.0);
    EXPECT_NEAR(audiotest::LevelDb(tap.Sound(1), 0) - full, -20.0, 1.0);
    EXPECT_EQ(tap.SoundFrames(2), 0u);
    size_t silentFrames = 0;
    for (const TapRecorder::Block& block : tap.Blocks()) {
        if (block.phase == 2) {
            silentFrames += block.frames;
        }
    }
    EXPECT_GT(silentFrames, size_t(48000 / 4));  // it kept playing, silently
}

TEST_F(AudioBranch, SeekingBackFlushesAndPlaysAgain) {
    Build(3.0);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(WaitForSound(48000 / 2));
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(graph.As(&seeking), S_OK);
    tap.phase = 1;
    LONGLONG start = 0;
    ASSERT_EQ(seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                    AM_SEEKING_NoPositioning),
              S_OK);
    ASSERT_TRUE(WaitForSound(48000, 1));
    const double tone = ToneOf(Channel().services[0]);
    EXPECT_NEAR(audiotest::ToneFrequency(audiotest::FramesFrom(tap.Sound(1), 4800), 0), tone,
                tone * 0.02);
}

TEST_F(AudioBranch, TheDecoderOffersDualMonoChoiceAndTakesTheAnalyzersTypes) {
    ComPtr<IBaseFilter> decoder;
    ASSERT_EQ(CreateByFriendlyName(kOrvAudioDecoderName, decoder.GetAddressOf()), S_OK);
    ComPtr<IOrvDualMono> dualMono;
    ASSERT_EQ(decoder.As(&dualMono), S_OK);
    DualMonoOutput choice = DualMonoOutput::kBoth;
    ASSERT_EQ(dualMono->GetDualMonoOutput(&choice), S_OK);
    EXPECT_EQ(choice, DualMonoOutput::kMain);
    EXPECT_EQ(dualMono->SetDualMonoOutput(DualMonoOutput::kSub), S_OK);
    ASSERT_EQ(dualMono->GetDualMonoOutput(&choice), S_OK);
    EXPECT_EQ(choice, DualMonoOutput::kSub);
    EXPECT_EQ(dualMono->SetDualMonoOutput(DualMonoOutput(7)), E_INVALIDARG);
    EXPECT_EQ(dualMono->IsDualMono(), S_FALSE);

    ComPtr<IPin> input;
    ASSERT_EQ(decoder->FindPin(u"In", input.GetAddressOf()), S_OK);
    struct Case {
        GUID major;
        GUID sub;
        HRESULT accepted;
    };
    for (const Case& c : {Case{MEDIATYPE_Audio, MEDIASUBTYPE_MPEG_ADTS_AAC, S_OK},
                          Case{MEDIATYPE_Audio, MEDIASUBTYPE_RAW_AAC1, S_OK},
                          Case{MEDIATYPE_Audio, MEDIASUBTYPE_MPEG_LOAS, S_OK},
                          Case{MEDIATYPE_Audio, MEDIASUBTYPE_PCM, S_FALSE},
                          Case{MEDIATYPE_Video, MEDIASUBTYPE_MPEG_ADTS_AAC, S_FALSE}}) {
        CMediaType type;
        type.SetType(&c.major);
        type.SetSubtype(&c.sub);
        EXPECT_EQ(input->QueryAccept(&type), c.accepted);
    }
    decoder.Reset();
}

}  // namespace
