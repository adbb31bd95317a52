// tscheck: tells where a recorded transport stream is damaged: per PID the packets lost, the
// packets marked as damaged and the scrambled packets, with the stream time of every gap.

#include <cstdio>
#include <string>

#include "sources/integrity/TsIntegrity.h"

namespace {

using integrity::IntegrityReport;

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
        std::printf("%s\n", integrity::FormatIntegrityJson(path, report).c_str());
    } else {
        std::fputs(integrity::FormatIntegrityText(path, report).c_str(), stdout);
    }
    return 0;
}
