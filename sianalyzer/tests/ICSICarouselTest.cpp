// The data carousel: the engineering service lookup, download information (DII), download data
// blocks (DDB) and the modules they carry, and the simulator's logo carousel end to end.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>

#include "sianalyzer/tests/SiTestSupport.h"
#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/LogoImage.h"
#include "tools/isdbsim/SiTables.h"
#include "tools/isdbsim/TsStream.h"

namespace sitest {
namespace {

constexpr uint16_t kCarouselPid = 0x0901;
constexpr uint32_t kDownloadId = 0x00010040;

class CarouselAnalyzer : public TestAnalyzer {
public:
    using ICSIAnalyzerCore::IsEngineeringLookedUp;
    using ICSIAnalyzerCore::SetWatch;
};

struct ModuleEntry {
    uint16_t id;
    uint32_t size;
    uint8_t version;
    Bytes info;  // the module info descriptors
};

// The DSM-CC message header of a DII or DDB (adaptation header included) and its body.
Bytes Message(uint16_t messageId, uint32_t id, const Bytes& adaptation, const Bytes& body) {
    ByteWriter w;
    w.U8(0x11).U8(0x03).U16(messageId).U32(id).U8(0xFF).U8(
        static_cast<uint32_t>(adaptation.size()));
    w.U16(static_cast<uint32_t>(adaptation.size() + body.size())).Append(adaptation).Append(body);
    return w.Data();
}

// A compatibilityDescriptor() with no entries.
Bytes NoCompatibility() {
    return {0x00, 0x00};
}

Bytes DiiSection(uint32_t transactionId, uint16_t blockSize,
                 const std::vector<ModuleEntry>& modules,
                 const Bytes& compatibility = NoCompatibility(), const Bytes& privateData = {},
                 const Bytes& adaptation = {}) {
    ByteWriter body;
    body.U32(kDownloadId).U16(blockSize).U8(0).U8(0).U32(0).U32(0x00012345);
    body.Append(compatibility);
    body.U16(static_cast<uint32_t>(modules.size()));
    for (const ModuleEntry& m : modules) {
        body.U16(m.id).U32(m.size).U8(m.version).Counted(m.info);
    }
    body.U16(static_cast<uint32_t>(privateData.size())).Append(privateData);
    return BuildSection({0x3B, static_cast<uint16_t>(transactionId), 0, 0, 0, true},
                        Message(0x1002, transactionId, adaptation, body.Data()));
}

Bytes DdbSection(uint16_t moduleId, uint8_t version, uint16_t blockNumber, const Bytes& block,
                 uint32_t downloadId = kDownloadId) {
    ByteWriter body;
    body.U16(moduleId).U8(version).U8(0xFF).U16(blockNumber).Append(block);
    return BuildSection({0x3C, moduleId, static_cast<uint8_t>(version & 0x1F),
                         static_cast<uint8_t>(blockNumber), 0xFF, true},
                        Message(0x1003, downloadId, {}, body.Data()));
}

Bytes Name(std::string_view name) {
    ByteWriter w;
    w.Append(name);
    return Descriptor(0x02, w.Data());
}

// n bytes that differ from block to block, so that a misplaced block shows.
Bytes Pattern(size_t n, uint32_t seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 7 + seed * 13 + (i >> 8)) & 0xFF);
    }
    return bytes;
}

