// Reads generated streams with ffprobe (FFmpeg's own demultiplexer and decoders).

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/tests/StreamDemux.h"
#include "tools/isdbsim/tests/TestFiles.h"

namespace isdbsim::test {
namespace {

using nlohmann::json;

bool HaveFfprobe() {
    std::string output;
    return RunCommand("command -v ffprobe", output) == 0;
}

TEST(IsdbsimFfprobe, EveryChannelHasTheIntendedVideoAndAudioWithoutErrors) {
    if (!HaveFfprobe()) {
        GTEST_SKIP() << "ffprobe is not installed";
    }
    const JstTime start = *ParseJstTime("2026-04-01 12:00:00");
    const auto& spaces = TuningSpaces();
    for (size_t s = 0; s < spaces.size(); ++s) {
        for (size_t c = 0; c < spaces[s].channels.size(); ++c) {
            SCOPED_TRACE(spaces[s].label + " " + std::to_string(c));
            const TransportStreamInfo& info = spaces[s].channels[c];
            TempFile file("stream.ts");
            ASSERT_TRUE(file.Write(Generate(static_cast<int>(s), static_cast<int>(c), 4.5, start)));
            // Errors only: whatever ffprobe prints on stderr at this level is a fault.
            std::string errors;
            // ffprobe reads the whole stream; ffmpeg decodes all its video and audio.
            ASSERT_EQ(RunCommand("ffprobe -v error -show_streams -show_packets -i " + file.Path() +
                                     " 2>&1 >/dev/null && ffmpeg -nostdin -v error -i " +
                                     file.Path() + " -map 0:v -map 0:a -f null - 2>&1",
                                 errors),
                      0);
            EXPECT_EQ(errors, "");
            std::string output;
            ASSERT_EQ(
                RunCommand("ffprobe -v quiet -of json -show_programs -i " + file.Path(), output),
                0);
            const json probe = json::parse(output);
            for (const ServiceInfo& service : info.services) {
                if (service.kind != ServiceKind::Television) {
                    continue;
                }
                const json* program = nullptr;
                for (const json& p : probe["programs"]) {
                    if (p["program_id"] == service.serviceId) {
                        program = &p;
                    }
                }
                ASSERT_NE(program, nullptr) << service.serviceId;
                bool video = false;
                bool audio = false;
                for (const json& stream : (*program)["streams"]) {
                    if (stream["codec_name"] == "mpeg2video") {
                        video = true;
                        EXPECT_EQ(stream["width"], service.video.width);
                        EXPECT_EQ(stream["height"], service.video.height);
                        EXPECT_EQ(stream["r_frame_rate"], "30000/1001");
                    } else if (stream["codec_name"] == "aac") {
                        audio = true;
                        EXPECT_EQ(stream["sample_rate"], "48000");
                        EXPECT_EQ(stream["channels"], 2);
                        EXPECT_EQ(stream["profile"], "LC");
                    }
                }
                EXPECT_TRUE(video) << service.serviceId;
                EXPECT_TRUE(audio) << service.serviceId;
            }
        }
    }
}

TEST(IsdbsimFfprobe, PresentationTimesRunOnAcrossTheVideoLoop) {
    if (!HaveFfprobe()) {
        GTEST_SKIP() << "ffprobe is not installed";
    }
    TempFile file("stream.ts");
    ASSERT_TRUE(file.Write(Generate(0, 0, 5.0, *ParseJstTime("2026-04-01 12:00:00"))));
    std::string output;
    ASSERT_EQ(
        RunCommand("ffprobe -v quiet -of json -select_streams 0 -show_packets -i " + file.Path(),
                   output),
        0);
    const json probe = json::parse(output);
    const json& packets = probe["packets"];
    ASSERT_GT(packets.size(), 140u);  // more than two loops of 60 pictures
    for (size_t i = 1; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i]["pts"].get<int64_t>() - packets[i - 1]["pts"].get<int64_t>(), 3003)
            << "packet " << i;
    }
}

}  // namespace
}  // namespace isdbsim::test
