// The AAC decoding core: framings, rates, the stereo mix of dual mono and 5.1, damaged and
// changing streams, on streams encoded at test time.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <string>

#include "platform/media/audio/AacStreamDecoder.h"
#include "platform/media/audio/tests/AudioTestSupport.h"

namespace {

using audiotest::Bytes;
using audiotest::EncodedAac;
using audiotest::FramesFrom;
using audiotest::LevelDb;
using audiotest::Tone;
using audiotest::ToneFrequency;
using orvaudio::AacFraming;
using orvaudio::AacStreamDecoder;

// The decoder's first frames fade in: measures start after them.
constexpr size_t kSettleFrames = 4800;

AVChannelLayout LayoutOf(uint64_t mask) {
    AVChannelLayout layout{};
    av_channel_layout_from_mask(&layout, mask);
    return layout;
}

double DbOf(double amplitude) {
    // The RMS level of a sine of `amplitude` (full scale 1).
    return 20.0 * std::log10(amplitude / std::sqrt(2.0));
}

std::vector<int16_t> DecodeAll(const Bytes& stream, size_t chunk = 0,
                               AacStreamDecoder* decoder = nullptr) {
    AacStreamDecoder own;
    AacStreamDecoder& used = decoder != nullptr ? *decoder : own;
    std::vector<int16_t> pcm;
    const size_t step = chunk == 0 ? stream.size() : chunk;
    for (size_t offset = 0; offset < stream.size(); offset += step) {
        used.Decode(stream.data() + offset, std::min(step, stream.size() - offset), &pcm);
    }
    used.Drain(&pcm);
    return pcm;
}

#define SKIP_WITHOUT(encoded)                                           \
    if ((encoded).frames.empty()) {                                     \
        GTEST_SKIP() << "libavcodec has no AAC encoder on this system"; \
    }

struct FramingCase {
    const char* name;
    int sampleRate;
    std::vector<Tone> tones;
    bool loas;
    // Expected on the two outputs: frequency and level (the second channel's are the first's
    // for a mono stream).
    double leftFrequency;
    double rightFrequency;
};

TEST(AacStreamDecoder, KeepsEachChannelsToneAndLevelInEveryFramingAndRate) {
    const FramingCase cases[] = {
        {"ADTS 48 kHz stereo", 48000, {{937.5, 0.25}, {1875.0, 0.25}}, false, 937.5, 1875.0},
        {"LOAS 48 kHz stereo", 48000, {{937.5, 0.25}, {1875.0, 0.25}}, true, 937.5, 1875.0},
        {"ADTS 44.1 kHz stereo, resampled",
         44100,
         {{1000.0, 0.25}, {500.0, 0.25}},
         false,
         1000.0,
         500.0},
        {"ADTS 48 kHz mono on both sides", 48000, {{750.0, 0.25}}, false, 750.0, 750.0},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const EncodedAac aac = audiotest::EncodeTones(c.tones, c.sampleRate, 1.0);
        SKIP_WITHOUT(aac);
        AacStreamDecoder decoder;
        const std::vector<int16_t> pcm =
            DecodeAll(c.loas ? audiotest::Loas(aac) : audiotest::Adts(aac), 0, &decoder);
        EXPECT_EQ(decoder.Stats().framesDamaged, 0u);
        // Every input frame comes out, at 48 kHz.
        const double seconds = double(aac.frames.size()) * 1024 / c.sampleRate;
        EXPECT_NEAR(double(pcm.size() / 2) / 48000.0, seconds, 0.01);
        const std::vector<int16_t> settled = FramesFrom(pcm, kSettleFrames);
        EXPECT_NEAR(ToneFrequency(settled, 0), c.leftFrequency, c.leftFrequency * 0.01);
        EXPECT_NEAR(ToneFrequency(settled, 1), c.rightFrequency, c.rightFrequency * 0.01);
        EXPECT_NEAR(LevelDb(settled, 0), DbOf(0.25), 1.0);
        EXPECT_NEAR(LevelDb(settled, 1), DbOf(0.25), 1.0);
    }
}

TEST(AacStreamDecoder, FramesSplitAnywhereAcrossSamplesDecodeAsWhole) {
    const EncodedAac aac = audiotest::EncodeTones({{1500.0, 0.3}, {3000.0, 0.3}}, 48000, 0.5);
    SKIP_WITHOUT(aac);
    for (const bool loas : {false, true}) {
        SCOPED_TRACE(loas ? "LOAS" : "ADTS");
        const Bytes stream = loas ? audiotest::Loas(aac) : audiotest::Adts(aac);
        const std::vector<int16_t> whole = DecodeAll(stream);
        EXPECT_EQ(DecodeAll(stream, 97), whole);
        EXPECT_EQ(DecodeAll(stream, 1), whole);
    }
}

TEST(AacStreamDecoder, DualMonoPlaysMainSubOrBothAsChosen) {
    const EncodedAac main = audiotest::EncodeTones({{750.0, 0.25}}, 48000, 1.0);
    const EncodedAac sub = audiotest::EncodeTones({{1500.0, 0.25}}, 48000, 1.0);
    SKIP_WITHOUT(main);
    const Bytes stream = audiotest::Adts(audiotest::DualMono(main, sub));
    struct Case {
        DualMonoOutput output;
        double left;
        double right;
    };
    for (const Case& c :
         {Case{DualMonoOutput::kMain, 750.0, 750.0}, Case{DualMonoOutput::kSub, 1500.0, 1500.0},
          Case{DualMonoOutput::kBoth, 750.0, 1500.0}}) {
        SCOPED_TRACE(int(c.output));
        AacStreamDecoder decoder;
        decoder.SetDualMonoOutput(c.output);
        std::vector<int16_t> pcm;
        decoder.Decode(stream.data(), stream.size(), &pcm);
        EXPECT_TRUE(decoder.IsDualMono());
        EXPECT_EQ(decoder.Stats().framesDamaged, 0u);
        const std::vector<int16_t> settled = FramesFrom(pcm, kSettleFrames);
        EXPECT_NEAR(ToneFrequency(settled, 0), c.left, c.left * 0.01);
        EXPECT_NEAR(ToneFrequency(settled, 1), c.right, c.right * 0.01);
        // Each element plays at its own level, not mixed down.
        EXPECT_NEAR(LevelDb(settled, 0), DbOf(0.25), 1.0);
    }
}

TEST(AacStreamDecoder, DualMonoChoiceChangesMidStream) {
    const EncodedAac main = audiotest::EncodeTones({{750.0, 0.25}}, 48000, 1.0);
    const EncodedAac sub = audiotest::EncodeTones({{1500.0, 0.25}}, 48000, 1.0);
    SKIP_WITHOUT(main);
    const Bytes stream = audiotest::Adts(audiotest::DualMono(main, sub));
    const size_t half = stream.size() / 2;
    AacStreamDecoder decoder;
    std::vector<int16_t> first;
    decoder.Decode(stream.data(), half, &first);
    decoder.SetDualMonoOutput(DualMonoOutput::kSub);
    std::vector<int16_t> second;
    decoder.Decode(stream.data() + half, stream.size() - half, &second);
    EXPECT_NEAR(ToneFrequency(FramesFrom(first, kSettleFrames), 1), 750.0, 7.5);
    EXPECT_NEAR(ToneFrequency(FramesFrom(second, 2048), 0), 1500.0, 15.0);
    EXPECT_NEAR(ToneFrequency(FramesFrom(second, 2048), 1), 1500.0, 15.0);
}

TEST(AacStreamDecoder, StereoMixWeightsFollowTheDownMixRule) {
    const double k = std::sqrt(0.5);
    const double norm = 1.0 + 2.0 * k;  // the loudest 5.1 row: front, centre, surround
    struct Case {
        AVChannelLayout layout;
        std::vector<double> weights;  // left row, then right row
    };
    const Case cases[] = {
        {LayoutOf(AV_CH_LAYOUT_STEREO), {1, 0, 0, 1}},
        {LayoutOf(AV_CH_LAYOUT_MONO), {1, 1}},
        // FL FR FC LFE BL BR: centre and surrounds -3 dB, LFE out, scaled so nothing clips.
        {LayoutOf(AV_CH_LAYOUT_5POINT1_BACK),
         {1 / norm, 0, k / norm, 0, k / norm, 0, 0, 1 / norm, k / norm, 0, 0, k / norm}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layout.nb_channels);
        const std::vector<double> weights =
            orvaudio::StereoMixWeights(c.layout, false, DualMonoOutput::kMain);
        ASSERT_EQ(weights.size(), c.weights.size());
        for (size_t i = 0; i < weights.size(); ++i) {
            EXPECT_NEAR(weights[i], c.weights[i], 1e-9) << i;
        }
    }
    const AVChannelLayout pair = LayoutOf(AV_CH_LAYOUT_STEREO);
    EXPECT_EQ(orvaudio::StereoMixWeights(pair, true, DualMonoOutput::kMain),
              (std::vector<double>{1, 0, 1, 0}));
    EXPECT_EQ(orvaudio::StereoMixWeights(pair, true, DualMonoOutput::kSub),
              (std::vector<double>{0, 1, 0, 1}));
    EXPECT_EQ(orvaudio::StereoMixWeights(pair, true, DualMonoOutput::kBoth),
              (std::vector<double>{1, 0, 0, 1}));
}

TEST(AacStreamDecoder, FiveOneIsMixedDownWithoutLfeAndWithoutClipping) {
    // One tone per channel: where it ends up and how loud.
    const double k = std::sqrt(0.5);
    const double norm = 1.0 + 2.0 * k;
    struct Case {
        const char* name;
        int channel;  // FL FR FC LFE BL BR
        double leftDb;
        double rightDb;
    };
    const double silent = -60.0;
    const double a = 0.4;
    const Case cases[] = {
        {"front left", 0, DbOf(a / norm), silent},
        {"centre", 2, DbOf(a * k / norm), DbOf(a * k / norm)},
        {"LFE", 3, silent, silent},
        {"back right", 5, silent, DbOf(a * k / norm)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Tone> tones(6);
        tones[size_t(c.channel)] = {c.channel == 3 ? 93.75 : 1500.0, a};
        const EncodedAac aac = audiotest::EncodeTones(tones, 48000, 1.0);
        SKIP_WITHOUT(aac);
        const std::vector<int16_t> settled =
            FramesFrom(DecodeAll(audiotest::Adts(aac)), kSettleFrames);
        for (int side = 0; side < 2; ++side) {
            const double expected = side == 0 ? c.leftDb : c.rightDb;
            const double level = LevelDb(settled, side);
            if (expected <= silent) {
                EXPECT_LT(level, silent) << side;
            } else {
                EXPECT_NEAR(level, expected, 1.0) << side;
            }
        }
    }
    // All six channels loud, in phase: the mix stays below clipping.
    const EncodedAac loud = audiotest::EncodeTones(std::vector<Tone>(6, {375.0, 0.8}), 48000, 1.0);
    SKIP_WITHOUT(loud);
    const std::vector<int16_t> mixed = DecodeAll(audiotest::Adts(loud));
    EXPECT_LT(audiotest::Peak(mixed), 32767);
    EXPECT_GT(audiotest::Peak(mixed), 20000);
}

TEST(AacStreamDecoder, DamagedFramesAreSkippedAndDecodingGoesOn) {
    const EncodedAac aac = audiotest::EncodeTones({{937.5, 0.25}, {1875.0, 0.25}}, 48000, 1.0);
    SKIP_WITHOUT(aac);
    const Bytes clean = audiotest::Adts(aac);
    struct Damage {
        const char* name;
        Bytes stream;
    };
    std::vector<Damage> damages;
    {
        // Garbage over the payload of frames in the middle.
        Bytes stream = clean;
        for (size_t i = stream.size() / 3; i < stream.size() / 3 + 600; ++i) {
            stream[i] = uint8_t(i * 37);
        }
        damages.push_back({"overwritten payload", stream});
    }
    {
        // A frame cut short and the stream going on with the next one.
        Bytes stream(clean.begin(), clean.begin() + std::ptrdiff_t(clean.size() / 2 + 100));
        const size_t next = clean.size() / 2 + 400;
        size_t resume = next;
        while (resume + 1 < clean.size() && !(clean[resume] == 0xFF && clean[resume + 1] == 0xF1)) {
            ++resume;
        }
        stream.insert(stream.end(), clean.begin() + std::ptrdiff_t(resume), clean.end());
        damages.push_back({"cut frame", stream});
    }
    {
        // Junk between frames, including false sync words.
        Bytes stream(clean.begin(), clean.begin() + std::ptrdiff_t(clean.size() / 2));
        for (int i = 0; i < 300; ++i) {
            stream.push_back(i % 50 == 0 ? 0xFF : uint8_t(0xF1 ^ i));
        }
        size_t resume = clean.size() / 2;
        while (resume + 1 < clean.size() && !(clean[resume] == 0xFF && clean[resume + 1] == 0xF1)) {
            ++resume;
        }
        stream.insert(stream.end(), clean.begin() + std::ptrdiff_t(resume), clean.end());
        damages.push_back({"junk between frames", stream});
    }
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        AacStreamDecoder decoder;
        const std::vector<int16_t> pcm = DecodeAll(damage.stream, 188, &decoder);
        // Most of the stream still plays, and its end is the tone again.
        EXPECT_GT(pcm.size() / 2, aac.frames.size() * 1024 / 2);
        const std::vector<int16_t> tail = FramesFrom(pcm, pcm.size() / 2 - 9600);
        EXPECT_NEAR(ToneFrequency(tail, 0), 937.5, 9.4);
        EXPECT_NEAR(ToneFrequency(tail, 1), 1875.0, 18.8);
    }
}

TEST(AacStreamDecoder, ALayoutChangeMidStreamSetsUpANewMix) {
    const EncodedAac stereo = audiotest::EncodeTones({{937.5, 0.25}, {937.5, 0.25}}, 48000, 0.5);
    std::vector<Tone> surround(6);
    surround[2] = {1500.0, 0.4};
    const EncodedAac fiveOne = audiotest::EncodeTones(surround, 48000, 0.5);
    const EncodedAac mono = audiotest::EncodeTones({{750.0, 0.25}}, 48000, 0.5);
    SKIP_WITHOUT(stereo);
    AacStreamDecoder decoder;
    std::vector<int16_t> parts[3];
    const Bytes streams[3] = {audiotest::Adts(stereo), audiotest::Adts(fiveOne),
                              audiotest::Adts(mono)};
    for (int i = 0; i < 3; ++i) {
        decoder.Decode(streams[i].data(), streams[i].size(), &parts[i]);
    }
    EXPECT_EQ(decoder.Stats().formatChanges, 2u);
    EXPECT_NEAR(ToneFrequency(FramesFrom(parts[1], 4096), 0), 1500.0, 15.0);
    EXPECT_NEAR(ToneFrequency(FramesFrom(parts[2], 4096), 1), 750.0, 7.5);
    // The ADTS stream switching to LATM is followed too.
    const Bytes latm = audiotest::Loas(stereo);
    std::vector<int16_t> fromLatm;
    decoder.Decode(latm.data(), latm.size(), &fromLatm);
    EXPECT_EQ(decoder.Framing(), AacFraming::kLoas);
    EXPECT_NEAR(ToneFrequency(FramesFrom(fromLatm, kSettleFrames), 0), 937.5, 9.4);
}

TEST(AacStreamDecoder, ResetForgetsAFrameCutInHalf) {
    const EncodedAac aac = audiotest::EncodeTones({{937.5, 0.25}, {937.5, 0.25}}, 48000, 0.5);
    SKIP_WITHOUT(aac);
    const Bytes stream = audiotest::Adts(aac);
    AacStreamDecoder decoder;
    std::vector<int16_t> pcm;
    const size_t firstFrame = aac.frames[0].size() + 7;
    decoder.Decode(stream.data(), firstFrame + 50, &pcm);
    EXPECT_EQ(decoder.Stats().framesDecoded, 1u);
    decoder.Reset();
    // The rest of the cut frame is not a frame: it is skipped, the next frames decode.
    decoder.Decode(stream.data() + firstFrame + 50, stream.size() - firstFrame - 50, &pcm);
    EXPECT_EQ(decoder.Stats().framesDecoded, aac.frames.size() - 1);
    // Nothing at all before a sync word does no harm.
    AacStreamDecoder fresh;
    const Bytes junk(500, 0x47);
    fresh.Decode(junk.data(), junk.size(), &pcm);
    EXPECT_EQ(fresh.Framing(), AacFraming::kUnknown);
}

}  // namespace