Bytes Slice(const Bytes& data, size_t offset, size_t n) {
    n = std::min(n, data.size() - std::min(offset, data.size()));
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(offset),
                 data.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

class Carousel : public ::testing::Test {
protected:
    void SetUp() override { analyzer.SetWatch(kCarouselPid, ICSIAnalyzerCore::kWatchEngineering); }
    void Send(const Bytes& section) { analyzer.FeedSection(kCarouselPid, section); }
    // Sends a module's data in blocks of `blockSize` (after a DII announcing it as `info`).
    void SendModule(uint16_t id, uint8_t version, const Bytes& data, uint16_t blockSize) {
        for (size_t offset = 0, block = 0; offset < data.size(); offset += blockSize, ++block) {
            Send(DdbSection(id, version, static_cast<uint16_t>(block),
                            Slice(data, offset, blockSize)));
        }
    }
    ICSIList& Store() { return *analyzer.GetSIList(); }
    ICSIDownload* Download() { return Store().FindDownload(kDownloadId); }

    CarouselAnalyzer analyzer;
};

TEST_F(Carousel, ADiiStoresTheDownloadWithItsCompatibilityAndModuleInfos) {
    ByteWriter compatibility;
    {
        ByteWriter entry;
        entry.U8(0x01).U24(0x00ABCD).U16(0x0102).U16(0x0304).U8(1);  // one sub-descriptor
        entry.U8(0x05).Counted({0xDE, 0xAD});
        ByteWriter descriptors;
        descriptors.U16(1).U8(0x02).Counted(entry.Data());
        compatibility.U16(static_cast<uint32_t>(descriptors.Data().size()))
            .Append(descriptors.Data());
    }
    ByteWriter info;
    info.Append(Descriptor(0x01, {'i', 'm', 'a', 'g', 'e'}));
    info.Append(Name("GENRE"));
    info.Append(Descriptor(0x03, Concat({Bytes{'j', 'p', 'n'}, Text(u"ジャンル表")})));
    info.Append(Descriptor(0x04, {0x01, 0x00, 0x07}));
    info.Append(Descriptor(0x05, {0x12, 0x34, 0x56, 0x78}));
    info.Append(Descriptor(0x7E, {0x00}));  // unknown: skipped
    ByteWriter dates;
    dates.U8(0).U8(9).U16(MjdOf(2026, 4, 1)).U8(0x21).U16(MjdOf(2026, 4, 2)).U8(0x22);
    info.Append(Descriptor(0xC3, dates.Data()));
    Send(DiiSection(0x80000002, 4066, {{3, 1000, 5, info.Data()}}, compatibility.Data(),
                    {0xAA, 0xBB}, {0x01, 0x02, 0x03}));

    ASSERT_EQ(Store().GetDownloadCount(), 1);
    const ICSIDownload* download = Download();
    ASSERT_NE(download, nullptr);
    EXPECT_EQ(download->GetOwner(), &Store());
    EXPECT_EQ(download->GetTransactionID(), 0x80000002u);
    EXPECT_EQ(download->GetBlockSize(), 4066);
    EXPECT_EQ(download->GetTCDownloadScenario(), 0x00012345u);
    ASSERT_EQ(download->GetAdaptationLength(), 3);
    EXPECT_EQ(Bytes(download->GetAdaptationData(), download->GetAdaptationData() + 3),
              (Bytes{0x01, 0x02, 0x03}));
    ASSERT_EQ(download->GetPrivateDataLength(), 2);
    EXPECT_EQ(download->GetPrivateData()[1], 0xBB);

    ASSERT_EQ(download->GetCompatibilityCount(), 1);
    const ICSICompatibility* c = download->GetCompatibility(0);
    EXPECT_EQ(c->GetOwner(), download);
    EXPECT_EQ(c->GetDescriptorType(), 0x02);
    EXPECT_EQ(c->GetSpecifierType(), 0x01);
    EXPECT_EQ(c->GetSpecifierData(), 0x00ABCDu);
    EXPECT_EQ(c->GetModel(), 0x0102);
    EXPECT_EQ(c->GetVersion(), 0x0304);
    ASSERT_EQ(c->GetSubDescriptorCount(), 1);
    EXPECT_EQ(c->GetSubDescriptor(0)->GetType(), 0x05);
    EXPECT_EQ(c->GetSubDescriptor(0)->GetLength(), 2);
    EXPECT_EQ(c->GetSubDescriptor(0)->GetData()[1], 0xAD);
    EXPECT_EQ(c->GetSubDescriptor(1), nullptr);
    EXPECT_EQ(download->GetCompatibility(1), nullptr);

    ASSERT_EQ(download->GetModuleInfoCount(), 1);
    const ICSIModuleInfo* m = download->FindModuleInfo(3);
    ASSERT_EQ(m, download->GetModuleInfo(0));
    EXPECT_EQ(download->FindModuleInfo(4), nullptr);
    EXPECT_EQ(m->GetDescriptorFlags(), 0x3Fu);
    EXPECT_EQ(m->GetModuleVersion(), 5);
    EXPECT_EQ(m->GetModuleSize(), 1000u);
    EXPECT_EQ(m->GetModuleKind(), ICSIModule::kKindGenre);
    EXPECT_STREQ(m->GetTypeText(), "image");
    EXPECT_STREQ(m->GetName(), "GENRE");
    EXPECT_STREQ(m->GetLanguageCode(), "jpn");
    EXPECT_EQ(Utf8(m->GetInfoText()), "ジャンル表");
    EXPECT_EQ(m->GetLinkPosition(), 1);
    EXPECT_EQ(m->GetLinkModuleID(), 7);
    EXPECT_EQ(m->GetCRC32(), 0x12345678u);
    EXPECT_EQ(m->GetDateListType(), 0);
    EXPECT_EQ(m->GetDateListParameter(), 9);
    ASSERT_EQ(m->GetDateCount(), 2);
    uint16_t year = 0;
    uint8_t month = 0, day = 0;
    EXPECT_TRUE(m->GetDate(1, &year, &month, &day));
    EXPECT_EQ(year, 2026);
    EXPECT_EQ(month, 4);
    EXPECT_EQ(day, 2);
    EXPECT_EQ(m->GetDateValue(0), 0x21);
    EXPECT_TRUE(m->GetDate(0, nullptr, nullptr, &day));
    EXPECT_EQ(day, 1);
    EXPECT_FALSE(m->GetDate(2, &year, &month, &day));
    EXPECT_EQ(year, 0);
    EXPECT_EQ(day, 0);
    EXPECT_EQ(m->GetDateValue(2), 0);
    EXPECT_EQ(download->GetModuleCount(), 0);
    EXPECT_TRUE(analyzer.delivered.empty());  // a DII raises no event
}

TEST_F(Carousel, ModuleKindsFollowTheExactNameOrTheDateListDescriptor) {
    ByteWriter dated;
    dated.U8(1).U8(0).U16(MjdOf(2026, 1, 1)).U8(0);
    const Bytes dateList = Descriptor(0xC3, dated.Data());
    Send(DiiSection(1, 4066,
                    {{0, 10, 1, Name("LOGO-03")},
                     {1, 10, 1, Name("logo-03")},
                     {2, 10, 1, Name("CS_LOGO-05")},
                     {3, 10, 1, Name("KEYWORD ")},
                     {4, 10, 1, dateList},
                     {5, 10, 1, Concat({dateList, Name("CS_KEYWORD")})},
                     {6, 10, 1, Concat({Name("FEATURE"), dateList})},
                     {7, 10, 1, Concat({Name("CS_GENRE"), Name("unknown")})}}));
    const ICSIDownload* download = Download();
    ASSERT_NE(download, nullptr);
    const uint8_t expected[] = {8, 0, 26, 0, 4, 19, 4, 18};
    ASSERT_EQ(download->GetModuleInfoCount(), 8);
    for (int32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(download->GetModuleInfo(i)->GetModuleKind(), expected[i]) << i;
    }
}

TEST_F(Carousel, ARepeatedTransactionChangesNothingAndANewOneDropsReceivedModules) {
    const Bytes data = Pattern(100, 1);
    Send(DiiSection(7, 64, {{1, 100, 1, {}}, {2, 100, 1, {}}}));
    ICSIDownload* download = Download();
    SendModule(1, 1, data, 64);
    Send(DdbSection(2, 1, 0, Slice(data, 0, 64)));
    ASSERT_EQ(download->GetModuleCount(), 2);

    Send(DiiSection(7, 64, {{1, 100, 1, {}}}));
    ASSERT_EQ(Download(), download);
    EXPECT_EQ(download->GetModuleInfoCount(), 2);
    EXPECT_EQ(download->GetModuleCount(), 2);
    EXPECT_FALSE(download->FindModule(2)->IsComplete());

    Send(DiiSection(8, 64, {{1, 100, 2, {}}}));
    download = Download();
    ASSERT_NE(download, nullptr);
    EXPECT_EQ(Store().GetDownloadCount(), 1);
    EXPECT_EQ(download->GetTransactionID(), 8u);
    EXPECT_EQ(download->GetModuleInfoCount(), 1);
    EXPECT_EQ(download->GetModuleCount(), 0);
    // Module 2 is no longer announced: its blocks are ignored.
    Send(DdbSection(2, 1, 0, Slice(data, 0, 64)));
    EXPECT_EQ(download->GetModuleCount(), 0);
}

TEST_F(Carousel, BlocksArePlacedByNumberAndTheLastOneCompletesTheModule) {
    analyzer.SetNotifyFlags(si::kEventModuleComplete.bit);
    const Bytes data = Pattern(10000, 3);
    Send(DiiSection(1, 4066, {{0x21, 10000, 4, {}}}));
    Send(DdbSection(0x21, 4, 0, Slice(data, 0, 4066)));
    ICSIModule* module = Download()->FindModule(0x21);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->GetOwner(), Download());
    EXPECT_EQ(module->GetVersion(), 4);
    EXPECT_EQ(module->GetModuleSize(), 10000u);
    EXPECT_EQ(module->GetDataLength(), 4066);
    Send(DdbSection(0x21, 4, 1, Slice(data, 4066, 4066)));
    EXPECT_FALSE(module->IsComplete());
    EXPECT_EQ(module->GetDataLength(), 8132);
    EXPECT_TRUE(analyzer.delivered.empty());
    // Block 2 carries the last 1,868 bytes (the section holds a whole block's worth).
    Bytes last = Slice(data, 8132, 1868);
    last.resize(4066, 0xEE);
    Send(DdbSection(0x21, 4, 2, last));
    ASSERT_TRUE(module->IsComplete());
    ASSERT_EQ(module->GetDataLength(), 10000);
    EXPECT_EQ(Bytes(module->GetData(), module->GetData() + 10000), data);
    EXPECT_EQ(module->GetModuleKind(), 0);
    EXPECT_EQ(module->GetItemCount(), 0);
    ASSERT_EQ(analyzer.delivered.size(), 1u);
    EXPECT_EQ(analyzer.delivered[0].code, si::kEventModuleComplete.code);
    EXPECT_EQ(analyzer.delivered[0].param1, static_cast<intptr_t>(kDownloadId));
    EXPECT_EQ(analyzer.delivered[0].param2, 0x21);
    // The carousel's next cycle changes nothing.
    SendModule(0x21, 4, data, 4066);
    EXPECT_EQ(analyzer.delivered.size(), 1u);
    EXPECT_EQ(module->GetDataLength(), 10000);
}

