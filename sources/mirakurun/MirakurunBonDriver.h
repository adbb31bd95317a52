#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sources/IBonDriver.h"
#include "sources/mirakurun/ChannelList.h"
#include "sources/mirakurun/HttpStream.h"

namespace mirakurun {

// The driver's settings, from the section [Mirakurun] of the initialisation file beside the
// library (NAME.so.ini); a missing file or key keeps the default:
//   Server=http://127.0.0.1:40772  the tuner server's base URL (a path after the host is kept)
//   Priority=0                     sent as X-Mirakurun-Priority with every stream request
//   ChannelTypes=GR,BS,CS,SKY      the channel types offered as tuning spaces
//   Timeout=5000                   milliseconds a request may take to answer (100 - 600000)
struct DriverSettings {
    std::string server = "http://127.0.0.1:40772";
    int32_t priority = 0;
    std::vector<std::string> channelTypes = ChannelList::KnownTypes();
    uint32_t timeoutMs = 5000;

    // Problems with the file's values are written to standard error after `label`.
    static DriverSettings Load(const std::string& iniPath, const std::string& label);
};

// A tuner driver whose tuner is a channel of a tuner server, streamed over HTTP.
//
// OpenTuner reads the server's channel list (refused when the server does not answer in time
// or sends no valid list); its channel types are the tuning spaces. SetChannel ends the
// previous stream and opens the channel's stream, succeeding once the first bytes arrived. The
// signal level is the received bit rate in Mbit/s.
//
// Threads: the tuning calls (OpenTuner, CloseTuner, SetChannel) take `tuneMutex` and so run in
// turn; a SetChannel holds it up to the timeout. The reading calls (WaitTsStream,
// GetReadyCount, GetTsStream, PurgeTsStream, GetSignalLevel) never take it: they go to the
// stream's own lock only, so a host may read on one thread while it tunes on another. The
// enumerations read the current channel list through an atomic pointer; every list ever loaded
// is kept until the driver goes, so the names handed out stay valid for its lifetime.
class MirakurunBonDriver final : public IBonDriver2 {
public:
    // GetTsStream hands out at most this many bytes per call (the caller's buffer must hold it).
    static constexpr DWORD kChunkSize = 188 * 256;
    static constexpr DWORD kNotTuned = 0xFFFFFFFF;

    MirakurunBonDriver(DriverSettings settings, std::string label);

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
    ~MirakurunBonDriver();
    BOOL Open();
    BOOL Tune(DWORD space, DWORD channel);
    void Report(const std::string& message) const;

    const DriverSettings settings;
    const std::string label;
    const std::u16string tunerName;

    std::mutex tuneMutex;
    std::atomic<bool> open{false};                                // written under tuneMutex
    std::vector<std::unique_ptr<const ChannelList>> loadedLists;  // under tuneMutex
    std::atomic<const ChannelList*> channels{nullptr};
    std::atomic<DWORD> currentSpace{kNotTuned};
    std::atomic<DWORD> currentChannel{kNotTuned};

    HttpStream stream;
    // The buffer of the pointer form of GetTsStream, valid until its next call.
    std::mutex handOutMutex;
    std::vector<BYTE> handedOut;
};

}  // namespace mirakurun
