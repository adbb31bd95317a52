#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/profile/PrivateProfile.h"
#include "platform/profile/tests/ProfileTestFiles.h"

using Strings = std::vector<std::string>;

class PrivateProfileWrite : public ProfileFileTest {};

namespace {

// A settings file as people edit them: a preamble, comments, blank lines, LF and CR LF endings,
// a line that is not a key, odd spacing and a last line without a line ending.
const char kEditedFile[] =
    "; settings\n"
    "[Config]\r\n"
    "ARIBFont = \"Font\"\r\n"
    "\t; keep me\r\n"
    "RecFolder1=/rec/\r\n"
    "stray text\r\n"
    "\r\n"
    "[GenreColor]\n"
    "0=0xC0FFFF\n"
    "\n"
    "[LastSetting]\r\n"
    "Position=1,2,3,4";

}  // namespace

TEST_F(PrivateProfileWrite, ChangingAKeyKeepsEveryOtherByte) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path, kEditedFile);
    ASSERT_TRUE(WritePrivateProfileString("config", "RECFOLDER1", "/tv/", path.c_str()));
    // The key keeps its spelling in the file; only its line changes.
    std::string expected = kEditedFile;
    expected.replace(expected.find("RecFolder1=/rec/"), 16, "RecFolder1=/tv/");
    EXPECT_EQ(ReadBytes(path), expected);

    ASSERT_TRUE(WritePrivateProfileString("Config", "ARIBFont", "Other", path.c_str()));
    expected.replace(expected.find("ARIBFont = \"Font\""), 17, "ARIBFont=Other");
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(PrivateProfileWrite, NewKeysFollowTheSectionsLastLineAndNewSectionsGoLast) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path, kEditedFile);
    ASSERT_TRUE(WritePrivateProfileString("GenreColor", "1", "0xF0FFC0", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("LastSetting", "LastTuner", "PT3", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("New", "k", "v", path.c_str()));
    std::string expected = kEditedFile;
    expected.replace(expected.find("0=0xC0FFFF\n"), 11, "0=0xC0FFFF\n1=0xF0FFC0\r\n");
    expected += "\r\nLastTuner=PT3\r\n[New]\r\nk=v\r\n";
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(GetPrivateProfileString("GenreColor", "1", "", path.c_str()), "0xF0FFC0");
}

TEST_F(PrivateProfileWrite, WritingIntoAMissingFileCreatesIt) {
    const std::string path = PathOf("new.ini");
    ASSERT_TRUE(WritePrivateProfileString("Config", "BonDriver", "1", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("Config", "MuteControl", "0", path.c_str()));
    EXPECT_EQ(ReadBytes(path), "[Config]\r\nBonDriver=1\r\nMuteControl=0\r\n");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST_F(PrivateProfileWrite, AnUnchangedValueLeavesTheFileAlone) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path, "[S]\r\nk = 1 \r\n");
    const ino_t before = InodeOf(path);
    ASSERT_TRUE(WritePrivateProfileString("S", "K", "1", path.c_str()));
    EXPECT_EQ(InodeOf(path), before);
    EXPECT_EQ(ReadBytes(path), "[S]\r\nk = 1 \r\n");
}

TEST_F(PrivateProfileWrite, NullValueDeletesTheKeyAndNullKeyTheSection) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path, "[A]\r\na=1\r\nb=2\r\nb=3\r\n\r\n[B]\r\n; c\r\nx=1\r\n\r\n[C]\r\nc=1\r\n");
    ASSERT_TRUE(WritePrivateProfileString("a", "B", nullptr, path.c_str()));
    // The first b goes; the second becomes the one that is read.
    EXPECT_EQ(ReadBytes(path), "[A]\r\na=1\r\nb=3\r\n\r\n[B]\r\n; c\r\nx=1\r\n\r\n[C]\r\nc=1\r\n");
    EXPECT_EQ(GetPrivateProfileString("A", "b", "", path.c_str()), "3");
    ASSERT_TRUE(WritePrivateProfileString("b", nullptr, nullptr, path.c_str()));
    EXPECT_EQ(ReadBytes(path), "[A]\r\na=1\r\nb=3\r\n\r\n[C]\r\nc=1\r\n");
    EXPECT_EQ(GetPrivateProfileSectionNames(path.c_str()), (Strings{"A", "C"}));
    ASSERT_TRUE(WritePrivateProfileString("C", nullptr, nullptr, path.c_str()));
    EXPECT_EQ(ReadBytes(path), "[A]\r\na=1\r\nb=3\r\n\r\n");
}

