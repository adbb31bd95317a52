#include "tools/aribencode/AribEncoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "aribtext/ICJIS8SICode.h"
#include "aribtext/tests/Aribb24Oracle.h"
#include "core/CodePage.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::u16string DecodeWith(ICJIS8Code& decoder, const Bytes& bytes) {
    return std::u16string(decoder.Decode(bytes.data(), bytes.size()).GetView());
}

TEST(AribEncoder, WritesEachKindOfCharacterThroughItsSet) {
    EXPECT_EQ(EncodeAribText(u"亜日"), (Bytes{0x30, 0x21, 0x46, 0x7C}));
    EXPECT_EQ(EncodeAribText(u"あい"), (Bytes{0xA2, 0xA4}));
    EXPECT_EQ(EncodeAribText(u"アあ"), (Bytes{0x1B, 0x7C, 0xA2, 0x1B, 0x7D, 0xA2}));
    EXPECT_EQ(EncodeAribText(u"NHK 1"), (Bytes{0x0E, 0x4E, 0x48, 0x4B, 0x20, 0x31}));
    EXPECT_EQ(EncodeAribText(u"A亜"), (Bytes{0x0E, 0x41, 0x0F, 0x30, 0x21}));
    // Full-width letters are Kanji-set characters, not alphanumerics.
    EXPECT_EQ(EncodeAribText(u"Ａ"), (Bytes{0x23, 0x41}));
    // Shared punctuation follows the kana set in GR.
    EXPECT_EQ(EncodeAribText(u"あー"), (Bytes{0xA2, 0xF9}));
    EXPECT_EQ(EncodeAribText(u"アー"), (Bytes{0x1B, 0x7C, 0xA2, 0xF9}));
}

TEST(AribEncoder, WritesAdditionalSymbolsByTheirCodePoints) {
    EXPECT_EQ(EncodeAribText(u"\uE0F8"), (Bytes{0x7A, 0x50}));
    EXPECT_EQ(EncodeAribText(u"\u2460\u3233"), (Bytes{0x7E, 0x61, 0x7C, 0x4A}));
    // A character of JIS X 0208 keeps its Kanji code even though a symbol row repeats it.
    EXPECT_EQ(EncodeAribText(u"\u3000"), (Bytes{0x21, 0x21}));
}

// Text from people and tools writes the symbols as Unicode has them: [字] and [二] outside the
// basic plane, the snowman inside it, a gaiji kanji in CJK extension B.
TEST(AribEncoder, WritesAdditionalSymbolsByTheirUnicodeCharacters) {
    EXPECT_EQ(EncodeAribText(u"\U0001F211\U0001F214"), (Bytes{0x7A, 0x56, 0x7A, 0x5A}));
    EXPECT_EQ(EncodeAribText(u"\u26C4"), (Bytes{0x7D, 0x63}));
    EXPECT_EQ(EncodeAribText(u"\U00020BB7"), (Bytes{0x75, 0x2F}));
    ICJIS8SICode decoder;
    EXPECT_EQ(DecodeWith(decoder, EncodeAribText(u"ニュース\U0001F211")), u"ニュース\uE0FE");
}

TEST(AribEncoder, WritesJisReferenceFormsAtTheirJisPositions) {
    // The wave dash as JIS maps it and as code page 932 maps it are one character.
    EXPECT_EQ(EncodeAribText(u"\u301C\uFF5E\u2212"), (Bytes{0x21, 0x41, 0x21, 0x41, 0x21, 0x5D}));
}

TEST(AribEncoder, CaptionStateDesignatesKatakanaFirst) {
    auto caption = AribEncoder::InitialState::kCaption;
    EXPECT_EQ(EncodeAribText(u"アア", caption), (Bytes{0x1B, 0x2B, 0x31, 0x1B, 0x7C, 0xA2, 0xA2}));
    ICJIS8Code decoder;
    EXPECT_EQ(DecodeWith(decoder, EncodeAribText(u"カタカナとかな", caption)), u"カタカナとかな");
}

TEST(AribEncoder, PassesControlCodesAndSequences) {
    AribEncoder encoder(AribEncoder::InitialState::kCaption);
    encoder.AppendCsi({7}, 0x53);
    encoder.AppendCsi({170, 30}, 0x5F);
    encoder.AppendControl({0x90, 0x20, 0x41});
    encoder.AppendText(u"\u000C\u0087字幕\r");
    EXPECT_EQ(encoder.GetBytes(),
              (Bytes{0x9B, 0x37, 0x20, 0x53, 0x9B, 0x31, 0x37, 0x30, 0x3B, 0x33, 0x30, 0x20,
                     0x5F, 0x90, 0x20, 0x41, 0x0C, 0x87, 0x3B, 0x7A, 0x4B, 0x6B, 0x0D}));
}

TEST(AribEncoder, CharactersWithoutCodeBecomeGetaMarks) {
    AribEncoder encoder;
    // An emoji (a surrogate pair), a Latin letter with accent, and SS2, which would change the
    // code state.
    EXPECT_EQ(encoder.AppendText(u"\U0001F600\u00E9\u0019あ"), 3u);
    ICJIS8SICode decoder;
    EXPECT_EQ(DecodeWith(decoder, encoder.GetBytes()), u"〓〓〓あ");
}

