// isdbsim: writes the transport stream of a simulated ISDB broadcaster.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/CodePage.h"
#include "tools/isdbsim/Intent.h"
#include "tools/isdbsim/TsStream.h"

namespace {

using namespace isdbsim;

void Usage(FILE* to) {
    std::fputs(
        "usage: isdbsim [--space UHF|BS] [--channel N] [--duration SECONDS]\n"
        "               [--start \"YYYY-MM-DD HH:MM:SS\"] [--realtime] [--seed N] [-o FILE|-]\n"
        "       isdbsim --list\n"
        "Writes the MPEG-2 transport stream of a simulated broadcaster. N counts from 0 within\n"
        "the tuning space. Without --start the stream follows the system clock (JST); without\n"
        "--realtime it is written as fast as possible. The default duration is 60 s, or no end\n"
        "with --realtime. The output is the same for the same seed and start time.\n",
        to);
}

void List() {
    const auto& spaces = TuningSpaces();
    for (size_t s = 0; s < spaces.size(); ++s) {
        std::printf("%s\n", spaces[s].label.c_str());
        for (size_t c = 0; c < spaces[s].channels.size(); ++c) {
            const TransportStreamInfo& ts = spaces[s].channels[c];
            std::printf("  %zu  %s  %s  (network 0x%04X, TS 0x%04X, %.3f Mbit/s)\n", c,
                        Utf16ToUtf8(ts.channelName).c_str(), Utf16ToUtf8(ts.tsName).c_str(),
                        ts.networkId, ts.transportStreamId, ts.muxRate / 1e6);
            for (const ServiceInfo& service : ts.services) {
                std::printf("       0x%04X (%5u) type 0x%02X  %s\n", service.serviceId,
                            service.serviceId, service.serviceType,
                            Utf16ToUtf8(service.name).c_str());
            }
        }
    }
}

bool ParseNumber(const char* text, long long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 0);
    return errno == 0 && end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    std::string spaceName = "UHF";
    long long channel = 0;
    std::optional<double> duration;
    std::optional<JstTime> start;
    bool realtime = false;
    long long seed = 1;
    std::string output = "-";
    std::string intentFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "isdbsim: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        long long number = 0;
        if (arg == "--list") {
            List();
            return 0;
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--space") {
            spaceName = value();
        } else if (arg == "--channel") {
            if (!ParseNumber(value(), channel)) {
                std::fprintf(stderr, "isdbsim: bad channel number\n");
                return 2;
            }
        } else if (arg == "--duration") {
            char* end = nullptr;
            const char* text = value();
            const double seconds = std::strtod(text, &end);
            if (end == text || *end != '\0' || !(seconds >= 0) || seconds > 1e7) {
                std::fprintf(stderr, "isdbsim: bad duration\n");
                return 2;
            }
            duration = seconds;
        } else if (arg == "--start") {
            start = ParseJstTime(value());
            if (!start) {
                std::fprintf(stderr, "isdbsim: the start time must be \"YYYY-MM-DD HH:MM:SS\"\n");
                return 2;
            }
        } else if (arg == "--realtime") {
            realtime = true;
        } else if (arg == "--seed") {
            if (!ParseNumber(value(), number)) {
                std::fprintf(stderr, "isdbsim: bad seed\n");
                return 2;
            }
            seed = number;
        } else if (arg == "-o") {
            output = value();
        } else if (arg == "--dump-intent") {
            intentFile = value();
        } else {
            std::fprintf(stderr, "isdbsim: unknown argument %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }
    const int space = FindSpace(spaceName);
    const TransportStreamInfo* ts = FindChannel(space, static_cast<int>(channel));
    if (ts == nullptr) {
        std::fprintf(stderr, "isdbsim: no channel %lld in space %s (see --list)\n", channel,
                     spaceName.c_str());
        return 2;
    }
    const JstTime startTime = start ? *start : NowJst();
    if (!intentFile.empty()) {
        FILE* file = std::fopen(intentFile.c_str(), "wb");
        const std::string json = IntentJson(*ts, startTime, static_cast<uint64_t>(seed));
        if (file == nullptr || std::fwrite(json.data(), 1, json.size(), file) != json.size()) {
            std::fprintf(stderr, "isdbsim: cannot write %s\n", intentFile.c_str());
            return 1;
        }
        std::fclose(file);
    }
    FILE* out = output == "-" ? stdout : std::fopen(output.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "isdbsim: cannot create %s: %s\n", output.c_str(),
                     std::strerror(errno));
        return 1;
    }
    TsStream stream(*ts, startTime, static_cast<uint64_t>(seed));
    std::string error;
    if (!stream.Open(&error)) {
        std::fprintf(stderr, "isdbsim: %s\n", error.c_str());
        return 1;
    }
    const bool endless = !duration && realtime;
    const uint64_t total =
        static_cast<uint64_t>((duration ? *duration : 60.0) * stream.PacketRate() + 0.5);
    // Chunks of about 50 ms of stream.
    const size_t chunk = std::max<size_t>(1, static_cast<size_t>(stream.PacketRate() / 20));
    std::vector<uint8_t> buffer(chunk * kTsPacketSize);
    const auto wallStart = std::chrono::steady_clock::now();
    uint64_t written = 0;
    while (endless || written < total) {
        const size_t count =
            endless ? chunk : static_cast<size_t>(std::min<uint64_t>(chunk, total - written));
        stream.Generate(buffer.data(), count);
        if (std::fwrite(buffer.data(), kTsPacketSize, count, out) != count) {
            if (out != stdout) {
                std::fprintf(stderr, "isdbsim: write error\n");
            }
            return 1;
        }
        written += count;
        if (realtime) {
            std::fflush(out);
            const auto due =
                wallStart + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(stream.ElapsedSeconds()));
            std::this_thread::sleep_until(due);
        }
    }
    if (!endless) {
        const Bytes tail = stream.Finish();
        if (std::fwrite(tail.data(), 1, tail.size(), out) != tail.size()) {
            return 1;
        }
    }
    if (out != stdout && std::fclose(out) != 0) {
        std::fprintf(stderr, "isdbsim: write error\n");
        return 1;
    }
    return 0;
}
