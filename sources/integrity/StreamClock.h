#pragma once

#include <cstdint>
#include <optional>

namespace integrity {

// Stream time from the PCRs of one PID. The first PCR is second 0; a packet's time is that of
// the latest PCR plus its distance in bytes at the rate measured between the last two PCRs.
// A PCR that goes backwards, jumps too far ahead or is flagged as a discontinuity starts a new
// reference that continues the times reached so far, so that a spliced or damaged clock never
// moves reported times backwards or far ahead.
class StreamClock {
public:
    // PCRs further apart than this are a break of the clock, not a gap in the stream.
    static constexpr double kMaxPcrStepSeconds = 5.0;

    // The PCR (27 MHz, base * 300 + extension) of the packet that starts `position` bytes into
    // the stream; `discontinuity` is its adaptation field's discontinuity_indicator.
    void AddPcr(uint64_t pcr, uint64_t position, bool discontinuity);

    // The next PCR is a new reference (the clock moved to another PID).
    void Restart() { restartPending = havePcr; }

    // Whether the rate is known, so that SecondsAt can place a position.
    bool HasRate() const { return bytesPerSecond > 0; }

    // Seconds at `position`, never below 0; empty while the rate is unknown.
    std::optional<double> SecondsAt(uint64_t position) const;

    uint64_t Discontinuities() const { return discontinuities; }

private:
    // Continues the times from the last reference at the rate measured so far.
    void Rebase(uint64_t pcr, uint64_t position);

    bool havePcr = false;
    bool restartPending = false;
    uint64_t lastPcr = 0;
    uint64_t lastPosition = 0;
    double lastSeconds = 0;
    double bytesPerSecond = 0;
    uint64_t discontinuities = 0;
};

}  // namespace integrity