TEST_F(Carousel, AModuleWithAnUnknownNameStaysRawAndIsAnnounced) {
    analyzer.SetNotifyFlags(si::kEventModuleComplete.bit);
    const Bytes data = Pattern(300, 4);
    Send(DiiSection(1, 4066, {{5, 300, 1, Name("logo-03")}}));
    Send(DdbSection(5, 1, 0, data));
    const ICSIModule* module = Download()->FindModule(5);
    ASSERT_TRUE(module->IsComplete());
    EXPECT_EQ(module->GetModuleKind(), 0);
    EXPECT_EQ(Bytes(module->GetData(), module->GetData() + module->GetDataLength()), data);
    EXPECT_EQ(module->GetLogo(0), nullptr);
    EXPECT_EQ(analyzer.CountOf(si::kEventModuleComplete.code), 1u);
}

TEST_F(Carousel, ALostBlockIsWaitedForInTheNextCycleSoTheModuleHasNoHole) {
    analyzer.SetNotifyFlags(si::kEventModuleComplete.bit);
    const Bytes data = Pattern(250, 5);
    Send(DiiSection(1, 100, {{1, 250, 1, {}}}));
    Send(DdbSection(1, 1, 1, Slice(data, 100, 100)));  // before block 0: ignored
    EXPECT_EQ(Download()->GetModuleCount(), 0);
    Send(DdbSection(1, 1, 0, Slice(data, 0, 100)));
    Send(DdbSection(1, 1, 2, Slice(data, 200, 50)));  // block 1 was lost
    const ICSIModule* module = Download()->FindModule(1);
    ASSERT_NE(module, nullptr);
    EXPECT_FALSE(module->IsComplete());
    EXPECT_EQ(module->GetNextBlockNumber(), 1);
    SendModule(1, 1, data, 100);  // the next cycle
    ASSERT_TRUE(module->IsComplete());
    EXPECT_EQ(Bytes(module->GetData(), module->GetData() + module->GetDataLength()), data);
    EXPECT_EQ(analyzer.CountOf(si::kEventModuleComplete.code), 1u);
}

