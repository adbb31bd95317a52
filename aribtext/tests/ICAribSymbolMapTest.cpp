#include "aribtext/ICAribSymbolMap.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "aribtext/ICJIS8Code.h"
#include "aribtext/ICJIS8SICode.h"

namespace {

// The private-use code the decoder gives for additional symbol row/cell (JIS bytes).
char16_t DecodeSymbol(uint8_t row, uint8_t cell) {
    ICJIS8SICode decoder;
    const uint8_t bytes[] = {0x1B, 0x24, 0x3B, row, cell};
    ICWString text = decoder.Decode(bytes, sizeof bytes);
    return text.GetView().size() == 1 ? text.GetView()[0] : 0;
}

bool IsPrivateUse(char32_t c) {
    return c >= 0xE000 && c <= 0xF8FF;
}

// Symbols a viewer sees in every programme title, read from the decoder so that the map and the
// decoder's table cannot drift apart.
TEST(ICAribSymbolMap, BroadcastTitleSymbolsBecomeTheirUnicodeCharacters) {
    EXPECT_EQ(DecodeSymbol(0x7A, 0x56), u'\uE0FE');  // [字]
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(DecodeSymbol(0x7A, 0x56)), U'\U0001F211');
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(DecodeSymbol(0x7A, 0x5A)), U'\U0001F214');  // [二]
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(DecodeSymbol(0x7A, 0x50)), U'\U0001F14A');  // [HV]
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(DecodeSymbol(0x7A, 0x5B)), U'\U0001F215');  // [多]
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(DecodeSymbol(0x7A, 0x5C)), U'\U0001F216');  // [解]
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(DecodeSymbol(0x7A, 0x74)), U'\U0001F200');  // [ほか]
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(DecodeSymbol(0x7D, 0x63)), U'\u26C4');      // snowman
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(DecodeSymbol(0x7B, 0x3B)), U'\u26F4');      // ferry
    // Gaiji kanji: one in the basic plane, one in CJK extension B.
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(DecodeSymbol(0x75, 0x21)), U'\u3402');
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(DecodeSymbol(0x75, 0x2F)), U'\U00020BB7');  // 𠮷
}

TEST(ICAribSymbolMap, ReplaceKeepsOtherTextAndUnmappedCodes) {
    const std::u16string title = u"ニュース\uE0FE\uE182";
    EXPECT_EQ(ICAribSymbolMap::Replace(title), u"ニュース\U0001F211\U0001F214");
    // A reserved cell has no character: its private-use code stays so that nothing is lost.
    const char16_t reserved = DecodeSymbol(0x7B, 0x52);
    ASSERT_TRUE(IsPrivateUse(reserved));
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(reserved), 0u);
    EXPECT_EQ(ICAribSymbolMap::Replace(std::u16string(1, reserved)), std::u16string(1, reserved));
    // Private-use codes outside the additional symbols and ordinary text pass through.
    EXPECT_EQ(ICAribSymbolMap::Replace(u"A\uE000B\uF8FF"), u"A\uE000B\uF8FF");
    EXPECT_EQ(ICAribSymbolMap::Replace(u""), u"");
    EXPECT_EQ(ICAribSymbolMap::ToUnicode(u'A'), 0u);
}

// Every entry maps a code the decoder can produce to a real character, once.
TEST(ICAribSymbolMap, EveryEntryBelongsToTheDecodersTable) {
    const char16_t* table = ICJIS8Code::GetAdditionalSymbolTable();
    std::set<char16_t> privateUse;
    for (size_t i = 0; i < ICJIS8Code::kAdditionalSymbolCount; ++i) {
        if (IsPrivateUse(table[i])) {
            EXPECT_TRUE(privateUse.insert(table[i]).second) << std::hex << int(table[i]);
        }
    }
    size_t mapped = 0;
    for (char16_t code : privateUse) {
        const char32_t c = ICAribSymbolMap::ToUnicode(code);
        if (c == 0) {
            continue;
        }
        ++mapped;
        EXPECT_FALSE(IsPrivateUse(c)) << std::hex << int(code);
        EXPECT_FALSE(c >= 0xD800 && c <= 0xDFFF) << std::hex << int(code);
        EXPECT_LE(c, 0x10FFFFu);
    }
    EXPECT_EQ(mapped, ICAribSymbolMap::GetCount());
}

}  // namespace
