#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/CaptionBuilder.h"
#include "tools/isdbsim/MediaLoops.h"
#include "tools/isdbsim/StreamKit.h"

namespace isdbsim {

// One simulated transport stream at a fixed multiplex rate. Packet slot n goes out at stream
// time n * 188 * 8 / muxRate; each slot carries, in this order of preference, a PCR that is
// due, the earliest due packet of the SI and elementary streams, or a null packet. Everything
// follows from the channel, the start time and the seed, so the same arguments give the same
// bytes.
class TsStream {
public:
    TsStream(const TransportStreamInfo& ts, JstTime start, uint64_t seed);
    ~TsStream();
    TsStream(const TsStream&) = delete;
    TsStream& operator=(const TsStream&) = delete;

    // Encodes (or takes from the cache) the video and audio loops. False with a message when
    // an encoder is missing.
    bool Open(std::string* error);

    // Writes the next `count` packets (count * 188 bytes) to `out`.
    void Generate(uint8_t* out, size_t count);

    // Ends the stream cleanly: writes the rest of every PES packet and section already begun
    // (no new ones), so that a stream cut here ends on whole access units. Returns the bytes.
    Bytes Finish();

    int MuxRate() const { return ts.muxRate; }
    uint64_t PacketsWritten() const { return slot; }
    // Stream time of the next packet, in seconds.
    double ElapsedSeconds() const;
    // Broadcast (JST) time of the next packet.
    JstTime CurrentTime() const;
    // Packets per second at the stream's rate.
    double PacketRate() const { return ts.muxRate / (188.0 * 8.0); }

    const TransportStreamInfo& Info() const { return ts; }

    // A source of elementary-stream packets (video, audio, captions), defined in TsStream.cpp.
    struct Producer;

private:
    struct SectionPid;
    struct EsPid;
    struct Table;

    int64_t SlotTime(uint64_t index) const;  // 27 MHz ticks from the start
    SectionPid& SectionQueue(uint16_t pid);
    EsPid& EsQueue(uint16_t pid);
    void AddTable(uint16_t pid, double firstSeconds, double periodSeconds, bool spread,
                  std::function<std::vector<Bytes>(JstTime)> build,
                  std::function<int64_t(int64_t)> nextBoundary = nullptr);
    void AddServiceProducers(const ServiceInfo& service);
    void RunTables(int64_t now);

    TransportStreamInfo ts;
    JstTime start;
    uint64_t seed;
    uint64_t slot = 0;
    uint64_t pcrBase = 0;  // 27 MHz value of the PCR at stream time 0
    int64_t avDelay = 0;   // 27 MHz: PTS - PCR of a picture sent at its nominal time
    int64_t nextPcr = 0;
    TsPacketizer pcrPacketizer;
    std::map<uint16_t, std::unique_ptr<SectionPid>> sectionPids;
    std::map<uint16_t, std::unique_ptr<EsPid>> esPids;
    std::vector<SectionPid*> sectionOrder;
    std::vector<EsPid*> esOrder;
    std::vector<std::unique_ptr<Table>> tables;
    std::vector<std::unique_ptr<Producer>> producers;
    bool opened = false;
    bool draining = false;
};

}  // namespace isdbsim
