// The EIT handler: tables, segments, events and their descriptors.

#include <gtest/gtest.h>

#include "sianalyzer/tests/SiTestSupport.h"

namespace sitest {
namespace {

constexpr uint16_t kTsid = 0x7FE8;
constexpr uint16_t kOnid = 0x7FE8;
constexpr uint16_t kService = 0x0400;

Bytes EitSection(uint8_t tableId, uint8_t version, uint8_t number, uint8_t last,
                 uint8_t segmentLast, const std::vector<EventEntry>& events,
                 uint16_t service = kService) {
    return BuildSection({tableId, service, version, number, last, true},
                        EitBody(kTsid, kOnid, segmentLast, tableId < 0x58 ? 0x51 : 0x59, events));
}

EventEntry Event(uint16_t id, int hour, const Bytes& descriptors, uint32_t duration = 0x010000) {
    return {id, 2026, 4, 1, hour, 0, 0, duration, descriptors};
}

Bytes ExtendedEvent(uint8_t number, uint8_t last, const std::vector<std::pair<Bytes, Bytes>>& items,
                    const Bytes& text = {}) {
    ByteWriter list;
    for (const auto& [description, item] : items) {
        list.Counted(description).Counted(item);
    }
    ByteWriter w;
    w.U8(number << 4 | last).Append("jpn").Counted(list.Data()).Counted(text);
    return Descriptor(0x4E, w.Data());
}

class Eit : public ::testing::Test {
protected:
    void Send(const Bytes& section) { analyzer.FeedSection(0x12, section); }
    ICSIEIT* Service() { return analyzer.GetSIList()->FindEIT(kOnid, kTsid, kService); }
    TestAnalyzer analyzer;
};

TEST_F(Eit, PresentFollowingSectionZeroAnnouncesThePresentEvent) {
    analyzer.SetNotifyFlags(si::kEventPresentEvent.bit);
    Send(EitSection(0x4E, 0, 0, 1, 1,
                    {Event(0x1234, 12, ShortEvent(u"ニュース", u"今日の出来事"))}));
    Send(EitSection(0x4E, 0, 1, 1, 1, {Event(0x1235, 13, ShortEvent(u"天気", u""))}));
    ICSIEIT* eit = Service();
    ASSERT_NE(eit, nullptr);
    EXPECT_EQ(eit->GetPresentEventID(), 0x1234);
    const ICSIEvent* present = eit->GetPresentEvent();
    ASSERT_NE(present, nullptr);
    EXPECT_EQ(Utf8(present->GetEventName()), "ニュース");
    EXPECT_EQ(Utf8(present->GetEventText()), "今日の出来事");
    EXPECT_STREQ(present->GetLanguageCode(), "jpn");
    EXPECT_EQ(present->GetDescriptorFlags(), ICSIEvent::kFlagShortEvent);
    ASSERT_EQ(analyzer.CountOf(si::kEventPresentEvent.code), 1u);
    EXPECT_EQ(analyzer.delivered[0].param1, static_cast<intptr_t>(kOnid) << 16 | kTsid);
    EXPECT_EQ(analyzer.delivered[0].param2, static_cast<intptr_t>(kService) << 16 | 0x1234);
    EXPECT_NE(eit->FindEvent(0x1235, true), nullptr);
    EXPECT_EQ(eit->FindEvent(0x1235, false), nullptr);
}

TEST_F(Eit, ASegmentIsCompleteOnceWhenAllItsSectionsAreIn) {
    analyzer.SetNotifyFlags(si::kEventEITBasicSegment.bit);
    for (int round = 0; round < 2; ++round) {
        for (uint8_t number : {8, 9, 10}) {
            Send(EitSection(0x50, 1, number, 15, 10,
                            {Event(static_cast<uint16_t>(number), number, {})}));
        }
    }
    ASSERT_EQ(analyzer.CountOf(si::kEventEITBasicSegment.code), 1u);
    EXPECT_EQ(analyzer.delivered[0].param2, static_cast<intptr_t>(kService) << 16 | 0x50 << 8 | 8);
    const ICSIEITTable* table = Service()->FindTable(0x50);
    ASSERT_NE(table, nullptr);
    const ICSIEITSegment* segment = table->FindSegment(9);
    ASSERT_NE(segment, nullptr);
    EXPECT_TRUE(segment->IsComplete());
    EXPECT_EQ(segment->GetFirstSectionNumber(), 8);
    EXPECT_EQ(segment->GetSegmentLastSectionNumber(), 10);
    EXPECT_EQ(segment->GetEventCount(), 3);
}

TEST_F(Eit, EventsAreKeptInEventIdOrderOnePerId) {
    Send(EitSection(
        0x50, 0, 0, 0, 0,
        {Event(0x0300, 3, ShortEvent(u"C", u"")), Event(0x0100, 1, ShortEvent(u"A", u"")),
         Event(0x0200, 2, ShortEvent(u"B", u"")), Event(0x0100, 4, ShortEvent(u"A2", u""))}));
    const ICSIEITSegment* segment = Service()->FindTable(0x50)->GetSegment(0);
    ASSERT_EQ(segment->GetEventCount(), 3);
    EXPECT_EQ(segment->GetEvent(0)->GetEventID(), 0x0100);
    EXPECT_EQ(Utf8(segment->GetEvent(0)->GetEventName()), "A2");
    EXPECT_EQ(segment->GetEvent(2)->GetEventID(), 0x0300);
    EXPECT_EQ(segment->FindEvent(0x0200)->GetStartDateTime().hour, 2);
    EXPECT_EQ(segment->FindEvent(0x0201), nullptr);
}

TEST_F(Eit, ANewScheduleVersionRebuildsOnlyTheSegmentsThatArriveInIt) {
    Send(EitSection(0x51, 1, 0, 15, 0, {Event(1, 0, ShortEvent(u"一", u""))}));
    Send(EitSection(0x51, 1, 8, 15, 8, {Event(2, 3, ShortEvent(u"二", u""))}));
    Send(EitSection(0x51, 2, 0, 15, 0, {Event(3, 0, ShortEvent(u"三", u""))}));
    const ICSIEITTable* table = Service()->FindTable(0x51);
    EXPECT_EQ(table->GetVersion(), 2);
    EXPECT_EQ(table->FindEvent(1), nullptr);
    ASSERT_NE(table->FindEvent(3), nullptr);
    ASSERT_NE(table->FindEvent(2), nullptr);  // its segment has not come in version 2 yet
    Send(EitSection(0x51, 2, 8, 15, 8, {Event(4, 3, ShortEvent(u"四", u""))}));
    EXPECT_EQ(table->FindEvent(2), nullptr);
    EXPECT_NE(table->FindEvent(4), nullptr);
    EXPECT_EQ(table->GetSegmentCount(), 2);
}

TEST_F(Eit, BasicAndExtendedTablesShareOneObjectUnderTheBasicKey) {
    Send(EitSection(0x50, 0, 0, 0, 0, {Event(7, 9, ShortEvent(u"番組", u"概要"))}));
    Send(EitSection(0x58, 0, 0, 0, 0,
                    {Event(7, 9, ExtendedEvent(0, 0, {{Text(u"出演"), Text(u"山田")}}))}));
    ICSIEIT* eit = Service();
    EXPECT_EQ(eit->GetTableCount(), 1);
    EXPECT_NE(eit->FindTable(0x50), nullptr);
    EXPECT_EQ(eit->FindTable(0x58), nullptr);
    EXPECT_EQ(eit->GetLastTableID(), 0x51);
    EXPECT_EQ(eit->GetExtLastTableID(), 0x59);
    const ICSIEvent* event = eit->FindEvent(7, false);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->GetDescriptorFlags(),
              ICSIEvent::kFlagShortEvent | ICSIEvent::kFlagExtendedEvent);
    EXPECT_EQ(Utf8(event->GetEventName()), "番組");
    ASSERT_EQ(event->GetExtEventCount(), 1);
    EXPECT_EQ(Utf8(event->GetExtEvent(0)->GetItemDescription()), "出演");
    EXPECT_EQ(Utf8(event->GetExtEvent(0)->GetItemText()), "山田");
    // The extended repetition replaces the items rather than adding to them.
    Send(EitSection(0x58, 1, 0, 0, 0,
                    {Event(7, 9, ExtendedEvent(0, 0, {{Text(u"出演"), Text(u"鈴木")}}))}));
    ASSERT_EQ(event->GetExtEventCount(), 1);
    EXPECT_EQ(Utf8(event->GetExtEvent(0)->GetItemText()), "鈴木");
}

TEST_F(Eit, AnExtendedSectionBeforeItsBasicSegmentWaitsForTheRepetition) {
    analyzer.SetNotifyFlags(si::kEventEventExtended.bit);
    const Bytes extended = EitSection(
        0x58, 0, 0, 0, 0, {Event(7, 9, ExtendedEvent(0, 0, {{Text(u"内容"), Text(u"詳細")}}))});
    Send(extended);
    EXPECT_EQ(Service(), nullptr);
    Send(EitSection(0x50, 0, 0, 0, 0, {Event(7, 9, ShortEvent(u"番組", u""))}));
    Send(extended);
    EXPECT_EQ(analyzer.CountOf(si::kEventEventExtended.code), 1u);
    EXPECT_EQ(Utf8(Service()->FindEvent(7, false)->GetExtEvent(0)->GetItemText()), "詳細");
}

TEST_F(Eit, DurationsContentAndOtherDescriptors) {
    ByteWriter content;
    for (int i = 0; i < 8; ++i) {
        content.U16(0x0100 * i | 0xFF);
    }
    ByteWriter audio;
    audio.U8(0xF2)
        .U8(0x03)
        .U8(0x10)
        .U8(0x0F)
        .U8(0xFF)
        .U8(0x80 | 0x40 | 0x7 << 1)
        .Append("jpn")
        .Append("eng")
        .Append(Text(u"日英"));
    ByteWriter component;
    component.U8(0xF1).U8(0xB3).U8(0x00).Append("jpn").Append(Text(u"映像"));
    ByteWriter series;
    series.U16(0x0123).U8(0x31).U16(MjdOf(2026, 6, 30)).U24(3 << 12 | 12).Append(Text(u"連続"));
    ByteWriter group;
    group.U8(0x12).U16(0x0401).U16(0x0707);
    ByteWriter relay;
    relay.U8(0x41).U16(0x0401).U16(0x0707).U16(4).U16(0x4010).U16(0x0101).U16(0x0808);
    ByteWriter parental;
    parental.Append("JPN").U8(0x05).Append("USA").U8(0x08);
    ByteWriter dataContent;
    dataContent.U16(0x0008)
        .U8(0x30)
        .Counted({0x01, 0x21, 'j', 'p', 'n'})
        .Counted({0x30})
        .Append("jpn")
        .Counted(Text(u"字幕"));
    ByteWriter hyperlink;
    hyperlink.U8(0x01).U8(0x02).Counted({1, 2, 3}).U8(9);
    ByteWriter ldt;
    ldt.U16(0x0400).U16(kTsid).U16(kOnid).U16(0x0001).U8(0xF3).U8(0x00);
    ByteWriter groups;
    groups.U8(0x1 << 5 | 0x10 | 2);
    groups.U8(0x01).U8(0x02).U8(0xA1).U8(0xA2).U8(0x10).Counted(Text(u"主"));  // one CA unit
    groups.U8(0x10).U8(0x20).Counted(Text(u"副"));                             // none
    Bytes descriptors = Concat({ShortEvent(u"題", u"文"), Descriptor(0x54, content.Data())});
    for (const Bytes& d : {Descriptor(0xC4, audio.Data()), Descriptor(0x50, component.Data()),
                           Descriptor(0xD5, series.Data()), Descriptor(0xD6, group.Data()),
                           Descriptor(0xD6, relay.Data()), Descriptor(0x55, parental.Data()),
                           Descriptor(0xC7, dataContent.Data()), Descriptor(0xC5, hyperlink.Data()),
                           Descriptor(0xDC, ldt.Data()), Descriptor(0xD9, groups.Data()),
                           Descriptor(0x42, {}), Descriptor(0xC1, {0x08})}) {
        descriptors = Concat({descriptors, d});
    }
    Send(EitSection(0x50, 0, 0, 0, 0,
                    {Event(1, 1, descriptors, 0xFFFFFF), Event(2, 2, {}, 0x013000),
                     Event(3, 3, {}, 0x00FF00)}));
    const ICSIEITSegment* segment = Service()->FindTable(0x50)->GetSegment(0);
    EXPECT_EQ(segment->FindEvent(2)->GetDuration(), 5400);
    EXPECT_EQ(segment->FindEvent(3)->GetDuration(), 165 * 60);  // 0xFF is not a BCD digit pair
    const ICSIEvent* event = segment->FindEvent(1);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->GetDuration(), -1);
    EXPECT_EQ(event->GetRunningStatus(), 2);
    EXPECT_EQ(event->IsFreeCA(), 1);
    EXPECT_EQ(event->GetDescriptorFlags(), 0x7F7Du);
    ASSERT_EQ(event->GetContentCount(), 7);
    EXPECT_EQ(event->GetContent(6), 0x06FF);
    EXPECT_EQ(event->GetContents()[7], 0xFFFF);
    EXPECT_EQ(event->GetContent(7), 0);

