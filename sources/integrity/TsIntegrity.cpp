#include "sources/integrity/TsIntegrity.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "sources/RecordingTrailer.h"
#include "sources/integrity/ProgramTables.h"
#include "sources/integrity/StreamClock.h"

namespace integrity {

namespace {

constexpr size_t kPacketSize = 188;
constexpr uint8_t kSyncByte = 0x47;
constexpr size_t kPidCount = 8192;
constexpr uint16_t kNullPid = 0x1FFF;
constexpr uint16_t kNoPid = 0xFFFF;
// Sync bytes at packet spacing that must agree before the checker trusts a packet start found
// after garbage; at the very end of the stream, those that remain.
constexpr size_t kSyncConfirmations = 3;
constexpr size_t kSyncLookAhead = (kSyncConfirmations - 1) * kPacketSize + 1;
// Bytes kept between two Feed calls: the look-ahead of a resynchronisation plus room for the
// next piece to complete it.
constexpr size_t kCarrySize = 2 * kSyncConfirmations * kPacketSize;
// Gaps listed at most; beyond this a stream is damaged throughout and only counted.
constexpr size_t kMaxListedGaps = 1'000'000;
constexpr size_t kMaxSectionPids = 512;
constexpr size_t kFileReadSize = kPacketSize * 16384;  // about 3 MB

// Continuity of a PID's packets with payload.
enum class Continuity : uint8_t { kInOrder, kDuplicate, kBroken };

// Per-PID state, one entry for each of the 8192 PIDs.
struct PidState {
    uint64_t packets = 0;
    uint64_t drops = 0;
    uint64_t errors = 0;
    uint64_t scrambled = 0;
    uint16_t sectionSlot = 0;  // 1 + index of the PID's section assembler, 0 for none
    PidKind kind = PidKind::kUnknown;
    uint8_t counter = 0;  // continuity_counter of the last packet with payload
    bool haveCounter = false;
    bool duplicateSeen = false;  // the last packet was the one repeat allowed
    // Packets with transport_error_indicator since the last good one (at most 15): they may
    // have carried the counters that are missing.
    uint8_t erroredSince = 0;
};

struct Gap {
    uint64_t packetIndex;
    std::optional<double> seconds;
    uint16_t pid;
    uint8_t lostPackets;  // 0 for a transport error
};

PidKind FixedKind(uint16_t pid) {
    // PAT, CAT, TSDT; NIT and the SI tables of 0x10-0x2F.
    if (pid <= 0x0002 || (pid >= 0x0010 && pid <= 0x002F)) {
        return PidKind::kPsiSi;
    }
    return pid == kNullPid ? PidKind::kNull : PidKind::kUnknown;
}

}  // namespace

const char* PidKindName(PidKind kind) {
    switch (kind) {
        case PidKind::kVideo:
            return "video";
        case PidKind::kAudio:
            return "audio";
        case PidKind::kCaption:
            return "caption";
        case PidKind::kData:
            return "data";
        case PidKind::kPsiSi:
            return "PSI/SI";
        case PidKind::kPcr:
            return "PCR";
        case PidKind::kNull:
            return "null";
        case PidKind::kUnknown:
            break;
    }
    return "unknown";
}

std::string IntegrityReport::Summary() const {
    return std::to_string(drops) + " drops, " + std::to_string(errors) + " errors, " +
           std::to_string(scrambled) + " scrambled";
}

struct TsIntegrityChecker::State {
    State();

    // Checks the aligned packets at the front of `data` and returns the bytes used: all but
    // a packet still incomplete or the look-ahead a resynchronisation waits for. With `final`
    // the end of the stream stands in for the look-ahead.
    size_t Scan(const uint8_t* data, size_t size, bool final);
    // The first packet start at or after `from`; `size` when there is none, and `needMore`
    // when a candidate waits for its look-ahead.
    size_t FindSync(const uint8_t* data, size_t size, size_t from, bool final,
                    bool& needMore) const;
    void Packet(const uint8_t* packet);
    Continuity CheckContinuity(PidState& pid, uint8_t counter, bool discontinuity, uint64_t index,
                               uint16_t pidNumber);
    void Pcr(uint16_t pid, const uint8_t* field, uint64_t position, bool discontinuity);
    void RecordGap(uint16_t pid, uint64_t index, uint8_t lostPackets);
    void OnSection(uint16_t pid, const uint8_t* section, size_t size);
    void OnPat(const std::vector<ProgramAssociation>& programs);
    void OnPmt(uint16_t pmtPid, const ProgramMap& map);
    void AddSectionPid(uint16_t pid);
    IntegrityReport Report() const;

    std::array<PidState, kPidCount> pids;
    std::vector<std::unique_ptr<SectionAssembler>> assemblers;
    std::array<uint8_t, kCarrySize> carry{};
    size_t carryLength = 0;
    bool synced = false;
    bool finished = false;

