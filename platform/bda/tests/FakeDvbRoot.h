#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

// A folder of substitute DVB adapters for the lifetime of the object, made the adapters' root
// through ORV_DVB_ROOT, and removed afterwards.
class FakeDvbRoot {
public:
    FakeDvbRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orv-dvb-XXXXXX");
        if (::mkdtemp(pattern.data())) {
            base = pattern;
        }
        root = base;
        ::setenv("ORV_DVB_ROOT", root.c_str(), 1);
    }
    ~FakeDvbRoot() {
        ::unsetenv("ORV_DVB_ROOT");
        std::error_code ignored;
        if (!base.empty()) {
            std::filesystem::remove_all(base, ignored);
        }
    }

    // Moves the adapters into a new root, `name` inside the first one.
    void Relocate(const std::string& name) {
        const std::string moved = base + "/" + name;
        std::filesystem::create_directories(moved);
        for (const auto& entry : std::filesystem::directory_iterator(root)) {
            if (entry.path().filename().string().rfind("adapter", 0) == 0) {
                std::filesystem::rename(entry.path(), moved / entry.path().filename());
            }
        }
        root = moved;
        ::setenv("ORV_DVB_ROOT", root.c_str(), 1);
    }
    FakeDvbRoot(const FakeDvbRoot&) = delete;
    FakeDvbRoot& operator=(const FakeDvbRoot&) = delete;

    const std::string& Root() const { return root; }
    std::string Adapter(int adapter) const { return root + "/adapter" + std::to_string(adapter); }
    std::string Frontend(int adapter, int frontend) const {
        return Adapter(adapter) + "/frontend" + std::to_string(frontend);
    }
    std::string Dvr(int adapter) const { return Adapter(adapter) + "/dvr0"; }

    // Writes (or rewrites) a substitute frontend: its text lines as given.
    void WriteFrontend(int adapter, int frontend, const std::string& text) const {
        std::filesystem::create_directories(Adapter(adapter));
        std::ofstream(Frontend(adapter, frontend), std::ios::trunc) << text;
    }
    void AddFrontend(int adapter, int frontend, const std::string& name, const std::string& system,
                     const std::string& more = {}) const {
        WriteFrontend(adapter, frontend, "name=" + name + "\nsystem=" + system + "\n" + more);
    }
    // The adapter's dvr as a FIFO.
    bool AddDvr(int adapter) const {
        std::filesystem::create_directories(Adapter(adapter));
        return ::mkfifo(Dvr(adapter).c_str(), 0600) == 0;
    }

    // What the last tune of the frontend recorded, by key.
    std::map<std::string, std::string> Tuned(int adapter, int frontend) const {
        std::map<std::string, std::string> values;
        std::ifstream file(Frontend(adapter, frontend) + ".tuned");
        std::string line;
        while (std::getline(file, line)) {
            const size_t equals = line.find('=');
            if (equals != std::string::npos) {
                values[line.substr(0, equals)] = line.substr(equals + 1);
            }
        }
        return values;
    }

private:
    std::string base;  // removed at the end
    std::string root;
};

// Writes into an adapter's FIFO dvr as the stream's source would. Opening waits for the reader.
class DvrWriter {
public:
    explicit DvrWriter(const std::string& path) : fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC)) {}
    ~DvrWriter() { Close(); }
    DvrWriter(const DvrWriter&) = delete;
    DvrWriter& operator=(const DvrWriter&) = delete;

    bool IsOpen() const { return fd >= 0; }
    bool Write(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (written <= 0) {
                return false;
            }
            done += size_t(written);
        }
        return true;
    }
    void Close() {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

private:
    int fd;
};

// `count` TS packets, each with its index in the bytes after the header, so that a lost, doubled
// or reordered byte shows.
inline std::vector<uint8_t> NumberedPackets(size_t count) {
    std::vector<uint8_t> bytes(count * 188);
    for (size_t packet = 0; packet < count; ++packet) {
        uint8_t* p = bytes.data() + packet * 188;
        p[0] = 0x47;
        p[1] = 0x01;
        p[2] = 0x00;
        p[3] = uint8_t(0x10 | (packet & 0x0F));
        for (size_t i = 4; i < 188; ++i) {
            p[i] = uint8_t(packet * 7 + i);
        }
    }
    return bytes;
}
