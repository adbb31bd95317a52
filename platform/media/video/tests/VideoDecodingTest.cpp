// The video pipeline without a graph: finding the elementary stream and its codec, the
// picture format, decoding the simulator's pictures, colour conversion and the mixer bitmap.
#include <gtest/gtest.h>

#include <random>

#include "platform/gdi/GdiSurface.h"
#include "platform/media/video/VideoColourConverter.h"
#include "platform/media/video/VideoElementaryStream.h"
#include "platform/media/video/VideoFramePool.h"
#include "platform/media/video/VideoMixerBitmap.h"
#include "platform/media/video/VideoStreamDecoder.h"
#include "platform/media/video/tests/VideoTestSupport.h"
#include "tools/isdbsim/MediaLoops.h"
#include "tools/streamkit/TsPacketizer.h"

using namespace videotest;

namespace {

// The simulator's seven 75 % bars, as TestPattern.cpp draws them (BT.601 Y'CbCr).
constexpr int kBars[7][3] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                             {84, 184, 198},  {65, 100, 212}, {35, 212, 114}};

const isdbsim::ServiceInfo& TerrestrialService() {
    return isdbsim::FindChannel(0, 0)->services[0];
}

const isdbsim::ServiceInfo& OneSegService() {
    for (const isdbsim::ServiceInfo& service : isdbsim::FindChannel(0, 0)->services) {
        if (service.kind == isdbsim::ServiceKind::OneSeg) {
            return service;
        }
    }
    return isdbsim::FindChannel(0, 0)->services[0];
}

// The pictures the decoder makes of a loop's access units, each pushed as one PES packet.
struct Collected {
    std::vector<VideoPictureFormat> formats;
    std::vector<int64_t> starts;
    std::vector<Image> images;  // converted at the display size when asked
};

void DecodeLoop(VideoStreamDecoder& decoder, const isdbsim::VideoLoop& loop, size_t count,
                int64_t firstStart, Collected& collected, bool convert) {
    VideoColourConverter converter;
    auto sink = [&](const DecodedPicture& picture) {
        collected.formats.push_back(picture.format);
        collected.starts.push_back(picture.timed ? picture.start : -1);
        if (convert) {
            Image image;
            image.width = picture.format.DisplayWidth();
            image.height = picture.format.height;
            image.bgra.resize(size_t(image.width) * size_t(image.height) * 4);
            ASSERT_TRUE(converter.Convert(picture.format, picture.planes, picture.strides, RECT{},
                                          image.width, image.height, image.bgra.data(),
                                          image.width * 4));
            collected.images.push_back(std::move(image));
        }
    };
    const int64_t frameTime = int64_t(loop.frameDuration90k) * 1000 / 9;
    for (size_t i = 0; i < count; ++i) {
        const Bytes& unit = loop.frames[i % loop.frames.size()];
        const int64_t start = firstStart + int64_t(i) * frameTime;
        const Bytes pes = streamkit::BuildPes(
            {.streamId = 0xE0, .pts = uint64_t(start * 9 / 1000), .unboundedLength = true}, unit);
        decoder.Decode(pes.data(), pes.size(), &start, sink);
    }
    decoder.Drain(sink);
}

}  // namespace

TEST(VideoElementaryStream, FindsThePayloadAndTimeOfPesPacketsAndTakesBareBytesAsTheyAre) {
    const Bytes body = {0, 0, 1, 0xB3, 0x2D, 0x01, 0xE0};
    const Bytes pes = streamkit::BuildPes({.streamId = 0xE0, .pts = 0x1FFFFFFFFull}, body);
    VideoPayload payload = FindVideoPayload(pes.data(), pes.size());
    ASSERT_EQ(payload.size, body.size());
    EXPECT_EQ(Bytes(payload.data, payload.data + payload.size), body);
    EXPECT_TRUE(payload.hasPts);
    EXPECT_EQ(payload.pts90k, 0x1FFFFFFFFll);

    payload = FindVideoPayload(body.data(), body.size());
    EXPECT_EQ(payload.data, body.data());
    EXPECT_FALSE(payload.hasPts);

    // A header cut short has no payload; neither has nothing.
    EXPECT_EQ(FindVideoPayload(pes.data(), 8).size, 0u);
    EXPECT_EQ(FindVideoPayload(pes.data(), pes.size() - body.size() - 1).size, 0u);
    EXPECT_EQ(FindVideoPayload(nullptr, 0).size, 0u);
}

