// sidump: reads a transport stream through the SI analysis core and prints what the SI store
// holds at the end: as readable text, as a programme list (--epg) or as JSON (--json), and
// with --logos the station logos it received as PNG files.

#include <cstdio>
#include <string>
#include <vector>

#include "app/stores/CEpgStore.h"
#include "app/stores/EpgDataFile.h"
#include "platform/profile/ProfileFile.h"
#include "tools/sidump/SiDump.h"
#include "tools/sidump/SiDumpEpgData.h"

namespace {

void Usage(FILE* to) {
    std::fputs(
        "usage: sidump [--epg | --json] [--pua] [--logos DIR] [FILE | -]\n"
        "       sidump --epg-data FILE [--json]\n"
        "       sidump --merge-epg OUT.data STREAM...\n"
        "Reads an MPEG-2 transport stream (standard input without FILE or with -) and prints\n"
        "the service information it carries: readable text by default, the programme list of\n"
        "each service with --epg, one JSON document with --json.\n"
        "--logos DIR also writes every station logo received (CDT and data carousel) into DIR\n"
        "as logo_<network>_<logo id>_<type>_v<version>.png.\n"
        "ARIB additional symbols are written as their Unicode characters (U+1F211 for [字]);\n"
        "--pua keeps the decoder's private-use codes (U+E0FE) instead.\n"
        "--epg-data prints a programme guide file (EPG.data), as text or with --json.\n"
        "--merge-epg merges the EIT of the streams into a new programme guide file through\n"
        "the application's EPG store.\n",
        to);
}

int PrintEpgData(const std::string& path, bool json) {
    CEpgStore store;
    std::string error;
    std::string note;
    if (!sidump::LoadEpgDataFile(path, store, &error, &note)) {
        std::fprintf(stderr, "sidump: %s\n", error.c_str());
        return 1;
    }
    if (!note.empty()) {
        std::fprintf(stderr, "sidump: %s\n", note.c_str());
    }
    const std::string out =
        json ? sidump::EpgDataToJson(store).dump(1) + "\n" : sidump::FormatEpgData(store);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int MergeEpg(const std::string& outPath, const std::vector<std::string>& streams) {
    CEpgStore store;
    for (const std::string& path : streams) {
        sidump::DumpAnalyzer analyzer;
        sidump::StreamReader reader(analyzer);
        std::string error;
        if (!sidump::ReadStream(path, reader, &error)) {
            std::fprintf(stderr, "sidump: %s\n", error.c_str());
            return 1;
        }
        const int merged = sidump::MergeStreamEpg(analyzer, store);
        std::fprintf(stderr, "sidump: %s: %d events merged\n", path.c_str(), merged);
    }
    const std::string bytes = epgdata::Write(store.EpgTuner());
    if (!profile::ReplaceFileAtomically(outPath, bytes)) {
        std::fprintf(stderr, "sidump: cannot write %s\n", outPath.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--epg-data") {
        const bool json = argc == 4 && std::string(argv[3]) == "--json";
        if (argc > 4 || (argc == 4 && !json)) {
            Usage(stderr);
            return 2;
        }
        return PrintEpgData(argv[2], json);
    }
    if (argc >= 2 && std::string(argv[1]) == "--merge-epg") {
        if (argc < 4) {
            std::fprintf(stderr, "sidump: --merge-epg needs an output file and streams\n");
            Usage(stderr);
            return 2;
        }
        return MergeEpg(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    }
    enum class Format { kText, kEpg, kJson } format = Format::kText;
    std::string path;
    bool havePath = false;
    std::string logoFolder;
    bool writeLogos = false;
    sidump::TextStyle style;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            format = Format::kJson;
        } else if (arg == "--epg") {
            format = Format::kEpg;
        } else if (arg == "--pua") {
            style.privateUseSymbols = true;
        } else if (arg == "--logos") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "sidump: --logos needs a folder\n");
                Usage(stderr);
                return 2;
            }
            logoFolder = argv[++i];
            writeLogos = true;
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
    std::string error;
    // Checked before the stream is read, which may take long.
    if (writeLogos && !sidump::PrepareLogoFolder(logoFolder, &error)) {
        std::fprintf(stderr, "sidump: %s\n", error.c_str());
        return 1;
    }
    const bool fromStdin = !havePath || path == "-";
    const std::string name = fromStdin ? std::string("standard input") : path;
    sidump::DumpAnalyzer analyzer;
    sidump::StreamReader reader(analyzer);
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
            out = sidump::FormatText(analyzer, stats, style);
            break;
        case Format::kEpg:
            out = sidump::FormatEpg(analyzer, style);
            break;
        case Format::kJson:
            out = sidump::ToJson(analyzer, stats, style).dump(1) + "\n";
            break;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    int status = std::fflush(stdout) == 0 ? 0 : 1;
    if (writeLogos) {
        const sidump::LogoWriteResult written = sidump::WriteLogos(analyzer, logoFolder);
        for (const std::string& skipped : written.skipped) {
            std::fprintf(stderr, "sidump: logo not written: %s\n", skipped.c_str());
        }
        if (!written.error.empty()) {
            std::fprintf(stderr, "sidump: %s\n", written.error.c_str());
            status = 1;
        }
    }
    return status;
}
