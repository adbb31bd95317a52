// capdump: feeds caption data to the caption filter in a media graph and prints the text it
// decodes; it can also write the presented pages as PNG files and timed subtitles.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/capdump/CaptionDump.h"

namespace {

void Usage(FILE* to) {
    std::fputs(
        "usage: capdump [--service ID] [--interval MS] [--pua] [--times] [--png DIR]\n"
        "               [--srt FILE] [--ass FILE] [--vtt FILE] FILE\n"
        "Feeds caption data through the caption filter and prints one line per decoded caption\n"
        "statement (UTF-8); a cleared page prints an empty line.\n"
        "FILE is a caption elementary stream (data groups as synchronised PES data packets\n"
        "without PES header, back to back). It carries no time stamps: data group n is given\n"
        "the presentation time n x MS milliseconds (--interval, 2000 by default).\n"
        "With --service ID, FILE is a transport stream: the SI analyzer selects that service\n"
        "and passes its caption stream on. Times then count from the service's first PCR.\n"
        "--pua        keep the decoder's private-use codes for ARIB additional symbols instead\n"
        "             of their Unicode characters (U+1F211 for [字])\n"
        "--times      start each line with its presentation time and a tab\n"
        "--png DIR    write every presented page as DIR/page-NNNNN.png over mid-grey\n"
        "--srt FILE, --ass FILE, --vtt FILE\n"
        "             write the captions as timed subtitles; the last one lasts 5 s at most\n",
        to);
}

bool ParseNumber(const char* text, long long low, long long high, long long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 0);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
    capdump::Options options;
    bool haveInput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "capdump: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        long long number = 0;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--service") {
            if (!ParseNumber(value(), 1, 0xFFFF, number)) {
                std::fprintf(stderr, "capdump: --service needs a service id from 1 to 65535\n");
                return 2;
            }
            options.serviceId = uint16_t(number);
        } else if (arg == "--interval") {
            if (!ParseNumber(value(), 1, 3'600'000, number)) {
                std::fprintf(stderr, "capdump: --interval needs milliseconds (1 to 3600000)\n");
                return 2;
            }
            options.interval = number * (kUnitsPerSecond / 1000);
        } else if (arg == "--pua") {
            options.privateUseSymbols = true;
        } else if (arg == "--times") {
            options.times = true;
        } else if (arg == "--png") {
            options.pngFolder = value();
        } else if (arg == "--srt") {
            options.srtPath = value();
        } else if (arg == "--ass") {
            options.assPath = value();
        } else if (arg == "--vtt") {
            options.vttPath = value();
        } else if ((arg.size() > 1 && arg[0] == '-') || haveInput) {
            std::fprintf(stderr, "capdump: unexpected argument '%s'\n", arg.c_str());
            Usage(stderr);
            return 2;
        } else {
            options.input = arg;
            haveInput = true;
        }
    }
    if (!haveInput) {
        Usage(stderr);
        return 2;
    }
    return capdump::RunCaptionDump(options, stdout, stderr);
}
