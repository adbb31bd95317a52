// The server's channel list as tuning spaces: order, names, what is left out and what is refused.
#include "sources/mirakurun/ChannelList.h"

#include <gtest/gtest.h>

namespace mirakurun {
namespace {

const std::vector<std::string> kAllTypes = ChannelList::KnownTypes();

std::vector<std::u16string> ChannelNames(const ChannelList::Space& space) {
    std::vector<std::u16string> names;
    for (const ChannelList::Channel& channel : space.channels) {
        names.push_back(channel.name);
    }
    return names;
}

TEST(ChannelList, SpacesComeInTypeOrderAndChannelsInTheServersOrder) {
    const char* json = R"([
        {"type": "SKY", "channel": "CS8", "name": "スカイ", "services": [{"id": 1}]},
        {"type": "GR", "channel": "27", "name": "NHK総合"},
        {"type": "BS", "channel": "BS15_0", "name": ""},
        {"type": "GR", "channel": 26},
        {"type": "GR", "channel": "16", "name": "Tokyo MX"}
    ])";
    std::string error;
    const std::optional<ChannelList> list = ChannelList::Parse(json, kAllTypes, &error);
    ASSERT_TRUE(list) << error;
    ASSERT_EQ(list->Spaces().size(), 3u);
    EXPECT_EQ(list->Spaces()[0].name, u"地デジ");
    EXPECT_EQ(list->Spaces()[1].name, u"BS");
    EXPECT_EQ(list->Spaces()[2].name, u"SKY");
    // A channel without a name is called by its channel; a number counts as its text.
    EXPECT_EQ(ChannelNames(list->Spaces()[0]),
              (std::vector<std::u16string>{u"NHK総合", u"26", u"Tokyo MX"}));
    EXPECT_EQ(ChannelNames(list->Spaces()[1]), std::vector<std::u16string>{u"BS15_0"});
    EXPECT_EQ(ChannelNames(list->Spaces()[2]), std::vector<std::u16string>{u"スカイ"});
    const ChannelList::Channel* channel = list->FindChannel(0, 1);
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->type, "GR");
    EXPECT_EQ(channel->id, "26");
    EXPECT_EQ(list->FindChannel(0, 3), nullptr);
    EXPECT_EQ(list->FindChannel(3, 0), nullptr);
    EXPECT_EQ(list->FindSpace(0xFFFFFFFF), nullptr);
    EXPECT_EQ(list->SkippedEntries(), 0u);
}

TEST(ChannelList, DisabledTypesAreLeftOutAndBadEntriesSkippedAndCounted) {
    const char* json = R"([
        42,
        {"type": "BS", "channel": "BS01_0", "name": "One"},
        {"type": "BS", "name": "no channel"},
        {"type": 3, "channel": "BS03_0"},
        {"type": "BS", "channel": ["BS05_0"]},
        {"type": "BS", "channel": ""},
        {"type": "4K", "channel": "BS4K"},
        {"type": "GR", "channel": "27"},
        {"type": "BS", "channel": "BS09_0", "name": "Nine"}
    ])";
    std::string error;
    const std::optional<ChannelList> list = ChannelList::Parse(json, {"BS", "CS"}, &error);
    ASSERT_TRUE(list) << error;
    ASSERT_EQ(list->Spaces().size(), 1u);
    EXPECT_EQ(list->Spaces()[0].type, "BS");
    EXPECT_EQ(ChannelNames(list->Spaces()[0]), (std::vector<std::u16string>{u"One", u"Nine"}));
    // The disabled terrestrial channel is no fault; the other six are.
    EXPECT_EQ(list->SkippedEntries(), 6u);
}

TEST(ChannelList, TextsThatAreNotAChannelArrayAreRefused) {
    for (const char* text : {"", "not json", "{}", "[{\"type\": \"GR\"", "\"GR\"", "null",
                             "[1, 2] trailing", "<html>503</html>"}) {
        std::string error;
        EXPECT_FALSE(ChannelList::Parse(text, kAllTypes, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    std::string error;
    const std::optional<ChannelList> empty = ChannelList::Parse("[]", kAllTypes, &error);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->Spaces().empty());
}

}  // namespace
}  // namespace mirakurun
