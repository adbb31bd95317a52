#include <gtest/gtest.h>

#include <set>

#include "tools/isdbsim/StreamKit.h"
#include "tools/isdbsim/CaptionBuilder.h"
#include "tools/isdbsim/Descriptors.h"
#include "tools/isdbsim/EpgGenerator.h"

namespace isdbsim {
namespace {

TEST(IsdbsimTime, ParsesJstTimesAndRejectsImpossibleOnes) {
    const auto time = ParseJstTime("2026-04-01 12:00:00");
    ASSERT_TRUE(time.has_value());
    EXPECT_EQ(FormatJstTime(*time), "2026-04-01 12:00:00");
    EXPECT_EQ(MjdOf(*time), 61131);  // ARIB STD-B10 Annex C: MJD of 2026-04-01
    EXPECT_EQ(FormatJstTime(*ParseJstTime("2028-02-29 23:59:59") + 1), "2028-03-01 00:00:00");
    EXPECT_FALSE(ParseJstTime("2026-02-30 00:00:00").has_value());
    EXPECT_FALSE(ParseJstTime("2026-04-01 24:00:00").has_value());
    EXPECT_FALSE(ParseJstTime("2026-04-01").has_value());
    EXPECT_FALSE(ParseJstTime("2026-04-01 12:00:00x").has_value());
}

TEST(IsdbsimTime, WritesAribTimeAsMjdAndBcd) {
    ByteWriter out;
    WriteAribTime(out, *ParseJstTime("2026-04-01 09:45:30"));
    WriteBcdDuration(out, 5400);
    EXPECT_EQ(out.Data(), (Bytes{0xEE, 0xCB, 0x09, 0x45, 0x30, 0x01, 0x30, 0x00}));
}

// Reassembles the PES payload from packets and checks the packet structure on the way.
Bytes Reassemble(const std::vector<TsPacket>& packets, int& firstCounter) {
    Bytes data;
    int counter = -1;
    for (const TsPacket& p : packets) {
        EXPECT_EQ(p[0], 0x47);
        const int control = p[3] >> 4 & 3;
        EXPECT_TRUE(control & 1);
        const int cc = p[3] & 0x0F;
        if (counter >= 0) {
            EXPECT_EQ(cc, (counter + 1) & 0x0F);
        } else {
            firstCounter = cc;
        }
        counter = cc;
        size_t position = 4;
        if (control & 2) {
            EXPECT_LE(p[4], 183);
            position += 1 + p[4];
        }
        data.insert(data.end(), p.begin() + static_cast<ptrdiff_t>(position), p.end());
    }
    return data;
}

TEST(IsdbsimPacketizer, PesOfEverySizeFillsPacketsExactly) {
    TsPacketizer packetizer(0x100);
    for (size_t size = 1; size <= 600; ++size) {
        Bytes pes(size);
        for (size_t i = 0; i < size; ++i) {
            pes[i] = static_cast<uint8_t>(i * 7 + size);
        }
        for (bool flags : {false, true}) {
            std::vector<TsPacket> packets;
            packetizer.Pes(pes, packets, flags,
                           flags ? std::optional<uint64_t>(123456789) : std::nullopt);
            int first = 0;
            ASSERT_EQ(Reassemble(packets, first), pes) << "size " << size;
            EXPECT_TRUE(packets[0][1] & 0x40);
            if (flags) {
                EXPECT_EQ(packets[0][5] & 0x50, 0x50);  // random access and PCR flags
            }
        }
    }
}

TEST(IsdbsimPacketizer, SectionsStartPacketsAndEndInStuffing) {
    TsPacketizer packetizer(0x12);
    for (size_t size : {3u, 183u, 184u, 185u, 367u, 368u, 4096u}) {
        Bytes section(size, 0x5A);
        std::vector<TsPacket> packets;
        packetizer.Section(section, packets);
        int first = 0;
        const Bytes data = Reassemble(packets, first);
        ASSERT_GE(data.size(), size + 1);
        EXPECT_EQ(data[0], 0);  // pointer_field
        EXPECT_TRUE(std::equal(section.begin(), section.end(), data.begin() + 1));
        EXPECT_TRUE(std::all_of(data.begin() + 1 + static_cast<ptrdiff_t>(size), data.end(),
                                [](uint8_t b) { return b == 0xFF; }));
        EXPECT_EQ(packets.size(), (size + 1 + 183) / 184);
    }
}

TEST(IsdbsimPacketizer, PcrPacketsCarryBaseAndExtension) {
    TsPacketizer packetizer(0x1FF);
    const uint64_t pcr = (uint64_t{1} << 32) * 300 + 299;
    const TsPacket p = packetizer.PcrOnly(pcr);
    EXPECT_EQ(p[3] >> 4, 2);
    EXPECT_EQ(p[4], 183);
    const uint64_t base = uint64_t{p[6]} << 25 | uint64_t{p[7]} << 17 | uint64_t{p[8]} << 9 |
                          uint64_t{p[9]} << 1 | p[10] >> 7;
    EXPECT_EQ(base * 300 + ((p[10] & 1) << 8 | p[11]), pcr);
}

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
    EXPECT_EQ(CaptionCrc16(check.data(), check.size()), 0x31C3);
    // A data group including its CRC_16 checks to 0.
    const Bytes group = WrapDataGroup(0x01, Bytes{0x3F, 0x00, 0x00, 0x00});
    EXPECT_EQ(CaptionCrc16(group.data() + 3, group.size() - 3), 0);
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

}  // namespace
}  // namespace isdbsim
