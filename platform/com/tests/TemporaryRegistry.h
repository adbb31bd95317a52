#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

// Points the component registry at a fresh file in a temporary folder for the lifetime of the
// object, and removes the folder afterwards.
class TemporaryRegistry {
public:
    TemporaryRegistry() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orv-registry-XXXXXX");
        if (::mkdtemp(pattern.data())) {
            folder = pattern;
        }
        path = folder + "/registry.json";
        ::setenv("ORVANTA_REGISTRY", path.c_str(), 1);
    }
    ~TemporaryRegistry() {
        ::unsetenv("ORVANTA_REGISTRY");
        std::error_code ignored;
        if (!folder.empty()) {
            std::filesystem::remove_all(folder, ignored);
        }
    }
    TemporaryRegistry(const TemporaryRegistry&) = delete;
    TemporaryRegistry& operator=(const TemporaryRegistry&) = delete;

    const std::string& Folder() const { return folder; }
    const std::string& Path() const { return path; }

private:
    std::string folder;
    std::string path;
};
