#include <gtest/gtest.h>

#include <algorithm>

#include "core/CRC32.h"
#include "tools/streamkit/AribTime.h"
#include "tools/streamkit/ByteWriter.h"
#include "tools/streamkit/PsiSection.h"
#include "tools/streamkit/TsPacketizer.h"

namespace streamkit {
namespace {

// --- times

TEST(StreamKitTime, ParsesJstTimesAndRejectsImpossibleOnes) {
    const auto time = ParseJstTime("2026-04-01 12:00:00");
    ASSERT_TRUE(time.has_value());
    EXPECT_EQ(FormatJstTime(*time), "2026-04-01 12:00:00");
    EXPECT_EQ(FormatJstTime(*ParseJstTime("2028-02-29 23:59:59") + 1), "2028-03-01 00:00:00");
    EXPECT_FALSE(ParseJstTime("2026-02-30 00:00:00").has_value());
    EXPECT_FALSE(ParseJstTime("2026-04-01 24:00:00").has_value());
    EXPECT_FALSE(ParseJstTime("2026-04-01").has_value());
    EXPECT_FALSE(ParseJstTime("2026-04-01 12:00:00x").has_value());
}

TEST(StreamKitTime, MjdAndBcdOfKnownDates) {
    EXPECT_EQ(MjdOf(1970, 1, 1), 40587);
    EXPECT_EQ(MjdOf(1993, 10, 13), 0xC079);  // the worked example of the ARIB time field
    EXPECT_EQ(MjdOf(2026, 4, 1), 61131);
    EXPECT_EQ(MjdOf(2000, 2, 29) + 1, MjdOf(2000, 3, 1));  // a leap day of a 400-year rule
    EXPECT_EQ(MjdOf(*ParseJstTime("2026-04-01 23:59:59")), 61131);
    EXPECT_EQ(ToBcd(0), 0x00);
    EXPECT_EQ(ToBcd(9), 0x09);
    EXPECT_EQ(ToBcd(45), 0x45);
    EXPECT_EQ(ToBcd(59), 0x59);
}

TEST(StreamKitTime, WritesAndReadsAribTimeAsMjdAndBcd) {
    ByteWriter out;
    const JstTime time = *ParseJstTime("2026-04-01 09:45:30");
    WriteAribTime(out, time);
    WriteBcdDuration(out, 5400);
    WriteAribTime(out, CivilTime{1993, 10, 13, 12, 45, 0});
    EXPECT_EQ(out.Data(), (Bytes{0xEE, 0xCB, 0x09, 0x45, 0x30, 0x01, 0x30, 0x00, 0xC0, 0x79, 0x12,
                                 0x45, 0x00}));
    EXPECT_EQ(ReadAribTime(out.Data().data()), time);
    EXPECT_EQ(ReadBcdDuration(out.Data().data() + 5), 5400);
}

// --- fields, descriptors and sections

TEST(StreamKitWriter, WritesBigEndianFieldsLengthsAndPatches) {
    ByteWriter out;
    out.U8(0x1FF).U16(0x1234).U24(0x56789A).U32(0xBCDEF012);
    out.Counted(Bytes{1, 2}).Loop(Bytes{3}, 0xA);
    out.U16(0xF000);
    out.Patch12(out.Size() - 2, 0x345);
    EXPECT_EQ(out.Data(), (Bytes{0xFF, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x02,
                                 1, 2, 0xA0, 0x01, 3, 0xF3, 0x45}));
    EXPECT_EQ(Descriptor(0x4D, Bytes{7, 8}), (Bytes{0x4D, 2, 7, 8}));
    // The length field has 8 bits: a longer body is cut to 255 bytes.
    EXPECT_EQ(Descriptor(0x4D, Bytes(300, 1)).size(), 257u);
    EXPECT_EQ(Concat({Bytes{1}, Bytes{2, 3}, NullPacket()}).size(), 3u + kTsPacketSize);
}

TEST(StreamKitSection, LongSectionCarriesHeaderAndKnownCrc) {
    // A PAT of transport stream 1 listing program 1 on PID 0x1000, as many muxers send it.
    const Bytes pat = BuildSection({0x00, 0x0001, 0, 0, 0, false}, Bytes{0x00, 0x01, 0xF0, 0x00});
    EXPECT_EQ(pat, (Bytes{0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xF0, 0x00,
                          0x2A, 0xB1, 0x04, 0xB2}));
    // An SI table sets the bit after section_syntax_indicator; version and numbers go where
    // they belong, and the CRC over the whole section comes to 0.
    const Bytes eit = BuildSection({0x4E, 0x0400, 0x15, 1, 2}, Bytes(20, 0x11));
    ASSERT_EQ(eit.size(), 3u + 5 + 20 + 4);
    EXPECT_EQ(eit[1], 0xF0);
    EXPECT_EQ(eit[2], 5 + 20 + 4);
    EXPECT_EQ(eit[5], 0xC0 | 0x15 << 1 | 1);
    EXPECT_EQ(eit[6], 1);
    EXPECT_EQ(eit[7], 2);
    EXPECT_EQ(CalcCRC32(eit.data(), eit.size()), 0u);
}

TEST(StreamKitSection, ShortSectionEndsInCrc) {
    const Bytes tot = BuildShortSection(0x73, Bytes{0xEE, 0xCB, 0x09, 0x45, 0x30, 0xF0, 0x00});
    ASSERT_EQ(tot.size(), 3u + 7 + 4);
    EXPECT_EQ(tot[1], 0x70);
    EXPECT_EQ(tot[2], 11);
    EXPECT_EQ(CalcCRC32(tot.data(), tot.size()), 0u);
}

// --- packets

// The payload bytes of packets (after any adaptation field), checking the packet structure
// and that the continuity counter steps by one from the first packet's.
Bytes Payloads(const std::vector<TsPacket>& packets, int& firstCounter) {
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

TEST(StreamKitPacketizer, PesOfEverySizeFillsPacketsExactly) {
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
            ASSERT_EQ(Payloads(packets, first), pes) << "size " << size;
            EXPECT_TRUE(packets[0][1] & 0x40);
            if (flags) {
                EXPECT_EQ(packets[0][5] & 0x50, 0x50);  // random access and PCR flags
            }
        }
    }
}

TEST(StreamKitPacketizer, SectionsStartPacketsAndEndInStuffing) {
    TsPacketizer packetizer(0x12);
    for (size_t size : {3u, 183u, 184u, 185u, 367u, 368u, 4096u}) {
        Bytes section(size, 0x5A);
        std::vector<TsPacket> packets;
        packetizer.Section(section, packets);
        int first = 0;
        const Bytes data = Payloads(packets, first);
        ASSERT_GE(data.size(), size + 1);
        EXPECT_EQ(data[0], 0);  // pointer_field
        EXPECT_TRUE(std::equal(section.begin(), section.end(), data.begin() + 1));
        EXPECT_TRUE(std::all_of(data.begin() + 1 + static_cast<ptrdiff_t>(size), data.end(),
                                [](uint8_t b) { return b == 0xFF; }));
        EXPECT_EQ(packets.size(), (size + 1 + 183) / 184);
        EXPECT_TRUE(packets[0][1] & 0x40);
        EXPECT_TRUE(std::none_of(packets.begin() + 1, packets.end(),
                                 [](const TsPacket& p) { return p[1] & 0x40; }));
    }
}

TEST(StreamKitPacketizer, ContinuityCounterRunsOnAcrossCallsAndWraps) {
    TsPacketizer packetizer(0x111, 14);
    std::vector<TsPacket> packets;
    packetizer.Section(Bytes(200, 1), packets);  // two packets: 14, 15
    packetizer.Pes(Bytes(10, 2), packets);       // 0
    const TsPacket pcr = packetizer.PcrOnly(0);  // adaptation only: keeps 1
    packetizer.Pes(Bytes(10, 3), packets);       // 1
    int first = 0;
    Payloads(packets, first);
    EXPECT_EQ(first, 14);
    EXPECT_EQ(pcr[3], 0x21);
    EXPECT_EQ(packetizer.Counter(), 2);
    for (const TsPacket& p : packets) {
        EXPECT_EQ((p[1] & 0x1F) << 8 | p[2], 0x111);
    }
}

TEST(StreamKitPacketizer, BackToBackSectionsAnnounceTheirStartWithPointerField) {
    // 100 + 200 + 50 bytes: the first packet holds the first section and starts the second;
    // the second packet finishes it (117 bytes) and starts the third, pointer_field 117.
    const std::vector<Bytes> sections = {Bytes(100, 0xA1), Bytes(200, 0xB2), Bytes(50, 0xC3)};
    TsPacketizer packetizer(0x12);
    std::vector<TsPacket> packets;
    packetizer.Sections(sections, packets);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_TRUE(packets[0][1] & 0x40);
    EXPECT_EQ(packets[0][4], 0);
    EXPECT_EQ(packets[0][5 + 99], 0xA1);
    EXPECT_EQ(packets[0][5 + 100], 0xB2);
    EXPECT_TRUE(packets[1][1] & 0x40);
    EXPECT_EQ(packets[1][4], 117);
    EXPECT_EQ(packets[1][5 + 116], 0xB2);
    EXPECT_EQ(packets[1][5 + 117], 0xC3);
    EXPECT_EQ(packets[1][5 + 117 + 49], 0xC3);
    EXPECT_EQ(packets[1][5 + 117 + 50], 0xFF);
    EXPECT_EQ(packets[1][3] & 0x0F, 1);

    // A section that would start at a packet's last byte, where no pointer_field announces it:
    // that packet ends a byte early and the section starts the next one.
    packets.clear();
    packetizer.Sections(std::vector<Bytes>{Bytes(183 + 183, 0xA1), Bytes(10, 0xB2)}, packets);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[1][1] & 0x40, 0);
    EXPECT_EQ(packets[1][3] >> 4, 3);
    EXPECT_EQ(packets[1][4], 0);  // a one-byte adaptation field
    EXPECT_TRUE(packets[2][1] & 0x40);
    EXPECT_EQ(packets[2][4], 0);
    EXPECT_EQ(packets[2][5], 0xB2);
}

