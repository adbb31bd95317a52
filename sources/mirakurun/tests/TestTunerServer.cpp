#include "sources/mirakurun/tests/TestTunerServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace mirakurun::test {

namespace {

constexpr int kTickMilliseconds = 50;
constexpr size_t kMaxRequestSize = 16 * 1024;
// Not whole packets: nothing on the network keeps a stream aligned to its packets.
constexpr size_t kStreamChunk = 10000;

// A TCP socket bound to 127.0.0.1 at an ephemeral port, or -1.
int BindLoopback(uint16_t* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

std::string UrlOf(uint16_t port) {
    return "http://127.0.0.1:" + std::to_string(port);
}

std::string StatusText(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 404:
            return "Not Found";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

// The value of header `name` in a request head, or empty.
std::string HeaderValue(const std::string& head, const char* name) {
    const size_t nameLength = std::strlen(name);
    for (size_t line = head.find("\r\n"); line != std::string::npos;
         line = head.find("\r\n", line + 2)) {
        const size_t start = line + 2;
        if (start + nameLength < head.size() &&
            ::strncasecmp(head.c_str() + start, name, nameLength) == 0 &&
            head[start + nameLength] == ':') {
            const size_t end = head.find("\r\n", start);
            std::string value = head.substr(start + nameLength + 1, end - start - nameLength - 1);
            value.erase(0, value.find_first_not_of(' '));
            return value;
        }
    }
    return {};
}

}  // namespace

Reply Reply::Document(std::string body, int status) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

Reply Reply::Stream(std::shared_ptr<const Bytes> bytes) {
    Reply reply;
    reply.status = 200;
    reply.stream = std::move(bytes);
    return reply;
}

Reply Reply::Garbage(std::string text) {
    Reply reply = Document(std::move(text));
    reply.raw = true;
    return reply;
}

TestTunerServer::TestTunerServer() {
    listener = BindLoopback(&port);
    if (listener >= 0 && ::listen(listener, 16) != 0) {
        ::close(listener);
        listener = -1;
    }
    if (listener >= 0) {
        acceptor = std::thread(&TestTunerServer::Accept, this);
    }
}

TestTunerServer::~TestTunerServer() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping.store(true);
    }
    stopped.notify_all();
    if (acceptor.joinable()) {
        acceptor.join();
    }
    // The acceptor has ended: no connection is added any more.
    for (std::thread& connection : connections) {
        connection.join();
    }
    if (listener >= 0) {
        ::close(listener);
    }
}

std::string TestTunerServer::Url() const {
    return UrlOf(port);
}

void TestTunerServer::Set(const std::string& path, Reply reply) {
    std::lock_guard<std::mutex> lock(mutex);
    replies[path] = std::move(reply);
}

std::vector<TestTunerServer::Request> TestTunerServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex);
    return requests;
}

double TestTunerServer::CpuSeconds() {
    std::lock_guard<std::mutex> lock(mutex);
    double total = finishedCpu;
    for (const auto& [id, clock] : liveClocks) {
        timespec time{};
        if (::clock_gettime(clock, &time) == 0) {
            total += double(time.tv_sec) + double(time.tv_nsec) / 1e9;
        }
    }
    return total;
}

void TestTunerServer::CountCpu(bool start) {
    std::lock_guard<std::mutex> lock(mutex);
    if (start) {
        clockid_t clock{};
        if (::pthread_getcpuclockid(::pthread_self(), &clock) == 0) {
            liveClocks[std::this_thread::get_id()] = clock;
        }
        return;
    }
    timespec time{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    finishedCpu += double(time.tv_sec) + double(time.tv_nsec) / 1e9;
    liveClocks.erase(std::this_thread::get_id());
}

void TestTunerServer::Accept() {
    CountCpu(true);
    while (!stopping.load()) {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, kTickMilliseconds) <= 0) {
            continue;
        }
        const int socket = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket >= 0) {
            std::lock_guard<std::mutex> lock(mutex);
            connections.emplace_back(&TestTunerServer::Serve, this, socket);
        }
    }
    CountCpu(false);
}