TEST_F(PrivateProfileWrite, DeletingWhatIsNotThereSucceedsWithoutAWrite) {
    const std::string missing = PathOf("missing.ini");
    EXPECT_TRUE(WritePrivateProfileString("S", "k", nullptr, missing.c_str()));
    EXPECT_TRUE(WritePrivateProfileString("S", nullptr, nullptr, missing.c_str()));
    EXPECT_EQ(FileCount(), 0u);
    EXPECT_FALSE(WritePrivateProfileString(nullptr, nullptr, nullptr, missing.c_str()));
}

TEST_F(PrivateProfileWrite, WritingASectionReplacesOnlyThatSection) {
    const std::string path = PathOf("a.ch");
    WriteBytes(path,
               "[UHF]\r\n0=\"NHK\",\"NHK\",1,13\r\n1=\"old\",\"old\",1,14\r\n; scan\r\n\r\n"
               "[BS]\r\n0=\"BS1\",\"BS\",1,0\r\n");
    ASSERT_TRUE(
        WritePrivateProfileSection("uhf", {"0=\"A\",\"B\",1,20", "  ", "1=x"}, path.c_str()));
    EXPECT_EQ(ReadBytes(path),
              "[UHF]\r\n0=\"A\",\"B\",1,20\r\n1=x\r\n\r\n[BS]\r\n0=\"BS1\",\"BS\",1,0\r\n");
    // Emptying keeps the header where it is.
    ASSERT_TRUE(WritePrivateProfileSection("UHF", {}, path.c_str()));
    EXPECT_EQ(ReadBytes(path), "[UHF]\r\n\r\n[BS]\r\n0=\"BS1\",\"BS\",1,0\r\n");
    EXPECT_TRUE(GetPrivateProfileSection("UHF", path.c_str()).empty());
    ASSERT_TRUE(WritePrivateProfileSection("CS", {"0=c"}, path.c_str()));
    EXPECT_EQ(GetPrivateProfileSectionNames(path.c_str()), (Strings{"UHF", "BS", "CS"}));
    EXPECT_EQ(GetPrivateProfileSection("CS", path.c_str()), (Strings{"0=c"}));
}

TEST_F(PrivateProfileWrite, EmptiedSectionThenKeysGivesTheChannelFileLayout) {
    const std::string path = PathOf("a.ch");
    ASSERT_TRUE(WritePrivateProfileSection("UHF", {}, path.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("UHF", "0", "\"a,b\",\"t\",1,0", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("UHF", "1", "\"c\",\"t\",1,1", path.c_str()));
    EXPECT_EQ(ReadBytes(path), "[UHF]\r\n0=\"a,b\",\"t\",1,0\r\n1=\"c\",\"t\",1,1\r\n");
    EXPECT_EQ(GetPrivateProfileString("UHF", "0", "", path.c_str()), "\"a,b\",\"t\",1,0");
}

TEST_F(PrivateProfileWrite, TextThatWouldReadBackDifferentlyIsRefused) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path, "[S]\r\nk=1\r\n");
    const char* file = path.c_str();
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "1\r\n[Injected]", file));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "line\nbreak", file));
    EXPECT_FALSE(WritePrivateProfileString("S", "a=b", "1", file));
    EXPECT_FALSE(WritePrivateProfileString("S", "[T]", "1", file));
    EXPECT_FALSE(WritePrivateProfileString("S", ";k", "1", file));
    EXPECT_FALSE(WritePrivateProfileString("S\n", "k", "1", file));
    EXPECT_FALSE(WritePrivateProfileSection("S", {"a=1", "[T]"}, file));
    EXPECT_FALSE(WritePrivateProfileSection("S", {"a=1\r\nb=2"}, file));
    EXPECT_EQ(ReadBytes(path), "[S]\r\nk=1\r\n");
    // A key may contain brackets after its first character, and a value anything on one line.
    EXPECT_TRUE(WritePrivateProfileString("S", "PT3 [1]", "[x]=;y", file));
    EXPECT_EQ(GetPrivateProfileString("S", "pt3 [1]", "", file), "[x]=;y");
}

TEST_F(PrivateProfileWrite, PermissionsAndSymbolicLinksAreKept) {
    const std::string target = PathOf("target.ini");
    const std::string link = PathOf("link.ini");
    WriteBytes(target, "[S]\r\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "v", link.c_str()));
    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadBytes(target), "[S]\r\nk=v\r\n");
    EXPECT_EQ(FileCount(), 2u);
}