    const ICSIComponent* sound = event->FindAudioComponent(0x10);
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->GetMultiLingualFlag(), 1);
    EXPECT_EQ(sound->GetMainComponentFlag(), 1);
    EXPECT_EQ(sound->GetSamplingRate(), 48000);
    EXPECT_STREQ(sound->GetLanguageCode(), "jpn");
    EXPECT_STREQ(sound->GetLanguageCode2(), "eng");
    EXPECT_EQ(Utf8(sound->GetText()), "日英");
    EXPECT_EQ(Utf8(event->FindComponent(0x00)->GetText()), "映像");
    EXPECT_EQ(event->FindComponent(0x00)->GetComponentType(), 0xB3);

    EXPECT_EQ(event->GetSeriesID(), 0x0123);
    EXPECT_EQ(event->GetRepeatLabel(), 3);
    EXPECT_EQ(event->GetExpireDateValidFlag(), 1);
    uint16_t year = 0;
    uint8_t month = 0;
    uint8_t day = 0;
    EXPECT_EQ(event->GetExpireDate(&year, &month, &day), 1);
    EXPECT_EQ(year, 2026);
    EXPECT_EQ(month, 6);
    EXPECT_EQ(day, 30);
    EXPECT_EQ(event->GetEpisodeNumber(), 3);
    EXPECT_EQ(event->GetLastEpisodeNumber(), 12);
    EXPECT_EQ(Utf8(event->GetSeriesName()), "連続");

    ASSERT_EQ(event->GetEventGroupCount(), 2);
    EXPECT_EQ(event->GetEventGroup(0)->GetGroupType(), 1);
    EXPECT_EQ(event->GetEventGroup(0)->GetEventID(1), 0);
    EXPECT_EQ(event->GetEventGroup(1)->GetOtherCount(), 1);
    EXPECT_EQ(event->GetEventGroup(1)->GetOtherOriginalNetworkID(0), 4);
    EXPECT_EQ(event->GetEventGroup(1)->GetOtherEventID(0), 0x0808);

    char country[4] = {};
    ASSERT_EQ(event->GetParentalRatingCount(), 2);
    EXPECT_EQ(event->GetParentalRating(1, country), 0x08);
    EXPECT_STREQ(country, "USA");
    EXPECT_EQ(event->GetParentalRating(2, country), 0);

    const ICSIDataContent* data = event->GetDataContent(0);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->GetSelectorLanguageCount(), 1);
    EXPECT_EQ(data->GetSelectorLanguageTag(0), 1);
    EXPECT_EQ(data->GetSelectorDMF(0), 1);
    ASSERT_NE(data->GetSelectorLanguageCode(0), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->GetSelectorLanguageCode(0)), 3),
              "jpn");
    EXPECT_EQ(data->GetSelectorLanguageCode(1), nullptr);
    EXPECT_EQ(data->GetComponentRefCount(), 1);
    EXPECT_EQ(Utf8(data->GetText()), "字幕");

    ASSERT_EQ(event->GetHyperlinkCount(), 1);
    EXPECT_EQ(event->GetHyperlink(0)->GetSelectorLength(), 3);
    EXPECT_EQ(event->GetHyperlink(0)->GetPrivateDataLength(), 1);
    ASSERT_NE(event->GetLDTLink(), nullptr);
    EXPECT_EQ(event->GetLDTLink()->GetDescriptionCount(), 1);
    EXPECT_EQ(event->GetLDTLink()->GetDescriptionType(0), 3);

    ASSERT_EQ(event->GetComponentGroupCount(), 2);
    EXPECT_EQ(event->GetComponentGroup(0)->GetTotalBitRate(), 0x10 * 4);
    EXPECT_EQ(Utf8(event->GetComponentGroup(1)->GetText()), "副");
    ASSERT_NE(event->GetDigitalCopyControl(), nullptr);
    EXPECT_EQ(event->GetDigitalCopyControl()->GetCopyControlType(), 2);
}

