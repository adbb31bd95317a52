#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/media/audio/AacStreamDecoder.h"
#include "platform/media/audio/AudioSink.h"

namespace orvaudio {

namespace {

// How long a sound server may take to accept the connection and the stream.
constexpr auto kConnectTimeout = std::chrono::seconds(3);

// The callbacks only wake whoever waits on the main loop (Write, Open).
void SignalMainLoop(pa_threaded_mainloop* mainLoop) {
    pa_threaded_mainloop_signal(mainLoop, 0);
}

// A playback stream on the sound server, run by libpulse's threaded main loop.
//
// Lock order: the main loop's lock guards the context and the stream; nothing else is locked
// inside it. The stream's own timing (interpolated between the server's updates) gives the
// played position.
class PulseAudioSink final : public AudioSink {
public:
    ~PulseAudioSink() override { Close(); }

    bool Open(REFERENCE_TIME bufferTime) {
        mainLoop = pa_threaded_mainloop_new();
        if (mainLoop == nullptr) {
            return false;
        }
        context = pa_context_new(pa_threaded_mainloop_get_api(mainLoop), "Orvanta");
        if (context == nullptr) {
            return false;
        }
        pa_context_set_state_callback(
            context, [](pa_context*, void* self) { static_cast<PulseAudioSink*>(self)->Wake(); },
            this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(mainLoop) < 0) {
            return false;
        }
        mainLoopRunning = true;
        if (!WaitUntil([this] {
                const pa_context_state_t state = pa_context_get_state(context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            }) ||
            ContextState() != PA_CONTEXT_READY) {
            return false;
        }
        const pa_sample_spec format{PA_SAMPLE_S16LE, uint32_t(kOutputRate), uint8_t(kOutputChannels)};
        pa_threaded_mainloop_lock(mainLoop);
        stream = pa_stream_new(context, "Orvanta", &format, nullptr);
        if (stream != nullptr) {
            pa_stream_set_state_callback(
                stream, [](pa_stream*, void* self) { static_cast<PulseAudioSink*>(self)->Wake(); },
                this);
            pa_stream_set_write_callback(
                stream,
                [](pa_stream*, size_t, void* self) { static_cast<PulseAudioSink*>(self)->Wake(); },
                this);
            pa_buffer_attr attributes{};
            attributes.maxlength = uint32_t(-1);
            attributes.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(bufferTime / 10), &format));
            attributes.prebuf = uint32_t(-1);
            attributes.minreq = uint32_t(pa_usec_to_bytes(20000, &format));
            attributes.fragsize = uint32_t(-1);
            const auto flags =
                pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                  PA_STREAM_ADJUST_LATENCY);
            if (pa_stream_connect_playback(stream, nullptr, &attributes, flags, nullptr, nullptr) <
                0) {
                pa_stream_unref(stream);
                stream = nullptr;
            }
        }
        pa_threaded_mainloop_unlock(mainLoop);
        if (stream == nullptr) {
            return false;
        }
        startDelay = bufferTime;
        return WaitUntil([this] {
                   const pa_stream_state_t state = pa_stream_get_state(stream);
                   return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
               }) &&
               StreamState() == PA_STREAM_READY;
    }

    const char* Name() const override { return "pulse"; }

