#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/ICString.h"
#include "core/ICStringList.h"
#include "core/ICWString.h"
#include "core/ICWStringList.h"
#include "platform/profile/tests/ProfileTestFiles.h"

class ICWStringProfile : public ProfileFileTest {
protected:
    // A file name with Japanese characters, stored as UTF-8 on the disk.
    ICWString FileNamed(const char16_t* name) const {
        ICWString path;
        path.SetUtf8(folder.string());
        path.AddSeparator();
        path.Append(name);
        return path;
    }
};

TEST_F(ICWStringProfile, NarrowOverloadsReadAndWriteACp932SettingsFile) {
    const ICWString file = FileNamed(u"設定.ini");
    // "日本" in code page 932.
    const char nihon[] = "\x93\xFA\x96\x7B";
    EXPECT_STREQ(file.GetProfileString("Config", "ARIBFont", nihon).GetText(), nihon);
    EXPECT_EQ(file.GetProfileInt("Config", "EPGUpdateTime", 24), 24);
    ASSERT_TRUE(file.WriteProfileString("Config", "ARIBFont", nihon));
    ASSERT_TRUE(file.WriteProfileString("Config", "FirstIgnoreTime", "0x1F4"));
    EXPECT_STREQ(file.GetProfileString("config", "aribfont").GetText(), nihon);
    EXPECT_EQ(file.GetProfileInt("CONFIG", "firstignoretime", 0), 500);
    EXPECT_EQ(ReadBytes(file.GetUtf8()),
              std::string("[Config]\r\nARIBFont=") + nihon + "\r\nFirstIgnoreTime=0x1F4\r\n");
    EXPECT_TRUE(std::filesystem::exists(folder / u8"設定.ini"));

    ICStringList lines;
    lines.AddString("Position=1,2,3,4");
    lines.AddString("LastTuner=PT3");
    ASSERT_TRUE(file.WriteProfileSection("LastSetting", lines));
    ICStringList read;
    read.AddString("stale");
    ASSERT_EQ(file.GetProfileSection("LastSetting", read), 2);
    EXPECT_STREQ(read.GetStringAt(0)->GetText(), "Position=1,2,3,4");
    EXPECT_STREQ(read.GetStringAt(1)->GetText(), "LastTuner=PT3");
    ICStringList names;
    ASSERT_EQ(file.GetProfileSectionNames(names), 2);
    EXPECT_STREQ(names.GetStringAt(1)->GetText(), "LastSetting");
    ASSERT_TRUE(file.WriteProfileString("LastSetting", nullptr, nullptr));
    EXPECT_EQ(file.GetProfileSectionNames(names), 1);
}

TEST_F(ICWStringProfile, WideOverloadsKeepAUnicodeFileUnicode) {
    const ICWString file = FileNamed(u"RecSchedule.ini");
    ASSERT_TRUE(file.CreateUnicodeProfile());
    ASSERT_TRUE(file.WriteProfileString(u"Schedule000", u"Event", u"ニュース〜"));
    ASSERT_TRUE(file.WriteProfileString(u"Schedule000", u"TSID", u"0x7FE0"));
    ICWStringList section;
    section.AddString(u"Tuner=チューナー");
    ASSERT_TRUE(file.WriteProfileSection(u"Schedule001", section));
    EXPECT_EQ(ReadBytes(file.GetUtf8()),
              Utf16File(u"[Schedule000]\r\nEvent=ニュース〜\r\nTSID=0x7FE0\r\n"
                        u"[Schedule001]\r\nTuner=チューナー\r\n"));

    ICWStringList names;
    names.AddString(u"stale");
    ASSERT_EQ(file.GetProfileSectionNames(names), 2);
    EXPECT_TRUE(names.GetStringAt(0)->IsEqual(u"Schedule000"));
    EXPECT_TRUE(names.GetStringAt(1)->IsEqual(u"Schedule001"));
    ICWStringList lines;
    ASSERT_EQ(file.GetProfileSection(u"schedule000", lines), 2);
    EXPECT_TRUE(lines.GetStringAt(0)->IsEqual(u"Event=ニュース〜"));
    EXPECT_EQ(file.GetProfileInt(u"Schedule000", u"TSID", 0), 0x7FE0);
    EXPECT_TRUE(file.GetProfileString(u"Schedule000", u"Missing", u"x").IsEqual(u"x"));
    EXPECT_EQ(file.GetProfileSection(u"None", lines), 0);
    // The narrow overloads read the same file, converted to code page 932.
    EXPECT_EQ(std::u16string(file.GetProfileString("Schedule001", "Tuner").GetWide()),
              u"チューナー");
}

TEST_F(ICWStringProfile, LongValuesComeBackWhole) {
    const ICWString file = FileNamed(u"long.ini");
    const std::u16string value(5000, u'録');
    ASSERT_TRUE(file.WriteProfileString(u"S", u"k", value.c_str()));
    EXPECT_EQ(file.GetProfileString(u"S", u"k").GetView(), value);
    EXPECT_EQ(file.GetProfileString("S", "k").GetLength(), 10000);
}

TEST_F(ICWStringProfile, AnEmptyPathReadsDefaultsAndCannotBeWritten) {
    const ICWString file;
    EXPECT_TRUE(file.GetProfileString(u"S", u"k", u"d").IsEqual(u"d"));
    EXPECT_EQ(file.GetProfileInt("S", "k", 3), 3);
    EXPECT_FALSE(file.WriteProfileString(u"S", u"k", u"v"));
    ICWStringList names;
    EXPECT_EQ(file.GetProfileSectionNames(names), 0);
}
