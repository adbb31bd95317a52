#include "aribtext/ICJIS8Code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "aribtext/ICJIS8SICode.h"

namespace {

// Decodes from an exactly sized heap copy, so that AddressSanitizer sees any read past the end.
std::u16string DecodeWith(ICJIS8Code& decoder, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> exact(bytes);
    ICWString text = decoder.Decode(exact.empty() ? nullptr : exact.data(), exact.size());
    return std::u16string(text.GetView());
}

std::u16string DecodeSI(std::initializer_list<uint8_t> bytes) {
    ICJIS8SICode decoder;
    return DecodeWith(decoder, bytes);
}

std::u16string DecodeCaption(std::initializer_list<uint8_t> bytes) {
    ICJIS8Code decoder;
    return DecodeWith(decoder, bytes);
}

// Records the hooks a caption decoder would override, and implements a repeat control like the
// caption decoder's (0x98 followed by the count).
class RecordingDecoder : public ICJIS8Code {
public:
    void OnControl(uint8_t code) override {
        controls.push_back(code);
        if (code == 0x98 && !AtEnd()) {
            repeatCount = ReadByte() & 0x3F;
            return;
        }
        ICJIS8Code::OnControl(code);
    }
    void OnDRCS2(uint16_t code) override { drcs.push_back(code); }
    void OnDRCS1(uint32_t setCode, uint8_t byte) override {
        drcs.push_back(static_cast<uint16_t>((setCode << 8) | byte));
    }
    void PutCode(uint16_t code) override {
        codes.push_back(code);
        ICJIS8Code::PutCode(code);
    }
    // Replaces one additional symbol, as DRCS handling may; Reset must undo it.
    void PatchSymbol(size_t index, char16_t unit) { additionalSymbols[index] = unit; }

