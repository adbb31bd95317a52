#pragma once

// What the video tests share: an off-screen picture area, pictures read back from the
// renderer's bitmaps, a source of ready-made pictures for the renderer alone, and the graph
// of a simulated broadcast through the analyzer, the decoder and the renderer.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/Categories.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/CBaseOutputPin.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/dshow/VideoSurface.h"
#include "platform/media/MediaClasses.h"
#include "platform/media/video/VideoDecoderFilter.h"
#include "platform/media/video/VideoPictureFormat.h"
#include "platform/media/video/VideoRenderer.h"
#include "sianalyzer/ICQVSIAnalyzer.h"
#include "sources/tests/SourceTestSupport.h"
#include "streamfw/tests/StreamTestFilters.h"

namespace videotest {

using streamtest::Bytes;
using streamtest::Hold;
using streamtest::kTsPacketSize;
using streamtest::PushSource;
using streamtest::WaitUntil;

// --- pictures

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};

// A Y'CbCr colour of the matrix with luma weights kr, kb (limited or full range) in full-range
// RGB, as a display shows it.
inline Rgb YCbCrToRgb(int y, int cb, int cr, double kr, double kb, bool fullRange) {
    const double luma = fullRange ? y / 255.0 : (y - 16) / 219.0;
    const double blue = (cb - 128) / (fullRange ? 255.0 : 224.0);
    const double red = (cr - 128) / (fullRange ? 255.0 : 224.0);
    const double r = luma + 2 * (1 - kr) * red;
    const double b = luma + 2 * (1 - kb) * blue;
    const double g = (luma - kr * r - kb * b) / (1 - kr - kb);
    auto level = [](double value) {
        return int(std::lround(std::clamp(value * 255.0, 0.0, 255.0)));
    };
    return {level(r), level(g), level(b)};
}

inline Rgb Bt601ToRgb(int y, int cb, int cr) {
    return YCbCrToRgb(y, cb, cr, 0.299, 0.114, false);
}

inline bool Near(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

inline std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// A picture read back from a packed bitmap, top row first.
struct Image {
    LONG width = 0;
    LONG height = 0;
    std::vector<uint8_t> bgra;

    Rgb At(LONG x, LONG y) const {
        const uint8_t* p = bgra.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
        return {p[2], p[1], p[0]};
    }
    int Luma(LONG x, LONG y) const {
        const Rgb c = At(x, y);
        return (c.r * 77 + c.g * 150 + c.b * 29) >> 8;
    }
};

// Reads a packed 32-bit bottom-up bitmap (header and pixels); an empty image when the header is
// not such a bitmap.
inline Image ReadDib(const BYTE* dib) {
    Image image;
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof(header));
    if (header.biSize != sizeof(header) || header.biBitCount != 32 || header.biHeight <= 0 ||
        header.biWidth <= 0 || header.biPlanes != 1 || header.biCompression != 0) {
        return image;
    }
    image.width = header.biWidth;
    image.height = header.biHeight;
    const size_t row = size_t(image.width) * 4;
    image.bgra.resize(row * size_t(image.height));
    const BYTE* pixels = dib + sizeof(header);
    for (LONG y = 0; y < image.height; ++y) {
        std::memcpy(image.bgra.data() + size_t(y) * row,
                    pixels + size_t(image.height - 1 - y) * row, row);
    }
    return image;
}

// The renderer's current image through IVMRWindowlessControl9 (empty when it has none).
inline Image CurrentImage(IVMRWindowlessControl9* control) {
    BYTE* dib = nullptr;
    if (control->GetCurrentImage(&dib) != S_OK || dib == nullptr) {
        return {};
    }
    Image image = ReadDib(dib);
    CoTaskMemFree(dib);
    return image;
}

// The window handle of a picture area: a pointer to its IVideoSurface.
inline HWND AsWindow(IVideoSurface* surface) {
    return surface;
}

