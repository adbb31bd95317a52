#include "platform/power/tests/FakeLogind.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <fstream>

extern char** environ;

namespace power::testing {

namespace {

constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kInterface = "org.freedesktop.login1.Manager";

// Anyone may own any name and send anything; no service is started on demand.
constexpr const char* kBusConfig = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=@BUS@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";

}  // namespace

FakeLogind::FakeLogind(bool serve, std::chrono::milliseconds delayMax)
    : delayMaxUs(static_cast<uint64_t>(delayMax.count()) * 1000) {
    std::string pattern = (std::filesystem::temp_directory_path() / "logind-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    folder = pattern;
    std::string config = kBusConfig;
    config.replace(config.find("@BUS@"), 5, (folder / "bus").string());
    std::ofstream(folder / "bus.conf") << config;

    const std::string configArgument = "--config-file=" + (folder / "bus.conf").string();
    const char* argv[] = {"dbus-daemon", "--nofork", "--nopidfile", configArgument.c_str(),
                          nullptr};
    // The daemon's complaints (it cannot raise its descriptor limit here) are not the test's.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned =
        ::posix_spawnp(&daemon, "dbus-daemon", &quiet, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
        daemon = -1;
        return;
    }
    if (!Eventually([&] { return std::filesystem::exists(folder / "bus"); }) ||
        sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, Address().c_str()) < 0 ||
        sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
        return;
    }
    if (serve) {
        static const sd_bus_vtable kManager[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_PROPERTY("InhibitDelayMaxUSec", "t", &FakeLogind::OnDelayMax, 0,
                            SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::OnInhibit,
                          SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Suspend", "b", "", &FakeLogind::OnSuspend, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_SIGNAL("PrepareForSleep", "b", 0),
            SD_BUS_VTABLE_END};
        if (sd_bus_add_object_vtable(bus, nullptr, kPath, kInterface, kManager, this) < 0 ||
            sd_bus_request_name(bus, "org.freedesktop.login1", 0) < 0) {
            return;
        }
    }
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    usable = wakeFd >= 0;
    if (usable) {
        service = std::thread([this] { Serve(); });
    }
}

FakeLogind::~FakeLogind() {
    if (service.joinable()) {
        {
            std::lock_guard guard(lock);
            stopping = true;
        }
        Wake();
        service.join();
    }
    sd_bus_flush_close_unref(bus);
    for (const Lock& held : locks) {
        ::close(held.farEnd);
    }
    if (wakeFd >= 0) {
        ::close(wakeFd);
    }
    if (daemon > 0) {
        ::kill(daemon, SIGTERM);
        ::waitpid(daemon, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void FakeLogind::Announce(bool sleeping) {
    {
        std::lock_guard guard(lock);
        toAnnounce.push_back(sleeping);
    }
    Wake();
}

void FakeLogind::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof(one));
}

std::vector<FakeLogind::Lock> FakeLogind::Locks() const {
    std::lock_guard guard(lock);
    return locks;
}

bool FakeLogind::Released(const Lock& held) const {
    pollfd entry = {held.farEnd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLHUP) != 0;
}

int FakeLogind::SuspendRequests() const {
    std::lock_guard guard(lock);
    return suspendRequests;
}

bool FakeLogind::Eventually(const std::function<bool()>& condition) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The bus is this thread's alone; other threads hand it work through `toAnnounce`.
void FakeLogind::Serve() {
    while (true) {
        std::vector<bool> announcements;
        {
            std::lock_guard guard(lock);
            if (stopping) {
                return;
            }
            announcements.swap(toAnnounce);
        }
        for (const bool sleeping : announcements) {
            sd_bus_emit_signal(bus, kPath, kInterface, "PrepareForSleep", "b", sleeping);
        }
        while (sd_bus_process(bus, nullptr) > 0) {
        }
        pollfd entries[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                             {wakeFd, POLLIN, 0}};
        ::poll(entries, 2, 100);
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(wakeFd, &count, sizeof(count));
    }
}

int FakeLogind::OnInhibit(sd_bus_message* call, void* userdata, sd_bus_error*) {
    auto* fake = static_cast<FakeLogind*>(userdata);
    const char *what, *who, *why, *mode;
    int ends[2];
    if (sd_bus_message_read(call, "ssss", &what, &who, &why, &mode) < 0 ||
        ::pipe2(ends, O_CLOEXEC) < 0) {
        return -EINVAL;
    }
    {
        std::lock_guard guard(fake->lock);
        fake->locks.push_back({what, who, why, mode, ends[0]});
    }
    const int result = sd_bus_reply_method_return(call, "h", ends[1]);
    ::close(ends[1]);
    return result;
}

int FakeLogind::OnSuspend(sd_bus_message* call, void* userdata, sd_bus_error*) {
    auto* fake = static_cast<FakeLogind*>(userdata);
    {
        std::lock_guard guard(fake->lock);
        ++fake->suspendRequests;
        fake->toAnnounce.push_back(true);  // logind announces the sleep it was asked for
    }
    fake->Wake();
    return sd_bus_reply_method_return(call, "");
}

int FakeLogind::OnDelayMax(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                           void* userdata, sd_bus_error*) {
    return sd_bus_message_append(reply, "t", static_cast<FakeLogind*>(userdata)->delayMaxUs);
}

}  // namespace power::testing
