#pragma once

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace power::testing {

// A private message bus (dbus-daemon on a socket in a temporary folder) with a stand-in for
// logind on it: it hands out inhibitor locks as pipes whose far end shows when a lock is let
// go, counts suspend requests and announces sleeps as logind does. Usable() is false when no
// dbus-daemon can be started here.
class FakeLogind {
public:
    struct Lock {
        std::string what, who, why, mode;
        int farEnd;  // readable end of the pipe; end of file once the lock is released
    };

    // `serve`: claim logind's name; without it the bus has no logind.
    explicit FakeLogind(bool serve, std::chrono::milliseconds delayMax = std::chrono::seconds(5));
    ~FakeLogind();
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    bool Usable() const { return usable; }
    std::string Address() const { return "unix:path=" + (folder / "bus").string(); }

    // Announces PrepareForSleep(sleeping) from the service's own thread.
    void Announce(bool sleeping);
    std::vector<Lock> Locks() const;
    bool Released(const Lock& lock) const;
    int SuspendRequests() const;

    // Polls `condition` until it holds or two seconds have passed.
    static bool Eventually(const std::function<bool()>& condition);

private:
    void Serve();
    void Wake();
    static int OnInhibit(sd_bus_message* call, void* userdata, sd_bus_error* error);
    static int OnSuspend(sd_bus_message* call, void* userdata, sd_bus_error* error);
    static int OnDelayMax(sd_bus* bus, const char* path, const char* interface,
                          const char* property, sd_bus_message* reply, void* userdata,
                          sd_bus_error* error);

    std::filesystem::path folder;
    pid_t daemon = -1;
    sd_bus* bus = nullptr;
    int wakeFd = -1;
    bool usable = false;
    bool stopping = false;  // guarded by `lock`
    const uint64_t delayMaxUs;

    mutable std::mutex lock;
    std::vector<Lock> locks;
    std::vector<bool> toAnnounce;
    int suspendRequests = 0;
    std::thread service;
};

}  // namespace power::testing
