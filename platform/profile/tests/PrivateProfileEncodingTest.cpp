#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/profile/PrivateProfile.h"
#include "platform/profile/tests/ProfileTestFiles.h"

class PrivateProfileEncoding : public ProfileFileTest {};

namespace {

// "日本" and "テレビ" in code page 932.
const char kNihonCp932[] = "\x93\xFA\x96\x7B";
const char kTerebiCp932[] = "\x83\x65\x83\x8C\x83\x72";

}  // namespace

TEST_F(PrivateProfileEncoding, Utf16FileIsReadThroughBothForms) {
    const std::string path = PathOf("RecSchedule.ini");
    WriteBytes(path, Utf16File(u"[Schedule000]\r\nEvent=\"ニュース〜天気\"\r\nTSID=0x7FE0\r\n"
                               u"[schedule001]\r\nService=ＮＨＫ\r\n"));
    const std::u16string wide = WidePathOf("RecSchedule.ini");
    EXPECT_EQ(GetPrivateProfileSectionNames(wide.c_str()),
              (std::vector<std::u16string>{u"Schedule000", u"schedule001"}));
    EXPECT_EQ(GetPrivateProfileString(u"SCHEDULE000", u"event", u"", wide.c_str()),
              u"ニュース〜天気");
    EXPECT_EQ(GetPrivateProfileInt(u"Schedule000", u"TSID", 0, wide.c_str()), 0x7FE0);
    EXPECT_EQ(GetPrivateProfileSection(u"Schedule001", wide.c_str()),
              (std::vector<std::u16string>{u"Service=ＮＨＫ"}));
    // The narrow form converts to code page 932.
    EXPECT_EQ(GetPrivateProfileString("Schedule001", "Service", "", path.c_str()),
              "\x82\x6D\x82\x67\x82\x6A");
}

TEST_F(PrivateProfileEncoding, WritesKeepAUtf16FileUtf16WithItsByteOrderMark) {
    const std::string path = PathOf("RecSchedule.ini");
    const std::u16string original = u"[Schedule000]\r\nFolder=/録画/\r\nEvent=番組\n";
    WriteBytes(path, Utf16File(original));
    const std::u16string wide = WidePathOf("RecSchedule.ini");
    ASSERT_TRUE(WritePrivateProfileString(u"Schedule000", u"Event", u"映画〜", wide.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("Schedule000", "Service", kTerebiCp932, path.c_str()));
    ASSERT_TRUE(WritePrivateProfileSection(u"Schedule001", {u"Tuner=チューナー"}, wide.c_str()));
    EXPECT_EQ(ReadBytes(path),
              Utf16File(u"[Schedule000]\r\nFolder=/録画/\r\nEvent=映画〜\nService=テレビ\r\n"
                        u"[Schedule001]\r\nTuner=チューナー\r\n"));
    ASSERT_TRUE(WritePrivateProfileString(u"Schedule000", nullptr, nullptr, wide.c_str()));
    EXPECT_EQ(ReadBytes(path), Utf16File(u"[Schedule001]\r\nTuner=チューナー\r\n"));
}

TEST_F(PrivateProfileEncoding, Utf16FileWithOddLengthKeepsItsLastByte) {
    const std::string path = PathOf("odd.ini");
    WriteBytes(path, Utf16File(u"[S]\r\n") + "\x41");
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "v", path.c_str()));
    EXPECT_EQ(ReadBytes(path), Utf16File(u"[S]\r\nk=v\r\n") + "\x41");
}

TEST_F(PrivateProfileEncoding, NarrowFileWithJapaneseIsConvertedForTheWideForm) {
    const std::string path = PathOf("Orvanta.ini");
    const std::string original = std::string("[Config]\r\nARIBFont=") + kNihonCp932 + "\r\n[" +
                                 kTerebiCp932 + "]\r\n" + kNihonCp932 + "=1\r\n";
    WriteBytes(path, original);
    const std::u16string wide = WidePathOf("Orvanta.ini");
    EXPECT_EQ(GetPrivateProfileString(u"config", u"aribfont", u"", wide.c_str()), u"日本");
    EXPECT_EQ(GetPrivateProfileSectionNames(wide.c_str()),
              (std::vector<std::u16string>{u"Config", u"テレビ"}));
    EXPECT_EQ(GetPrivateProfileInt(u"テレビ", u"日本", 0, wide.c_str()), 1);
    // A wide write stores code page 932 and leaves the file narrow.
    ASSERT_TRUE(WritePrivateProfileString(u"テレビ", u"日本", u"テレビ", wide.c_str()));
    EXPECT_EQ(ReadBytes(path), std::string("[Config]\r\nARIBFont=") + kNihonCp932 + "\r\n[" +
                                   kTerebiCp932 + "]\r\n" + kNihonCp932 + "=" + kTerebiCp932 +
                                   "\r\n");
}

TEST_F(PrivateProfileEncoding, ANewFileIsNarrowUnlessCreatedAsUnicode) {
    const std::u16string narrowFile = WidePathOf("narrow.ini");
    ASSERT_TRUE(WritePrivateProfileString(u"S", u"k", u"日本", narrowFile.c_str()));
    EXPECT_EQ(ReadBytes(PathOf("narrow.ini")), std::string("[S]\r\nk=") + kNihonCp932 + "\r\n");

    const std::u16string unicodeFile = WidePathOf("unicode.ini");
    ASSERT_TRUE(CreateUnicodeProfileFile(unicodeFile.c_str()));
    EXPECT_EQ(ReadBytes(PathOf("unicode.ini")), "\xFF\xFE");
    ASSERT_TRUE(WritePrivateProfileString(u"S", u"k", u"日本🎌", unicodeFile.c_str()));
    EXPECT_EQ(ReadBytes(PathOf("unicode.ini")), Utf16File(u"[S]\r\nk=日本🎌\r\n"));
    EXPECT_EQ(GetPrivateProfileString(u"S", u"k", u"", unicodeFile.c_str()), u"日本🎌");

    // An existing file keeps its encoding; an empty one becomes UTF-16.
    ASSERT_TRUE(CreateUnicodeProfileFile(PathOf("narrow.ini").c_str()));
    EXPECT_EQ(ReadBytes(PathOf("narrow.ini")), std::string("[S]\r\nk=") + kNihonCp932 + "\r\n");
    WriteBytes(PathOf("empty.ini"), "");
    ASSERT_TRUE(CreateUnicodeProfileFile(PathOf("empty.ini").c_str()));
    EXPECT_EQ(ReadBytes(PathOf("empty.ini")), "\xFF\xFE");
}

TEST_F(PrivateProfileEncoding, CharactersWithoutACp932CodeBecomeQuestionMarksInNarrowFiles) {
    const std::u16string file = WidePathOf("a.ini");
    ASSERT_TRUE(WritePrivateProfileString(u"S", u"k", u"a🎌b", file.c_str()));
    EXPECT_EQ(ReadBytes(PathOf("a.ini")), "[S]\r\nk=a?b\r\n");
}
