// Simulated broadcasts and an interlaced clip through source -> analyzer -> the video decoder
// -> the video renderer, in a graph running on the system clock.
#include <gtest/gtest.h>

#include <random>

#include "platform/media/video/tests/VideoTestSupport.h"

using namespace videotest;

namespace {

constexpr int kBars[7][3] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                             {84, 184, 198},  {65, 100, 212}, {35, 212, 114}};

const isdbsim::TransportStreamInfo& Terrestrial() {
    return *isdbsim::FindChannel(0, 0);
}

class VideoGraphTest : public ::testing::Test {
protected:
    void SetUp() override { baseline = CBaseObject::ObjectsActive(); }
    void TearDown() override {
        graph.Teardown();
        EXPECT_EQ(CBaseObject::ObjectsActive(), baseline);
    }

    // Builds, runs and plays `stream` to its end.
    void Play(const Bytes& stream, const VideoGraph::Setup& setup) {
        ASSERT_FALSE(stream.empty());
        graph.Build(setup);
        graph.Run();
        ASSERT_EQ(graph.source->Push(stream), S_OK);
        ASSERT_TRUE(graph.Finish());
    }

    LONG baseline = 0;
    VideoGraph graph;
};

}  // namespace

TEST_F(VideoGraphTest, TerrestrialServiceShowsItsBarsAtSixteenByNine) {
    const isdbsim::ServiceInfo& service = Terrestrial().services[0];
    Play(SimulatedStream(0, 0, 2.0),
         {.pcrPid = Terrestrial().pcrPid, .videoPid = service.videoPid});
    EXPECT_GT(graph.FramesDrawn(), 20);
    EXPECT_EQ(graph.surface.Presented(), graph.FramesDrawn());

    ComPtr<IBasicVideo2> basic;
    ASSERT_EQ(graph.renderer.As(&basic), S_OK);
    LONG width = 0;
    LONG height = 0;
    ASSERT_EQ(basic->GetVideoSize(&width, &height), S_OK);
    EXPECT_EQ(width, 720);
    EXPECT_EQ(height, 480);
    ASSERT_EQ(basic->GetPreferredAspectRatio(&width, &height), S_OK);
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 9);
    // The graph forwards IBasicVideo2 to the renderer, as the application asks it.
    ComPtr<IBasicVideo2> throughGraph;
    ASSERT_EQ(graph.graph.As(&throughGraph), S_OK);
    ASSERT_EQ(throughGraph->GetVideoSize(&width, &height), S_OK);
    EXPECT_EQ(width, 720);

    const Image image = CurrentImage(graph.windowless.Get());
    ASSERT_EQ(image.width, 848);
    ASSERT_EQ(image.height, 480);
    for (int bar = 0; bar < 7; ++bar) {
        const Rgb expected = Bt601ToRgb(kBars[bar][0], kBars[bar][1], kBars[bar][2]);
        const LONG x = LONG((bar * 2 + 1) * image.width / 14);
        EXPECT_TRUE(Near(image.At(x, 30), expected, 8))
            << "bar " << bar << ": " << image.At(x, 30) << " for " << expected;
    }
    // Without a position the picture fills the area.
    const RECT shown = graph.surface.LastDestination();
    EXPECT_EQ(shown.right - shown.left, 960);
    EXPECT_EQ(shown.bottom - shown.top, 540);
    EXPECT_EQ(graph.surface.Last()->width, 848);
}