// Random Japanese text: words of Kanji, hiragana, katakana, Latin letters and digits, with
// punctuation and spaces between them.
class TextGenerator {
public:
    TextGenerator(uint32_t seed, bool withSymbols) : random(seed), withSymbols(withSymbols) {
        for (uint8_t row = 0x21; row <= 0x74; ++row) {
            for (uint8_t cell = 0x21; cell <= 0x7E; ++cell) {
                if (!aribtest::IsJisX0208Assigned(row, cell)) {
                    continue;
                }
                uint8_t s1 = static_cast<uint8_t>(((row + 1) >> 1) + (row < 0x5F ? 0x70 : 0xB0));
                uint8_t s2 = static_cast<uint8_t>(
                    (row & 1) != 0 ? cell + (cell < 0x60 ? 0x1F : 0x20) : cell + 0x7E);
                std::string sjis = {static_cast<char>(s1), static_cast<char>(s2)};
                std::u16string unit = Cp932ToUtf16(sjis);
                (row >= 0x30 ? kanji : symbols).push_back(unit[0]);
            }
        }
        for (char16_t c = u'ぁ'; c <= u'ん'; ++c) {
            hiragana.push_back(c);
        }
        for (char16_t c = u'ァ'; c <= u'ヶ'; ++c) {
            katakana.push_back(c);
        }
        for (char16_t c = 0x21; c <= 0x7D; ++c) {
            if (c != 0x5C) {
                latin.push_back(c);
            }
        }
        const char16_t* table = ICJIS8Code::GetAdditionalSymbolTable();
        for (size_t i = 0; i < ICJIS8Code::kAdditionalSymbolCount; ++i) {
            additional.push_back(table[i]);
        }
    }

    std::u16string Generate() {
        std::u16string text;
        int words = 1 + static_cast<int>(random() % 12);
        for (int w = 0; w < words; ++w) {
            const std::vector<char16_t>* pool;
            uint32_t kind = random() % (withSymbols ? 7 : 6);
            switch (kind) {
                case 0:
                case 1:
                    pool = &kanji;
                    break;
                case 2:
                    pool = &hiragana;
                    break;
                case 3:
                    pool = &katakana;
                    break;
                case 4:
                    pool = &latin;
                    break;
                case 5:
                    pool = &symbols;
                    break;
                default:
                    pool = &additional;
                    break;
            }
            int length = 1 + static_cast<int>(random() % 8);
            for (int i = 0; i < length; ++i) {
                text.push_back((*pool)[random() % pool->size()]);
            }
            static constexpr char16_t kSeparators[] = u" 、。・ー「」";
            if (random() % 2 == 0) {
                text.push_back(kSeparators[random() % (std::size(kSeparators) - 1)]);
            }
        }
        return text;
    }

private:
    std::mt19937 random;
    bool withSymbols;
    std::vector<char16_t> kanji;
    std::vector<char16_t> symbols;  // rows 0x21-0x2F
    std::vector<char16_t> hiragana;
    std::vector<char16_t> katakana;
    std::vector<char16_t> latin;
    std::vector<char16_t> additional;
};

TEST(AribEncoderRoundTrip, RandomTextDecodesBackWithOurDecoder) {
    TextGenerator generator(42, true);
    ICJIS8SICode siDecoder;
    ICJIS8Code captionDecoder;
    int failures = 0;
    for (int i = 0; i < 20000 && failures < 10; ++i) {
        std::u16string text = generator.Generate();
        AribEncoder si;
        ASSERT_EQ(si.AppendText(text), 0u) << Utf16ToUtf8(text);
        AribEncoder caption(AribEncoder::InitialState::kCaption);
        caption.AppendText(text);
        if (DecodeWith(siDecoder, si.GetBytes()) != text ||
            DecodeWith(captionDecoder, caption.GetBytes()) != text) {
            ++failures;
            ADD_FAILURE() << "text " << Utf16ToUtf8(text) << " decodes as "
                          << Utf16ToUtf8(DecodeWith(siDecoder, si.GetBytes())) << " / "
                          << Utf16ToUtf8(DecodeWith(captionDecoder, caption.GetBytes()));
        }
    }
}

TEST(AribEncoderRoundTrip, RandomTextDecodesBackWithLibaribb24) {
    // Without additional symbols, whose mapping differs by design; see Aribb24Oracle.h for the
    // conventions in which libaribb24's text differs from ours.
    TextGenerator generator(7, false);
    aribtest::Aribb24Decoder decoder;
    int failures = 0;
    for (int i = 0; i < 20000 && failures < 10; ++i) {
        std::u16string text = generator.Generate();
        Bytes bytes = EncodeAribText(text);
        std::u16string decoded = decoder.Decode(bytes);
        if (decoded != aribtest::InAribb24Conventions(text)) {
            ++failures;
            ADD_FAILURE() << "text " << Utf16ToUtf8(text) << " decodes as " << Utf16ToUtf8(decoded);
        }
    }
}

}  // namespace
