#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ICStringList.h"
#include "core/ICWStringList.h"

namespace {

std::vector<std::string> Texts(const ICStringList& list) {
    std::vector<std::string> texts;
    for (ICListItem* item = list.GetHead(); item != nullptr; item = item->next) {
        texts.emplace_back(static_cast<ICString*>(item)->GetText());
    }
    EXPECT_EQ(list.GetCount(), int32_t(texts.size()));
    return texts;
}

std::vector<std::u16string> Texts(const ICWStringList& list) {
    std::vector<std::u16string> texts;
    for (ICListItem* item = list.GetHead(); item != nullptr; item = item->next) {
        texts.emplace_back(static_cast<ICWString*>(item)->GetText());
    }
    EXPECT_EQ(list.GetCount(), int32_t(texts.size()));
    return texts;
}

using Strings = std::vector<std::string>;
using WStrings = std::vector<std::u16string>;

}  // namespace

TEST(ICStringList, AddInsertSetAndFind) {
    ICStringList list;
    list.AddString("b");
    list.AddString("c", 42);
    list.InsertString(0, "a");
    list.InsertString(-2, "head");
    list.InsertString(99, "tail");
    EXPECT_EQ(Texts(list), (Strings{"head", "a", "b", "c", "tail"}));
    EXPECT_EQ(list.GetStringAt(3)->userValue, 42u);
    EXPECT_EQ(list.GetStringAt(5), nullptr);
    list.SetStringAt(0, "first");
    list.SetStringAt(7, "ignored");
    EXPECT_EQ(list.IndexOfString("c"), 3);
    EXPECT_EQ(list.IndexOfString("C"), -1);
    EXPECT_EQ(list.IndexOfString(nullptr), -1);
    EXPECT_TRUE(list.RemoveString(list.GetStringAt(1)));
    EXPECT_EQ(Texts(list), (Strings{"first", "b", "c", "tail"}));
    list.RemoveAll(false);  // the strings are owned: freed all the same
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(ICStringList, SplitKeepsQuotedDelimiters) {
    ICStringList list;
    list.AddString("old");
    list.Split("a,\"b,c\",d", ",");
    EXPECT_EQ(Texts(list), (Strings{"a", "b,c", "d"}));
    list.Split("\"whole\"", ",");
    EXPECT_EQ(Texts(list), (Strings{"whole"}));
    list.Split("", ",");
    EXPECT_EQ(list.GetCount(), 0);
    list.Split("a,b", nullptr);
    EXPECT_EQ(Texts(list), (Strings{"a,b"}));
    list.Split("k=\"x;y\";z", ";");
    EXPECT_EQ(Texts(list), (Strings{"k=\"x;y\"", "z"}));
}

TEST(ICWStringList, AddInsertSetAndFind) {
    ICWStringList list;
    list.AddString(u"二");
    list.AddString(u"三", 3);
    list.InsertString(0, u"一");
    EXPECT_EQ(Texts(list), (WStrings{u"一", u"二", u"三"}));
    EXPECT_EQ(list.GetStringAt(2)->userValue, 3u);
    EXPECT_EQ(list.IndexOfString(u"三"), 2);
    list.SetStringAt(1, u"2");
    EXPECT_EQ(Texts(list), (WStrings{u"一", u"2", u"三"}));
    EXPECT_TRUE(list.RemoveString(list.GetStringAt(0)));
    EXPECT_EQ(list.GetCount(), 2);
}

TEST(ICWStringList, SplitKeepsQuotedDelimiters) {
    ICWStringList list;
    list.Split(u"番組,\"a,b\",終", u",");
    EXPECT_EQ(Texts(list), (WStrings{u"番組", u"a,b", u"終"}));
    list.Split(u"x、y", u"、");
    EXPECT_EQ(Texts(list), (WStrings{u"x", u"y"}));
    list.Split(u"", u",");
    EXPECT_EQ(list.GetCount(), 0);
}
