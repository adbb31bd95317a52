// Packet scanning, routing and section assembly, and the dispatcher's checks.

#include <gtest/gtest.h>

#include "sianalyzer/tests/SiTestSupport.h"

namespace sitest {
namespace {

Bytes PatSection(uint16_t tsid, uint8_t version) {
    return BuildSection({0x00, tsid, version, 0, 0, false}, PatBody({{0, 0x10}, {0x400, 0x1F0}}));
}

TEST(ICSIAssembly, OnlyTheFirstPacketIsRoutedWhenTheSecondLacksItsSyncByte) {
    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventPATSection.bit);
    Bytes first = PacketizeSection(0, PatSection(0x7FE0, 1));
    Bytes second = PacketizeSection(0, PatSection(0x7FE1, 1));
    second[0] = 0x46;
    analyzer.Feed(Concat({first, second}));
    EXPECT_EQ(analyzer.CountOf(si::kEventPATSection.code), 1u);
    EXPECT_NE(analyzer.GetSIList()->FindPAT(0x7FE0), nullptr);
    EXPECT_EQ(analyzer.GetSIList()->FindPAT(0x7FE1), nullptr);
}

TEST(ICSIAssembly, NothingIsScannedUnlessRunningOrWithoutASyncByteAtTheStart) {
    TestAnalyzer analyzer;
    analyzer.SetRunning(false);
    analyzer.Feed(PacketizeSection(0, PatSection(1, 0)));
    EXPECT_EQ(analyzer.GetSIList()->GetPATCount(), 0);
    analyzer.SetRunning(true);
    Bytes shifted = Concat({Bytes{0x00}, PacketizeSection(0, PatSection(1, 0))});
    analyzer.Feed(shifted);
    EXPECT_EQ(analyzer.GetSIList()->GetPATCount(), 0);
}

TEST(ICSIAssembly, PacketsWithErrorsOrImpossibleAdaptationFieldsAreSkipped) {
    TestAnalyzer analyzer;
    Bytes packet = PacketizeSection(0, PatSection(1, 0));
    packet[1] |= 0x80;  // transport_error_indicator
    analyzer.Feed(packet);
    EXPECT_EQ(analyzer.GetSIList()->GetPATCount(), 0);

    TsPacket withField = PaddedPacket({0, true, 0}, Bytes{0x00});
    withField[3] = 0x30;
    withField[4] = 184;
    analyzer.Feed(withField);
    EXPECT_EQ(analyzer.GetSIList()->GetPATCount(), 0);
    EXPECT_EQ(analyzer.GetSectionErrors(), 0u);
}

TEST(ICSIAssembly, APatSplitOverTwoPacketsIsDispatchedOnceAfterTheSecond) {
    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventPATSection.bit);
    Bytes programs;
    std::vector<std::pair<uint16_t, uint16_t>> list;
    for (uint16_t i = 1; i <= 60; ++i) {
        list.push_back({i, static_cast<uint16_t>(0x100 + i)});
    }
    const Bytes section = BuildSection({0x00, 0x10, 3, 0, 0, false}, PatBody(list));
    ASSERT_GT(section.size(), 183u);
    const Bytes packets = PacketizeSection(0, section);
    ASSERT_EQ(packets.size(), 376u);

    analyzer.Feed(Bytes(packets.begin(), packets.begin() + 188));
    EXPECT_EQ(analyzer.CountOf(si::kEventPATSection.code), 0u);
    EXPECT_EQ(analyzer.GetInProgressCount(), 1);
    analyzer.Feed(Bytes(packets.begin() + 188, packets.end()));
    EXPECT_EQ(analyzer.CountOf(si::kEventPATSection.code), 1u);
    const ICSIPAT* pat = analyzer.GetSIList()->FindPAT(0x10);
    ASSERT_NE(pat, nullptr);
    EXPECT_EQ(pat->GetProgramCount(), 60);
    EXPECT_EQ(pat->GetPMTPID(59), 0x100 + 60);
}

TEST(ICSIAssembly, TwoSectionsAndStuffingInOnePayloadAreBothDispatched) {
    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventPATSection.bit);
    const Bytes payload = Concat({Bytes{0x00}, PatSection(0x20, 0), PatSection(0x21, 0)});
    analyzer.Feed(PaddedPacket({0, true, 0}, payload));  // the rest of the packet is 0xFF stuffing
    EXPECT_EQ(analyzer.CountOf(si::kEventPATSection.code), 2u);
    EXPECT_NE(analyzer.GetSIList()->FindPAT(0x20), nullptr);
    EXPECT_NE(analyzer.GetSIList()->FindPAT(0x21), nullptr);
    EXPECT_EQ(analyzer.GetSectionErrors(), 0u);
}