TEST_F(VideoGraphTest, OneSegServiceInH264Decodes) {
    const isdbsim::ServiceInfo* oneSeg = nullptr;
    for (const isdbsim::ServiceInfo& service : Terrestrial().services) {
        if (service.kind == isdbsim::ServiceKind::OneSeg) {
            oneSeg = &service;
        }
    }
    ASSERT_NE(oneSeg, nullptr);
    if (!isdbsim::GetVideoLoop(*oneSeg)) {
        GTEST_SKIP() << "no H.264 encoder for the simulator";
    }
    Play(SimulatedStream(0, 0, 2.0),
         {.pcrPid = Terrestrial().pcrPid, .videoPid = oneSeg->videoPid});
    EXPECT_GT(graph.FramesDrawn(), 10);
    LONG width = 0;
    LONG height = 0;
    LONG aspectX = 0;
    LONG aspectY = 0;
    ASSERT_EQ(graph.windowless->GetNativeVideoSize(&width, &height, &aspectX, &aspectY), S_OK);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 180);
    EXPECT_EQ(aspectX, 16);
    EXPECT_EQ(aspectY, 9);
    const Image image = CurrentImage(graph.windowless.Get());
    ASSERT_EQ(image.width, 320);
    // The first bar is white at 75 %.
    EXPECT_TRUE(Near(image.At(10, 10), Bt601ToRgb(180, 128, 128), 12)) << image.At(10, 10);
}

TEST_F(VideoGraphTest, SatelliteHighDefinitionIsShownAt1920By1080AndSizeChangesAreAnnounced) {
    const isdbsim::TransportStreamInfo& satellite = *isdbsim::FindChannel(1, 0);
    Play(SimulatedStream(1, 0, 1.5),
         {.pcrPid = satellite.pcrPid, .videoPid = satellite.services[0].videoPid});
    // As with the interlaced clip: late pictures of a slow build are dropped, not lost.
    EXPECT_GT(graph.FramesDrawn() + graph.FramesDroppedLate(), 10);
    ASSERT_GT(graph.FramesDrawn(), 0);
    LONG width = 0;
    LONG height = 0;
    ASSERT_EQ(graph.windowless->GetNativeVideoSize(&width, &height, nullptr, nullptr), S_OK);
    EXPECT_EQ(width, 1440);
    EXPECT_EQ(height, 1080);
    ASSERT_EQ(graph.windowless->GetMaxIdealVideoSize(&width, &height), S_OK);
    EXPECT_EQ(width, 1920);
    const Image image = CurrentImage(graph.windowless.Get());
    EXPECT_EQ(image.width, 1920);
    EXPECT_EQ(image.height, 1080);
    // The connection was made before the first picture, at the analyzer's nominal format; the
    // stream's own size reached the application as an event.
    const std::vector<LONG_PTR> changes = TakeEvents(graph.events.Get(), EC_VIDEO_SIZE_CHANGED);
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back() & 0xFFFF, 1440);
    EXPECT_EQ(changes.back() >> 16 & 0xFFFF, 1080);
}

namespace {

// The mean difference between vertically adjacent luma samples: combing (two fields of
// different moments woven together) shows as large differences between every other line.
double AdjacentLineDifference(const Image& image) {
    double total = 0;
    for (LONG y = 0; y + 1 < image.height; ++y) {
        for (LONG x = 0; x < image.width; x += 2) {
            total += std::abs(image.Luma(x, y) - image.Luma(x, y + 1));
        }
    }
    return total / (double(image.height - 1) * double(image.width / 2));
}

// The same measure on the clip's picture `index` decoded by ffmpeg as it is (woven).
double WovenDifference(const std::string& clip, int index) {
    const std::string command = "ffmpeg -loglevel error -i \"" + clip + "\" -vf 'select=eq(n\\," +
                                std::to_string(index) +
                                "),scale=1920:1080:flags=neighbor:interl=0'"
                                " -frames:v 1 -f rawvideo -pix_fmt gray -";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    Image image;
    image.width = 1920;
    image.height = 1080;
    std::vector<uint8_t> gray(1920 * 1080);
    const size_t read = std::fread(gray.data(), 1, gray.size(), pipe);
    ::pclose(pipe);
    if (read != gray.size()) {
        return -1;
    }
    image.bgra.resize(gray.size() * 4);
    for (size_t i = 0; i < gray.size(); ++i) {
        image.bgra[i * 4] = image.bgra[i * 4 + 1] = image.bgra[i * 4 + 2] = gray[i];
    }
    return AdjacentLineDifference(image);
}

}  // namespace

