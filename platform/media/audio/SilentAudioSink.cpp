#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/dshow/CSystemClock.h"
#include "platform/media/audio/AacStreamDecoder.h"
#include "platform/media/audio/AudioSink.h"

namespace orvaudio {

namespace {

// Plays into nothing: a buffer of `bufferTime` that empties at the sample rate by the
// monotonic clock while not paused. Starved, it waits with playing where the data ended, so
// the next write plays at once.
class SilentAudioSink final : public AudioSink {
public:
    explicit SilentAudioSink(REFERENCE_TIME bufferTime)
        : capacity(std::max<int64_t>(bufferTime * kOutputRate / kUnitsPerSecond, 256)) {}

    const char* Name() const override { return "silent"; }

    size_t Write(const int16_t*, size_t frames) override {
        std::unique_lock<std::mutex> lock(mutex);
        const int64_t wanted = std::min<int64_t>(int64_t(frames), capacity / 4);
        for (;;) {
            const REFERENCE_TIME now = CSystemClock::MonotonicNow();
            Mark(now);
            const int64_t room = capacity - (written - played);
            if (room > 0 && frames > 0 && (room >= wanted || interrupted)) {
                const int64_t taken = std::min<int64_t>(room, int64_t(frames));
                written += taken;
                interrupted = false;
                return size_t(taken);
            }
            if (interrupted || frames == 0) {
                interrupted = false;
                return 0;
            }
            // Wait until the buffer has played down far enough for the wanted frames.
            const int64_t missing = wanted - room;
            const REFERENCE_TIME wait =
                paused ? 100 * kUnitsPerMillisecond
                       : std::min<REFERENCE_TIME>(missing * kUnitsPerSecond / kOutputRate + 1,
                                                  100 * kUnitsPerMillisecond);
            changed.wait_for(lock, std::chrono::microseconds(wait / 10 + 1));
            if (paused && !interrupted) {
                return 0;
            }
        }
    }

    int64_t PlayedFrames() override {
        std::lock_guard<std::mutex> lock(mutex);
        Mark(CSystemClock::MonotonicNow());
        return played;
    }

    void Reset() override {
        std::lock_guard<std::mutex> lock(mutex);
        written = 0;
        played = 0;
        markTime = CSystemClock::MonotonicNow();
        remainder = 0;
    }

    void SetPaused(bool pause) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            Mark(CSystemClock::MonotonicNow());
            paused = pause;
        }
        changed.notify_all();
    }

    void Interrupt() override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            interrupted = true;
        }
        changed.notify_all();
    }

    REFERENCE_TIME StartDelay() const override { return 0; }

private:
    // Brings `played` up to `now`: the frames due since the last mark, never past what was
    // written. The fraction of a frame left over is kept so that no time is lost.
    void Mark(REFERENCE_TIME now) {
        const REFERENCE_TIME elapsed = std::max<REFERENCE_TIME>(now - markTime, 0);
        markTime = now;
        if (paused) {
            return;
        }
        const int64_t units = elapsed * kOutputRate + remainder;
        const int64_t due = units / kUnitsPerSecond;
        remainder = units % kUnitsPerSecond;
        played = std::min(written, played + due);
        if (played == written) {
            remainder = 0;
        }
    }

    const int64_t capacity;  // frames
    std::mutex mutex;
    std::condition_variable changed;
    int64_t written = 0;
    int64_t played = 0;
    REFERENCE_TIME markTime = CSystemClock::MonotonicNow();
    int64_t remainder = 0;
    bool paused = false;
    bool interrupted = false;
};

}  // namespace

std::unique_ptr<AudioSink> OpenSilentSink(REFERENCE_TIME bufferTime) {
    return std::make_unique<SilentAudioSink>(bufferTime);
}

}  // namespace orvaudio