TEST(ICSIAssembly, PointerFieldBytesCompleteTheUnfinishedSection) {
    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventPATSection.bit);
    const Bytes a = PatSection(0x30, 0);  // 20 bytes
    const Bytes b = PatSection(0x31, 0);
    ASSERT_EQ(a.size(), 20u);
    // The first packet carries the first 10 bytes of `a`, the second the last 10 as the bytes
    // before the pointer_field's section start, then `b`.
    const Bytes first = Concat({Bytes{0x00}, Bytes(a.begin(), a.begin() + 10)});
    const Bytes second = Concat({Bytes{10}, Bytes(a.begin() + 10, a.end()), b});
    analyzer.Feed(StuffedPacket({0, true, 0}, first));
    EXPECT_EQ(analyzer.CountOf(si::kEventPATSection.code), 0u);
    analyzer.Feed(PaddedPacket({0, true, 0}, second));
    EXPECT_EQ(analyzer.CountOf(si::kEventPATSection.code), 2u);
    EXPECT_NE(analyzer.GetSIList()->FindPAT(0x30), nullptr);
    EXPECT_NE(analyzer.GetSIList()->FindPAT(0x31), nullptr);
}

TEST(ICSIAssembly, APointerFieldOfZeroDiscardsTheUnfinishedSection) {
    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventPATSection.bit);
    const Bytes a = PatSection(0x40, 0);
    analyzer.Feed(
        StuffedPacket({0, true, 0}, Concat({Bytes{0x00}, Bytes(a.begin(), a.begin() + 10)})));
    analyzer.Feed(PaddedPacket({0, true, 0}, Concat({Bytes{0x00}, PatSection(0x41, 0)})));
    EXPECT_EQ(analyzer.CountOf(si::kEventPATSection.code), 1u);
    EXPECT_EQ(analyzer.GetSIList()->FindPAT(0x40), nullptr);
    EXPECT_NE(analyzer.GetSIList()->FindPAT(0x41), nullptr);
    EXPECT_EQ(analyzer.GetSectionErrors(), 0u);
}

TEST(ICSIAssembly, AContinuationWithoutASectionInProgressIsDropped) {
    TestAnalyzer analyzer;
    const Bytes section = PatSection(0x50, 0);
    analyzer.Feed(StuffedPacket({0, false, 0}, section));
    EXPECT_EQ(analyzer.GetSIList()->GetPATCount(), 0);
    EXPECT_EQ(analyzer.GetSectionErrors(), 0u);
}

TEST(ICSIAssembly, AFlippedBitCountsOneSectionErrorAndChangesNothing) {
    TestAnalyzer analyzer;
    analyzer.FeedSection(0, PatSection(0x60, 1));
    const ICSIPAT* before = analyzer.GetSIList()->FindPAT(0x60);
    ASSERT_NE(before, nullptr);
    Bytes damaged = BuildSection({0x00, 0x60, 2, 0, 0, false}, PatBody({{0x500, 0x1F8}}));
    damaged[9] ^= 0x04;
    analyzer.FeedSection(0, damaged);
    EXPECT_EQ(analyzer.GetSectionErrors(), 1u);
    EXPECT_EQ(analyzer.GetSIList()->GetPATCount(), 1);
    EXPECT_EQ(analyzer.GetSIList()->FindPAT(0x60), before);
    EXPECT_EQ(before->GetVersion(), 1);
    EXPECT_EQ(analyzer.GetWatch(0x1F8), 0);
}

TEST(ICSIAssembly, ALostSyntaxIndicatorBitIsASectionErrorNotAnUncheckedSection) {
    TestAnalyzer analyzer;
    Bytes damaged = PatSection(0x62, 0);
    damaged[1] &= 0x7F;  // section_syntax_indicator flipped to 0: no CRC would be checked
    analyzer.FeedSection(0, damaged);
    EXPECT_EQ(analyzer.GetSectionErrors(), 1u);
    EXPECT_EQ(analyzer.GetSIList()->GetPATCount(), 0);
}

TEST(ICSIAssembly, ASectionLongerThanItsBytesIsASectionError) {
    TestAnalyzer analyzer;
    Bytes section = PatSection(0x61, 0);
    // section_length claims two bytes more than the packets carry before the next start.
    section[2] = static_cast<uint8_t>(section[2] + 2);
    analyzer.Feed(StuffedPacket({0, true, 0}, Concat({Bytes{0x00}, section})));
    // The next packet's pointer_field of 1 completes it one byte short.
    analyzer.Feed(PaddedPacket({0, true, 0}, Bytes{1, 0x00}));
    EXPECT_EQ(analyzer.GetSectionErrors(), 1u);
    EXPECT_EQ(analyzer.GetSIList()->GetPATCount(), 0);
}

