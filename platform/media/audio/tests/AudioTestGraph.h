#pragma once

// The sound renderer in a graph for the tests: a source the test thread feeds with PCM, a tap
// that records what the renderer outputs, and the graph's events.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseOutputPin.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/media/audio/AudioInterfaces.h"

namespace audiotest {

inline constexpr REFERENCE_TIME kMs = kUnitsPerMillisecond;

// `frames` frames of a stereo sine (the same on both channels), as 16-bit samples.
std::vector<int16_t> ToneSamples(double frequency, double amplitude, size_t frames);

class AudioPushPin final : public CBaseOutputPin {
public:
    AudioPushPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const CMediaType& type);
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

private:
    CMediaType offered;
};

// Offers one audio type on its pin "Out" (16-bit stereo PCM at 48 kHz unless told otherwise)
// and delivers what the test pushes, from the calling thread.
class PcmSource final : public CBaseFilter {
public:
    // The largest push: one second of PCM.
    static constexpr size_t kMaxBytes = 48000 * 4;

    PcmSource();
    explicit PcmSource(const CMediaType& type);
    ~PcmSource() override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

    // One sample of these frames starting at stream time `start` (untimed when null).
    HRESULT Push(const std::vector<int16_t>& samples, const REFERENCE_TIME* start);
    // One sample of these bytes, from `start` to `stop` (untimed when `start` is null).
    HRESULT PushBytes(const uint8_t* data, size_t size, const REFERENCE_TIME* start,
                      REFERENCE_TIME stop);
    HRESULT PushEndOfStream() { return pin->DeliverEndOfStream(); }
    HRESULT PushBeginFlush() { return pin->DeliverBeginFlush(); }
    HRESULT PushEndFlush() { return pin->DeliverEndFlush(); }

    CCritSec lock;
    AudioPushPin* pin;
};

// The type the analyzer's "Audio" pin offers first: AAC in ADTS frames.
CMediaType AdtsType();

// Records the renderer's output block by block; the test's phase marks which blocks belong to
// which part of the test.
class TapRecorder final : public IOrvAudioTap {
public:
    struct Block {
        REFERENCE_TIME time;
        uint32_t frames;
        bool silent;  // all zero
        int phase;
    };

    void OnAudioOutput(const int16_t* samples, uint32_t frames, REFERENCE_TIME time) override;

    std::vector<Block> Blocks();
    // The samples of the blocks that were not silent (of one phase, or of all with -1).
    std::vector<int16_t> Sound(int ofPhase = -1);
    size_t SoundFrames(int ofPhase = -1);

    std::atomic<int> phase{0};

private:
    std::mutex mutex;
    std::vector<Block> blocks;
    std::map<int, std::vector<int16_t>> sound;
};

// Waits for the graph event `code`; true when it came within `milliseconds`.
bool WaitForEvent(IMediaEventEx* events, LONG code, int milliseconds);

}  // namespace audiotest
