#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ICArray.h"
#include "core/ICErrors.h"
#include "core/ICStringArray.h"

namespace {

std::vector<intptr_t> Values(const ICArray& array) {
    std::vector<intptr_t> values;
    for (int32_t i = 0; i < array.GetCount(); ++i) {
        values.push_back(reinterpret_cast<intptr_t>(array.GetAt(i)));
    }
    return values;
}

void* P(intptr_t value) {
    return reinterpret_cast<void*>(value);
}

std::vector<std::string> Texts(const ICStringArray& array) {
    std::vector<std::string> texts;
    for (int32_t i = 0; i < array.GetCount(); ++i) {
        texts.emplace_back(array.GetCopy(i).GetText());
    }
    return texts;
}

using Strings = std::vector<std::string>;
using Ints = std::vector<intptr_t>;

}  // namespace

TEST(ICArray, GrowsByTheGrowthStep) {
    ICArray array(4);
    for (intptr_t i = 1; i <= 5; ++i) {
        EXPECT_EQ(array.Add(P(i)), i - 1);
    }
    EXPECT_EQ(array.GetCapacity(), 8);
    EXPECT_EQ(Values(array), (Ints{1, 2, 3, 4, 5}));
    array.SetGrowStep(0);  // still grows, one item at a time
    for (intptr_t i = 6; i <= 9; ++i) {
        array.Add(P(i));
    }
    EXPECT_EQ(array.GetCapacity(), 9);
    EXPECT_EQ(array.GetCount(), 9);
}

TEST(ICArray, SetCountAndCapacity) {
    ICArray array(3);
    array.Add(P(1));
    array.Add(P(2));
    array.SetCount(4);
    EXPECT_EQ(array.GetCapacity(), 7);
    EXPECT_EQ(Values(array), (Ints{1, 2, 0, 0}));
    array.SetCount(1);
    array.SetCount(3);  // slots coming back are empty, not the old pointers
    EXPECT_EQ(Values(array), (Ints{1, 0, 0}));
    array.SetCapacity(2);
    EXPECT_EQ(array.GetCount(), 2);
    array.RemoveAll();
    EXPECT_EQ(array.GetCount(), 0);
    EXPECT_EQ(array.GetCapacity(), 3);
}

TEST(ICArray, IndexRules) {
    ICArray array;
    array.Add(P(1));
    array.Add(P(2));
    EXPECT_EQ(array.GetAt(-1), nullptr);
    EXPECT_EQ(array.GetAt(2), nullptr);
    array.SetAt(2, P(9));
    array.SetAt(-1, P(9));
    EXPECT_EQ(Values(array), (Ints{1, 2}));
    array.SetAt(1, P(3));
    EXPECT_EQ(array.IndexOf(P(3)), 1);
    EXPECT_EQ(array.IndexOf(P(7)), -1);
    ASSERT_NE(array.Find(P(3)), nullptr);
    EXPECT_EQ(*array.Find(P(3)), P(3));
    EXPECT_EQ(array.Find(P(7)), nullptr);
    EXPECT_FALSE(array.RemoveAt(2));
    EXPECT_FALSE(array.Remove(P(7)));
}

TEST(ICArray, InsertRemoveAndMove) {
    ICArray array(2);
    array.InsertAt(0, P(2));
    array.InsertAt(5, P(4));
    array.InsertAt(-1, P(1));
    array.InsertAt(2, P(3));
    EXPECT_EQ(Values(array), (Ints{1, 2, 3, 4}));
    array.Move(3, 0);
    EXPECT_EQ(Values(array), (Ints{2, 3, 4, 1}));
    array.Move(0, 3);
    EXPECT_EQ(Values(array), (Ints{1, 2, 3, 4}));
    array.Move(1, 2);
    EXPECT_EQ(Values(array), (Ints{1, 3, 2, 4}));
    array.Move(4, 0);
    array.Move(0, -1);
    array.Move(2, 2);
    EXPECT_EQ(Values(array), (Ints{1, 3, 2, 4}));
    EXPECT_TRUE(array.Remove(P(3)));
    EXPECT_TRUE(array.RemoveAt(0));
    EXPECT_EQ(Values(array), (Ints{2, 4}));
}

