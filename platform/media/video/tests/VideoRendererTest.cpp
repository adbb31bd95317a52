// The video renderer alone, fed ready-made pictures: timing and late drops, format changes,
// the mixer bitmap in the shown picture, the bitmap it hands out, positions and its controls.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/gdi/GdiSurface.h"
#include "platform/media/video/tests/VideoTestSupport.h"

using namespace videotest;

namespace {

constexpr REFERENCE_TIME kMillisecond = 10000;

class RendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        baseline = CBaseObject::ObjectsActive();
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.GetVoidAddressOf()),
                  S_OK);
        ASSERT_EQ(graph.As(&control), S_OK);
        ASSERT_EQ(graph.As(&events), S_OK);
        ASSERT_EQ(graph.As(&mediaFilter), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, renderer.GetVoidAddressOf()),
                  S_OK);
        ASSERT_EQ(renderer.As(&windowless), S_OK);
        ASSERT_EQ(renderer.As(&statistics), S_OK);
        ASSERT_EQ(renderer.As(&mixer), S_OK);
        source = new FrameSource(PictureFormat(720, 480, 4, 3));
        sourceFilter = Hold(source);
        ASSERT_EQ(graph->AddFilter(sourceFilter.Get(), u"Pictures"), S_OK);
        ASSERT_EQ(graph->AddFilter(renderer.Get(), u"Video Renderer"), S_OK);
        ComPtr<IPin> input;
        ASSERT_EQ(renderer->FindPin(u"In", input.GetAddressOf()), S_OK);
        ASSERT_EQ(graph->ConnectDirect(source->pin, input.Get(), nullptr), S_OK);
        ASSERT_EQ(windowless->SetVideoClippingWindow(AsWindow(&surface)), S_OK);
    }

    void TearDown() override {
        control->Stop();
        windowless->SetVideoClippingWindow(nullptr);
        clock.Reset();
        mixer.Reset();
        statistics.Reset();
        windowless.Reset();
        mediaFilter.Reset();
        events.Reset();
        control.Reset();
        graph.Reset();
        renderer.Reset();
        sourceFilter.Reset();
        EXPECT_EQ(CBaseObject::ObjectsActive(), baseline);
    }

    // Pauses (which chooses the clock), then runs with stream time 0 at 10 ms from now.
    void Run() {
        ASSERT_TRUE(SUCCEEDED(control->Pause()));
        ASSERT_EQ(mediaFilter->GetSyncSource(clock.GetAddressOf()), S_OK);
        ASSERT_TRUE(clock);
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        startTime = now + 10 * kMillisecond;
        ASSERT_TRUE(SUCCEEDED(mediaFilter->Run(startTime)));
    }

    REFERENCE_TIME StreamTime() {
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        return now - startTime;
    }

    LONG Drawn() {
        LONG frames = 0;
        statistics->GetFramesDrawn(&frames);
        return frames;
    }

    LONG Dropped() {
        LONG frames = 0;
        statistics->GetFramesDroppedLate(&frames);
        return frames;
    }

    std::vector<LONG_PTR> SizeChanges() { return TakeEvents(events.Get(), EC_VIDEO_SIZE_CHANGED); }

    LONG baseline = 0;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    ComPtr<IMediaFilter> mediaFilter;
    ComPtr<IReferenceClock> clock;
    ComPtr<IBaseFilter> renderer;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IVideoRendererStatistics> statistics;
    ComPtr<IVMRMixerBitmap9> mixer;
    FrameSource* source = nullptr;
    ComPtr<IBaseFilter> sourceFilter;
    OffscreenSurface surface{960, 540};
    REFERENCE_TIME startTime = 0;
};

}  // namespace

TEST_F(RendererTest, LateFramesAreDroppedAndCountedAndTimelyOnesShownAtTheirTime) {
    Run();
    while (StreamTime() < 300 * kMillisecond) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (REFERENCE_TIME start : {REFERENCE_TIME(0), 33 * kMillisecond, 66 * kMillisecond}) {
        ASSERT_EQ(source->PushPicture(180, 128, 128, &start), S_OK);
    }
    EXPECT_EQ(Dropped(), 3);
    EXPECT_EQ(Drawn(), 0);
    // Well ahead, so that a busy machine does not make them late as well.
    const REFERENCE_TIME due = StreamTime() + 200 * kMillisecond;
    for (int i = 0; i < 3; ++i) {
        const REFERENCE_TIME start = due + i * 150 * kMillisecond;
        ASSERT_EQ(source->PushPicture(180, 128, 128, &start), S_OK);
        // Receive returns once the picture is shown, not before its time.
        EXPECT_GE(StreamTime(), start);
    }
    EXPECT_EQ(Drawn(), 3);
    EXPECT_EQ(Dropped(), 3);
    EXPECT_EQ(surface.Presented(), 3);
    EXPECT_EQ(surface.Last()->sampleTime, due + 300 * kMillisecond);
}

