// The software download trigger table: contents, schedules, download content descriptors,
// completion over several sections and the handling of broken sections.

#include <gtest/gtest.h>

#include "sianalyzer/tests/SiTestSupport.h"
#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/SiTables.h"

namespace sitest {
namespace {

constexpr uint16_t kKey = 0xFF01;  // maker 0xFF, model 0x01
constexpr uint16_t kTsid = 0x4010;
constexpr uint16_t kOnid = 0x0004;
constexpr uint16_t kService = 929;

struct ScheduleEntry {
    int year, month, day, hour, minute, second;
    uint32_t durationBcd;
};

struct ContentEntry {
    uint8_t group = 0;
    uint16_t targetVersion = 0;
    uint16_t newVersion = 0;
    uint8_t levelIndicator = 0;
    std::vector<ScheduleEntry> schedule;
    Bytes descriptors;
};

Bytes SdttBody(const std::vector<ContentEntry>& contents) {
    ByteWriter body;
    body.U16(kTsid).U16(kOnid).U16(kService).U8(static_cast<uint32_t>(contents.size()));
    for (const ContentEntry& c : contents) {
        body.U16(static_cast<uint32_t>(c.group) << 12 | c.targetVersion);
        body.U16(static_cast<uint32_t>(c.newVersion) << 4 | c.levelIndicator);
        ByteWriter schedule;
        for (const ScheduleEntry& s : c.schedule) {
            WriteAribTime(schedule, CivilTime{s.year, s.month, s.day, s.hour, s.minute, s.second});
            schedule.U24(s.durationBcd);
        }
        const uint32_t scheduleLength = static_cast<uint32_t>(schedule.Data().size());
        const uint32_t contentLength = scheduleLength + static_cast<uint32_t>(c.descriptors.size());
        body.U16(contentLength << 4).U16(scheduleLength << 4 | 0x3);
        body.Append(schedule.Data()).Append(c.descriptors);
    }
    return body.Data();
}

Bytes SdttSection(uint8_t version, uint8_t number, uint8_t last,
                  const std::vector<ContentEntry>& contents) {
    return BuildSection({0xC3, kKey, version, number, last, true}, SdttBody(contents));
}

// A download content descriptor; `tail` follows component_tag (compatibility, module info,
// private data and text information as the flags say).
Bytes DownloadContent(uint8_t flags, const Bytes& tail) {
    ByteWriter w;
    w.U8(flags).U32(512 * 1024).U32(0x00020000 | kTsid).U32(60000).U24(0x3FFFFF << 2 | 0x3);
    w.U8(0x7A).Append(tail);
    return Descriptor(0xC9, w.Data());
}

ContentEntry Content(uint16_t newVersion, const Bytes& descriptors = {}) {
    ContentEntry c;
    c.newVersion = newVersion;
    c.descriptors = descriptors;
    return c;
}

class Sdtt : public ::testing::Test {
protected:
    void Send(const Bytes& section) { analyzer.FeedSection(0x23, section); }
    ICSIList& Store() { return *analyzer.GetSIList(); }

