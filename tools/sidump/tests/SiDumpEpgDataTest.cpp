// sidump and programme guide files: a simulated broadcast merged into EPG.data through the
// application's EPG store, and the file printed back.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <set>

#include "app/stores/CEpgStore.h"
#include "sianalyzer/ICSIEIT.h"
#include "sianalyzer/ICSIList.h"
#include "tools/isdbsim/TsStream.h"
#include "tools/sidump/SiDump.h"
#include "tools/sidump/SiDumpEpgData.h"
#include "tools/sidump/tests/SiDumpCommand.h"

namespace {

std::vector<uint8_t> SimulatedStream(int space, int channel) {
    const isdbsim::TransportStreamInfo* info = isdbsim::FindChannel(space, channel);
    isdbsim::TsStream stream(*info, *isdbsim::ParseJstTime("2026-12-08 20:00:00"), 1);
    std::vector<uint8_t> bytes;
    if (stream.Open(nullptr)) {
        const size_t count = static_cast<size_t>(20.0 * stream.PacketRate());
        bytes.resize(count * 188);
        stream.Generate(bytes.data(), count);
        const std::vector<uint8_t> tail = stream.Finish();
        bytes.insert(bytes.end(), tail.begin(), tail.end());
    }
    return bytes;
}

TEST(SiDumpEpgData, AMergedStreamIsWrittenAsAGuideFileAndPrintedBack) {
    const std::vector<uint8_t> stream = SimulatedStream(0, 0);
    ASSERT_FALSE(stream.empty());
    const std::filesystem::path folder =
        std::filesystem::path(::testing::TempDir()) / "sidump_epgdata";
    std::filesystem::create_directories(folder);
    const std::string streamPath = (folder / "stream.ts").string();
    std::ofstream(streamPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));

    // What the analyzer holds: the event ids of each service.
    sidump::DumpAnalyzer analyzer;
    sidump::StreamReader reader(analyzer);
    reader.Feed(stream.data(), stream.size());
    reader.Finish();
    std::map<uint16_t, std::set<uint16_t>> expected;
    ICSIList& si = *analyzer.GetSIList();
    for (int32_t i = 0; i < si.GetEITCount(); ++i) {
        const ICSIEIT& eit = *si.GetEIT(i);
        for (int32_t t = 0; t < eit.GetTableCount(); ++t) {
            for (int32_t s = 0; s < eit.GetTable(t)->GetSegmentCount(); ++s) {
                const ICSIEITSegment& segment = *eit.GetTable(t)->GetSegment(s);
                for (int32_t e = 0; e < segment.GetEventCount(); ++e) {
                    expected[eit.GetServiceID()].insert(segment.GetEvent(e)->GetEventID());
                }
            }
        }
    }
    ASSERT_FALSE(expected.empty());

    int status = 0;
    const std::string dataPath = (folder / "EPG.data").string();
    RunSidump("--merge-epg " + dataPath + " " + streamPath, status);
    ASSERT_EQ(status, 0);
    CEpgStore store;
    ASSERT_TRUE(store.LoadEpg(folder.string()));
    std::map<uint16_t, std::set<uint16_t>> loaded;
    for (const CTuningSpace* space : store.EpgTuner().tuningSpaces) {
        for (const CChannelInfo* channel : space->physicalChannels) {
            EXPECT_FALSE(channel->name.IsEmpty());
            for (const CEventInfo* event : channel->events) {
                loaded[static_cast<uint16_t>(channel->serviceId)].insert(event->eventId);
            }
        }
    }
    EXPECT_EQ(loaded, expected);

    const std::string json = RunSidump("--epg-data " + dataPath + " --json", status);
    ASSERT_EQ(status, 0);
    const nlohmann::json document = nlohmann::json::parse(json);
    size_t events = 0;
    for (const auto& space : document["tuning_spaces"]) {
        for (const auto& channel : space["channels"]) {
            events += channel["events"].size();
        }
    }
    size_t expectedEvents = 0;
    for (const auto& [service, ids] : expected) {
        expectedEvents += ids.size();
    }
    EXPECT_EQ(events, expectedEvents);
    EXPECT_NE(RunSidump("--epg-data " + dataPath, status).find(" events) =="), std::string::npos);
    EXPECT_EQ(status, 0);

    // A cut file prints what precedes the cut and says so.
    std::filesystem::resize_file(dataPath, 40);
    const std::string cut = RunSidump("--epg-data " + dataPath, status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(cut.find("damaged or cut short"), std::string::npos);
    std::filesystem::remove_all(folder);
}

}  // namespace
