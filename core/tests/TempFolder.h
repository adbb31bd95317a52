#pragma once

// A fresh folder under the system's temporary folder for one test, removed with everything in
// it when the test is done.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace coretest {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "orv-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return path + "/" + name; }

    std::string path;
};

}  // namespace coretest
