#include "sources/integrity/StreamClock.h"

namespace integrity {

namespace {

constexpr double kPcrHz = 27'000'000.0;
// The PCR counts base (33 bits, 90 kHz) * 300 + extension, so it wraps at 2^33 * 300.
constexpr uint64_t kPcrWrap = (uint64_t{1} << 33) * 300;
constexpr uint64_t kMaxPcrStep = static_cast<uint64_t>(StreamClock::kMaxPcrStepSeconds * kPcrHz);

}  // namespace

void StreamClock::AddPcr(uint64_t pcr, uint64_t position, bool discontinuity) {
    pcr %= kPcrWrap;
    if (!havePcr) {
        havePcr = true;
        lastPcr = pcr;
        lastPosition = position;
        lastSeconds = 0;
        return;
    }
    // Forward distance across the wrap; a PCR behind the last one shows up as a huge step.
    const uint64_t step = (pcr + kPcrWrap - lastPcr) % kPcrWrap;
    if (restartPending || discontinuity || step == 0 || step > kMaxPcrStep ||
        position <= lastPosition) {
        if (!restartPending) {
            ++discontinuities;
        }
        restartPending = false;
        Rebase(pcr, position);
        return;
    }
    const double seconds = static_cast<double>(step) / kPcrHz;
    bytesPerSecond = static_cast<double>(position - lastPosition) / seconds;
    lastSeconds += seconds;
    lastPcr = pcr;
    lastPosition = position;
}

void StreamClock::Rebase(uint64_t pcr, uint64_t position) {
    if (const std::optional<double> now = SecondsAt(position)) {
        lastSeconds = *now;
    }
    lastPcr = pcr;
    lastPosition = position;
}

std::optional<double> StreamClock::SecondsAt(uint64_t position) const {
    if (!havePcr || bytesPerSecond <= 0) {
        return std::nullopt;
    }
    const double seconds =
        lastSeconds +
        (static_cast<double>(position) - static_cast<double>(lastPosition)) / bytesPerSecond;
    return seconds < 0 ? 0.0 : seconds;
}

}  // namespace integrity
