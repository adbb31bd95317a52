#pragma once

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/power/PowerManager.h"
#include "platform/power/RecordingPowerManager.h"

namespace power::testing {

// Sets an environment variable for the life of the object and puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) {
            previous = old;
        }
        ::setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (previous) {
            ::setenv(name, previous->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

private:
    const char* name;
    std::optional<std::string> previous;
};

inline PowerCall Taken(const char* what, const char* mode) {
    return {PowerCall::Kind::kInhibitorTaken, what, mode, 0};
}
inline PowerCall Released(const char* what, const char* mode) {
    return {PowerCall::Kind::kInhibitorReleased, what, mode, 0};
}
inline PowerCall SuspendAsked() {
    return {PowerCall::Kind::kSuspend, {}, {}, 0};
}

}  // namespace power::testing
