#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/dshow/DShowTypes.h"

namespace orvaudio {

// Where the sound renderer's samples go: 16-bit interleaved stereo at 48 kHz. A sink plays
// what is written at the sound device's pace and tells how far playing has come, which is what
// the renderer's clock follows.
//
// Thread-safety: Write, PlayedFrames and Reset come from the renderer's output thread;
// SetPaused and Interrupt may come from any thread while a Write waits.
class AudioSink {
public:
    virtual ~AudioSink() = default;

    // "pulse" or "silent".
    virtual const char* Name() const = 0;
    // Takes what fits of `frames` frames; while nothing fits it waits for room (or for
    // Interrupt, a pause, or about 100 ms) and may then return 0.
    virtual size_t Write(const int16_t* samples, size_t frames) = 0;
    // Frames played since the last Reset, as the device's timing has it.
    virtual int64_t PlayedFrames() = 0;
    // Drops whatever is buffered and starts counting played frames from 0 again.
    virtual void Reset() = 0;
    // A paused sink stops playing and keeps what it holds.
    virtual void SetPaused(bool paused) = 0;
    // Ends the wait of a Write in progress.
    virtual void Interrupt() = 0;
    // How long after the first write of a stream the first frame plays (the sink's prefill).
    virtual REFERENCE_TIME StartDelay() const = 0;
};

// The buffer that sinks keep ahead of playing.
inline constexpr REFERENCE_TIME kSinkBufferTime = 150 * kUnitsPerMillisecond;

// A sink that plays nothing and consumes samples at the monotonic clock's pace.
std::unique_ptr<AudioSink> OpenSilentSink(REFERENCE_TIME bufferTime = kSinkBufferTime);
// A playback stream on the PulseAudio server (PipeWire's pulse server too); null when no
// server answers within a few seconds.
std::unique_ptr<AudioSink> OpenPulseSink(REFERENCE_TIME bufferTime = kSinkBufferTime);

// The environment variable that chooses the sink: "silent" forces the silent sink; otherwise
// the sound server is tried first, and the silent sink plays when none answers.
inline constexpr const char* kSinkVariable = "ORV_AUDIO_SINK";
// Never null: falls back to the silent sink.
std::unique_ptr<AudioSink> OpenAudioSink();

}  // namespace orvaudio