TEST(VideoElementaryStream, TellsTheCodecOnlyFromAStreamHeader) {
    struct Case {
        Bytes bytes;
        VideoCodec codec;
    };
    const Case cases[] = {
        {{0, 0, 1, 0xB3, 0x5A, 0x04, 0x38}, VideoCodec::kMpeg2},
        {{0xFF, 0, 0, 1, 0x00, 0x01, 0, 0, 1, 0xB3, 0x10}, VideoCodec::kMpeg2},
        {{0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x0D}, VideoCodec::kH264},
        {{0, 0, 1, 0x47, 0x64, 0x00, 0x28}, VideoCodec::kH264},
        // A slice of either codec tells nothing, even when it looks like a parameter set of the
        // lowest reference level (an MPEG-2 slice of row 39 with quantiser 100 does); neither
        // do a picture header or an access unit delimiter alone.
        {{0, 0, 1, 0x27, 0x64, 0x00, 0x28}, VideoCodec::kUnknown},
        {{0, 0, 1, 0x67, 0x64, 0x03, 0x28}, VideoCodec::kUnknown},
        {{0, 0, 1, 0x00, 0x01, 0xFF, 0xF8}, VideoCodec::kUnknown},
        {{0, 0, 0, 1, 0x09, 0xF0, 0x00}, VideoCodec::kUnknown},
        {{0, 0, 1, 0x67, 0x64}, VideoCodec::kUnknown},  // cut before its constraint flags
        {{0, 0, 1}, VideoCodec::kUnknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DetectVideoCodec(c.bytes.data(), c.bytes.size()), c.codec)
            << "case " << (&c - cases);
    }
}

TEST(VideoPictureFormat, ShapesFollowTheSampleAspectRatioAndShowAsTheApplicationSizesThem) {
    struct Case {
        int width, height, sarNum, sarDen;
        int aspectX, aspectY, displayWidth;
    };
    const Case cases[] = {
        {1440, 1080, 4, 3, 16, 9, 1920}, {1920, 1080, 1, 1, 16, 9, 1920},
        {720, 480, 32, 27, 16, 9, 848},  {720, 480, 8, 9, 4, 3, 640},
        {320, 180, 0, 1, 16, 9, 320},    {320, 240, 1, 1, 4, 3, 320},
        {704, 480, 40, 33, 16, 9, 848},
    };
    for (const Case& c : cases) {
        VideoPictureFormat format;
        format.width = c.width;
        format.height = c.height;
        PictureAspectRatio(c.width, c.height, c.sarNum, c.sarDen, &format.aspectX, &format.aspectY);
        EXPECT_EQ(format.aspectX, c.aspectX) << c.width << "x" << c.height;
        EXPECT_EQ(format.aspectY, c.aspectY) << c.width << "x" << c.height;
        EXPECT_EQ(format.DisplayWidth(), c.displayWidth) << c.width << "x" << c.height;
    }
}

