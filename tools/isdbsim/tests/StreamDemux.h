#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/isdbsim/StreamKit.h"

namespace isdbsim::test {

// A small independent demultiplexer for checking generated streams: it reassembles sections
// (checking their CRC) and PES packets, and records continuity errors and PCRs.
struct Section {
    uint16_t pid = 0;
    size_t packetIndex = 0;  // the packet in which the section ended
    Bytes bytes;
    uint8_t TableId() const { return bytes[0]; }
    uint16_t Extension() const { return static_cast<uint16_t>(bytes[3] << 8 | bytes[4]); }
    uint8_t Version() const { return (bytes[5] >> 1) & 0x1F; }
    uint8_t Number() const { return bytes[6]; }
    uint8_t LastNumber() const { return bytes[7]; }
};

struct Pes {
    uint16_t pid = 0;
    size_t packetIndex = 0;  // the packet that started it
    Bytes bytes;
    bool HasPts() const { return bytes.size() > 13 && (bytes[7] & 0x80); }
    uint64_t Pts() const;
    Bytes Payload() const { return Bytes(bytes.begin() + 9 + bytes[8], bytes.end()); }
};

struct Pcr {
    size_t packetIndex = 0;
    uint64_t value = 0;
};

struct DemuxResult {
    size_t packets = 0;
    size_t syncErrors = 0;
    size_t continuityErrors = 0;
    size_t crcErrors = 0;
    std::vector<Section> sections;
    std::map<uint16_t, std::vector<Pes>> pes;  // complete PES packets by PID
    std::map<uint16_t, std::vector<Pcr>> pcrs;
    std::map<uint16_t, size_t> packetsByPid;
};

// `sectionPids` are assembled as sections, `pesPids` as PES packets.
DemuxResult Demux(const Bytes& stream, const std::vector<uint16_t>& sectionPids,
                  const std::vector<uint16_t>& pesPids);

// The stream of a channel: `seconds` from `start`, finished cleanly.
Bytes Generate(int space, int channel, double seconds, JstTime start, uint64_t seed = 1);

}  // namespace isdbsim::test
