#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sources/IBonDriver.h"
#include "tools/isdbsim/TsStream.h"

namespace isdbsim {

// A tuner of the simulated broadcasts: its tuning spaces and channels are those of the
// simulator, and once tuned it delivers the channel's stream in real time, in chunks of whole
// packets, from a worker thread. The stream follows the system clock (JST), or the broadcast
// clock of DemoBroadcastClock.h when the environment gives it a start.
class DemoBonDriver final : public IBonDriver2 {
public:
    // Bytes per chunk: 256 packets.
    static constexpr size_t kChunkSize = 256 * kTsPacketSize;
    // Chunks kept for a slow reader (about 2 s of a terrestrial stream at its real pace, and
    // as many seconds of delivery at a faster one); older ones are lost, as with a tuner whose
    // buffer overflows.
    static constexpr size_t kMaxChunks = 96;

    DemoBonDriver();

    BOOL OpenTuner() override;
    void CloseTuner() override;
    BOOL SetChannel(const BYTE bCh) override;
    float GetSignalLevel() override;
    DWORD WaitTsStream(const DWORD dwTimeOut) override;
    DWORD GetReadyCount() override;
    BOOL GetTsStream(BYTE* pDst, DWORD* pdwSize, DWORD* pdwRemain) override;
    BOOL GetTsStream(BYTE** ppDst, DWORD* pdwSize, DWORD* pdwRemain) override;
    void PurgeTsStream() override;
    void Release() override;

    LPCTSTR GetTunerName() override;
    BOOL IsTunerOpening() override;
    LPCTSTR EnumTuningSpace(const DWORD dwSpace) override;
    LPCTSTR EnumChannelName(const DWORD dwSpace, const DWORD dwChannel) override;
    BOOL SetChannel(const DWORD dwSpace, const DWORD dwChannel) override;
    DWORD GetCurSpace() override;
    DWORD GetCurChannel() override;

private:
    ~DemoBonDriver();
    void Run();
    // Whether the stream is within the simulated signal loss (the lock is held).
    bool InOutage() const;

    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::vector<uint8_t>> chunks;
    std::vector<uint8_t> handedOut;          // the chunk whose pointer GetTsStream gave out last
    const double speed;                      // stream seconds per second
    const std::pair<double, double> outage;  // stream seconds after the tune, [from, to)
    const size_t maxChunks;
    std::unique_ptr<TsStream> stream;
    uint64_t tuneGeneration = 0;
    DWORD space = 0xFFFFFFFF;
    DWORD channel = 0xFFFFFFFF;
    bool open = false;
    bool stopping = false;
    std::thread worker;
};

}  // namespace isdbsim
