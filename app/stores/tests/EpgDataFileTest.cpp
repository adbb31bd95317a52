// EPG.data: its exact bytes, loading into an index, and what a damaged, cut or interrupted file
// leaves loaded.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/stores/CEpgStore.h"
#include "app/stores/EpgDataFile.h"
#include "platform/profile/ProfileFile.h"
#include "sianalyzer/ICSITime.h"

namespace {

const TimeValue kDecember8 = sitime::ToValue(ICSIDateTime{2026, 12, 8, 0, 0, 0, 0});

CChannelInfo* AddChannel(CEpgStore& store, int32_t type, uint32_t serviceId, int32_t number) {
    CTuningSpace& space = *store.SpaceOfType(type);
    auto* channel = new CChannelInfo(&space);
    channel->name = u"Ch";
    channel->transportStreamId = 0x7FE1;
    channel->serviceId = serviceId;
    channel->channelNumber = number;
    CEpgStore::InsertChannelByNumber(space, channel);
    return channel;
}

CEventInfo* AddEvent(CEpgStore& store, CChannelInfo& channel, uint16_t id, TimeValue start,
                     std::u16string_view title = u"title") {
    auto* event = new CEventInfo(&channel, id);
    event->startTime = start;
    event->duration = 1800;
    event->title = ICWString(title);
    store.InsertEvent(channel, event);
    return event;
}

// Channels of every space with a few events each, as a small guide would hold them.
void FillGuide(CEpgStore& store, int channelsPerSpace, int eventsPerChannel) {
    for (int32_t type : {CTuningSpace::kTerrestrial, CTuningSpace::kBS, CTuningSpace::kCS}) {
        for (int c = 0; c < channelsPerSpace; ++c) {
            CChannelInfo* channel =
                AddChannel(store, type, static_cast<uint32_t>(type * 1000 + c), c + 1);
            for (int e = 0; e < eventsPerChannel; ++e) {
                AddEvent(store, *channel, static_cast<uint16_t>(e + 1), kDecember8 + e * 1800,
                         u"番組" + std::u16string(1, static_cast<char16_t>(u'A' + e)));
            }
        }
    }
}

using EventKey = std::tuple<int32_t, uint32_t, uint16_t, TimeValue, std::u16string>;

std::set<EventKey> EventsOf(const CEpgStore& store) {
    std::set<EventKey> events;
    for (const CTuningSpace* space : store.EpgTuner().tuningSpaces) {
        for (const CChannelInfo* channel : space->physicalChannels) {
            for (const CEventInfo* event : channel->events) {
                events.emplace(space->type, channel->serviceId, event->eventId, event->startTime,
                               std::u16string(event->title.GetView()));
            }
        }
    }
    return events;
}

std::string Bytes(std::initializer_list<uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Where each channel record of the file ends (after its CRC), in file order.
std::vector<size_t> RecordEnds(const std::string& file) {
    std::vector<size_t> ends;
    size_t position = 9;
    for (int block = 0; block < static_cast<uint8_t>(file[8]); ++block) {
        position += 1;
        while (file[position] != 0 || file[position + 1] != 0) {
            position += 2;
        }
        const int records = static_cast<uint8_t>(file[position + 2]);
        position += 3;
        for (int r = 0; r < records; ++r) {
            const uint32_t length = static_cast<uint8_t>(file[position]) << 24 |
                                    static_cast<uint8_t>(file[position + 1]) << 16 |
                                    static_cast<uint8_t>(file[position + 2]) << 8 |
                                    static_cast<uint8_t>(file[position + 3]);
            position += length + 4;
            ends.push_back(position);
        }
    }
    return ends;
}

TEST(EpgDataFile, WritesTheExactBytesAndLoadsThemBack) {
    CEpgStore store;
    CChannelInfo* channel = AddChannel(store, CTuningSpace::kTerrestrial, 0x0400, 301);
    channel->name = u"Ab";
    channel->networkId = 0x7FE8;
    channel->remoteKey = 1;
    channel->logoId = 5;
    CEventInfo* event = AddEvent(store, *channel, 0x1234, 0x0102030405060708, u"T");
    event->tableId = 0x50;
    event->duration = -1;
    event->videoType = 0xB3;
    event->audioType = 0x03;
    event->genreCount = 2;
    event->genres[0] = 0x0100;
    event->genres[1] = 0x0F0F;
    auto* group = event->groups.Add(new CEventGroup);
    group->groupType = 1;
    group->serviceIds = {0x0401};
    group->eventIds = {0x2000};

    const std::string expected =
        Bytes({'E', 'P', 'G', 0, 0x15, 0x12, 0x02, 0x00, 3,
               // UHF block: type, name, one record
               0, 'U', 0, 'H', 0, 'F', 0, 0, 0, 1,
               // record: length 69, name "Ab", ids, remote key, number 301 & 0xFF, logo, one event
               0x00, 0x00, 0x00, 0x45, 'A', 0, 'b', 0, 0, 0, 0x7F, 0xE8, 0x7F, 0xE1, 0x04, 0x00,
               0x01, 0x2D, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01,
               // event: id, table, start (LE), duration -1, "T", "", video, audio, genres (LE)
               0x12, 0x34, 0x50, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF, 0xFF,
               0xFF, 'T', 0, 0, 0, 0, 0, 0xB3, 0x03, 2, 0x00, 0x01, 0x0F, 0x0F, 0xFF, 0xFF, 0xFF,
               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
               // one group: type 1, one entry, service 0x0401, event 0x2000 (LE)
               1, 1, 1, 0x01, 0x04, 0x00, 0x20,
               // CRC-32 over the 69 bytes
               0xE9, 0x0B, 0x75, 0x46,
               // BS and CS blocks, empty
               2, 'B', 0, 'S', 0, 0, 0, 0, 3, 'C', 0, 'S', 0, 0, 0, 0});
    const std::string written = epgdata::Write(store.EpgTuner());
    ASSERT_EQ(written, expected);

    // Into a fresh index the record creates its channel: the number comes back as 301 & 0xFF.
    CEpgStore fresh;
    const epgdata::ReadResult result = epgdata::Read(written, fresh);
    EXPECT_EQ(result.records, 1);
    EXPECT_TRUE(result.complete);
    const CChannelInfo* loaded = fresh.FindEpgChannel(0x7FE1, 0x0400);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->channelNumber, 45);
    EXPECT_EQ(loaded->logoId, 5);
    EXPECT_EQ(epgdata::Write(fresh.EpgTuner()).substr(0, 26), expected.substr(0, 26));
    const CEventInfo* back = loaded->events.First();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->startTime, 0x0102030405060708);
    EXPECT_EQ(back->duration, -1);
    EXPECT_EQ(back->genres[1], 0x0F0F);
    ASSERT_EQ(back->groups.GetCount(), 1);
    EXPECT_EQ(back->groups.First()->eventIds, std::vector<uint16_t>{0x2000});

