// sidump: reads a transport stream through the SI analysis core and prints what the SI store
// holds at the end: as readable text, as a programme list (--epg) or as JSON (--json).

#include <cstdio>
#include <string>

#include "tools/sidump/SiDump.h"

namespace {

void Usage(FILE* to) {
    std::fputs(
        "usage: sidump [--epg | --json] [FILE | -]\n"
        "Reads an MPEG-2 transport stream (standard input without FILE or with -) and prints\n"
        "the service information it carries: readable text by default, the programme list of\n"
        "each service with --epg, one JSON document with --json.\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    enum class Format { kText, kEpg, kJson } format = Format::kText;
    std::string path;
    bool havePath = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            format = Format::kJson;
        } else if (arg == "--epg") {
            format = Format::kEpg;
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if ((arg.size() > 1 && arg[0] == '-') || havePath) {
            std::fprintf(stderr, "sidump: unexpected argument '%s'\n", arg.c_str());
            Usage(stderr);
            return 2;
        } else {
            path = arg;
            havePath = true;
        }
    }
    const bool fromStdin = !havePath || path == "-";
    const std::string name = fromStdin ? std::string("standard input") : path;
    sidump::DumpAnalyzer analyzer;
    sidump::StreamReader reader(analyzer);
    std::string error;
    if (!sidump::ReadStream(fromStdin ? std::string("-") : path, reader, &error)) {
        std::fprintf(stderr, "sidump: %s\n", error.c_str());
        return 1;
    }
    if (reader.GetPackets() == 0) {
        std::fprintf(stderr, "sidump: %s holds no transport stream packets (%llu bytes read)\n",
                     name.c_str(), static_cast<unsigned long long>(reader.GetBytes()));
        return 1;
    }
    const sidump::DumpStats stats{reader.GetBytes(), reader.GetPackets(), reader.GetSkippedBytes()};
    std::string out;
    switch (format) {
        case Format::kText:
            out = sidump::FormatText(analyzer, stats);
            break;
        case Format::kEpg:
            out = sidump::FormatEpg(analyzer);
            break;
        case Format::kJson:
            out = sidump::ToJson(analyzer, stats).dump(1) + "\n";
            break;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
