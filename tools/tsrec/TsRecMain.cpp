// tsrec: records a transport stream from a tuner or a file the way Orvanta does, and reports
// its integrity.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "sources/integrity/TsIntegrity.h"
#include "tools/tsrec/TsRecorder.h"

namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
    interrupted.store(true);
}

// A terminal gets one line that keeps changing; a log gets a line every five seconds, and the
// final state in any case.
void PrintProgress(const tsrec::Progress& progress, bool terminal, bool final = false) {
    static int lastLogged = -1;
    const int seconds = static_cast<int>(progress.elapsedSeconds);
    if (!terminal && !final && seconds / 5 == lastLogged) {
        return;
    }
    lastLogged = seconds / 5;
    std::fprintf(stderr,
                 "%s%02d:%02d:%02d  %8.1f MB  %6.2f Mbit/s  signal %5.2f  %llu drops, %llu "
                 "errors%s",
                 terminal ? "\r" : "", seconds / 3600, seconds / 60 % 60, seconds % 60,
                 double(progress.bytes) / 1e6, progress.bitRate / 1e6, progress.signalLevel,
                 static_cast<unsigned long long>(progress.drops),
                 static_cast<unsigned long long>(progress.errors), terminal ? "  " : "\n");
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    bool help = false;
    std::string error;
    const std::optional<tsrec::Options> options =
        tsrec::ParseArguments(argc - 1, argv + 1, &help, &error);
    if (help) {
        std::fputs(tsrec::Usage(), stdout);
        return 0;
    }
    if (!options) {
        std::fprintf(stderr, "tsrec: %s\n%s", error.c_str(), tsrec::Usage());
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const bool terminal = isatty(STDERR_FILENO) != 0;
    tsrec::Recorder recorder(*options);
    if (!recorder.Open(&error)) {
        std::fprintf(stderr, "tsrec: %s\n", error.c_str());
        return 1;
    }
    const bool recorded = recorder.Record(
        [terminal](const tsrec::Progress& progress) { PrintProgress(progress, terminal); },
        interrupted, &error);
    if (terminal) {
        std::fputc('\n', stderr);
    }
    if (!recorded) {
        std::fprintf(stderr, "tsrec: %s\n", error.c_str());
        return 1;
    }
    PrintProgress(recorder.Final(), false, true);
    // What the file holds, checked after the fact as tscheck would.
    integrity::IntegrityReport report;
    if (!integrity::CheckTsFile(options->output, report, &error)) {
        std::fprintf(stderr, "tsrec: %s\n", error.c_str());
        return 1;
    }
    std::fputs(integrity::FormatIntegrityText(options->output, report).c_str(), stdout);
    return 0;
}
