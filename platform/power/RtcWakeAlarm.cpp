#include "platform/power/RtcWakeAlarm.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

namespace power {

namespace {

constexpr std::time_t kQuarterHour = 15 * 60;
constexpr int kCapWakeAlarm = 35;

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

RtcWakeAlarm::RtcWakeAlarm(std::string folder)
    : rtcFolder(std::move(folder)), alarmPath(rtcFolder + "/wakealarm") {}

bool RtcWakeAlarm::IsWritable() const {
    return ::access(alarmPath.c_str(), W_OK) == 0;
}

PowerResult RtcWakeAlarm::Set(std::time_t when) const {
    const std::time_t now = std::time(nullptr);
    if (when <= now) {
        return {EINVAL, "the wake time " + std::to_string(when) + " has passed"};
    }
    PowerResult cleared = Clear();
    if (!cleared.Succeeded()) {
        return cleared;
    }
    return Write(std::to_string(when + RtcOffset(now)));
}

PowerResult RtcWakeAlarm::Clear() const {
    return Write("0");
}

PowerResult RtcWakeAlarm::Write(const std::string& text) const {
    const int fd = ::open(alarmPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            return {error, "the computer has no RTC wake alarm: " + alarmPath + " is missing"};
        }
        if (error == EACCES || error == EPERM || error == EROFS) {
            return {error, alarmPath +
                               " is not writable: the RTC wake alarm needs root or a udev rule "
                               "that lets this user write it"};
        }
        return {error, alarmPath + ": " + std::strerror(error)};
    }
    const std::string line = text + "\n";
    const ssize_t written = ::write(fd, line.data(), line.size());
    const int error = written < 0 ? errno : 0;
    ::close(fd);
    if (written < 0) {
        return {error, "the RTC refused the wake alarm " + text + " (" + alarmPath +
                           "): " + std::strerror(error)};
    }
    return {};
}

std::time_t RtcWakeAlarm::RtcOffset(std::time_t now) const {
    std::istringstream text(ReadText(rtcFolder + "/since_epoch"));
    long long rtcNow = 0;
    if (!(text >> rtcNow)) {
        return 0;
    }
    const double quarters = std::round(static_cast<double>(rtcNow - now) / kQuarterHour);
    return static_cast<std::time_t>(quarters) * kQuarterHour;
}

bool StatusGrantsWakeAlarm(const std::string& statusText) {
    std::istringstream lines(statusText);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("CapEff:", 0) != 0) {
            continue;
        }
        char* end = nullptr;
        const char* digits = line.c_str() + 7;
        const unsigned long long mask = std::strtoull(digits, &end, 16);
        if (end == digits) {
            return false;
        }
        return ((mask >> kCapWakeAlarm) & 1) != 0;
    }
    return false;
}

bool UserTimersCanWake() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = std::string(runtime) + "/systemd/private";
    if (socketPath.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    // The manager's own socket tells who listens on it: the credentials of the peer are the
    // manager's, whose capabilities /proc shows.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ucred peer{};
    socklen_t peerSize = sizeof(peer);
    const bool known =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0 && peer.pid > 0;
    ::close(fd);
    return known &&
           StatusGrantsWakeAlarm(ReadText("/proc/" + std::to_string(peer.pid) + "/status"));
}

}  // namespace power