TEST(StreamKitPacketizer, PcrFieldCarriesBaseAndExtension) {
    uint8_t field[6];
    // Base 0x1_2345_6789 (33 bits), extension 0x123.
    WritePcr(field, uint64_t{0x123456789} * 300 + 0x123);
    EXPECT_EQ(Bytes(field, field + 6), (Bytes{0x91, 0xA2, 0xB3, 0xC4, 0xFF, 0x23}));
    WritePcr(field, kPcrWrap + 5);  // wraps with the 33-bit base
    EXPECT_EQ(Bytes(field, field + 6), (Bytes{0, 0, 0, 0, 0x7E, 5}));

    const uint64_t pcr = (uint64_t{1} << 32) * 300 + 299;
    const TsPacket p = TsPacketizer(0x1FF).PcrOnly(pcr);
    EXPECT_EQ(p[3] >> 4, 2);
    EXPECT_EQ(p[4], 183);
    EXPECT_EQ(p[5], 0x10);
    const uint64_t base = uint64_t{p[6]} << 25 | uint64_t{p[7]} << 17 | uint64_t{p[8]} << 9 |
                          uint64_t{p[9]} << 1 | p[10] >> 7;
    EXPECT_EQ(base * 300 + ((p[10] & 1) << 8 | p[11]), pcr);
    EXPECT_TRUE(std::all_of(p.begin() + 12, p.end(), [](uint8_t b) { return b == 0xFF; }));

    const TsPacket jump = StuffedPacket({0x1FF, false, 3}, {}, {.discontinuity = true, .pcr = 0});
    EXPECT_EQ(jump[3], 0x23);
    EXPECT_EQ(jump[5], 0x90);
}

