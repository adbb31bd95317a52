// PAT and PMT handling, program descriptors and the stream selection.

#include <gtest/gtest.h>

#include "sianalyzer/tests/SiTestSupport.h"

namespace sitest {
namespace {

class Psi : public ::testing::Test {
protected:
    void SendPat(uint8_t version, const std::vector<std::pair<uint16_t, uint16_t>>& programs) {
        analyzer.FeedSection(0,
                             BuildSection({0x00, kTsid, version, 0, 0, false}, PatBody(programs)));
    }
    void SendPmt(uint16_t pid, uint16_t program, uint8_t version, uint8_t number, uint8_t last,
                 const Bytes& info, const std::vector<EsEntry>& streams) {
        analyzer.FeedSection(pid, BuildSection({0x02, program, version, number, last, false},
                                               PmtBody(0x1FF, info, streams)));
    }
    ICSIList& Store() { return *analyzer.GetSIList(); }

    static constexpr uint16_t kTsid = 0x7FE8;
    TestAnalyzer analyzer;
};

TEST_F(Psi, APatStoresEveryProgramAndWatchesThePmtAndNetworkPids) {
    SendPat(0, {{0, 0x10}, {0x400, 0x1F0}, {0x408, 0x1F8}});
    const ICSIPAT* pat = Store().FindPAT(kTsid);
    ASSERT_NE(pat, nullptr);
    EXPECT_EQ(analyzer.GetTransportStreamID(), kTsid);
    EXPECT_EQ(analyzer.GetCurrentPAT(), pat);
    ASSERT_EQ(pat->GetProgramCount(), 3);
    EXPECT_EQ(pat->GetProgramNumber(0), 0);
    EXPECT_EQ(pat->GetPMTPID(0), 0x10);
    EXPECT_EQ(pat->GetProgramNumber(2), 0x408);
    EXPECT_EQ(pat->GetPMTPID(3), 0);
    for (uint16_t pid : {0x10, 0x1F0, 0x1F8}) {
        EXPECT_EQ(analyzer.GetWatch(pid), ICSIAnalyzerCore::kWatchPMT) << pid;
    }
}

TEST_F(Psi, ANewPatVersionThatDropsAProgramStopsWatchingItsPmtPid) {
    SendPat(0, {{0x400, 0x1F0}, {0x408, 0x1F8}});
    SendPat(1, {{0x400, 0x1F0}});
    EXPECT_EQ(Store().GetPATCount(), 1);
    EXPECT_EQ(Store().FindPAT(kTsid)->GetVersion(), 1);
    EXPECT_EQ(analyzer.GetWatch(0x1F0), ICSIAnalyzerCore::kWatchPMT);
    EXPECT_EQ(analyzer.GetWatch(0x1F8), 0);
}

TEST_F(Psi, APmtOfTwoSectionsIsCompleteOnlyAfterBoth) {
    analyzer.SetNotifyFlags(si::kEventPMTComplete.bit);
    SendPat(0, {{0x400, 0x1F0}});
    SendPmt(0x1F0, 0x400, 3, 0, 1, {}, {{0x02, 0x111, Descriptor(0x52, {0x00})}});
    const ICSIPMT* pmt = Store().FindPMT(kTsid, 0x400);
    ASSERT_NE(pmt, nullptr);
    EXPECT_FALSE(pmt->IsComplete());
    EXPECT_EQ(analyzer.CountOf(si::kEventPMTComplete.code), 0u);
    SendPmt(0x1F0, 0x400, 3, 0, 1, {}, {{0x02, 0x111, Descriptor(0x52, {0x00})}});
    EXPECT_EQ(analyzer.CountOf(si::kEventPMTComplete.code), 0u);
    SendPmt(0x1F0, 0x400, 3, 1, 1, {}, {{0x0F, 0x112, Descriptor(0x52, {0x10})}});
    EXPECT_TRUE(pmt->IsComplete());
    EXPECT_EQ(analyzer.CountOf(si::kEventPMTComplete.code), 1u);
    EXPECT_EQ(pmt->GetESCount(), 2);
    SendPmt(0x1F0, 0x400, 3, 0, 1, {}, {{0x02, 0x111, Descriptor(0x52, {0x00})}});
    EXPECT_EQ(analyzer.CountOf(si::kEventPMTComplete.code), 1u);
    ASSERT_EQ(analyzer.delivered.back().code, si::kEventPMTComplete.code);
    EXPECT_EQ(analyzer.delivered.back().param2, static_cast<intptr_t>(kTsid) << 16 | 0x400);
}

TEST_F(Psi, APmtOnAPidTheCurrentPatDoesNotListChangesNothing) {
    SendPmt(0x1F0, 0x400, 0, 0, 0, {}, {});
    EXPECT_EQ(Store().GetPMTCount(), 0);  // no PAT yet
    SendPat(0, {{0x400, 0x1F0}});
    // Another transport stream's PAT makes 0x1F8 a watched PID, but the current one does not
    // list it.
    analyzer.FeedSection(0,
                         BuildSection({0x00, 0x7FE9, 0, 0, 0, false}, PatBody({{0x408, 0x1F8}})));
    ASSERT_EQ(analyzer.GetTransportStreamID(), kTsid);
    SendPmt(0x1F8, 0x400, 0, 0, 0, {}, {{0x02, 0x111, {}}});
    EXPECT_EQ(Store().GetPMTCount(), 0);
}

TEST_F(Psi, ElementaryStreamDescriptorsAreKeptAsFields) {
    SendPat(0, {{0x400, 0x1F0}});
    // digital copy control with a maximum bit rate and two component entries
    const Bytes copyControl = Descriptor(0xC1, {0x20 | 0x10 | 0x08, 20, 5, 5, 0x00, 0x80, 0x20, 7});
    const Bytes hierarchical = Descriptor(0xC0, {0xFF, 0xE1, 0x23});
    const Bytes region = Descriptor(0xC6, {0x01, 0x80, 0, 0, 0, 0, 0, 0x01});
    const Bytes decodeControl = Descriptor(0xC8, {0x2B});
    ByteWriter dataComponent;
    dataComponent.U16(0x000C).U8(0x3F).U8(0x40).U16(1).U16(2).U16(0xA7B0).U16(4).U8(0x50).U8(0xC0);
    const Bytes info = Concat({Descriptor(0xDE, {0x3A}),
                               Descriptor(0xFC, {0x04, 0x00, 0x80, 0x04, 0x12, 0x3F, 0x45, 0x6F})});
    SendPmt(
        0x1F0, 0x400, 0, 0, 0, info,
        {{0x02, 0x111,
          Concat({Concat({Descriptor(0x52, {0x00}), copyControl}),
                  Concat({hierarchical, Concat({region, decodeControl})})})},
         {0x0D, 0x140, Concat({Descriptor(0x52, {0x40}), Descriptor(0xFD, dataComponent.Data())})},
         {0x0F, 0x112, {}}});
    const ICSIPMT* pmt = Store().FindPMT(kTsid, 0x400);
    ASSERT_NE(pmt, nullptr);
    EXPECT_EQ(pmt->GetPCRPID(), 0x1FF);
    EXPECT_EQ(pmt->GetDescriptorFlags(), 0x18u);
    EXPECT_EQ(pmt->GetContentAvailability(), 0x3A);
    EXPECT_EQ(pmt->IsNotEncrypted(), 1);
    ASSERT_EQ(pmt->GetEmergencyInfoCount(), 1);
    const ICSIEmergencyInfo* emergency = pmt->FindEmergencyInfo(0x0400);
    ASSERT_NE(emergency, nullptr);
    EXPECT_EQ(emergency->GetStartEndFlag(), 1);
    ASSERT_EQ(emergency->GetAreaCount(), 2);
    EXPECT_EQ(emergency->GetAreaCode(0), 0x123);
    EXPECT_EQ(emergency->FindAreaCode(0x456), 1);
    EXPECT_EQ(emergency->FindAreaCode(0x457), -1);

    const ICSIES* video = pmt->FindES(0x111);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->GetDescriptorFlags(), 0xDCu);
    const ICSIDigitalCopyControl* control = video->GetDigitalCopyControl();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->GetMaximumBitrate(), 80);
    EXPECT_EQ(control->GetCopyControlType(), 2);
    ASSERT_EQ(control->GetComponentCount(), 2);
    ASSERT_NE(control->FindComponent(5), nullptr);
    ASSERT_NE(control->FindComponent(0x80), nullptr);
    EXPECT_EQ(control->FindComponent(5)->GetMaximumBitrate(), 0);
    EXPECT_EQ(control->FindComponent(0x80)->GetMaximumBitrate(), 28);
    EXPECT_EQ(video->GetQualityLevel(), 1);
    EXPECT_EQ(video->GetReferencePID(), 0x123);
    EXPECT_EQ(video->GetRegionSpecType(), 1);
    EXPECT_EQ(video->GetTargetRegion(), 0x8000000000000100ull);
    EXPECT_EQ(video->GetVideoDecodeControl(), 0x2B);