TEST(VideoPictureFormat, MediaTypeCarriesSizeShapeAndColoursAndRefusesOtherTypes) {
    for (const ColourMatrix matrix : {ColourMatrix::kBT601, ColourMatrix::kBT709}) {
        for (const bool fullRange : {false, true}) {
            VideoPictureFormat format = PictureFormat(1440, 1080, 16, 9, matrix);
            format.fullRange = fullRange;
            CMediaType type;
            ASSERT_EQ(SetVideoPictureType(format, &type), S_OK);
            EXPECT_EQ(type.GetSampleSize(), ULONG(1440 * 1080 * 3 / 2));
            VideoPictureFormat read;
            ASSERT_TRUE(ReadVideoPictureType(type, &read));
            EXPECT_TRUE(read == format);
        }
    }
    CMediaType type;
    ASSERT_EQ(SetVideoPictureType(PictureFormat(720, 480, 4, 3), &type), S_OK);
    CMediaType other = type;
    other.SetSubtype(&MEDIASUBTYPE_YUY2);
    VideoPictureFormat read;
    EXPECT_FALSE(ReadVideoPictureType(other, &read));
    other = type;
    other.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER2) - 4);
    EXPECT_FALSE(ReadVideoPictureType(other, &read));
    other = type;
    reinterpret_cast<VIDEOINFOHEADER2*>(other.Format())->bmiHeader.biWidth = 0;
    EXPECT_FALSE(ReadVideoPictureType(other, &read));
}

TEST(VideoStreamDecoder, SimulatedBarsComeOutWithinEightLevelsAtTheirPlaces) {
    const auto loop = isdbsim::GetVideoLoop(TerrestrialService());
    ASSERT_TRUE(loop);
    VideoStreamDecoder decoder;
    Collected collected;
    DecodeLoop(decoder, *loop, 6, 10000000, collected, true);
    EXPECT_EQ(decoder.Codec(), VideoCodec::kMpeg2);
    ASSERT_EQ(collected.images.size(), 6u);
    for (size_t i = 0; i < collected.starts.size(); ++i) {
        // Each picture keeps the time of the sample it came in.
        EXPECT_EQ(collected.starts[i], 10000000 + int64_t(i) * (3003 * 1000 / 9)) << i;
    }
    const Image& image = collected.images[2];
    ASSERT_EQ(image.width, 848);
    ASSERT_EQ(image.height, 480);
    for (int bar = 0; bar < 7; ++bar) {
        const Rgb expected = Bt601ToRgb(kBars[bar][0], kBars[bar][1], kBars[bar][2]);
        const LONG x = LONG((bar * 2 + 1) * image.width / 14);
        for (const LONG y : {LONG(30), LONG(280)}) {
            EXPECT_TRUE(Near(image.At(x, y), expected, 8))
                << "bar " << bar << " at y " << y << ": " << image.At(x, y) << " for " << expected;
        }
    }
}

TEST(VideoStreamDecoder, FollowsTheStreamFromMpeg2ToH264AndBack) {
    const auto mpeg2 = isdbsim::GetVideoLoop(TerrestrialService());
    const auto h264 = isdbsim::GetVideoLoop(OneSegService());
    ASSERT_TRUE(mpeg2);
    if (!h264) {
        GTEST_SKIP() << "no H.264 encoder for the simulator";
    }
    VideoStreamDecoder decoder;
    Collected first;
    DecodeLoop(decoder, *mpeg2, 5, 0, first, false);
    Collected second;
    DecodeLoop(decoder, *h264, 5, 0, second, false);
    EXPECT_EQ(decoder.Codec(), VideoCodec::kH264);
    Collected third;
    DecodeLoop(decoder, *mpeg2, 5, 0, third, false);
    EXPECT_EQ(decoder.Codec(), VideoCodec::kMpeg2);
    ASSERT_EQ(first.formats.size(), 5u);
    ASSERT_EQ(second.formats.size(), 5u);
    ASSERT_EQ(third.formats.size(), 5u);
    EXPECT_EQ(first.formats[0].width, 720);
    EXPECT_EQ(second.formats[0].width, 320);
    EXPECT_EQ(second.formats[0].height, 180);
    EXPECT_EQ(second.formats[0].aspectX, 16);
    EXPECT_EQ(third.formats[0].width, 720);
}

