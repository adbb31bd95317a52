// The EPG store's index and event operations, and events merged from EIT sections fed through
// the analyzer core.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/stores/CEpgStore.h"
#include "sianalyzer/ICSIEIT.h"
#include "sianalyzer/ICSIList.h"
#include "sianalyzer/ICSITime.h"
#include "sianalyzer/tests/SiTestSupport.h"
#include "tools/isdbsim/Descriptors.h"

namespace {

using sitest::Bytes;
using sitest::ByteWriter;

TimeValue At(int month, int day, int hour, int minute = 0) {
    return sitime::ToValue(ICSIDateTime{2026, static_cast<uint8_t>(month),
                                        static_cast<uint8_t>(day), 0, static_cast<uint8_t>(hour),
                                        static_cast<uint8_t>(minute), 0});
}

class EpgStore : public ::testing::Test {
protected:
    CChannelInfo* AddChannel(int32_t type, uint32_t tsid, uint32_t sid, int32_t number = 1) {
        auto* channel = new CChannelInfo(store.SpaceOfType(type));
        channel->transportStreamId = tsid;
        channel->serviceId = sid;
        channel->channelNumber = number;
        CEpgStore::InsertChannelByNumber(*store.SpaceOfType(type), channel);
        return channel;
    }
    CEventInfo* AddEvent(CChannelInfo& channel, uint16_t id, TimeValue start, int32_t duration) {
        auto* event = new CEventInfo(&channel, id);
        event->startTime = start;
        event->duration = duration;
        store.InsertEvent(channel, event);
        return event;
    }
    static std::vector<uint16_t> Ids(const CChannelInfo& channel) {
        std::vector<uint16_t> ids;
        for (const CEventInfo* event : channel.events) {
            ids.push_back(event->eventId);
        }
        return ids;
    }

