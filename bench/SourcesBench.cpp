// The stream sources under load, as a timed program:
//  - recording a 60 Mbit/s live stream: the demo tuner's satellite channel (24 Mbit/s) paced
//    2.5 times faster than real time, through the tuner-driver source and the SI analyzer,
//    for ten seconds; the packets lost (none expected) and the CPU the recording costs per
//    second of stream, net of what the demo tuner spends making the stream;
//  - playing a file through the transport-stream source and the analyzer as fast as they go.
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sources/IBonDriver.h"
#include "sources/integrity/TsIntegrity.h"
#include "tools/isdbsim/TsStream.h"
#include "tools/tsrec/TsRecorder.h"

namespace {

constexpr double kSpeed = 2.5;
constexpr double kSeconds = 10.0;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What the demo tuner alone costs: the stream read and thrown away.
double DriverOnlyCpu(const std::string& driverPath) {
    void* library = dlopen(driverPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return -1;
    }
    auto create = reinterpret_cast<IBonDriver* (*)()>(dlsym(library, "CreateBonDriver"));
    IBonDriver* driver = create != nullptr ? create() : nullptr;
    auto* driver2 = dynamic_cast<IBonDriver2*>(driver);
    if (driver2 == nullptr || !BonDriverResultTrue(driver->OpenTuner()) ||
        !BonDriverResultTrue(driver2->SetChannel(DWORD{1}, DWORD{0}))) {
        return -1;
    }
    const double cpuBefore = CpuSeconds();
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSeconds);
    while (std::chrono::steady_clock::now() < end) {
        if (driver->WaitTsStream(50) != kWaitObject0) {
            continue;
        }
        BYTE* data = nullptr;
        DWORD size = 0;
        DWORD remaining = 0;
        do {
            driver->GetTsStream(&data, &size, &remaining);
        } while (remaining != 0);
    }
    const double cpu = CpuSeconds() - cpuBefore;
    driver->CloseTuner();
    driver->Release();
    dlclose(library);
    return cpu;
}

void LiveRecording(const std::string& driverPath, const std::string& folder) {
    const double driverCpu = DriverOnlyCpu(driverPath);
    tsrec::Options options;
    options.driver = driverPath;
    options.space = 1;
    options.channel = 0;
    options.durationSeconds = kSeconds;
    options.output = folder + "/live.ts";
    tsrec::Recorder recorder(options);
    std::string error;
    std::atomic<bool> interrupted{false};
    const double cpuBefore = CpuSeconds();
    if (driverCpu < 0 || !recorder.Open(&error) ||
        !recorder.Record([](const tsrec::Progress&) {}, interrupted, &error)) {
        std::printf("live recording: failed (%s)\n", error.c_str());
        return;
    }
    const double cpu = CpuSeconds() - cpuBefore;
    const tsrec::Progress& result = recorder.Final();
    const double streamSeconds = kSeconds * kSpeed;
    std::printf(
        "live recording: %.1f s of a %.0f Mbit/s stream (%.1f MB written, input %.1f "
        "Mbit/s), %llu drops, %llu errors\n",
        streamSeconds, 24.0 * kSpeed, double(result.bytes) / 1e6, result.bitRate / 1e6,
        static_cast<unsigned long long>(result.drops),
        static_cast<unsigned long long>(result.errors));
    integrity::IntegrityReport report;
    if (integrity::CheckTsFile(options.output, report, &error)) {
        std::printf("live recording: the file checked: %s\n", report.Summary().c_str());
    }
    std::printf(
        "live recording: CPU %.3f s in all, the tuner alone %.3f s: %.1f ms of CPU per "
        "second of stream (%.2f%% of one core at real time)\n",
        cpu, driverCpu, (cpu - driverCpu) * 1000 / streamSeconds,
        (cpu - driverCpu) * 100 / streamSeconds);
}

void FilePlayback(const std::string& folder) {
    const std::string path = folder + "/playback.ts";
    {
        isdbsim::TsStream stream(*isdbsim::FindChannel(1, 0),
                                 *isdbsim::ParseJstTime("2026-04-01 12:00:00"), 1);
        if (!stream.Open(nullptr)) {
            std::printf("file playback: the encoders are unavailable\n");
            return;
        }
        FILE* file = std::fopen(path.c_str(), "wb");
        std::vector<uint8_t> buffer(2048 * 188);
        const auto total = static_cast<uint64_t>(60.0 * stream.PacketRate());
        for (uint64_t done = 0; file != nullptr && done < total; done += 2048) {
            const auto count = static_cast<size_t>(std::min<uint64_t>(2048, total - done));
            stream.Generate(buffer.data(), count);
            std::fwrite(buffer.data(), 188, count, file);
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    const double megabytes = double(std::filesystem::file_size(path)) / 1e6;
    for (const bool record : {false, true}) {
        tsrec::Options options;
        options.input = tsrec::Options::Input::kFile;
        options.inputFile = path;
        options.output = record ? folder + "/copy.ts" : "";
        tsrec::Recorder recorder(options);
        std::string error;
        std::atomic<bool> interrupted{false};
        const auto start = std::chrono::steady_clock::now();
        if (!recorder.Open(&error) ||
            !recorder.Record([](const tsrec::Progress&) {}, interrupted, &error)) {
            std::printf("file playback: failed (%s)\n", error.c_str());
            return;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("file playback%s: %.0f MB in %.2f s: %.0f MB/s (%.0f times real time)\n",
                    record ? " while recording it again" : "", megabytes, seconds,
                    megabytes / seconds, 60.0 / seconds);
    }
}

}  // namespace

int main() {
    ::setenv("ORV_DEMO_TUNER_SPEED", "2.5", 1);
    std::string folder = std::filesystem::temp_directory_path() / "orv-sources-bench-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        return 1;
    }
    LiveRecording(ORV_DEMO_BONDRIVER, folder);
    FilePlayback(folder);
    std::filesystem::remove_all(folder);
    return 0;
}
