#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "platform/profile/PrivateProfile.h"
#include "platform/profile/tests/ProfileTestFiles.h"

class PrivateProfileFailure : public ProfileFileTest {};

namespace {

const char kOriginal[] = "[Config]\r\nRecFolder1=/rec/\r\n";

}  // namespace

TEST_F(PrivateProfileFailure, ReadOnlyFolderFailsAndLeavesTheFile) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders";
    }
    const std::string path = PathOf("a.ini");
    WriteBytes(path, kOriginal);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    EXPECT_FALSE(WritePrivateProfileString("Config", "RecFolder1", "/tv/", path.c_str()));
    EXPECT_FALSE(WritePrivateProfileString("Config", nullptr, nullptr, path.c_str()));
    EXPECT_FALSE(WritePrivateProfileSection("Config", {"a=1"}, path.c_str()));
    EXPECT_FALSE(WritePrivateProfileString("Config", "New", "1", PathOf("new.ini").c_str()));
    EXPECT_FALSE(CreateUnicodeProfileFile(PathOf("new.ini").c_str()));
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    EXPECT_EQ(ReadBytes(path), kOriginal);
    EXPECT_EQ(FileCount(), 1u);
    EXPECT_EQ(GetPrivateProfileString("Config", "RecFolder1", "", path.c_str()), "/rec/");
}

TEST_F(PrivateProfileFailure, AFileThatCannotBeReadIsNotOverwritten) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    const std::string path = PathOf("a.ini");
    WriteBytes(path, kOriginal);
    ASSERT_EQ(chmod(path.c_str(), 0200), 0);
    EXPECT_EQ(GetPrivateProfileString("Config", "RecFolder1", "d", path.c_str()), "d");
    EXPECT_FALSE(WritePrivateProfileString("Config", "Other", "1", path.c_str()));
    EXPECT_FALSE(CreateUnicodeProfileFile(path.c_str()));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(ReadBytes(path), kOriginal);
}

TEST_F(PrivateProfileFailure, AFolderInPlaceOfTheFileFails) {
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", folder.c_str()));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", PathOf("no/such/folder.ini").c_str()));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", static_cast<const char*>(nullptr)));
    EXPECT_FALSE(WritePrivateProfileString(u"S", u"k", u"v", nullptr));
}

// A write that runs out of space (here: the file-size limit) fails, leaves the old file and no
// temporary file behind.
TEST_F(PrivateProfileFailure, ADiskFullWriteFailsAndKeepsTheOldFile) {
    const std::string path = PathOf("a.ini");
    WriteBytes(path, kOriginal);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string longValue(1000, 'x');
    const bool written =
        WritePrivateProfileString("Config", "RecFolder2", longValue.c_str(), path.c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(path), kOriginal);
    EXPECT_EQ(FileCount(), 1u);
}
