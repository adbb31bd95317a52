// How a scanned stream's SDT becomes services of a tuning space: numbers, keys, enabled flags
// and order, from real sections in an analyzer's store (no graph needed).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/scan/ScanServices.h"
#include "app/stores/CTuner.h"
#include "sianalyzer/tests/SiTestSupport.h"
#include "tools/isdbsim/SiTables.h"

namespace {

using isdbsim::ServiceInfo;
using isdbsim::TransportStreamInfo;

ServiceInfo Service(uint16_t serviceId, uint8_t serviceType = 0x01) {
    ServiceInfo service;
    service.serviceId = serviceId;
    service.serviceType = serviceType;
    service.name = u"局" + std::u16string(1, char16_t(u'0' + serviceId % 10));
    return service;
}

TransportStreamInfo Stream(isdbsim::SpaceType type, uint16_t onid, uint16_t tsid, uint8_t key,
                           std::vector<ServiceInfo> services) {
    TransportStreamInfo ts;
    ts.spaceType = type;
    ts.networkId = ts.originalNetworkId = onid;
    ts.transportStreamId = tsid;
    ts.tsName = u"テスト";
    ts.remoteControlKeyId = key;
    ts.services = std::move(services);
    return ts;
}

// A tuning space of the kind with a plan of four physical channels, and a store per stream.
class ScanServices : public ::testing::Test {
protected:
    void MakeSpace(int32_t type) {
        space = new CTuningSpace(&tuner);
        space->type = type;
        tuner.tuningSpaces.Add(space);
        for (int i = 0; i < 4; ++i) {
            auto* entry = new CChannelInfo(space);
            entry->physicalIndex = i;
            entry->frequency = 473143 + 6000 * i;
            space->physicalChannels.Add(entry);
        }
    }
    // Feeds the stream's NIT and SDT actual, then scans it as found on `physicalIndex`.
    std::vector<scan::AddedService> ScanStream(const TransportStreamInfo& ts,
                                               int32_t physicalIndex) {
        sitest::TestAnalyzer analyzer;
        for (const auto& section : isdbsim::BuildNit(ts)) {
            analyzer.FeedSection(isdbsim::kNitPid, section);
        }
        for (const auto& section : isdbsim::BuildSdtActual(ts)) {
            analyzer.FeedSection(isdbsim::kSdtPid, section);
        }
        return scan::AddScannedServices(*analyzer.GetSIList(), *space, physicalIndex,
                                        *space->physicalChannels.At(physicalIndex),
                                        ts.originalNetworkId, ts.transportStreamId);
    }
    struct Expected {
        uint32_t serviceId;
        int32_t remoteKey;
        int32_t channelNumber;
        uint8_t enabled;
    };
    void ExpectServices(const std::vector<Expected>& expected) {
        ASSERT_EQ(space->channels.GetCount(), int32_t(expected.size()));
        int32_t i = 0;
        for (const Expected& e : expected) {
            const CChannelInfo* channel = space->channels.At(i++);
            SCOPED_TRACE(e.serviceId);
            EXPECT_EQ(channel->serviceId, e.serviceId);
            EXPECT_EQ(channel->remoteKey, e.remoteKey);
            EXPECT_EQ(channel->channelNumber, e.channelNumber);
            EXPECT_EQ(channel->enabled, e.enabled);
        }
    }

