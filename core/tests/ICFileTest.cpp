#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/CodePage.h"
#include "core/ICFile.h"
#include "core/ICWinError.h"

namespace {

class ICFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "icfile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(folder, ignored);
    }

    std::string PathOf(const std::string& name) const { return (folder / name).string(); }

    void Put(const std::string& name, const std::string& bytes) const {
        std::ofstream out(PathOf(name), std::ios::binary);
        out << bytes;
    }

    std::string Get(const std::string& name) const {
        std::ifstream in(PathOf(name), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    std::filesystem::path folder;
};

}  // namespace

TEST_F(ICFileTest, MissingFileAndMissingFolderAreToldApart) {
    ICFile missing(ICFile::kModeRead, PathOf("none.ts").c_str());
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.GetHandle(), -1);
    EXPECT_EQ(missing.GetLastError(), kErrorFileNotFound);

    ICFile noFolder(ICFile::kModeRead, PathOf("none/a.ts").c_str());
    EXPECT_EQ(noFolder.GetLastError(), kErrorPathNotFound);
    ICFile noFolderWrite(ICFile::kModeWrite, PathOf("none/a.ts").c_str());
    EXPECT_EQ(noFolderWrite.GetLastError(), kErrorPathNotFound);
    EXPECT_EQ(noFolderWrite.Read(nullptr, 0), -1);
    EXPECT_EQ(noFolderWrite.GetLastError(), kErrorInvalidHandle);
}

TEST_F(ICFileTest, InvalidModeIsRefused) {
    Put("a.txt", "x");
    ICFile file(4, PathOf("a.txt").c_str());
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetLastError(), kErrorInvalidParameter);
    EXPECT_FALSE(file.Open(-1, PathOf("a.txt").c_str()));
    EXPECT_EQ(file.GetLastError(), kErrorInvalidParameter);
    EXPECT_FALSE(file.Open(ICFile::kModeRead, static_cast<const char*>(nullptr)));
    EXPECT_EQ(file.GetLastError(), kErrorInvalidParameter);
}

TEST_F(ICFileTest, FolderIsNotAFile) {
    ICFile file(ICFile::kModeRead, folder.string().c_str());
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetLastError(), kErrorAccessDenied);
}

TEST_F(ICFileTest, UnreadableFileIsAccessDenied) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    Put("secret.txt", "x");
    ASSERT_EQ(chmod(PathOf("secret.txt").c_str(), 0), 0);
    ICFile file(ICFile::kModeRead, PathOf("secret.txt").c_str());
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetLastError(), kErrorAccessDenied);
}

TEST_F(ICFileTest, WriteModeEmptiesOrCreates) {
    Put("old.txt", "previous contents");
    {
        ICFile file(ICFile::kModeWrite, PathOf("old.txt").c_str());
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(file.GetSize(), 0);
        EXPECT_EQ(file.Write("new", 3), 3);
        EXPECT_EQ(file.ReadByte(), -1);  // not opened for reading
        EXPECT_EQ(file.GetLastError(), kErrorAccessDenied);
    }
    EXPECT_EQ(Get("old.txt"), "new");
    {
        ICFile file(ICFile::kModeWrite, PathOf("fresh.txt").c_str());
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(file.GetLastError(), 0u);
    }
    EXPECT_TRUE(std::filesystem::exists(PathOf("fresh.txt")));
}

TEST_F(ICFileTest, ReadWriteModeOpensOrCreatesWithoutTruncating) {
    Put("rw.bin", "abcdef");
    {
        ICFile file(ICFile::kModeReadWrite, PathOf("rw.bin").c_str());
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(file.Seek(2, ICFile::kSeekBegin), 2);
        EXPECT_EQ(file.WriteByte('X'), 1);
        EXPECT_EQ(file.ReadByte(), 'd');
        EXPECT_EQ(file.GetSize(), 6);
    }
    EXPECT_EQ(Get("rw.bin"), "abXdef");
    ICFile created(ICFile::kModeReadWrite, PathOf("new.bin").c_str());
    EXPECT_TRUE(created.IsOpen());
}

TEST_F(ICFileTest, AppendModeWritesAtTheEnd) {
    Put("log.txt", "one\n");
    {
        ICFile file(ICFile::kModeAppend, PathOf("log.txt").c_str());
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(file.Tell(), 4);
        EXPECT_EQ(file.WriteText("two\n", false), 4);
    }
    {
        ICFile file(ICFile::kModeAppend, PathOf("other.txt").c_str());
        EXPECT_EQ(file.WriteFormat("%d-%s", 7, "x"), 3);
    }
    EXPECT_EQ(Get("log.txt"), "one\ntwo\n");
    EXPECT_EQ(Get("other.txt"), "7-x");
}