TEST(VideoStreamDecoder, SurvivesGarbageCutUnitsAndMissingReferences) {
    const auto loop = isdbsim::GetVideoLoop(TerrestrialService());
    ASSERT_TRUE(loop);
    std::mt19937 random(20261210);
    VideoStreamDecoder decoder;
    int pictures = 0;
    auto sink = [&](const DecodedPicture& picture) {
        ++pictures;
        EXPECT_GT(picture.format.width, 0);
    };
    const int64_t start = 0;
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < loop->frames.size(); ++i) {
            Bytes unit = loop->frames[i];
            switch ((i + size_t(round)) % 4) {
                case 0:  // random bytes over a part of the picture
                    for (size_t k = unit.size() / 3; k < unit.size() / 2; ++k) {
                        unit[k] = uint8_t(random());
                    }
                    break;
                case 1:  // cut short
                    unit.resize(unit.size() / 2);
                    break;
                case 2:  // noise alone
                    for (uint8_t& byte : unit) {
                        byte = uint8_t(random());
                    }
                    break;
                default:
                    break;
            }
            decoder.Decode(unit.data(), unit.size(), &start, sink);
        }
        // A flush in the middle: the next pictures refer to ones that are gone.
        decoder.Reset();
    }
    decoder.Drain(sink);
    EXPECT_GT(decoder.Errors(), 0);
    // Whole pictures and the ones after them still decode.
    Collected after;
    DecodeLoop(decoder, *loop, 16, 0, after, false);
    EXPECT_EQ(after.formats.size(), 16u);
}

TEST(VideoColourConverter, UsesTheStreamsMatrixAndRange) {
    // One blue in BT.601 and in BT.709: red differs by ten levels between the two.
    struct Case {
        ColourMatrix matrix;
        bool fullRange;
        Rgb expected;
    };
    const int y = 120;
    const int cb = 180;
    const int cr = 80;
    const Case cases[] = {
        {ColourMatrix::kBT601, false, Bt601ToRgb(y, cb, cr)},
        {ColourMatrix::kBT709, false, YCbCrToRgb(y, cb, cr, 0.2126, 0.0722, false)},
        {ColourMatrix::kBT601, true, YCbCrToRgb(y, cb, cr, 0.299, 0.114, true)},
    };
    for (const Case& c : cases) {
        VideoPictureFormat format = PictureFormat(64, 32, 2, 1, c.matrix);
        format.fullRange = c.fullRange;
        std::vector<uint8_t> luma(64 * 32, uint8_t(y));
        std::vector<uint8_t> blue(32 * 16, uint8_t(cb));
        std::vector<uint8_t> red(32 * 16, uint8_t(cr));
        const uint8_t* planes[3] = {luma.data(), blue.data(), red.data()};
        const int strides[3] = {64, 32, 32};
        Image image;
        image.width = 96;
        image.height = 32;
        image.bgra.resize(96 * 32 * 4);
        VideoColourConverter converter;
        ASSERT_TRUE(
            converter.Convert(format, planes, strides, RECT{}, 96, 32, image.bgra.data(), 96 * 4));
        EXPECT_TRUE(Near(image.At(48, 16), c.expected, 3))
            << image.At(48, 16) << " for " << c.expected;
        EXPECT_EQ(image.bgra[3], 255);
    }
}

