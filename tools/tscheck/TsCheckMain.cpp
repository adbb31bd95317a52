// tscheck: tells where a recorded transport stream is damaged: per PID the packets lost, the
// packets marked as damaged and the scrambled packets, with the stream time of every gap.

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

#include "sources/integrity/TsIntegrity.h"

namespace {

using integrity::IntegrityReport;
using integrity::PidIntegrity;
using integrity::StreamGap;
using nlohmann::json;

// Gap times listed per PID in the text output; --json lists them all.
constexpr size_t kTextGaps = 20;

void Usage(FILE* to) {
    std::fputs(
        "usage: tscheck FILE [--json]\n"
        "Checks a recorded MPEG-2 transport stream and prints, for every PID, what the PAT\n"
        "and PMTs say it carries, its packets, the packets lost (continuity counter), the\n"
        "packets with transport errors and the scrambled packets, with the stream time of\n"
        "every gap in seconds from the first PCR; then the line\n"
        "\"N drops, N errors, N scrambled\". --json prints one JSON document instead.\n"
        "Exit status: 0 when the file was read (damaged or not), 2 when it could not be\n"
        "read or holds no transport stream packets, or on a usage error.\n",
        to);
}

std::string Seconds(const std::optional<double>& seconds) {
    if (!seconds) {
        return "?";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3fs", *seconds);
    return text;
}

json SecondsJson(const std::optional<double>& seconds) {
    return seconds ? json(*seconds) : json(nullptr);
}

void PrintText(const std::string& path, const IntegrityReport& report) {
    std::printf("%s: %llu packets, %s\n", path.c_str(),
                static_cast<unsigned long long>(report.packets), Seconds(report.duration).c_str());
    std::printf("%-6s  %-7s  %10s  %6s  %6s  %9s  %s\n", "PID", "kind", "packets", "drops",
                "errors", "scrambled", "gaps");
    for (const PidIntegrity& pid : report.pids) {
        std::string gaps;
        for (size_t n = 0; n < pid.gaps.size() && n < kTextGaps; ++n) {
            gaps += (n > 0 ? " " : "") + Seconds(pid.gaps[n].seconds);
        }
        if (pid.gaps.size() > kTextGaps) {
            gaps += " (" + std::to_string(pid.gaps.size() - kTextGaps) + " more)";
        }
        std::printf("0x%04X  %-7s  %10llu  %6llu  %6llu  %9llu  %s\n", pid.pid,
                    integrity::PidKindName(pid.kind), static_cast<unsigned long long>(pid.packets),
                    static_cast<unsigned long long>(pid.drops),
                    static_cast<unsigned long long>(pid.errors),
                    static_cast<unsigned long long>(pid.scrambled), gaps.c_str());
    }
    if (report.skippedBytes > 0) {
        std::printf("%llu bytes outside packets skipped, the packet rhythm lost %llu times\n",
                    static_cast<unsigned long long>(report.skippedBytes),
                    static_cast<unsigned long long>(report.syncLosses));
    }
    if (report.truncatedBytes > 0) {
        std::printf("the last packet is cut short after %llu bytes\n",
                    static_cast<unsigned long long>(report.truncatedBytes));
    }
    if (report.pcrDiscontinuities > 0) {
        std::printf("%llu PCR discontinuities\n",
                    static_cast<unsigned long long>(report.pcrDiscontinuities));
    }
    if (report.unlistedGaps > 0) {
        std::printf("%llu further gaps counted but not listed\n",
                    static_cast<unsigned long long>(report.unlistedGaps));
    }
    std::printf("%s\n", report.Summary().c_str());
}

void PrintJson(const std::string& path, const IntegrityReport& report) {
    json pids = json::array();
    for (const PidIntegrity& pid : report.pids) {
        json gaps = json::array();
        for (const StreamGap& gap : pid.gaps) {
            gaps.push_back(SecondsJson(gap.seconds));
        }
        pids.push_back({{"pid", pid.pid},
                        {"kind", integrity::PidKindName(pid.kind)},
                        {"packets", pid.packets},
                        {"drops", pid.drops},
                        {"errors", pid.errors},
                        {"scrambled", pid.scrambled},
                        {"gaps", std::move(gaps)}});
    }
    const json document = {{"file", path},
                           {"packets", report.packets},
                           {"duration", SecondsJson(report.duration)},
                           {"drops", report.drops},
                           {"errors", report.errors},
                           {"scrambled", report.scrambled},
                           {"skippedBytes", report.skippedBytes},
                           {"syncLosses", report.syncLosses},
                           {"truncatedBytes", report.truncatedBytes},
                           {"pcrDiscontinuities", report.pcrDiscontinuities},
                           {"unlistedGaps", report.unlistedGaps},
                           {"summary", report.Summary()},
                           {"pids", std::move(pids)}};
    std::printf("%s\n", document.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::string path;
    bool havePath = false;
    bool asJson = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            asJson = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if ((arg.size() > 1 && arg[0] == '-') || havePath) {
            std::fprintf(stderr, "tscheck: unexpected argument '%s'\n", arg.c_str());
            Usage(stderr);
            return 2;
        } else {
            path = arg;
            havePath = true;
        }
    }
    if (!havePath) {
        std::fprintf(stderr, "tscheck: no file given\n");
        Usage(stderr);
        return 2;
    }
    IntegrityReport report;
    std::string error;
    if (!integrity::CheckTsFile(path, report, &error)) {
        std::fprintf(stderr, "tscheck: %s\n", error.c_str());
        return 2;
    }
    if (report.packets == 0) {
        std::fprintf(stderr, "tscheck: %s holds no transport stream packets (%llu bytes)\n",
                     path.c_str(), static_cast<unsigned long long>(report.bytes));
        return 2;
    }
    if (asJson) {
        PrintJson(path, report);
    } else {
        PrintText(path, report);
    }
    return 0;
}
