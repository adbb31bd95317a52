#include "platform/bda/DvbDevice.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/dvb/dmx.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/bda/DvbBackends.h"

namespace {

// What the kernel's demux keeps for the dvr reader: about a second of a 60 Mbit/s stream, so a
// reader that is late by a moment loses nothing.
constexpr unsigned long kDemuxBufferSize = 8 * 1024 * 1024;
// The demux's "every PID" value.
constexpr uint16_t kAllPids = 0x2000;

// The number after `prefix` when `name` is exactly prefix + digits; -1 otherwise.
int NumberAfter(const std::string& name, const char* prefix) {
    const size_t length = std::strlen(prefix);
    if (name.size() <= length || name.compare(0, length, prefix) != 0 || name.size() > length + 6) {
        return -1;
    }
    int number = 0;
    for (size_t i = length; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return -1;
        }
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

std::vector<int> NumberedEntries(const std::string& folder, const char* prefix) {
    std::vector<int> numbers;
    std::error_code failure;
    for (std::filesystem::directory_iterator entry(folder, failure), end; !failure && entry != end;
         entry.increment(failure)) {
        const int number = NumberAfter(entry->path().filename().string(), prefix);
        if (number >= 0) {
            numbers.push_back(number);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

int64_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

enum class FrontendKind { None, File, Device };

// Whether the frontend node is a substitute file or a kernel device; None (with `error`)
// otherwise.
FrontendKind KindOf(const std::string& path, DvbError* error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        DvbSetError(error, path, errno);
        return FrontendKind::None;
    }
    if (S_ISREG(status.st_mode)) {
        return FrontendKind::File;
    }
    if (S_ISCHR(status.st_mode)) {
        return FrontendKind::Device;
    }
    DvbSetError(error, path, ENODEV);
    return FrontendKind::None;
}

}  // namespace

void DvbSetError(DvbError* error, const std::string& path, int code) {
    if (!error) {
        return;
    }
    error->code = code;
    error->text = path + ": " + std::strerror(code);
}

const char* DvbSystemName(DvbSystem system) {
    return system == DvbSystem::IsdbS ? "ISDB-S" : "ISDB-T";
}

bool DvbFrontendInfo::Supports(DvbSystem system) const {
    return std::find(systems.begin(), systems.end(), system) != systems.end();
}

std::string DvbRoot() {
    std::string root = "/dev/dvb";
    if (const char* overridden = std::getenv("ORV_DVB_ROOT"); overridden && *overridden) {
        root = overridden;
    }
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

std::string DvbFrontendPath(int adapter, int frontend) {
    return DvbRoot() + "/adapter" + std::to_string(adapter) + "/frontend" +
           std::to_string(frontend);
}

std::string DvbDvrPath(int adapter) {
    return DvbRoot() + "/adapter" + std::to_string(adapter) + "/dvr0";
}

std::vector<DvbFrontendInfo> DvbEnumerateFrontends() {
    std::vector<DvbFrontendInfo> frontends;
    const std::string root = DvbRoot();
    for (const int adapter : NumberedEntries(root, "adapter")) {
        const std::string folder = root + "/adapter" + std::to_string(adapter);
        for (const int frontend : NumberedEntries(folder, "frontend")) {
            DvbFrontendInfo info;
            info.adapter = adapter;
            info.frontend = frontend;
            info.path = DvbFrontendPath(adapter, frontend);
            const FrontendKind kind = KindOf(info.path, nullptr);
            const bool usable =
                (kind == FrontendKind::File && FileFrontendProbe(&info, nullptr)) ||
                (kind == FrontendKind::Device && KernelFrontendProbe(&info, nullptr));
            if (usable) {
                frontends.push_back(std::move(info));
            }
        }
    }
    return frontends;
}

std::unique_ptr<DvbFrontend> DvbFrontend::Open(int adapter, int frontend, DvbError* error) {
    DvbFrontendInfo info;
    info.adapter = adapter;
    info.frontend = frontend;
    info.path = DvbFrontendPath(adapter, frontend);
    if (adapter < 0 || frontend < 0) {
        DvbSetError(error, info.path, ENODEV);
        return nullptr;
    }
    switch (KindOf(info.path, error)) {
        case FrontendKind::File:
            return FileFrontendOpen(std::move(info), error);
        case FrontendKind::Device:
            return KernelFrontendOpen(std::move(info), error);
        case FrontendKind::None:
            break;
    }
    return nullptr;
}

int DvbFrontend::TuneIsdbT(uint64_t frequencyHz) {
    if (!info.Supports(DvbSystem::IsdbT)) {
        return EOPNOTSUPP;
    }
    if (frequencyHz == 0 || frequencyHz > UINT32_MAX) {
        return EINVAL;
    }
    return Tune(DvbSystem::IsdbT, frequencyHz, 0);
}

int DvbFrontend::TuneIsdbS(uint64_t frequencyHz, uint16_t transportStreamId) {
    if (!info.Supports(DvbSystem::IsdbS)) {
        return EOPNOTSUPP;
    }
    // The frontend takes whole kHz.
    if (frequencyHz < 1000 || frequencyHz / 1000 > UINT32_MAX) {
        return EINVAL;
    }
    return Tune(DvbSystem::IsdbS, frequencyHz, transportStreamId);
}

std::unique_ptr<DvbDvr> DvbDvr::Open(int adapter, DvbError* error) {
    std::unique_ptr<DvbDvr> dvr(new DvbDvr);
    dvr->path = DvbDvrPath(adapter);
    if (adapter < 0) {
        DvbSetError(error, dvr->path, ENODEV);
        return nullptr;
    }
    struct stat status {};
    if (::stat(dvr->path.c_str(), &status) != 0) {
        DvbSetError(error, dvr->path, errno);
        return nullptr;
    }
    dvr->fifo = S_ISFIFO(status.st_mode);
    if (!dvr->fifo && !S_ISCHR(status.st_mode)) {
        DvbSetError(error, dvr->path, ENODEV);
        return nullptr;
    }
    if (!dvr->fifo) {
        // The kernel's dvr carries only what a demux filter sends it: every packet, here.
        const std::string demuxPath = DvbRoot() + "/adapter" + std::to_string(adapter) + "/demux0";
        dvr->demuxFd = ::open(demuxPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (dvr->demuxFd < 0) {
            DvbSetError(error, demuxPath, errno);
            return nullptr;
        }
        dmx_pes_filter_params filter{};
        filter.pid = kAllPids;
        filter.input = DMX_IN_FRONTEND;
        filter.output = DMX_OUT_TS_TAP;
        filter.pes_type = DMX_PES_OTHER;
        filter.flags = DMX_IMMEDIATE_START;
        // A smaller buffer still works: the size is a wish.
        ::ioctl(dvr->demuxFd, DMX_SET_BUFFER_SIZE, kDemuxBufferSize);
        if (::ioctl(dvr->demuxFd, DMX_SET_PES_FILTER, &filter) != 0) {
            DvbSetError(error, demuxPath, errno);
            return nullptr;
        }
    }
    // Non-blocking: a FIFO opens without a writer, and reads never outlast their time-out.
    dvr->fd = ::open(dvr->path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (dvr->fd < 0) {
        DvbSetError(error, dvr->path, errno);
        return nullptr;
    }
    return dvr;
}

DvbDvr::~DvbDvr() {
    if (fd >= 0) {
        ::close(fd);
    }
    if (demuxFd >= 0) {
        ::ioctl(demuxFd, DMX_STOP);
        ::close(demuxFd);
    }
}

bool DvbDvr::Reopen() {
    // A FIFO whose writer left reports end of file (and keeps polling readable) until it is
    // opened anew; the new descriptor waits quietly for the next writer.
    ::close(fd);
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0;
}

long DvbDvr::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    if (!buffer || size == 0) {
        return -EINVAL;
    }
    const int64_t deadline = MonotonicMilliseconds() + std::max(timeoutMs, 0);
    for (;;) {
        if (fd < 0 && !Reopen()) {
            return -errno;
        }
        const int64_t remaining = std::max<int64_t>(deadline - MonotonicMilliseconds(), 0);
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(remaining));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        if (ready == 0) {
            return 0;
        }
        const ssize_t count = ::read(fd, buffer, size);
        if (count > 0) {
            return static_cast<long>(count);
        }
        if (count == 0) {
            if (!fifo) {
                // A device never ends; should one report it, wait out the time instead of
                // asking again at once.
                ::poll(nullptr, 0, static_cast<int>(remaining));
                return 0;
            }
            if (!Reopen()) {
                return -errno;
            }
            continue;
        }
        if (errno == EOVERFLOW) {
            ++overflows;
            continue;
        }
        if (errno == EAGAIN || errno == EINTR) {
            if (MonotonicMilliseconds() >= deadline) {
                return 0;
            }
            continue;
        }
        return -errno;
    }
}