namespace {

constexpr uint32_t kGrey = 0xFF808080;
constexpr uint32_t kRedPixel = 0x00FF0000;  // the drawing layer's 0x00RRGGBB

VideoFrame GreyFrame(LONG width, LONG height) {
    VideoFrame frame;
    frame.width = width;
    frame.height = height;
    frame.stride = width * 4;
    frame.pixels.resize(size_t(frame.stride) * size_t(height));
    for (size_t i = 0; i < frame.pixels.size(); i += 4) {
        std::memcpy(&frame.pixels[i], &kGrey, 4);
    }
    return frame;
}

uint32_t PixelAt(const VideoFrame& frame, LONG x, LONG y) {
    uint32_t pixel = 0;
    std::memcpy(&pixel, &frame.pixels[size_t(y) * size_t(frame.stride) + size_t(x) * 4], 4);
    return pixel;
}

// A caption page: black (transparent) with a red block at (100, 50)-(200, 100) of 960 x 540.
std::unique_ptr<GdiSurface> CaptionPage() {
    auto page = std::make_unique<GdiSurface>(960, 540);
    for (int y = 50; y < 100; ++y) {
        for (int x = 100; x < 200; ++x) {
            page->GetPixels()[y * 960 + x] = kRedPixel;
        }
    }
    return page;
}

VMR9AlphaBitmap PageBitmap(GdiSurface* page, DWORD extraFlags = VMR9AlphaBitmap_SrcColorKey) {
    VMR9AlphaBitmap bitmap{};
    bitmap.dwFlags = VMR9AlphaBitmap_hDC | extraFlags;
    bitmap.hdc = page;
    bitmap.rSrc = RECT{0, 0, 960, 540};
    bitmap.rDest = {0.0f, 0.0f, 1.0f, 1.0f};
    bitmap.fAlpha = 1.0f;
    bitmap.clrSrcKey = 0;
    return bitmap;
}

}  // namespace

TEST(VideoMixerBitmap, KeyedPageLandsScaledAtItsDestinationAndBlackStaysTransparent) {
    auto page = CaptionPage();
    VideoMixerBitmap mixer;
    VMR9AlphaBitmap bitmap = PageBitmap(page.get());
    ASSERT_EQ(mixer.Set(&bitmap), S_OK);
    // Drawing on the page afterwards changes nothing: the pixels were copied.
    page->Clear();
    VideoFrame frame = GreyFrame(1920, 1080);
    mixer.Composite(frame);
    EXPECT_EQ(PixelAt(frame, 250, 150), kRedPixel | 0xFF000000);  // (100..200, 50..100) x 2
    EXPECT_EQ(PixelAt(frame, 398, 198), kRedPixel | 0xFF000000);
    EXPECT_EQ(PixelAt(frame, 401, 150), kGrey);
    EXPECT_EQ(PixelAt(frame, 250, 201), kGrey);
    EXPECT_EQ(PixelAt(frame, 1000, 800), kGrey);

    // The lower right quarter: the block moves and halves.
    bitmap.rDest = {0.5f, 0.5f, 1.0f, 1.0f};
    ASSERT_EQ(mixer.Update(&bitmap), S_OK);
    frame = GreyFrame(1920, 1080);
    mixer.Composite(frame);
    EXPECT_EQ(PixelAt(frame, 960 + 150, 540 + 75), kRedPixel | 0xFF000000);
    EXPECT_EQ(PixelAt(frame, 250, 150), kGrey);

    // Disabled: nothing.
    bitmap.dwFlags |= VMR9AlphaBitmap_Disable;
    ASSERT_EQ(mixer.Update(&bitmap), S_OK);
    frame = GreyFrame(1920, 1080);
    mixer.Composite(frame);
    EXPECT_EQ(PixelAt(frame, 960 + 150, 540 + 75), kGrey);
    VMR9AlphaBitmap read{};
    ASSERT_EQ(mixer.Get(&read), S_OK);
    EXPECT_NE(read.dwFlags & VMR9AlphaBitmap_Disable, 0u);
}