    TimeValue now = At(12, 8, 20);
    CEpgStore store{[this] { return now; }};
};

TEST_F(EpgStore, RebuildIndexesServicesByKindAndNumberFirstOneWins) {
    COwnedList<CTuner> tuners;
    const struct {
        int32_t spaceType;
        const char16_t* name;
        int32_t number;
    } services[] = {
        {CTuningSpace::kTerrestrial, u"T3", 3}, {CTuningSpace::kCable, u"C1", 1},
        {CTuningSpace::kVHF, u"V3", 3},         {CTuningSpace::kBS, u"B101", 101},
        {CTuningSpace::kBS, u"B5", 5},          {CTuningSpace::kCS, u"S55", 55},
        {CTuningSpace::kOther, u"O2", 2},
    };
    for (int copy = 0; copy < 2; ++copy) {
        auto* tuner = tuners.Add(new CTuner);
        for (const auto& service : services) {
            auto* space = tuner->tuningSpaces.Add(new CTuningSpace(tuner));
            space->type = service.spaceType;
            auto* channel = space->channels.Add(new CChannelInfo(space));
            channel->name = copy == 0 ? service.name : u"later";
            channel->channelNumber = service.number;
            channel->serviceId = static_cast<uint32_t>(service.number);
        }
    }
    AddEvent(*AddChannel(CTuningSpace::kBS, 1, 1), 1, At(12, 8, 1), 60);
    store.RebuildEpgIndex(tuners);

    const struct {
        int32_t type;
        const char16_t* spaceName;
        std::vector<std::u16string> names;
    } expected[] = {
        {CTuningSpace::kTerrestrial, u"UHF", {u"C1", u"O2", u"T3"}},
        {CTuningSpace::kBS, u"BS", {u"B5", u"B101"}},
        {CTuningSpace::kCS, u"CS", {u"S55"}},
    };
    ASSERT_EQ(store.EpgTuner().tuningSpaces.GetCount(), 3);
    for (const auto& space : expected) {
        const CTuningSpace* epgSpace = store.SpaceOfType(space.type);
        ASSERT_NE(epgSpace, nullptr);
        EXPECT_EQ(epgSpace->name.GetView(), space.spaceName);
        std::vector<std::u16string> names;
        for (const CChannelInfo* channel : epgSpace->physicalChannels) {
            names.emplace_back(channel->name.GetView());
            EXPECT_EQ(channel->logoId, CChannelInfo::kNoLogo);
            EXPECT_TRUE(channel->events.GetCount() == 0);
        }
        EXPECT_EQ(names, space.names);
    }
}

TEST_F(EpgStore, AnEventAtTheSameStartReplacesTheOldKeepingTheReservationOnlyForTheSameId) {
    auto* reservation = reinterpret_cast<CRecSchedule*>(0x1000);
    for (const uint16_t newId : {uint16_t(7), uint16_t(8)}) {
        CEpgStore local{[this] { return now; }};
        auto* channel = new CChannelInfo(local.SpaceOfType(0));
        local.SpaceOfType(0)->physicalChannels.Add(channel);
        auto* old = new CEventInfo(channel, 7);
        old->startTime = At(12, 8, 19);
        old->duration = 7200;
        old->reservation = reservation;
        local.InsertEvent(*channel, old);
        ASSERT_EQ(local.UpdateCurrentEvent(*channel), old);

        auto* replacement = new CEventInfo(channel, newId);
        replacement->startTime = At(12, 8, 19);
        replacement->duration = 7200;
        local.InsertEvent(*channel, replacement);
        ASSERT_EQ(channel->events.GetCount(), 1);
        EXPECT_EQ(channel->events.First(), replacement);
        EXPECT_EQ(replacement->reservation, newId == 7 ? reservation : nullptr);
        // The channel's current event never points at the destroyed one.
        EXPECT_EQ(channel->currentEvent, replacement);
    }
}

TEST_F(EpgStore, EventsStayInStartOrderWhateverOrderTheyArrive) {
    CChannelInfo& channel = *AddChannel(0, 1, 1);
    const int hours[] = {9, 6, 12, 7, 23, 0};
    for (int hour : hours) {
        AddEvent(channel, static_cast<uint16_t>(hour), At(12, 8, hour), 1800);
    }
    EXPECT_EQ(Ids(channel), (std::vector<uint16_t>{0, 6, 7, 9, 12, 23}));
}

TEST_F(EpgStore, AnUndeterminedDurationEndsWhereTheNextEventStarts) {
    CChannelInfo& channel = *AddChannel(0, 1, 1);
    CEventInfo* open = AddEvent(channel, 1, At(12, 8, 19), -1);
    CEventInfo* next = AddEvent(channel, 2, At(12, 8, 21), 3600);
    const struct {
        TimeValue time;
        CEventInfo* expected;
    } cases[] = {
        {At(12, 8, 18, 59), nullptr}, {At(12, 8, 19), open},     {At(12, 8, 20, 59), open},
        {At(12, 8, 21), next},        {At(12, 8, 21, 59), next}, {At(12, 8, 22), nullptr},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(store.FindEventAt(channel, test.time), test.expected);
        now = test.time;
        EXPECT_EQ(store.UpdateCurrentEvent(channel), test.expected);
    }

    store.ExpireEvents(At(12, 8, 21));  // `open` ended at 21:00, not before
    EXPECT_EQ(channel.events.GetCount(), 2);
    store.ExpireEvents(At(12, 8, 21, 1));
    EXPECT_EQ(Ids(channel), std::vector<uint16_t>{2});

    // A last event of undetermined length covers everything after its start and never expires.
    CEventInfo* last = AddEvent(channel, 3, At(12, 8, 23), -1);
    EXPECT_EQ(store.FindEventAt(channel, At(12, 31, 0)), last);
    now = At(12, 9, 12);
    EXPECT_EQ(store.UpdateCurrentEvent(channel), nullptr);
    store.ExpireEvents(At(12, 31, 0));
    EXPECT_EQ(Ids(channel), std::vector<uint16_t>{3});
}

TEST_F(EpgStore, ExpiryOnTheEighthOfDecemberRemovesWhatEndedBeforeTheFirst) {
    CChannelInfo& channel = *AddChannel(CTuningSpace::kCS, 1, 1);
    AddEvent(channel, 1, At(11, 30, 22), 3599);      // ends 22:59:59 on 30 November
    AddEvent(channel, 2, At(11, 30, 23), -1);        // ends with the next start, 23:30
    AddEvent(channel, 3, At(11, 30, 23, 30), 1800);  // ends exactly at 1 December 00:00
    AddEvent(channel, 4, At(12, 1, 0), 1800);
    for (int hour : {0, 13, 23}) {
        const TimeValue today = At(12, 8, 0);
        ASSERT_EQ(At(12, 8, hour) - At(12, 8, hour) % 86400, today);
        store.ExpireEvents(today - 604800);
    }
    EXPECT_EQ(Ids(channel), (std::vector<uint16_t>{3, 4}));
}

TEST_F(EpgStore, ARemovedCurrentEventGivesWayToTheNextCurrentOne) {
    CChannelInfo& channel = *AddChannel(0, 1, 1);
    CEventInfo* first = AddEvent(channel, 1, At(12, 8, 19), 7200);
    CEventInfo* second = AddEvent(channel, 2, At(12, 8, 20), 3600);
    ASSERT_EQ(store.UpdateCurrentEvent(channel), first);
    store.RemoveEvent(channel, first);
    EXPECT_EQ(channel.currentEvent, second);
}

TEST_F(EpgStore, ASegmentRemovesTheEventsOfItsWindowThatItNoLongerLists) {
    CChannelInfo& channel = *AddChannel(0, 1, 1);
    AddEvent(channel, 1, At(12, 8, 5), 3600);
    CEventInfo* six = AddEvent(channel, 2, At(12, 8, 6), 5400);
    AddEvent(channel, 3, At(12, 8, 7, 30), 5400);  // vanished from the segment
    CEventInfo* nine = AddEvent(channel, 4, At(12, 8, 9), 3600);
    six->seen = true;
    nine->seen = true;

    // Not a schedule table of the actual stream, or nothing merged: nothing happens.
    store.ReconcileSegment(channel, 0x4E, 16, At(12, 8, 6));
    store.ReconcileSegment(channel, 0x60, 16, At(12, 8, 6));
    store.ReconcileSegment(channel, 0x50, 16, CEpgStore::kNothingMerged);
    EXPECT_EQ(channel.events.GetCount(), 4);

    // Sections 16-23: the third segment of the day, 06:00-09:00.
    store.ReconcileSegment(channel, 0x50, 16, At(12, 8, 6));
    EXPECT_EQ(Ids(channel), (std::vector<uint16_t>{1, 2, 4}));
    EXPECT_FALSE(six->seen);
    EXPECT_TRUE(nine->seen);
}

TEST_F(EpgStore, ChannelsAreFoundFromTheLastSpaceAndEventsById) {
    CChannelInfo* terrestrial = AddChannel(CTuningSpace::kTerrestrial, 0x10, 0x20);
    CChannelInfo* cs = AddChannel(CTuningSpace::kCS, 0x10, 0x20);
    AddChannel(CTuningSpace::kBS, 0x10, 0x21);
    AddEvent(*terrestrial, 5, At(12, 8, 1), 60);
    CEventInfo* event = AddEvent(*cs, 5, At(12, 8, 2), 60);
    EXPECT_EQ(store.FindEpgChannel(0x10, 0x20), cs);
    EXPECT_EQ(store.FindEpgChannel(0x11, 0x20), nullptr);
    EXPECT_EQ(store.FindEpgEvent(0x10, 0x20, 5), event);
    EXPECT_EQ(store.FindEpgEvent(0x10, 0x20, 6), nullptr);
    EXPECT_EQ(store.FindEpgEvent(0x10, 0x22, 5), nullptr);
}

// Events merged from EIT sections as a satellite multiplex sends them.
class EpgMerge : public EpgStore {
protected:
    static constexpr uint16_t kOnid = 4;
    static constexpr uint16_t kTsid = 0x4010;
    static constexpr uint16_t kMain = 101;
    static constexpr uint16_t kSub = 102;

