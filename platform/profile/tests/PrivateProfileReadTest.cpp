#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/profile/PrivateProfile.h"
#include "platform/profile/tests/ProfileTestFiles.h"

using Strings = std::vector<std::string>;

class PrivateProfileRead : public ProfileFileTest {};

TEST_F(PrivateProfileRead, SectionAndKeyNamesIgnoreAsciiCaseAndBlanks) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path, "[Config]\r\n  MuteControl = 0 \r\n[ Other ]\r\nkey=x\r\n");
    EXPECT_EQ(GetPrivateProfileString("CONFIG", "mutecontrol", "d", path.c_str()), "0");
    EXPECT_EQ(GetPrivateProfileString("config", " MUTECONTROL ", "d", path.c_str()), "0");
    EXPECT_EQ(GetPrivateProfileString("other", "KEY", "d", path.c_str()), "x");
    EXPECT_EQ(GetPrivateProfileString("Config", "Mute", "d", path.c_str()), "d");
}

TEST_F(PrivateProfileRead, ValuesLoseBlanksAndOnePairOfMatchingQuotes) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path,
               "[S]\r\n"
               "double=  \"a b \"  \r\n"
               "single='c'\r\n"
               "nested=\"'d'\"\r\n"
               "mixed=\"e'\r\n"
               "lone=\"\r\n"
               "empty=\"\"\r\n"
               "inner=\"f\",\"g\",1\r\n"
               "tab=\t h\t\r\n");
    const char* file = path.c_str();
    EXPECT_EQ(GetPrivateProfileString("S", "double", "", file), "a b ");
    EXPECT_EQ(GetPrivateProfileString("S", "single", "", file), "c");
    EXPECT_EQ(GetPrivateProfileString("S", "nested", "", file), "'d'");
    EXPECT_EQ(GetPrivateProfileString("S", "mixed", "", file), "\"e'");
    EXPECT_EQ(GetPrivateProfileString("S", "lone", "", file), "\"");
    EXPECT_EQ(GetPrivateProfileString("S", "empty", "x", file), "");
    // A channel-file line starts with a quote but does not end with one.
    EXPECT_EQ(GetPrivateProfileString("S", "inner", "", file), "\"f\",\"g\",1");
    EXPECT_EQ(GetPrivateProfileString("S", "tab", "", file), "h");
}

TEST_F(PrivateProfileRead, FirstMatchingSectionAndKeyWin) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path, "[S]\r\nk=1\r\nK=2\r\n[s]\r\nk=3\r\nonly=4\r\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", path.c_str()), "1");
    // A key of the second section of the same name is not seen.
    EXPECT_EQ(GetPrivateProfileString("S", "only", "none", path.c_str()), "none");
    EXPECT_EQ(GetPrivateProfileSection("S", path.c_str()), (Strings{"k=1", "K=2"}));
}

TEST_F(PrivateProfileRead, CommentsLinesWithoutEqualsAndPreambleAreNotKeys) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path,
               "top=0\r\n"
               "[S]\r\n"
               ";k=commented\r\n"
               "  ; note=x\r\n"
               "just text\r\n"
               "\r\n"
               "k = \"v\" \r\n"
               "[T\r\n"
               "t=1\r\n");
    const char* file = path.c_str();
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", file), "v");
    EXPECT_EQ(GetPrivateProfileString("S", ";k", "d", file), "d");
    EXPECT_EQ(GetPrivateProfileString("S", "just text", "d", file), "d");
    // "[T" has no closing bracket, so it is not a header and t belongs to S.
    EXPECT_EQ(GetPrivateProfileString("S", "t", "", file), "1");
    EXPECT_EQ(GetPrivateProfileSection("S", file), (Strings{"k=\"v\"", "t=1"}));
    EXPECT_EQ(GetPrivateProfileSectionNames(file), (Strings{"S"}));
}

TEST_F(PrivateProfileRead, SectionNamesInFileOrderWithDuplicates) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path, "[Schedule000]\n[ Config ]\r\n[a]b] ; comment\r\n[Schedule000]\r\n");
    EXPECT_EQ(GetPrivateProfileSectionNames(path.c_str()),
              (Strings{"Schedule000", "Config", "a]b", "Schedule000"}));
}

