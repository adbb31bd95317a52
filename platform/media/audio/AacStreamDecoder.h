#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/media/audio/AudioInterfaces.h"

struct AVChannelLayout;
struct AVFrame;

namespace orvaudio {

// What the decoder puts out and the renderer plays: 16-bit interleaved stereo at 48 kHz.
inline constexpr int kOutputRate = 48000;
inline constexpr int kOutputChannels = 2;
inline constexpr int kOutputFrameBytes = kOutputChannels * int(sizeof(int16_t));

// How AAC frames are wrapped in the elementary stream.
enum class AacFraming {
    kUnknown,
    kAdts,  // 12-bit sync 0xFFF, a header per frame
    kLoas,  // 11-bit sync 0x2B7 (bytes 0x56 0xEx), LATM payloads
};

// The weights of a stereo mix of `layout`: for each input channel its gain into the left and
// into the right output, as [left gains..., right gains...] (two rows of the channel count).
// Fronts go to their side; centre and surrounds come in at -3 dB, LFE is dropped; the rows
// are scaled down together so that no output can clip. A one-channel layout plays on both
// sides; a dual-mono pair is routed as `dualMono` says.
std::vector<double> StereoMixWeights(const AVChannelLayout& layout, bool isDualMono,
                                     DualMonoOutput dualMono);

// AAC in ADTS or LOAS/LATM frames to 16-bit stereo PCM at 48 kHz, on libavcodec's "aac" and
// "aac_latm" decoders and libswresample. Frames are found by their sync words and lengths (a
// frame counts when the next one, or the end of the data, follows at its length, so sync
// patterns in damaged data are passed over); they may be split across calls. The framing
// follows the frames found (a service may switch). Frames the decoder refuses are counted and
// skipped; a new channel layout or sample rate mid-stream sets up a new mix.
//
// Not thread-safe: the filter calls it from its streaming path only.
class AacStreamDecoder {
public:
    struct Statistics {
        uint64_t framesDecoded = 0;
        uint64_t framesDamaged = 0;  // frames the decoder refused
        uint64_t formatChanges = 0;  // layout or rate changes after the first frame
    };
    // Bytes passed over while looking for frames.
    uint64_t SkippedBytes() const { return skippedBytes; }

    AacStreamDecoder();
    ~AacStreamDecoder();
    AacStreamDecoder(const AacStreamDecoder&) = delete;
    AacStreamDecoder& operator=(const AacStreamDecoder&) = delete;

    // Decodes what `data` completes and appends the PCM (interleaved stereo) to `pcm`.
    void Decode(const uint8_t* data, size_t size, std::vector<int16_t>* pcm);
    // End of stream: what the resampler still holds. A cut-off last frame is dropped.
    void Drain(std::vector<int16_t>* pcm);
    // Forgets everything in flight (a flush or a discontinuity): partial frames, decoder state.
    void Reset();

    void SetDualMonoOutput(DualMonoOutput output) { dualMonoOutput = output; }
    DualMonoOutput GetDualMonoOutput() const { return dualMonoOutput; }
    // True while the frames being decoded are dual mono.
    bool IsDualMono() const { return dualMono; }
    AacFraming Framing() const { return framing; }
    const Statistics& Stats() const { return statistics; }

private:
    struct Codec;

    static constexpr size_t kNoSync = size_t(-1);

    bool Open(AacFraming newFraming);
    // The offset of the first sync word of either framing in `pending` from `from` on.
    size_t FindSync(size_t from) const;
    void DecodePacket(const uint8_t* data, int size, std::vector<int16_t>* pcm);
    void ReceiveFrames(std::vector<int16_t>* pcm);
    bool PrepareMix(const AVFrame* frame);

    std::unique_ptr<Codec> codec;
    std::vector<uint8_t> pending;  // bytes of frames not complete yet
    uint64_t skippedBytes = 0;
    AacFraming framing = AacFraming::kUnknown;
    DualMonoOutput dualMonoOutput = DualMonoOutput::kMain;
    bool dualMono = false;
    bool packetDualMono = false;  // the ADTS header of the packet being decoded says so
    Statistics statistics;
};

}  // namespace orvaudio
