#include <gtest/gtest.h>

#include <unistd.h>

#include "app/stores/CSettings.h"
#include "core/CodePage.h"
#include "platform/profile/tests/ProfileTestFiles.h"

namespace {

class SettingsTest : public ProfileFileTest {
protected:
    ICWString FilePath() const {
        ICWString path;
        path.SetUtf8(PathOf("orvanta.ini"));
        return path;
    }

    void WriteNarrow(std::u16string_view text) const {
        WriteBytes(PathOf("orvanta.ini"), Utf16ToCp932(text));
    }

    COwnedList<CTuner> tuners;
};

TEST_F(SettingsTest, WithoutAFileEveryOptionHasItsDefault) {
    CSettings settings;
    settings.LoadSettings(FilePath());
    EXPECT_TRUE(settings.bonDriver);
    EXPECT_FALSE(settings.bdaTuner);
    EXPECT_TRUE(settings.muteControl);
    EXPECT_EQ(settings.epgUpdateTime, CSettings::kNoEpgUpdate);
    for (const ICWString& folder : settings.recFolders) {
        EXPECT_TRUE(folder.IsEmpty());
    }
    EXPECT_TRUE(settings.aribFont == u"和田研中丸ゴシック2004絵文字");
    EXPECT_EQ(settings.firstIgnoreTime, 500);
    EXPECT_EQ(settings.streamOffset, 1000);
    EXPECT_EQ(settings.genreColors[0], 0xC0FFFFu);
    EXPECT_EQ(settings.genreColors[10], 0xFFE0C0u);
    EXPECT_EQ(settings.genreColors[15], 0xE0E0C0u);
    // The driver folder is made absolute against the current folder.
    char current[4096];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    EXPECT_EQ(settings.bonDriverFolder.GetUtf8(), std::string(current) + "/BonDriver");
    EXPECT_FALSE(std::filesystem::exists(PathOf("orvanta.ini")));
}

TEST_F(SettingsTest, ValuesAreReadWithTheirCorrections) {
    const struct {
        const char16_t* line;
        ICWString CSettings::*text;
        const char16_t* expected;
    } folders[] = {
        {u"RecFolder1=/rec", nullptr, u"/rec/"},
        {u"RecFolder1=/rec/", nullptr, u"/rec/"},
        {u"RecFolder1=D:", nullptr, u"D:"},
        {u"RecFolder1=", nullptr, u""},
        {u"MPEG2Decoder=\"  video decoder  \"", &CSettings::mpeg2Decoder, u"  video decoder  "},
    };
    for (const auto& test : folders) {
        WriteNarrow(u"[Config]\r\n" + std::u16string(test.line) + u"\r\n");
        CSettings settings;
        settings.LoadSettings(FilePath());
        const ICWString& value = test.text ? settings.*test.text : settings.recFolders[0];
        EXPECT_TRUE(value == test.expected) << value.GetUtf8();
    }
    const struct {
        const char16_t* value;
        int32_t hour;
    } hours[] = {{u"30", 24}, {u"-1", 24}, {u"0", 0}, {u"23", 23}, {u"24", 24}, {u"x", 0}};
    for (const auto& test : hours) {
        WriteNarrow(u"[Config]\r\nEPGUpdateTime=" + std::u16string(test.value) + u"\r\n");
        CSettings settings;
        settings.LoadSettings(FilePath());
        EXPECT_EQ(settings.epgUpdateTime, test.hour) << ICWString(test.value).GetUtf8();
    }
}

TEST_F(SettingsTest, SavingWritesConfigAndReplacesLastSettingByteForByte) {
    WriteNarrow(
        u"[Config]\r\n"
        u"BonDriver=0\r\n"
        u"BDATuner=1\r\n"
        u"BonDriverFolder=drivers\r\n"
        u"[GenreColor]\r\n"
        u"3=0x123456\r\n"
        u"[LastSetting]\r\n"
        u"Old Tuner=old channel\r\n");
    CSettings settings;
    settings.LoadSettings(FilePath());
    EXPECT_FALSE(settings.bonDriver);
    EXPECT_TRUE(settings.bdaTuner);
    EXPECT_EQ(settings.genreColors[3], 0x123456u);
    EXPECT_TRUE(settings.GetLastChannel(u"Old Tuner") == u"old channel");

    settings.recFolders[1] = u"/mnt/録画/";
    settings.epgUpdateTime = 4;
    settings.freeRecord = true;
    settings.position = {10, 20, 970, 560};
    settings.lastTuner = u"PT3 T1";
    auto* tuner = tuners.Add(new CTuner());
    tuner->displayName = u"PT3 T1";
    auto* space = tuner->tuningSpaces.Add(new CTuningSpace(tuner));
    tuner->currentChannel = space->channels.Add(new CChannelInfo(space));
    tuner->currentChannel->name = u"ＮＨＫ総合";
    tuners.Add(new CTuner())->displayName = u"idle";  // no current channel: not remembered
    ASSERT_TRUE(settings.SaveSettings(FilePath(), tuners));

    EXPECT_EQ(ReadBytes(PathOf("orvanta.ini")),
              Utf16ToCp932(u"[Config]\r\n"
                           u"BonDriver=0\r\n"
                           u"BDATuner=1\r\n"
                           u"BonDriverFolder=drivers\r\n"
                           u"ARIBFont=和田研中丸ゴシック2004絵文字\r\n"
                           u"RecFolder1=\r\n"
                           u"RecFolder2=/mnt/録画/\r\n"
                           u"RecFolder3=\r\n"
                           u"RecFolder4=\r\n"
                           u"MuteControl=1\r\n"
                           u"EPGUpdateTime=4\r\n"
                           u"UpdateCheck=1\r\n"
                           u"ScanSignalLevel=1\r\n"
                           u"FreeRecord=1\r\n"
                           u"DeleteOldFile=1\r\n"
                           u"RecordwoVideo=0\r\n"
                           u"MPEG2Decoder=Orvanta Video Decoder\r\n"
                           u"AACDecoder=Orvanta Audio Decoder\r\n"
                           u"FirstIgnoreTime=500\r\n"
                           u"StreamOffset=1000\r\n"
                           u"EPGTuningSpace=0\r\n"
                           u"[GenreColor]\r\n"
                           u"3=0x123456\r\n"
                           u"[LastSetting]\r\n"
                           u"Position=10,20,970,560\r\n"
                           u"PT3 T1=ＮＨＫ総合\r\n"
                           u"LastTuner=PT3 T1\r\n"));

    CSettings loaded;
    loaded.LoadSettings(FilePath());
    EXPECT_TRUE(loaded.recFolders[1] == u"/mnt/録画/");
    EXPECT_EQ(loaded.epgUpdateTime, 4);
    EXPECT_TRUE(loaded.freeRecord);
    EXPECT_EQ(loaded.position, (std::array<int32_t, 4>{10, 20, 970, 560}));
    EXPECT_TRUE(loaded.lastTuner == u"PT3 T1");
    EXPECT_TRUE(loaded.GetLastChannel(u"PT3 T1") == u"ＮＨＫ総合");
    EXPECT_TRUE(loaded.GetLastChannel(u"Old Tuner").IsEmpty());
}

TEST(SettingsFileName, IsTheExecutableNameWithIniInTheDataFolder) {
    EXPECT_TRUE(CSettings::FileName(u"/opt/orvanta/Data", u"/opt/orvanta/orvanta") ==
                u"/opt/orvanta/Data/orvanta.ini");
    EXPECT_TRUE(CSettings::FileName(u"/opt/orvanta/Data/", u"/opt/orvanta.bin/Orvanta.exe") ==
                u"/opt/orvanta/Data/Orvanta.ini");
}

}  // namespace
