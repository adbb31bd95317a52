#include <gtest/gtest.h>

#include "core/CRC16.h"

#include <set>

#include "tools/isdbsim/CaptionBuilder.h"
#include "tools/isdbsim/Descriptors.h"
#include "tools/isdbsim/EpgGenerator.h"
#include "tools/isdbsim/StreamKit.h"
#include "tools/isdbsim/tests/StreamDemux.h"

namespace isdbsim {
namespace {

TEST(IsdbsimEpg, EveryDayIsFilledWithProgrammesOfFifteenToHundredTwentyMinutes) {
    const ServiceInfo& service = TuningSpaces()[0].channels[0].services[0];
    const JstTime first = DayStart(*ParseJstTime("2026-04-01 00:00:00"));
    const auto events = EventsBetween(service, 7, first, first + 8 * kSecondsPerDay);
    std::set<uint16_t> ids;
    JstTime expected = first;
    for (const ProgramEvent& event : events) {
        EXPECT_EQ(event.start, expected);
        EXPECT_GE(event.duration, 15 * 60);
        EXPECT_LE(event.duration, 120 * 60);
        EXPECT_FALSE(event.title.empty());
        EXPECT_TRUE(ids.insert(event.eventId).second) << "event_id repeated";
        expected = event.start + event.duration;
    }
    EXPECT_EQ(expected, first + 8 * kSecondsPerDay);
    // The same seed gives the same guide; another seed another one.
    const auto again = EventsBetween(service, 7, first, first + kSecondsPerDay);
    const auto other = EventsBetween(service, 8, first, first + kSecondsPerDay);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[3].title, events[3].title);
    bool differs = other.size() != again.size();
    for (size_t i = 0; !differs && i < again.size(); ++i) {
        differs = other[i].title != again[i].title || other[i].duration != again[i].duration;
    }
    EXPECT_TRUE(differs);
}

TEST(IsdbsimEpg, OneSegmentServiceRepeatsItsMainServiceAsEventGroup) {
    const auto& services = TuningSpaces()[0].channels[0].services;
    const ServiceInfo& main = services[0];
    const ServiceInfo& oneSeg = services.back();
    ASSERT_EQ(oneSeg.kind, ServiceKind::OneSeg);
    const JstTime day = DayStart(*ParseJstTime("2026-04-01 00:00:00"));
    const auto mainEvents = EventsOfDay(main, 1, DayOf(day));
    const auto oneSegEvents = EventsOfDay(oneSeg, 1, DayOf(day));
    ASSERT_EQ(mainEvents.size(), oneSegEvents.size());
    EXPECT_EQ(oneSegEvents[0].eventId, mainEvents[0].eventId);
    EXPECT_TRUE(oneSegEvents[0].simulcast);
    EXPECT_EQ(oneSegEvents[0].simulcastServiceId, main.serviceId);
}

TEST(IsdbsimCaptions, DataGroupCrcIsCrc16WithPolynomial1021) {
    const Bytes check{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(CalcCRC16(check.data(), check.size()), 0x31C3);
    // A data group including its CRC_16 checks to 0.
    const Bytes group = WrapDataGroup(0x01, Bytes{0x3F, 0x00, 0x00, 0x00});
    EXPECT_EQ(CalcCRC16(group.data() + 3, group.size() - 3), 0);
    EXPECT_EQ(group[3], 0x01 << 2);
    EXPECT_EQ(group[6] << 8 | group[7], 4);
}

TEST(IsdbsimDescriptors, ExtendedEventItemsAreSplitOverNumberedDescriptors) {
    std::vector<ExtendedItem> items;
    for (int i = 0; i < 6; ++i) {
        items.push_back({u"Item", std::u16string(100, u'a' + static_cast<char16_t>(i))});
    }
    ByteWriter out;
    ExtendedEventDescriptors(out, items);
    const Bytes& bytes = out.Data();
    size_t position = 0;
    int count = 0;
    int lastNumber = -1;
    while (position < bytes.size()) {
        ASSERT_EQ(bytes[position], 0x4E);
        const size_t length = bytes[position + 1];
        ASSERT_LE(position + 2 + length, bytes.size());
        EXPECT_EQ(bytes[position + 2] >> 4, count);
        lastNumber = bytes[position + 2] & 0x0F;
        position += 2 + length;
        ++count;
    }
    EXPECT_GT(count, 1);
    EXPECT_EQ(lastNumber, count - 1);
}

// The checking demultiplexer keeps every section of back-to-back packing: the one a packet
// finishes before its pointer_field's new start as well as those it starts.
TEST(IsdbsimDemux, KeepsTheSectionThatPointerFieldBytesComplete) {
    const std::vector<Bytes> sections = {BuildSection({0x42, 1, 0, 0, 2, true}, Bytes(90, 0x11)),
                                         BuildSection({0x42, 1, 0, 1, 2, true}, Bytes(200, 0x22)),
                                         BuildSection({0x42, 1, 0, 2, 2, true}, Bytes(40, 0x33))};
    TsPacketizer packetizer(0x11);
    std::vector<TsPacket> packets;
    packetizer.Sections(sections, packets);
    ASSERT_EQ(packets.size(), 2u);
    ASSERT_GT(packets[1][4], 0);  // the second packet finishes a section, then starts one

    const test::DemuxResult demux = test::Demux(Join(packets), {0x11}, {});
    EXPECT_EQ(demux.crcErrors, 0u);
    EXPECT_EQ(demux.continuityErrors, 0u);
    ASSERT_EQ(demux.sections.size(), 3u);
    for (size_t i = 0; i < sections.size(); ++i) {
        EXPECT_EQ(demux.sections[i].bytes, sections[i]) << "section " << i;
    }
    EXPECT_EQ(demux.sections[1].packetIndex, 1u);
}

}  // namespace
}  // namespace isdbsim