TEST_F(Eit, ExtendedItemsContinueAcrossDescriptorsAndCharactersComeOutWhole) {
    const Bytes performer = Text(u"山田太郎と鈴木花子");
    ASSERT_GT(performer.size(), 5u);
    const Bytes head(performer.begin(), performer.begin() + 3);  // ends inside a character
    const Bytes tail(performer.begin() + 3, performer.end());
    Send(EitSection(0x50, 0, 0, 0, 0, {Event(5, 5, ShortEvent(u"劇", u""))}));
    Send(EitSection(
        0x58, 0, 0, 0, 0,
        {Event(5, 5,
               Concat({ExtendedEvent(0, 2, {{Text(u"出演"), head}}),
                       Concat({ExtendedEvent(1, 2, {{{}, tail}, {Text(u"音楽"), Text(u"某")}},
                                             Text(u"補足")),
                               ExtendedEvent(2, 2, {}, Text(u"注記"))})}))}));
    const ICSIEvent* event = Service()->FindEvent(5, false);
    ASSERT_NE(event, nullptr);
    ASSERT_EQ(event->GetExtEventCount(), 3);
    EXPECT_EQ(Utf8(event->GetExtEvent(0)->GetItemDescription()), "出演");
    EXPECT_EQ(Utf8(event->GetExtEvent(0)->GetItemText()), "山田太郎と鈴木花子");
    EXPECT_EQ(Utf8(event->GetExtEvent(1)->GetItemText()), "某");
    EXPECT_EQ(Utf8(event->GetExtEvent(1)->GetText()), "補足");
    EXPECT_EQ(Utf8(event->GetExtEvent(2)->GetItemDescription()), "");
    EXPECT_EQ(Utf8(event->GetExtEvent(2)->GetText()), "注記");
}