    // A channel already in the index keeps its own fields.
    CEpgStore indexed;
    CChannelInfo* own = AddChannel(indexed, CTuningSpace::kTerrestrial, 0x0400, 301);
    epgdata::Read(written, indexed);
    EXPECT_EQ(own->channelNumber, 301);
    EXPECT_EQ(own->name.GetView(), u"Ch");
    EXPECT_EQ(own->events.GetCount(), 1);
}

TEST(EpgDataFile, DamageStopsTheLoadKeepingTheRecordsBeforeIt) {
    CEpgStore source;
    FillGuide(source, 3, 4);
    const std::string file = epgdata::Write(source.EpgTuner());
    const std::vector<size_t> ends = RecordEnds(file);
    ASSERT_EQ(ends.size(), 9u);
    const size_t second = ends[0];  // where the second UHF record starts
    const size_t bsBlock = ends[2];

    const struct {
        const char* damage;
        size_t offset;
        uint8_t value;
        size_t recordsKept;
    } cases[] = {
        {"wrong magic", 1, 'X', 0},
        {"bad CRC in the second record", second + 30, 0x55, 1},
        {"oversized second record", second + 1, 0x08, 1},
        {"record shorter than its length field", second + 3, 0x02, 1},
        {"unknown tuning-space type", bsBlock, 0x01, 3},
        {"bad CRC in the last record", ends[8] - 1, 0x00, 8},
    };
    const std::set<EventKey> all = EventsOf(source);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.damage);
        std::string damaged = file;
        damaged[test.offset] = static_cast<char>(test.value);
        CEpgStore store;
        const epgdata::ReadResult result = epgdata::Read(damaged, store);
        EXPECT_FALSE(result.complete);
        EXPECT_EQ(static_cast<size_t>(result.records), test.recordsKept);
        EXPECT_EQ(EventsOf(store).size(), test.recordsKept * 4);
        const std::set<EventKey> loaded = EventsOf(store);
        EXPECT_TRUE(std::includes(all.begin(), all.end(), loaded.begin(), loaded.end()));
    }
}

