// End to end: streams of the broadcast simulator through the analysis core, compared with what
// the simulator meant to send and with an independent decoder (the npm package aribts).

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "aribtext/ICAribSymbolMap.h"
#include "aribtext/ICJIS8SICode.h"
#include "core/CodePage.h"
#include "sianalyzer/SIConstants.h"
#include "sianalyzer/tests/SiTestSupport.h"
#include "tools/aribencode/AribEncoder.h"
#include "tools/isdbsim/Intent.h"
#include "tools/isdbsim/LogoImage.h"
#include "tools/isdbsim/SiTables.h"
#include "tools/isdbsim/TsStream.h"
#include "tools/isdbsim/oracle/OracleText.h"
#include "tools/sidump/SiDump.h"
#include "tools/sidump/tests/SiDumpCommand.h"

namespace {

using nlohmann::json;
using Bytes = std::vector<uint8_t>;

constexpr const char* kStart = "2026-04-01 12:00:00";
constexpr double kSeconds = 20.0;  // one cycle of every table the simulator sends

const Bytes& Stream(int space, int channel) {
    static std::map<std::pair<int, int>, Bytes> streams;
    auto [it, inserted] = streams.try_emplace({space, channel});
    if (inserted) {
        const isdbsim::TransportStreamInfo* info = isdbsim::FindChannel(space, channel);
        isdbsim::TsStream stream(*info, *isdbsim::ParseJstTime(kStart), 1);
        if (stream.Open(nullptr)) {
            const size_t count = static_cast<size_t>(kSeconds * stream.PacketRate());
            it->second.resize(count * 188);
            stream.Generate(it->second.data(), count);
            const Bytes tail = stream.Finish();
            it->second.insert(it->second.end(), tail.begin(), tail.end());
        }
    }
    return it->second;
}

json Intent(int space, int channel) {
    return json::parse(isdbsim::IntentJson(*isdbsim::FindChannel(space, channel),
                                           *isdbsim::ParseJstTime(kStart), 1));
}

json Dump(const Bytes& stream, uint64_t* skipped = nullptr) {
    sidump::DumpAnalyzer analyzer;
    sidump::StreamReader reader(analyzer);
    reader.Feed(stream.data(), stream.size());
    reader.Finish();
    if (skipped) {
        *skipped = reader.GetSkippedBytes();
    }
    return sidump::ToJson(analyzer,
                          {reader.GetBytes(), reader.GetPackets(), reader.GetSkippedBytes()});
}

// The text as the simulator sent it: its 8-unit coding, decoded (characters the coding has no
// code for were sent as the geta mark), with the additional symbols as the dump writes them.
std::string AsSent(const std::string& utf8) {
    const std::vector<uint8_t> bytes = EncodeAribText(Utf8ToUtf16(utf8));
    ICJIS8SICode decoder;
    return Utf16ToUtf8(
        ICAribSymbolMap::Replace(decoder.Decode(bytes.data(), bytes.size()).GetView()));
}

// The start as the dump writes it.
std::string DumpTime(std::string intentTime) {
    intentTime[10] = 'T';
    return intentTime;
}

const json* FindService(const json& dump, int serviceId) {
    for (const json& sdt : dump["sdt"]) {
        for (const json& service : sdt["services"]) {
            if (service["service_id"] == serviceId) {
                return &service;
            }
        }
    }
    return nullptr;
}

std::map<std::pair<int, int>, json> EventsById(const json& dump) {
    std::map<std::pair<int, int>, json> events;
    for (const json& eit : dump["eit"]) {
        for (const json& event : eit["events"]) {
            events[{eit["service_id"].get<int>(), event["event_id"].get<int>()}] = event;
        }
    }
    return events;
}

void ExpectDumpMatchesIntent(int space, int channel) {
    const Bytes& stream = Stream(space, channel);
    ASSERT_FALSE(stream.empty()) << "the simulator's encoders are unavailable";
    const json intent = Intent(space, channel);
    const json dump = Dump(stream);
    const isdbsim::TransportStreamInfo& info = *isdbsim::FindChannel(space, channel);

    EXPECT_EQ(dump["section_errors"], 0);
    ASSERT_FALSE(dump["pat"].is_null());
    EXPECT_EQ(dump["pat"]["transport_stream_id"], intent["transportStreamId"]);
    ASSERT_EQ(dump["nit"].size(), 1u);
    const json& nit = dump["nit"][0];
    EXPECT_EQ(nit["network_id"], intent["networkId"]);
    EXPECT_EQ(nit["network_name"], AsSent(intent["networkName"]));
    const json& ts = nit["ts"][0];
    EXPECT_EQ(ts["transport_stream_id"], intent["transportStreamId"]);
    EXPECT_EQ(ts["ts_name"], AsSent(intent["tsName"]));
    EXPECT_EQ(ts["remote_control_key_id"], intent["remoteControlKeyId"]);
    if (info.spaceType == isdbsim::SpaceType::Satellite) {
        ASSERT_EQ(ts["frequencies"].size(), 1u);
        EXPECT_EQ(ts["frequencies"][0], 11727480);
    } else {
        ASSERT_EQ(ts["frequencies"].size(), 1u);
        EXPECT_EQ(ts["frequencies"][0], isdbsim::UhfFrequencyField(info.physicalChannel) * 7);
    }

    // Every service: in the NIT's list, the SDT and with a PMT.
    ASSERT_EQ(ts["services"].size(), intent["services"].size());
    std::set<int> programs;
    for (const json& pmt : dump["pmt"]) {
        programs.insert(pmt["program_number"].get<int>());
    }
    for (const json& expected : intent["services"]) {
        const int id = expected["serviceId"];
        const json* service = FindService(dump, id);
        ASSERT_NE(service, nullptr) << id;
        EXPECT_EQ((*service)["service_type"], expected["serviceType"]);
        EXPECT_EQ((*service)["service_name"], AsSent(expected["name"]));
        EXPECT_EQ((*service)["provider_name"], AsSent(expected["provider"]));
        if (expected["logoId"] != 0) {
            EXPECT_EQ((*service)["logo_id"], expected["logoId"]) << id;
        }
        EXPECT_TRUE(programs.count(id)) << id;
    }
    for (const json& other : intent["otherServices"]) {
        const json* service = FindService(dump, other["serviceId"]);
        ASSERT_NE(service, nullptr);
        EXPECT_EQ((*service)["service_name"], AsSent(other["name"]));
    }

    // Every programme of the eight-day guide, and nothing else.
    const auto events = EventsById(dump);
    EXPECT_EQ(events.size(), intent["events"].size());
    int compared = 0;
    for (const json& expected : intent["events"]) {
        const auto it =
            events.find({expected["serviceId"].get<int>(), expected["eventId"].get<int>()});
        ASSERT_NE(it, events.end()) << expected["eventId"];
        const json& event = it->second;
        EXPECT_EQ(event["start"], DumpTime(expected["start"]));
        EXPECT_EQ(event["duration"], expected["duration"]);
        EXPECT_EQ(event["title"], AsSent(expected["title"]));
        EXPECT_EQ(event["text"], AsSent(expected["text"]));
        EXPECT_EQ(event["genres"], json::array({expected["genre"]}));
        ASSERT_EQ(event["extended"].size(), expected["items"].size()) << expected["eventId"];
        for (size_t i = 0; i < expected["items"].size(); ++i) {
            EXPECT_EQ(event["extended"][i]["item"], AsSent(expected["items"][i]["description"]));
            EXPECT_EQ(event["extended"][i]["text"], AsSent(expected["items"][i]["text"]));
        }
        ++compared;
    }
    EXPECT_GT(compared, 100);

    // The TOT of the last five seconds, in JST with the offset of Japan.
    ASSERT_FALSE(dump["tot"].is_null());
    EXPECT_GE(dump["tot"]["time"].get<std::string>(), "2026-04-01T12:00:14");
    EXPECT_LE(dump["tot"]["time"].get<std::string>(), "2026-04-01T12:00:20");
    EXPECT_EQ(dump["tot"]["local_time_offset"], 540);

    ASSERT_EQ(dump["bit"].size(), 1u);
    EXPECT_EQ(dump["bit"][0]["broadcasters"][0]["broadcaster_name"],
              AsSent(intent["broadcasterName"]));

    // Terrestrial stations send their logos in the CDT, one section per logo type.
    if (info.spaceType == isdbsim::SpaceType::Terrestrial) {
        ASSERT_EQ(dump["cdt"].size(), static_cast<size_t>(isdbsim::kLogoTypeCount));
        for (const json& logo : dump["cdt"]) {
            const int type = logo["logo_type"];
            EXPECT_EQ(logo["logo_id"], info.services.front().logoId);
            EXPECT_EQ(logo["logo_version"], isdbsim::kLogoVersion);
            EXPECT_EQ(logo["data_size"],
                      isdbsim::MakeLogoPng(type, info.services.front().logoId).size());
            EXPECT_EQ(logo["download_data_id"], info.logoDownloadDataId);
        }
    }
}

TEST(SiDumpSimulator, TerrestrialStreamGivesExactlyWhatTheSimulatorSent) {
    ExpectDumpMatchesIntent(0, 0);
}

TEST(SiDumpSimulator, SatelliteStreamGivesExactlyWhatTheSimulatorSent) {
    ExpectDumpMatchesIntent(1, 0);
}

using isdbsim::oracle::AsOracleWrites;

TEST(SiDumpSimulator, ServicesNamesAndEventsAgreeWithAribts) {
    const Bytes& stream = Stream(0, 0);
    ASSERT_FALSE(stream.empty());
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("sidump-oracle-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "stream.ts").string();
    const std::string result = (folder / "aribts.json").string();
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()),
                  static_cast<std::streamsize>(stream.size()));
    }
    const int status = std::system(
        ("bash " SIDUMP_ORACLE_DIR "/run-oracle.sh " + file + " " + result + " >/dev/null 2>&1")
            .c_str());
    json oracle;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        std::ifstream in(result);
        oracle = json::parse(in, nullptr, false);
    }
    std::filesystem::remove_all(folder);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "the aribts oracle is unavailable (Node.js or npm missing, or offline)";
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the oracle failed";
    ASSERT_FALSE(oracle.is_discarded());

    const json dump = Dump(stream);
    ASSERT_EQ(oracle["sdt"].size(), dump["sdt"][0]["services"].size());
    for (auto& [id, service] : oracle["sdt"].items()) {
        const json* ours = FindService(dump, std::stoi(id));
        ASSERT_NE(ours, nullptr) << id;
        EXPECT_EQ((*ours)["service_type"], service["type"]);
        EXPECT_EQ(AsOracleWrites((*ours)["service_name"]), service["name"]);
        EXPECT_EQ(AsOracleWrites((*ours)["provider_name"]), service["provider"]);
    }
    EXPECT_EQ(AsOracleWrites(dump["nit"][0]["network_name"]), oracle["nit"]["networkName"]);

    const auto events = EventsById(dump);
    ASSERT_EQ(events.size(), oracle["events"].size());
    for (const json& theirs : oracle["events"]) {
        const auto it = events.find({theirs["serviceId"].get<int>(), theirs["eventId"].get<int>()});
        ASSERT_NE(it, events.end());
        const json& ours = it->second;
        EXPECT_EQ(ours["start"], DumpTime(theirs["start"]));
        EXPECT_EQ(ours["duration"], theirs["duration"]);
        EXPECT_EQ(AsOracleWrites(ours["title"]), theirs["title"]);
        EXPECT_EQ(AsOracleWrites(ours["text"]), theirs["text"]);
        const json items = theirs.value("items", json::array());
        ASSERT_EQ(ours["extended"].size(), items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(AsOracleWrites(ours["extended"][i]["item"]), items[i]["description"]);
            EXPECT_EQ(AsOracleWrites(ours["extended"][i]["text"]), items[i]["text"]);
        }
    }
}

