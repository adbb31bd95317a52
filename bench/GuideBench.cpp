// Speed of the programme guide on a store of about 100,000 events (260 channels over 8 days, a
// programme every 30 minutes, with titles and texts of broadcast length):
// (1) painting a full page of 20 channels x 24 hours (2640 x 3840 grid pixels: 960 cells with
//     their word-wrapped, elided text) into an image, as the grid paints its window;
// (2) a search through the whole space that matches nothing (the longest walk: every title and
//     every text folded and compared), and one whose only match is in the last channel.
// Targets: a page within 16 ms, a search within 20 ms.

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <filesystem>
#include <memory>
#include <string>

#include "app/stores/CEpgStore.h"
#include "app/ui/guide/CEPGWindow.h"
#include "app/ui/guide/GuideLayout.h"
#include "app/ui/guide/tests/GuideTestSupport.h"
#include "bench/BenchEngineHost.h"

namespace {

constexpr int kChannels = 260;
constexpr int kPageChannels = 20;
constexpr int kPageHours = 24;

// The stores the guide reads, on a fixed clock: Thursday 10 December 2026, 20:00.
benchsupport::BenchEngineHost* MakeHost() {
    auto* host = new benchsupport::BenchEngineHost([] { return guidetest::At(2026, 12, 10, 20); });
    CEpgStore& epg = host->epg;
    guidetest::FillGuide(epg, CTuningSpace::kTerrestrial, kChannels, guide::kDays,
                         guidetest::At(2026, 12, 10), 30);
    // The only match of the second search, in the last channel's last day.
    CChannelInfo* last = epg.SpaceOfType(CTuningSpace::kTerrestrial)->physicalChannels.Last();
    last->events.Last()->text = u"ＺＥＲＯ特集";
    return host;
}

benchsupport::BenchEngineHost& Host() {
    static benchsupport::BenchEngineHost* host = MakeHost();
    return *host;
}

CEPGWindow& Window() {
    static CEPGWindow* window = new CEPGWindow(Host());
    return *window;
}

int EventCount() {
    int events = 0;
    for (const CChannelInfo* channel :
         Host().epg.SpaceOfType(CTuningSpace::kTerrestrial)->physicalChannels) {
        events += channel->events.GetCount();
    }
    return events;
}

const QRect kPage(100 * guide::kColumnWidth, 2 * 24 * guide::kRowHeight,
                  kPageChannels* guide::kColumnWidth, kPageHours* guide::kRowHeight);

void Paint(CEPGWindow& window, QImage& image) {
    QPainter painter(&image);
    window.PaintGrid(painter, kPage);
    painter.end();
    benchmark::DoNotOptimize(image.constBits());
}

// A page repainted (scrolling back and forth over it): the cells' text is laid out already.
void PaintPage(benchmark::State& state) {
    CEPGWindow& window = Window();
    QImage image(kPage.size(), QImage::Format_RGB32);
    Paint(window, image);
    for (auto _ : state) {
        Paint(window, image);
    }
    state.counters["events"] = EventCount();
}
BENCHMARK(PaintPage)->Unit(benchmark::kMillisecond)->UseRealTime();

// A page painted for the first time by a new window: every cell's text laid out.
void PaintPageFirst(benchmark::State& state) {
    QImage image(kPage.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<CEPGWindow>(Host());
        state.ResumeTiming();
        Paint(*window, image);
    }
}
BENCHMARK(PaintPageFirst)->Unit(benchmark::kMillisecond)->UseRealTime();

void Search(benchmark::State& state, const char16_t* keyword, bool expectFound) {
    CEPGWindow& window = Window();
    CTuningSpace* space = Host().epg.SpaceOfType(CTuningSpace::kTerrestrial);
    for (auto _ : state) {
        guide::EpgSearch search;
        CEventInfo* found = search.FindNext(*space, keyword, guide::EpgSearch::kAll,
                                            guide::EpgSearch::kAll, window.BaseTime());
        if ((found != nullptr) != expectFound) {
            state.SkipWithError("the search did not find what it should");
            break;
        }
    }
    state.counters["events"] = EventCount();
}
void SearchNoMatch(benchmark::State& state) {
    Search(state, u"存在しない言葉", false);
}
void SearchLastChannel(benchmark::State& state) {
    Search(state, u"zero", true);
}
BENCHMARK(SearchNoMatch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SearchLastChannel)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
