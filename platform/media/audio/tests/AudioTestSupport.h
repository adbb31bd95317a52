#pragma once

// What the audio tests share: AAC streams encoded at test time (libavcodec's encoder) in the
// framings the broadcasts use, dual-mono frames spliced from two mono encodings, and the
// measures of what comes out (a tone's frequency, a level).

#include <cstdint>
#include <string>
#include <vector>

namespace audiotest {

using Bytes = std::vector<uint8_t>;

// A sine tone on one channel (a frequency of 0 leaves the channel silent).
struct Tone {
    double frequency = 0.0;
    double amplitude = 0.0;
};

// Raw AAC-LC frames (no framing) and the AudioSpecificConfig that describes them.
struct EncodedAac {
    std::vector<Bytes> frames;
    Bytes audioSpecificConfig;
    int sampleRate = 0;
    int channelConfiguration = 0;
};

// `seconds` of one tone per channel, encoded with the channel configuration's layout
// (1 mono, 2 stereo, 6 = 5.1 in FL FR FC LFE BL BR order). Empty frames when the encoder is
// missing.
EncodedAac EncodeTones(const std::vector<Tone>& channels, int sampleRate, double seconds);

// The frames with an ADTS header each (`channelConfiguration` as the header should say).
Bytes Adts(const EncodedAac& aac, int channelConfiguration);
Bytes Adts(const EncodedAac& aac);
// The frames as LOAS: each an AudioMuxElement carrying its StreamMuxConfig.
Bytes Loas(const EncodedAac& aac);

// Frames of two single channel elements (tags 0 and 1) made from two mono encodings, as a
// dual-mono broadcast sends them; channel configuration 0.
EncodedAac DualMono(const EncodedAac& main, const EncodedAac& sub);

// Measures of interleaved stereo: the frequency of the tone on `channel` (from its zero
// crossings), and the RMS level in dB of full scale (-inf for silence).
double ToneFrequency(const std::vector<int16_t>& stereo, int channel, int rate = 48000);
double LevelDb(const std::vector<int16_t>& stereo, int channel);
// The largest magnitude on either channel.
int Peak(const std::vector<int16_t>& stereo);
// The frames from `first` on (interleaved stereo), for measures past a start-up.
std::vector<int16_t> FramesFrom(const std::vector<int16_t>& stereo, size_t first);

}  // namespace audiotest
