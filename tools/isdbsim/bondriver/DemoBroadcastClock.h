#pragma once

#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "tools/isdbsim/StreamKit.h"

// The demo tuner's broadcast clock, shared by the driver and by programs that need to know
// where its broadcast is without tuning it (a test's application clock, for one).
//
//   ORV_DEMO_TUNER_SPEED=N    the broadcast runs N times faster than real time (0 < N <= 1000)
//   ORV_DEMO_TUNER_START=T    the broadcast is at T (JST, "YYYY-MM-DDTHH:MM:SS" or with a
//                             blank for the T) when the process starts, and runs on at the
//                             speed from there
//
// Without a start the broadcast follows the system clock, and each tune begins at the time
// of the tune. With one, every tune joins the one broadcast clock, so the programmes of the
// guide, the time tables and a clock built from this agree however often the tuner is tuned.
namespace isdbsim {

inline double DemoTunerSpeed() {
    const char* text = std::getenv("ORV_DEMO_TUNER_SPEED");
    const double value = text != nullptr ? std::atof(text) : 0.0;
    return value > 0.0 && value <= 1000.0 ? value : 1.0;
}

inline std::optional<JstTime> DemoTunerStart() {
    const char* text = std::getenv("ORV_DEMO_TUNER_START");
    if (text == nullptr) {
        return std::nullopt;
    }
    std::string time(text);
    if (time.size() > 10 && time[10] == 'T') {
        time[10] = ' ';
    }
    return ParseJstTime(time);
}

// Seconds since this process started: its start in clock ticks since boot (/proc/self/stat,
// field 22) against the boot-time clock, so that every copy of this code in the process
// counts from the same moment.
inline double SecondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    // The command name (field 2) is in parentheses and may hold blanks; field 3 follows it.
    const size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos) {
        return 0.0;
    }
    std::istringstream fields(text.substr(nameEnd + 1));
    std::string skipped;
    for (int field = 3; field < 22 && fields >> skipped; ++field) {
    }
    unsigned long long startTicks = 0;
    fields >> startTicks;
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double started = double(startTicks) / double(sysconf(_SC_CLK_TCK));
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9 - started;
}

// Where the broadcast is now.
inline JstTime DemoBroadcastNow() {
    const std::optional<JstTime> start = DemoTunerStart();
    if (!start) {
        return NowJst();
    }
    return *start + static_cast<JstTime>(DemoTunerSpeed() * SecondsSinceProcessStart());
}

}  // namespace isdbsim
