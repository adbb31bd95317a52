// The tuner-server driver under load, as a timed program: a 60 Mbit/s stream served over the
// loopback interface by the tests' tuner server and read through the driver the way a host
// reads it (wait up to 50 ms, then take every ready chunk) for ten seconds. Prints the CPU the
// driver costs per second of stream (its receiving thread and the host's reading), net of what
// the server's threads spend sending it.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sources/mirakurun/MirakurunBonDriver.h"
#include "sources/mirakurun/tests/TestTunerServer.h"
#include "tools/isdbsim/TsStream.h"

namespace {

constexpr double kBitsPerSecond = 60e6;
constexpr double kSeconds = 10.0;
constexpr double kLoopSeconds = 4.0;  // of the simulated broadcast, served again and again

double CpuSeconds(clockid_t clock) {
    timespec time{};
    clock_gettime(clock, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

std::vector<uint8_t> Broadcast() {
    isdbsim::TsStream stream(*isdbsim::FindChannel(1, 0),
                             *isdbsim::ParseJstTime("2026-04-01 12:00:00"), 1);
    if (!stream.Open(nullptr)) {
        return {};
    }
    const auto count = static_cast<size_t>(kLoopSeconds * stream.PacketRate());
    std::vector<uint8_t> bytes(count * 188);
    stream.Generate(bytes.data(), count);
    return bytes;
}

}  // namespace

int main() {
    const std::vector<uint8_t> broadcast = Broadcast();
    mirakurun::test::TestTunerServer server;
    if (broadcast.empty() || !server.Listening()) {
        std::printf("tuner-server driver: no stream or no server\n");
        return 1;
    }
    server.Set("/api/channels",
               mirakurun::test::Reply::Document(R"([{"type": "BS", "channel": "BS01_0"}])"));
    server.Set("/api/channels/BS/BS01_0/stream",
               mirakurun::test::Reply::Stream(broadcast).Paced(kBitsPerSecond / 8).Repeated());
    mirakurun::DriverSettings settings;
    settings.server = server.Url();
    auto* driver = new mirakurun::MirakurunBonDriver(settings, "mirakurun_bench");
    if (!driver->OpenTuner() || !driver->SetChannel(DWORD{0}, DWORD{0})) {
        std::printf("tuner-server driver: the channel could not be tuned\n");
        driver->Release();
        return 1;
    }
    const double cpuBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double readerBefore = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const double serverBefore = server.CpuSeconds();
    uint64_t received = 0;
    float bitRate = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSeconds);
    while (std::chrono::steady_clock::now() < end) {
        if (driver->WaitTsStream(50) != kWaitObject0) {
            continue;
        }
        received += mirakurun::test::TakeReadyChunks(driver).value_or(0);
        bitRate = driver->GetSignalLevel();
    }
    const double cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
    const double readerCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - readerBefore;
    const double serverCpu = server.CpuSeconds() - serverBefore;
    driver->Release();

    const double driverCpu = cpu - serverCpu;
    std::printf(
        "tuner-server driver: %.0f s of a %.0f Mbit/s stream over loopback: %.1f MB received "
        "(%.1f Mbit/s), the driver's last rate %.1f Mbit/s\n",
        kSeconds, kBitsPerSecond / 1e6, double(received) / 1e6,
        double(received) * 8 / kSeconds / 1e6, double(bitRate));
    std::printf(
        "tuner-server driver: CPU %.3f s in all, the server %.3f s, the driver %.3f s (its "
        "receiving thread %.3f s, the reading host %.3f s): %.2f%% of one core\n",
        cpu, serverCpu, driverCpu, driverCpu - readerCpu, readerCpu, driverCpu * 100 / kSeconds);
    return 0;
}