    std::vector<uint8_t> controls;
    std::vector<uint16_t> drcs;
    std::vector<uint16_t> codes;
};

TEST(ICJIS8CodeCharacterSets, AdditionalSymbolsDecodeWithOrWithoutTheirDesignation) {
    EXPECT_EQ(DecodeSI({0x1B, 0x24, 0x3B, 0x7A, 0x50}), u"\uE0F8");
    EXPECT_EQ(DecodeSI({0x7A, 0x50}), u"\uE0F8");
    // First and last cells of the table, and the spaces of rows 0x77-0x79.
    EXPECT_EQ(DecodeSI({0x75, 0x21, 0x7E, 0x7E, 0x77, 0x21, 0x79, 0x7E}),
              u"\uE080\uE3A6\u3000\u3000");
    // The private-use values step from E0FF to E180.
    EXPECT_EQ(DecodeSI({0x7A, 0x57, 0x7A, 0x58}), u"\uE0FF\uE180");
    EXPECT_EQ(DecodeSI({0x7E, 0x61}), u"\u2460");
}

TEST(ICJIS8CodeCharacterSets, PrivateUseSymbolsFormOneGaplessSequence) {
    // The private-use values run from E080 to E3A6 without the codes whose low byte is below
    // 0x80, each used once: a slip in the table shows up as a gap or a repeat.
    std::vector<char16_t> values;
    const char16_t* table = ICJIS8Code::GetAdditionalSymbolTable();
    for (size_t i = 0; i < ICJIS8Code::kAdditionalSymbolCount; ++i) {
        if (table[i] >= 0xE000 && table[i] < 0xF900) {
            values.push_back(table[i]);
        }
    }
    std::sort(values.begin(), values.end());
    std::vector<char16_t> expected;
    for (char16_t v = 0xE080; v <= 0xE3A6; ++v) {
        if ((v & 0xFF) >= 0x80) {
            expected.push_back(v);
        }
    }
    EXPECT_EQ(values, expected);
}

TEST(ICJIS8CodeCharacterSets, SIStateInvokesHiraganaIntoGRAndKatakanaIntoG3) {
    EXPECT_EQ(DecodeSI({0xA2, 0xA4}), u"あい");
    EXPECT_EQ(DecodeSI({0x1B, 0x7C, 0xA2}), u"ア");
    EXPECT_EQ(DecodeSI({0x1B, 0x6F, 0x22}), u"ア");
    EXPECT_EQ(DecodeSI({0x30, 0x21, 0x46, 0x7C, 0x4B, 0x5C}), u"亜日本");
}

TEST(ICJIS8CodeCharacterSets, AlphanumericsAfterLS1StayAscii) {
    EXPECT_EQ(DecodeSI({0x0E, 0x41, 0x42, 0x43}), u"ABC");
    // Code page 932 single bytes: 0x5C and 0x7E are the ASCII characters.
    EXPECT_EQ(DecodeSI({0x0E, 0x5C, 0x7E, 0x0F, 0x21, 0x41}), u"\\~\uFF5E");
    EXPECT_EQ(DecodeSI({0x1B, 0x7E, 0xC1, 0xC2}), u"AB");
}

TEST(ICJIS8CodeCharacterSets, KanaSetsMapTheirLastCellsToPunctuation) {
    EXPECT_EQ(DecodeSI({0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE}), u"ゝゞー。「」、・");
    EXPECT_EQ(DecodeSI({0x1B, 0x6F, 0x74, 0x76, 0x77, 0x78, 0x79, 0x7A}), u"ヴヶヽヾー。");
    // Proportional kana sets decode as the ordinary ones.
    EXPECT_EQ(DecodeSI({0x1B, 0x28, 0x37, 0x22, 0x1B, 0x28, 0x38, 0x22}), u"あア");
}

TEST(ICJIS8CodeCharacterSets, JisX0201KatakanaBecomesFullWidth) {
    std::vector<uint8_t> bytes = {0x1B, 0x29, 0x49, 0x0E};
    for (uint8_t b = 0x21; b <= 0x5F; ++b) {
        bytes.push_back(b);
    }
    ICJIS8SICode decoder;
    EXPECT_EQ(DecodeWith(decoder, bytes),
              u"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノ"
              u"ハヒフヘホマミムメモヤユヨラリルレロワン゛゜");
    // Bytes beyond the set produce nothing.
    EXPECT_EQ(DecodeSI({0x1B, 0x29, 0x49, 0x0E, 0x60, 0x7E, 0x31}), u"ア");
}

TEST(ICJIS8CodeCharacterSets, MosaicAndDrcsProduceNothingInTheBaseDecoder) {
    EXPECT_EQ(DecodeCaption({0x1B, 0x28, 0x32, 0x21, 0x22, 0x0F, 0xA1}), u"ぁ");
    EXPECT_EQ(DecodeCaption({0x1B, 0x28, 0x20, 0x41, 0x21, 0x1B, 0x24, 0x42, 0x30, 0x21}), u"亜");
}

TEST(ICJIS8CodeShifts, SingleShiftCoversOneCharacter) {
    EXPECT_EQ(DecodeSI({0x0E, 0x41, 0x19, 0x22, 0x41}), u"AあA");
    EXPECT_EQ(DecodeSI({0x1D, 0x22, 0x30, 0x21}), u"ア亜");
    // With a two-byte set in G2 the shift lasts for both bytes.
    EXPECT_EQ(DecodeSI({0x1B, 0x24, 0x2A, 0x42, 0x0E, 0x19, 0x30, 0x21, 0x41}), u"亜A");
    // A GR character in between does not end the shift.
    EXPECT_EQ(DecodeSI({0x19, 0xA4, 0x22, 0x30, 0x21}), u"いあ亜");
    // A locking shift cancels it.
    EXPECT_EQ(DecodeSI({0x19, 0x0E, 0x41, 0x42}), u"AB");
}

TEST(ICJIS8CodeShifts, SecondSingleShiftStillReturnsToTheFirstGL) {
    // SS2 SS3 x: x from G3, then back to G0, not stuck in G2.
    EXPECT_EQ(DecodeSI({0x19, 0x1D, 0x22, 0x30, 0x21}), u"ア亜");
}

TEST(ICJIS8CodeShifts, LockingShiftsInvokeEachBuffer) {
    EXPECT_EQ(DecodeSI({0x1B, 0x6E, 0x22, 0x1B, 0x6F, 0x22, 0x0E, 0x41, 0x0F, 0x30, 0x21}),
              u"あアA亜");
    EXPECT_EQ(DecodeSI({0x1B, 0x7E, 0xC1, 0x1B, 0x7C, 0xA2, 0x1B, 0x7D, 0xA2}), u"Aアあ");
}

TEST(ICJIS8CodeShifts, TwoByteCharacterToggleSurvivesSetChanges) {
    // The held first byte pairs with the next byte of a two-byte set, across a designation.
    EXPECT_EQ(DecodeSI({0x30, 0x1B, 0x28, 0x4A, 0x41, 0x1B, 0x24, 0x42, 0x21}), u"A亜");
    // A first byte cut off by the end is dropped.
    EXPECT_EQ(DecodeSI({0xA2, 0x30}), u"あ");
}

TEST(ICJIS8CodeDesignations, AcceptedFormsDesignateTheirSets) {
    EXPECT_EQ(DecodeSI({0x1B, 0x28, 0x4A, 0x41}), u"A");               // 1-byte G0
    EXPECT_EQ(DecodeSI({0x1B, 0x29, 0x36, 0x0E, 0x41}), u"A");         // proportional
    EXPECT_EQ(DecodeSI({0x1B, 0x24, 0x4A, 0x41}), u"A");               // 2-byte form, 1-byte set
    EXPECT_EQ(DecodeSI({0x1B, 0x24, 0x49, 0x31}), u"ア");              // JIS X 0201 in G0
    EXPECT_EQ(DecodeSI({0x1B, 0x24, 0x28, 0x42, 0x30, 0x21}), u"亜");  // ESC $ ( F
    EXPECT_EQ(DecodeSI({0x1B, 0x24, 0x2B, 0x39, 0x1D, 0x30, 0x21}), u"亜");  // plane 1 in G3
    EXPECT_EQ(DecodeSI({0x1B, 0x24, 0x29, 0x3A, 0x0E, 0x30, 0x21}), u"亜");  // plane 2 in G1

    RecordingDecoder decoder;
    // DRCS-0 through the 1-byte form with SP (with and without SP for 0x40), DRCS-2 with SP
    // 0x42, DRCS-1 without SP through 0x41.
    DecodeWith(decoder, {0x1B, 0x28, 0x20, 0x40, 0x21, 0x22, 0x1B, 0x28, 0x40, 0xA1, 0x23,
                         0x24, 0x1B, 0x29, 0x20, 0x42, 0x0E, 0x25, 0x1B, 0x2A, 0x41, 0x1B,
                         0x6E, 0x26, 0x1B, 0x2B, 0x20, 0x4A, 0x1B, 0x6F, 0x27});
    EXPECT_EQ(decoder.drcs, (std::vector<uint16_t>{0x2122, 0x2324, 0x1125, 0x1026, 0x1927}));
}

TEST(ICJIS8CodeDesignations, RejectedFormsLeaveTheBufferUnchanged) {
    // Each sequence is followed by 0x30 0x21, which stays Kanji when G0 was not changed.
    const std::vector<std::vector<uint8_t>> rejected = {
        {0x1B, 0x24, 0x28, 0x20, 0x40},  // the 2-byte DRCS-0 form
        {0x1B, 0x24, 0x28, 0x20, 0x42},  // 2-byte with SP
        {0x1B, 0x24, 0x30},              // 2-byte form of hiragana
        {0x1B, 0x28, 0x42},              // 1-byte form of Kanji
        {0x1B, 0x28, 0x3B},              // 1-byte form of additional symbols
        {0x1B, 0x28, 0x20, 0x30},        // 1-byte with SP below 0x40
        {0x1B, 0x28, 0x20, 0x71},        // not in the set table
        {0x1B, 0x28, 0x50},              // not in the set table
        {0x1B, 0x40},                    // an unknown escape
    };
    for (const auto& sequence : rejected) {
        std::vector<uint8_t> bytes(sequence);
        bytes.push_back(0x30);
        bytes.push_back(0x21);
        ICJIS8SICode decoder;
        EXPECT_EQ(DecodeWith(decoder, bytes), u"亜") << "sequence of " << sequence.size();
    }
}

TEST(ICJIS8CodeControls, CarriageReturnLineFeedPassAndOtherControlsVanish) {
    EXPECT_EQ(DecodeSI({0x30, 0x21, 0x0D, 0x0A, 0x30, 0x21}), u"亜\r\n亜");
    EXPECT_EQ(DecodeSI({0x89, 0xA2, 0x8A, 0xA4}), u"あい");
    EXPECT_EQ(DecodeSI({0x20, 0x7F, 0x07, 0x0C, 0x80}), u" \x7F");

    RecordingDecoder decoder;
    DecodeWith(decoder, {0x89, 0x0A, 0x07, 0x1C, 0x41, 0x41});
    // Parameter bytes are not consumed by the decoder: 0x41 0x41 after APS decode as Kanji.
    EXPECT_EQ(decoder.controls, (std::vector<uint8_t>{0x89, 0x0A, 0x07, 0x1C}));
}

TEST(ICJIS8CodeControls, BracketedTextIsSkipped) {
    // ACS 0 ... ACS 1
    EXPECT_EQ(
        DecodeSI({0xA2, 0x9B, 0x30, 0x20, 0x69, 0xA4, 0x30, 0x21, 0x9B, 0x31, 0x20, 0x69, 0xA6}),
        u"あう");
    // ACS 2 ... ACS 3, UED 0 ... UED 1
    EXPECT_EQ(DecodeSI({0x9B, 0x32, 0x20, 0x69, 0xA4, 0x9B, 0x33, 0x20, 0x69, 0xA6}), u"う");
    EXPECT_EQ(DecodeSI({0x9B, 0x30, 0x20, 0x6A, 0xA4, 0x9B, 0x31, 0x20, 0x6A, 0xA6}), u"う");
    // The end of another bracket does not end this one.
    EXPECT_EQ(DecodeSI({0x9B, 0x30, 0x20, 0x69, 0xA4, 0x9B, 0x31, 0x20, 0x6A, 0xA8, 0x9B, 0x31,
                        0x20, 0x69, 0xA6}),
              u"う");
    // XCS, and the text after its end survives.
    EXPECT_EQ(DecodeSI({0x9B, 0x30, 0x20, 0x66, 0xA4, 0x9B, 0x31, 0x20, 0x66, 0xA6}), u"う");
    // An unclosed bracket runs to the end of the text.
    EXPECT_EQ(DecodeSI({0xA2, 0x9B, 0x30, 0x20, 0x69, 0xA4}), u"あ");
    // Escape sequences inside the bracket still act.
    EXPECT_EQ(DecodeSI({0x9B, 0x30, 0x20, 0x69, 0x1B, 0x7C, 0x9B, 0x31, 0x20, 0x69, 0xA2}), u"ア");
    // Other sequences are consumed without effect.
    EXPECT_EQ(DecodeSI({0x9B, 0x37, 0x20, 0x53, 0x9B, 0x31, 0x32, 0x3B, 0x33, 0x20, 0x5F, 0xA2}),
              u"あ");
}

TEST(ICJIS8CodeControls, NestedBracketsStayBounded) {
    // ACS inside XCS nests; repeated openings of the same bracket do not.
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 20000; ++i) {
        bytes.insert(bytes.end(), {0x9B, 0x30, 0x20, 0x69, 0x9B, 0x30, 0x20, 0x66});
    }
    bytes.insert(bytes.end(), {0x9B, 0x31, 0x20, 0x66, 0xA2, 0x9B, 0x31, 0x20, 0x69, 0xA4});
    ICJIS8SICode decoder;
    EXPECT_EQ(DecodeWith(decoder, bytes), u"い");
}