TEST_F(Carousel, ANewModuleVersionReplacesTheModule) {
    const Bytes first = Pattern(120, 6);
    const Bytes second = Pattern(120, 7);
    Send(DiiSection(1, 100, {{1, 120, 1, {}}}));
    SendModule(1, 1, first, 100);
    ASSERT_TRUE(Download()->FindModule(1)->IsComplete());
    Send(DdbSection(1, 2, 1, Slice(second, 100, 100)));  // not yet: the new version starts at 0
    EXPECT_EQ(Download()->FindModule(1)->GetVersion(), 1);
    SendModule(1, 2, second, 100);
    ASSERT_EQ(Download()->GetModuleCount(), 1);
    const ICSIModule* module = Download()->FindModule(1);
    EXPECT_EQ(module->GetVersion(), 2);
    ASSERT_TRUE(module->IsComplete());
    EXPECT_EQ(Bytes(module->GetData(), module->GetData() + module->GetDataLength()), second);
}

TEST_F(Carousel, BlocksNeverWriteBeyondTheModuleSize) {
    analyzer.SetNotifyFlags(si::kEventModuleComplete.bit);
    // One block larger than the whole module; a short last section is padded with zeros.
    Send(DiiSection(
        1, 4000, {{1, 50, 1, {}}, {2, 0, 1, {}}, {3, 300, 1, {}}, {4, 10, 1, {}}, {5, 10, 1, {}}}));
    Send(DdbSection(1, 1, 0, Pattern(4000, 8)));
    const ICSIModule* big = Download()->FindModule(1);
    ASSERT_TRUE(big->IsComplete());
    EXPECT_EQ(big->GetDataLength(), 50);
    EXPECT_EQ(Bytes(big->GetData(), big->GetData() + 50), Slice(Pattern(4000, 8), 0, 50));
    // A module of size 0 completes with its first block and holds nothing.
    Send(DdbSection(2, 1, 0, Pattern(10, 9)));
    ASSERT_TRUE(Download()->FindModule(2)->IsComplete());
    EXPECT_EQ(Download()->FindModule(2)->GetDataLength(), 0);
    // A section that ends inside its block.
    Send(DdbSection(3, 1, 0, Pattern(20, 10)));
    const ICSIModule* cut = Download()->FindModule(3);
    ASSERT_TRUE(cut->IsComplete());
    ASSERT_EQ(cut->GetDataLength(), 300);
    EXPECT_EQ(cut->GetData()[19], Pattern(20, 10)[19]);
    EXPECT_EQ(cut->GetData()[299], 0);
    // A section without block bytes: the module completes with zeros.
    Send(DdbSection(4, 1, 0, {}));
    ASSERT_TRUE(Download()->FindModule(4)->IsComplete());
    EXPECT_EQ(Download()->FindModule(4)->GetDataLength(), 10);
    EXPECT_EQ(analyzer.CountOf(si::kEventModuleComplete.code), 4u);
    // A section that ends before its block number is ignored.
    Send(BuildSection({0x3C, 5, 1, 0, 0, true},
                      Message(0x1003, kDownloadId, {}, {0x00, 0x05, 0x01})));
    EXPECT_EQ(Download()->GetModuleCount(), 4);
}