// A picture area in memory that keeps what it is given.
class OffscreenSurface final : public IVideoSurface {
public:
    OffscreenSurface(LONG width, LONG height) : width(width), height(height) {}

    void GetClientSize(LONG* w, LONG* h) override {
        *w = width;
        *h = height;
    }
    void PresentFrame(std::shared_ptr<const VideoFrame> frame, const RECT& destination) override {
        std::lock_guard lock(mutex);
        last = std::move(frame);
        lastDestination = destination;
        ++presented;
    }

    int Presented() {
        std::lock_guard lock(mutex);
        return presented;
    }
    RECT LastDestination() {
        std::lock_guard lock(mutex);
        return lastDestination;
    }
    std::shared_ptr<const VideoFrame> Last() {
        std::lock_guard lock(mutex);
        return last;
    }
    void Forget() {
        std::lock_guard lock(mutex);
        last.reset();
    }

private:
    const LONG width;
    const LONG height;
    std::mutex mutex;
    std::shared_ptr<const VideoFrame> last;
    RECT lastDestination{};
    int presented = 0;
};

// --- a source of ready-made pictures

// Offers I420 pictures of one format on "Out" and delivers flat-coloured pictures from the
// calling thread; a picture can carry a new format as a dynamic type change.
class FramePin final : public CBaseOutputPin {
public:
    FramePin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const VideoPictureFormat& format)
        : CBaseOutputPin(u"Frame pin", filter, lock, hr, u"Out"), format(format) {}

    HRESULT CheckMediaType(const CMediaType* type) override {
        VideoPictureFormat offered;
        return ReadVideoPictureType(*type, &offered) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position != 0) {
            return VFW_S_NO_MORE_ITEMS;
        }
        return SetVideoPictureType(format, type);
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override {
        ALLOCATOR_PROPERTIES wanted{2, CVideoDecoderFilter::kOutputBufferSize, 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(&wanted, &actual);
    }

    VideoPictureFormat format;
};

class FrameSource final : public CBaseFilter {
public:
    explicit FrameSource(const VideoPictureFormat& format)
        : CBaseFilter(u"Frame source", nullptr, &lock, GUID_NULL) {
        HRESULT hr = S_OK;
        pin = new FramePin(this, &lock, &hr, format);
    }
    ~FrameSource() override { delete pin; }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

    // A picture of one Y'CbCr colour, timed at `start` (stream time) when given; `format` (when
    // given) changes the stream's format with this picture.
    HRESULT PushPicture(int y, int cb, int cr, const REFERENCE_TIME* start,
                        const VideoPictureFormat* format = nullptr) {
        IMediaSample* sample = nullptr;
        HRESULT hr = pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            return hr;
        }
        if (format != nullptr) {
            CMediaType type;
            SetVideoPictureType(*format, &type);
            sample->SetMediaType(&type);
            pin->format = *format;
        }
        const VideoPictureFormat& f = pin->format;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const size_t luma = size_t(f.width) * size_t(f.height);
        const size_t chroma = size_t((f.width + 1) / 2) * size_t((f.height + 1) / 2);
        std::memset(data, y, luma);
        std::memset(data + luma, cb, chroma);
        std::memset(data + luma + chroma, cr, chroma);
        sample->SetActualDataLength(LONG(f.PictureBytes()));
        if (start != nullptr) {
            REFERENCE_TIME from = *start;
            REFERENCE_TIME to = *start + 333667;
            sample->SetTime(&from, &to);
        }
        sample->SetSyncPoint(TRUE);
        hr = pin->Deliver(sample);
        sample->Release();
        return hr;
    }

    CCritSec lock;
    FramePin* pin;
};

inline VideoPictureFormat PictureFormat(int width, int height, int aspectX, int aspectY,
                                        ColourMatrix matrix = ColourMatrix::kBT601) {
    VideoPictureFormat format;
    format.width = width;
    format.height = height;
    format.aspectX = aspectX;
    format.aspectY = aspectY;
    format.matrix = matrix;
    format.averageTimePerFrame = 333667;
    return format;
}