TEST(ICJIS8CodeControls, TruncatedSequencesStopAtTheEnd) {
    const std::vector<std::vector<uint8_t>> truncated = {
        {0x1B}, {0x1B, 0x24},       {0x1B, 0x24, 0x29},       {0x1B, 0x28, 0x20},
        {0x9B}, {0x9B, 0x30, 0x20}, {0x9B, 0x30, 0x20, 0x69}, {0x19},
        {0x30}, {0x1B, 0x7C},
    };
    for (const auto& tail : truncated) {
        std::vector<uint8_t> bytes = {0xA2};
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        ICJIS8SICode decoder;
        EXPECT_EQ(DecodeWith(decoder, bytes), u"あ") << "tail of " << tail.size();
    }
}

TEST(ICJIS8CodeMacros, DefaultMacrosRedesignateAllBuffers) {
    // Caption state: G3 holds the macro set. LS3, macro 0x6E: G0 katakana, G1 hiragana,
    // G2 alphanumeric, then LS0 and LS2R.
    EXPECT_EQ(DecodeCaption({0x1B, 0x6F, 0x6E, 0x22, 0xC1, 0x0E, 0x22}), u"アAあ");
    // Macro 0x60 restores the usual sets; G3 is the macro set again, so LS3 0x6E works twice.
    EXPECT_EQ(DecodeCaption({0x1B, 0x6F, 0x6E, 0x1B, 0x6F, 0x60, 0x30, 0x21, 0xA2, 0x0E, 0x41, 0x1B,
                             0x6F, 0x6E, 0x22}),
              u"亜あAア");
    // Through GR, and bytes outside 0x60-0x6F do nothing.
    EXPECT_EQ(DecodeCaption({0x1B, 0x7C, 0xEE, 0x22, 0x1B, 0x6F, 0x21, 0x70, 0x0F, 0x22}), u"アア");
    // The SI state has no macro set.
    EXPECT_EQ(DecodeSI({0x1B, 0x6F, 0x6E}), u"ヮ");
}

