// The logo store: Logo.data byte for byte, damaged files, and logos from the broadcast (CDT
// and carousel) linked to the services that show them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/stores/CLogo.h"
#include "app/stores/CTunerList.h"
#include "platform/profile/ProfileFile.h"
#include "sianalyzer/ICSICDT.h"
#include "sianalyzer/ICSIDownload.h"
#include "sianalyzer/ICSIList.h"
#include "tools/isdbsim/TsStream.h"
#include "tools/sidump/SiDump.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A tuner whose one tuning space has services (tsid, sid), each with no logo.
CTuner* AddTuner(CTunerList& list, std::initializer_list<std::pair<uint16_t, uint16_t>> services) {
    auto* tuner = new CTuner(ICString("BonDriver_Logo.so"));
    auto* space = new CTuningSpace(tuner);
    for (const auto& [tsid, sid] : services) {
        auto* channel = new CChannelInfo(space);
        channel->transportStreamId = tsid;
        channel->serviceId = sid;
        space->channels.Add(channel);
    }
    tuner->tuningSpaces.Add(space);
    list.Tuners().Add(tuner);
    return tuner;
}

// The analyzer's store after `seconds` of a simulated broadcast.
class Broadcast {
public:
    Broadcast(int space, double seconds) {
        isdbsim::TsStream stream(*isdbsim::FindChannel(space, 0),
                                 *isdbsim::ParseJstTime("2026-12-10 12:00:00"), 1);
        opened = stream.Open(nullptr);
        if (!opened) {
            return;
        }
        const auto packets = size_t(seconds * stream.PacketRate());
        Bytes bytes(packets * 188);
        stream.Generate(bytes.data(), packets);
        sidump::StreamReader reader(analyzer);
        reader.Feed(bytes.data(), bytes.size());
        reader.Finish();
    }
    bool IsOpen() const { return opened; }
    sidump::DumpAnalyzer analyzer;

private:
    bool opened = false;
};

class LogoStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "orv-logos-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::string folder;
    CTunerList tuners{"", ""};
    CLogoList store{tuners};
};

TEST_F(LogoStoreTest, LogoDataIsWrittenByteForByteAndLinksItsServicesWhenLoaded) {
    auto* logo = new CLogo();
    logo->networkId = 0x0004;
    logo->logoId = 0x0010;
    logo->logoType = 2;
    logo->version = 0x0103;
    logo->serviceNetworkIds = {0x0004, 0x0004};
    logo->serviceTsIds = {0x4010, 0x4011};
    logo->serviceIds = {0x0065, 0x0067};
    logo->image = {0x89, 'P', 'N', 'G'};
    store.Logos().Add(logo);
    ASSERT_TRUE(store.SaveLogos(folder));
    std::string file;
    ASSERT_EQ(profile::ReadWholeFile(folder + "/Logo.data", file), profile::FileReadResult::kRead);
    const Bytes expected = {
        0x00, 0x02, 0x12, 0x15, 0x01, 0x00, 0x00, 0x00,  // version, count
        0x04, 0x00, 0x10, 0x00, 0x02, 0x03, 0x01, 0x02,  // ids, type, version, 2
        0x04, 0x00, 0x04, 0x00, 0x10, 0x40, 0x11, 0x40, 0x65, 0x00,
        0x67, 0x00, 0x04, 0x00, 0x00, 0x00, 0x89, 'P',  'N',  'G'};
    EXPECT_EQ(Bytes(file.begin(), file.end()), expected);

    CTunerList otherTuners("", "");
    AddTuner(otherTuners, {{0x4011, 0x0067}, {0x4012, 0x0067}});
    CLogoList loaded(otherTuners);
    loaded.LoadLogos(folder);
    ASSERT_EQ(loaded.Logos().GetCount(), 1);
    const CLogo* back = loaded.FindLogo(2, 0x0004, 0x0010);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->version, 0x0103);
    EXPECT_EQ(back->serviceIds, logo->serviceIds);
    EXPECT_EQ(back->image, logo->image);
    const CTuningSpace* space = otherTuners.Tuners().First()->tuningSpaces.First();
    EXPECT_EQ(space->channels.At(0)->logoId, 0x0010);
    EXPECT_EQ(space->channels.At(1)->logoId, CChannelInfo::kNoLogo);
}