TEST_F(ICFileTest, ReadLineDropsCarriageReturns) {
    Put("lines.txt", "abc\r\ndef");
    ICFile file(ICFile::kModeRead, PathOf("lines.txt").c_str());
    ICString line;
    EXPECT_EQ(file.ReadLine(line), 3);
    EXPECT_STREQ(line.GetText(), "abc");
    EXPECT_EQ(file.Tell(), 5);  // the block read was put back after the line feed
    EXPECT_EQ(file.ReadLine(line), 3);
    EXPECT_STREQ(line.GetText(), "def");
    EXPECT_EQ(file.ReadLine(line), -1);
    EXPECT_STREQ(line.GetText(), "");
}

TEST_F(ICFileTest, ReadLineOverLongLinesAndEmptyLines) {
    std::string longLine(1500, 'z');
    Put("long.txt", longLine + "\n\nend\n");
    ICFile file(ICFile::kModeRead, PathOf("long.txt").c_str());
    ICString line;
    EXPECT_EQ(file.ReadLine(line), 1500);
    EXPECT_EQ(std::string(line.GetText()), longLine);
    EXPECT_EQ(file.ReadLine(line), 0);
    EXPECT_EQ(file.ReadLine(line), 3);
    EXPECT_EQ(file.ReadLine(line), -1);
}

TEST_F(ICFileTest, WideLinesAndStrings) {
    {
        ICFile file(ICFile::kModeWrite, PathOf("wide.txt").c_str());
        EXPECT_EQ(file.WriteText(u"\uFEFF番組\r\n", false), 10);
        EXPECT_EQ(file.WriteWString(ICWString(u"x"), true), 4);
        EXPECT_EQ(file.WriteWString(ICWString(), true), 2);
        EXPECT_EQ(file.WriteWFormat(u"%d:%s", 5, u"終"), 6);
    }
    EXPECT_EQ(Get("wide.txt").substr(0, 4), std::string("\xFF\xFE\x6A\x75", 4));
    ICFile file(ICFile::kModeRead, PathOf("wide.txt").c_str());
    EXPECT_EQ(file.ReadUInt16(false), 0xFEFF);
    ICWString text;
    EXPECT_EQ(file.ReadWLine(text), 2);
    EXPECT_EQ(std::u16string(text.GetText()), u"番組");
    EXPECT_EQ(file.ReadWString(text), 1);
    EXPECT_EQ(std::u16string(text.GetText()), u"x");
    EXPECT_EQ(file.ReadWString(text), 0);
    EXPECT_EQ(file.ReadWString(text), 3);
    EXPECT_EQ(std::u16string(text.GetText()), u"5:終");
    EXPECT_EQ(file.ReadWString(text), -1);
}

TEST_F(ICFileTest, NarrowStringsWithTerminators) {
    {
        ICFile file(ICFile::kModeWrite, PathOf("s.bin").c_str());
        EXPECT_EQ(file.WriteString(ICString("ab"), true), 3);
        EXPECT_EQ(file.WriteString(ICString(), true), 1);
        EXPECT_EQ(file.WriteString(ICString(), false), 0);
        EXPECT_EQ(file.WriteText("cd;ef", false), 5);
    }
    EXPECT_EQ(Get("s.bin"), std::string("ab\0\0cd;ef", 9));
    ICFile file(ICFile::kModeRead, PathOf("s.bin").c_str());
    ICString text;
    EXPECT_EQ(file.ReadString(text), 2);
    EXPECT_EQ(file.ReadString(text), 0);
    EXPECT_EQ(file.ReadString(text, ';'), 2);
    EXPECT_STREQ(text.GetText(), "cd");
    EXPECT_EQ(file.ReadString(text, ';'), 2);
    EXPECT_STREQ(text.GetText(), "ef");
    EXPECT_EQ(file.ReadString(text, ';'), -1);
}

TEST_F(ICFileTest, TypedReadsAndWritesInBothByteOrders) {
    {
        ICFile file(ICFile::kModeWrite, PathOf("n.bin").c_str());
        EXPECT_EQ(file.WriteUInt16(0x1234, true), 2);
        EXPECT_EQ(file.WriteUInt16(0x1234, false), 2);
        EXPECT_EQ(file.WriteUInt32(0x89ABCDEF, true), 4);
        EXPECT_EQ(file.WriteUInt32(0x89ABCDEF, false), 4);
        EXPECT_EQ(file.WriteByte(0x7F), 1);
    }
    EXPECT_EQ(Get("n.bin"),
              std::string("\x12\x34\x34\x12\x89\xAB\xCD\xEF\xEF\xCD\xAB\x89\x7F", 13));
    ICFile file(ICFile::kModeRead, PathOf("n.bin").c_str());
    EXPECT_EQ(file.ReadUInt16(true), 0x1234);
    EXPECT_EQ(file.ReadUInt16(false), 0x1234);
    EXPECT_EQ(file.ReadUInt32(true), int64_t(0x89ABCDEF));
    EXPECT_EQ(file.ReadUInt32(false), int64_t(0x89ABCDEF));
    EXPECT_EQ(file.ReadUInt16(true), -1);  // one byte left
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_EQ(file.GetLastError(), 0u);  // the end of a file is not an error
}

