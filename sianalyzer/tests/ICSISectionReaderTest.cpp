// The section reader the store objects parse with: its two descriptor loops and its text.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "aribtext/ICJIS8SICode.h"
#include "sianalyzer/ICSISection.h"
#include "sianalyzer/tests/SiTestSupport.h"

namespace {

using sitest::Bytes;
using sitest::Concat;
using sitest::Descriptor;

// A reader over `bytes` whose limit is their end.
struct Reader {
    explicit Reader(Bytes data) : bytes(std::move(data)) {
        reader.Attach(bytes.data(), static_cast<int32_t>(bytes.size()));
    }
    Bytes bytes;
    ICJIS8SICode decoder;
    ICSISectionReader reader{&decoder};
};

// Each call: the tag, the length and what the descriptor held for the parser.
struct Seen {
    uint8_t tag;
    int32_t length;
    int32_t firstByte;
    int32_t remaining;
};

TEST(ICSISectionReader, EachDescriptorIsParsedWithinItsOwnBytesWhateverTheParserReads) {
    const Bytes loop =
        Concat({Descriptor(0x4D, {1, 2, 3}), Descriptor(0x54, {}), Descriptor(0xC1, {9, 8})});
    Reader in(Concat({loop, Bytes{0xEE}}));
    std::vector<Seen> seen;
    const bool read = in.reader.ParseDescriptors(
        static_cast<int32_t>(loop.size()), [&](uint8_t tag, int32_t length) {
            const int32_t remaining = in.reader.GetRemaining();
            // Reading past the descriptor yields nothing; the next one starts where it should.
            const int32_t first = in.reader.ReadUInt8();
            in.reader.ReadUInt16();
            in.reader.ReadUInt16();
            seen.push_back({tag, length, first, remaining});
        });
    EXPECT_TRUE(read);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].tag, 0x4D);
    EXPECT_EQ(seen[0].remaining, 3);
    EXPECT_EQ(seen[0].firstByte, 1);
    EXPECT_EQ(seen[1].tag, 0x54);
    EXPECT_EQ(seen[1].remaining, 0);
    EXPECT_EQ(seen[1].firstByte, -1);
    EXPECT_EQ(seen[2].length, 2);
    EXPECT_EQ(seen[2].firstByte, 9);
    // The loop ends at its length with the section's limit back in place.
    EXPECT_EQ(in.reader.ReadUInt8(), 0xEE);
}

TEST(ICSISectionReader, TheLenientLoopStopsAtTheLimitButTheWholeLoopIsCutShort) {
    const Bytes loop = Concat({Descriptor(0x4D, {1}), Descriptor(0x50, {2})});
    int32_t lenientCalls = 0;
    Reader lenient(loop);
    EXPECT_TRUE(lenient.reader.ParseDescriptors(static_cast<int32_t>(loop.size()) + 10,
                                                [&](uint8_t, int32_t) { ++lenientCalls; }));
    EXPECT_EQ(lenientCalls, 2);
    EXPECT_EQ(lenient.reader.GetRemaining(), 0);

    int32_t wholeCalls = 0;
    Reader whole(loop);
    EXPECT_FALSE(whole.reader.ParseWholeDescriptors(static_cast<int32_t>(loop.size()) + 10,
                                                    [&](uint8_t, int32_t) {
                                                        ++wholeCalls;
                                                        return true;
                                                    }));
    EXPECT_EQ(wholeCalls, 2);

    Reader exact(loop);
    EXPECT_TRUE(exact.reader.ParseWholeDescriptors(static_cast<int32_t>(loop.size()),
                                                   [](uint8_t, int32_t) { return true; }));
}

TEST(ICSISectionReader, AMissingLengthByteOrARefusedDescriptorEndsTheLoopWithFalse) {
    // A tag as the last byte: its length cannot be read.
    Reader truncated(Bytes{0x4D, 0x01, 0x07, 0x50});
    int32_t calls = 0;
    EXPECT_FALSE(truncated.reader.ParseDescriptors(4, [&](uint8_t, int32_t) { ++calls; }));
    EXPECT_EQ(calls, 1);

    const Bytes loop = Concat({Descriptor(0xC2, {1}), Descriptor(0xC3, {2}), Descriptor(0xC4, {})});
    Reader refused(loop);
    std::vector<uint8_t> tags;
    EXPECT_FALSE(refused.reader.ParseWholeDescriptors(static_cast<int32_t>(loop.size()),
                                                      [&](uint8_t tag, int32_t) {
                                                          tags.push_back(tag);
                                                          return tag != 0xC3;
                                                      }));
    EXPECT_EQ(tags, (std::vector<uint8_t>{0xC2, 0xC3}));
}

TEST(ICSISectionReader, TextAndCodesAreReadAsFarAsTheLimitAllows) {
    const Bytes title = sitest::Text(u"ニュース");
    Reader in(Concat({Bytes{'j', 'p', 'n'}, title}));
    char language[4] = {'x', 'x', 'x', 'x'};
    in.reader.ReadLanguageCode(language);
    EXPECT_STREQ(language, "jpn");
    // A length beyond the limit decodes what is there and ends at the limit.
    const ICWString text = in.reader.ReadText(static_cast<int32_t>(title.size()) + 20);
    EXPECT_EQ(sitest::Utf8(text.GetText()), "ニュース");
    EXPECT_EQ(in.reader.GetRemaining(), 0);
    EXPECT_EQ(in.reader.ReadText(5).GetLength(), 0);
}

}  // namespace