// A stream as a bad antenna gives it: bit errors (1 in 10,000 bytes), lost and repeated
// packets, a section cut short and garbage between packets. It runs through, the damage shows
// as section errors, and the tables that came through whole are there.
TEST(SiDumpSimulator, ADamagedStreamRunsThroughAndCountsItsSectionErrors) {
    const Bytes& clean = Stream(0, 0);
    ASSERT_FALSE(clean.empty());
    std::mt19937 random(7);
    Bytes damaged;
    damaged.reserve(clean.size() + clean.size() / 100);
    size_t garbageRuns = 0;
    for (size_t offset = 0; offset + 188 <= clean.size(); offset += 188) {
        const uint32_t roll = random() % 1000;
        if (roll == 0) {
            continue;  // a lost packet
        }
        damaged.insert(damaged.end(), clean.begin() + offset, clean.begin() + offset + 188);
        if (roll == 1) {
            damaged.insert(damaged.end(), clean.begin() + offset, clean.begin() + offset + 188);
        } else if (roll == 2) {
            damaged.resize(damaged.size() - 100);  // a packet cut short
        } else if (roll == 3) {
            const size_t length = 1 + random() % 300;
            for (size_t i = 0; i < length; ++i) {
                damaged.push_back(static_cast<uint8_t>(random()));
            }
            ++garbageRuns;
        }
    }
    for (size_t i = 0; i < damaged.size(); ++i) {
        if (random() % 10000 == 0) {
            damaged[i] ^= static_cast<uint8_t>(1u << (random() % 8));
        }
    }
    ASSERT_GT(garbageRuns, 10u);
    uint64_t skipped = 0;
    const json dump = Dump(damaged, &skipped);
    EXPECT_GT(dump["section_errors"].get<int>(), 0);
    EXPECT_GT(skipped, 0u);
    // Repetitions bring every service and most of the guide through.
    const json intent = Intent(0, 0);
    for (const json& expected : intent["services"]) {
        const json* service = FindService(dump, expected["serviceId"]);
        ASSERT_NE(service, nullptr);
        EXPECT_EQ((*service)["service_name"], AsSent(expected["name"]));
    }
    const auto events = EventsById(dump);
    EXPECT_GT(events.size(), intent["events"].size() / 2);
    EXPECT_FALSE(dump["tot"].is_null());
    // Nothing that came through whole is wrong: every event found matches the intent.
    std::map<std::pair<int, int>, json> expectedEvents;
    for (const json& e : intent["events"]) {
        expectedEvents[{e["serviceId"].get<int>(), e["eventId"].get<int>()}] = e;
    }
    for (const auto& [key, event] : events) {
        const auto it = expectedEvents.find(key);
        ASSERT_NE(it, expectedEvents.end());
        EXPECT_EQ(event["title"], AsSent(it->second["title"]));
    }
}