TEST(VideoMixerBitmap, WithoutKeyOrAtHalfAlphaTheWholeRectangleMixes) {
    auto page = CaptionPage();
    VideoMixerBitmap mixer;
    VMR9AlphaBitmap bitmap = PageBitmap(page.get(), 0);
    bitmap.rSrc = RECT{100, 50, 300, 150};  // the block is its left half
    ASSERT_EQ(mixer.Set(&bitmap), S_OK);
    VideoFrame frame = GreyFrame(200, 100);
    mixer.Composite(frame);
    EXPECT_EQ(PixelAt(frame, 50, 25), kRedPixel | 0xFF000000);
    EXPECT_EQ(PixelAt(frame, 150, 25), 0xFF000000u);  // black shows without the key

    bitmap.fAlpha = 0.5f;
    bitmap.dwFlags |= VMR9AlphaBitmap_SrcColorKey;
    ASSERT_EQ(mixer.Set(&bitmap), S_OK);
    frame = GreyFrame(200, 100);
    mixer.Composite(frame);
    const uint32_t mixed = PixelAt(frame, 50, 25);
    EXPECT_TRUE(Near({int(mixed >> 16 & 0xFF), int(mixed >> 8 & 0xFF), int(mixed & 0xFF)},
                     {192, 64, 64}, 1))
        << std::hex << mixed;
    EXPECT_EQ(PixelAt(frame, 150, 25), kGrey);
}

TEST(VideoMixerBitmap, RefusesWhatItCannotShow) {
    auto page = CaptionPage();
    VideoMixerBitmap mixer;
    EXPECT_EQ(mixer.Set(nullptr), E_POINTER);
    VMR9AlphaBitmap bitmap = PageBitmap(page.get());
    EXPECT_EQ(mixer.Update(&bitmap), E_INVALIDARG);  // nothing set yet
    bitmap.hdc = nullptr;
    EXPECT_EQ(mixer.Set(&bitmap), E_INVALIDARG);
    bitmap = PageBitmap(page.get());
    bitmap.rDest = {0.5f, 0.0f, 0.5f, 1.0f};
    EXPECT_EQ(mixer.Set(&bitmap), E_INVALIDARG);
    bitmap = PageBitmap(page.get());
    bitmap.fAlpha = 1.5f;
    EXPECT_EQ(mixer.Set(&bitmap), E_INVALIDARG);
    bitmap = PageBitmap(page.get());
    bitmap.rSrc = RECT{2000, 0, 3000, 540};  // wholly outside the page
    EXPECT_EQ(mixer.Set(&bitmap), E_INVALIDARG);
    // The disable flag alone is always taken.
    VMR9AlphaBitmap disable{};
    disable.dwFlags = VMR9AlphaBitmap_Disable;
    EXPECT_EQ(mixer.Set(&disable), S_OK);
}

TEST(VideoFramePool, ReusesOnlyFramesNobodyHoldsAndSizesThemAsAsked) {
    VideoFramePool pool(2);
    std::shared_ptr<VideoFrame> first = pool.Take(848, 480);
    EXPECT_EQ(first->stride, 848 * 4);
    EXPECT_EQ(first->pixels.size(), size_t(848) * 480 * 4);
    VideoFrame* const firstAddress = first.get();
    // Held by the surface: the next frame is another.
    std::shared_ptr<const VideoFrame> shown = first;
    first.reset();
    std::shared_ptr<VideoFrame> second = pool.Take(848, 480);
    EXPECT_NE(second.get(), firstAddress);
    // Let go: it comes back, resized for the new picture.
    shown.reset();
    second.reset();
    std::shared_ptr<VideoFrame> again = pool.Take(1920, 1080);
    EXPECT_EQ(again.get(), firstAddress);
    EXPECT_EQ(again->width, 1920);
    EXPECT_EQ(again->pixels.size(), size_t(1920) * 1080 * 4);
    // Beyond its capacity the pool still hands out frames, each one nobody else holds.
    std::shared_ptr<VideoFrame> third = pool.Take(16, 16);
    std::shared_ptr<VideoFrame> extra = pool.Take(16, 16);
    EXPECT_NE(third.get(), extra.get());
    EXPECT_NE(extra.get(), again.get());
    EXPECT_EQ(extra.use_count(), 1);
}