TEST_F(VideoGraphTest, InterlacedClipIsShownDeinterlacedNeverCombed) {
    if (!HaveFfmpeg()) {
        GTEST_SKIP() << "no ffmpeg command";
    }
    TempFolder folder;
    const std::string clip = folder.File("interlaced.ts");
    ASSERT_TRUE(MakeInterlacedClip(clip, 1.0));
    Play(ReadFile(clip), {.pcrPid = kClipVideoPid, .videoPid = kClipVideoPid});
    // Every picture reaches the renderer; a sanitized build cannot show 1080 pictures at their
    // pace, and the renderer drops the late ones as it should.
    EXPECT_GT(graph.FramesDrawn() + graph.FramesDroppedLate(), 10);
    ASSERT_GT(graph.FramesDrawn(), 0);
    const Image image = CurrentImage(graph.windowless.Get());
    ASSERT_EQ(image.width, 1920);
    ASSERT_EQ(image.height, 1080);
    // The bar is there, sharp-edged and black on white...
    int dark = 0;
    for (LONG x = 0; x < image.width; ++x) {
        dark += image.Luma(x, 540) < 64 ? 1 : 0;
    }
    EXPECT_GT(dark, 150);
    EXPECT_LT(dark, 320);
    // ...and its edges are straight: woven fields would differ line by line.
    const double ours = AdjacentLineDifference(image);
    const double woven = WovenDifference(clip, 20);
    ASSERT_GT(woven, 0) << "ffmpeg could not decode the clip";
    EXPECT_LT(ours * 4, woven) << "ours " << ours << ", woven " << woven;
}

TEST_F(VideoGraphTest, FlushSeekAndDamagedStreamsAreSurvived) {
    const isdbsim::ServiceInfo& service = Terrestrial().services[0];
    const Bytes stream = SimulatedStream(0, 0, 3.0);
    ASSERT_FALSE(stream.empty());
    graph.Build({.pcrPid = Terrestrial().pcrPid, .videoPid = service.videoPid});
    graph.Run();
    const size_t third = stream.size() / kTsPacketSize / 3 * kTsPacketSize;
    ASSERT_EQ(graph.source->Push(Bytes(stream.begin(), stream.begin() + long(third))), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return graph.FramesDrawn() > 3; }, 20000));

    // A seek: flush, a new segment, then the stream from further on.
    ASSERT_EQ(graph.source->PushBeginFlush(), S_OK);
    ASSERT_EQ(graph.source->PushEndFlush(), S_OK);
    ASSERT_EQ(graph.source->PushNewSegment(0, 0, 1.0), S_OK);

    // The middle third damaged: random bytes over the video payloads and whole packets lost.
    Bytes damaged(stream.begin() + long(third), stream.begin() + long(2 * third));
    std::mt19937 random(7);
    for (size_t offset = 0; offset < damaged.size(); offset += kTsPacketSize) {
        uint8_t* packet = damaged.data() + offset;
        const uint16_t pid = uint16_t((packet[1] & 0x1F) << 8 | packet[2]);
        if (pid != service.videoPid) {
            continue;
        }
        switch (random() % 8) {
            case 0:
                for (size_t k = 40; k < kTsPacketSize; ++k) {
                    packet[k] = uint8_t(random());
                }
                break;
            case 1:
                std::memset(packet + 4, 0xFF, kTsPacketSize - 4);  // the packet's content lost
                break;
            default:
                break;
        }
    }
    ASSERT_EQ(graph.source->Push(damaged), S_OK);
    const LONG beforeClean = graph.FramesDrawn();
    ASSERT_EQ(graph.source->Push(Bytes(stream.begin() + long(2 * third), stream.end())), S_OK);
    ASSERT_TRUE(graph.Finish());
    // Clean pictures after the damage are shown again.
    EXPECT_GT(graph.FramesDrawn(), beforeClean + 10);
    const Image image = CurrentImage(graph.windowless.Get());
    ASSERT_EQ(image.width, 848);
    EXPECT_TRUE(Near(image.At(848 / 14, 30), Bt601ToRgb(180, 128, 128), 8));
}