    ASSERT_NE(pmt->FindESByComponentTag(0x40), nullptr);
    const ICSIDataComponent* data = pmt->FindESByComponentTag(0x40)->GetDataComponent();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->GetInfoLength(), 12);
    // Entry point set, bit 6 of the second byte set, bit 7 clear: the carousel part is at 6.
    EXPECT_EQ(data->GetCarouselOffset(), 6);
    EXPECT_EQ(data->GetBMLMinorVersion(), 2);
    EXPECT_EQ(data->GetDataEventID(), 0xA);
    EXPECT_EQ(data->GetOnDemandRetrievalFlag(), 1);
    EXPECT_EQ(data->GetFileStorableFlag(), 0);
    EXPECT_EQ(data->GetStartPriority(), 1);

    const ICSIES* audio = pmt->FindES(0x112);
    EXPECT_EQ(audio->GetComponentTag(), 0);  // no stream identifier
    EXPECT_EQ(pmt->FindESByComponentTag(0x00), video);
}

TEST_F(Psi, SelectionFollowsThePmtOfTheSelectedService) {
    SendPat(0, {{0x400, 0x1F0}});
    EXPECT_FALSE(analyzer.SetServiceID(0x400, true));  // no PMT yet
    EXPECT_EQ(analyzer.GetVideoPID(), ICSIAnalyzerCore::kNoPID);
    SendPmt(0x1F0, 0x400, 0, 0, 0, {},
            {{0x02, 0x111, Descriptor(0x52, {0x00})}, {0x0F, 0x112, Descriptor(0x52, {0x10})}});
    EXPECT_EQ(analyzer.GetPCRPID(), 0x1FF);
    EXPECT_EQ(analyzer.GetVideoPID(), 0x111);
    EXPECT_EQ(analyzer.GetAudioPID(), 0x112);
    EXPECT_EQ(analyzer.GetCaptionPID(), 0);  // no caption stream
    EXPECT_TRUE(analyzer.SetServiceID(0x400, true));
    // PAT sections are still assembled with the caption PID 0.
    SendPat(1, {{0x400, 0x1F0}});
    EXPECT_EQ(Store().FindPAT(kTsid)->GetVersion(), 1);
}