TEST_F(Carousel, TableAndKeywordModulesAreParsedIntoItems) {
    analyzer.SetNotifyFlags(si::kEventModuleComplete.bit);
    ByteWriter genre;
    genre.U8(2);
    genre.U8(0x10).Counted(Text(u"ニュース")).Counted(Text(u"報道"));
    genre.U8(0x20).Counted(Text(u"スポーツ")).Counted({});
    ByteWriter keywords;
    keywords.U8(3).Counted(Text(u"天気")).Counted(Text(u"野球")).Counted({});
    Send(DiiSection(1, 4066,
                    {{1, static_cast<uint32_t>(genre.Data().size()), 1, Name("GENRE")},
                     {2, static_cast<uint32_t>(keywords.Data().size()), 1, Name("CS_KEYWORD")}}));
    Send(DdbSection(1, 1, 0, genre.Data()));
    Send(DdbSection(2, 1, 0, keywords.Data()));

    const ICSIModule* table = Download()->FindModule(1);
    ASSERT_TRUE(table->IsComplete());
    ASSERT_EQ(table->GetItemCount(), 2);
    EXPECT_EQ(table->GetTableData(0)->GetOwner(), table);
    EXPECT_EQ(table->GetTableData(0)->GetID(), 0x10);
    EXPECT_EQ(Utf8(table->GetTableData(0)->GetName()), "ニュース");
    EXPECT_EQ(Utf8(table->GetTableData(0)->GetText()), "報道");
    EXPECT_EQ(Utf8(table->GetTableData(1)->GetName()), "スポーツ");
    EXPECT_EQ(Utf8(table->GetTableData(1)->GetText()), "");
    EXPECT_EQ(table->GetTableData(2), nullptr);
    EXPECT_EQ(table->GetKeyword(0), nullptr);
    EXPECT_EQ(table->GetDataLength(), 1);  // the raw bytes are given up

    const ICSIModule* words = Download()->FindModule(2);
    ASSERT_EQ(words->GetItemCount(), 3);
    EXPECT_EQ(Utf8(words->GetKeyword(1)), "野球");
    EXPECT_EQ(Utf8(words->GetKeyword(2)), "");
    EXPECT_EQ(words->GetKeyword(3), nullptr);
    EXPECT_EQ(words->GetKeyword(-1), nullptr);
    EXPECT_EQ(words->GetTableData(0), nullptr);
    EXPECT_EQ(analyzer.CountOf(si::kEventModuleComplete.code), 2u);
}

Bytes LogoModule(uint8_t logoType, const std::vector<std::pair<uint16_t, Bytes>>& logos) {
    ByteWriter w;
    w.U8(logoType).U16(static_cast<uint32_t>(logos.size()));
    for (const auto& [logoId, image] : logos) {
        w.U16(logoId).U8(2);
        w.U16(0x0004).U16(0x4010).U16(101);
        w.U16(0x0004).U16(0x4010).U16(102);
        w.U16(static_cast<uint32_t>(image.size())).Append(image);
    }
    return w.Data();
}