TEST(ICJIS8CodeBuffers, LongSingleByteRunsSurviveTheFlush) {
    std::vector<uint8_t> bytes = {0x0E};
    std::u16string expected;
    for (int i = 0; i < 700; ++i) {
        uint8_t c = static_cast<uint8_t>(0x21 + i % 94);
        bytes.push_back(c);
        expected.push_back(c);
        if (i % 251 == 250) {
            // A Kanji pair right at the flush level must not be split.
            bytes.insert(bytes.end(), {0x0F, 0x30, 0x21, 0x0E});
            expected += u"亜";
        }
    }
    ICJIS8SICode decoder;
    EXPECT_EQ(DecodeWith(decoder, bytes), expected);
}

TEST(ICJIS8CodeBuffers, OutputKeepsInputOrderAcrossBothBuffers) {
    std::vector<uint8_t> bytes;
    std::u16string expected;
    for (int i = 0; i < 600; ++i) {
        if (i % 3 == 0) {
            bytes.insert(bytes.end(), {0xA2});
            expected += u"あ";
        } else {
            bytes.insert(bytes.end(), {0x7A, 0x50});
            expected += u"\uE0F8";
        }
    }
    // A run of 300 symbols passes the wide buffer's flush level.
    for (int i = 0; i < 300; ++i) {
        bytes.insert(bytes.end(), {0x7C, 0x31});
        expected += u"\u2488";
    }
    bytes.push_back(0xA4);
    expected += u"い";
    ICJIS8SICode decoder;
    EXPECT_EQ(DecodeWith(decoder, bytes), expected);
}

