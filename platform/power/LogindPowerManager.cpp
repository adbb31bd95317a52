#include "platform/power/LogindPowerManager.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace power {

namespace {

constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kInhibitorOwner = "Orvanta";

// A request to logind never waits longer than this, so that a stuck bus cannot hang the
// application's thread.
constexpr uint64_t kMethodCallTimeoutUs = 3'000'000;
// The event thread looks again at least this often, whatever the deadlines say.
constexpr int kLongestPollMs = 60'000;

std::string BusErrorText(const sd_bus_error& error, int result) {
    if (error.message != nullptr) {
        return error.message;
    }
    return std::strerror(-result);
}

int MillisecondsUntil(uint64_t monotonicUs) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nowUs =
        static_cast<uint64_t>(now.tv_sec) * 1'000'000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
    if (monotonicUs <= nowUs) {
        return 0;
    }
    return static_cast<int>(std::min<uint64_t>((monotonicUs - nowUs + 999) / 1000, kLongestPollMs));
}

}  // namespace

// One connection to the system bus, shared by the application's threads (requests) and the
// event thread (signals) under one lock; sd-bus itself is not thread-safe. A request may read
// signals into the connection's queue while it waits for its reply, so every request wakes the
// event thread afterwards to handle them.
class LogindConnection : public PowerService {
public:
    ~LogindConnection() override {
        matchSlot = sd_bus_slot_unref(matchSlot);
        bus = sd_bus_close_unref(bus);  // every request was answered: nothing to flush
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
    }

    // 0, or an errno value with `reason` filled.
    int Open(std::string& reason) {
        wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) {
            const int error = errno;
            reason = std::string("no event descriptor: ") + std::strerror(error);
            return error;
        }
        int result = sd_bus_open_system(&bus);
        if (result < 0) {
            reason = std::string("the system bus cannot be reached: ") + std::strerror(-result);
            return -result;
        }
        sd_bus_set_method_call_timeout(bus, kMethodCallTimeoutUs);
        sd_bus_error error = SD_BUS_ERROR_NULL;
        uint64_t delayMaxUs = 0;
        result = sd_bus_get_property_trivial(bus, kLogindService, kLogindPath, kLogindManager,
                                             "InhibitDelayMaxUSec", &error, 't', &delayMaxUs);
        if (result < 0) {
            reason = "logind does not answer on the system bus: " + BusErrorText(error, result);
            sd_bus_error_free(&error);
            return -result;
        }
        delayMax = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::microseconds(delayMaxUs));
        result = sd_bus_match_signal(bus, &matchSlot, kLogindService, kLogindPath, kLogindManager,
                                     "PrepareForSleep", &LogindConnection::OnPrepareForSleep, this);
        if (result < 0) {
            reason =
                std::string("logind's sleep signal cannot be heard: ") + std::strerror(-result);
            return -result;
        }
        return 0;
    }

    // How long logind waits for delay locks before it sleeps anyway.
    std::chrono::milliseconds DelayMax() const { return delayMax; }

    int TakeInhibitor(const InhibitorRequest& request, std::string& message) override {
        int fd = -1;
        {
            std::lock_guard guard(busLock);
            if (bus == nullptr || lost) {
                message = "the system bus connection is gone";
                return -ENOTCONN;
            }
            sd_bus_error error = SD_BUS_ERROR_NULL;
            sd_bus_message* reply = nullptr;
            int result = sd_bus_call_method(bus, kLogindService, kLogindPath, kLogindManager,
                                            "Inhibit", &error, &reply, "ssss", request.what,
                                            kInhibitorOwner, request.why, request.mode);
            int received = -1;
            if (result >= 0) {
                result = sd_bus_message_read(reply, "h", &received);
            }
            if (result >= 0) {
                // The descriptor belongs to the reply; the lock lasts as long as a copy of it.
                fd = ::fcntl(received, F_DUPFD_CLOEXEC, 3);
                result = fd < 0 ? -errno : 0;
            }
            if (result < 0) {
                message = BusErrorText(error, result);
                fd = result;
            }
            sd_bus_error_free(&error);
            sd_bus_message_unref(reply);
        }
        Wake();
        return fd;
    }

    void ReleaseInhibitor(int fd) override { ::close(fd); }

    PowerResult RequestSuspend() override {
        PowerResult outcome;
        {
            std::lock_guard guard(busLock);
            if (bus == nullptr || lost) {
                return {ENOTCONN, "the system bus connection is gone"};
            }
            sd_bus_error error = SD_BUS_ERROR_NULL;
            // Not interactive: nobody is asked for a password while the computer goes to sleep.
            const int result = sd_bus_call_method(bus, kLogindService, kLogindPath, kLogindManager,
                                                  "Suspend", &error, nullptr, "b", 0);
            if (result < 0) {
                outcome = {-result, "logind refused to suspend: " + BusErrorText(error, result)};
            }
            sd_bus_error_free(&error);
        }
        Wake();
        return outcome;
    }

    // Event thread: handles what has arrived and returns the PrepareForSleep values in order;
    // fills the bus's poll entry and its own deadline (-1: none).
    std::vector<bool> Dispatch(pollfd& busEntry, int& timeoutMs) {
        std::lock_guard guard(busLock);
        busEntry = {-1, 0, 0};
        timeoutMs = -1;
        if (lost) {
            return {};
        }
        int result = 0;
        while ((result = sd_bus_process(bus, nullptr)) > 0) {
        }
        if (result < 0) {
            lost = true;  // the bus went away; requests fail from now on
        } else {
            busEntry = {sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0};
            uint64_t busDeadlineUs = UINT64_MAX;
            if (sd_bus_get_timeout(bus, &busDeadlineUs) >= 0 && busDeadlineUs != UINT64_MAX) {
                timeoutMs = MillisecondsUntil(busDeadlineUs);
            }
        }
        std::vector<bool> arrived;
        arrived.swap(announcements);
        return arrived;
    }

    int WakeFd() const { return wakeFd; }

    void Wake() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof(one));
    }

    void DrainWake() {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(wakeFd, &count, sizeof(count));
    }

