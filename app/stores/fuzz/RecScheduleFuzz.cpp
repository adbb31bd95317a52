// libFuzzer target over the reservation file loader: any bytes load without harm, and what a load
// keeps is saved and loaded again unchanged.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/stores/CRecScheduleList.h"
#include "platform/profile/ProfileFile.h"

namespace {

struct FuzzTuners {
    FuzzTuners() {
        auto* tuner = tuners.Add(new CTuner());
        tuner->displayName = u"A";
        auto* space = tuner->tuningSpaces.Add(new CTuningSpace(tuner));
        auto* channel = space->channels.Add(new CChannelInfo(space));
        channel->transportStreamId = 0x7FE0;
        channel->serviceId = 0x0400;
    }
    COwnedList<CTuner> tuners;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzTuners fixture;
    static const std::string path = "/tmp/recschedule-fuzz-" + std::to_string(getpid()) + ".ini";
    ICWString widePath;
    widePath.SetUtf8(path);

    if (!profile::ReplaceFileAtomically(path,
                                        std::string(reinterpret_cast<const char*>(data), size))) {
        return 0;
    }
    CRecScheduleList first(fixture.tuners, nullptr);
    first.LoadReservations(widePath);
    const std::string saved = first.FormatReservations();
    if (!first.SaveReservations(widePath)) {
        return 0;
    }
    CRecScheduleList second(fixture.tuners, nullptr);
    second.LoadReservations(widePath);
    if (second.FormatReservations() != saved) {
        std::abort();
    }
    return 0;
}
