// The integrity check on the simulator's stream with known damage put in, and on hand-made
// tables: every loss, error and scrambled packet is counted on its PID at its stream time.

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>

#include "sources/RecordingTrailer.h"
#include "sources/integrity/TsIntegrity.h"
#include "sources/integrity/tests/DamagedStream.h"
#include "tools/streamkit/PsiSection.h"
#include "tools/streamkit/TsPacketizer.h"

namespace integrity::test {
namespace {

// Within a few milliseconds: a gap is timed from the packet that shows it, which follows the
// lost ones, and removed packets shift the byte distance to the next PCR.
constexpr double kTimeTolerance = 0.003;

IntegrityReport Check(const Bytes& stream, size_t chunk = 0) {
    TsIntegrityChecker checker;
    if (chunk == 0) {
        checker.Feed(stream.data(), stream.size());
    } else {
        for (size_t offset = 0; offset < stream.size(); offset += chunk) {
            checker.Feed(stream.data() + offset, std::min(chunk, stream.size() - offset));
        }
    }
    return checker.Finish();
}

const PidIntegrity& Pid(const IntegrityReport& report, uint16_t pid) {
    static const PidIntegrity absent;
    for (const PidIntegrity& entry : report.pids) {
        if (entry.pid == pid) {
            return entry;
        }
    }
    ADD_FAILURE() << "PID " << pid << " not in the report";
    return absent;
}

// Everything the report holds, to compare two reports.
std::string Describe(const IntegrityReport& report) {
    std::ostringstream out;
    out << report.Summary() << " packets " << report.packets << " skipped " << report.skippedBytes
        << " losses " << report.syncLosses << " truncated " << report.truncatedBytes << " duration "
        << report.duration.value_or(-1) << "\n";
    for (const PidIntegrity& pid : report.pids) {
        out << pid.pid << " " << PidKindName(pid.kind) << " " << pid.packets << " " << pid.drops
            << " " << pid.errors << " " << pid.scrambled;
        for (const StreamGap& gap : pid.gaps) {
            out << " " << gap.seconds.value_or(-1) << "/" << gap.lostPackets;
        }
        out << "\n";
    }
    return out.str();
}

class StreamIntegrity : public ::testing::Test {
protected:
    void SetUp() override {
        if (CleanStream().empty()) {
            GTEST_SKIP() << "the simulator cannot encode its media here";
        }
    }
    const isdbsim::ServiceInfo& Service() const { return Channel().services[0]; }
};

TEST_F(StreamIntegrity, CleanStreamHasNoDamageAndNamesEveryPid) {
    const IntegrityReport report = Check(CleanStream());
    EXPECT_EQ(report.Summary(), "0 drops, 0 errors, 0 scrambled");
    EXPECT_EQ(report.packets, PacketCount(CleanStream()));
    EXPECT_EQ(report.skippedBytes + report.truncatedBytes + report.syncLosses, 0u);
    ASSERT_TRUE(report.duration.has_value());
    EXPECT_NEAR(*report.duration, PacketSeconds(report.packets), kTimeTolerance);

    uint64_t packets = 0;
    for (const PidIntegrity& pid : report.pids) {
        packets += pid.packets;
        EXPECT_TRUE(pid.gaps.empty()) << pid.pid;
    }
    EXPECT_EQ(packets, report.packets);
    const std::pair<uint16_t, const char*> kinds[] = {
        {0x0000, "PSI/SI"},
        {Service().pmtPid, "PSI/SI"},
        {Service().videoPid, "video"},
        {Service().audioPid, "audio"},
        {Service().captionPid, "caption"},
        {Channel().pcrPid, "PCR"},
        {0x0012, "PSI/SI"},
        {0x1FFF, "null"},
    };
    for (const auto& [pid, kind] : kinds) {
        EXPECT_STREQ(PidKindName(Pid(report, pid).kind), kind) << pid;
    }
    // Every service of the stream is named, not only the first.
    for (const isdbsim::ServiceInfo& service : Channel().services) {
        if (service.videoPid != 0) {
            EXPECT_EQ(Pid(report, service.videoPid).kind, PidKind::kVideo) << service.serviceId;
        }
    }
}

TEST_F(StreamIntegrity, TheInformationPacketAndTrailerOfOurRecordingsAreNoDamage) {
    Bytes recording = CleanStream();
    uint8_t trailer[kRecordingTrailerSize];
    MakeRecordingTrailer(trailer, 36000000000);
    recording.insert(recording.end(), trailer, trailer + kRecordingTrailerSize);
    Bytes header(188, 0);
    const uint8_t signature[8] = {0x47, 0xDF, 0xFF, 0x10, 0x20, 0x00, 0xDF, 0xFF};
    std::copy(std::begin(signature), std::end(signature), header.begin());
    recording.insert(recording.begin(), header.begin(), header.end());
    const IntegrityReport report = Check(recording);
    EXPECT_EQ(report.Summary(), "0 drops, 0 errors, 0 scrambled");
    EXPECT_EQ(report.packets, PacketCount(CleanStream()) + 2);
    // Anywhere else the same bytes are a damaged packet.
    recording.insert(recording.begin() + 188 * 5, header.begin(), header.end());
    EXPECT_EQ(Check(recording).Summary(), "0 drops, 1 errors, 0 scrambled");
}

TEST_F(StreamIntegrity, LostVideoPacketsAreCountedAtTheirStreamTime) {
    struct Loss {
        double seconds;
        size_t count;
    };
    // 14 is the most the 4-bit counter can show: after 15 lost the next packet looks like a
    // repeat of the last one.
    const Loss losses[] = {{0.5, 1}, {1.25, 3}, {2.0, 7}, {3.5, 14}};
    const uint16_t video = Service().videoPid;
    Bytes stream = CleanStream();
    std::vector<double> expected;
    // From the end, so that the indices found earlier in the stream stay valid.
    for (auto loss = std::rbegin(losses); loss != std::rend(losses); ++loss) {
        const size_t first = PacketOfPid(stream, video, loss->seconds);
        expected.insert(expected.begin(), PacketSeconds(NextOfPid(stream, first, loss->count)));
        for (size_t n = 0; n < loss->count; ++n) {
            RemovePacket(stream, PacketOfPid(stream, video, 0, first));
        }
    }
    const IntegrityReport report = Check(stream);
    EXPECT_EQ(report.Summary(), "25 drops, 0 errors, 0 scrambled");
    const PidIntegrity& pid = Pid(report, video);
    EXPECT_EQ(pid.drops, 25u);
    ASSERT_EQ(pid.gaps.size(), std::size(losses));
    for (size_t n = 0; n < pid.gaps.size(); ++n) {
        EXPECT_EQ(pid.gaps[n].lostPackets, losses[n].count);
        ASSERT_TRUE(pid.gaps[n].seconds.has_value());
        EXPECT_NEAR(*pid.gaps[n].seconds, expected[n], kTimeTolerance) << n;
    }
}

TEST_F(StreamIntegrity, TransportErrorsAreCountedWithoutCountingTheirPacketsLost) {
    const uint16_t video = Service().videoPid;
    const uint16_t audio = Service().audioPid;
    Bytes stream = CleanStream();
    std::vector<size_t> damaged;
    for (const auto& [pid, seconds] : {std::pair{video, 0.7}, {video, 2.2}, {audio, 3.1}}) {
        damaged.push_back(PacketOfPid(stream, pid, seconds));
        SetTransportError(stream, damaged.back());
    }
    // Two damaged packets in a row on one PID.
    damaged.push_back(NextOfPid(stream, damaged[1], 1));
    SetTransportError(stream, damaged.back());

    const IntegrityReport report = Check(stream);
    EXPECT_EQ(report.Summary(), "0 drops, 4 errors, 0 scrambled");
    EXPECT_EQ(Pid(report, video).errors, 3u);
    EXPECT_EQ(Pid(report, audio).errors, 1u);
    const std::vector<StreamGap>& gaps = Pid(report, video).gaps;
    ASSERT_EQ(gaps.size(), 3u);
    const size_t videoDamage[] = {damaged[0], damaged[1], damaged[3]};
    for (size_t n = 0; n < gaps.size(); ++n) {
        EXPECT_TRUE(gaps[n].transportError);
        EXPECT_NEAR(gaps[n].seconds.value_or(-1), PacketSeconds(videoDamage[n]), 0.001);
    }
    EXPECT_NEAR(Pid(report, audio).gaps.at(0).seconds.value_or(-1), PacketSeconds(damaged[2]),
                0.001);
}

TEST_F(StreamIntegrity, OneRepeatOfAPacketIsAllowedAndEveryFurtherOneIsADrop) {
    struct Case {
        size_t copies;
        uint64_t drops;
    };
    for (const Case& c : {Case{1, 0}, Case{2, 1}, Case{3, 2}}) {
        Bytes stream = CleanStream();
        const size_t index = PacketOfPid(stream, Service().audioPid, 1.5);
        RepeatPacket(stream, index, c.copies);
        const IntegrityReport report = Check(stream);
        EXPECT_EQ(report.drops, c.drops) << c.copies << " copies";
        EXPECT_EQ(Pid(report, Service().audioPid).gaps.size(), c.drops);
        EXPECT_EQ(report.packets, PacketCount(CleanStream()) + c.copies);
    }
    // A repeated PAT packet must not confuse the table reading either.
    Bytes stream = CleanStream();
    RepeatPacket(stream, PacketOfPid(stream, 0x0000, 0.0), 1);
    EXPECT_EQ(Pid(Check(stream), Service().videoPid).kind, PidKind::kVideo);
}

TEST_F(StreamIntegrity, ScrambledPacketsAreCountedOnTheirPid) {
    Bytes stream = CleanStream();
    size_t index = PacketOfPid(stream, Service().audioPid, 1.0);
    for (int n = 0; n < 5; ++n, index = NextOfPid(stream, index, 2)) {
        SetScrambled(stream, index);
    }
    const IntegrityReport report = Check(stream);
    EXPECT_EQ(report.Summary(), "0 drops, 0 errors, 5 scrambled");
    EXPECT_EQ(Pid(report, Service().audioPid).scrambled, 5u);
}

TEST_F(StreamIntegrity, GarbageBetweenPacketsIsSkippedWithoutLosingAPacket) {
    Bytes stream = CleanStream();
    const size_t sizes[] = {1, 187, 189, 5000};
    size_t garbage = 0;
    for (size_t n = 0; n < std::size(sizes); ++n) {
        // Later insertions first, so that the earlier packet offsets stay.
        const size_t packet = (std::size(sizes) - n) * 9000 + 3;
        InsertGarbage(stream, packet * kPacket, sizes[n], static_cast<uint32_t>(n));
        garbage += sizes[n];
    }
    InsertGarbage(stream, 0, 100, 7);  // before the first packet
    const IntegrityReport report = Check(stream);
    EXPECT_EQ(report.Summary(), "0 drops, 0 errors, 0 scrambled");
    EXPECT_EQ(report.packets, PacketCount(CleanStream()));
    EXPECT_EQ(report.skippedBytes, garbage + 100);
    EXPECT_EQ(report.syncLosses, std::size(sizes));
}

TEST_F(StreamIntegrity, PacketCutByTheEndIsReportedAsTruncated) {
    Bytes stream = CleanStream();
    stream.resize(stream.size() - 100);
    const IntegrityReport report = Check(stream);
    EXPECT_EQ(report.Summary(), "0 drops, 0 errors, 0 scrambled");
    EXPECT_EQ(report.packets, PacketCount(CleanStream()) - 1);
    EXPECT_EQ(report.truncatedBytes, kPacket - 100);
}

TEST_F(StreamIntegrity, PiecesOfAnySizeGiveTheSameReport) {
    Bytes stream = CleanStream();
    stream.resize(stream.size() / 2 - 50);
    SetTransportError(stream, PacketOfPid(stream, Service().videoPid, 0.4));
    RemovePacket(stream, PacketOfPid(stream, Service().videoPid, 1.0));
    RepeatPacket(stream, PacketOfPid(stream, Service().audioPid, 1.2), 2);
    InsertGarbage(stream, 1000 * kPacket, 300, 3);
    InsertGarbage(stream, 0, 50, 4);
    const std::string whole = Describe(Check(stream));
    EXPECT_NE(whole.find("2 drops, 1 errors"), std::string::npos) << whole;
    for (size_t chunk : {1, 7, 187, 188, 189, 377, 4096, 65536}) {
        EXPECT_EQ(Describe(Check(stream, chunk)), whole) << "pieces of " << chunk;
    }
}

// The clock's PCRs rewritten so that they wrap past 2^33 at 1 s and jump back 20 s at 2 s:
// times and the duration go on as if the clock had run on.
TEST_F(StreamIntegrity, PcrWrapAndJumpDoNotMoveTheStreamTimes) {
    Bytes stream = CleanStream();
    const uint64_t start = streamkit::kPcrWrap - 27'000'000;
    for (size_t index = 0; index < PacketCount(stream); ++index) {
        uint8_t* packet = stream.data() + index * kPacket;
        if (PidOf(stream, index) != Channel().pcrPid || (packet[5] & 0x10) == 0) {
            continue;
        }
        const double seconds = PacketSeconds(index) - (PacketSeconds(index) >= 2.0 ? 20.0 : 0);
        const auto ticks = static_cast<int64_t>(seconds * 27'000'000);
        streamkit::WritePcr(
            packet + 6,
            (start + streamkit::kPcrWrap + static_cast<uint64_t>(ticks)) % streamkit::kPcrWrap);
    }
    const size_t lost = PacketOfPid(stream, Service().videoPid, 3.0);
    const double expected = PacketSeconds(NextOfPid(stream, lost, 1));
    RemovePacket(stream, lost);
    const IntegrityReport report = Check(stream);
    EXPECT_EQ(report.pcrDiscontinuities, 1u);
    const std::vector<StreamGap>& gaps = Pid(report, Service().videoPid).gaps;
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_NEAR(gaps[0].seconds.value_or(-1), expected, kTimeTolerance);
    EXPECT_NEAR(report.duration.value_or(-1), PacketSeconds(PacketCount(stream)), 0.01);
}

TEST_F(StreamIntegrity, WholeFileGivesTheSameReportAsFeeding) {
    Bytes stream = CleanStream();
    RemovePacket(stream, PacketOfPid(stream, Service().videoPid, 2.0));
    const std::string path = ::testing::TempDir() + "integrity-whole-file.ts";
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(stream.data(), 1, stream.size(), file);
    std::fclose(file);
    IntegrityReport report;
    std::string error;
    ASSERT_TRUE(CheckTsFile(path, report, &error)) << error;
    std::remove(path.c_str());
    EXPECT_EQ(Describe(report), Describe(Check(stream)));
    EXPECT_FALSE(CheckTsFile(path, report, &error));
    EXPECT_NE(error.find(path), std::string::npos);
}

// Hand-made tables: one programme whose PMT spans two packets.
struct EsEntry {
    uint8_t streamType;
    uint16_t pid;
    int componentTag;  // -1: no stream_identifier descriptor
    PidKind kind;
};

constexpr uint16_t kPmtPid = 0x0100;
constexpr uint16_t kPcrPid = 0x0101;
constexpr EsEntry kEntries[] = {
    {0x02, 0x0111, 0x00, PidKind::kVideo},   {0x1B, 0x0112, 0x81, PidKind::kVideo},
    {0x24, 0x0113, -1, PidKind::kVideo},     {0x0F, 0x0114, 0x10, PidKind::kAudio},
    {0x11, 0x0115, -1, PidKind::kAudio},     {0x06, 0x0116, 0x30, PidKind::kCaption},
    {0x06, 0x0117, 0x38, PidKind::kCaption}, {0x06, 0x0118, 0x40, PidKind::kData},
    {0x06, 0x0119, -1, PidKind::kData},      {0x0D, 0x011A, 0x40, PidKind::kData},
    {0x05, 0x011B, -1, PidKind::kPsiSi},     {0x06, 0x011C, 0x87, PidKind::kCaption},
};

Bytes PmtBody(bool overrunEsInfo) {
    streamkit::ByteWriter body;
    body.U16(0xE000 | kPcrPid).U16(0xF000);
    for (const EsEntry& entry : kEntries) {
        streamkit::ByteWriter info;
        if (entry.componentTag >= 0) {
            streamkit::Descriptor(info, 0x52, {static_cast<uint8_t>(entry.componentTag)});
        }
        info.Fill(0x00, 10);  // room taken by other descriptors (stuffing tag 0, length 0)
        body.U8(entry.streamType).U16(0xE000 | entry.pid).Loop(info.Data());
    }
    if (overrunEsInfo) {
        body.U8(0x02).U16(0xE000 | 0x0120).U16(0xF000 | 40);  // 40 bytes that are not there
    }
    return body.Take();
}

// PAT, the PMT, a PCR of value 0 on the PCR PID, and a packet of every other PID.
std::vector<streamkit::TsPacket> TablePackets(const Bytes& pmt) {
    std::vector<streamkit::TsPacket> packets;
    streamkit::ByteWriter pat;
    pat.U16(1).U16(0xE000 | kPmtPid);
    streamkit::TsPacketizer(0x0000).Section(
        streamkit::BuildSection({0x00, 1, 0, 0, 0, false}, pat.Data()), packets);
    streamkit::TsPacketizer(kPmtPid).Section(pmt, packets);
    packets.push_back(streamkit::TsPacketizer(kPcrPid).PcrOnly(0));
    for (const EsEntry& entry : kEntries) {
        packets.push_back(streamkit::PaddedPacket({entry.pid, true, 0}, Bytes{0x00}));
    }
    packets.push_back(streamkit::PaddedPacket({0x0123, true, 0}, Bytes{0x00}));
    packets.push_back(streamkit::NullPacket());
    return packets;
}

Bytes TableStream(const Bytes& pmt) {
    return streamkit::Join(TablePackets(pmt));
}

Bytes ValidPmt() {
    return streamkit::BuildSection({0x02, 1, 0, 0, 0, false}, PmtBody(false));
}

TEST(ProgramTables, PmtSpanningPacketsNamesEveryStream) {
    const Bytes pmt = ValidPmt();
    ASSERT_GT(pmt.size(), streamkit::kTsPayloadSize);
    const IntegrityReport report = Check(TableStream(pmt));
    for (const EsEntry& entry : kEntries) {
        EXPECT_EQ(Pid(report, entry.pid).kind, entry.kind) << entry.pid;
    }
    EXPECT_EQ(Pid(report, kPmtPid).kind, PidKind::kPsiSi);
    EXPECT_EQ(Pid(report, kPcrPid).kind, PidKind::kPcr);
    EXPECT_EQ(Pid(report, 0x0123).kind, PidKind::kUnknown);
    EXPECT_EQ(Pid(report, 0x1FFF).kind, PidKind::kNull);
}

TEST(ProgramTables, MalformedPmtIsIgnored) {
    Bytes badCrc = ValidPmt();
    badCrc[20] ^= 0x01;
    Bytes cut = ValidPmt();
    cut[2] = static_cast<uint8_t>(cut[2] - 8);  // section_length shorter than the section
    const Bytes overrun = streamkit::BuildSection({0x02, 1, 0, 0, 0, false}, PmtBody(true));
    for (const Bytes& pmt : {badCrc, cut, overrun}) {
        const IntegrityReport report = Check(TableStream(pmt));
        EXPECT_EQ(Pid(report, kEntries[0].pid).kind, PidKind::kUnknown);
        EXPECT_EQ(report.packets, PacketCount(TableStream(pmt)));
    }
}

// Before the PMT, the first PCR found is the clock; once the PMT names the programme's PCR
// PID, that one is, continuing the times reached. Another PID's PCRs, running five times as
// fast, must not move the times after that. A discontinuity_indicator lets the continuity
// counter jump without a loss.
TEST(ProgramTables, ClockFollowsTheProgrammePcrPidAndDiscontinuityResetsTheCounter) {
    constexpr uint16_t kOtherPcrPid = 0x0150;
    constexpr uint16_t kVideoPid = kEntries[0].pid;
    constexpr uint64_t kOtherTicksPerPacket = 13'500;  // 0.5 ms at 27 MHz
    constexpr uint64_t kTicksPerPacket = 2'700;        // 0.1 ms
    std::vector<streamkit::TsPacket> packets;
    streamkit::TsPacketizer other(kOtherPcrPid);
    for (size_t n = 0; n < 100; ++n) {
        packets.push_back(n % 10 == 0 ? other.PcrOnly(n * kOtherTicksPerPacket)
                                      : streamkit::NullPacket());
    }
    const std::vector<streamkit::TsPacket> tables = TablePackets(ValidPmt());
    packets.insert(packets.end(), tables.begin(), tables.end());
    // The programme's first PCR (value 0) is the one of the tables.
    const Bytes tableBytes = streamkit::Join(tables);
    size_t switchAt = 0;
    while (PidOf(tableBytes, switchAt) != kPcrPid) {
        ++switchAt;
    }
    switchAt += 100;
    streamkit::TsPacketizer programme(kPcrPid);
    uint8_t counter = 1;  // the tables sent counter 0
    size_t lostAt = 0;
    for (size_t block = 0; block < 100; ++block) {
        const size_t index = packets.size();
        packets.push_back(other.PcrOnly(index * kOtherTicksPerPacket));
        packets.push_back(programme.PcrOnly((index + 1 - switchAt) * kTicksPerPacket));
        if (block == 50) {
            ++counter;  // one packet lost
            lostAt = packets.size();
        }
        if (block == 70) {
            counter = static_cast<uint8_t>(counter + 5);
            streamkit::AdaptationField field;
            field.discontinuity = true;
            packets.push_back(
                streamkit::StuffedPacket({kVideoPid, true, counter}, Bytes(10), field));
        } else {
            packets.push_back(streamkit::PaddedPacket({kVideoPid, true, counter}, Bytes{0x00}));
        }
        counter = static_cast<uint8_t>((counter + 1) & 0x0F);
        packets.insert(packets.end(), 7, streamkit::NullPacket());
    }
    const IntegrityReport report = Check(streamkit::Join(packets));
    const PidIntegrity& video = Pid(report, kVideoPid);
    EXPECT_EQ(video.drops, 1u);
    ASSERT_EQ(video.gaps.size(), 1u);
    const double switchSeconds = static_cast<double>(switchAt * kOtherTicksPerPacket) / 27e6;
    const double expected =
        switchSeconds + static_cast<double>((lostAt - switchAt) * kTicksPerPacket) / 27e6;
    EXPECT_NEAR(video.gaps[0].seconds.value_or(-1), expected, 0.001);
    EXPECT_EQ(report.pcrDiscontinuities, 0u);
}

TEST(StreamRobustness, GarbageInputEndsWithAReportAndNoDamageInvented) {
    std::mt19937 random(11);
    Bytes noise(1 << 20);
    for (uint8_t& byte : noise) {
        byte = static_cast<uint8_t>(random());
    }
    const Bytes inputs[] = {
        {}, Bytes(100, 0x47), Bytes(188 * 3 + 5, 0x47), noise, Bytes(1 << 16, 0x00)};
    for (const Bytes& input : inputs) {
        const IntegrityReport report = Check(input, 1000);
        EXPECT_EQ(report.bytes, input.size());
        EXPECT_EQ(report.packets * kPacket + report.skippedBytes + report.truncatedBytes,
                  input.size());
        EXPECT_FALSE(report.duration.has_value());
    }
}

}  // namespace
}  // namespace integrity::test
