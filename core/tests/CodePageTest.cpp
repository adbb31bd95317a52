#include "core/CodePage.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

namespace {

// glibc's own CP932 converter, the reference for the tables.
class Iconv {
public:
    Iconv(const char* to, const char* from) : converter(iconv_open(to, from)) {}
    ~Iconv() {
        if (Valid()) {
            iconv_close(converter);
        }
    }
    bool Valid() const { return converter != reinterpret_cast<iconv_t>(-1); }

    // The converted bytes of one complete input, or false when iconv rejects it.
    bool Convert(const std::string& input, std::string& output) {
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        char buffer[64];
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) ||
            inLeft != 0) {
            return false;
        }
        output.assign(buffer, sizeof buffer - outLeft);
        return true;
    }

private:
    iconv_t converter;
};

std::u16string FromUtf16Le(const std::string& bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return text;
}

bool IsLead(int byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Every single byte and every double-byte code of the lead and trail ranges.
std::vector<std::string> AllCodes() {
    std::vector<std::string> codes;
    for (int byte = 0; byte < 256; ++byte) {
        if (!IsLead(byte)) {
            codes.push_back(std::string(1, static_cast<char>(byte)));
        }
    }
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!IsLead(lead)) {
            continue;
        }
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail != 0x7F) {
                codes.push_back(std::string{static_cast<char>(lead), static_cast<char>(trail)});
            }
        }
    }
    return codes;
}

TEST(CodePage, EveryCp932CodeConvertsAsIconvDoes) {
    Iconv decoder("UTF-16LE", "CP932");
    if (!decoder.Valid()) {
        GTEST_SKIP() << "iconv has no CP932";
    }
    int mapped = 0;
    for (const std::string& code : AllCodes()) {
        std::u16string ours = Cp932ToUtf16(code);
        std::string reference;
        ASSERT_EQ(ours.size(), 1u) << std::hex << static_cast<unsigned char>(code[0]);
        if (decoder.Convert(code, reference)) {
            EXPECT_EQ(ours, FromUtf16Le(reference))
                << std::hex << static_cast<int>(static_cast<unsigned char>(code[0])) << " "
                << (code.size() > 1 ? static_cast<int>(static_cast<unsigned char>(code[1])) : -1);
            ++mapped;
        } else {
            EXPECT_EQ(ours[0], kCp932InvalidCharacter);
        }
    }
    EXPECT_GT(mapped, 9000);
}

TEST(CodePage, KnownCodes) {
    EXPECT_EQ(Cp932ToUtf16("\x5c"), u"\\");
    EXPECT_EQ(Cp932ToUtf16("\x7e"), u"~");
    EXPECT_EQ(Cp932ToUtf16("\x81\x60"), u"\uFF5E");
    EXPECT_EQ(Cp932ToUtf16("\x81\x5f"), u"\uFF3C");
    EXPECT_EQ(Cp932ToUtf16("\x81\x45"), u"\u30FB");
    EXPECT_EQ(Cp932ToUtf16("\xb1\xdd"), u"\uFF71\uFF9D");
    EXPECT_EQ(Cp932ToUtf16("\x87\x40\xed\x40\xfa\x5c"), u"①纊纊");
    EXPECT_EQ(Utf16ToCp932(u"\uFF5E"), "\x81\x60");
    EXPECT_EQ(Utf16ToCp932(u"ｱ①"), "\xb1\x87\x40");
    // 纊 has codes in two rows; the conversion picks the one iconv picks.
    Iconv encoder("CP932", "UTF-16LE");
    std::string reference;
    if (encoder.Valid() && encoder.Convert(std::string("\x8a\x7e", 2), reference)) {
        EXPECT_EQ(Utf16ToCp932(u"纊"), reference);
    }
}

TEST(CodePage, InvalidBytesBecomeTheMiddleDot) {
    EXPECT_EQ(Cp932ToUtf16("\x80"), u"\u30FB");
    EXPECT_EQ(Cp932ToUtf16("\xa0\xfd\xfe\xff"), u"\u30FB\u30FB\u30FB\u30FB");
    // A lead byte at the end, or before a byte that cannot be a trail byte, stands alone; the
    // following byte is read again.
    EXPECT_EQ(Cp932ToUtf16("a\x82"), u"a\u30FB");
    EXPECT_EQ(Cp932ToUtf16("\x82 b"), u"\u30FB b");
    EXPECT_EQ(Cp932ToUtf16("\x82\x7f"), u"\u30FB\x7f");
    // An unassigned pair of valid bytes is one character.
    EXPECT_EQ(Cp932ToUtf16("\x85\x40x"), u"\u30FBx");
    std::string withZero("a\0b", 3);
    EXPECT_EQ(Cp932ToUtf16(withZero), std::u16string(u"a\0b", 3));
}