TEST_F(ICFileTest, SeekTellAndSize) {
    Put("seek.bin", "0123456789");
    ICFile file(ICFile::kModeRead, PathOf("seek.bin").c_str());
    EXPECT_EQ(file.GetSize(), 10);
    EXPECT_EQ(file.Seek(-3, ICFile::kSeekEnd), 7);
    EXPECT_EQ(file.ReadByte(), '7');
    EXPECT_EQ(file.Seek(-2, ICFile::kSeekCurrent), 6);
    EXPECT_EQ(file.Tell(), 6);
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, 8), 4);
    EXPECT_STREQ(buffer, "6789");
    EXPECT_EQ(file.Read(buffer, 0), 0);
    EXPECT_EQ(file.Read(buffer, 1), 0);
    EXPECT_EQ(file.Seek(-1, ICFile::kSeekBegin), -1);
    EXPECT_EQ(file.GetLastError(), kErrorNegativeSeek);
    EXPECT_EQ(file.Seek(0, 7), -1);
    EXPECT_EQ(file.GetLastError(), kErrorInvalidParameter);
    EXPECT_EQ(file.Seek(int64_t(5) << 32, ICFile::kSeekBegin), int64_t(5) << 32);
}

TEST_F(ICFileTest, NamesInCodePage932AndUtf16) {
    std::u16string name = u"録画予約.txt";
    std::string utf8 = Utf16ToUtf8(name);
    Put(utf8, "x");
    ICFile narrow(ICFile::kModeRead, PathOf(Utf16ToCp932(name)).c_str());
    EXPECT_TRUE(narrow.IsOpen());
    std::u16string wide = Utf8ToUtf16(PathOf(utf8));
    ICFile wideFile(ICFile::kModeRead, wide.c_str());
    EXPECT_TRUE(wideFile.IsOpen());
    EXPECT_EQ(wideFile.ReadByte(), 'x');
}

TEST_F(ICFileTest, ClosedFileReportsInvalidHandle) {
    ICFile file;
    EXPECT_EQ(file.Write("x", 1), -1);
    EXPECT_EQ(file.GetLastError(), kErrorInvalidHandle);
    EXPECT_EQ(file.GetSize(), -1);
    EXPECT_EQ(file.Tell(), -1);
    ICString line;
    EXPECT_EQ(file.ReadLine(line), -1);
}

TEST(ICWinError, MapsErrnoValues) {
    EXPECT_EQ(ICWinErrorFromErrno(0), 0u);
    EXPECT_EQ(ICWinErrorFromErrno(ENOENT), kErrorFileNotFound);
    EXPECT_EQ(ICWinErrorFromErrno(ENOTDIR), kErrorPathNotFound);
    EXPECT_EQ(ICWinErrorFromErrno(EACCES), kErrorAccessDenied);
    EXPECT_EQ(ICWinErrorFromErrno(EBADF), kErrorInvalidHandle);
    EXPECT_EQ(ICWinErrorFromErrno(EINVAL), kErrorInvalidParameter);
    EXPECT_EQ(ICWinErrorFromErrno(ENOSPC), kErrorDiskFull);
    EXPECT_EQ(ICWinErrorFromErrno(EEXIST), kErrorFileExists);
    EXPECT_EQ(ICWinErrorFromErrno(ENAMETOOLONG), kErrorFilenameTooLong);
    EXPECT_EQ(ICWinErrorFromErrno(EIO), kErrorIoDevice);
    EXPECT_EQ(ICWinErrorFromErrno(12345), kErrorGenFailure);
}

TEST(ICWinError, EveryNumberHasAMessage) {
    for (uint32_t error : {kErrorFileNotFound, kErrorPathNotFound, kErrorAccessDenied,
                           kErrorInvalidHandle, kErrorInvalidParameter, kErrorDiskFull}) {
        EXPECT_STRNE(ICWinErrorMessage(error), ICWinErrorMessage(0xDEAD)) << error;
    }
    EXPECT_STREQ(ICWinErrorMessage(kErrorFileNotFound),
                 "The system cannot find the file specified.");
    EXPECT_NE(ICWinErrorMessage(0xDEAD), nullptr);
}
