#include "app/startup/AppFolders.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

std::string FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool MakeWritableFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error) && ::access(folder.c_str(), W_OK) == 0;
}

std::string XdgDataFolder() {
    std::string base = FromEnvironment("XDG_DATA_HOME");
    if (base.empty()) {
        base = FromEnvironment("HOME") + "/.local/share";
    }
    return base + "/orvanta";
}

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::string ExecutablePath() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

AppFolders AppFolders::Find(const std::string& dataOverride) {
    AppFolders folders;
    folders.executablePath = ExecutablePath();
    folders.application = std::filesystem::path(folders.executablePath).parent_path().string();
    folders.bonDriver = folders.application + "/BonDriver";
    std::string data = !dataOverride.empty() ? dataOverride : FromEnvironment("ORVANTA_DATA");
    if (data.empty()) {
        data = folders.application + "/Data";
        if (!MakeWritableFolder(data)) {
            data = XdgDataFolder();
        }
    }
    folders.data = WithoutTrailingSeparator(data);
    MakeWritableFolder(folders.data);
    return folders;
}
