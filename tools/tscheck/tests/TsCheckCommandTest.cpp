// tscheck on a damaged simulator stream: the JSON document and the text carry the damage put
// in; files it cannot read end with status 2 and a message.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>

#include "sources/integrity/tests/DamagedStream.h"
#include "tools/isdbsim/tests/TestFiles.h"

namespace integrity::test {
namespace {

using nlohmann::json;

std::string Tscheck(const std::string& arguments, int& status) {
    std::string output;
    status =
        isdbsim::test::RunCommand(std::string(TSCHECK_PATH) + " " + arguments + " 2>&1", output);
    return output;
}

class TscheckCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (CleanStream().empty()) {
            GTEST_SKIP() << "the simulator cannot encode its media here";
        }
        Bytes stream = CleanStream();
        video = Channel().services[0].videoPid;
        lostAt = PacketOfPid(stream, video, 2.5);
        lostSeconds = PacketSeconds(NextOfPid(stream, lostAt, 2));
        for (int n = 0; n < 2; ++n) {
            RemovePacket(stream, PacketOfPid(stream, video, 0, lostAt));
        }
        errorAt = PacketOfPid(stream, video, 1.0);
        SetTransportError(stream, errorAt);
        SetScrambled(stream, PacketOfPid(stream, Channel().services[0].audioPid, 3.0));
        stream.resize(stream.size() - 10);
        ASSERT_TRUE(file.Write(stream));
    }

    isdbsim::test::TempFile file{"damaged.ts"};
    uint16_t video = 0;
    size_t lostAt = 0;
    size_t errorAt = 0;
    double lostSeconds = 0;
};

TEST_F(TscheckCommand, JsonCarriesTheTotalsAndEveryGap) {
    int status = 0;
    const std::string output = Tscheck("--json " + file.Path(), status);
    ASSERT_EQ(status, 0) << output;
    const json report = json::parse(output);
    EXPECT_EQ(report["drops"], 2);
    EXPECT_EQ(report["errors"], 1);
    EXPECT_EQ(report["scrambled"], 1);
    EXPECT_EQ(report["packets"], PacketCount(CleanStream()) - 3);
    EXPECT_NEAR(report["duration"].get<double>(), kStreamSeconds, 0.01);
    const json* entry = nullptr;
    uint64_t packets = 0;
    for (const json& pid : report["pids"]) {
        packets += pid["packets"].get<uint64_t>();
        if (pid["pid"] == video) {
            entry = &pid;
        }
    }
    EXPECT_EQ(packets, report["packets"]);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ((*entry)["kind"], "video");
    EXPECT_EQ((*entry)["drops"], 2);
    EXPECT_EQ((*entry)["errors"], 1);
    ASSERT_EQ((*entry)["gaps"].size(), 2u);
    EXPECT_NEAR((*entry)["gaps"][0].get<double>(), PacketSeconds(errorAt), 0.003);
    EXPECT_NEAR((*entry)["gaps"][1].get<double>(), lostSeconds, 0.003);
}

TEST_F(TscheckCommand, TextListsThePidsAndEndsWithTheSummary) {
    int status = 0;
    const std::string output = Tscheck(file.Path(), status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(output.substr(output.rfind('\n', output.size() - 2) + 1),
              "2 drops, 1 errors, 1 scrambled\n");
    char videoLine[16];
    std::snprintf(videoLine, sizeof videoLine, "0x%04X  video", video);
    const size_t line = output.find(videoLine);
    ASSERT_NE(line, std::string::npos) << output;
    // The gap times close the line: "1.001s 2.509s".
    std::istringstream fields(output.substr(line, output.find('\n', line) - line));
    std::vector<double> gaps;
    for (std::string field; fields >> field;) {
        if (field.size() > 1 && field.back() == 's' && field.find('.') != std::string::npos) {
            gaps.push_back(std::stod(field));
        }
    }
    ASSERT_EQ(gaps.size(), 2u) << output;
    EXPECT_NEAR(gaps[1], lostSeconds, 0.003);
    EXPECT_NE(output.find("cut short after 178 bytes"), std::string::npos) << output;
}

TEST(TscheckUsage, UnreadableInputAndBadArgumentsEndWithStatusTwo) {
    isdbsim::test::TempFile noise("noise.ts");
    ASSERT_TRUE(noise.Write(std::string(5000, 'x')));
    const std::pair<std::string, int> cases[] = {
        {"", 2},           {"/nonexistent/file.ts", 2},
        {noise.Path(), 2}, {"--frobnicate " + noise.Path(), 2},
        {"--help", 0},
    };
    for (const auto& [arguments, expected] : cases) {
        int status = -1;
        const std::string output = Tscheck(arguments, status);
        EXPECT_EQ(status, expected) << arguments;
        EXPECT_NE(output.find(expected == 0 ? "usage: tscheck" : "tscheck: "), std::string::npos)
            << arguments << ": " << output;
    }
}

}  // namespace
}  // namespace integrity::test
