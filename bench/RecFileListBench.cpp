// Speed of opening the recorded-file page on a recording folder of 2,000 recordings: the folder
// scanned (every recording's information packet read, and the integrity report beside half of
// them) and the list filled and sorted, as the page does when it opens or is refreshed.
// The recordings are small files (the packet and a few stream packets) written once into the
// build tree, with start times in no particular order and titles of broadcast length; a quarter
// of the reports show drops and their gaps.
// Target: the page opened within 300 ms.

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <QApplication>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "app/engine/recording/CRecFileList.h"
#include "app/engine/recording/RecordingInfoPacket.h"
#include "app/stores/CEpgStore.h"
#include "app/ui/lists/CTabFileList.h"
#include "bench/BenchEngineHost.h"
#include "core/CodePage.h"
#include "sianalyzer/ICSITime.h"
#include "sources/integrity/TsIntegrity.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRecordings = 2000;
constexpr size_t kStreamPackets = 16;

// The recording folder, filled once: a recording every few hours over about a year.
std::string RecordingFolder() {
    static const std::string folder = [] {
        const fs::path path = fs::path(ORV_BENCH_TEMP_DIR) / "recfilelist-bench";
        fs::remove_all(path);
        fs::create_directories(path);
        std::mt19937 random(2026);
        ICSIDateTime newYear;
        newYear.year = 2026;
        newYear.month = 1;
        newYear.day = 1;
        const TimeValue yearStart = sitime::ToValue(newYear);
        const std::u16string titles[] = {
            u"ニュース", u"連続ドラマ「港の灯」第８話", u"映画\uFF5E遠い夏の日\uFF5E",
            u"世界の車窓から　スイス・アルプスを越えて　氷河急行の旅（再）",
            u"アニメ　星の子どもたち　第２４話「さよなら、またね」"};
        const std::u16string services[] = {u"みなと放送1", u"みなと放送2", u"ＢＳみなと"};
        for (int i = 0; i < kRecordings; ++i) {
            RecordingInfo info;
            info.transportStreamId = 0x7FE0;
            info.serviceId = uint16_t(0x0400 + i % 3);
            info.eventId = uint16_t(i);
            info.startTime = yearStart + int64_t(random() % (360 * 24)) * 3600;
            info.durationSeconds = 1800 * (1 + random() % 4);
            info.channelName = services[i % 3];
            info.title = titles[random() % std::size(titles)];
            info.genre = {uint8_t((random() % 12) << 4), 0xEE, 0xEE, 0xEE};
            info.resumePosition = i % 5 == 0 ? uint32_t(random() % 3600000) : 0;
            const RecordingInfoPacket packet = WriteRecordingInfo(info);
            const std::string file = (path / ("rec" + std::to_string(i) + ".ts")).string();
            std::ofstream out(file, std::ios::binary);
            out.write(reinterpret_cast<const char*>(packet.data()), packet.size());
            out << std::string(188 * kStreamPackets, char(0x47));
            if (i % 2 == 0) {
                continue;
            }
            integrity::IntegrityReport report;
            report.packets = kStreamPackets;
            report.duration = info.durationSeconds;
            for (uint16_t pid : {0x0100, 0x0110, 0x0130}) {
                integrity::PidIntegrity stream;
                stream.pid = pid;
                stream.packets = kStreamPackets;
                if (i % 4 == 1) {
                    for (int gap = 0; gap < 5; ++gap) {
                        stream.gaps.push_back({double(random() % info.durationSeconds), 3});
                        stream.drops += 3;
                    }
                }
                report.drops += stream.drops;
                report.pids.push_back(stream);
            }
            std::ofstream(CRecFileList::CheckPath(file), std::ios::binary)
                << integrity::FormatIntegrityJson(file, report);
        }
        return path.string();
    }();
    return folder;
}

// The recording folder as the settings' first one.
struct BenchHost : benchsupport::BenchEngineHost {
    BenchHost() {
        settings.recFolders[0] =
            ICWString(std::u16string_view(Utf8ToUtf16(RecordingFolder() + "/")));
    }
};

// The page refreshed: the list is emptied, the folder scanned again and the rows filled.
void OpenRecordedList(benchmark::State& state) {
    BenchHost host;
    CRecFileList files;
    CTabFileList page(nullptr, host, files);
    page.ReloadFiles();  // the folder written and in the page cache
    for (auto _ : state) {
        page.ReloadFiles();
    }
    if (page.List().topLevelItemCount() != kRecordings) {
        state.SkipWithError("the page did not list every recording");
    }
    state.counters["recordings"] = page.List().topLevelItemCount();
}
BENCHMARK(OpenRecordedList)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
