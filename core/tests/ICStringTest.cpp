#include "core/ICString.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "core/ICObject.h"
#include "core/ICWString.h"

namespace {

// ア (0x83 0x41) and ヂ (0x83 0x61): their trail bytes look like 'A' and 'a'.
constexpr const char* kKatakanaA = "\x83\x41";
constexpr const char* kKatakanaDi = "\x83\x61";

TEST(ICString, EmptyStringsHandOutAnEmptyTextNeverNull) {
    ICString empty;
    ASSERT_NE(empty.GetText(), nullptr);
    EXPECT_STREQ(empty.GetText(), "");
    EXPECT_EQ(empty.GetLength(), 0);

    ICString fromNull(static_cast<const char*>(nullptr));
    EXPECT_STREQ(fromNull.GetText(), "");
    ICString set("abc");
    set.Set("");
    EXPECT_TRUE(set.IsEmpty());
    set.Set("abc");
    set.Set(nullptr);
    EXPECT_STREQ(set.GetText(), "");
    EXPECT_EQ(std::u16string(empty.GetWide()), u"");
}

TEST(ICString, ConstructsFromNumbersWithTheirFormats) {
    EXPECT_STREQ(ICString(int32_t{-42}).GetText(), "-42");
    EXPECT_STREQ(ICString(int64_t{-1234567890123}).GetText(), "-1234567890123");
    EXPECT_STREQ(ICString(1.5).GetText(), "1.5");
    EXPECT_STREQ(ICString(1e20).GetText(), "1e+20");
    EXPECT_STREQ(ICString(uint32_t{4000000000u}).GetText(), "4000000000");
}

TEST(ICString, ConvertsFromWideTextThroughCodePage932) {
    ICString narrow(u"日本\uFF5E");
    EXPECT_STREQ(narrow.GetText(), "\x93\xfa\x96\x7b\x81\x60");
    ICWString wide(u"テスト");
    EXPECT_STREQ(ICString(wide).GetText(), "\x83\x65\x83\x58\x83\x67");
}

TEST(ICString, FormatKeepsLongResultsWhole) {
    for (int length : {600, 1023, 1024, 5000}) {
        std::string expected(static_cast<size_t>(length) - 2, 'x');
        ICString text;
        text.Format("<%s>", expected.c_str());
        EXPECT_EQ(text.GetLength(), length);
        EXPECT_EQ(std::string(text.GetText()), "<" + expected + ">");
    }
    ICString padded;
    padded.Format("%5000d|", 7);
    EXPECT_EQ(padded.GetLength(), 5001);
    EXPECT_EQ(padded.GetText()[4999], '7');
}

TEST(ICString, CopiesAreIndependentAndAppendMayUseItsOwnText) {
    ICString original("abc");
    ICString copy(original);
    copy.Append("def");
    EXPECT_STREQ(original.GetText(), "abc");
    EXPECT_STREQ(copy.GetText(), "abcdef");

    copy.Append(copy);
    EXPECT_STREQ(copy.GetText(), "abcdefabcdef");
    copy.Insert(3, copy.GetText() + 9);
    EXPECT_STREQ(copy.GetText(), "abcdefdefabcdef");

    ICString moved(std::move(copy));
    EXPECT_STREQ(moved.GetText(), "abcdefdefabcdef");
    EXPECT_STREQ(copy.GetText(), "");  // NOLINT: a moved-from string is empty
}

TEST(ICString, CopyingDoesNotCopyListLinks) {
    ICString first("a");
    ICString second("b");
    first.next = &second;
    second.prev = &first;
    ICString copy(first);
    EXPECT_EQ(copy.next, nullptr);
    EXPECT_EQ(copy.payload, &copy);
    first.next = nullptr;
    second.prev = nullptr;
}

TEST(ICListItem, DestroyingAnItemLinksItsNeighbours) {
    ICListItem first;
    ICListItem second;
    auto* middle = new ICString("middle");
    first.next = middle;
    middle->prev = &first;
    middle->next = &second;
    second.prev = middle;
    EXPECT_EQ(middle->payload, middle);
    delete middle;
    EXPECT_EQ(first.next, &second);
    EXPECT_EQ(second.prev, &first);
    first.next = nullptr;
    second.prev = nullptr;
}

TEST(ICObject, NameIsEmptyUntilSet) {
    ICObject parent;
    ICObject child;
    EXPECT_STREQ(child.GetName(), "");
    EXPECT_EQ(child.GetParent(), nullptr);
    child.SetName("Worker");
    child.SetParent(&parent);
    EXPECT_STREQ(child.GetName(), "Worker");
    EXPECT_EQ(child.GetParent(), &parent);
    child.SetName(static_cast<const char*>(nullptr));
    EXPECT_STREQ(child.GetName(), "");
}

TEST(ICString, WideCopyFollowsTextChanges) {
    ICString text("abc");
    EXPECT_EQ(std::u16string(text.GetWide()), u"abc");
    text.Append("\x82\xa0");  // あ
    EXPECT_EQ(std::u16string(text.GetWide()), u"abcあ");
    text.SetLength(1);
    EXPECT_EQ(std::u16string(text.GetWide()), u"a");
    std::strcpy(text.GetBuffer(), "");
    EXPECT_EQ(std::u16string(text.GetWide()), u"");
}

TEST(ICString, SetLengthKeepsAPrefixInAZeroFilledBuffer) {
    ICString text("abcdef");
    text.SetLength(3);
    EXPECT_STREQ(text.GetText(), "abc");
    EXPECT_EQ(text.GetLength(), 3);

    text.SetLength(10);
    EXPECT_STREQ(text.GetText(), "abc");
    ASSERT_GE(text.GetCapacity(), 10);
    char* buffer = text.GetBuffer();
    for (int i = 3; i <= 10; ++i) {
        EXPECT_EQ(buffer[i], '\0') << i;
    }
    std::memcpy(buffer + 3, "defghij", 7);
    EXPECT_EQ(text.GetLength(), 10);
    EXPECT_STREQ(text.GetText(), "abcdefghij");

    text.SetLength(0);
    EXPECT_TRUE(text.IsEmpty());
    text.Set("x");
    text.SetLength(-5);
    EXPECT_TRUE(text.IsEmpty());
}

TEST(ICString, CompareOrdersDoubleByteCharactersWhole) {
    EXPECT_EQ(ICString("").Compare(""), 0);
    EXPECT_LT(ICString("").Compare("a"), 0);
    EXPECT_GT(ICString("a").Compare(""), 0);
    EXPECT_LT(ICString("").Compare("\x81\x40"), 0);
    EXPECT_EQ(ICString().Compare(static_cast<const char*>(nullptr)), 0);
    EXPECT_LT(ICString("abc").Compare("abd"), 0);
    EXPECT_LT(ICString("ab").Compare("abc"), 0);
    // A double-byte character orders after every single byte, even a half-width katakana whose
    // byte is larger than the lead byte.
    EXPECT_GT(ICString("\x81\x40").Compare("\xb1"), 0);
    EXPECT_LT(ICString("\xb1").Compare("\x81\x40"), 0);
    EXPECT_LT(ICString("\x82\xa0").Compare("\x82\xa2"), 0);
}

TEST(ICString, CompareNoCaseFoldsLettersButNotTrailBytes) {
    EXPECT_EQ(ICString("Hello").CompareNoCase("hELLO"), 0);
    EXPECT_LT(ICString("apple").CompareNoCase("Banana"), 0);
    // The trail bytes 0x41 and 0x61 look like 'A' and 'a' but belong to different katakana.
    EXPECT_NE(ICString(kKatakanaA).CompareNoCase(kKatakanaDi), 0);
    EXPECT_NE(ICString(kKatakanaA).Compare(kKatakanaDi), 0);
    // Full-width Latin letters fold too: Ａ (0x8260) and ａ (0x8281).
    EXPECT_EQ(ICString("\x82\x60").CompareNoCase("\x82\x81"), 0);
    EXPECT_LT(ICString("").CompareNoCase("A"), 0);
}

TEST(ICString, IsEqualIsExact) {
    EXPECT_TRUE(ICString().IsEqual(""));
    EXPECT_TRUE(ICString().IsEqual(ICString()));
    EXPECT_TRUE(ICString("abc").IsEqual("abc"));
    EXPECT_FALSE(ICString("abc").IsEqual("ABC"));
    EXPECT_FALSE(ICString("abc").IsEqual("abcd"));
    EXPECT_TRUE(ICString("abc") == "abc");
}

TEST(ICString, FindIgnoresAsciiCaseAndHonoursFrom) {
    ICString text("Hello World, hello");
    EXPECT_EQ(text.Find("WORLD"), 6);
    EXPECT_EQ(text.Find("hello"), 0);
    EXPECT_EQ(text.Find("hello", 1), 13);
    EXPECT_EQ(text.Find("xyz"), -1);
    EXPECT_EQ(text.Find("o", 18), -1);
    EXPECT_EQ(text.Find("h", 100), -1);
    EXPECT_EQ(text.Find("Hello World, hello and more"), -1);
    EXPECT_EQ(ICString().Find("a"), -1);
}

TEST(ICString, FindStepsOverDoubleByteCharactersByCharacterSetKind) {
    // ア (0x83 0x41) followed by a real 'A': the trail byte must not match under kind 2.
    ICString text("\x83\x41_A");
    text.SetCharSetKind(ICString::kCharSetShiftJis);
    EXPECT_EQ(text.Find("a"), 3);
    EXPECT_EQ(text.Find("A", 1), 3);
    text.SetCharSetKind(ICString::kCharSetSingleByte);
    EXPECT_EQ(text.Find("a"), 1);

    // Kind 3 (the kind of a new string): 0x8F leads three bytes, other bytes from 0x80 two.
    ICString euc(
        "\x8f\xa1\x41"
        "A");
    EXPECT_EQ(euc.GetCharSetKind(), ICString::kCharSetEucJp);
    EXPECT_EQ(euc.Find("a"), 3);
    euc.SetCharSetKind(ICString::kCharSetShiftJis);
    EXPECT_EQ(euc.Find("a"), 2);  // 0x8F 0xA1 is one character, 0x41 the next

    // A lead byte at the very end does not run past the text.
    ICString cut("ab\x83");
    cut.SetCharSetKind(ICString::kCharSetShiftJis);
    EXPECT_EQ(cut.Find("\x83"), 2);
    EXPECT_EQ(cut.Find("b"), 1);
}

TEST(ICString, SubstringsClampToTheText) {
    ICString text("abcdef");
    EXPECT_STREQ(text.Left(2).GetText(), "ab");
    EXPECT_STREQ(text.Left(100).GetText(), "abcdef");
    EXPECT_STREQ(text.Left(-1).GetText(), "");
    EXPECT_STREQ(text.Mid(2, 3).GetText(), "cde");
    EXPECT_STREQ(text.Mid(4, 100).GetText(), "ef");
    EXPECT_STREQ(text.Mid(4).GetText(), "ef");
    EXPECT_STREQ(text.Mid(6, 1).GetText(), "");
    EXPECT_STREQ(text.Mid(-2, 2).GetText(), "ab");
    EXPECT_STREQ(text.Right(2).GetText(), "ef");
    EXPECT_STREQ(text.Right(100).GetText(), "abcdef");
    EXPECT_STREQ(text.Right(0).GetText(), "");
}

TEST(ICString, InsertAtAnyPosition) {
    ICString text("abc");
    text.Insert(0, ">");
    text.Insert(2, "-");
    text.Insert(100, "<");
    EXPECT_STREQ(text.GetText(), ">a-bc<");
    ICString empty;
    empty.Insert(3, "x");
    EXPECT_STREQ(empty.GetText(), "x");
    empty.Insert(0, nullptr);
    EXPECT_STREQ(empty.GetText(), "x");
}

TEST(ICString, TrimRemovesOnlySpaces) {
    ICString text("  \tab c\t  ");
    text.TrimLeft();
    EXPECT_STREQ(text.GetText(), "\tab c\t  ");
    text.TrimRight();
    EXPECT_STREQ(text.GetText(), "\tab c\t");
    ICString spaces("    ");
    spaces.Trim();
    EXPECT_TRUE(spaces.IsEmpty());
    ICString both("  x  ");
    both.Trim();
    EXPECT_STREQ(both.GetText(), "x");
}

TEST(ICString, ToIntDetectsTheBase) {
    EXPECT_EQ(ICString("123").ToInt(), 123);
    EXPECT_EQ(ICString("  -42").ToInt(), -42);
    EXPECT_EQ(ICString("+7").ToInt(), 7);
    EXPECT_EQ(ICString("0x1F").ToInt(), 31);
    EXPECT_EQ(ICString("0X7fff").ToInt(), 0x7FFF);
    EXPECT_EQ(ICString("017").ToInt(), 15);
    EXPECT_EQ(ICString("08").ToInt(), 0);  // octal stops at the 8
    EXPECT_EQ(ICString("12abc").ToInt(), 12);
    EXPECT_EQ(ICString("abc").ToInt(), 0);
    EXPECT_EQ(ICString().ToInt(), 0);
    EXPECT_EQ(ICString("-0x10").ToInt(), -16);
    // A 32-bit long saturates.
    EXPECT_EQ(ICString("0xFFFFFFFF").ToInt(), INT32_MAX);
    EXPECT_EQ(ICString("-99999999999").ToInt(), INT32_MIN);
}

}  // namespace
