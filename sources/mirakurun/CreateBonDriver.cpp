// The library's entry point: a driver configured by the initialisation file beside the library
// itself (NAME.so.ini), so that each copy of the library under another name has its own.
#include <dlfcn.h>

#include <filesystem>
#include <new>

#include "sources/mirakurun/MirakurunBonDriver.h"

namespace {

// The path the library was loaded from; found through one of its own (hidden) functions, which
// no other library can interpose.
std::string LibraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&LibraryPath), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    return info.dli_fname;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) IBonDriver* CreateBonDriver() {
    try {
        const std::string path = LibraryPath();
        const std::string label =
            path.empty() ? "BonDriver_Mirakurun" : std::filesystem::path(path).filename().string();
        return new mirakurun::MirakurunBonDriver(
            mirakurun::DriverSettings::Load(path.empty() ? path : path + ".ini", label), label);
    } catch (...) {
        return nullptr;
    }
}
