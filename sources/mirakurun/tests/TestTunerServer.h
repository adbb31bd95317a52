#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sources/IBonDriver.h"

namespace mirakurun::test {

using Bytes = std::vector<uint8_t>;

// What the server answers on one path: made by one of the named constructors, then refined.
struct Reply {
    static constexpr size_t kAll = std::numeric_limits<size_t>::max();

    Reply() = default;
    // A document, sent with its length.
    static Reply Document(std::string body, int status = 200);
    // A status with an empty document.
    static Reply Status(int status) { return Document({}, status); }
    // A stream: status 200 without a length, ended by closing.
    static Reply Stream(std::shared_ptr<const Bytes> bytes);
    static Reply Stream(Bytes bytes) {
        return Stream(std::make_shared<const Bytes>(std::move(bytes)));
    }
    // `text` alone, without a status line.
    static Reply Garbage(std::string text);

    Reply& After(std::chrono::milliseconds wait) {
        delay = wait;
        return *this;
    }
    Reply& CloseAfter(size_t bytes) {
        closeAfter = bytes;
        return *this;
    }
    Reply& HoldAt(std::vector<size_t> offsets) {
        holds = std::move(offsets);
        return *this;
    }
    Reply& Paced(double perSecond) {
        bytesPerSecond = perSecond;
        return *this;
    }
    Reply& Repeated() {
        repeat = true;
        return *this;
    }

    int status = 404;
    std::string body;
    std::shared_ptr<const Bytes> stream;
    std::chrono::milliseconds delay{0};  // before the status line
    bool raw = false;                    // `body` alone, without a status line (garbage)
    size_t closeAfter = kAll;            // stream bytes after which the connection is closed
    std::vector<size_t> holds;  // stream offsets (ascending) where sending waits for Resume
    double bytesPerSecond = 0;  // the stream's pace; 0 sends as fast as it goes
    bool repeat = false;        // the stream starts over at its end
};

// A tuner server for the tests, on the loopback interface at an ephemeral port: plain sockets,
// one thread accepting and one per connection (HTTP/1.1 GET, one request per connection).
// Paths without a reply get 404. Every thread is joined by the destructor, which also ends the
// streams still being served.
class TestTunerServer {
public:
    struct Request {
        std::string path;
        std::string priority;  // the X-Mirakurun-Priority header, or empty
    };

    TestTunerServer();
    ~TestTunerServer();
    TestTunerServer(const TestTunerServer&) = delete;
    TestTunerServer& operator=(const TestTunerServer&) = delete;

    bool Listening() const { return listener >= 0; }
    std::string Url() const;
    void Set(const std::string& path, Reply reply);
    std::vector<Request> Requests();
    // Lets every held stream go on past the hold it waits at.
    void Resume() { resumes.fetch_add(1); }
    // Stream connections being served now.
    int ActiveStreams() const { return activeStreams.load(); }
    // Stream bytes sent so far, over all connections.
    uint64_t StreamBytesSent() const { return streamBytesSent.load(); }
    // CPU time the server's threads have used, in seconds.
    double CpuSeconds();

private:
    void Accept();
    void Serve(int socket);
    void SendStream(int socket, const Reply& reply);
    // Sends everything, waiting for the socket while it is full; false when the peer went or the
    // server stops.
    bool SendAll(int socket, const uint8_t* data, size_t size);
    // Waits until Resume was called `count` times in all; false when the peer went or the server
    // stops.
    bool WaitForResume(int socket, size_t count);
    // Sleeps until `until` or the server stops; false when it stops.
    bool SleepUntil(std::chrono::steady_clock::time_point until);
    // Registers the calling thread's CPU clock; its time counts until it deregisters.
    void CountCpu(bool start);

    int listener = -1;
    uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> activeStreams{0};
    std::atomic<size_t> resumes{0};
    std::atomic<uint64_t> streamBytesSent{0};

    std::mutex mutex;  // guards what follows
    std::condition_variable stopped;
    std::map<std::string, Reply> replies;
    std::vector<Request> requests;
    std::vector<std::thread> connections;
    std::map<std::thread::id, clockid_t> liveClocks;
    double finishedCpu = 0;

    std::thread acceptor;
};

// A port on 127.0.0.1 that refuses connections while the object lives (bound, not listening).
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    std::string Url() const;

private:
    int socket = -1;
    uint16_t port = 0;
};

// What a host does after a wait for data succeeded: takes every ready chunk through the pointer
// form of GetTsStream. Returns the bytes taken, or nothing when a call failed.
inline std::optional<uint64_t> TakeReadyChunks(IBonDriver* driver) {
    uint64_t taken = 0;
    DWORD remaining = 0;
    do {
        BYTE* data = nullptr;
        DWORD size = 0;
        if (!BonDriverResultTrue(driver->GetTsStream(&data, &size, &remaining))) {
            return std::nullopt;
        }
        taken += size;
    } while (remaining != 0);
    return taken;
}

}  // namespace mirakurun::test