TEST_F(Carousel, ALogoModuleYieldsLogosWithTheirServicesAndImages) {
    analyzer.SetNotifyFlags(si::kEventModuleComplete.bit);
    const Bytes image = Pattern(700, 11);
    // The leading field's bits above bit 8 are not part of logo_id.
    const Bytes data = LogoModule(3, {{0xFE10, image}, {0x0211, Pattern(5, 12)}});
    Send(DiiSection(1, 512, {{8, static_cast<uint32_t>(data.size()), 6, Name("LOGO-03")}}));
    SendModule(8, 6, data, 512);

    const ICSIModule* module = Download()->FindModule(8);
    ASSERT_TRUE(module->IsComplete());
    EXPECT_EQ(module->GetModuleKind(), 8);
    ASSERT_EQ(module->GetItemCount(), 2);
    const ICSILogo* logo = module->GetLogo(0);
    EXPECT_EQ(logo->GetOwner(), module);
    EXPECT_EQ(logo->GetLogoType(), 3);
    EXPECT_EQ(logo->GetLogoID(), 0x010);
    EXPECT_EQ(module->GetLogo(1)->GetLogoID(), 0x011);
    EXPECT_EQ(logo->GetLogoVersion(), 6);  // the module info's version
    ASSERT_EQ(logo->GetServiceCount(), 2);
    EXPECT_EQ(logo->GetServiceOriginalNetworkID(1), 0x0004);
    EXPECT_EQ(logo->GetServiceTransportStreamID(1), 0x4010);
    EXPECT_EQ(logo->GetServiceServiceID(1), 102);
    EXPECT_EQ(logo->GetServiceServiceIDs()[0], 101);
    ASSERT_EQ(logo->GetDataSize(), 700);
    EXPECT_EQ(Bytes(logo->GetData(), logo->GetData() + logo->GetDataLength()), image);
    EXPECT_EQ(module->GetLogo(2), nullptr);
    EXPECT_EQ(module->GetTableData(0), nullptr);
    EXPECT_EQ(module->GetDataLength(), 1);
    EXPECT_EQ(analyzer.CountOf(si::kEventModuleComplete.code), 1u);
}

TEST_F(Carousel, AModuleThatEndsBeforeItsEntriesIsDiscardedAndReceivedAgain) {
    analyzer.SetNotifyFlags(si::kEventModuleComplete.bit);
    const Bytes good = LogoModule(0, {{1, Pattern(10, 13)}, {2, Pattern(10, 14)}});
    Bytes bad = good;
    bad[2] = 3;  // announces a third logo that is not there
    Send(DiiSection(1, 4066, {{1, static_cast<uint32_t>(bad.size()), 1, Name("LOGO-00")}}));
    Send(DdbSection(1, 1, 0, bad));
    EXPECT_EQ(Download()->FindModule(1), nullptr);
    EXPECT_EQ(analyzer.CountOf(si::kEventModuleComplete.code), 0u);
    // Keyword and table modules whose counts run past the data fail the same way.
    Send(DiiSection(2, 4066,
                    {{1, static_cast<uint32_t>(good.size()), 1, Name("LOGO-00")},
                     {2, 3, 1, Name("KEYWORD")},
                     {3, 0, 1, Name("FEATURE")}}));
    Send(DdbSection(2, 1, 0, {0x05, 0x01, 'a'}));
    Send(DdbSection(3, 1, 0, {}));
    EXPECT_EQ(Download()->GetModuleCount(), 0);
    Send(DdbSection(1, 1, 0, good));
    ASSERT_NE(Download()->FindModule(1), nullptr);
    EXPECT_EQ(Download()->FindModule(1)->GetItemCount(), 2);
    EXPECT_EQ(analyzer.CountOf(si::kEventModuleComplete.code), 1u);
}

TEST_F(Carousel, BlocksAreIgnoredWithoutTheirDiiOrAnnouncement) {
    Send(DdbSection(1, 1, 0, Pattern(10, 15)));
    EXPECT_EQ(Store().GetDownloadCount(), 0);
    Send(DiiSection(1, 4066, {{1, 10, 1, {}}}));
    Send(DdbSection(9, 1, 0, Pattern(10, 15)));                   // not announced
    Send(DdbSection(1, 1, 0, Pattern(10, 15), kDownloadId + 1));  // another download
    EXPECT_EQ(Download()->GetModuleCount(), 0);
    // Without notification flag 0x400 a completed module raises no event.
    Send(DdbSection(1, 1, 0, Pattern(10, 15)));
    EXPECT_TRUE(Download()->FindModule(1)->IsComplete());
    EXPECT_TRUE(analyzer.delivered.empty());
}