// --- streams

// `seconds` of a channel of the simulator (its first television service is on the lowest
// video PID); empty when the encoders are missing.
inline Bytes SimulatedStream(int space, int channel, double seconds) {
    return sourcetest::SimulatedStream(seconds, space, channel);
}

inline bool HaveFfmpeg() {
    return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

using sourcetest::ReadFile;
using sourcetest::TempFolder;

// A 1080i MPEG-2 clip in a transport stream (video on PID 0x100, which carries the PCR): a
// black bar sweeping across white, 40 pixels per field, woven from 59.94 fields per second so
// that the two fields of a picture show the bar at different places.
inline constexpr uint16_t kClipVideoPid = 0x0100;
inline bool MakeInterlacedClip(const std::string& path, double seconds) {
    const std::string command =
        "ffmpeg -loglevel error -y -f lavfi -i \"color=c=white:s=1440x1080:r=60000/1001[bg];"
        "color=c=black:s=160x1080:r=60000/1001[bar];"
        "[bg][bar]overlay=x='mod(n*40,1280)':y=0:shortest=1,format=yuv420p\" -t " +
        std::to_string(seconds) +
        " -vf tinterlace=interleave_top,setfield=tff -c:v mpeg2video -b:v 15M -flags +ilme+ildct"
        " -top 1 -aspect 16:9 -f mpegts \"" +
        path + "\"";
    return std::system(command.c_str()) == 0 && std::filesystem::file_size(path) > 0;
}

// --- the graph

// The first parameters of the graph events of one code queued so far; the others are dropped.
inline std::vector<LONG_PTR> TakeEvents(IMediaEventEx* events, LONG wanted) {
    std::vector<LONG_PTR> taken;
    LONG code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    while (events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        if (code == wanted) {
            taken.push_back(param1);
        }
        events->FreeEventParams(code, param1, param2);
    }
    return taken;
}

// The decoder as the application finds it: by its friendly name in the legacy filter category.
inline ComPtr<IBaseFilter> FindDecoderByName() {
    std::vector<CategoryEntry> entries;
    ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &entries);
    for (const CategoryEntry& entry : entries) {
        if (entry.friendlyName == kOrvVideoDecoderName) {
            ComPtr<IBaseFilter> filter;
            CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             filter.GetVoidAddressOf());
            return filter;
        }
    }
    return {};
}

// Push source -> analyzer -> video decoder -> video renderer, in a graph with the system
// clock; the renderer draws into an off-screen surface.
class VideoGraph {
public:
    struct Setup {
        uint16_t pcrPid = 0x01FF;
        uint16_t videoPid = 0x0100;
        // Pushed faster than real time, the samples are due later than they would be live;
        // three seconds of latency keep the first ones clear of the renderer's lateness limit
        // on a slow (sanitized) build too.
        REFERENCE_TIME latency = 30000000;
    };

