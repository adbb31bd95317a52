#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseInputPin.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/media/audio/AudioClock.h"
#include "platform/media/audio/AudioInterfaces.h"
#include "platform/media/audio/AudioSink.h"

class CAudioRenderer;

// The renderer's input pin "In": 16-bit stereo PCM at 48 kHz only.
class CAudioRendererInputPin final : public CBaseInputPin {
public:
    CAudioRendererInputPin(CAudioRenderer* renderer, HRESULT* hr);

    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT QueryId(LPWSTR* id) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

private:
    CAudioRenderer* renderer;
};

// The default sound renderer (CLSID_DSoundRender): plays PCM on an audio sink (the sound
// server, or the silent sink) and is the graph's reference clock.
//
// Unlike a renderer that waits for each sample's time on the streaming thread, it queues what
// arrives (up to kMaxQueuedTime; beyond that Receive waits) and an output thread of its own
// writes to the sink at the sink's pace, keeping a timeline in stream time: audio that is late
// for the timeline by more than kTolerance is dropped, audio that is early waits while silence
// plays, and with nothing queued silence plays too, so the sink and the clock keep running.
// The volume (IBasicAudio) is applied to the samples on their way to the sink, then the tap
// sees them.
//
// The clock (IReferenceClock, answered by the filter) follows the sink's play position while
// running and the monotonic clock otherwise; see AudioClock.
//
// End of stream raises EC_COMPLETE once everything queued has been played (at Run when it came
// while paused); flush and stop empty the queue and the sink. Pause holds the sink.
//
// Threads and locks: state changes take the filter lock, then the queue lock; the streaming
// thread takes the queue lock only; the output thread takes the queue lock to take work and
// writes to the sink without it. Stop joins the output thread after it has been woken.
class CAudioRenderer final : public CBaseFilter,
                             public IBasicAudio,
                             public IReferenceClock,
                             public IAMFilterMiscFlags,
                             public IOrvAudioOutput {
public:
    static constexpr REFERENCE_TIME kTolerance = 30 * kUnitsPerMillisecond;
    static constexpr REFERENCE_TIME kMaxQueuedTime = 12 * kUnitsPerSecond;
    // The output thread writes blocks of this many frames (20 ms).
    static constexpr size_t kBlockFrames = 960;

    CAudioRenderer(IUnknown* outer, HRESULT* hr);
    ~CAudioRenderer() override;
    DECLARE_IUNKNOWN

    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;

    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;

    ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    // IBasicAudio
    ORV_NO_DISPATCH
    HRESULT put_Volume(LONG volume) override;
    HRESULT get_Volume(LONG* volume) override;
    HRESULT put_Balance(LONG balance) override;
    HRESULT get_Balance(LONG* balance) override;

    // IReferenceClock
    HRESULT GetTime(REFERENCE_TIME* time) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                       DWORD_PTR* cookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                           DWORD_PTR* cookie) override;
    HRESULT Unadvise(DWORD_PTR cookie) override;

    // IOrvAudioOutput
    HRESULT SetTap(IOrvAudioTap* tap) override;
    HRESULT GetSinkName(const char** name) override;
    HRESULT GetStatistics(OrvAudioOutputStatistics* statistics) override;

private:
    friend class CAudioRendererInputPin;

    // A received sample's PCM and where it plays.
    struct Chunk {
        bool timed = false;
        REFERENCE_TIME start = 0;
        std::vector<int16_t> samples;  // interleaved stereo
        size_t consumed = 0;           // frames already taken
        size_t Frames() const { return samples.size() / 2 - consumed; }
    };

    // What the output thread writes next.
    enum class BlockKind { kNone, kAudio, kSilence, kEndOfStream };

    HRESULT ReceiveSample(IMediaSample* sample);
    HRESULT ReceiveEndOfStream();
    void BeginFlushQueue();
    void EndFlushQueue();

    void StartOutput();
    void StopOutput();
    void OutputLoop();
    // Takes the next block from the queue (under the queue lock) into `block`.
    BlockKind TakeBlock(std::vector<int16_t>* block, REFERENCE_TIME* blockTime);
    void ApplyVolume(std::vector<int16_t>* block) const;
    void ClearQueueLocked();

    CCritSec filterLock;
    CAudioRendererInputPin* inputPin = nullptr;

    std::unique_ptr<orvaudio::AudioSink> sink;
    const char* sinkName = "";
    orvaudio::AudioClock clock;

    // The queue and the output thread's state, under queueMutex.
    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<Chunk> queue;
    int64_t queuedFrames = 0;
    bool flushing = false;
    bool endOfStream = false;
    bool completeSent = false;
    bool resetSink = true;  // the output thread resets the sink and the timeline first
    bool timelineValid = false;
    REFERENCE_TIME timelineStart = 0;  // stream time of the first frame of the timeline
    int64_t timelineFrames = 0;        // frames written since
    bool stopOutput = false;
    std::thread outputThread;

    std::atomic<LONG> volume{0};
    std::atomic<LONG> balance{0};
    std::atomic<float> leftGain{1.0f};
    std::atomic<float> rightGain{1.0f};

    std::mutex tapMutex;  // held while the tap is called
    IOrvAudioTap* tap = nullptr;

    std::atomic<uint64_t> framesPlayed{0};
    std::atomic<uint64_t> framesSilence{0};
    std::atomic<uint64_t> framesDropped{0};
};