TEST_F(Eit, ATruncatedDescriptorLoopDropsTheEventAndTheSectionIsParsedAgain) {
    analyzer.SetNotifyFlags(si::kEventEventStored.bit);
    ByteWriter body;
    body.U16(kTsid).U16(kOnid).U8(0).U8(0x50);
    body.U16(9);
    WriteAribTime(body, CivilTime{2026, 4, 1, 9, 0, 0});
    body.U24(0x003000);
    const Bytes shortEvent = ShortEvent(u"途中", u"");
    body.U16(0xF000 | (shortEvent.size() + 1)).Append(shortEvent).U8(0x54);  // a lone tag
    Send(BuildSection({0x50, kService, 0, 0, 0, true}, body.Data()));
    ASSERT_NE(Service(), nullptr);
    EXPECT_EQ(Service()->FindEvent(9, false), nullptr);
    EXPECT_EQ(analyzer.CountOf(si::kEventEventStored.code), 0u);
    Send(EitSection(0x50, 0, 0, 0, 0, {Event(9, 9, ShortEvent(u"完全", u""))}));
    ASSERT_NE(Service()->FindEvent(9, false), nullptr);
    EXPECT_EQ(Utf8(Service()->FindEvent(9, false)->GetEventName()), "完全");
    EXPECT_EQ(analyzer.CountOf(si::kEventEventStored.code), 1u);
}