TEST(SiDumpCommand, ReadsFilesAndStandardInputAndRejectsBadInput) {
    const Bytes& stream = Stream(0, 0);
    ASSERT_FALSE(stream.empty());
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("sidump-cli-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "stream.ts").string();
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()),
                  static_cast<std::streamsize>(stream.size()));
    }
    const std::string noise = (folder / "noise.bin").string();
    {
        std::ofstream out(noise, std::ios::binary);
        std::mt19937 random(3);
        for (int i = 0; i < 100000; ++i) {
            out.put(static_cast<char>(random() % 0x40));  // never a sync byte
        }
    }
    int status = 0;
    const std::string fromFile = RunSidump("--json " + file, status);
    EXPECT_EQ(status, 0);
    const json parsed = json::parse(fromFile, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded());
    EXPECT_EQ(parsed["pat"]["transport_stream_id"], 0x7FE0);
    EXPECT_EQ(RunSidump("--json - < " + file, status), fromFile);
    EXPECT_EQ(status, 0);

    const std::string text = RunSidump(file, status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(text.find("みなと放送１"), std::string::npos);
    const std::string epg = RunSidump("--epg " + file, status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(epg.find("== みなと放送１ (0x0400) =="), std::string::npos);
    // News titles carry the [字] symbol: written as Unicode has it, or as the decoder's
    // private-use code with --pua.
    EXPECT_NE(epg.find("ニュース\U0001F211"), std::string::npos);
    EXPECT_EQ(epg.find("\uE0FE"), std::string::npos);
    const std::string raw = RunSidump("--pua --epg " + file, status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(raw.find("ニュース\uE0FE"), std::string::npos);
    EXPECT_EQ(raw.find("\U0001F211"), std::string::npos);

    std::string message = RunSidump(noise, status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(message.find("no transport stream packets"), std::string::npos);
    message = RunSidump((folder / "missing.ts").string(), status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(message.find("cannot open"), std::string::npos);
    RunSidump("--frobnicate", status);
    EXPECT_EQ(status, 2);
    std::filesystem::remove_all(folder);
}

// A short capture as a section dump gives it: each table once per cycle, the PMT right after
// the PAT that announces its PID, three cycles with the same continuity counters. Every table
// must come out whatever the reading's chunking: the PMT's PID is watched from the packet after
// the PAT on, even when both arrive in one buffer.
namespace capture {

constexpr uint16_t kTsid = 0x7FE8;
constexpr uint16_t kOnid = 0x7FE8;
constexpr uint16_t kProgram = 0x0408;
constexpr uint16_t kPmtPid = 0x01F0;
constexpr uint16_t kPcrPid = 0x01FF;

std::vector<sitest::EsEntry> Streams() {
    std::vector<sitest::EsEntry> streams = {
        {si::kStreamTypeMPEG2Video, 0x0111,
         sitest::Descriptor(si::kTagStreamIdentifier, {si::kComponentTagVideo})},
        {si::kStreamTypeAAC, 0x0112,
         sitest::Descriptor(si::kTagStreamIdentifier, {si::kComponentTagAudio})},
        {si::kStreamTypePrivatePES, 0x0130,
         sitest::Descriptor(si::kTagStreamIdentifier, {si::kComponentTagCaption})},
    };
    // Enough data streams for the section to need a second packet.
    for (uint8_t i = 0; i < 24; ++i) {
        streams.push_back(
            {si::kStreamTypeDSMCC, static_cast<uint16_t>(0x0140 + i),
             sitest::Descriptor(si::kTagStreamIdentifier, {static_cast<uint8_t>(0x40 + i)})});
    }
    return streams;
}

Bytes Cycle() {
    const Bytes pat = sitest::BuildSection({si::kTablePAT, kTsid, 1, 0, 0, false},
                                           sitest::PatBody({{0, 0x0010}, {kProgram, kPmtPid}}));
    const Bytes pmt = sitest::BuildSection({si::kTablePMT, kProgram, 1, 0, 0, false},
                                           sitest::PmtBody(kPcrPid, {}, Streams()));

    sitest::ByteWriter serviceList;
    serviceList.U16(kProgram).U8(si::kServiceTypeDigitalTV);
    sitest::ByteWriter tsLoop;
    tsLoop.U16(kTsid).U16(kOnid).Loop(sitest::Descriptor(si::kTagServiceList, serviceList.Data()));
    sitest::ByteWriter nitBody;
    nitBody.Loop(sitest::Descriptor(si::kTagNetworkName, sitest::Text(u"テスト")))
        .Loop(tsLoop.Data());
    const Bytes nit =
        sitest::BuildSection({si::kTableNITActual, kOnid, 1, 0, 0, true}, nitBody.Data());

    // Service names long enough for the SDT to take two packets as well.
    sitest::ByteWriter sdtBody;
    sdtBody.U16(kOnid).U8(0xFF);
    for (uint16_t i = 0; i < 8; ++i) {
        sitest::ByteWriter service;
        service.U8(si::kServiceTypeDigitalTV)
            .Counted(sitest::Text(u"テスト放送"))
            .Counted(sitest::Text(u"テスト放送のサービス名" +
                                  std::u16string(1, static_cast<char16_t>(u'０' + i))));
        const Bytes descriptor = sitest::Descriptor(si::kTagService, service.Data());
        sdtBody.U16(static_cast<uint16_t>(kProgram + i)).U8(0xFC).Loop(descriptor, 0x8);
    }
    const Bytes sdt =
        sitest::BuildSection({si::kTableSDTActual, kTsid, 1, 0, 0, true}, sdtBody.Data());

    Bytes cycle;
    for (const Bytes& packets :
         {sitest::PacketizeSection(si::kPidPAT, pat), sitest::PacketizeSection(kPmtPid, pmt),
          sitest::PacketizeSection(si::kPidNIT, nit), sitest::PacketizeSection(si::kPidSDT, sdt)}) {
        cycle.insert(cycle.end(), packets.begin(), packets.end());
    }
    return cycle;
}

Bytes Capture() {
    Bytes capture;
    for (int i = 0; i < 3; ++i) {
        const Bytes cycle = Cycle();
        capture.insert(capture.end(), cycle.begin(), cycle.end());
    }
    return capture;
}

void ExpectWholeProgram(const json& dump) {
    EXPECT_EQ(dump["section_errors"], 0);
    ASSERT_EQ(dump["pmt"].size(), 1u) << dump.dump(1);
    const json& pmt = dump["pmt"][0];
    EXPECT_EQ(pmt["program_number"], kProgram);
    EXPECT_EQ(pmt["pid"], kPmtPid);
    EXPECT_EQ(pmt["pcr_pid"], kPcrPid);
    const std::vector<sitest::EsEntry> streams = Streams();
    ASSERT_EQ(pmt["streams"].size(), streams.size());
    for (size_t i = 0; i < streams.size(); ++i) {
        EXPECT_EQ(pmt["streams"][i]["pid"], streams[i].pid);
        EXPECT_EQ(pmt["streams"][i]["stream_type"], streams[i].streamType);
        EXPECT_EQ(pmt["streams"][i]["component_tag"], streams[i].descriptors[2]);
    }
    EXPECT_EQ(dump["nit"].size(), 1u);
    ASSERT_EQ(dump["sdt"].size(), 1u);
    EXPECT_EQ(dump["sdt"][0]["services"].size(), 8u);
}

}  // namespace capture

TEST(SiDumpCapture, TableWhosePIDTheSameBufferAnnouncesIsDecoded) {
    const Bytes capture = capture::Capture();
    ASSERT_EQ(capture.size(), 18u * 188);

    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("sidump-capture-" + std::to_string(getpid()) + ".ts");
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(capture.data()),
                  static_cast<std::streamsize>(capture.size()));
    }
    int status = 0;
    const json fromFile = json::parse(RunSidump("--json " + file.string(), status), nullptr, false);
    std::filesystem::remove(file);
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(fromFile.is_discarded());
    capture::ExpectWholeProgram(fromFile);

    // The same from one buffer, packet by packet and in odd pieces that cut packets.
    capture::ExpectWholeProgram(Dump(capture));
    for (size_t piece : {size_t{188}, size_t{1000}}) {
        sidump::DumpAnalyzer analyzer;
        sidump::StreamReader reader(analyzer);
        for (size_t offset = 0; offset < capture.size(); offset += piece) {
            reader.Feed(capture.data() + offset, std::min(piece, capture.size() - offset));
        }
        reader.Finish();
        const json dump = sidump::ToJson(analyzer, {reader.GetBytes(), reader.GetPackets(), 0});
        capture::ExpectWholeProgram(dump);
        EXPECT_EQ(dump, fromFile) << "pieces of " << piece;
    }
}

}  // namespace
