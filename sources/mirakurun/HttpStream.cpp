#include "sources/mirakurun/HttpStream.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace mirakurun {

namespace {

constexpr size_t kMaxDocumentSize = 16u << 20;
// curl's receive buffer: larger reads mean fewer calls at high rates.
constexpr long kReceiveBufferSize = 128 * 1024;
// A reader waiting for data is woken when this much is ready, or when data waited this long.
constexpr size_t kWakeBytes = 64 * 1024;
constexpr auto kWakeInterval = std::chrono::milliseconds(10);
// The worker's longest sleep; Stop wakes it at once.
constexpr int kPollMilliseconds = 1000;
// A stream that sends nothing for this long (or the timeout, when longer) is ended, so that the
// server frees its tuner.
constexpr long kMinStallSeconds = 5;

bool CurlReady() {
    // Never cleaned up: other users of libcurl may live in the process, and the library that
    // holds this driver stays loaded.
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

// A request with what every request of the driver sets: plain HTTP(S) without redirects or
// signals, a bounded connection time and curl's message in `errorBuffer`.
EasyHandle NewRequest(const std::string& url, uint32_t timeoutMs, char* errorBuffer) {
    EasyHandle easy(CurlReady() ? curl_easy_init() : nullptr);
    if (!easy) {
        return easy;
    }
    errorBuffer[0] = '\0';
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(std::max<uint32_t>(timeoutMs, 1)));
    return easy;
}

std::string CurlMessage(int result, const char* errorBuffer) {
    if (errorBuffer != nullptr && errorBuffer[0] != '\0') {
        return errorBuffer;
    }
    return curl_easy_strerror(static_cast<CURLcode>(result));
}

std::string StatusMessage(long status) {
    std::string message = "the server answered HTTP " + std::to_string(status);
    if (status == 503) {
        message += " (no free tuner)";
    }
    return message;
}

struct Document {
    std::string* body;
    bool tooLarge = false;
};

size_t AppendDocument(char* data, size_t unit, size_t count, void* user) {
    auto* document = static_cast<Document*>(user);
    const size_t bytes = unit * count;
    if (document->body->size() + bytes > kMaxDocumentSize) {
        document->tooLarge = true;
        return 0;
    }
    document->body->append(data, bytes);
    return bytes;
}

}  // namespace

bool HttpGet(const std::string& url, uint32_t timeoutMs, std::string* body, std::string* error) {
    char errorBuffer[CURL_ERROR_SIZE];
    body->clear();
    EasyHandle easy = NewRequest(url, timeoutMs, errorBuffer);
    if (!easy) {
        *error = "libcurl could not be initialised";
        return false;
    }
    Document document{body};
    curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT_MS, long(std::max<uint32_t>(timeoutMs, 1)));
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, AppendDocument);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &document);
    const CURLcode result = curl_easy_perform(easy.get());
    if (document.tooLarge) {
        *error = url + ": the answer is larger than " + std::to_string(kMaxDocumentSize) + " bytes";
        return false;
    }
    if (result != CURLE_OK) {
        *error = url + ": " + CurlMessage(result, errorBuffer);
        return false;
    }
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        *error = url + ": " + StatusMessage(status);
        return false;
    }
    return true;
}

// --- the streaming request

// The curl handles of one request. Made and destroyed by the tuning thread, driven in between by
// the worker only.
struct HttpStream::Transfer {
    HttpStream* owner = nullptr;
    CURLM* multi = nullptr;
    EasyHandle easy;
    curl_slist* headers = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    ~Transfer() {
        if (multi != nullptr && easy) {
            curl_multi_remove_handle(multi, easy.get());
        }
        easy.reset();
        curl_slist_free_all(headers);
        if (multi != nullptr) {
            curl_multi_cleanup(multi);
        }
    }

    static size_t OnHeader(char* data, size_t unit, size_t count, void* user) {
        auto* transfer = static_cast<Transfer*>(user);
        const size_t bytes = unit * count;
        // The blank line ends a header block; interim (1xx) blocks come before the real one.
        const bool blankLine = (bytes == 2 && data[0] == '\r') || (bytes == 1 && data[0] == '\n');
        if (blankLine) {
            long status = 0;
            curl_easy_getinfo(transfer->easy.get(), CURLINFO_RESPONSE_CODE, &status);
            if (status >= 200 && !transfer->owner->HeaderDone(status)) {
                return 0;  // ends the transfer
            }
        }
        return bytes;
    }

