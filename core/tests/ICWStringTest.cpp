#include "core/ICWString.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/ICString.h"
#include "core/ICWinError.h"

namespace fs = std::filesystem;

namespace {

std::u16string View(const ICWString& text) {
    return std::u16string(text.GetView());
}

TEST(ICWString, EmptyStringsHandOutAnEmptyTextNeverNull) {
    ICWString empty;
    ASSERT_NE(empty.GetText(), nullptr);
    EXPECT_EQ(empty.GetText()[0], u'\0');
    EXPECT_EQ(empty.GetLength(), 0);
    EXPECT_STREQ(empty.GetNarrow(), "");
    ICWString text(u"abc");
    text.Set(static_cast<const char16_t*>(nullptr));
    EXPECT_TRUE(text.IsEmpty());
    text.Set(u"x");
    text.Set(u"");
    EXPECT_TRUE(text.IsEmpty());
}

TEST(ICWString, ConvertsFromAndToCodePage932) {
    ICWString text("\x83\x65\x83\x58\x83\x67\x5c\x81\x60");  // テスト\～
    EXPECT_EQ(View(text), u"テスト\\\uFF5E");
    EXPECT_STREQ(text.GetNarrow(), "\x83\x65\x83\x58\x83\x67\x5c\x81\x60");
    text.Append(u"あ");
    EXPECT_STREQ(text.GetNarrow(), "\x83\x65\x83\x58\x83\x67\x5c\x81\x60\x82\xa0");
    text.Set(u"\U0001F600");  // nothing in code page 932: one '?'
    EXPECT_STREQ(text.GetNarrow(), "?");
    EXPECT_EQ(View(ICWString(ICString("abc"))), u"abc");
}

TEST(ICWString, ConstructsFromNumbers) {
    EXPECT_EQ(View(ICWString(int32_t{-5})), u"-5");
    EXPECT_EQ(View(ICWString(int64_t{9876543210})), u"9876543210");
    EXPECT_EQ(View(ICWString(0.25)), u"0.25");
}

TEST(ICWString, FormatsWideAndNarrowArguments) {
    ICWString text;
    text.Format(u"%s|%hs|%d|%05.1f|%-4s|%4s|%c|%%|%x|%lld|%.2s", u"日本", "\x83\x65", -3, 2.25,
                u"ab", u"cd", u'字', 255u, 1LL << 40, u"abcdef");
    EXPECT_EQ(View(text), u"日本|テ|-3|002.2|ab  |  cd|字|%|ff|1099511627776|ab");
    text.Format(u"%*d|%-*d|%S", 4, 7, 3, 8, "x");
    EXPECT_EQ(View(text), u"   7|8  |x");
    text.Format(u"%s", static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(View(text), u"(null)");
    text.Format(u"tail %");
    EXPECT_EQ(View(text), u"tail %");
}

TEST(ICWString, FormatKeepsLongResultsWhole) {
    for (size_t length : {600u, 1024u, 5000u}) {
        std::u16string expected(length, u'字');
        ICWString text;
        text.Format(u"%s", expected.c_str());
        EXPECT_EQ(View(text), expected);
    }
    ICWString padded;
    padded.Format(u"%5000d", 1);
    EXPECT_EQ(padded.GetLength(), 5000);
}

TEST(ICWString, NarrowCopyFollowsTextChanges) {
    ICWString text(u"abc");
    EXPECT_STREQ(text.GetNarrow(), "abc");
    text.Insert(1, u"-");
    EXPECT_STREQ(text.GetNarrow(), "a-bc");
    text.TrimLeft();
    text.SetLength(2);
    EXPECT_STREQ(text.GetNarrow(), "a-");
    text.GetBuffer()[0] = u'z';
    EXPECT_STREQ(text.GetNarrow(), "z-");
}

TEST(ICWString, SetLengthKeepsAPrefixInAZeroFilledBuffer) {
    ICWString text(u"abcdef");
    text.SetLength(2);
    EXPECT_EQ(View(text), u"ab");
    text.SetLength(8);
    EXPECT_EQ(View(text), u"ab");
    ASSERT_GE(text.GetCapacity(), 8);
    char16_t* buffer = text.GetBuffer();
    for (int i = 2; i <= 8; ++i) {
        EXPECT_EQ(buffer[i], u'\0');
    }
    text.SetLength(0);
    EXPECT_TRUE(text.IsEmpty());
}

TEST(ICWString, CompareAndFind) {
    EXPECT_LT(ICWString().Compare(u"a"), 0);
    EXPECT_GT(ICWString(u"a").Compare(u""), 0);
    EXPECT_EQ(ICWString().Compare(ICWString()), 0);
    EXPECT_LT(ICWString(u"abc").Compare(u"abd"), 0);
    EXPECT_EQ(ICWString(u"ＡＢＣ").CompareNoCase(u"ａｂｃ"), 0);
    EXPECT_EQ(ICWString(u"Straße").CompareNoCase(u"STRAßE"), 0);
    EXPECT_NE(ICWString(u"abc").Compare(u"ABC"), 0);

    ICWString text(u"ニュース Ｎｅｗｓ news");
    EXPECT_EQ(text.Find(u"news"), 10);
    EXPECT_EQ(text.Find(u"NEWS"), -1);
    EXPECT_EQ(text.Find(u"NEWS", true), 10);
    EXPECT_EQ(text.Find(u"ｎｅｗｓ", true), 5);
    EXPECT_EQ(text.Find(u"ース"), 2);
    EXPECT_EQ(text.Find(u"ニュース Ｎｅｗｓ news and more", true), -1);
    EXPECT_EQ(ICWString().Find(u"a"), -1);
}

TEST(ICWString, SubstringsTrimAndToInt) {
    ICWString text(u"  放送 12  ");
    text.Trim();
    EXPECT_EQ(View(text), u"放送 12");
    EXPECT_EQ(View(text.Left(2)), u"放送");
    EXPECT_EQ(View(text.Mid(3, 10)), u"12");
    EXPECT_EQ(View(text.Right(1)), u"2");
    EXPECT_EQ(ICWString(u" 0x10").ToInt(), 16);
    EXPECT_EQ(ICWString(u"010").ToInt(), 8);
    EXPECT_EQ(ICWString(u"-25分").ToInt(), -25);
    EXPECT_EQ(ICWString().ToInt(), 0);
}

TEST(ICWString, FileNameAndFolderFollowTheSeparatorOrder) {
    EXPECT_EQ(View(ICWString(u"C:\\TV\\a.ts").GetFileName()), u"a.ts");
    EXPECT_EQ(View(ICWString(u"C:a.ts").GetFileName()), u"a.ts");
    EXPECT_EQ(View(ICWString(u"/home/u/a.ts").GetFileName()), u"a.ts");
    EXPECT_EQ(View(ICWString(u"a.ts").GetFileName()), u"a.ts");
    EXPECT_EQ(View(ICWString(u"/home/u/").GetFileName()), u"");
    // A backslash wins over slashes after it.
    EXPECT_EQ(View(ICWString(u"x\\y/z.ts").GetFileName()), u"y/z.ts");

    EXPECT_EQ(View(ICWString(u"C:\\TV\\a.ts").GetFolder()), u"C:\\TV");
    EXPECT_EQ(View(ICWString(u"/home/u/a.ts").GetFolder()), u"/home/u");
    EXPECT_EQ(View(ICWString(u"/a.ts").GetFolder()), u"/");
    EXPECT_EQ(View(ICWString(u"C:a.ts").GetFolder()), u"C:");
    EXPECT_EQ(View(ICWString(u"a.ts").GetFolder()), u"");
}

TEST(ICWString, SeparatorHelpers) {
    EXPECT_TRUE(ICWString(u"/home/").HasTrailingSeparator());
    EXPECT_TRUE(ICWString(u"C:\\TV\\").HasTrailingSeparator());
    EXPECT_FALSE(ICWString(u"C:").HasTrailingSeparator());
    EXPECT_FALSE(ICWString().HasTrailingSeparator());

    EXPECT_EQ(View(ICWString(u"C:").AddSeparator()), u"C:");
    EXPECT_EQ(View(ICWString().AddSeparator()), u"");
    EXPECT_EQ(View(ICWString(u"/home/u").AddSeparator()), u"/home/u/");
    EXPECT_EQ(View(ICWString(u"/home/u/").AddSeparator()), u"/home/u/");
    EXPECT_EQ(View(ICWString(u"C:\\TV\\").AddSeparator()), u"C:\\TV\\");
}

TEST(ICWString, ChangeExtensionReplacesOnlyTheFileNamesExtension) {
    EXPECT_EQ(View(ICWString(u"/rec/a.ts").ChangeExtension(u".jpg")), u"/rec/a.jpg");
    EXPECT_EQ(View(ICWString(u"/rec/a.b.ts").ChangeExtension(u".ini")), u"/rec/a.b.ini");
    EXPECT_EQ(View(ICWString(u"/rec.d/name").ChangeExtension(u".ts")), u"/rec.d/name.ts");
    EXPECT_EQ(View(ICWString(u"C:\\TV.1\\a").ChangeExtension(u".ts")), u"C:\\TV.1\\a.ts");
}

// A fresh folder under the system's temporary folder, removed with its contents afterwards.
class ICWStringFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orv-wstring-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override {
        std::error_code error;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
        for (auto& entry : fs::recursive_directory_iterator(root, error)) {
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
        fs::remove_all(root, error);
    }
    ICWString Path(const std::string& relative) const {
        ICWString path;
        path.SetUtf8(root.string() + "/" + relative);
        return path;
    }
    static void WriteFile(const ICWString& path, const std::string& content) {
        std::ofstream(path.GetUtf8(), std::ios::binary) << content;
    }
    static std::string ReadFile(const ICWString& path) {
        std::ifstream file(path.GetUtf8(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    fs::path root;
};

TEST_F(ICWStringFiles, GetFullPathIsAbsoluteAndNormalised) {
    EXPECT_TRUE(ICWString().GetFullPath().IsEmpty());
    ICWString folder = Path("番組");
    ASSERT_EQ(folder.CreateFolder(), 0u);
    ICWString dotted = Path("番組/../番組/./x/../録画.ts");
    std::string expected = fs::canonical(root).string() + "/番組/録画.ts";
    EXPECT_EQ(dotted.GetFullPath().GetUtf8(), expected);

    // Symbolic links of the existing part are followed.
    fs::create_directory_symlink(root / "番組", root / "link");
    EXPECT_EQ(Path("link/録画.ts").GetFullPath().GetUtf8(), expected);

    // A relative path is taken from the current folder.
    fs::path saved = fs::current_path();
    fs::current_path(root);
    EXPECT_EQ(ICWString(u"番組/a.ts").GetFullPath().GetUtf8(),
              fs::canonical(root).string() + "/番組/a.ts");
    fs::current_path(saved);

    ICWString tooLong(u"/");
    for (int i = 0; i < 500; ++i) {
        tooLong.Append(u"abcdefghi/");
    }
    EXPECT_TRUE(tooLong.GetFullPath().IsEmpty());
}

TEST_F(ICWStringFiles, ExistsIsFolderAndCreateFolder) {
    ICWString folder = Path("Data");
    EXPECT_FALSE(folder.Exists());
    EXPECT_FALSE(folder.IsFolder());
    EXPECT_EQ(folder.CreateFolder(), 0u);
    EXPECT_TRUE(folder.Exists());
    EXPECT_TRUE(folder.IsFolder());
    EXPECT_EQ(folder.CreateFolder(), kErrorAlreadyExists);

    ICWString file = Path("Data/a.ts");
    WriteFile(file, "x");
    EXPECT_TRUE(file.Exists());
    EXPECT_FALSE(file.IsFolder());

    // One level only.
    EXPECT_EQ(Path("missing/child").CreateFolder(), kErrorPathNotFound);
    EXPECT_FALSE(Path("missing").Exists());
    EXPECT_EQ(ICWString().CreateFolder(), kErrorPathNotFound);

    ICWString readOnly = Path("ReadOnly");
    EXPECT_EQ(readOnly.CreateFolder(ICWString::kAttributeReadOnly), 0u);
    struct stat info;
    ASSERT_EQ(::stat(readOnly.GetUtf8().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0222, 0u);
    ICWString plain = Path("Plain");
    EXPECT_EQ(plain.CreateFolder(), 0u);
    ASSERT_EQ(::stat(plain.GetUtf8().c_str(), &info), 0);
    EXPECT_NE(info.st_mode & 0200, 0u);
}

TEST_F(ICWStringFiles, ShellFileOperationCopiesMovesRenamesAndDeletes) {
    ICWString source = Path("a.ts");
    WriteFile(source, "recording");
    ICWString target = Path("target");
    ASSERT_EQ(target.CreateFolder(), 0u);

    // Copying into a folder puts the copy inside it.
    EXPECT_EQ(source.ShellFileOperation(ICWString::kFileCopy, target.GetText()), 0u);
    EXPECT_EQ(ReadFile(Path("target/a.ts")), "recording");
    EXPECT_TRUE(source.Exists());

    // A rename never replaces another file.
    ICWString other = Path("b.ts");
    WriteFile(other, "other");
    EXPECT_EQ(source.ShellFileOperation(ICWString::kFileRename, other.GetText()),
              kErrorAlreadyExists);
    EXPECT_EQ(ReadFile(other), "other");
    ICWString renamed = Path("番組名.ts");
    EXPECT_EQ(source.ShellFileOperation(ICWString::kFileRename, renamed.GetText()), 0u);
    EXPECT_FALSE(source.Exists());
    EXPECT_EQ(ReadFile(renamed), "recording");

    // Moving into a folder replaces a file of the same name there without asking.
    WriteFile(Path("target/b.ts"), "old");
    EXPECT_EQ(other.ShellFileOperation(ICWString::kFileMove, target.GetText()), 0u);
    EXPECT_FALSE(other.Exists());
    EXPECT_EQ(ReadFile(Path("target/b.ts")), "other");

    // Folders are copied and deleted with their contents.
    ICWString copy = Path("copy");
    EXPECT_EQ(target.ShellFileOperation(ICWString::kFileCopy, copy.GetText()), 0u);
    EXPECT_EQ(ReadFile(Path("copy/a.ts")), "recording");
    EXPECT_EQ(ReadFile(Path("copy/b.ts")), "other");
    EXPECT_EQ(copy.ShellFileOperation(ICWString::kFileDelete), 0u);
    EXPECT_FALSE(copy.Exists());

    EXPECT_EQ(Path("none").ShellFileOperation(ICWString::kFileDelete), kErrorFileNotFound);
    EXPECT_EQ(renamed.ShellFileOperation(ICWString::kFileMove, nullptr), kErrorInvalidParameter);
    EXPECT_EQ(renamed.ShellFileOperation(99, target.GetText()), kErrorInvalidParameter);
    EXPECT_EQ(renamed.ShellFileOperation(ICWString::kFileCopy, renamed.GetText()),
              kErrorInvalidParameter);
    EXPECT_EQ(ReadFile(renamed), "recording");
}

}  // namespace
