#include "platform/power/PowerManager.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/power/LogindPowerManager.h"
#include "platform/power/RecordingPowerManager.h"

namespace power {

std::unique_ptr<IPowerManager> CreatePowerManager() {
    const char* chosen = std::getenv("ORV_POWER_BACKEND");
    if (chosen != nullptr && std::strcmp(chosen, "recording") == 0) {
        return std::make_unique<CRecordingPowerManager>();
    }
    auto logind = std::make_unique<CLogindPowerManager>();
    if (logind->IsAvailable()) {
        return logind;
    }
    static std::once_flag noted;
    std::call_once(noted, [&] {
        std::fprintf(stderr,
                     "Orvanta: power management is not available (%s); the computer will not be "
                     "put to sleep or kept awake\n",
                     logind->UnavailableReason().c_str());
    });
    return std::make_unique<CRecordingPowerManager>();
}

}  // namespace power
