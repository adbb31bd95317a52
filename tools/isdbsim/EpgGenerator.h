#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/Descriptors.h"
#include "tools/isdbsim/StreamKit.h"

namespace isdbsim {

// A programme of the simulated guide, with everything the EIT says about it.
struct ProgramEvent {
    uint16_t eventId = 0;
    JstTime start = 0;
    int duration = 0;  // seconds
    std::u16string title;
    std::u16string text;
    std::vector<ExtendedItem> items;
    uint16_t genre = 0;  // nibble 1 << 12 | nibble 2 << 8 | 0xFF
    bool series = false;
    uint16_t seriesId = 0;
    int episode = 0;
    int lastEpisode = 0;
    std::u16string seriesName;
    bool simulcast = false;  // repeats the event of `simulcastServiceId`
    uint16_t simulcastServiceId = 0;
};

// The small deterministic generator behind every choice (SplitMix64).
class Prng {
public:
    explicit Prng(uint64_t seed) : state(seed) {}
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t bound) {
        return bound == 0 ? 0 : static_cast<uint32_t>(Next() % bound);
    }

private:
    uint64_t state;
};

// The programmes of one JST day of a service: they fill the day from 00:00 to 24:00, each
// 15 to 120 minutes long. The same seed, service and day always give the same programmes.
std::vector<ProgramEvent> EventsOfDay(const ServiceInfo& service, uint64_t seed, int64_t day);

// The programmes of [from, to) in start-time order: every programme overlapping the range.
std::vector<ProgramEvent> EventsBetween(const ServiceInfo& service, uint64_t seed, JstTime from,
                                        JstTime to);

// The programme on air at `time` and the one after it.
struct PresentFollowing {
    ProgramEvent present;
    ProgramEvent following;
};
PresentFollowing PresentFollowingAt(const ServiceInfo& service, uint64_t seed, JstTime time);

}  // namespace isdbsim
