// Speed of the EPG store on a guide of 200 channels over 8 days (about 100,000 events, one
// every 23 minutes, with titles, texts, components and genres as the simulator sends them):
// (1) merging the analyzer's events into the store, in events per second;
// (2) writing EPG.data (assembling the bytes, and the atomic replacement of the file);
// (3) loading EPG.data into an empty index.
// Targets: at least 200,000 merged events/s, a save within 150 ms, a load within 100 ms.

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/stores/CEpgStore.h"
#include "app/stores/EpgDataFile.h"
#include "sianalyzer/ICSIEIT.h"
#include "sianalyzer/ICSIList.h"
#include "sianalyzer/tests/SiTestSupport.h"
#include "tools/isdbsim/Descriptors.h"

namespace {

constexpr uint16_t kOnid = 4;
constexpr uint16_t kTsid = 0x4010;
constexpr int kChannels = 200;
constexpr int kDays = 8;
constexpr int kSlotMinutes = 23;
constexpr int kEventsPerChannel = kDays * 24 * 60 / kSlotMinutes;

// The analyzer holding the whole guide, fed with schedule sections: one section per
// three-hour segment, tables 0x50 and 0x51 of four days each.
sitest::TestAnalyzer& Analyzer() {
    static sitest::TestAnalyzer* analyzer = [] {
        auto* result = new sitest::TestAnalyzer;
        for (int c = 0; c < kChannels; ++c) {
            const uint16_t serviceId = static_cast<uint16_t>(100 + c);
            std::vector<sitest::EventEntry> segment;
            int segmentIndex = 0;
            auto flush = [&] {
                if (segment.empty()) {
                    return;
                }
                const uint8_t tableId = static_cast<uint8_t>(0x50 + segmentIndex / 32);
                const uint8_t section = static_cast<uint8_t>((segmentIndex % 32) * 8);
                result->FeedSection(
                    0x12,
                    streamkit::BuildSection({tableId, serviceId, 1, section, 0xF8, true},
                                            sitest::EitBody(kTsid, kOnid, section, 0x51, segment)));
                segment.clear();
            };
            for (int e = 0; e < kEventsPerChannel; ++e) {
                const int minutes = e * kSlotMinutes;
                const int day = minutes / 1440;
                const int hour = minutes / 60 % 24;
                if ((day * 24 + hour) / 3 != segmentIndex) {
                    flush();
                    segmentIndex = (day * 24 + hour) / 3;
                }
                sitest::ByteWriter descriptors;
                isdbsim::ShortEventDescriptor(descriptors, u"ニュース・天気予報と今日の特集",
                                              u"全国と各地のニュース、気象情報。特集は地域の話題を"
                                              u"中継でお伝えします。");
                isdbsim::ComponentDescriptor(descriptors, 0x01, 0xB3, 0x00, u"");
                isdbsim::AudioComponentDescriptor(descriptors, 0x10, 0x03, 7, u"");
                isdbsim::ContentDescriptor(descriptors, {0x0000, 0x0100});
                segment.push_back({static_cast<uint16_t>(e + 1), 2026, 12, 1 + day, hour,
                                   minutes % 60, 0, 0x002300, descriptors.Take()});
            }
            flush();
        }
        return result;
    }();
    return *analyzer;
}

std::vector<const ICSIEvent*>& Events() {
    static std::vector<const ICSIEvent*> events = [] {
        std::vector<const ICSIEvent*> result;
        ICSIList& si = *Analyzer().GetSIList();
        for (int32_t i = 0; i < si.GetEITCount(); ++i) {
            const ICSIEIT& eit = *si.GetEIT(i);
            for (int32_t t = 0; t < eit.GetTableCount(); ++t) {
                for (int32_t s = 0; s < eit.GetTable(t)->GetSegmentCount(); ++s) {
                    const ICSIEITSegment& segment = *eit.GetTable(t)->GetSegment(s);
                    for (int32_t e = 0; e < segment.GetEventCount(); ++e) {
                        result.push_back(segment.GetEvent(e));
                    }
                }
            }
        }
        return result;
    }();
    return events;
}

TimeValue Clock() {
    return 63932025600;
}

// Merges every event, each into its service's channel (created on first sight).
void MergeAll(CEpgStore& store) {
    CChannelInfo* channel = nullptr;
    for (const ICSIEvent* event : Events()) {
        const ICSIEIT& eit = *event->GetOwner()->GetOwner()->GetOwner();
        if (channel == nullptr || channel->serviceId != eit.GetServiceID()) {
            channel = store.FindEpgChannel(kTsid, eit.GetServiceID());
        }
        if (channel == nullptr) {
            CTuningSpace& space = *store.SpaceOfType(CTuningSpace::kBS);
            channel = new CChannelInfo(&space);
            channel->transportStreamId = kTsid;
            channel->serviceId = eit.GetServiceID();
            channel->channelNumber = eit.GetServiceID();
            channel->name = u"BSチャンネル";
            CEpgStore::InsertChannelByNumber(space, channel);
        }
        store.MergeEvent(*channel, *event);
    }
}

std::string TempFolder() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "epgbenchXXXXXX").string();
        return mkdtemp(pattern.data()) != nullptr ? pattern : std::string(".");
    }();
    return folder;
}

void Merge(benchmark::State& state) {
    const size_t count = Events().size();
    for (auto _ : state) {
        CEpgStore store(Clock);
        MergeAll(store);
        benchmark::DoNotOptimize(store.EpgTuner().tuningSpaces.GetCount());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
    state.counters["events"] = static_cast<double>(count);
}
BENCHMARK(Merge)->Unit(benchmark::kMillisecond)->UseRealTime();

void WriteBytes(benchmark::State& state) {
    CEpgStore store(Clock);
    MergeAll(store);
    size_t size = 0;
    for (auto _ : state) {
        size = epgdata::Write(store.EpgTuner()).size();
    }
    state.counters["MB"] = static_cast<double>(size) / 1e6;
}
BENCHMARK(WriteBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

void Save(benchmark::State& state) {
    CEpgStore store(Clock);
    MergeAll(store);
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.SaveEpg(TempFolder()));
    }
}
BENCHMARK(Save)->Unit(benchmark::kMillisecond)->UseRealTime();

void Load(benchmark::State& state) {
    {
        CEpgStore store(Clock);
        MergeAll(store);
        if (!store.SaveEpg(TempFolder())) {
            state.SkipWithError("cannot write EPG.data");
            return;
        }
    }
    int64_t events = 0;
    for (auto _ : state) {
        CEpgStore store(Clock);
        benchmark::DoNotOptimize(store.LoadEpg(TempFolder()));
        state.PauseTiming();
        events = 0;
        for (const CChannelInfo* channel : store.SpaceOfType(CTuningSpace::kBS)->physicalChannels) {
            events += channel->events.GetCount();
        }
        state.ResumeTiming();
    }
    state.counters["events"] = static_cast<double>(events);
}
BENCHMARK(Load)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(TempFolder());
    return 0;
}