    TestAnalyzer analyzer;
};

TEST_F(Sdtt, ASectionStoresItsContentsSchedulesAndDownloadContents) {
    analyzer.SetNotifyFlags(si::kEventSDTTSection.bit | si::kEventSDTTComplete.bit);
    ByteWriter tail;
    // compatibility: one entry without sub-descriptors
    tail.U16(13).U16(1).U8(0x01).U8(9).U8(0x01).U24(0x0000AB).U16(0x0010).U16(0x0002).U8(0);
    tail.U16(1).U16(0x0003).U32(4096).Counted(Descriptor(0x02, {'G', 'E', 'N', 'R', 'E'}));
    tail.Counted({0xC0, 0xFF});  // private data
    tail.Append(std::string_view("jpn")).Counted(Text(u"更新ソフトウェア"));
    ContentEntry content;
    content.group = 0x3;
    content.targetVersion = 0x123;
    content.newVersion = 0x456;
    content.levelIndicator = 0x1 << 2 | 0x2;
    content.schedule = {{2026, 4, 2, 3, 0, 0, 0x010000}, {2026, 4, 3, 3, 30, 0, 0x003000}};
    content.descriptors =
        Concat({Descriptor(0x40, {0x01}), DownloadContent(0xF8, tail.Data())});  // all flags set
    Send(SdttSection(3, 0, 0, {content}));

    ASSERT_EQ(Store().GetSDTTCount(), 1);
    const ICSISDTT* sdtt = Store().FindSDTT(kKey);
    ASSERT_EQ(sdtt, Store().GetSDTT(0));
    EXPECT_EQ(sdtt->GetOwner(), &Store());
    EXPECT_EQ(sdtt->GetVersion(), 3);
    EXPECT_EQ(sdtt->GetMakerID(), 0xFF);
    EXPECT_EQ(sdtt->GetModelID(), 0x01);
    EXPECT_EQ(sdtt->GetOriginalNetworkID(), kOnid);
    EXPECT_EQ(sdtt->GetTransportStreamID(), kTsid);
    EXPECT_EQ(sdtt->GetServiceID(), kService);
    EXPECT_TRUE(sdtt->IsComplete());
    ASSERT_EQ(sdtt->GetContentCount(), 1);
    EXPECT_EQ(sdtt->GetContent(1), nullptr);

    const ICSISDTTContent* c = sdtt->GetContent(0);
    EXPECT_EQ(c->GetOwner(), sdtt);
    EXPECT_EQ(c->GetDescriptorFlags(), 0x01u);
    EXPECT_EQ(c->GetGroup(), 0x3);
    EXPECT_EQ(c->GetTargetVersion(), 0x123);
    EXPECT_EQ(c->GetNewVersion(), 0x456);
    EXPECT_EQ(c->GetDownloadLevel(), 1);
    EXPECT_EQ(c->GetVersionIndicator(), 2);
    ASSERT_EQ(c->GetScheduleCount(), 2);
    uint16_t year = 1;
    uint8_t month = 1, day = 1;
    EXPECT_TRUE(c->GetScheduleStartDate(1, &year, &month, &day));
    EXPECT_EQ(year, 2026);
    EXPECT_EQ(month, 4);
    EXPECT_EQ(day, 3);
    EXPECT_EQ(c->GetScheduleStartTime(1)->minute, 30);
    EXPECT_EQ(c->GetScheduleDuration(0), 0x010000);
    EXPECT_EQ(c->GetScheduleDuration(2), -1);
    EXPECT_FALSE(c->GetScheduleStartDate(2, &year, &month, &day));
    EXPECT_EQ(day, 3);  // untouched out of range

    ASSERT_EQ(c->GetDownloadContentCount(), 1);
    const ICSIDownloadContent* d = c->GetDownloadContent(0);
    EXPECT_EQ(d->GetOwner(), c);
    EXPECT_EQ(d->GetFlags(), 0xF8);
    EXPECT_EQ(d->GetReboot(), 1);
    EXPECT_EQ(d->GetAddOn(), 1);
    EXPECT_EQ(d->GetCompatibilityFlag(), 1);
    EXPECT_EQ(d->GetModuleInfoFlag(), 1);
    EXPECT_EQ(d->GetTextInfoFlag(), 1);
    EXPECT_EQ(d->GetComponentSize(), 512u * 1024);
    EXPECT_EQ(d->GetDownloadID(), 0x00020000u | kTsid);
    EXPECT_EQ(d->GetTimeOutValueDII(), 60000u);
    EXPECT_EQ(d->GetLeakRate(), 0x3FFFFFu);
    EXPECT_EQ(d->GetComponentTag(), 0x7A);
    ASSERT_EQ(d->GetCompatibilityCount(), 1);
    EXPECT_EQ(d->GetCompatibility(0)->GetOwner(), d);
    EXPECT_EQ(d->GetCompatibility(0)->GetSpecifierData(), 0xABu);
    EXPECT_EQ(d->GetCompatibility(0)->GetModel(), 0x0010);
    ASSERT_EQ(d->GetModuleInfoCount(), 1);
    const ICSIModuleInfo* m = d->GetModuleInfo(0);
    EXPECT_EQ(m->GetOwner(), d);
    EXPECT_EQ(m->GetModuleID(), 3);
    EXPECT_EQ(m->GetModuleSize(), 4096u);
    EXPECT_EQ(m->GetModuleVersion(), 0);
    EXPECT_EQ(m->GetModuleKind(), ICSIModule::kKindGenre);
    ASSERT_EQ(d->GetPrivateDataLength(), 2);
    EXPECT_EQ(d->GetPrivateData()[0], 0xC0);
    EXPECT_STREQ(d->GetLanguageCode(), "jpn");
    EXPECT_EQ(Utf8(d->GetText()), "更新ソフトウェア");

    const intptr_t param1 = static_cast<intptr_t>(kKey) << 16 | kOnid;
    const intptr_t param2 = static_cast<intptr_t>(kTsid) << 16 | kService;
    ASSERT_EQ(analyzer.Codes(),
              (std::vector<uint32_t>{si::kEventSDTTSection.code, si::kEventSDTTComplete.code}));
    EXPECT_EQ(analyzer.delivered[0].param1, param1);
    EXPECT_EQ(analyzer.delivered[0].param2, param2);
    EXPECT_EQ(analyzer.delivered[1].param1, param1);
    EXPECT_EQ(analyzer.delivered[1].param2, param2);
}

TEST_F(Sdtt, ADownloadContentWithoutOptionalPartsHasAnEmptyText) {
    Send(SdttSection(0, 0, 0, {Content(1, DownloadContent(0x00, {0x00}))}));
    const ICSIDownloadContent* d = Store().FindSDTT(kKey)->GetContent(0)->GetDownloadContent(0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->GetCompatibilityCount(), 0);
    EXPECT_EQ(d->GetModuleInfoCount(), 0);
    EXPECT_EQ(d->GetPrivateDataLength(), 0);
    EXPECT_STREQ(d->GetLanguageCode(), "");
    EXPECT_EQ(Utf8(d->GetText()), "");
}

TEST_F(Sdtt, TwoSectionsCompleteOnceAndEachSectionReplacesTheContents) {
    analyzer.SetNotifyFlags(si::kEventSDTTComplete.bit);
    const Bytes first = SdttSection(1, 0, 1, {Content(0x010), Content(0x011)});
    const Bytes second = SdttSection(1, 1, 1, {Content(0x020)});
    Send(first);
    const ICSISDTT* sdtt = Store().FindSDTT(kKey);
    ASSERT_NE(sdtt, nullptr);
    EXPECT_FALSE(sdtt->IsComplete());
    ASSERT_EQ(sdtt->GetContentCount(), 2);
    EXPECT_EQ(sdtt->GetContent(1)->GetNewVersion(), 0x011);
    Send(first);  // a repetition
    EXPECT_EQ(sdtt->GetContentCount(), 2);
    EXPECT_TRUE(analyzer.delivered.empty());

    Send(second);
    ASSERT_EQ(Store().FindSDTT(kKey), sdtt);
    EXPECT_TRUE(sdtt->IsComplete());
    ASSERT_EQ(sdtt->GetContentCount(), 1);
    EXPECT_EQ(sdtt->GetContent(0)->GetNewVersion(), 0x020);
    Send(first);
    Send(second);
    EXPECT_EQ(sdtt->GetContentCount(), 1);
    EXPECT_EQ(sdtt->GetContent(0)->GetNewVersion(), 0x020);
    EXPECT_EQ(analyzer.CountOf(si::kEventSDTTComplete.code), 1u);
    EXPECT_EQ(analyzer.CountOf(si::kEventSDTTSection.code), 0u);  // its flag is not set

    // A new version starts over.
    Send(SdttSection(2, 0, 1, {Content(0x030)}));
    sdtt = Store().FindSDTT(kKey);
    ASSERT_NE(sdtt, nullptr);
    EXPECT_EQ(Store().GetSDTTCount(), 1);
    EXPECT_EQ(sdtt->GetVersion(), 2);
    EXPECT_FALSE(sdtt->IsComplete());
    EXPECT_FALSE(sdtt->HasSection(1));
}

TEST_F(Sdtt, WithLastSectionNumber255AllOfThe256SectionsAreNeeded) {
    analyzer.SetNotifyFlags(si::kEventSDTTComplete.bit);
    for (int n = 255; n >= 1; --n) {
        Send(SdttSection(0, static_cast<uint8_t>(n), 255, {Content(1)}));
    }
    const ICSISDTT* sdtt = Store().FindSDTT(kKey);
    ASSERT_NE(sdtt, nullptr);
    EXPECT_FALSE(sdtt->IsComplete());
    EXPECT_TRUE(analyzer.delivered.empty());
    Send(SdttSection(0, 0, 255, {Content(1)}));
    EXPECT_TRUE(sdtt->IsComplete());
    EXPECT_EQ(analyzer.CountOf(si::kEventSDTTComplete.code), 1u);
}

TEST_F(Sdtt, ASectionWithoutContentsCreatesNothingButEmptiesAKeptTable) {
    analyzer.SetNotifyFlags(si::kEventSDTTSection.bit);
    Send(SdttSection(0, 0, 1, {}));
    EXPECT_EQ(Store().GetSDTTCount(), 0);
    EXPECT_TRUE(analyzer.delivered.empty());  // its si::kEventSDTTSection.code was dropped with it
    Send(SdttSection(0, 0, 1, {Content(1)}));
    ASSERT_EQ(Store().FindSDTT(kKey)->GetContentCount(), 1);
    Send(SdttSection(0, 1, 1, {}));
    ASSERT_EQ(Store().GetSDTTCount(), 1);
    EXPECT_EQ(Store().FindSDTT(kKey)->GetContentCount(), 0);
    EXPECT_TRUE(Store().FindSDTT(kKey)->IsComplete());
}

TEST_F(Sdtt, ABrokenSectionDiscardsTheTableAndItsNotifications) {
    analyzer.SetNotifyFlags(si::kEventSDTTSection.bit | si::kEventSDTTComplete.bit);
    Send(SdttSection(0, 0, 1, {Content(1)}));
    ASSERT_EQ(Store().GetSDTTCount(), 1);
    analyzer.delivered.clear();

    // Two contents announced, one present: the second starts at the data limit.
    Bytes body = SdttBody({Content(2)});
    body[6] = 2;
    Send(BuildSection({0xC3, kKey, 0, 1, 1, true}, body));
    EXPECT_EQ(Store().GetSDTTCount(), 0);
    EXPECT_TRUE(analyzer.delivered.empty());

    // A schedule entry that starts at the data limit.
    ByteWriter cut;
    cut.U16(kTsid).U16(kOnid).U16(kService).U8(1).U16(0).U16(0).U16(16 << 4).U16(16 << 4);
    WriteAribTime(cut, CivilTime{2026, 4, 2, 3, 0, 0});
    cut.U24(0x010000);
    Send(BuildSection({0xC3, kKey, 0, 0, 0, true}, cut.Data()));
    EXPECT_EQ(Store().GetSDTTCount(), 0);

    // A download content descriptor with a date list of 8 entries.
    ByteWriter dates;
    dates.U8(0).U8(0);
    for (int i = 0; i < 8; ++i) {
        dates.U16(MjdOf(2026, 1, 1 + i)).U8(0);
    }
    ByteWriter moduleInfo;
    moduleInfo.U16(1).U16(0).U32(100).Counted(Descriptor(0xC3, dates.Data()));
    moduleInfo.U8(0);
    Send(SdttSection(0, 0, 0, {Content(3, DownloadContent(0x10, moduleInfo.Data()))}));
    EXPECT_EQ(Store().GetSDTTCount(), 0);

    // A download content descriptor whose compatibility descriptor runs past it.
    Send(SdttSection(0, 0, 0, {Content(3, DownloadContent(0x20, {0x00, 0x09, 0x00, 0x01}))}));
    EXPECT_EQ(Store().GetSDTTCount(), 0);

    // A descriptor whose length byte is missing.
    ContentEntry lengthless = Content(4, {0xC9});
    Send(SdttSection(0, 0, 0, {lengthless}));
    EXPECT_EQ(Store().GetSDTTCount(), 0);
    EXPECT_TRUE(analyzer.delivered.empty());

    // The intact table is taken again.
    Send(SdttSection(0, 0, 0, {Content(5)}));
    EXPECT_EQ(Store().GetSDTTCount(), 1);
    EXPECT_EQ(analyzer.Codes(),
              (std::vector<uint32_t>{si::kEventSDTTSection.code, si::kEventSDTTComplete.code}));
}

TEST_F(Sdtt, TablesOfDifferentModelsAreKeptApart) {
    Send(SdttSection(0, 0, 0, {Content(1)}));
    Send(BuildSection({0xC3, 0x0102, 0, 0, 0, true}, SdttBody({Content(2)})));
    ASSERT_EQ(Store().GetSDTTCount(), 2);
    EXPECT_EQ(Store().FindSDTT(0x0102)->GetMakerID(), 0x01);
    EXPECT_EQ(Store().FindSDTT(0x0102)->GetContent(0)->GetNewVersion(), 2);
    EXPECT_EQ(Store().FindSDTT(kKey)->GetContent(0)->GetNewVersion(), 1);
    EXPECT_EQ(Store().FindSDTT(0x0103), nullptr);
    EXPECT_EQ(Store().RemoveSDTT(0x0102), 1);
    EXPECT_EQ(Store().GetSDTTCount(), 1);
}

TEST(SimulatedSdtt, TheSimulatorsAnnouncementIsStoredAsSent) {
    const isdbsim::TransportStreamInfo* info = isdbsim::FindChannel(1, 0);
    ASSERT_NE(info, nullptr);
    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventSDTTComplete.bit);
    for (const Bytes& section :
         isdbsim::BuildSdtt(*info, *isdbsim::ParseJstTime("2026-04-01 12:00:00"))) {
        analyzer.FeedSection(isdbsim::kSdttPid, section);
    }
    const ICSISDTT* sdtt = analyzer.GetSIList()->FindSDTT(0xFF01);
    ASSERT_NE(sdtt, nullptr);
    EXPECT_TRUE(sdtt->IsComplete());
    EXPECT_EQ(sdtt->GetServiceID(), 929);  // the engineering service
    ASSERT_EQ(sdtt->GetContentCount(), 1);
    const ICSISDTTContent* c = sdtt->GetContent(0);
    EXPECT_EQ(c->GetTargetVersion(), 1);
    EXPECT_EQ(c->GetNewVersion(), 2);
    EXPECT_EQ(c->GetDownloadLevel(), 1);
    ASSERT_EQ(c->GetScheduleCount(), 1);
    const ICSIDateTime* start = c->GetScheduleStartTime(0);
    EXPECT_EQ(start->day, 2);  // tomorrow, 03:00
    EXPECT_EQ(start->hour, 3);
    EXPECT_EQ(c->GetScheduleDuration(0), 0x010000);
    ASSERT_EQ(c->GetDownloadContentCount(), 1);
    const ICSIDownloadContent* d = c->GetDownloadContent(0);
    EXPECT_EQ(d->GetDownloadID(), 0x00020000u | info->transportStreamId);
    EXPECT_EQ(d->GetLeakRate(), 100u);
    ASSERT_EQ(d->GetModuleInfoCount(), 1);
    EXPECT_EQ(d->GetModuleInfo(0)->GetModuleSize(), 512u * 1024);
    EXPECT_EQ(analyzer.CountOf(si::kEventSDTTComplete.code), 1u);
}

}  // namespace
}  // namespace sitest
