#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mirakurun {

// Fetches a small document (a JSON list) with GET. Returns false with a message in `error` when
// the server cannot be reached, answers anything but 200, sends more than 16 MiB or takes longer
// than `timeoutMs` in all; blocks the caller at most that long.
bool HttpGet(const std::string& url, uint32_t timeoutMs, std::string* body, std::string* error);

// One streaming GET at a time, received by a worker thread into a bounded ring buffer from which
// a reader takes the bytes.
//
// Threads: Start and Stop are called by one tuning thread at a time (the driver serialises
// them); Stop joins the worker. The reader calls (WaitForData, Available, Read, Purge, BitRate)
// may come from any other thread at any time. `mutex` guards the ring, the state and the rate
// meter; the worker holds it only to append what curl hands it, so a reader never waits on the
// network. `signal` is notified when the state changes and when bytes arrive (for small pieces
// at most every 10 ms, so that a fast stream does not wake the reader for each).
//
// When the reader falls behind and the ring is full, the oldest bytes are dropped in whole
// 188-byte packets (the stream keeps its packet alignment) and counted, as a tuner's buffer
// overflows.
class HttpStream {
public:
    static constexpr size_t kPacketSize = 188;
    // About a second of a 60 Mbit/s stream.
    static constexpr size_t kDefaultCapacity = kPacketSize * 40960;

    enum class State {
        kIdle,        // no request
        kConnecting,  // request sent, no body byte yet
        kStreaming,   // body bytes arriving
        kEnded,       // the request ended by itself (refused, failed or the connection closed)
    };
    enum class StartResult { kStreaming, kRefused, kFailed, kTimedOut };

    // `label` starts the messages written to standard error. `capacity` is rounded down to whole
    // packets (at least one).
    explicit HttpStream(std::string label, size_t capacity = kDefaultCapacity);
    ~HttpStream();
    HttpStream(const HttpStream&) = delete;
    HttpStream& operator=(const HttpStream&) = delete;

    // Ends any previous request, empties the ring and opens `url` with the extra header lines
    // `headers`. Waits up to `timeoutMs` for the first body bytes: kStreaming when they came,
    // kRefused when the server answered with a status other than 200 (in `error`, 503 meaning it
    // has no free tuner), kFailed when the request failed (server down, connection closed before
    // any data) and kTimedOut when nothing came in time; the request is ended in all but the
    // first case.
    StartResult Start(const std::string& url, const std::vector<std::string>& headers,
                      uint32_t timeoutMs, std::string* error);
    // Ends the request and joins the worker; the bytes already received stay readable.
    void Stop();

    // Waits up to `milliseconds` for bytes; true when some are ready.
    bool WaitForData(uint32_t milliseconds);
    size_t Available();
    // Moves up to `maxSize` of the oldest bytes to `out`; returns how many.
    size_t Read(uint8_t* out, size_t maxSize);
    void Purge();

    // Bits per second received over the last full second.
    double BitRate();
    // Bytes dropped because the ring was full, since the object was made.
    uint64_t DroppedBytes();
    State GetState();

private:
    struct Transfer;
    using Clock = std::chrono::steady_clock;

    // Counts bytes in tenth-of-a-second slots: the ten of the last full second and the current
    // one.
    struct RateMeter {
        static constexpr int kWindow = 10;
        static constexpr int kSlots = kWindow + 1;
        struct Slot {
            int64_t tenth = -1;
            uint64_t bytes = 0;
        };
        std::array<Slot, kSlots> slots{};
        void Add(Clock::time_point now, size_t bytes);
        double BitsPerSecond(Clock::time_point now) const;
        void Clear() { slots = {}; }
    };

    // The worker: runs the transfer until it ends or Stop asks.
    void Run(Transfer* transfer);
    // From the worker's callbacks.
    bool HeaderDone(long status);
    void Append(const uint8_t* data, size_t size);
    void Finish(int result, const char* curlMessage);
    // Under `mutex`.
    void Drop(size_t size);

    const std::string label;
    const size_t capacity;

    std::mutex mutex;
    std::condition_variable signal;
    std::vector<uint8_t> ring;  // allocated on the first Start
    size_t head = 0;            // offset of the oldest byte
    size_t size = 0;            // bytes buffered
    uint64_t received = 0;      // stream offset of the ring's end: bytes of the request so far
    uint64_t dropped = 0;
    bool overflowReported = false;
    State state = State::kIdle;
    long refusedStatus = 0;  // the status of a refusal, else 0
    std::string endMessage;  // why the request ended
    RateMeter meter;
    Clock::time_point lastWake;  // when the worker last woke the readers

    // Owned by the tuning thread (Start, Stop); the worker reads `stopRequested`.
    std::unique_ptr<Transfer> transfer;
    std::atomic<bool> stopRequested{false};
    std::thread worker;
};

}  // namespace mirakurun