    size_t Write(const int16_t* samples, size_t frames) override {
        pa_threaded_mainloop_lock(mainLoop);
        size_t written = 0;
        // A stream the server has dropped takes nothing and calls back no more.
        const bool alive = PA_STREAM_IS_GOOD(pa_stream_get_state(stream));
        if (frames > 0 && !interrupted && !paused && alive) {
            size_t writable = pa_stream_writable_size(stream);
            if (writable == size_t(-1) || writable == 0) {
                // Waits for the write callback (the server wants data), a state change, or
                // Interrupt; the server may also be gone, which the state shows.
                pa_threaded_mainloop_wait(mainLoop);
                writable = PA_STREAM_IS_GOOD(pa_stream_get_state(stream))
                               ? pa_stream_writable_size(stream)
                               : 0;
            }
            if (writable != size_t(-1) && writable > 0 && !interrupted) {
                const size_t count = std::min(frames, writable / size_t(kOutputFrameBytes));
                if (count > 0 && pa_stream_write(stream, samples, count * size_t(kOutputFrameBytes),
                                                 nullptr, 0, PA_SEEK_RELATIVE) == 0) {
                    written = count;
                }
            }
        }
        interrupted = false;
        pa_threaded_mainloop_unlock(mainLoop);
        if (written == 0 && (paused || frames == 0 || !alive)) {
            // A corked stream takes nothing: the caller looks again after a moment.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return written;
    }

    int64_t PlayedFrames() override {
        pa_threaded_mainloop_lock(mainLoop);
        pa_usec_t time = 0;
        if (pa_stream_get_time(stream, &time) == 0) {
            const int64_t frames = int64_t(time) * kOutputRate / 1000000;
            played = std::max<int64_t>(frames - playedBase, played);
        }
        const int64_t result = played;
        pa_threaded_mainloop_unlock(mainLoop);
        return result;
    }

    void Reset() override {
        pa_threaded_mainloop_lock(mainLoop);
        if (pa_operation* operation = pa_stream_flush(stream, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
        pa_usec_t time = 0;
        playedBase = pa_stream_get_time(stream, &time) == 0 ? int64_t(time) * kOutputRate / 1000000
                                                            : playedBase + played;
        played = 0;
        pa_threaded_mainloop_unlock(mainLoop);
    }

    void SetPaused(bool pause) override {
        pa_threaded_mainloop_lock(mainLoop);
        paused = pause;
        if (pa_operation* operation = pa_stream_cork(stream, pause ? 1 : 0, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
        pa_threaded_mainloop_signal(mainLoop, 0);
        pa_threaded_mainloop_unlock(mainLoop);
    }

    void Interrupt() override {
        pa_threaded_mainloop_lock(mainLoop);
        interrupted = true;
        pa_threaded_mainloop_signal(mainLoop, 0);
        pa_threaded_mainloop_unlock(mainLoop);
    }

    REFERENCE_TIME StartDelay() const override { return startDelay; }

private:
    void Wake() { SignalMainLoop(mainLoop); }

    pa_context_state_t ContextState() {
        pa_threaded_mainloop_lock(mainLoop);
        const pa_context_state_t state = pa_context_get_state(context);
        pa_threaded_mainloop_unlock(mainLoop);
        return state;
    }

    pa_stream_state_t StreamState() {
        pa_threaded_mainloop_lock(mainLoop);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        pa_threaded_mainloop_unlock(mainLoop);
        return state;
    }

    // Looks at `done` under the main loop's lock every 10 ms until it holds or the connection
    // time is up (a server that never answers must not hang the graph).
    template <typename Done>
    bool WaitUntil(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
        for (;;) {
            pa_threaded_mainloop_lock(mainLoop);
            const bool finished = done();
            pa_threaded_mainloop_unlock(mainLoop);
            if (finished) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void Close() {
        if (mainLoop == nullptr) {
            return;
        }
        if (mainLoopRunning) {
            pa_threaded_mainloop_lock(mainLoop);
        }
        if (stream != nullptr) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        if (mainLoopRunning) {
            pa_threaded_mainloop_unlock(mainLoop);
            pa_threaded_mainloop_stop(mainLoop);
        }
        pa_threaded_mainloop_free(mainLoop);
        mainLoop = nullptr;
    }

    pa_threaded_mainloop* mainLoop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    bool mainLoopRunning = false;
    REFERENCE_TIME startDelay = 0;
    // Under the main loop's lock.
    bool interrupted = false;
    bool paused = false;
    int64_t played = 0;
    int64_t playedBase = 0;  // the stream time's frames at the last Reset
};

}  // namespace

std::unique_ptr<AudioSink> OpenPulseSink(REFERENCE_TIME bufferTime) {
    auto sink = std::make_unique<PulseAudioSink>();
    if (!sink->Open(bufferTime)) {
        return nullptr;
    }
    return sink;
}

}  // namespace orvaudio
