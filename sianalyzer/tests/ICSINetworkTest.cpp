// NIT and SDT handling: transport streams, delivery systems, services and their descriptors.

#include <gtest/gtest.h>

#include "sianalyzer/tests/SiTestSupport.h"

namespace sitest {
namespace {

constexpr uint16_t kNetwork = 0x7FE8;
constexpr uint16_t kTsid = 0x7FE8;

struct TsEntry {
    uint16_t tsid;
    Bytes descriptors;
};

Bytes NitSection(uint8_t version, const Bytes& networkDescriptors, const std::vector<TsEntry>& list,
                 uint8_t number = 0, uint8_t last = 0) {
    ByteWriter loop;
    for (const TsEntry& ts : list) {
        loop.U16(ts.tsid).U16(kNetwork).Loop(ts.descriptors);
    }
    ByteWriter body;
    body.Loop(networkDescriptors).Loop(loop.Data());
    return BuildSection({0x40, kNetwork, version, number, last, true}, body.Data());
}

Bytes ServiceList(const std::vector<std::pair<uint16_t, uint8_t>>& services) {
    ByteWriter w;
    for (const auto& [id, type] : services) {
        w.U16(id).U8(type);
    }
    return Descriptor(0x41, w.Data());
}

struct ServiceEntry {
    uint16_t serviceId;
    Bytes descriptors;
};

Bytes SdtSection(uint8_t tableId, uint16_t tsid, uint16_t onid, uint8_t version,
                 const std::vector<ServiceEntry>& services) {
    ByteWriter body;
    body.U16(onid).U8(0xFF);
    for (const ServiceEntry& s : services) {
        body.U16(s.serviceId).U8(0xE3).Loop(s.descriptors, 0x8);  // running, not scrambled
    }
    return BuildSection({tableId, tsid, version, 0, 0, true}, body.Data());
}

Bytes ServiceDescriptor(uint8_t type, std::u16string_view provider, std::u16string_view name) {
    ByteWriter w;
    w.U8(type).Counted(Text(provider)).Counted(Text(name));
    return Descriptor(0x48, w.Data());
}

class Network : public ::testing::Test {
protected:
    ICSIList& Store() { return *analyzer.GetSIList(); }
    TestAnalyzer analyzer;
};

TEST_F(Network, DeliverySystemAndTsInformationDescriptorsAreDecoded) {
    ByteWriter terrestrial;
    terrestrial.U16(0x0D1 << 4 | 0x2 << 2 | 0x2).U16(3312);
    ByteWriter satellite;
    satellite.U32(0x01172748).U16(0x1100).U8(0x80 | 0x20 | 0x08).U32(0x0288600 << 4 | 0x3);
    ByteWriter info;
    info.U8(0x05)
        .U8(12 << 2 | 2)
        .Append(Bytes{0x0E, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K'});
    info.U8(0x0F).U8(2).U16(0x0400).U16(0x0401).U8(0xAF).U8(1).U16(0x0588);
    analyzer.FeedSection(0x10,
                         NitSection(0, Descriptor(0x40, Text(u"ネット")),
                                    {{kTsid, Concat({Concat({Descriptor(0xFA, terrestrial.Data()),
                                                             Descriptor(0xCD, info.Data())}),
                                                     Descriptor(0xFB, {0x05, 0x88, 0x05, 0x89})})},
                                     {0x4010, Descriptor(0x43, satellite.Data())}}));
    const ICSINIT* nit = Store().FindNIT(kNetwork);
    ASSERT_NE(nit, nullptr);
    EXPECT_EQ(analyzer.GetNetworkID(), kNetwork);
    EXPECT_EQ(Utf8(nit->GetNetworkName()), "ネット");
    const ICSITS* ts = nit->FindTS(kTsid);
    ASSERT_NE(ts, nullptr);
    EXPECT_EQ(ts->GetDescriptorFlags(), 0x0Eu);
    ASSERT_EQ(ts->GetFrequencyCount(), 1);
    EXPECT_EQ(ts->GetFrequency(0), 23184u);
    EXPECT_EQ(ts->GetFrequency(1), 0u);
    EXPECT_EQ(ts->GetTerrestrialInfo() >> 4, 0x0D1);
    EXPECT_EQ(ts->GetRemoteControlKeyID(), 5);
    EXPECT_EQ(Utf8(ts->GetTSName()), "ABCDEFGHIJK");
    ASSERT_EQ(ts->GetLayerCount(), 2);
    EXPECT_EQ(ts->GetLayer(0)->GetServiceCount(), 2);
    EXPECT_EQ(ts->GetLayer(0)->GetServiceID(1), 0x0401);
    EXPECT_EQ(ts->GetLayer(1)->GetTransmissionTypeInfo(), 0xAF);
    EXPECT_EQ(ts->GetLayer(1)->GetServiceID(0), 0x0588);
    EXPECT_EQ(ts->GetPartialReceptionCount(), 2);
    EXPECT_EQ(ts->GetPartialReceptionServiceID(1), 0x0589);

    const ICSITS* bs = Store().FindTS(0x4010);
    ASSERT_NE(bs, nullptr);
    ASSERT_EQ(bs->GetFrequencyCount(), 1);
    EXPECT_EQ(bs->GetFrequency(0), 11727480u);
    EXPECT_EQ(bs->GetOrbitalPosition(), 0x1100);
    EXPECT_EQ(bs->GetWestEastFlag(), 1);
    EXPECT_EQ(bs->GetPolarisation(), 1);
    EXPECT_EQ(bs->GetModulation(), 8);
    EXPECT_EQ(bs->GetSymbolRate(), 0x0288600u);
    EXPECT_EQ(bs->GetFECInner(), 3);
}

TEST_F(Network, AvailabilityNeedsTheServiceListThePatAndForDataServicesThePmt) {
    analyzer.FeedSection(
        0x10,
        NitSection(0, {}, {{kTsid, ServiceList({{0x400, 0x01}, {0x580, 0xC0}, {0x590, 0x01}})}}));
    const ICSITS* ts = Store().FindTS(kTsid);
    ASSERT_NE(ts, nullptr);
    EXPECT_EQ(ts->IsServiceAvailable(0x999), -2);
    EXPECT_EQ(ts->IsServiceAvailable(0x400), -1);
    analyzer.FeedSection(
        0, BuildSection({0x00, kTsid, 0, 0, 0, false}, PatBody({{0x400, 0x1F0}, {0x580, 0x1F8}})));
    EXPECT_EQ(ts->IsServiceAvailable(0x400), 1);
    EXPECT_EQ(ts->IsServiceAvailable(0x590), 0);
    EXPECT_EQ(ts->IsServiceAvailable(0x580), 0);
    analyzer.FeedSection(0x1F8,
                         BuildSection({0x02, 0x580, 0, 0, 0, false}, PmtBody(0x1FF, {}, {})));
    EXPECT_EQ(ts->IsServiceAvailable(0x580), 1);
}

TEST_F(Network, TheFirstCompleteNitSelectsTheFirstServiceOfTheCurrentStream) {
    analyzer.FeedSection(0, BuildSection({0x00, kTsid, 0, 0, 0, false}, PatBody({{0x408, 0x1F0}})));
    analyzer.FeedSection(0x1F0,
                         BuildSection({0x02, 0x408, 0, 0, 0, false},
                                      PmtBody(0x1FF, {}, {{0x02, 0x111, Descriptor(0x52, {0})}})));
    analyzer.FeedSection(0x10, NitSection(0, {}, {{kTsid, ServiceList({{0x408, 0x01}})}}, 0, 1));
    EXPECT_EQ(analyzer.GetServiceID(), 0);  // one section of two
    analyzer.FeedSection(0x10, NitSection(0, {}, {{0x7FE9, ServiceList({{0x410, 0x01}})}}, 1, 1));
    EXPECT_EQ(analyzer.GetServiceID(), 0x408);
    EXPECT_EQ(analyzer.GetVideoPID(), 0x111);
    EXPECT_EQ(Store().FindNIT(kNetwork)->GetTSCount(), 2);
}

TEST_F(Network, ATruncatedDescriptorLoopDiscardsTheNit) {
    analyzer.SetNotifyFlags(si::kEventNITSection.bit);
    analyzer.FeedSection(0x10, NitSection(0, Descriptor(0x40, Text(u"前")), {}));
    ASSERT_EQ(analyzer.CountOf(si::kEventNITSection.code), 1u);
    // A new version whose last transport descriptor has its tag as the last data byte: the
    // length byte would be the CRC's.
    ByteWriter loop;
    loop.U16(kTsid).U16(kNetwork).U16(0xF000 | 6).Append(ServiceList({{0x400, 0x01}})).U8(0x41);
    ByteWriter body;
    body.Loop({}).Loop(loop.Data());
    analyzer.FeedSection(0x10, BuildSection({0x40, kNetwork, 1, 0, 0, true}, body.Data()));
    EXPECT_EQ(Store().FindNIT(kNetwork), nullptr);
    EXPECT_EQ(analyzer.CountOf(si::kEventNITSection.code), 1u);  // its notification was dropped
    // The next repetition of a good section rebuilds it.
    analyzer.FeedSection(0x10, NitSection(1, Descriptor(0x40, Text(u"後")), {}));
    ASSERT_NE(Store().FindNIT(kNetwork), nullptr);
    EXPECT_EQ(Utf8(Store().FindNIT(kNetwork)->GetNetworkName()), "後");
}

TEST_F(Network, ServicesCarryNamesLinkageAndLogoTransmission) {
    ByteWriter linkage;
    linkage.U16(0x4010).U16(0x0004).U16(0x0101).U8(0x03).U8(0xAA);
    ByteWriter logo1;
    logo1.U8(1).U16(0xFE05).U16(0xF002).U16(0x0123);
    ByteWriter logo3;
    logo3.U8(3).Append(Text(u"ロゴ"));
    analyzer.FeedSection(
        0x11, SdtSection(0x42, kTsid, kNetwork, 0,
                         {{0x400, Concat({ServiceDescriptor(0x01, u"放送局", u"テレビ１"),
                                          Concat({Descriptor(0x4A, linkage.Data()),
                                                  Descriptor(0xCF, logo1.Data())})})},
                          {0x401, Concat({ServiceDescriptor(0x01, u"放送局", u"テレビ２"),
                                          Descriptor(0xCF, {0x02, 0xFE, 0x06})})},
                          {0x402, Descriptor(0xCF, logo3.Data())}}));
    const ICSISDT* sdt = Store().FindSDT(0, kTsid);
    ASSERT_NE(sdt, nullptr);
    ASSERT_EQ(sdt->GetServiceCount(), 3);
    const ICSIService* first = sdt->FindService(0x400);
    EXPECT_EQ(Utf8(first->GetProviderName()), "放送局");
    EXPECT_EQ(Utf8(first->GetServiceName()), "テレビ１");
    EXPECT_EQ(first->GetRunningStatus(), 4);
    EXPECT_EQ(first->IsFreeCA(), 1);
    EXPECT_EQ(first->GetEITFlags(), 0xE3);
    EXPECT_EQ(first->GetLinkageOriginalNetworkID(), 4);
    EXPECT_EQ(first->GetLinkageType(), 3);
    ASSERT_EQ(first->GetLinkagePrivateDataLength(), 1);
    EXPECT_EQ(first->GetLogoID(), 0x005);
    EXPECT_EQ(first->GetLogoVersion(), 2);
    EXPECT_EQ(first->GetDownloadDataID(), 0x0123);
    const ICSIService* second = sdt->FindService(0x401);
    EXPECT_EQ(second->GetLogoTransmissionType(), 2);
    EXPECT_EQ(second->GetLogoID(), 0x006);
    EXPECT_EQ(second->GetLogoVersion(), 0);
    EXPECT_EQ(second->GetDownloadDataID(), 0);
    EXPECT_EQ(Utf8(sdt->FindService(0x402)->GetLogoChar()), "ロゴ");
    EXPECT_EQ(Utf8(sdt->FindService(0x402)->GetServiceName()), "");
}

TEST_F(Network, OtherStreamSdtsAreKeptButOnlyTheActualOneSetsTheNetwork) {
    analyzer.FeedSection(0x11, SdtSection(0x46, 0x7FE9, 0x7FE1, 0,
                                          {{0x410, ServiceDescriptor(0x01, u"", u"他局")}}));
    EXPECT_EQ(analyzer.GetNetworkID(), 0);
    EXPECT_NE(Store().FindSDT(0x7FE1, 0x7FE9), nullptr);
    analyzer.FeedSection(0x11, SdtSection(0x42, kTsid, kNetwork, 0, {}));
    EXPECT_EQ(analyzer.GetNetworkID(), kNetwork);
    EXPECT_EQ(Store().GetSDTCount(), 2);
}

TEST_F(Network, StopAndRunAgainRebuildsTablesFromTheNextSections) {
    analyzer.FeedSection(0x11, SdtSection(0x42, kTsid, kNetwork, 5,
                                          {{0x400, ServiceDescriptor(0x01, u"", u"古い名前")}}));
    analyzer.FeedSection(0x10, NitSection(5, Descriptor(0x40, Text(u"古い")), {}));
    const ICSISDT* sdt = Store().FindSDT(kNetwork, kTsid);
    analyzer.FeedSection(0x11, SdtSection(0x42, kTsid, kNetwork, 5,
                                          {{0x400, ServiceDescriptor(0x01, u"", u"新しい名前")}}));
    EXPECT_EQ(Utf8(sdt->FindService(0x400)->GetServiceName()), "古い名前");  // a repetition
    analyzer.ResetSI();
    EXPECT_FALSE(sdt->IsComplete());
    EXPECT_EQ(Utf8(sdt->FindService(0x400)->GetServiceName()), "古い名前");  // still readable
    analyzer.FeedSection(0x11, SdtSection(0x42, kTsid, kNetwork, 5,
                                          {{0x400, ServiceDescriptor(0x01, u"", u"新しい名前")}}));
    analyzer.FeedSection(0x10, NitSection(5, Descriptor(0x40, Text(u"新しい")), {}));
    EXPECT_TRUE(sdt->IsComplete());
    EXPECT_EQ(Utf8(sdt->FindService(0x400)->GetServiceName()), "新しい名前");
    EXPECT_EQ(Utf8(Store().FindNIT(kNetwork)->GetNetworkName()), "新しい");
}

}  // namespace
}  // namespace sitest