    static size_t OnBody(char* data, size_t unit, size_t count, void* user) {
        auto* transfer = static_cast<Transfer*>(user);
        transfer->owner->Append(reinterpret_cast<const uint8_t*>(data), unit * count);
        return unit * count;
    }
};

HttpStream::HttpStream(std::string label, size_t capacity)
    : label(std::move(label)),
      capacity(std::max(kPacketSize, capacity / kPacketSize * kPacketSize)) {}

HttpStream::~HttpStream() {
    Stop();
}

HttpStream::StartResult HttpStream::Start(const std::string& url,
                                          const std::vector<std::string>& headers,
                                          uint32_t timeoutMs, std::string* error) {
    Stop();
    auto next = std::make_unique<Transfer>();
    next->owner = this;
    next->easy = NewRequest(url, timeoutMs, next->errorBuffer);
    next->multi = next->easy ? curl_multi_init() : nullptr;
    if (next->multi == nullptr) {
        *error = "libcurl could not be initialised";
        return StartResult::kFailed;
    }
    CURL* easy = next->easy.get();
    for (const std::string& header : headers) {
        next->headers = curl_slist_append(next->headers, header.c_str());
    }
    const long stallSeconds = std::max<long>(kMinStallSeconds, (long(timeoutMs) + 999) / 1000);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, next->headers);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, next.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, next.get());
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    if (curl_multi_add_handle(next->multi, easy) != CURLM_OK) {
        *error = "libcurl could not start the request";
        return StartResult::kFailed;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (ring.empty()) {
            ring.resize(capacity);
        }
        head = size = 0;
        received = 0;
        meter.Clear();
        state = State::kConnecting;
        refusedStatus = 0;
        endMessage.clear();
        overflowReported = false;
    }
    transfer = std::move(next);
    stopRequested.store(false);
    worker = std::thread(&HttpStream::Run, this, transfer.get());

    std::unique_lock<std::mutex> lock(mutex);
    const bool answered = signal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [this] { return state != State::kConnecting; });
    // Bytes came (the request may have ended since, leaving them to be read).
    if (received != 0) {
        return StartResult::kStreaming;
    }
    StartResult result = StartResult::kFailed;
    if (!answered) {
        result = StartResult::kTimedOut;
        *error = url + ": no data within " + std::to_string(timeoutMs) + " ms";
    } else if (refusedStatus != 0) {
        result = StartResult::kRefused;
        *error = url + ": " + StatusMessage(refusedStatus);
    } else {
        *error = url + ": " + endMessage;
    }
    lock.unlock();
    Stop();
    return result;
}

void HttpStream::Stop() {
    if (!transfer) {
        return;
    }
    stopRequested.store(true);
    curl_multi_wakeup(transfer->multi);
    if (worker.joinable()) {
        worker.join();
    }
    transfer.reset();
    std::lock_guard<std::mutex> lock(mutex);
    state = State::kIdle;
    signal.notify_all();
}

void HttpStream::Run(Transfer* current) {
    int running = 1;
    while (!stopRequested.load()) {
        if (curl_multi_perform(current->multi, &running) != CURLM_OK || running == 0) {
            break;
        }
        curl_multi_poll(current->multi, nullptr, 0, kPollMilliseconds, nullptr);
    }
    if (stopRequested.load()) {
        return;
    }
    int result = CURLE_OK;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(current->multi, &left)) {
        if (message->msg == CURLMSG_DONE) {
            result = message->data.result;
        }
    }
    Finish(result, current->errorBuffer);
}

bool HttpStream::HeaderDone(long status) {
    std::lock_guard<std::mutex> lock(mutex);
    if (status == 200) {
        return true;
    }
    refusedStatus = status;
    return false;
}

