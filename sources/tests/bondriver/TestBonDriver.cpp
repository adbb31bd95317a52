// Tuner drivers for the tests of the tuner-driver source, built only from the foreign ABI
// header. One source file gives several drivers through compile definitions:
//
//   TEST_DRIVER_V1          only the first interface generation
//   TEST_DRIVER_BYTE_BOOL   BOOL results as a one-byte bool leaves them: garbage above the low
//                           byte (0x5A5A5A01 is true, 0x5A5A5A00 false)
//   TEST_DRIVER_NO_OPEN     OpenTuner fails
//   TEST_DRIVER_NULL        CreateBonDriver returns null
//
// Once tuned, a driver hands out a stream of numbered packets (PID 0x0100, continuity counter
// counting, the packet's number in the first four payload bytes), kTotalPackets of them at
// kPacketsPerMillisecond (about 60 Mbit/s), in chunks whose sizes do not follow packet
// boundaries.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "sources/tests/bondriver/ForeignBonDriverAbi.h"

namespace {

constexpr uint32_t kPacketSize = 188;
constexpr uint32_t kTotalPackets = 20000;
constexpr uint32_t kPacketsPerMillisecond = 40;

#ifdef TEST_DRIVER_BYTE_BOOL
BOOL Result(bool value) {
    return static_cast<BOOL>(value ? 0x5A5A5A01u : 0x5A5A5A00u);
}
#else
BOOL Result(bool value) {
    return value ? TRUE : FALSE;
}
#endif

#ifdef TEST_DRIVER_V1
using DriverBase = IBonDriver;
#else
using DriverBase = IBonDriver2;
#endif

class TestDriver final : public DriverBase {
public:
    const BOOL OpenTuner(void) override {
#ifdef TEST_DRIVER_NO_OPEN
        return Result(false);
#else
        {
            std::lock_guard<std::mutex> lock(mutex);
            open = true;
        }
#ifdef TEST_DRIVER_V1
        // A single-channel tuner: streaming from the start.
        Tune(0, 0);
#endif
        return Result(true);
#endif
    }
    void CloseTuner(void) override {
        std::lock_guard<std::mutex> lock(mutex);
        open = false;
        tuned = false;
    }
    const BOOL SetChannel(const BYTE bCh) override {
        return Tune(0, bCh);
    }
    const float GetSignalLevel(void) override {
        std::lock_guard<std::mutex> lock(mutex);
        return tuned ? 21.5f : 0.0f;
    }
    const DWORD WaitTsStream(const DWORD) override {
        std::lock_guard<std::mutex> lock(mutex);
        return next < Available() ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    const DWORD GetReadyCount(void) override {
        std::lock_guard<std::mutex> lock(mutex);
        return next < Available() ? 1 : 0;
    }
    const BOOL GetTsStream(BYTE* pDst, DWORD* pdwSize, DWORD* pdwRemain) override {
        BYTE* data = nullptr;
        if (pDst == nullptr || !GetTsStream(&data, pdwSize, pdwRemain)) {
            return Result(false);
        }
        memcpy(pDst, data, *pdwSize);
        return Result(true);
    }
    const BOOL GetTsStream(BYTE** ppDst, DWORD* pdwSize, DWORD* pdwRemain) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (ppDst == nullptr || pdwSize == nullptr || pdwRemain == nullptr) {
            return Result(false);
        }
        const uint32_t end = Available();
        // 1000 to 7000 bytes, never a whole number of packets.
        const uint32_t size = std::min(end - next, 1000 + (chunks * 2477) % 6000 + 1);
        chunk.resize(size);
        for (uint32_t i = 0; i < size; ++i) {
            chunk[i] = StreamByte(next + i);
        }
        next += size;
        ++chunks;
        *ppDst = chunk.data();
        *pdwSize = size;
        *pdwRemain = next < end ? 1 : 0;
        return Result(true);
    }
    void PurgeTsStream(void) override {}
    void Release(void) override {
        delete this;
    }

#ifndef TEST_DRIVER_V1
    LPCTSTR GetTunerName(void) override {
        return u"Foreign Test Tuner";
    }
    const BOOL IsTunerOpening(void) override {
        std::lock_guard<std::mutex> lock(mutex);
        return Result(open);
    }
    LPCTSTR EnumTuningSpace(const DWORD dwSpace) override {
        static const char16_t* const kSpaces[] = {u"Terrestrial", u"BS"};
        return dwSpace < 2 ? kSpaces[dwSpace] : nullptr;
    }
    LPCTSTR EnumChannelName(const DWORD dwSpace, const DWORD dwChannel) override {
        static const char16_t* const kChannels[] = {u"Channel A", u"Channel B", u"Channel C"};
        return dwSpace < 2 && dwChannel < 3 ? kChannels[dwChannel] : nullptr;
    }
    const BOOL SetChannel(const DWORD dwSpace, const DWORD dwChannel) override {
        return Tune(dwSpace, dwChannel);
    }
    const DWORD GetCurSpace(void) override {
        std::lock_guard<std::mutex> lock(mutex);
        return space;
    }
    const DWORD GetCurChannel(void) override {
        std::lock_guard<std::mutex> lock(mutex);
        return channel;
    }
#endif

private:
    // The bytes of the stream sent so far.
    uint32_t Available() const {
        if (!tuned) {
            return 0;
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - tunedAt)
                                 .count();
        const uint64_t packets =
            std::min<uint64_t>(kTotalPackets, uint64_t(elapsed + 1) * kPacketsPerMillisecond);
        return static_cast<uint32_t>(packets * kPacketSize);
    }

    BOOL Tune(DWORD newSpace, DWORD newChannel) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!open || newSpace >= 2 || newChannel >= 3) {
            return Result(false);
        }
        space = newSpace;
        channel = newChannel;
        tuned = true;
        tunedAt = std::chrono::steady_clock::now();
        next = 0;
        chunks = 0;
        return Result(true);
    }

    // Byte `offset` of the stream: packet n is 0x47, PID 0x0100 with payload only and
    // continuity counter n mod 16, then n in four bytes and a filler.
    static BYTE StreamByte(uint32_t offset) {
        const uint32_t n = offset / kPacketSize;
        switch (offset % kPacketSize) {
            case 0:
                return 0x47;
            case 1:
                return 0x01;
            case 2:
                return 0x00;
            case 3:
                return static_cast<BYTE>(0x10 | (n & 0x0F));
            case 4:
                return static_cast<BYTE>(n >> 24);
            case 5:
                return static_cast<BYTE>(n >> 16);
            case 6:
                return static_cast<BYTE>(n >> 8);
            case 7:
                return static_cast<BYTE>(n);
            default:
                return 0xA5;
        }
    }

    // The host tunes from one thread while it reads from another.
    std::mutex mutex;
    bool open = false;
    bool tuned = false;
    DWORD space = 0;
    DWORD channel = 0;
    std::chrono::steady_clock::time_point tunedAt;
    uint32_t next = 0;  // the next byte of the stream
    uint32_t chunks = 0;
    std::vector<BYTE> chunk;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) IBonDriver* CreateBonDriver() {
#ifdef TEST_DRIVER_NULL
    return nullptr;
#else
    return new TestDriver();
#endif
}