TEST_F(RendererTest, CaptionBitmapIsInTheShownPictureAndTheBitmapHandedOutIsBottomUp) {
    // A page with a red block in its top left quarter, black elsewhere.
    GdiSurface page(960, 540);
    for (int y = 0; y < 270; ++y) {
        for (int x = 0; x < 480; ++x) {
            page.GetPixels()[y * 960 + x] = 0x00FF0000;
        }
    }
    VMR9AlphaBitmap bitmap{};
    bitmap.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey;
    bitmap.hdc = &page;
    bitmap.rSrc = RECT{0, 0, 960, 540};
    bitmap.rDest = {0.0f, 0.0f, 1.0f, 1.0f};
    bitmap.fAlpha = 1.0f;
    ASSERT_EQ(mixer->SetAlphaBitmap(&bitmap), S_OK);
    Run();
    ASSERT_EQ(source->PushPicture(126, 128, 128, nullptr), S_OK);  // mid grey, shown at once

    BYTE* dib = nullptr;
    ASSERT_EQ(windowless->GetCurrentImage(&dib), S_OK);
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof(header));
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 640);  // 720 x 480 at 4:3
    EXPECT_EQ(header.biHeight, 480);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 32);
    EXPECT_EQ(header.biCompression, 0u);
    EXPECT_EQ(header.biSizeImage, 640u * 480 * 4);
    // The first row stored is the picture's bottom row: grey. The last is its top: red.
    const BYTE* pixels = dib + sizeof(header);
    const BYTE* bottomLeft = pixels;
    const BYTE* topLeft = pixels + size_t(479) * 640 * 4;
    EXPECT_TRUE(Near({bottomLeft[2], bottomLeft[1], bottomLeft[0]}, {128, 128, 128}, 3));
    EXPECT_EQ(topLeft[2], 255);
    EXPECT_EQ(topLeft[1], 0);
    EXPECT_EQ(topLeft[0], 0);
    EXPECT_EQ(topLeft[3], 255);
    CoTaskMemFree(dib);

    // The same through IBasicVideo2, sized first.
    ComPtr<IBasicVideo2> basic;
    ASSERT_EQ(renderer.As(&basic), S_OK);
    LONG size = 0;
    ASSERT_EQ(basic->GetCurrentImage(&size, nullptr), S_OK);
    EXPECT_EQ(size, LONG(40 + 640 * 480 * 4));
    std::vector<LONG> copy(size_t(size) / sizeof(LONG));
    LONG small = size - 4;
    EXPECT_EQ(basic->GetCurrentImage(&small, copy.data()), E_OUTOFMEMORY);
    ASSERT_EQ(basic->GetCurrentImage(&size, copy.data()), S_OK);

    // Disabled, the next picture is clean.
    VMR9AlphaBitmap disable{};
    disable.dwFlags = VMR9AlphaBitmap_Disable;
    ASSERT_EQ(mixer->SetAlphaBitmap(&disable), S_OK);
    ASSERT_EQ(source->PushPicture(126, 128, 128, nullptr), S_OK);
    const Image image = CurrentImage(windowless.Get());
    EXPECT_TRUE(Near(image.At(10, 10), {128, 128, 128}, 3)) << image.At(10, 10);
}

TEST_F(RendererTest, NewFormatOnASampleIsAnnouncedAndChangesTheShownSize) {
    Run();
    ASSERT_EQ(source->PushPicture(180, 128, 128, nullptr), S_OK);
    EXPECT_TRUE(SizeChanges().empty());  // the connection's own format
    const VideoPictureFormat hd = PictureFormat(1440, 1080, 16, 9, ColourMatrix::kBT709);
    ASSERT_EQ(source->PushPicture(180, 128, 128, nullptr, &hd), S_OK);
    const std::vector<LONG_PTR> changes = SizeChanges();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], LONG_PTR(1080 << 16 | 1440));
    LONG width = 0;
    LONG height = 0;
    ComPtr<IBasicVideo2> basic;
    ASSERT_EQ(renderer.As(&basic), S_OK);
    ASSERT_EQ(basic->GetVideoSize(&width, &height), S_OK);
    EXPECT_EQ(width, 1440);
    EXPECT_EQ(height, 1080);
    ASSERT_EQ(basic->GetPreferredAspectRatio(&width, &height), S_OK);
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 9);
    EXPECT_EQ(surface.Last()->width, 1920);
    EXPECT_EQ(surface.Last()->height, 1080);

    // Disconnected, the renderer has no format until the next connection.
    ASSERT_EQ(control->Stop(), S_OK);
    ComPtr<IPin> input;
    ASSERT_EQ(renderer->FindPin(u"In", input.GetAddressOf()), S_OK);
    ASSERT_EQ(graph->Disconnect(input.Get()), S_OK);
    ASSERT_EQ(graph->Disconnect(source->pin), S_OK);
    EXPECT_EQ(basic->GetVideoSize(&width, &height), VFW_E_NOT_CONNECTED);
}