void HttpStream::Append(const uint8_t* data, size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    const bool wasConnecting = state == State::kConnecting;
    if (wasConnecting) {
        state = State::kStreaming;
    }
    meter.Add(Clock::now(), bytes);
    // The ring keeps at most `capacity` bytes up to the end of this data. When it must drop, it
    // keeps from a packet boundary of the stream (counted from its first byte), so that what the
    // reader gets next starts with a whole packet; the boundary may lie inside this data.
    const uint64_t headOffset = received - size;
    const uint64_t end = received + bytes;
    if (end - headOffset > capacity) {
        const uint64_t keepFrom = (end - capacity + kPacketSize - 1) / kPacketSize * kPacketSize;
        Drop(size_t(std::min<uint64_t>(size, keepFrom - headOffset)));
        if (keepFrom > received) {
            const size_t skipped = size_t(keepFrom - received);
            dropped += skipped;
            data += skipped;
            bytes -= skipped;
        }
        if (!overflowReported) {
            overflowReported = true;
            std::fprintf(stderr, "%s: the reader fell behind, the oldest data is dropped\n",
                         label.c_str());
        }
    }
    const size_t tail = (head + size) % capacity;
    const size_t first = std::min(bytes, capacity - tail);
    std::memcpy(ring.data() + tail, data, first);
    std::memcpy(ring.data(), data + first, bytes - first);
    size += bytes;
    received = end;
    // A waiting reader is woken for a good amount of data, or once the oldest waited a moment:
    // not for every small piece the network brings.
    const Clock::time_point now = Clock::now();
    if (size >= kWakeBytes || now - lastWake >= kWakeInterval || wasConnecting) {
        lastWake = now;
        signal.notify_all();
    }
}

void HttpStream::Drop(size_t bytes) {
    head = (head + bytes) % capacity;
    size -= bytes;
    dropped += bytes;
}

void HttpStream::Finish(int result, const char* curlMessage) {
    std::lock_guard<std::mutex> lock(mutex);
    const bool wasStreaming = state == State::kStreaming;
    if (refusedStatus == 0) {
        endMessage = result == CURLE_OK ? "the server closed the connection"
                                        : CurlMessage(result, curlMessage);
        if (wasStreaming) {
            std::fprintf(stderr, "%s: the stream stopped: %s\n", label.c_str(), endMessage.c_str());
        }
    }
    state = State::kEnded;
    signal.notify_all();
}

bool HttpStream::WaitForData(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex);
    return signal.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return size != 0; });
}

size_t HttpStream::Available() {
    std::lock_guard<std::mutex> lock(mutex);
    return size;
}

size_t HttpStream::Read(uint8_t* out, size_t maxSize) {
    std::lock_guard<std::mutex> lock(mutex);
    const size_t bytes = std::min(maxSize, size);
    if (bytes == 0) {
        return 0;
    }
    const size_t first = std::min(bytes, capacity - head);
    std::memcpy(out, ring.data() + head, first);
    std::memcpy(out + first, ring.data(), bytes - first);
    head = (head + bytes) % capacity;
    size -= bytes;
    return bytes;
}

void HttpStream::Purge() {
    std::lock_guard<std::mutex> lock(mutex);
    head = size = 0;
}

double HttpStream::BitRate() {
    std::lock_guard<std::mutex> lock(mutex);
    return meter.BitsPerSecond(Clock::now());
}

uint64_t HttpStream::DroppedBytes() {
    std::lock_guard<std::mutex> lock(mutex);
    return dropped;
}

HttpStream::State HttpStream::GetState() {
    std::lock_guard<std::mutex> lock(mutex);
    return state;
}

// --- the rate meter

namespace {
int64_t Tenth(std::chrono::steady_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() /
           100;
}
}  // namespace

void HttpStream::RateMeter::Add(Clock::time_point now, size_t bytes) {
    const int64_t tenth = Tenth(now);
    Slot& slot = slots[size_t(tenth % kSlots)];
    if (slot.tenth != tenth) {
        slot = {tenth, 0};
    }
    slot.bytes += bytes;
}

double HttpStream::RateMeter::BitsPerSecond(Clock::time_point now) const {
    // The ten slots before the current one: the last full second.
    const int64_t current = Tenth(now);
    uint64_t bytes = 0;
    for (const Slot& slot : slots) {
        if (slot.tenth >= current - kWindow && slot.tenth < current) {
            bytes += slot.bytes;
        }
    }
    return double(bytes) * 8.0;
}

}  // namespace mirakurun
