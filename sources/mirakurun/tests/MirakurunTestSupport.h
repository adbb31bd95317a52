#pragma once

// What the tuner-server driver's tests share: the driver library copied into a temporary folder
// with its initialisation file beside it (as a user sets up a copy per server), loaded, and a
// reader that takes what the driver hands out.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "sources/IBonDriver.h"
#include "sources/mirakurun/tests/TestTunerServer.h"
#include "sources/tests/SourceTestSupport.h"

namespace mirakurun::test {

using sourcetest::TempFolder;

inline constexpr DWORD kNotTuned = 0xFFFFFFFF;

// An initialisation file for a server; `more` adds lines to the section.
inline std::string Ini(const std::string& url, const std::string& more = "") {
    return "[Mirakurun]\r\nServer=" + url + "\r\n" + more;
}

inline bool EndsWith(const Bytes& whole, const Bytes& part) {
    return part.size() <= whole.size() &&
           std::equal(part.begin(), part.end(), whole.end() - std::ptrdiff_t(part.size()));
}

inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

struct DriverReleaser {
    void operator()(IBonDriver2* driver) const { driver->Release(); }
};
using DriverHandle = std::unique_ptr<IBonDriver2, DriverReleaser>;

// The built driver as `folder`/`name` with `ini` as `name`.ini, loaded (it stays loaded).
class DriverCopy {
public:
    DriverCopy(const TempFolder& folder, const std::string& name, const std::string& ini)
        : path(folder.File(name)) {
        std::filesystem::copy_file(ORV_MIRAKURUN_BONDRIVER, path);
        sourcetest::WriteFile(path + ".ini", Bytes(ini.begin(), ini.end()));
        library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ~DriverCopy() {
        if (library != nullptr) {
            dlclose(library);
        }
    }
    DriverCopy(const DriverCopy&) = delete;
    DriverCopy& operator=(const DriverCopy&) = delete;

    const std::string& Path() const { return path; }
    void* Symbol(const char* name) const {
        return library != nullptr ? dlsym(library, name) : nullptr;
    }

    DriverHandle Create() const {
        using CreateFunction = IBonDriver* (*)();
        auto create = library != nullptr
                          ? reinterpret_cast<CreateFunction>(dlsym(library, "CreateBonDriver"))
                          : nullptr;
        return DriverHandle(create != nullptr ? dynamic_cast<IBonDriver2*>(create()) : nullptr);
    }

private:
    std::string path;
    void* library = nullptr;
};

// Reads from the driver until `count` bytes came or `timeoutMs` passed, taking turns with the
// two forms of GetTsStream.
inline Bytes ReadBytes(IBonDriver2* driver, size_t count, int timeoutMs = 10000) {
    Bytes out;
    std::vector<BYTE> buffer(188 * 256);
    bool pointerForm = false;
    const auto start = std::chrono::steady_clock::now();
    while (out.size() < count && MillisecondsSince(start) < timeoutMs) {
        if (driver->WaitTsStream(50) != kWaitObject0) {
            continue;
        }
        BYTE* data = buffer.data();
        DWORD size = 0;
        DWORD remaining = 0;
        pointerForm = !pointerForm;
        const BOOL got = pointerForm ? driver->GetTsStream(&data, &size, &remaining)
                                     : driver->GetTsStream(buffer.data(), &size, &remaining);
        if (got && size != 0) {
            out.insert(out.end(), data, data + size);
        }
    }
    return out;
}

}  // namespace mirakurun::test
