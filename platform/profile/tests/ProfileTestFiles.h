#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A temporary folder for the files of one test, removed afterwards.
class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "profile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(folder, ignored);
    }

    std::string PathOf(const std::string& name) const { return (folder / name).string(); }
    std::u16string WidePathOf(const std::string& name) const {
        const std::string path = PathOf(name);
        return std::u16string(path.begin(), path.end());  // the temporary folder is ASCII
    }

    static void WriteBytes(const std::string& path, const std::string& bytes) {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << bytes;
    }

    static std::string ReadBytes(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    // The bytes of a UTF-16 LE file with its byte-order mark.
    static std::string Utf16File(std::u16string_view text) {
        std::string bytes = "\xFF\xFE";
        for (const char16_t unit : text) {
            bytes.push_back(static_cast<char>(unit & 0xFF));
            bytes.push_back(static_cast<char>(unit >> 8));
        }
        return bytes;
    }

    static ino_t InodeOf(const std::string& path) {
        struct stat info {};
        stat(path.c_str(), &info);
        return info.st_ino;
    }

    size_t FileCount() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                 std::filesystem::directory_iterator()));
    }

    std::filesystem::path folder;
};