TEST(StreamKitPacketizer, StuffingFillsWhatThePayloadLeaves) {
    // Payload 184: no adaptation field; 183: the field is its length byte alone; less: the
    // flags byte and 0xFF stuffing up to the payload.
    const TsPacket full = StuffedPacket({0x30, true, 5}, Bytes(184, 1));
    EXPECT_EQ(full[3], 0x15);
    EXPECT_EQ(full[4], 1);
    const TsPacket one = StuffedPacket({0x30, false, 5}, Bytes(183, 1));
    EXPECT_EQ(one[3], 0x35);
    EXPECT_EQ(one[4], 0);
    EXPECT_EQ(one[5], 1);
    const TsPacket small = StuffedPacket({0x30, false, 5}, Bytes{9, 8});
    EXPECT_EQ(small[4], 181);
    EXPECT_EQ(small[5], 0x00);
    EXPECT_TRUE(
        std::all_of(small.begin() + 6, small.end() - 2, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(small[186], 9);
    EXPECT_EQ(small[187], 8);

    const TsPacket padded = PaddedPacket({0x30, true, 7}, Bytes{4, 5});
    EXPECT_EQ(padded[3], 0x17);
    EXPECT_EQ(padded[5], 5);
    EXPECT_TRUE(std::all_of(padded.begin() + 6, padded.end(), [](uint8_t b) { return b == 0xFF; }));

    const TsPacket null = NullPacket();
    EXPECT_EQ(Bytes(null.begin(), null.begin() + 4), (Bytes{0x47, 0x1F, 0xFF, 0x10}));
}

// --- PES

TEST(StreamKitPes, HeaderCarriesPtsAndDtsWithMarkerBits) {
    // PTS 90000 and DTS 87000 (90 kHz): 0x15F90 and 0x153D8.
    const Bytes pes = BuildPes({.streamId = 0xE0, .pts = 90000, .dts = 87000}, Bytes{0xAA, 0xBB});
    EXPECT_EQ(pes, (Bytes{0x00, 0x00, 0x01, 0xE0, 0x00, 0x0F, 0x84, 0xC0, 0x0A, 0x31, 0x00,
                          0x05, 0xBF, 0x21, 0x11, 0x00, 0x05, 0xA7, 0xB1, 0xAA, 0xBB}));
    // PTS only, wrapped to 33 bits; no alignment flag; header stuffing; unbounded length.
    const Bytes audio = BuildPes({.streamId = 0xC0,
                                  .pts = kPtsWrap + 90000,
                                  .dataAlignment = false,
                                  .unboundedLength = true,
                                  .stuffingBytes = 2},
                                 Bytes{0xCC});
    EXPECT_EQ(audio, (Bytes{0x00, 0x00, 0x01, 0xC0, 0x00, 0x00, 0x80, 0x80, 0x07, 0x21, 0x00, 0x05,
                            0xBF, 0x21, 0xFF, 0xFF, 0xCC}));
    // Too long for the 16-bit length: written as 0.
    EXPECT_EQ(BuildPes({.streamId = 0xE0}, Bytes(70000, 0))[4], 0);
}

}  // namespace
}  // namespace streamkit