private:
    // Runs inside sd_bus_process, with busLock held: only notes the value.
    static int OnPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
        int sleeping = 0;
        if (sd_bus_message_read(message, "b", &sleeping) >= 0) {
            static_cast<LogindConnection*>(userdata)->announcements.push_back(sleeping != 0);
        }
        return 0;
    }

    std::mutex busLock;
    sd_bus* bus = nullptr;
    sd_bus_slot* matchSlot = nullptr;
    bool lost = false;
    int wakeFd = -1;
    std::vector<bool> announcements;
    std::chrono::milliseconds delayMax{5000};
};

CLogindPowerManager::CLogindPowerManager(PowerClock clock, std::string rtcFolder)
    : clock(std::move(clock)),
      wakeAlarm(std::move(rtcFolder)),
      connection(std::make_unique<LogindConnection>()) {
    unavailableError = connection->Open(unavailableReason);
    coordinator =
        std::make_unique<SleepCoordinator>(*connection, this->clock, connection->DelayMax());
    if (unavailableError == 0) {
        coordinator->Start();
        eventThread = std::thread([this] { EventLoop(); });
    }
}

CLogindPowerManager::~CLogindPowerManager() {
    if (eventThread.joinable()) {
        stopping = true;
        connection->Wake();
        eventThread.join();
    }
    coordinator->Stop();
}

void CLogindPowerManager::SetNotify(PowerNotify notify) {
    coordinator->SetNotify(std::move(notify));
}

PowerResult CLogindPowerManager::Suspend() {
    return IsAvailable() ? coordinator->Suspend() : Unavailable();
}

PowerResult CLogindPowerManager::SetSystemRequired(bool displayToo) {
    return IsAvailable() ? coordinator->SetSystemRequired(displayToo) : Unavailable();
}

void CLogindPowerManager::AcknowledgeSuspend() {
    coordinator->AcknowledgeSuspend();
}

PowerResult CLogindPowerManager::SetWakeAlarm(std::time_t when) {
    return wakeAlarm.Set(when);
}

PowerResult CLogindPowerManager::ClearWakeAlarm() {
    return wakeAlarm.Clear();
}

bool CLogindPowerManager::TimersCanWake() const {
    return UserTimersCanWake();
}

void CLogindPowerManager::EventLoop() {
    while (!stopping) {
        pollfd entries[2] = {};
        int timeoutMs = -1;
        for (const bool sleeping : connection->Dispatch(entries[0], timeoutMs)) {
            coordinator->PrepareForSleep(sleeping);
        }
        coordinator->Poll();
        if (const auto deadline = coordinator->NextDeadline()) {
            const auto remaining =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - clock()).count();
            const int untilDeadline =
                static_cast<int>(std::clamp<int64_t>(remaining, 0, kLongestPollMs));
            timeoutMs = timeoutMs < 0 ? untilDeadline : std::min(timeoutMs, untilDeadline);
        }
        if (timeoutMs < 0) {
            timeoutMs = kLongestPollMs;
        }
        entries[1] = {connection->WakeFd(), POLLIN, 0};
        ::poll(entries, 2, timeoutMs);
        connection->DrainWake();
    }
}

}  // namespace power