TEST_F(Carousel, ABrokenDiiLeavesNoDownload) {
    // A date list of 8 entries.
    ByteWriter dates;
    dates.U8(0).U8(0);
    for (int i = 0; i < 8; ++i) {
        dates.U16(MjdOf(2026, 1, 1 + i)).U8(0);
    }
    Send(DiiSection(1, 4066, {{1, 10, 1, Descriptor(0xC3, dates.Data())}}));
    EXPECT_EQ(Store().GetDownloadCount(), 0);

    // A module info list that announces more modules than the section holds.
    Bytes section = DiiSection(2, 4066, {{1, 10, 1, {}}});
    ByteWriter body;
    body.U32(kDownloadId).U16(4066).U16(0).U32(0).U32(0).Append(NoCompatibility()).U16(3);
    body.U16(1).U32(10).U8(1).U8(0);
    Send(BuildSection({0x3B, 0, 0, 0, 0, true}, Message(0x1002, 3, {}, body.Data())));
    EXPECT_EQ(Store().GetDownloadCount(), 0);

    // A module info whose descriptor runs past the section.
    ByteWriter cut;
    cut.U32(kDownloadId).U16(4066).U16(0).U32(0).U32(0).Append(NoCompatibility()).U16(1);
    cut.U16(1).U32(10).U8(1).U8(20).U8(0x02).U8(18).Append(std::string_view("LOGO"));
    Send(BuildSection({0x3B, 0, 0, 0, 0, true}, Message(0x1002, 4, {}, cut.Data())));
    EXPECT_EQ(Store().GetDownloadCount(), 0);

    // A compatibility descriptor whose sub-descriptors run past its end.
    ByteWriter compatibility;
    compatibility.U16(13).U16(1).U8(2).U8(9).U8(1).U24(0).U16(0).U16(0).U8(4);
    Send(DiiSection(5, 4066, {{1, 10, 1, {}}}, compatibility.Data()));
    EXPECT_EQ(Store().GetDownloadCount(), 0);

    // After all this the intact DII is still taken.
    Send(section);
    EXPECT_EQ(Store().GetDownloadCount(), 1);
}

TEST_F(Carousel, AModuleAnnouncedAsTooLargeIsNotReceived) {
    Send(DiiSection(1, 4066, {{1, 0xFFFFFFF0u, 1, {}}}));
    Send(DdbSection(1, 1, 0, Pattern(4066, 16)));
    EXPECT_EQ(Download()->GetModuleCount(), 0);
}

// --- the engineering service

Bytes NitWithServices(uint16_t network, uint16_t tsid,
                      const std::vector<std::pair<uint16_t, uint8_t>>& services) {
    ByteWriter list;
    for (const auto& [id, type] : services) {
        list.U16(id).U8(type);
    }
    ByteWriter ts;
    ts.U16(tsid).U16(network).Loop(Descriptor(0x41, list.Data()));
    ByteWriter nit;
    nit.Loop({}).Loop(ts.Data());
    return BuildSection({0x40, network, 0, 0, 0, true}, nit.Data());
}

TEST(EngineeringService, APmtStoredBeforeTheNitIsFoundByTheNitAndItsPidsCarryTheCarousel) {
    CarouselAnalyzer analyzer;
    constexpr uint16_t kTsid = 0x4010;
    analyzer.FeedSection(
        0, BuildSection({0x00, kTsid, 0, 0, 0, false}, PatBody({{101, 0x1F0}, {929, 0x1F8}})));
    analyzer.FeedSection(0x1F8, BuildSection({0x02, 929, 0, 0, 0, false},
                                             PmtBody(0x1FF, {}, {{0x0D, kCarouselPid, {}}})));
    // Before the lookup the carousel PID is not watched: its sections are not assembled.
    analyzer.FeedSection(kCarouselPid, DiiSection(1, 4066, {{1, 10, 1, {}}}));
    EXPECT_EQ(analyzer.GetSIList()->GetDownloadCount(), 0);
    EXPECT_FALSE(analyzer.IsEngineeringLookedUp());

    analyzer.FeedSection(0x10, NitWithServices(4, kTsid, {{101, 0x01}, {929, 0xA4}}));
    EXPECT_TRUE(analyzer.IsEngineeringLookedUp());
    EXPECT_EQ(analyzer.GetEngineeringServiceID(), 929);
    EXPECT_EQ(analyzer.GetWatch(kCarouselPid), ICSIAnalyzerCore::kWatchEngineering);
    analyzer.FeedSection(kCarouselPid, DiiSection(1, 4066, {{1, 10, 1, {}}}));
    EXPECT_EQ(analyzer.GetSIList()->GetDownloadCount(), 1);
}