TEST(CodePage, UnmappableUtf16BecomesAQuestionMark) {
    EXPECT_EQ(Utf16ToCp932(u"a\u00E9b"), "a?b");
    EXPECT_EQ(Utf16ToCp932(u"\U0001F600x"), "?x");  // one '?' for the whole pair
    EXPECT_EQ(Utf16ToCp932(std::u16string(u"\xD800"
                                          u"a\xDC00",
                                          3)),
              "?a?");
    EXPECT_EQ(Utf16ToCp932(std::u16string(u"\0", 1)), std::string("\0", 1));
}

TEST(CodePage, ConversionsAreStableBackAndForth) {
    Iconv encoder("CP932", "UTF-16LE");
    if (!encoder.Valid()) {
        GTEST_SKIP() << "iconv has no CP932";
    }
    for (const std::string& code : AllCodes()) {
        std::u16string once = Cp932ToUtf16(code);
        std::string back = Utf16ToCp932(once);
        std::u16string twice = Cp932ToUtf16(back);
        EXPECT_EQ(twice, once) << std::hex << static_cast<int>(static_cast<unsigned char>(code[0]));
        EXPECT_EQ(Utf16ToCp932(twice), back);
        // The code chosen for the character is iconv's.
        std::string utf16le{static_cast<char>(once[0] & 0xFF), static_cast<char>(once[0] >> 8)};
        std::string reference;
        if (encoder.Convert(utf16le, reference)) {
            EXPECT_EQ(back, reference);
        }
    }
}

TEST(CodePage, EveryBasicPlaneCharacterEncodesAsIconvDoes) {
    Iconv encoder("CP932", "UTF-16LE");
    if (!encoder.Valid()) {
        GTEST_SKIP() << "iconv has no CP932";
    }
    for (unsigned c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        char16_t unit = static_cast<char16_t>(c);
        std::string reference;
        std::string utf16le{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        std::string expected = encoder.Convert(utf16le, reference) ? reference : "?";
        ASSERT_EQ(Utf16ToCp932(std::u16string_view(&unit, 1)), expected) << std::hex << c;
    }
}

TEST(CodePage, LongMixedTextConvertsPieceByPiece) {
    // A text longer than the eight-byte ASCII steps, with double-byte characters at every
    // alignment, converts as its pieces do.
    std::mt19937 random(932);
    std::vector<std::string> pieces = {"a",    "Z",        " ",          "\x82\xa0", "\x93\xfa",
                                       "\xb1", "\x81\x60", "0123456789", "\x80"};
    for (int round = 0; round < 200; ++round) {
        std::string text;
        std::u16string expected;
        int count = static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i) {
            const std::string& piece = pieces[random() % pieces.size()];
            text += piece;
            expected += Cp932ToUtf16(piece);
        }
        ASSERT_EQ(Cp932ToUtf16(text), expected);
    }
}

TEST(CodePage, RandomBytesNeverNeedMoreUnitsThanBytes) {
    std::mt19937 random(7);
    for (int round = 0; round < 500; ++round) {
        std::string bytes(random() % 64, '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random());
        }
        std::vector<char16_t> out(bytes.size() + 1, u'\xAAAA');
        size_t units = Cp932ToUtf16(bytes.data(), bytes.size(), out.data());
        EXPECT_LE(units, bytes.size());
        EXPECT_EQ(out[bytes.size()], u'\xAAAA');
        std::vector<char16_t> utf16(bytes.size() + 1, u'\xAAAA');
        EXPECT_LE(Utf8ToUtf16(bytes.data(), bytes.size(), utf16.data()), bytes.size());
        EXPECT_EQ(utf16[bytes.size()], u'\xAAAA');
    }
}

TEST(CodePage, Utf8RoundTripsWithSurrogatePairs) {
    std::u16string text = u"ASCII 日本語 \u00E9 \U0001F600 \U00010000 \U0010FFFF end";
    std::string utf8 = Utf16ToUtf8(text);
    EXPECT_EQ(utf8, "ASCII 日本語 \u00E9 \U0001F600 \U00010000 \U0010FFFF end");
    EXPECT_EQ(Utf8ToUtf16(utf8), text);
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\xD83D\xDE00");

    // Every scalar value survives the round trip.
    std::u16string all;
    for (uint32_t c = 1; c < 0x110000; c += (c < 0x10000 ? 1 : 97)) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        if (c < 0x10000) {
            all.push_back(static_cast<char16_t>(c));
        } else {
            all.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            all.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(all)), all);
}

TEST(CodePage, BrokenUtf8AndLoneSurrogatesBecomeTheReplacementCharacter) {
    EXPECT_EQ(Utf8ToUtf16("a\x80z"), u"a\uFFFDz");
    EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong
    EXPECT_EQ(Utf8ToUtf16("\xE3\x81"), u"\uFFFD");        // cut short
    EXPECT_EQ(Utf8ToUtf16("\xE3\x81x"), u"\uFFFDx");
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // > U+10FFFF
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98"), u"\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xFF\xFE"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"\xD800", 1)), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"\xDC00"
                                         u"a",
                                         2)),
              "\xEF\xBF\xBD"
              "a");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a\xD83D", 2)), "a\xEF\xBF\xBD");
}

}  // namespace