TEST_F(RendererTest, PicturesGoWhereThePositionSaysAndRepaintShowsTheLastAgain) {
    Run();
    ASSERT_EQ(source->PushPicture(180, 128, 128, nullptr), S_OK);
    EXPECT_EQ(surface.LastDestination().right, 960);  // no position: the whole area

    const RECT destination{10, 20, 330, 200};
    ASSERT_EQ(windowless->SetVideoPosition(nullptr, &destination), S_OK);
    ASSERT_EQ(windowless->RepaintVideo(AsWindow(&surface), nullptr), S_OK);
    EXPECT_EQ(surface.Presented(), 2);
    RECT shown = surface.LastDestination();
    EXPECT_EQ(shown.left, 10);
    EXPECT_EQ(shown.top, 20);
    EXPECT_EQ(shown.right, 330);
    EXPECT_EQ(shown.bottom, 200);
    RECT crop{};
    RECT target{};
    ASSERT_EQ(windowless->GetVideoPosition(&crop, &target), S_OK);
    EXPECT_EQ(crop.right, 720);
    EXPECT_EQ(crop.bottom, 480);
    EXPECT_EQ(target.right, 330);

    // Letter box keeps the 4:3 shape inside the whole 16:9 area.
    ComPtr<IVMRAspectRatioControl9> aspect;
    ASSERT_EQ(renderer.As(&aspect), S_OK);
    ASSERT_EQ(aspect->SetAspectRatioMode(VMR9ARMode_LetterBox), S_OK);
    DWORD mode = 0;
    ASSERT_EQ(windowless->GetAspectRatioMode(&mode), S_OK);
    EXPECT_EQ(mode, VMR9ARMode_LetterBox);
    ComPtr<IBasicVideo2> basic;
    ASSERT_EQ(renderer.As(&basic), S_OK);
    ASSERT_EQ(basic->SetDefaultDestinationPosition(), S_OK);
    ASSERT_EQ(windowless->RepaintVideo(AsWindow(&surface), nullptr), S_OK);
    shown = surface.LastDestination();
    EXPECT_EQ(shown.left, 120);
    EXPECT_EQ(shown.top, 0);
    EXPECT_EQ(shown.right, 840);
    EXPECT_EQ(shown.bottom, 540);

    // Without a clipping window pictures are still made for GetCurrentImage.
    ASSERT_EQ(windowless->SetVideoClippingWindow(nullptr), S_OK);
    ASSERT_EQ(source->PushPicture(35, 212, 114, nullptr), S_OK);
    EXPECT_EQ(surface.Presented(), 3);
    const Image image = CurrentImage(windowless.Get());
    EXPECT_TRUE(Near(image.At(320, 240), Bt601ToRgb(35, 212, 114), 3));
}

TEST_F(RendererTest, ControlsTakeTheModesTheApplicationSetsAndRefuseOthers) {
    ComPtr<IVMRFilterConfig9> config;
    ASSERT_EQ(renderer.As(&config), S_OK);
    DWORD streams = 0;
    EXPECT_TRUE(FAILED(config->GetNumberOfStreams(&streams)));
    EXPECT_EQ(config->SetNumberOfStreams(0), E_INVALIDARG);
    EXPECT_EQ(config->SetNumberOfStreams(1), S_OK);
    EXPECT_EQ(config->GetNumberOfStreams(&streams), S_OK);
    EXPECT_EQ(streams, 1u);
    EXPECT_EQ(config->SetRenderingMode(VMR9Mode_Windowless), S_OK);
    EXPECT_EQ(config->SetRenderingMode(VMR9Mode_Renderless), E_NOTIMPL);
    EXPECT_EQ(config->SetRenderingMode(9), E_INVALIDARG);
    DWORD mode = 0;
    EXPECT_EQ(config->GetRenderingMode(&mode), S_OK);
    EXPECT_EQ(mode, VMR9Mode_Windowless);
    EXPECT_EQ(windowless->SetAspectRatioMode(7), E_INVALIDARG);
    const RECT inverted{10, 10, 0, 0};
    EXPECT_EQ(windowless->SetVideoPosition(nullptr, &inverted), E_INVALIDARG);
    EXPECT_EQ(windowless->SetBorderColor(0x00102030), S_OK);
    COLORREF border = 0;
    EXPECT_EQ(windowless->GetBorderColor(&border), S_OK);
    EXPECT_EQ(border, 0x00102030u);
    // Nothing shown yet: no image to hand out.
    BYTE* dib = nullptr;
    EXPECT_EQ(windowless->GetCurrentImage(&dib), E_FAIL);
    EXPECT_EQ(dib, nullptr);
}
