#include "tools/isdbsim/bondriver/DemoBonDriver.h"

#include "tools/isdbsim/bondriver/DemoBroadcastClock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace isdbsim {

namespace {

// ORV_DEMO_TUNER_OUTAGE=START,LENGTH loses the signal for LENGTH seconds of stream time from
// START seconds after each tune: nothing is delivered and the level reads 0, while the
// broadcast goes on (the stream resumes where the broadcast is by then, as after a real loss).
std::pair<double, double> OutageFromEnvironment() {
    const char* text = std::getenv("ORV_DEMO_TUNER_OUTAGE");
    double start = 0.0;
    double length = 0.0;
    if (text == nullptr || std::sscanf(text, "%lf,%lf", &start, &length) != 2 || start < 0.0 ||
        length <= 0.0) {
        return {0.0, 0.0};
    }
    return {start, start + length};
}

}  // namespace

// ORV_DEMO_TUNER_SPEED (benchmarks feed a recording at several times a broadcast's rate with it,
// tests run a broadcast through a reservation) and ORV_DEMO_TUNER_START: DemoBroadcastClock.h.
DemoBonDriver::DemoBonDriver()
    : speed(DemoTunerSpeed()),
      outage(OutageFromEnvironment()),
      maxChunks(static_cast<size_t>(kMaxChunks * std::max(1.0, speed))) {}

bool DemoBonDriver::InOutage() const {
    const double t = stream->ElapsedSeconds();
    return t >= outage.first && t < outage.second;
}

DemoBonDriver::~DemoBonDriver() {
    CloseTuner();
}

BOOL DemoBonDriver::OpenTuner() {
    std::lock_guard<std::mutex> lock(mutex);
    if (open) {
        return TRUE;
    }
    open = true;
    stopping = false;
    worker = std::thread([this] { Run(); });
    return TRUE;
}

void DemoBonDriver::CloseTuner() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!open) {
            return;
        }
        stopping = true;
    }
    ready.notify_all();
    worker.join();
    std::lock_guard<std::mutex> lock(mutex);
    open = false;
    stream.reset();
    chunks.clear();
    space = channel = 0xFFFFFFFF;
}

BOOL DemoBonDriver::SetChannel(const BYTE bCh) {
    // The old single-number form: a UHF channel number (13-62), or else a channel index.
    const auto& channels = TuningSpaces()[0].channels;
    for (size_t i = 0; i < channels.size(); ++i) {
        if (channels[i].physicalChannel == bCh) {
            return SetChannel(DWORD{0}, static_cast<DWORD>(i));
        }
    }
    return SetChannel(DWORD{0}, DWORD{bCh});
}

BOOL DemoBonDriver::SetChannel(const DWORD dwSpace, const DWORD dwChannel) {
    const TransportStreamInfo* info = FindChannel(static_cast<int>(dwSpace & 0x7FFFFFFF),
                                                  static_cast<int>(dwChannel & 0x7FFFFFFF));
    if (info == nullptr) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!open) {
            return FALSE;
        }
    }
    // Encoding the loops takes a moment on the first tune to a channel; it happens outside
    // the lock so that readers are not held up.
    auto tuned = std::make_unique<TsStream>(*info, DemoBroadcastNow(), 1);
    if (!tuned->Open(nullptr)) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(mutex);
    stream = std::move(tuned);
    chunks.clear();
    space = dwSpace;
    channel = dwChannel;
    ++tuneGeneration;
    ready.notify_all();
    return TRUE;
}

float DemoBonDriver::GetSignalLevel() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!stream || InOutage()) {
        return 0.0f;
    }
    // A C/N ratio in dB that wanders a little, as a real antenna's does.
    const double t = stream->ElapsedSeconds();
    const double base = stream->Info().spaceType == SpaceType::Terrestrial ? 27.5 : 13.8;
    return static_cast<float>(base + 0.4 * std::sin(t * 0.7) + 0.15 * std::sin(t * 5.3));
}

DWORD DemoBonDriver::WaitTsStream(const DWORD dwTimeOut) {
    std::unique_lock<std::mutex> lock(mutex);
    const auto has = [this] { return !chunks.empty() || stopping; };
    if (dwTimeOut == 0xFFFFFFFF) {
        ready.wait(lock, has);
    } else if (!ready.wait_for(lock, std::chrono::milliseconds(dwTimeOut), has)) {
        return kWaitTimeout;
    }
    return chunks.empty() ? kWaitTimeout : kWaitObject0;
}

DWORD DemoBonDriver::GetReadyCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<DWORD>(chunks.size());
}