void TestTunerServer::Serve(int socket) {
    CountCpu(true);
    // The request head, read until its blank line.
    std::string head;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestSize &&
           !stopping.load() && std::chrono::steady_clock::now() < giveUp) {
        pollfd waiting{socket, POLLIN, 0};
        if (::poll(&waiting, 1, kTickMilliseconds) <= 0) {
            continue;
        }
        char buffer[2048];
        const ssize_t got = ::recv(socket, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            break;
        }
        head.append(buffer, size_t(got));
    }
    const size_t pathStart = head.find(' ');
    const size_t pathEnd =
        pathStart == std::string::npos ? pathStart : head.find(' ', pathStart + 1);
    if (head.rfind("GET ", 0) == 0 && pathEnd != std::string::npos &&
        head.find("\r\n\r\n") != std::string::npos) {
        const std::string path = head.substr(pathStart + 1, pathEnd - pathStart - 1);
        Reply reply;  // 404 unless the path has one
        {
            std::lock_guard<std::mutex> lock(mutex);
            requests.push_back({path, HeaderValue(head, "X-Mirakurun-Priority")});
            if (const auto found = replies.find(path); found != replies.end()) {
                reply = found->second;
            }
        }
        if (SleepUntil(std::chrono::steady_clock::now() + reply.delay)) {
            const std::string statusLine = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                                           StatusText(reply.status) + "\r\n";
            std::string text;
            if (reply.raw) {
                text = reply.body;
            } else if (reply.stream && reply.status == 200) {
                text = statusLine + "Content-Type: video/MP2T\r\nConnection: close\r\n\r\n";
            } else {
                text = statusLine + "Content-Type: application/json\r\nContent-Length: " +
                       std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" +
                       reply.body;
            }
            if (SendAll(socket, reinterpret_cast<const uint8_t*>(text.data()), text.size()) &&
                !reply.raw && reply.stream && reply.status == 200) {
                SendStream(socket, reply);
            }
        }
    }
    ::shutdown(socket, SHUT_WR);
    ::close(socket);
    CountCpu(false);
}

void TestTunerServer::SendStream(int socket, const Reply& reply) {
    activeStreams.fetch_add(1);
    const Bytes& bytes = *reply.stream;
    const auto start = std::chrono::steady_clock::now();
    size_t sent = 0;
    size_t position = 0;
    size_t holdsPassed = 0;
    bool connected = true;
    while (connected && sent < reply.closeAfter && !bytes.empty()) {
        const size_t hold =
            holdsPassed < reply.holds.size() ? reply.holds[holdsPassed] : Reply::kAll;
        if (sent == hold) {
            connected = WaitForResume(socket, ++holdsPassed);
            continue;
        }
        if (position == bytes.size()) {
            if (!reply.repeat) {
                break;
            }
            position = 0;
        }
        const size_t size =
            std::min({kStreamChunk, bytes.size() - position, reply.closeAfter - sent, hold - sent});
        if (reply.bytesPerSecond > 0 &&
            !SleepUntil(start +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(double(sent) / reply.bytesPerSecond)))) {
            break;
        }
        connected = SendAll(socket, bytes.data() + position, size);
        if (connected) {
            position += size;
            sent += size;
            streamBytesSent.fetch_add(size);
        }
    }
    activeStreams.fetch_sub(1);
}

bool TestTunerServer::WaitForResume(int socket, size_t count) {
    while (resumes.load() < count) {
        if (stopping.load()) {
            return false;
        }
        pollfd waiting{socket, POLLIN, 0};
        if (::poll(&waiting, 1, kTickMilliseconds) > 0) {
            char buffer[256];
            if (::recv(socket, buffer, sizeof(buffer), 0) <= 0) {
                return false;  // the client went
            }
        }
    }
    return true;
}

bool TestTunerServer::SendAll(int socket, const uint8_t* data, size_t size) {
    while (size > 0) {
        if (stopping.load()) {
            return false;
        }
        const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            data += sent;
            size -= size_t(sent);
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        pollfd waiting{socket, POLLOUT, 0};
        ::poll(&waiting, 1, kTickMilliseconds);
    }
    return true;
}

bool TestTunerServer::SleepUntil(std::chrono::steady_clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex);
    return !stopped.wait_until(lock, until, [this] { return stopping.load(); });
}

ClosedPort::ClosedPort() {
    socket = BindLoopback(&port);
}

ClosedPort::~ClosedPort() {
    if (socket >= 0) {
        ::close(socket);
    }
}

std::string ClosedPort::Url() const {
    return UrlOf(port);
}

}  // namespace mirakurun::test