TEST(ICJIS8CodeBuffers, CodePage932MappingIsUsed) {
    // Wave dash, double vertical line, minus, cent, pound, not sign, reverse solidus.
    EXPECT_EQ(DecodeSI({0x21, 0x41, 0x21, 0x42, 0x21, 0x5D, 0x21, 0x71, 0x21, 0x72, 0x22, 0x4C,
                        0x21, 0x40}),
              u"\uFF5E\u2225\uFF0D\uFFE0\uFFE1\uFFE2\uFF3C");
    // A code without a character becomes the code page's replacement, the rest survives.
    EXPECT_EQ(DecodeSI({0xA2, 0xF4, 0xA4}), u"あ\u30FBい");
}

TEST(ICJIS8CodeRepeat, RepeatCountSendsOneCharacterThroughPutWide) {
    RecordingDecoder decoder;
    EXPECT_EQ(DecodeWith(decoder, {0xA2, 0x98, 0x43, 0xA4, 0xA6}), u"あいいいう");
    EXPECT_EQ(decoder.codes, (std::vector<uint16_t>{0x82A2}));
    decoder.codes.clear();
    EXPECT_EQ(DecodeWith(decoder, {0x98, 0x42, 0x0E, 0x41, 0x42}), u"AAB");
    EXPECT_EQ(decoder.codes, (std::vector<uint16_t>{0x41}));
    EXPECT_EQ(DecodeWith(decoder, {0x98, 0x42, 0x7A, 0x50, 0x98, 0x40, 0xA2, 0xA4}),
              u"\uE0F8\uE0F8あい");
}

TEST(ICJIS8CodeLifecycle, EveryEscapeReachesTheHookEvenInsideText) {
    // A subclass that ignores LS3R: the katakana stay hiragana.
    class NoGRShift : public ICJIS8SICode {
    public:
        void ProcessEscape() override {
            ++calls;
            if (PeekByte() == 0x7C) {
                ReadByte();
                return;
            }
            ICJIS8Code::ProcessEscape();
        }
        int calls = 0;
    } decoder;
    EXPECT_EQ(DecodeWith(decoder, {0x30, 0x21, 0xA2, 0x1B, 0x7C, 0xA2, 0x1B, 0x6F, 0x22, 0xA4}),
              u"亜ああアい");
    EXPECT_EQ(decoder.calls, 2);
}

TEST(ICJIS8CodeLifecycle, EveryDecodeStartsFromTheInitialState) {
    RecordingDecoder decoder;
    decoder.PatchSymbol(0, u'X');
    EXPECT_EQ(DecodeWith(decoder, {0x75, 0x21, 0x0E, 0x1B, 0x7C}), u"\uE080");
    EXPECT_EQ(DecodeWith(decoder, {0x30, 0x21, 0xA2}), u"亜あ");
    EXPECT_EQ(DecodeWith(decoder, {}), u"");
    EXPECT_EQ(decoder.Decode(nullptr, 5).GetLength(), 0);
}

}  // namespace
