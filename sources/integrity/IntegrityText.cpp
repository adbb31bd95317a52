// The integrity report as the text tscheck and tsrec print.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "sources/integrity/TsIntegrity.h"

namespace integrity {
namespace {

// Gap times listed per PID in the text output; --json lists them all.
constexpr size_t kTextGaps = 20;

std::string SecondsText(const std::optional<double>& seconds) {
    if (!seconds) {
        return "?";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3fs", *seconds);
    return text;
}

// printf into the end of `out`.
__attribute__((format(printf, 2, 3))) void Append(std::string& out, const char* format, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length > 0 && size_t(length) < sizeof line) {
        out.append(line, size_t(length));
        return;
    }
    if (length > 0) {
        std::string longer(size_t(length) + 1, '\0');
        va_start(arguments, format);
        std::vsnprintf(longer.data(), longer.size(), format, arguments);
        va_end(arguments);
        out.append(longer.data(), size_t(length));
    }
}

}  // namespace

std::string FormatIntegrityText(const std::string& name, const IntegrityReport& report) {
    std::string out;
    Append(out, "%s: %llu packets, %s\n", name.c_str(),
           static_cast<unsigned long long>(report.packets), SecondsText(report.duration).c_str());
    Append(out, "%-6s  %-7s  %10s  %6s  %6s  %9s  %s\n", "PID", "kind", "packets", "drops",
           "errors", "scrambled", "gaps");
    for (const PidIntegrity& pid : report.pids) {
        std::string gaps;
        for (size_t n = 0; n < pid.gaps.size() && n < kTextGaps; ++n) {
            gaps += (n > 0 ? " " : "") + SecondsText(pid.gaps[n].seconds);
        }
        if (pid.gaps.size() > kTextGaps) {
            gaps += " (" + std::to_string(pid.gaps.size() - kTextGaps) + " more)";
        }
        Append(out, "0x%04X  %-7s  %10llu  %6llu  %6llu  %9llu  %s\n", pid.pid,
               integrity::PidKindName(pid.kind), static_cast<unsigned long long>(pid.packets),
               static_cast<unsigned long long>(pid.drops),
               static_cast<unsigned long long>(pid.errors),
               static_cast<unsigned long long>(pid.scrambled), gaps.c_str());
    }
    if (report.skippedBytes > 0) {
        Append(out, "%llu bytes outside packets skipped, the packet rhythm lost %llu times\n",
               static_cast<unsigned long long>(report.skippedBytes),
               static_cast<unsigned long long>(report.syncLosses));
    }
    if (report.truncatedBytes > 0) {
        Append(out, "the last packet is cut short after %llu bytes\n",
               static_cast<unsigned long long>(report.truncatedBytes));
    }
    if (report.pcrDiscontinuities > 0) {
        Append(out, "%llu PCR discontinuities\n",
               static_cast<unsigned long long>(report.pcrDiscontinuities));
    }
    if (report.unlistedGaps > 0) {
        Append(out, "%llu further gaps counted but not listed\n",
               static_cast<unsigned long long>(report.unlistedGaps));
    }
    Append(out, "%s\n", report.Summary().c_str());
    return out;
}

}  // namespace integrity