    void Build(const Setup& setup) {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.GetVoidAddressOf()),
                  S_OK);
        ASSERT_EQ(graph.As(&control), S_OK);
        ASSERT_EQ(graph.As(&events), S_OK);
        HRESULT hr = E_FAIL;
        auto* made = static_cast<ICQVSIAnalyzer*>(ICQVSIAnalyzer::CreateInstance(nullptr, &hr));
        ASSERT_EQ(hr, S_OK);
        analyzerFilter = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(made));
        analyzer = made;
        decoder = FindDecoderByName();
        ASSERT_TRUE(decoder);
        ASSERT_EQ(CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, renderer.GetVoidAddressOf()),
                  S_OK);
        ASSERT_EQ(renderer.As(&windowless), S_OK);
        ASSERT_EQ(renderer.As(&statistics), S_OK);
        source = new PushSource(
            {.bufferCount = 8, .bufferSize = LONG(streamtest::kSamplePackets * kTsPacketSize)});
        sourceFilter = Hold(source);
        ASSERT_EQ(graph->AddFilter(sourceFilter.Get(), u"Source"), S_OK);
        ASSERT_EQ(graph->AddFilter(analyzerFilter.Get(), u"SI Analyzer"), S_OK);
        ASSERT_EQ(graph->AddFilter(decoder.Get(), kOrvVideoDecoderName), S_OK);
        ASSERT_EQ(graph->AddFilter(renderer.Get(), u"Video Renderer"), S_OK);
        ComPtr<IVMRFilterConfig9> config;
        ASSERT_EQ(renderer.As(&config), S_OK);
        ASSERT_EQ(config->SetRenderingMode(VMR9Mode_Windowless), S_OK);
        ASSERT_EQ(config->SetNumberOfStreams(1), S_OK);
        ASSERT_EQ(windowless->SetVideoClippingWindow(AsWindow(&surface)), S_OK);

        ComPtr<IPin> input;
        ASSERT_EQ(analyzerFilter->FindPin(u"Input", input.GetAddressOf()), S_OK);
        CMediaType type = streamtest::TransportStreamType();
        ASSERT_EQ(graph->ConnectDirect(source->pin, input.Get(), &type), S_OK);
        ComPtr<IPin> video;
        ASSERT_EQ(analyzerFilter->FindPin(u"Video", video.GetAddressOf()), S_OK);
        ComPtr<IPin> decoderIn;
        ComPtr<IPin> decoderOut;
        ComPtr<IPin> rendererIn;
        ASSERT_EQ(decoder->FindPin(u"In", decoderIn.GetAddressOf()), S_OK);
        ASSERT_EQ(decoder->FindPin(u"Out", decoderOut.GetAddressOf()), S_OK);
        ASSERT_EQ(renderer->FindPin(u"In", rendererIn.GetAddressOf()), S_OK);
        ASSERT_EQ(graph->ConnectDirect(video.Get(), decoderIn.Get(), nullptr), S_OK);
        ASSERT_EQ(graph->ConnectDirect(decoderOut.Get(), rendererIn.Get(), nullptr), S_OK);

        analyzer->SetAutoSelect(0);
        analyzer->SetPCRPID(setup.pcrPid);
        analyzer->SetVideoPID(setup.videoPid);
        analyzer->SetLatency(setup.latency);
    }

    void Run() { ASSERT_TRUE(SUCCEEDED(control->Run())); }

    // Ends the stream and waits for the renderer's EC_COMPLETE.
    bool Finish(int milliseconds = 30000) {
        if (FAILED(source->PushEndOfStream())) {
            return false;
        }
        LONG code = 0;
        return events->WaitForCompletion(milliseconds, &code) == S_OK && code == EC_COMPLETE;
    }

    LONG FramesDrawn() {
        LONG frames = 0;
        statistics->GetFramesDrawn(&frames);
        return frames;
    }
    LONG FramesDroppedLate() {
        LONG frames = 0;
        statistics->GetFramesDroppedLate(&frames);
        return frames;
    }

    void Teardown() {
        if (control) {
            control->Stop();
        }
        if (windowless) {
            windowless->SetVideoClippingWindow(nullptr);
        }
        statistics.Reset();
        windowless.Reset();
        events.Reset();
        control.Reset();
        graph.Reset();
        analyzer = nullptr;
        analyzerFilter.Reset();
        decoder.Reset();
        renderer.Reset();
        sourceFilter.Reset();
        source = nullptr;
    }

    ~VideoGraph() { Teardown(); }

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    ComPtr<IBaseFilter> analyzerFilter;
    ICQVSIAnalyzer* analyzer = nullptr;
    ComPtr<IBaseFilter> decoder;
    ComPtr<IBaseFilter> renderer;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IVideoRendererStatistics> statistics;
    PushSource* source = nullptr;
    ComPtr<IBaseFilter> sourceFilter;
    OffscreenSurface surface{960, 540};
};

}  // namespace videotest