TEST(ICSIAssembly, OtherTransportStreamEitIsAssembledCheckedAndIgnored) {
    TestAnalyzer analyzer;
    for (uint8_t tableId : {uint8_t{0x4F}, uint8_t{0x60}}) {
        Bytes section =
            BuildSection({tableId, 0x0400, 0, 0, 0, true},
                         EitBody(0x10, 0x7FE0, 0, tableId,
                                 {{1, 2026, 4, 1, 12, 0, 0, 0x010000, ShortEvent(u"T", u"")}}));
        analyzer.FeedSection(0x12, section);
        section[12] ^= 1;
        analyzer.FeedSection(0x12, section);
    }
    EXPECT_EQ(analyzer.GetSectionErrors(), 2u);
    EXPECT_EQ(analyzer.GetSIList()->GetEITCount(), 0);
    EXPECT_EQ(analyzer.GetCompletedCount(), 0);
}

TEST(ICSIAssembly, UnwatchedPidsAreNotAssembledAndPmtPidsAreOnceThePatListsThem) {
    TestAnalyzer analyzer;
    const Bytes pmt = BuildSection({0x02, 0x400, 0, 0, 0, false},
                                   PmtBody(0x1FF, {}, {{0x02, 0x111, Descriptor(0x52, {0x00})}}));
    analyzer.FeedSection(0x1F0, pmt);
    EXPECT_EQ(analyzer.GetSIList()->GetPMTCount(), 0);
    analyzer.FeedSection(0, PatSection(0x70, 0));
    EXPECT_EQ(analyzer.GetWatch(0x1F0), ICSIAnalyzerCore::kWatchPMT);
    analyzer.FeedSection(0x1F0, pmt);
    EXPECT_EQ(analyzer.GetSIList()->GetPMTCount(), 1);
}

TEST(ICSIAssembly, SelectedStreamPacketsTakeTheStreamPathAndAZeroPidNeverCapturesThePat) {
    TestAnalyzer analyzer;
    analyzer.SetVideoPID(0x111);
    analyzer.SetCaptionPID(0);  // the service has no captions
    analyzer.Feed(PaddedPacket({0x111, true, 0}, Bytes{0, 0, 1, 0xE0}));
    EXPECT_TRUE(analyzer.streamPackets.empty());  // not locked to the clock: dropped
    analyzer.SetClockLocked(true);
    analyzer.Feed(PaddedPacket({0x111, true, 0}, Bytes{0, 0, 1, 0xE0}));
    ASSERT_EQ(analyzer.streamPackets.size(), 1u);
    EXPECT_EQ(analyzer.streamPackets[0].first, ICSIAnalyzerCore::Stream::kVideo);
    analyzer.FeedSection(0, PatSection(0x71, 0));
    EXPECT_NE(analyzer.GetSIList()->FindPAT(0x71), nullptr);
    EXPECT_EQ(analyzer.streamPackets.size(), 1u);
}

TEST(ICSIAssembly, BuffersAreRecycledAndDiscardedSectionsGoBackToTheFreeList) {
    TestAnalyzer analyzer;
    for (int i = 0; i < 50; ++i) {
        analyzer.FeedSection(0, PatSection(0x80, static_cast<uint8_t>(i & 0x1F)));
    }
    const int32_t buffers = analyzer.GetFreeBufferCount() + analyzer.GetInProgressCount();
    EXPECT_LE(buffers, 3);
    // A half-assembled section and a queued one, then a stop.
    analyzer.SetRunning(false);
    analyzer.SetRunning(true);
    const Bytes big =
        PacketizeSection(0, BuildSection({0x00, 0x81, 0, 0, 0, false}, Bytes(400, 0xE0)));
    analyzer.ProcessInput(big.data(), 188);
    analyzer.ProcessInput(PacketizeSection(0x10, PatSection(0x82, 0)).data(), 188);
    EXPECT_EQ(analyzer.GetCompletedCount(), 1);
    analyzer.DiscardSections();
    EXPECT_EQ(analyzer.GetCompletedCount(), 0);
    EXPECT_EQ(analyzer.GetInProgressCount(), 0);
    analyzer.DrainSections();
    EXPECT_EQ(analyzer.GetSIList()->FindPAT(0x82), nullptr);
}

}  // namespace
}  // namespace sitest