    CTuner tuner;
    CTuningSpace* space = nullptr;
};

TEST_F(ScanServices, TerrestrialNumbersFollowTheRemoteKeyAndOnlyTheMainServiceIsOn) {
    MakeSpace(CTuningSpace::kTerrestrial);
    const auto added = ScanStream(
        Stream(isdbsim::SpaceType::Terrestrial, 0x7FE0, 0x7FE0, 5,
               {Service(0x0400), Service(0x0401), Service(0x0408), Service(0x0418, 0xC0)}),
        1);
    // 0x0408 (51) goes after 0x0400 (51, arrived first) and before 0x0401 (52).
    ExpectServices({{0x0400, 5, 51, 1}, {0x0408, 5, 51, 1}, {0x0401, 5, 52, 0}});
    ASSERT_EQ(added.size(), 3u);
    EXPECT_EQ(added[0].position, 0);
    EXPECT_EQ(added[1].position, 1);
    EXPECT_EQ(added[2].position, 1);

    const CChannelInfo* first = space->channels.First();
    EXPECT_EQ(first->physicalIndex, 1);
    EXPECT_EQ(first->frequency, 479143);
    EXPECT_EQ(first->networkId, 0x7FE0u);
    EXPECT_EQ(first->transportStreamId, 0x7FE0u);
    EXPECT_EQ(first->tsName.GetView(), std::u16string_view(u"テスト"));
    EXPECT_EQ(first->name.GetView(), std::u16string_view(u"局4"));
    EXPECT_EQ(first->logoId, CChannelInfo::kNoLogo);
}

TEST_F(ScanServices, TerrestrialSubChannelsAreOnInTheStreamsThatOfferThem) {
    MakeSpace(CTuningSpace::kTerrestrial);
    ScanStream(Stream(isdbsim::SpaceType::Terrestrial, 0x7FE8, 0x7FE8, 1,
                      {Service(0x0400), Service(0x0401)}),
               0);
    ScanStream(Stream(isdbsim::SpaceType::Terrestrial, 0x7FE1, 0x7FE1, 3,
                      {Service(0x0488), Service(0x0489), Service(0x0582)}),
               2);
    // 0x0489: kind bits 0x78 are 8, so it stays on; 0x0582 is in the third hundred block.
    ExpectServices({{0x0400, 1, 11, 1},
                    {0x0401, 1, 12, 1},
                    {0x0488, 3, 231, 1},
                    {0x0489, 3, 232, 1},
                    {0x0582, 3, 633, 0}});
}

TEST_F(ScanServices, BsKeysComeFromTheServiceIdAndFurtherServicesAreOff) {
    MakeSpace(CTuningSpace::kBS);
    ScanStream(Stream(isdbsim::SpaceType::Satellite, 4, 0x4010, 1,
                      {Service(101), Service(211), Service(291), Service(929, 0xA4)}),
               0);
    ExpectServices({{101, 1, 101, 1}, {211, 11, 211, 0}, {291, 0, 291, 0}});

    MakeSpace(CTuningSpace::kBS);
    ScanStream(Stream(isdbsim::SpaceType::Satellite, 4, 0x40F1, 1, {Service(141), Service(142)}),
               0);
    ExpectServices({{141, 4, 141, 1}, {142, 4, 142, 1}});
}

TEST_F(ScanServices, CsNumbersAreTheServiceIdWithoutKey) {
    MakeSpace(CTuningSpace::kCS);
    ScanStream(Stream(isdbsim::SpaceType::Satellite, 6, 0x6020, 0, {Service(296), Service(55)}), 0);
    ExpectServices({{55, 0, 55, 1}, {296, 0, 296, 1}});
}

TEST_F(ScanServices, AServiceSeenAgainIsSkippedOnItsChannelAndAddedOffElsewhere) {
    MakeSpace(CTuningSpace::kTerrestrial);
    const auto ts = Stream(isdbsim::SpaceType::Terrestrial, 0x7FE0, 0x7FE0, 1, {Service(0x0400)});
    ScanStream(ts, 0);
    EXPECT_TRUE(ScanStream(ts, 0).empty());
    ScanStream(ts, 3);
    ExpectServices({{0x0400, 1, 11, 1}, {0x0400, 1, 11, 0}});
    EXPECT_EQ(space->channels.Last()->physicalIndex, 3);
}

TEST_F(ScanServices, NothingIsAddedWithoutTheStreamsEntryInTheNit) {
    MakeSpace(CTuningSpace::kTerrestrial);
    sitest::TestAnalyzer analyzer;
    const auto ts = Stream(isdbsim::SpaceType::Terrestrial, 0x7FE0, 0x7FE0, 1, {Service(0x0400)});
    for (const auto& section : isdbsim::BuildSdtActual(ts)) {
        analyzer.FeedSection(isdbsim::kSdtPid, section);
    }
    EXPECT_TRUE(scan::AddScannedServices(*analyzer.GetSIList(), *space, 0,
                                         *space->physicalChannels.First(), 0x7FE0, 0x7FE0)
                    .empty());
    EXPECT_EQ(space->channels.GetCount(), 0);
}

}  // namespace

