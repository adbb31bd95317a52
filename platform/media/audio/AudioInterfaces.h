#pragma once

#include <cstdint>

#include "platform/com/Unknown.h"
#include "platform/dshow/DShowTypes.h"

// The audio filters' own interfaces, beside the platform ones they answer (IBasicAudio and
// IReferenceClock on the sound renderer).

// What the two speakers play of a dual-mono stream (two single channel elements, as the
// broadcasts send a programme in two languages). Other streams are not affected.
enum class DualMonoOutput : int32_t {
    kMain = 0,  // the first element on both speakers (the default)
    kSub = 1,   // the second element on both speakers
    kBoth = 2,  // the first on the left, the second on the right
};

// Answered by the audio decoder filter. The choice takes effect with the next decoded frame.
class IOrvDualMono : public IUnknown {
public:
    static constexpr IID kIid{
        0x9115629B, 0x35BD, 0x4E17, {0x90, 0x4D, 0x47, 0x25, 0x2D, 0x5E, 0x67, 0x39}};
    virtual HRESULT SetDualMonoOutput(DualMonoOutput output) = 0;
    virtual HRESULT GetDualMonoOutput(DualMonoOutput* output) = 0;
    // S_OK while the stream being decoded is dual mono, S_FALSE otherwise.
    virtual HRESULT IsDualMono() = 0;

protected:
    ~IOrvDualMono() = default;
};
inline constexpr const IID& IID_IOrvDualMono = IOrvDualMono::kIid;

// Receives what the sound renderer outputs: 16-bit interleaved stereo at 48 kHz, after the
// volume, including the silence that fills gaps. Called on the renderer's output thread;
// `streamTime` is the stream time at which the first frame plays.
class IOrvAudioTap {
public:
    virtual void OnAudioOutput(const int16_t* samples, uint32_t frames,
                               REFERENCE_TIME streamTime) = 0;

protected:
    ~IOrvAudioTap() = default;
};

// How the sound renderer's output went since it was created.
struct OrvAudioOutputStatistics {
    uint64_t framesPlayed = 0;   // audio frames written to the sink (silence excluded)
    uint64_t framesSilence = 0;  // silence written to fill gaps or wait for early audio
    uint64_t framesDropped = 0;  // late audio that was not played
};

// Answered by the sound renderer: its tap for tests and tools, the sink in use, statistics.
class IOrvAudioOutput : public IUnknown {
public:
    static constexpr IID kIid{
        0x8DB8DF07, 0x197B, 0x4ABF, {0xAE, 0x82, 0x64, 0xED, 0x6B, 0x57, 0x6C, 0x14}};
    // Sets (or with null removes) the tap. The tap must outlive its registration; when this
    // returns, a removed tap is no longer called.
    virtual HRESULT SetTap(IOrvAudioTap* tap) = 0;
    // The sink's name: "pulse" or "silent" (empty until the renderer first pauses).
    virtual HRESULT GetSinkName(const char** name) = 0;
    virtual HRESULT GetStatistics(OrvAudioOutputStatistics* statistics) = 0;

protected:
    ~IOrvAudioOutput() = default;
};
inline constexpr const IID& IID_IOrvAudioOutput = IOrvAudioOutput::kIid;