TEST_F(LogoStoreTest, ADamagedFileKeepsTheLogosBeforeTheDamage) {
    for (int i = 0; i < 3; ++i) {
        auto* logo = new CLogo();
        logo->logoId = uint16_t(i);
        logo->image = Bytes(10 + i, uint8_t(i));
        store.Logos().Add(logo);
    }
    const Bytes file = store.Serialize();
    for (size_t cut = 0; cut <= file.size(); ++cut) {
        CLogoList loaded(tuners);
        loaded.Deserialize(file.data(), cut);
        int whole = 0;
        for (size_t end = 8; whole < 3; ++whole) {
            end += 12 + 10 + size_t(whole);
            if (end > cut) {
                break;
            }
        }
        ASSERT_EQ(loaded.Logos().GetCount(), whole) << "cut at " << cut;
    }
    // A count far beyond what the file holds reads what is there.
    Bytes lying = file;
    lying[7] = 0x7F;
    CLogoList loaded(tuners);
    loaded.Deserialize(lying.data(), lying.size());
    EXPECT_EQ(loaded.Logos().GetCount(), 3);
}

TEST_F(LogoStoreTest, CdtLogosAreCompletedStoredOnceAndReplacedByANewVersion) {
    Broadcast broadcast(0, 10.0);
    if (!broadcast.IsOpen()) {
        GTEST_SKIP() << "the simulator cannot encode its media here";
    }
    const ICSICDT* cdt = broadcast.analyzer.GetSIList()->FindCDT(0x7FE0, 0x0001);
    ASSERT_NE(cdt, nullptr);
    ASSERT_NE(cdt->GetLogo(), nullptr);
    std::vector<std::pair<uint32_t, uint32_t>> told;
    CLogoList::GraphContext graph{0x7FE0, 0x7FE0, 0x0400,
                                  [&](uint32_t w, uint32_t l) { told.emplace_back(w, l); }};
    // An older version is stored already: it is replaced.
    auto* old = new CLogo();
    old->networkId = 0x7FE0;
    old->logoId = uint16_t(cdt->GetLogo()->GetLogoID());
    old->logoType = cdt->GetLogo()->GetLogoType();
    old->version = uint16_t(cdt->GetVersion() + 1);
    store.Logos().Add(old);

    EXPECT_TRUE(store.StoreCdtLogo(*cdt, graph));
    EXPECT_FALSE(store.StoreCdtLogo(*cdt, graph));  // the same version again changes nothing
    ASSERT_EQ(store.Logos().GetCount(), 1);
    const CLogo* logo = store.Logos().First();
    EXPECT_EQ(logo->version, cdt->GetVersion());
    ASSERT_EQ(logo->image.size(), size_t(cdt->GetLogo()->GetDataLength()) + 536);
    EXPECT_EQ(Bytes(logo->image.begin() + 33, logo->image.begin() + 41),
              (Bytes{0x00, 0x00, 0x01, 0x80, 'P', 'L', 'T', 'E'}));
    EXPECT_TRUE(tuners.logosDirty);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], std::make_pair(0x7FE00400u, 0x7FE00000u | logo->logoId));
}

TEST_F(LogoStoreTest, CarouselLogosGoToEveryServiceTheyList) {
    Broadcast broadcast(1, 12.0);
    if (!broadcast.IsOpen()) {
        GTEST_SKIP() << "the simulator cannot encode its media here";
    }
    ICSIList* si = broadcast.analyzer.GetSIList();
    ASSERT_GT(si->GetDownloadCount(), 0);
    const ICSIDownload* download = si->GetDownload(0);
    const ICSIModule* module = nullptr;
    for (int32_t i = 0; i < download->GetModuleCount() && module == nullptr; ++i) {
        const ICSIModule* candidate = download->GetModule(i);
        if (candidate->IsComplete() && ICSIModule::IsLogoKind(candidate->GetModuleKind())) {
            module = candidate;
        }
    }
    ASSERT_NE(module, nullptr);
    const ICSILogo* first = module->GetLogo(0);
    ASSERT_NE(first, nullptr);
    ASSERT_GE(first->GetServiceCount(), 1);
    const uint16_t tsid = first->GetServiceTransportStreamID(0);
    const uint16_t sid = first->GetServiceServiceID(0);
    // The service is on two tuners, twice on one of them.
    AddTuner(tuners, {{tsid, sid}, {tsid, sid}});
    AddTuner(tuners, {{tsid, sid}});

    EXPECT_TRUE(store.StoreCarouselLogos(*module, {}));
    EXPECT_FALSE(store.StoreCarouselLogos(*module, {}));
    for (const CTuner* tuner : tuners.Tuners()) {
        for (const CChannelInfo* channel : tuner->tuningSpaces.First()->channels) {
            EXPECT_EQ(channel->logoId, uint16_t(first->GetLogoID()));
        }
    }
    EXPECT_TRUE(tuners.channelsDirty);
    EXPECT_NE(store.FindLogo(first->GetLogoType(), first->GetServiceOriginalNetworkID(0),
                             uint16_t(first->GetLogoID())),
              nullptr);
}

}  // namespace