namespace {

// A tuner with spaces of the given names and plan sizes, one service on each plan entry.
std::unique_ptr<CTuner> TunerWithSpaces(std::vector<std::pair<std::u16string, int>> spaces,
                                        uint32_t firstServiceId) {
    auto tuner = std::make_unique<CTuner>();
    for (const auto& [name, channels] : spaces) {
        auto* space = tuner->tuningSpaces.Add(new CTuningSpace(tuner.get()));
        space->name = name.c_str();
        for (int i = 0; i < channels; ++i) {
            space->physicalChannels.Add(new CChannelInfo(space));
            auto* service = space->channels.Add(new CChannelInfo(space));
            service->serviceId = firstServiceId + uint32_t(i);
            service->physicalIndex = i;
        }
    }
    return tuner;
}

TEST(CopyScannedServices, CopiesOnlyBetweenTunersOfTheSameShapeAndAsksAboutOtherNames) {
    const auto from = TunerWithSpaces({{u"UHF", 2}, {u"BS", 1}}, 0x400);
    int asked = 0;
    const auto answer = [&](bool go) {
        return [&asked, go] {
            ++asked;
            return go;
        };
    };

    const auto fewerSpaces = TunerWithSpaces({{u"UHF", 2}}, 0x100);
    EXPECT_EQ(scan::CopyScannedServices(*from, *fewerSpaces, answer(true)),
              scan::CopyResult::kSpaceCountDiffers);
    EXPECT_EQ(fewerSpaces->tuningSpaces.First()->channels.First()->serviceId, 0x100u);

    const auto otherPlan = TunerWithSpaces({{u"UHF", 3}, {u"BS", 1}}, 0x100);
    EXPECT_EQ(scan::CopyScannedServices(*from, *otherPlan, answer(true)),
              scan::CopyResult::kChannelCountDiffers);

    const auto renamed = TunerWithSpaces({{u"地デジ", 2}, {u"BS", 1}}, 0x100);
    renamed->currentChannel = renamed->tuningSpaces.First()->channels.First();
    EXPECT_EQ(scan::CopyScannedServices(*from, *renamed, answer(false)),
              scan::CopyResult::kCancelled);
    EXPECT_EQ(renamed->currentChannel->serviceId, 0x100u);
    EXPECT_EQ(asked, 1);

    // Copied: the current channel is lost when the copies do not carry its service, kept
    // (as its copy) when they do.
    EXPECT_EQ(scan::CopyScannedServices(*from, *renamed, answer(true)), scan::CopyResult::kCopied);
    EXPECT_EQ(renamed->currentChannel, nullptr);
    const CTuningSpace* uhf = renamed->tuningSpaces.First();
    ASSERT_EQ(uhf->channels.GetCount(), 2);
    EXPECT_EQ(uhf->channels.At(1)->serviceId, 0x401u);
    EXPECT_EQ(uhf->channels.At(1)->tuningSpace, uhf);

    const auto same = TunerWithSpaces({{u"UHF", 2}, {u"BS", 1}}, 0x400);
    same->currentChannel = same->tuningSpaces.At(1)->channels.First();
    EXPECT_EQ(scan::CopyScannedServices(*from, *same, answer(true)), scan::CopyResult::kCopied);
    EXPECT_EQ(same->currentChannel, same->tuningSpaces.At(1)->channels.First());
    EXPECT_EQ(asked, 2);
}

}  // namespace