    uint64_t bytes = 0;
    uint64_t packets = 0;
    uint64_t skippedBytes = 0;
    uint64_t syncLosses = 0;
    uint64_t truncatedBytes = 0;
    uint64_t errors = 0;
    uint64_t drops = 0;
    uint64_t scrambled = 0;

    std::vector<Gap> gaps;
    uint64_t unlistedGaps = 0;
    size_t untimedGaps = 0;  // leading gaps that wait for the clock's rate

    StreamClock clock;
    uint16_t clockPid = kNoPid;
    // The PMT whose PCR PID is the clock; until one is read, the first PID with a PCR.
    uint16_t clockPmtPid = kNoPid;
    uint32_t patCrc = 0;
    bool havePat = false;
};

TsIntegrityChecker::State::State() {
    for (size_t pid = 0; pid < kPidCount; ++pid) {
        pids[pid].kind = FixedKind(static_cast<uint16_t>(pid));
    }
    AddSectionPid(kPatPid);
}

void TsIntegrityChecker::State::AddSectionPid(uint16_t pid) {
    if (pids[pid].sectionSlot != 0 || assemblers.size() >= kMaxSectionPids) {
        return;
    }
    assemblers.push_back(std::make_unique<SectionAssembler>());
    pids[pid].sectionSlot = static_cast<uint16_t>(assemblers.size());
}

size_t TsIntegrityChecker::State::FindSync(const uint8_t* data, size_t size, size_t from,
                                           bool final, bool& needMore) const {
    needMore = false;
    while (from < size) {
        const auto* found =
            static_cast<const uint8_t*>(std::memchr(data + from, kSyncByte, size - from));
        if (found == nullptr) {
            return size;
        }
        const size_t candidate = static_cast<size_t>(found - data);
        if (candidate + kSyncLookAhead > size && !final) {
            needMore = true;
            return candidate;
        }
        bool confirmed = candidate + kPacketSize <= size;
        for (size_t n = 1; confirmed && n < kSyncConfirmations; ++n) {
            const size_t next = candidate + n * kPacketSize;
            confirmed = next >= size || data[next] == kSyncByte;
        }
        if (confirmed) {
            return candidate;
        }
        from = candidate + 1;
    }
    return size;
}

size_t TsIntegrityChecker::State::Scan(const uint8_t* data, size_t size, bool final) {
    size_t position = 0;
    for (;;) {
        if (synced) {
            while (position + kPacketSize <= size && data[position] == kSyncByte) {
                Packet(data + position);
                position += kPacketSize;
            }
            if (position + kPacketSize > size) {
                return position;
            }
            synced = false;
            ++syncLosses;
        }
        bool needMore = false;
        const size_t start = FindSync(data, size, position, final, needMore);
        skippedBytes += start - position;
        position = start;
        if (needMore || position >= size) {
            return position;
        }
        synced = true;
    }
}

void TsIntegrityChecker::State::Packet(const uint8_t* packet) {
    const uint64_t index = packets++;
    const uint16_t pidNumber = static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
    PidState& pid = pids[pidNumber];
    ++pid.packets;
    // The information packet that begins our recordings and the trailer that ends them look
    // damaged on purpose; they are not.
    if (pidNumber == kNullPid &&
        ((index == 0 && IsRecordingInfoPacket(packet)) || RecordingTrailerDuration(packet) != 0)) {
        return;
    }
    // A damaged packet: nothing else in its header can be trusted.
    if (packet[1] & 0x80) {
        ++pid.errors;
        ++errors;
        if (pid.erroredSince < 15) {
            ++pid.erroredSince;
        }
        RecordGap(pidNumber, index, 0);
        return;
    }
    const uint8_t flags = packet[3];
    if ((flags & 0xC0) != 0) {
        ++pid.scrambled;
        ++scrambled;
    }
    bool hasPayload = (flags & 0x10) != 0;
    size_t payloadStart = 4;
    bool discontinuity = false;
    if (flags & 0x20) {
        const size_t length = packet[4];
        payloadStart = 5 + length;
        if (payloadStart > kPacketSize) {
            // A malformed adaptation field: its contents and any payload are unreadable.
            hasPayload = false;
        } else if (length > 0) {
            const uint8_t fieldFlags = packet[5];
            discontinuity = (fieldFlags & 0x80) != 0;
            if ((fieldFlags & 0x10) && length >= 7) {
                Pcr(pidNumber, packet + 6, index * kPacketSize, discontinuity);
            }
        }
    }
    if (pidNumber == kNullPid) {
        return;
    }
    if (!hasPayload) {
        // The counter does not advance without payload; a discontinuity still resets it.
        if (discontinuity) {
            pid.haveCounter = false;
        }
        return;
    }
    const Continuity continuity =
        CheckContinuity(pid, flags & 0x0F, discontinuity, index, pidNumber);
    if (pid.sectionSlot != 0 && continuity != Continuity::kDuplicate &&
        payloadStart < kPacketSize && (flags & 0xC0) == 0) {
        assemblers[pid.sectionSlot - 1]->Feed(
            packet + payloadStart, kPacketSize - payloadStart, (packet[1] & 0x40) != 0,
            continuity == Continuity::kBroken,
            [&](const uint8_t* section, size_t size) { OnSection(pidNumber, section, size); });
    }
}

Continuity TsIntegrityChecker::State::CheckContinuity(PidState& pid, uint8_t counter,
                                                      bool discontinuity, uint64_t index,
                                                      uint16_t pidNumber) {
    Continuity result = Continuity::kInOrder;
    if (discontinuity || !pid.haveCounter) {
        result = pid.haveCounter ? Continuity::kBroken : Continuity::kInOrder;
    } else if (counter == pid.counter) {
        // One repeat of a packet is allowed; a second one is no loss, but still a fault.
        if (pid.duplicateSeen) {
            ++pid.drops;
            ++drops;
            RecordGap(pidNumber, index, 1);
        }
        pid.duplicateSeen = true;
        return Continuity::kDuplicate;
    } else {
        const uint8_t lost = static_cast<uint8_t>((counter - pid.counter - 1) & 0x0F);
        if (lost > 0) {
            result = Continuity::kBroken;
        }
        if (lost > pid.erroredSince) {
            const uint8_t missing = static_cast<uint8_t>(lost - pid.erroredSince);
            pid.drops += missing;
            drops += missing;
            RecordGap(pidNumber, index, missing);
        }
    }
    if (pid.erroredSince > 0) {
        result = Continuity::kBroken;
    }
    pid.haveCounter = true;
    pid.counter = counter;
    pid.duplicateSeen = false;
    pid.erroredSince = 0;
    return result;
}

void TsIntegrityChecker::State::Pcr(uint16_t pid, const uint8_t* field, uint64_t position,
                                    bool discontinuity) {
    if (clockPid == kNoPid && clockPmtPid == kNoPid) {
        clockPid = pid;  // until a PMT names the programme's PCR PID
    }
    if (pid != clockPid) {
        return;
    }
    // program_clock_reference_base (33 bits), 6 reserved bits, extension (9 bits).
    const uint64_t base = uint64_t{field[0]} << 25 | uint64_t{field[1]} << 17 |
                          uint64_t{field[2]} << 9 | uint64_t{field[3]} << 1 | field[4] >> 7;
    const uint64_t extension = uint64_t{field[4] & 0x01u} << 8 | field[5];
    clock.AddPcr(base * 300 + extension, position, discontinuity);
    if (untimedGaps > 0 && clock.HasRate()) {
        for (size_t n = 0; n < untimedGaps; ++n) {
            gaps[n].seconds = clock.SecondsAt(gaps[n].packetIndex * kPacketSize);
        }
        untimedGaps = 0;
    }
}

void TsIntegrityChecker::State::RecordGap(uint16_t pid, uint64_t index, uint8_t lostPackets) {
    if (gaps.size() >= kMaxListedGaps) {
        ++unlistedGaps;
        return;
    }
    const std::optional<double> seconds = clock.SecondsAt(index * kPacketSize);
    if (!clock.HasRate() && untimedGaps == gaps.size()) {
        ++untimedGaps;
    }
    gaps.push_back({index, seconds, pid, lostPackets});
}

void TsIntegrityChecker::State::OnSection(uint16_t pid, const uint8_t* section, size_t size) {
    if (pid == kPatPid) {
        // The PAT repeats many times a second: only a changed one is read again.
        if (size < 4) {
            return;
        }
        uint32_t crc = 0;
        std::memcpy(&crc, section + size - 4, 4);
        if (havePat && crc == patCrc) {
            return;
        }
        if (const auto programs = ParsePat(section, size)) {
            havePat = true;
            patCrc = crc;
            OnPat(*programs);
        }
        return;
    }
    if (const auto map = ParsePmt(section, size)) {
        OnPmt(pid, *map);
    }
}

void TsIntegrityChecker::State::OnPat(const std::vector<ProgramAssociation>& programs) {
    for (const ProgramAssociation& program : programs) {
        if (program.pid >= kNullPid) {
            continue;
        }
        pids[program.pid].kind = PidKind::kPsiSi;
        if (program.programNumber != 0) {
            AddSectionPid(program.pid);
        }
    }
}

void TsIntegrityChecker::State::OnPmt(uint16_t pmtPid, const ProgramMap& map) {
    for (const ElementaryStream& stream : map.streams) {
        if (stream.pid < kNullPid && pids[stream.pid].kind != PidKind::kPsiSi) {
            pids[stream.pid].kind = StreamKind(stream);
        }
    }
    for (uint16_t caPid : map.caPids) {
        if (caPid < kNullPid) {
            pids[caPid].kind = PidKind::kPsiSi;
        }
    }
    if (map.pcrPid >= kNullPid) {
        return;  // a programme without PCR (a data service)
    }
    PidState& pcr = pids[map.pcrPid];
    if (pcr.kind == PidKind::kUnknown) {
        pcr.kind = PidKind::kPcr;
    }
    // The first programme with a PCR keeps the clock, following its PCR PID if it moves.
    if (clockPmtPid == kNoPid || clockPmtPid == pmtPid) {
        clockPmtPid = pmtPid;
        if (clockPid != map.pcrPid) {
            clockPid = map.pcrPid;
            clock.Restart();
        }
    }
}

IntegrityReport TsIntegrityChecker::State::Report() const {
    IntegrityReport report;
    report.bytes = bytes;
    report.packets = packets;
    report.skippedBytes = skippedBytes;
    report.syncLosses = syncLosses;
    report.truncatedBytes = truncatedBytes;
    report.pcrDiscontinuities = clock.Discontinuities();
    report.unlistedGaps = unlistedGaps;
    report.drops = drops;
    report.errors = errors;
    report.scrambled = scrambled;
    if (packets > 0) {
        report.duration = clock.SecondsAt(packets * kPacketSize);
    }
    std::array<uint32_t, kPidCount> slot{};
    for (size_t pid = 0; pid < kPidCount; ++pid) {
        const PidState& state = pids[pid];
        if (state.packets == 0) {
            continue;
        }
        slot[pid] = static_cast<uint32_t>(report.pids.size());
        report.pids.push_back({static_cast<uint16_t>(pid),
                               state.kind,
                               state.packets,
                               state.drops,
                               state.errors,
                               state.scrambled,
                               {}});
    }
    for (const Gap& gap : gaps) {
        report.pids[slot[gap.pid]].gaps.push_back(
            {gap.seconds, gap.lostPackets, gap.lostPackets == 0, gap.packetIndex});
    }
    return report;
}

TsIntegrityChecker::TsIntegrityChecker() : state(std::make_unique<State>()) {}

TsIntegrityChecker::~TsIntegrityChecker() = default;

void TsIntegrityChecker::Feed(const uint8_t* data, size_t size) {
    State& s = *state;
    if (s.finished || data == nullptr) {
        return;
    }
    s.bytes += size;
    while (size > 0) {
        if (s.carryLength == 0) {
            // The usual case: packets are checked where they lie, and only the few bytes
            // that cannot be placed yet are kept.
            const size_t used = s.Scan(data, size, false);
            std::memcpy(s.carry.data(), data + used, size - used);
            s.carryLength = size - used;
            return;
        }
        const size_t carried = s.carryLength;
        const size_t take = std::min(size, s.carry.size() - carried);
        std::memcpy(s.carry.data() + carried, data, take);
        s.carryLength += take;
        const size_t used = s.Scan(s.carry.data(), s.carryLength, false);
        if (used >= carried) {
            // The carried bytes are done; the rest is read in place again.
            s.carryLength = 0;
            data += used - carried;
            size -= used - carried;
        } else {
            std::memmove(s.carry.data(), s.carry.data() + used, s.carryLength - used);
            s.carryLength -= used;
            data += take;
            size -= take;
        }
    }
}

IntegrityReport TsIntegrityChecker::GetReport() const {
    return state->Report();
}

IntegrityReport TsIntegrityChecker::Finish() {
    State& s = *state;
    if (!s.finished) {
        s.finished = true;
        const size_t used = s.Scan(s.carry.data(), s.carryLength, true);
        const size_t left = s.carryLength - used;
        // A packet begun in rhythm and cut short by the end; anything else is garbage.
        if (s.synced && left > 0 && s.carry[used] == kSyncByte) {
            s.truncatedBytes += left;
        } else {
            s.skippedBytes += left;
        }
        s.carryLength = 0;
    }
    return s.Report();
}

bool CheckTsFile(const std::string& path, IntegrityReport& report, std::string* error) {
    const auto fail = [&](const std::string& what, int code) {
        if (error) {
            *error = what + " " + path + ": " + std::strerror(code);
        }
        return false;
    };
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return fail("cannot open", errno);
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    TsIntegrityChecker checker;
    std::vector<uint8_t> buffer(kFileReadSize);
    for (;;) {
        const ssize_t count = read(fd, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int code = errno;
            close(fd);
            return fail("cannot read", code);
        }
        if (count == 0) {
            break;
        }
        checker.Feed(buffer.data(), static_cast<size_t>(count));
    }
    close(fd);
    report = checker.Finish();
    return true;
}

}  // namespace integrity
