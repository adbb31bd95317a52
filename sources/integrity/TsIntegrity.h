#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The integrity of a recorded transport stream: per PID, the packets lost as the continuity
// counters show them, the packets the demodulator marked as damaged (transport_error_indicator)
// and the scrambled packets, each loss or damage placed at its stream time from the PCR.
//
// Feed the stream in pieces of any size (packets may be split between pieces) to a
// TsIntegrityChecker, then take the report from Finish(). CheckTsFile does both for a file.
// Nothing here throws on bad input: garbage is skipped up to the next run of packets, a
// truncated last packet is reported, malformed tables are ignored.
namespace integrity {

// What the PAT and PMTs say a PID carries.
enum class PidKind : uint8_t {
    kUnknown,
    kVideo,
    kAudio,
    kCaption,  // ARIB captions and superimposed text
    kData,     // any other elementary stream
    kPsiSi,    // PAT, CAT, PMTs, NIT and the SI tables, ECM and EMM
    kPcr,      // a programme's PCR PID that carries no elementary stream
    kNull,
};

// "video", "audio", "caption", "data", "PSI/SI", "PCR", "null" or "unknown".
const char* PidKindName(PidKind kind);

// One place where a PID's stream is broken: a continuity-counter jump (lostPackets > 0) or a
// packet with transport_error_indicator set (transportError).
struct StreamGap {
    // Stream seconds from the first PCR of the programme clock; empty when the stream carries
    // no PCR from which to tell.
    std::optional<double> seconds;
    uint32_t lostPackets = 0;
    bool transportError = false;
    uint64_t packetIndex = 0;  // index of the packet that showed the gap, from 0
};

struct PidIntegrity {
    uint16_t pid = 0;
    PidKind kind = PidKind::kUnknown;
    uint64_t packets = 0;
    uint64_t drops = 0;      // packets lost
    uint64_t errors = 0;     // packets with transport_error_indicator
    uint64_t scrambled = 0;  // packets with transport_scrambling_control other than 0
    std::vector<StreamGap> gaps;
};

struct IntegrityReport {
    uint64_t bytes = 0;           // bytes fed
    uint64_t packets = 0;         // whole packets found
    uint64_t skippedBytes = 0;    // bytes outside packets: garbage before a resynchronisation
    uint64_t syncLosses = 0;      // times the packet rhythm broke and had to be found again
    uint64_t truncatedBytes = 0;  // bytes of a last packet cut short by the end of the stream
    uint64_t pcrDiscontinuities = 0;
    uint64_t unlistedGaps = 0;  // gaps counted but not listed (a very damaged stream)
    uint64_t drops = 0;
    uint64_t errors = 0;
    uint64_t scrambled = 0;
    // Stream seconds from the first PCR to the end; empty without two PCRs of the clock.
    std::optional<double> duration;
    std::vector<PidIntegrity> pids;  // every PID seen, in ascending order

    // "N drops, N errors, N scrambled".
    std::string Summary() const;
};

// Checks one stream. Feed and Finish are called from one thread; the checker keeps no
// pointer into the fed bytes. Memory does not grow per packet: per-PID state lives in a table
// of all 8192 PIDs, and only tables (PAT, PMT) and gaps add to it.
class TsIntegrityChecker {
public:
    TsIntegrityChecker();
    ~TsIntegrityChecker();
    TsIntegrityChecker(const TsIntegrityChecker&) = delete;
    TsIntegrityChecker& operator=(const TsIntegrityChecker&) = delete;

    void Feed(const uint8_t* data, size_t size);

    // The report of what was fed so far; a packet still split at the end is not counted.
    IntegrityReport GetReport() const;

    // Ends the stream: what is left of a packet at the end counts as truncated. Returns the
    // report; nothing more may be fed afterwards.
    IntegrityReport Finish();

private:
    struct State;
    std::unique_ptr<State> state;
};

// The report as text: a heading with `name`, one line per PID (its kind, packets, drops, errors,
// scrambled packets and the times of its first gaps), notes on skipped, truncated and clock
// trouble, and the summary line last.
std::string FormatIntegrityText(const std::string& name, const IntegrityReport& report);

// The report as one JSON document naming the file `path`: the totals, the summary line and one
// entry per PID with the stream time of every gap (null when it is not known).
std::string FormatIntegrityJson(const std::string& path, const IntegrityReport& report);

// Checks a whole file with large reads. False with a message in `error` when it cannot be
// opened or read; a damaged or truncated file still gives its report.
bool CheckTsFile(const std::string& path, IntegrityReport& report, std::string* error);

}  // namespace integrity