TEST_F(Psi, StopAndRunAgainRebuildsThePatAndPmtFromTheNextSections) {
    analyzer.SetNotifyFlags(si::kEventPMTComplete.bit | 0x00010000);
    SendPat(0, {{0x400, 0x1F0}});
    SendPmt(0x1F0, 0x400, 2, 0, 0, {}, {{0x02, 0x111, Descriptor(0x52, {0x00})}});
    const ICSIPMT* pmt = Store().FindPMT(kTsid, 0x400);
    ASSERT_TRUE(pmt->IsComplete());
    analyzer.ResetSI();
    EXPECT_EQ(analyzer.GetTransportStreamID(), 0);
    EXPECT_EQ(analyzer.GetWatch(0x1F0), 0);
    EXPECT_FALSE(Store().FindPAT(kTsid)->IsComplete());
    EXPECT_FALSE(pmt->IsComplete());
    EXPECT_EQ(pmt->GetESCount(), 1);  // still readable
    SendPat(0, {{0x400, 0x1F0}});
    EXPECT_TRUE(Store().FindPAT(kTsid)->IsComplete());
    EXPECT_EQ(analyzer.GetWatch(0x1F0), ICSIAnalyzerCore::kWatchPMT);
    SendPmt(0x1F0, 0x400, 2, 0, 0, {}, {{0x02, 0x111, Descriptor(0x52, {0x00})}});
    ASSERT_EQ(Store().FindPMT(kTsid, 0x400), pmt);
    EXPECT_TRUE(pmt->IsComplete());
    EXPECT_EQ(analyzer.CountOf(si::kEventPATStored.code), 2u);
    EXPECT_EQ(analyzer.CountOf(si::kEventPMTComplete.code), 2u);
}

TEST_F(Psi, TheEngineeringServiceIsWatchedOnceItsPmtArrives) {
    SendPat(0, {{0x400, 0x1F0}, {0x480, 0x1FE}});
    ByteWriter services;
    services.U16(0x400).U8(0x01).U16(0x480).U8(0xA4);
    ByteWriter ts;
    ts.U16(kTsid).U16(0x7FE8).Loop(Descriptor(0x41, services.Data()));
    ByteWriter nit;
    nit.Loop({}).Loop(ts.Data());
    analyzer.FeedSection(0x10, BuildSection({0x40, 0x7FE8, 0, 0, 0, true}, nit.Data()));
    EXPECT_EQ(analyzer.GetEngineeringServiceID(), 0);
    analyzer.FeedSection(0x1FE, BuildSection({0x02, 0x480, 0, 0, 0, false},
                                             PmtBody(0x1FF, {}, {{0x0D, 0x901, {}}})));
    EXPECT_EQ(analyzer.GetEngineeringServiceID(), 0x480);
    EXPECT_EQ(analyzer.GetWatch(0x901), ICSIAnalyzerCore::kWatchEngineering);
    analyzer.ResetSI();
    EXPECT_EQ(analyzer.GetEngineeringServiceID(), 0);
    EXPECT_EQ(analyzer.GetWatch(0x901), 0);
}

}  // namespace
}  // namespace sitest