TEST_F(PrivateProfileRead, AcceptsLfCrLfAndCrLineEndings) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path, "[A]\na=1\n[B]\rb=2\r[C]\r\nc=3");
    EXPECT_EQ(GetPrivateProfileString("A", "a", "", path.c_str()), "1");
    EXPECT_EQ(GetPrivateProfileString("B", "b", "", path.c_str()), "2");
    EXPECT_EQ(GetPrivateProfileString("C", "c", "", path.c_str()), "3");
}

TEST_F(PrivateProfileRead, MissingFileGivesDefaults) {
    const std::string path = PathOf("missing.ini");
    EXPECT_EQ(GetPrivateProfileString("Config", "ARIBFont", "font  ", path.c_str()), "font");
    EXPECT_EQ(GetPrivateProfileString("Config", "ARIBFont", nullptr, path.c_str()), "");
    EXPECT_EQ(GetPrivateProfileInt("Config", "EPGUpdateTime", 24, path.c_str()), 24);
    EXPECT_TRUE(GetPrivateProfileSectionNames(path.c_str()).empty());
    EXPECT_TRUE(GetPrivateProfileSection("Config", path.c_str()).empty());
    const std::u16string widePath = WidePathOf("missing/sub.ini");
    EXPECT_EQ(GetPrivateProfileString(u"A", u"B", u"既定", widePath.c_str()), u"既定");
    EXPECT_EQ(FileCount(), 0u);
}

TEST_F(PrivateProfileRead, AFolderOrNullPathReadsAsEmpty) {
    EXPECT_EQ(GetPrivateProfileString("A", "B", "d", folder.c_str()), "d");
    EXPECT_EQ(GetPrivateProfileString("A", "B", "d", static_cast<const char*>(nullptr)), "d");
    EXPECT_EQ(GetPrivateProfileInt(u"A", u"B", 7, nullptr), 7);
}

TEST_F(PrivateProfileRead, IntegersFollowTheWindowsReading) {
    const std::string path = PathOf("a.ini");
    WriteBytes(
        path,
        "[N]\r\n"
        "dec=42\r\nneg=  -7\r\nplus=+9\r\nhex=0x1F\r\nupper=0XfF\r\nbin=0b101\r\noct=0o17\r\n"
        "lead0=010\r\ntail=12abc\r\nnone=abc\r\nempty=\r\nquoted=\"5\"\r\n"
        "wrap=4294967295\r\nnegHex=-0x10\r\n");
    const auto read = [&](const char* key) {
        return GetPrivateProfileInt("N", key, -99, path.c_str());
    };
    EXPECT_EQ(read("dec"), 42);
    EXPECT_EQ(read("neg"), -7);
    EXPECT_EQ(read("plus"), 9);
    EXPECT_EQ(read("hex"), 31);
    EXPECT_EQ(read("upper"), 255);
    EXPECT_EQ(read("bin"), 5);
    EXPECT_EQ(read("oct"), 15);
    EXPECT_EQ(read("lead0"), 10);  // decimal: a leading zero does not mean octal here
    EXPECT_EQ(read("tail"), 12);
    EXPECT_EQ(read("none"), 0);
    EXPECT_EQ(read("empty"), -99);
    EXPECT_EQ(read("quoted"), 5);
    EXPECT_EQ(read("wrap"), -1);
    EXPECT_EQ(read("negHex"), -16);
    EXPECT_EQ(read("absent"), -99);
    EXPECT_EQ(GetPrivateProfileInt(u"n", u"UPPER", 0, WidePathOf("a.ini").c_str()), 255);
}

TEST_F(PrivateProfileRead, DoubleByteCharactersAreNotSplitOrFolded) {
    const std::string path = PathOf("a.ini");
    // 0x83 0x61 is one kana; its second byte must not fold to 'A'. 0x81 0x5D is a hyphen whose
    // second byte is ']'.
    WriteBytes(path,
               "[S]\r\n"
               "\x83\x61=kana\r\n"
               "[x\x81\x5D\r\n"
               "after=1\r\n"
               "[\x81\x5D]\r\n"
               "h=2\r\n");
    const char* file = path.c_str();
    EXPECT_EQ(GetPrivateProfileString("S", "\x83\x41", "none", file), "none");
    EXPECT_EQ(GetPrivateProfileString("S", "\x83\x61", "none", file), "kana");
    EXPECT_EQ(GetPrivateProfileString("S", "after", "", file), "1");
    EXPECT_EQ(GetPrivateProfileSectionNames(file), (Strings{"S", "\x81\x5D"}));
    EXPECT_EQ(GetPrivateProfileString(u"\u2010", u"h", u"", WidePathOf("a.ini").c_str()), u"2");
}