TEST(ICArray, CopyFromCopiesThePointers) {
    ICArray source;
    source.Add(P(5));
    source.Add(P(6));
    ICArray copy;
    copy.Add(P(1));
    copy.CopyFrom(source);
    EXPECT_EQ(Values(copy), (Ints{5, 6}));
    copy.CopyFrom(copy);
    EXPECT_EQ(Values(copy), (Ints{5, 6}));
}

TEST(ICArray, LockAndSemaphore) {
    ICArray array;
    array.Lock();
    EXPECT_TRUE(array.TryLock());
    array.Unlock();
    array.Unlock();
    array.Signal();
    EXPECT_EQ(array.Wait(0), kICOk);
    EXPECT_EQ(array.Wait(0), kICTimedOut);
    EXPECT_EQ(array.GetCondition(), array.GetCondition());
}

TEST(ICStringArray, OwnsItsStrings) {
    ICStringArray array;
    array.AddString("one");
    array.AddString("two");
    array.AddString("three");
    array.SetCount(5);
    ASSERT_NE(array.GetString(4), nullptr);  // an empty slot gets an empty string
    EXPECT_STREQ(array.GetString(4)->GetText(), "");
    EXPECT_EQ(array.GetString(5), nullptr);
    array.SetString(3, "four");
    array.SetString(7, "ignored");
    EXPECT_EQ(Texts(array), (Strings{"one", "two", "three", "four", ""}));
    EXPECT_TRUE(array.RemoveAt(1));
    array.SetAt(0, new ICString("first"));
    array.SetCount(2);  // frees "four" and the empty one
    EXPECT_EQ(Texts(array), (Strings{"first", "three"}));
    EXPECT_EQ(array.IndexOfString("three"), 1);
    EXPECT_EQ(array.IndexOfString("Three"), -1);
    EXPECT_STREQ(array.GetCopy(9).GetText(), "");
}

TEST(ICStringArray, CopyFromMakesItsOwnStrings) {
    ICStringArray source;
    source.AddString("a");
    source.SetCount(2);
    ICStringArray copy;
    copy.CopyFrom(source);
    source.SetString(0, "changed");
    EXPECT_EQ(Texts(copy), (Strings{"a", ""}));
    ICArray plain;
    plain.Add(P(1));
    copy.CopyFrom(plain);
    EXPECT_EQ(copy.GetCount(), 0);
}

TEST(ICStringArray, SplitKeepsQuotedDelimiters) {
    ICStringArray array;
    array.Split("a,\"b,c\",d", ",");
    EXPECT_EQ(Texts(array), (Strings{"a", "b,c", "d"}));
    array.Split("x::y::::z", "::");
    EXPECT_EQ(Texts(array), (Strings{"x", "y", "", "z"}));
    array.Split("", ",");
    EXPECT_EQ(array.GetCount(), 0);
    array.Split("a,b", "");
    EXPECT_EQ(Texts(array), (Strings{"a,b"}));
    array.Split("a,", ",");
    EXPECT_EQ(Texts(array), (Strings{"a", ""}));
    array.Split("\"open,end", ",");  // an unmatched quote runs to the end
    EXPECT_EQ(Texts(array), (Strings{"\"open,end"}));
    array.Split(nullptr, ",");
    EXPECT_EQ(array.GetCount(), 0);
}

TEST(ICStringArray, SplitDoesNotCutDoubleByteCharacters) {
    // "ソ" is 0x83 0x5C in code page 932: its second byte is a backslash.
    ICStringArray array;
    array.Split("\x83\x5C\\b", "\\");
    EXPECT_EQ(Texts(array), (Strings{"\x83\x5C", "b"}));
}