    struct Event {
        uint16_t id;
        int hour;
        Bytes descriptors;
    };
    void Send(uint8_t tableId, uint16_t serviceId, uint8_t section,
              const std::vector<Event>& events, uint8_t version = 1) {
        std::vector<sitest::EventEntry> entries;
        for (const Event& e : events) {
            entries.push_back({e.id, 2026, 12, 8, e.hour, 0, 0, 0x010000, e.descriptors});
        }
        const uint8_t last = tableId == 0x4E ? 1 : section;
        analyzer.FeedSection(0x12, streamkit::BuildSection(
                                       {tableId, serviceId, version, section, last, true},
                                       sitest::EitBody(kTsid, kOnid, section, tableId, entries)));
    }
    // Merges the events of one segment into the service's channel, as an EIT update does.
    void Merge(uint16_t serviceId, uint8_t tableId, uint8_t section) {
        const ICSIEIT* eit = analyzer.GetSIList()->FindEIT(kOnid, kTsid, serviceId);
        ASSERT_NE(eit, nullptr);
        const ICSIEITTable* table = eit->FindTable(tableId);
        ASSERT_NE(table, nullptr);
        const ICSIEITSegment* segment = table->FindSegment(section);
        ASSERT_NE(segment, nullptr);
        CChannelInfo* channel = store.FindEpgChannel(kTsid, serviceId);
        ASSERT_NE(channel, nullptr);
        TimeValue earliest = CEpgStore::kNothingMerged;
        for (int32_t i = 0; i < segment->GetEventCount(); ++i) {
            earliest =
                std::min(earliest, store.MergeEvent(*channel, *segment->GetEvent(i))->startTime);
        }
        store.ReconcileSegment(*channel, tableId, section, earliest);
    }
    static Bytes Full(std::u16string_view title, std::u16string_view text, uint16_t genre) {
        ByteWriter out;
        isdbsim::ShortEventDescriptor(out, title, text);
        isdbsim::ComponentDescriptor(out, 0x01, 0xB3, 0x00, u"");
        isdbsim::AudioComponentDescriptor(out, 0x10, 0x03, 7, u"");
        isdbsim::ContentDescriptor(out, {genre});
        return out.Take();
    }
    static Bytes SharedReference(uint16_t serviceId, uint16_t eventId) {
        ByteWriter out;
        isdbsim::EventGroupDescriptor(out, 1, {{serviceId, eventId}});
        return out.Take();
    }

