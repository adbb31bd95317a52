// Time to the first picture on the demo tuner: from CViewerGraph::Build (the graph made, the
// tuner's driver loaded) through the tune and the run to the first picture the video renderer
// presents, with the real modules, decoders and renderers, the silent sound sink and a picture
// area nobody sees. Several runs, each on a new graph; the figures are the median and the
// extremes. Target: the first picture within 1.5 s.
//
// A timed program: the demo tuner delivers at a broadcast's pace, so the figure is wall time.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/engine/CViewerGraph.h"
#include "app/engine/UiThread.h"
#include "app/startup/CAppStores.h"
#include "app/startup/CInitThread.h"
#include "core/CodePage.h"
#include "platform/media/MediaClasses.h"
#include "platform/tasks/TaskTimers.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr double kTargetMs = 1500.0;

// A full-HD picture area that notes when the first picture arrived.
class CTimedSurface final : public IVideoSurface {
public:
    void GetClientSize(LONG* width, LONG* height) override {
        *width = 1920;
        *height = 1080;
    }
    void PresentFrame(std::shared_ptr<const VideoFrame>, const RECT&) override {
        if (!presented.exchange(true)) {
            first = Clock::now();
        }
    }
    void Reset() { presented = false; }
    bool Presented() const { return presented.load(); }
    Clock::time_point First() const { return first; }

private:
    std::atomic<bool> presented{false};
    std::atomic<Clock::time_point> first{};
};

class CBenchHost final : public IEngineHost {
public:
    explicit CBenchHost(CAppStores& stores) : stores(stores) {}
    CSettings& Settings() override { return stores.settings; }
    CTunerList& Tuners() override { return stores.tuners; }
    CEpgStore& EpgStore() override { return stores.epg; }
    CLogoList& Logos() override { return stores.logos; }
    CRecScheduleList& Reservations() override { return stores.reservations; }
    IUiThread& UiThread() override { return uiThread; }
    MessageResult ShowMessage(const std::u16string& text, const std::u16string&, MessageIcon,
                              MessageButtons) override {
        std::fprintf(stderr, "first_picture_bench: %s\n", Utf16ToUtf8(text).c_str());
        return MessageResult::kOk;
    }

    CAppStores& stores;
    CQueueUiThread uiThread;
};

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

}  // namespace

int main() {
    ::setenv("ORV_AUDIO_SINK", "silent", 1);
    ::setenv("ORV_POWER_BACKEND", "recording", 1);
    const std::filesystem::path temp = std::filesystem::temp_directory_path() /
                                       ("orv-first-picture-" + std::to_string(::getpid()));
    ::setenv("ORVANTA_REGISTRY", (temp / "registry.json").c_str(), 1);
    AppFolders folders;
    folders.application = ORV_BIN_DIR;
    folders.data = (temp / "Data").string();
    folders.executablePath = folders.data + "/orvanta";
    folders.bonDriver = (temp / "BonDriver").string();
    std::filesystem::create_directories(folders.bonDriver);
    std::filesystem::create_directories(folders.data);
    std::filesystem::copy_file(std::string(ORV_BIN_DIR) + "/BonDriver/BonDriver_Demo.so",
                               folders.bonDriver + "/BonDriver_Demo.so",
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(folders.data + "/orvanta.ini")
        << "[Config]\r\nBonDriverFolder=" << folders.bonDriver << "\r\nFirstIgnoreTime=0\r\n";

    int status = 0;
    {
        MediaRegisterBuiltins();
        CAppStores stores(
            folders, [] { return TimeValue{0}; }, std::make_unique<tasks::RecordingTaskTimers>());
        CInitThread::Callbacks callbacks;
        callbacks.error = [](const ICWString& text) {
            std::fprintf(stderr, "first_picture_bench: %s\n", Utf16ToUtf8(text.GetView()).c_str());
        };
        CInitThread init(stores, callbacks);
        CTuner* tuner = init.StartupChecks() ? stores.FirstTuner() : nullptr;
        CChannelInfo* channel = tuner != nullptr ? CAppStores::StartChannel(*tuner) : nullptr;
        if (channel == nullptr) {
            std::fprintf(stderr, "first_picture_bench: the demo tuner was not found\n");
            status = 1;
        } else {
            CBenchHost host(stores);
            CTimedSurface surface;
            std::vector<double> builds;
            std::vector<double> firsts;
            for (int run = 0; run < kRuns; ++run) {
                CViewerGraph graph(host);
                graph.videoWindow = &surface;
                surface.Reset();
                const Clock::time_point start = Clock::now();
                if (FAILED(graph.Build(tuner, ICWString())) || FAILED(graph.Tune(channel)) ||
                    FAILED(graph.RunGraph())) {
                    std::fprintf(stderr, "first_picture_bench: the graph does not run: %s\n",
                                 graph.errorText.GetText());
                    status = 1;
                    break;
                }
                builds.push_back(Milliseconds(Clock::now() - start));
                if (!host.uiThread.RunUntil([&] { return surface.Presented(); },
                                            std::chrono::seconds(10))) {
                    std::fprintf(stderr, "first_picture_bench: no picture within 10 s\n");
                    status = 1;
                    break;
                }
                firsts.push_back(Milliseconds(surface.First() - start));
                std::printf("run %d: built, tuned and running %7.1f ms, first picture %7.1f ms\n",
                            run + 1, builds.back(), firsts.back());
                graph.Teardown();
                host.uiThread.RunPending();
            }
            if (!firsts.empty()) {
                std::sort(firsts.begin(), firsts.end());
                const double median = firsts[firsts.size() / 2];
                std::printf(
                    "first picture after Build: median %.1f ms (min %.1f, max %.1f, %zu runs); "
                    "target <= %.0f ms: %s\n",
                    median, firsts.front(), firsts.back(), firsts.size(), kTargetMs,
                    median <= kTargetMs ? "met" : "missed");
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(temp, ignored);
    return status;
}