TEST(EngineeringService, ATransportStreamWithoutOneIsLookedUpOnce) {
    CarouselAnalyzer analyzer;
    analyzer.FeedSection(0,
                         BuildSection({0x00, 0x7FE8, 0, 0, 0, false}, PatBody({{0x400, 0x1F0}})));
    analyzer.FeedSection(0x10, NitWithServices(0x7FE8, 0x7FE8, {{0x400, 0x01}}));
    EXPECT_TRUE(analyzer.IsEngineeringLookedUp());
    EXPECT_EQ(analyzer.GetEngineeringServiceID(), 0);
    // A service_id of 0 does not count as an engineering service.
    analyzer.ResetSI();
    analyzer.FeedSection(0,
                         BuildSection({0x00, 0x7FE8, 1, 0, 0, false}, PatBody({{0x400, 0x1F0}})));
    analyzer.FeedSection(0x10, NitWithServices(0x7FE8, 0x7FE8, {{0, 0xA4}, {0x480, 0xA4}}));
    EXPECT_TRUE(analyzer.IsEngineeringLookedUp());
    EXPECT_EQ(analyzer.GetEngineeringServiceID(), 0);
}

// --- the simulator's logo carousel, end to end

TEST(SimulatedCarousel, EveryLogoModuleCompletesWithTheLogosTheSimulatorSent) {
    const isdbsim::TransportStreamInfo* info = isdbsim::FindChannel(1, 0);  // BS, carousel
    ASSERT_NE(info, nullptr);
    isdbsim::TsStream stream(*info, *isdbsim::ParseJstTime("2026-04-01 12:00:00"), 1);
    std::string error;
    if (!stream.Open(&error)) {
        GTEST_SKIP() << "no simulated stream: " << error;
    }
    const isdbsim::Carousel sent = isdbsim::BuildLogoCarousel(*info);

    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventModuleComplete.bit);
    // One cycle of the carousel's blocks (every 10 s) and of the NIT that leads to it.
    const size_t total = static_cast<size_t>(12.0 * stream.PacketRate());
    std::vector<uint8_t> chunk(4096 * 188);
    for (size_t done = 0; done < total;) {
        const size_t count = std::min<size_t>(4096, total - done);
        stream.Generate(chunk.data(), count);
        analyzer.Feed(
            Bytes(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count * 188)));
        done += count;
    }

    // The module ids the events named, once each.
    std::map<intptr_t, int> announced;
    for (const auto& event : analyzer.delivered) {
        if (event.code == si::kEventModuleComplete.code) {
            EXPECT_EQ(event.param1, static_cast<intptr_t>(sent.downloadId));
            ++announced[event.param2];
        }
    }
    ASSERT_EQ(announced.size(), static_cast<size_t>(isdbsim::kLogoTypeCount));

    ICSIList& store = *analyzer.GetSIList();
    store.AddRef();
    const ICSIDownload* download = store.FindDownload(sent.downloadId);
    ASSERT_NE(download, nullptr);
    // The logos' owners: the services with a logo here and on the network's other TS.
    struct Owner {
        uint16_t tsid, serviceId, logoId;
    };
    std::vector<Owner> owners;
    for (const isdbsim::ServiceInfo& s : info->services) {
        if (s.logoId != 0) {
            owners.push_back({info->transportStreamId, s.serviceId, s.logoId});
        }
    }
    for (const isdbsim::ServiceInfo& s : info->otherServices) {
        owners.push_back({info->otherTransportStreamId, s.serviceId, s.logoId});
    }
    for (int type = 0; type < isdbsim::kLogoTypeCount; ++type) {
        SCOPED_TRACE(type);
        EXPECT_EQ(announced[type], 1);
        const ICSIModule* module = download->FindModule(static_cast<uint16_t>(type));
        ASSERT_NE(module, nullptr);
        EXPECT_TRUE(module->IsComplete());
        EXPECT_EQ(module->GetModuleKind(), 5 + type);
        ASSERT_EQ(module->GetItemCount(), static_cast<int32_t>(owners.size()));
        for (size_t i = 0; i < owners.size(); ++i) {
            const ICSILogo* logo = module->GetLogo(static_cast<int32_t>(i));
            EXPECT_EQ(logo->GetLogoType(), type);
            EXPECT_EQ(logo->GetLogoID(), owners[i].logoId);
            EXPECT_EQ(logo->GetLogoVersion(), isdbsim::kLogoVersion);
            ASSERT_EQ(logo->GetServiceCount(), 1);
            EXPECT_EQ(logo->GetServiceOriginalNetworkID(0), info->originalNetworkId);
            EXPECT_EQ(logo->GetServiceTransportStreamID(0), owners[i].tsid);
            EXPECT_EQ(logo->GetServiceServiceID(0), owners[i].serviceId);
            const Bytes image = isdbsim::MakeLogoPng(type, owners[i].logoId);
            ASSERT_EQ(logo->GetDataSize(), image.size());
            EXPECT_EQ(Bytes(logo->GetData(), logo->GetData() + logo->GetDataLength()), image);
        }
    }
    store.Release();
}

}  // namespace
}  // namespace sitest
