// The integrity report as one JSON document (tscheck --json, and the report kept beside each
// recording).
#include <nlohmann/json.hpp>

#include <string>

#include "sources/integrity/TsIntegrity.h"

namespace integrity {
namespace {

using nlohmann::json;

json SecondsJson(const std::optional<double>& seconds) {
    return seconds ? json(*seconds) : json(nullptr);
}

}  // namespace

std::string FormatIntegrityJson(const std::string& path, const IntegrityReport& report) {
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
    return document.dump(2, ' ', false, json::error_handler_t::replace);
}

}  // namespace integrity