BOOL DemoBonDriver::GetTsStream(BYTE* pDst, DWORD* pdwSize, DWORD* pdwRemain) {
    if (pDst == nullptr || pdwSize == nullptr) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (chunks.empty()) {
        *pdwSize = 0;
        if (pdwRemain != nullptr) {
            *pdwRemain = 0;
        }
        return TRUE;
    }
    std::memcpy(pDst, chunks.front().data(), chunks.front().size());
    *pdwSize = static_cast<DWORD>(chunks.front().size());
    chunks.pop_front();
    if (pdwRemain != nullptr) {
        *pdwRemain = static_cast<DWORD>(chunks.size());
    }
    return TRUE;
}

BOOL DemoBonDriver::GetTsStream(BYTE** ppDst, DWORD* pdwSize, DWORD* pdwRemain) {
    if (ppDst == nullptr || pdwSize == nullptr) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (chunks.empty()) {
        *ppDst = nullptr;
        *pdwSize = 0;
        if (pdwRemain != nullptr) {
            *pdwRemain = 0;
        }
        return TRUE;
    }
    // The pointer stays valid until the next call.
    handedOut = std::move(chunks.front());
    chunks.pop_front();
    *ppDst = handedOut.data();
    *pdwSize = static_cast<DWORD>(handedOut.size());
    if (pdwRemain != nullptr) {
        *pdwRemain = static_cast<DWORD>(chunks.size());
    }
    return TRUE;
}

void DemoBonDriver::PurgeTsStream() {
    std::lock_guard<std::mutex> lock(mutex);
    chunks.clear();
}

void DemoBonDriver::Release() {
    delete this;
}

LPCTSTR DemoBonDriver::GetTunerName() {
    return u"Demo Tuner (ISDB simulator)";
}

BOOL DemoBonDriver::IsTunerOpening() {
    std::lock_guard<std::mutex> lock(mutex);
    return open ? TRUE : FALSE;
}

LPCTSTR DemoBonDriver::EnumTuningSpace(const DWORD dwSpace) {
    const auto& spaces = TuningSpaces();
    return dwSpace < spaces.size() ? spaces[dwSpace].name.c_str() : nullptr;
}

LPCTSTR DemoBonDriver::EnumChannelName(const DWORD dwSpace, const DWORD dwChannel) {
    const TransportStreamInfo* info =
        dwSpace < 0x80000000u && dwChannel < 0x80000000u
            ? FindChannel(static_cast<int>(dwSpace), static_cast<int>(dwChannel))
            : nullptr;
    return info != nullptr ? info->channelName.c_str() : nullptr;
}

DWORD DemoBonDriver::GetCurSpace() {
    std::lock_guard<std::mutex> lock(mutex);
    return space;
}

DWORD DemoBonDriver::GetCurChannel() {
    std::lock_guard<std::mutex> lock(mutex);
    return channel;
}

void DemoBonDriver::Run() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(mutex);
    uint64_t generation = ~uint64_t{0};
    Clock::time_point tunedAt;
    while (!stopping) {
        if (!stream) {
            ready.wait(lock, [this] { return stopping || stream != nullptr; });
            continue;
        }
        if (generation != tuneGeneration) {
            generation = tuneGeneration;
            tunedAt = Clock::now();
        }
        // Deliver every chunk whose last packet is due by now.
        const double elapsed =
            speed * std::chrono::duration<double>(Clock::now() - tunedAt).count();
        const uint64_t due = static_cast<uint64_t>(elapsed * stream->PacketRate());
        constexpr size_t kPackets = kChunkSize / kTsPacketSize;
        bool produced = false;
        while (stream->PacketsWritten() + kPackets <= due && !stopping) {
            std::vector<uint8_t> chunk(kChunkSize);
            const bool lost = InOutage();
            stream->Generate(chunk.data(), kPackets);
            if (lost) {
                continue;
            }
            chunks.push_back(std::move(chunk));
            if (chunks.size() > maxChunks) {
                chunks.pop_front();
            }
            produced = true;
        }
        if (produced) {
            ready.notify_all();
        }
        // Sleep until the next chunk is due (or a tune or close wakes us).
        const double next = static_cast<double>(stream->PacketsWritten() + kPackets) /
                            (stream->PacketRate() * speed);
        const auto wake = tunedAt + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(next));
        ready.wait_until(lock, wake, [&] { return stopping || generation != tuneGeneration; });
    }
}

}  // namespace isdbsim

extern "C" __attribute__((visibility("default"))) IBonDriver* CreateBonDriver() {
    return new (std::nothrow) isdbsim::DemoBonDriver();
}