TEST_F(Eit, AResetDropsPresentFollowingAndKeepsScheduleEventsForReacquisition) {
    analyzer.SetNotifyFlags(si::kEventEITBasicSegment.bit);
    Send(EitSection(0x4E, 0, 0, 1, 0, {Event(1, 12, ShortEvent(u"今", u""))}));
    Send(EitSection(0x50, 0, 0, 0, 0, {Event(2, 13, ShortEvent(u"予定", u""))}));
    ASSERT_EQ(analyzer.CountOf(si::kEventEITBasicSegment.code), 2u);
    analyzer.ResetSI();
    ICSIEIT* eit = Service();
    EXPECT_EQ(eit->FindTable(si::kTableEITPresentFollowing), nullptr);
    EXPECT_EQ(eit->GetPresentEventID(), 0);
    const ICSIEITSegment* segment = eit->FindTable(0x50)->GetSegment(0);
    EXPECT_FALSE(segment->IsComplete());
    EXPECT_EQ(segment->GetEventCount(), 1);
    Send(EitSection(0x50, 0, 0, 0, 0, {Event(2, 13, ShortEvent(u"予定", u""))}));
    EXPECT_TRUE(segment->IsComplete());
    EXPECT_EQ(analyzer.CountOf(si::kEventEITBasicSegment.code), 3u);
}

TEST(EitStartTime, StartTimesAreReadAndGivenAsTimeValues) {
    TestAnalyzer analyzer;
    analyzer.FeedSection(0x12, EitSection(0x50, 0, 0, 0, 0,
                                          {{1, 2026, 4, 1, 23, 30, 15, 0x003000, {}},
                                           {2, 2026, 4, 2, 0, 0, 15, 0x003000, {}}}));
    const ICSIEIT* eit = analyzer.GetSIList()->FindEIT(0, kTsid, kService);
    ASSERT_NE(eit, nullptr);
    const ICSIEvent* first = eit->FindEvent(1, false);
    uint16_t year = 0;
    uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    EXPECT_EQ(first->GetStartTime(&year, &month, &day, &hour, &minute, &second), 1);
    EXPECT_EQ(year, 2026);
    EXPECT_EQ(month, 4);
    EXPECT_EQ(day, 1);
    EXPECT_EQ(hour, 23);
    EXPECT_EQ(minute, 30);
    EXPECT_EQ(second, 15);
    EXPECT_EQ(first->GetStartTimeValue() + 1800, eit->FindEvent(2, false)->GetStartTimeValue());
}

}  // namespace
}  // namespace sitest