    void SetUp() override {
        AddChannel(CTuningSpace::kBS, kTsid, kMain, 101);
        AddChannel(CTuningSpace::kBS, kTsid, kSub, 102);
    }

    sitest::TestAnalyzer analyzer;
};

TEST_F(EpgMerge, AnEventCopiesItsFieldsAndKeepsItsPlaceWhenUpdated) {
    Send(0x50, kMain, 0, {{0x10, 1, Full(u"名曲～アルバム", u"第1回～", 0x0100)}, {0x11, 2, {}}});
    Merge(kMain, 0x50, 0);
    CChannelInfo& channel = *store.FindEpgChannel(kTsid, kMain);
    ASSERT_EQ(Ids(channel), (std::vector<uint16_t>{0x10, 0x11}));
    const CEventInfo& event = *channel.events.First();
    EXPECT_EQ(event.title.GetView(), u"名曲〜アルバム");
    EXPECT_EQ(event.text.GetView(), u"第1回〜");
    EXPECT_EQ(event.tableId, 0x50);
    EXPECT_EQ(event.startTime, At(12, 8, 1));
    EXPECT_EQ(event.duration, 3600);
    EXPECT_EQ(event.videoType, 0xB3);
    EXPECT_EQ(event.audioType, 0x03);
    EXPECT_EQ(event.genreCount, 1);
    EXPECT_EQ(event.genres[0], 0x0100);
    EXPECT_EQ(event.genres[1], 0xFFFF);
    EXPECT_FALSE(event.seen);  // cleared by the reconciliation
    const CEventInfo& bare = *channel.events.Last();
    EXPECT_EQ(bare.videoType, CEventInfo::kNoComponent);
    EXPECT_EQ(bare.genreCount, 0);

    // A later version moves 0x10 to 03:00: updated in place, not re-sorted or duplicated.
    Send(0x50, kMain, 0, {{0x10, 3, Full(u"名曲", u"", 0x0200)}, {0x11, 2, {}}}, 2);
    Merge(kMain, 0x50, 0);
    ASSERT_EQ(Ids(channel), (std::vector<uint16_t>{0x10, 0x11}));
    EXPECT_EQ(channel.events.First()->startTime, At(12, 8, 3));
    EXPECT_EQ(channel.events.First()->genres[0], 0x0200);
}

TEST_F(EpgMerge, ASharedEventReferenceTakesTheDescriptionOfTheEventItNames) {
    ByteWriter groupedFull;
    groupedFull.Append(Full(u"ドラマ", u"最終回", 0x0300));
    isdbsim::EventGroupDescriptor(groupedFull, 1, {{kSub, 0x20}});
    // The main service sends the event in full; the subchannel names it.
    Send(0x50, kMain, 0, {{0x10, 1, groupedFull.Take()}});
    Send(0x50, kSub, 0, {{0x20, 1, SharedReference(kMain, 0x10)}});
    Merge(kMain, 0x50, 0);
    Merge(kSub, 0x50, 0);
    const CEventInfo* shared = store.FindEpgEvent(kTsid, kSub, 0x20);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->title.GetView(), u"ドラマ");
    EXPECT_EQ(shared->text.GetView(), u"最終回");
    EXPECT_EQ(shared->genreCount, 1);
    EXPECT_EQ(shared->genres[0], 0x0300);
    ASSERT_EQ(shared->groups.GetCount(), 1);
    EXPECT_EQ(shared->groups.First()->groupType, 1);
    EXPECT_EQ(shared->groups.First()->serviceIds, std::vector<uint16_t>{kMain});
    EXPECT_EQ(shared->groups.First()->eventIds, std::vector<uint16_t>{0x10});
}

TEST_F(EpgMerge, AReferenceWithoutTitleKeepsTheFullDescriptionAlreadyHeld) {
    // The present/following table carries the subchannel's event in full; the schedule then
    // repeats it as a bare reference to a main event the store does not hold.
    ByteWriter full;
    full.Append(Full(u"映画", u"字幕版", 0x0600));
    isdbsim::EventGroupDescriptor(full, 1, {{kMain, 0x99}});
    Send(0x4E, kSub, 0, {{0x20, 1, full.Take()}});
    Merge(kSub, 0x4E, 0);
    Send(0x50, kSub, 0, {{0x20, 1, SharedReference(kMain, 0x99)}});
    Merge(kSub, 0x50, 0);
    const CEventInfo* event = store.FindEpgEvent(kTsid, kSub, 0x20);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->title.GetView(), u"映画");
    EXPECT_EQ(event->text.GetView(), u"字幕版");
    EXPECT_EQ(event->genres[0], 0x0600);
    EXPECT_EQ(event->tableId, 0x50);
}

}  // namespace
