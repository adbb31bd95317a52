// Compares what the simulator means to send with what an independent SI decoder (the npm
// package aribts, pinned in tools/isdbsim/oracle) makes of the stream.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <set>

#include "core/CodePage.h"
#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/Intent.h"
#include "tools/isdbsim/oracle/OracleText.h"
#include "tools/isdbsim/tests/StreamDemux.h"
#include "tools/isdbsim/tests/TestFiles.h"

namespace isdbsim::test {
namespace {

using nlohmann::json;

using isdbsim::oracle::AsOracleWrites;

// Runs the oracle on a stream of the channel; skips when the oracle is unavailable.
bool DecodeWithOracle(int space, int channel, double seconds, JstTime start, json& intent,
                      json& decoded, std::string& why) {
    const TransportStreamInfo* info = FindChannel(space, channel);
    TempFile file("stream.ts");
    if (!file.Write(Generate(space, channel, seconds, start))) {
        why = "cannot write the stream";
        return false;
    }
    intent = json::parse(IntentJson(*info, start, 1));
    const std::string result = file.Path() + ".json";
    std::string output;
    const int status = RunCommand(
        "bash " + std::string(ISDBSIM_ORACLE_DIR) + "/run-oracle.sh " + file.Path() + " " + result,
        output);
    if (status == 77) {
        why = "skip";
        return false;
    }
    if (status != 0) {
        why = "the oracle failed with status " + std::to_string(status);
        return false;
    }
    std::ifstream in(result);
    decoded = json::parse(in, nullptr, false);
    if (decoded.is_discarded()) {
        why = "the oracle wrote no JSON";
        return false;
    }
    return true;
}

TEST(IsdbsimOracle, TerrestrialNamesTitlesAndDescriptionsDecodeAsIntended) {
    json intent;
    json decoded;
    std::string why;
    const JstTime start = *ParseJstTime("2026-04-01 12:00:00");
    if (!DecodeWithOracle(0, 0, 17.0, start, intent, decoded, why)) {
        if (why == "skip") {
            GTEST_SKIP() << "the aribts oracle is unavailable (Node.js or npm missing, or offline)";
        }
        FAIL() << why;
    }
    EXPECT_EQ(decoded["nit"]["networkName"], intent["networkName"]);
    ASSERT_EQ(decoded["nit"]["transportStreams"].size(), 1u);
    EXPECT_EQ(decoded["nit"]["transportStreams"][0]["tsName"], intent["tsName"]);
    EXPECT_EQ(decoded["nit"]["transportStreams"][0]["remoteControlKeyId"],
              intent["remoteControlKeyId"]);
    EXPECT_EQ(decoded["bit"]["broadcasters"][0]["name"], intent["broadcasterName"]);
    EXPECT_EQ(decoded["pat"]["transportStreamId"], intent["transportStreamId"]);
    for (const json& service : intent["services"]) {
        const std::string id = std::to_string(service["serviceId"].get<int>());
        ASSERT_TRUE(decoded["sdt"].contains(id)) << id;
        EXPECT_EQ(decoded["sdt"][id]["name"], service["name"]);
        EXPECT_EQ(decoded["sdt"][id]["provider"], service["provider"]);
        EXPECT_EQ(decoded["sdt"][id]["type"], service["serviceType"]);
        ASSERT_TRUE(decoded["pmts"].contains(id)) << id;
    }
    const json& pmt = decoded["pmts"]["1024"]["streams"];
    ASSERT_EQ(pmt.size(), 3u);
    EXPECT_EQ(pmt[0]["componentTag"], 0x00);
    EXPECT_EQ(pmt[1]["componentTag"], 0x10);
    EXPECT_EQ(pmt[2]["componentTag"], 0x30);
    ASSERT_FALSE(decoded["tots"].empty());
    EXPECT_EQ(decoded["tots"][0], "2026-04-01 12:00:00");
    std::set<int> logoTypes;
    for (const json& cdt : decoded["cdt"]) {
        EXPECT_TRUE(cdt["png"].get<bool>());
        EXPECT_EQ(cdt["logoId"], intent["services"][0]["logoId"]);
        logoTypes.insert(cdt["logoType"].get<int>());
    }
    EXPECT_EQ(logoTypes, (std::set<int>{0, 1, 2, 3, 4, 5}));

    std::map<std::string, const json*> decodedEvents;
    for (const json& event : decoded["events"]) {
        decodedEvents[std::to_string(event["serviceId"].get<int>()) + "/" +
                      std::to_string(event["eventId"].get<int>())] = &event;
    }
    size_t compared = 0;
    for (const json& event : intent["events"]) {
        const std::string key = std::to_string(event["serviceId"].get<int>()) + "/" +
                                std::to_string(event["eventId"].get<int>());
        auto found = decodedEvents.find(key);
        ASSERT_NE(found, decodedEvents.end()) << "event " << key << " was not decoded";
        const json& got = *found->second;
        EXPECT_EQ(got["start"], event["start"]) << key;
        EXPECT_EQ(got["duration"], event["duration"]) << key;
        EXPECT_EQ(got["title"], AsOracleWrites(event["title"])) << key;
        EXPECT_EQ(got["text"], event["text"]) << key;
        ASSERT_TRUE(got.contains("items")) << key;
        ASSERT_EQ(got["items"].size(), event["items"].size()) << key;
        for (size_t i = 0; i < event["items"].size(); ++i) {
            EXPECT_EQ(got["items"][i]["description"], event["items"][i]["description"]) << key;
            EXPECT_EQ(got["items"][i]["text"], event["items"][i]["text"]) << key;
        }
        ++compared;
    }
    EXPECT_GT(compared, 4u * 8u * 10u);  // four services, eight days, at least ten a day
}

TEST(IsdbsimOracle, SatelliteNamesDecodeAsIntended) {
    json intent;
    json decoded;
    std::string why;
    if (!DecodeWithOracle(1, 0, 3.0, *ParseJstTime("2026-04-01 12:00:00"), intent, decoded, why)) {
        if (why == "skip") {
            GTEST_SKIP() << "the aribts oracle is unavailable (Node.js or npm missing, or offline)";
        }
        FAIL() << why;
    }
    EXPECT_EQ(decoded["nit"]["networkName"], intent["networkName"]);
    EXPECT_EQ(decoded["nit"]["transportStreams"][0]["tsName"], intent["tsName"]);
    for (const json& service : intent["services"]) {
        const std::string id = std::to_string(service["serviceId"].get<int>());
        ASSERT_TRUE(decoded["sdt"].contains(id)) << id;
        EXPECT_EQ(decoded["sdt"][id]["name"], service["name"]);
    }
    for (const json& service : intent["otherServices"]) {
        const std::string id = std::to_string(service["serviceId"].get<int>());
        ASSERT_TRUE(decoded["sdtOther"].contains(id)) << id;
        EXPECT_EQ(decoded["sdtOther"][id]["name"], service["name"]);
        EXPECT_EQ(decoded["sdtOther"][id]["transportStreamId"], intent["otherTransportStreamId"]);
    }
}

}  // namespace
}  // namespace isdbsim::test