TEST(EpgDataFile, ACutOrScrambledFileKeepsExactlyItsWholeRecords) {
    CEpgStore source;
    FillGuide(source, 2, 3);
    const std::string file = epgdata::Write(source.EpgTuner());
    const std::vector<size_t> ends = RecordEnds(file);
    const std::set<EventKey> all = EventsOf(source);
    for (size_t length = 0; length <= file.size(); ++length) {
        CEpgStore store;
        const epgdata::ReadResult result =
            epgdata::Read(std::string_view(file).substr(0, length), store);
        const auto whole =
            std::count_if(ends.begin(), ends.end(), [&](size_t end) { return end <= length; });
        ASSERT_EQ(result.records, whole) << "cut at " << length;
        ASSERT_EQ(EventsOf(store).size(), static_cast<size_t>(whole) * 3) << "cut at " << length;
    }

    std::mt19937 random(20261208);
    for (int round = 0; round < 2000; ++round) {
        std::string scrambled = file;
        const int flips = 1 + round % 4;
        for (int i = 0; i < flips; ++i) {
            scrambled[random() % scrambled.size()] ^= static_cast<char>(1 + random() % 255);
        }
        CEpgStore store;
        epgdata::Read(scrambled, store);
        const std::set<EventKey> loaded = EventsOf(store);
        // Whatever a damaged file gives is what was written: no record is taken in part.
        ASSERT_TRUE(std::includes(all.begin(), all.end(), loaded.begin(), loaded.end()))
            << "round " << round;
    }
}

TEST(EpgDataFile, AnEventIdAlreadyHeldIsSkippedWithoutDisturbingTheFollowingOnes) {
    CEpgStore source;
    CChannelInfo* channel = AddChannel(source, CTuningSpace::kBS, 101, 101);
    AddEvent(source, *channel, 1, kDecember8, u"first");
    AddEvent(source, *channel, 1, kDecember8 + 1800, u"repeated id");
    AddEvent(source, *channel, 2, kDecember8 + 3600, u"next");
    const std::string file = epgdata::Write(source.EpgTuner());

    CEpgStore store;
    CChannelInfo* held = AddChannel(store, CTuningSpace::kBS, 101, 101);
    AddEvent(store, *held, 2, kDecember8 + 7200, u"held");
    epgdata::Read(file, store);
    std::vector<std::u16string> titles;
    for (const CEventInfo* event : held->events) {
        titles.emplace_back(event->title.GetView());
    }
    EXPECT_EQ(titles, (std::vector<std::u16string>{u"first", u"held"}));
}

TEST(EpgDataFile, LargeChannelsAndSpacesContinueInFurtherRecordsAndBlocks) {
    CEpgStore source;
    // 300 channels: more than a block's count byte holds.
    for (int c = 0; c < 300; ++c) {
        AddEvent(source, *AddChannel(source, CTuningSpace::kCS, static_cast<uint32_t>(c), c), 1,
                 kDecember8);
    }
    // 3000 events of 200-character texts: more than one record may hold.
    CChannelInfo* big = AddChannel(source, CTuningSpace::kBS, 1000, 7);
    const ICWString text(std::u16string(200, u'あ'));
    for (int e = 0; e < 3000; ++e) {
        AddEvent(source, *big, static_cast<uint16_t>(e), kDecember8 + e * 600)->text = text;
    }
    const std::string file = epgdata::Write(source.EpgTuner());
    CEpgStore store;
    const epgdata::ReadResult result = epgdata::Read(file, store);
    EXPECT_TRUE(result.complete);
    EXPECT_GT(result.records, 301);
    EXPECT_EQ(store.SpaceOfType(CTuningSpace::kCS)->physicalChannels.GetCount(), 300);
    EXPECT_EQ(store.SpaceOfType(CTuningSpace::kBS)->physicalChannels.GetCount(), 1);
    EXPECT_EQ(EventsOf(store), EventsOf(source));
    EXPECT_EQ(store.FindEpgChannel(0x7FE1, 1000)->events.Last()->text.GetView(), text.GetView());
}

class EpgDataFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "epgdataXXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        profile::SetBeforeRenameHook({});
        std::filesystem::remove_all(folder);
    }
    std::string folder;
};

TEST_F(EpgDataFolder, ASaveKilledBeforeTheRenameLeavesThePreviousFileLoadable) {
    CEpgStore first;
    FillGuide(first, 2, 2);
    ASSERT_TRUE(first.SaveEpg(folder));

    CEpgStore second;
    FillGuide(second, 5, 5);
    int killed = 0;
    profile::SetBeforeRenameHook([&](const std::string&) {
        ++killed;
        return false;
    });
    EXPECT_FALSE(second.SaveEpg(folder));
    profile::SetBeforeRenameHook({});
    EXPECT_EQ(killed, 1);

    CEpgStore loaded;
    ASSERT_TRUE(loaded.LoadEpg(folder));
    EXPECT_EQ(EventsOf(loaded), EventsOf(first));

    // A missing file loads nothing and keeps the index.
    CEpgStore empty;
    EXPECT_FALSE(empty.LoadEpg(folder + "/none"));
    EXPECT_EQ(empty.EpgTuner().tuningSpaces.GetCount(), 3);
}

}  // namespace
