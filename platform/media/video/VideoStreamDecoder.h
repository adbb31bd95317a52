#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/media/video/VideoElementaryStream.h"
#include "platform/media/video/VideoPictureFormat.h"

// A decoded, deinterlaced picture in 8-bit 4:2:0 planes, valid during the callback only.
struct DecodedPicture {
    VideoPictureFormat format;
    const uint8_t* planes[3] = {};
    int strides[3] = {};
    int64_t start = 0;     // 100 ns; the time of the packet the picture came from
    int64_t duration = 0;  // 100 ns
    bool timed = false;
};

// CPU time each stage used on the calling thread (with one decoding thread the whole cost).
struct VideoDecodeTimes {
    int64_t decodeNs = 0;
    int64_t deinterlaceNs = 0;
};

// Decodes an MPEG-2 or H.264 elementary stream (from PES packets or bare bytes) with
// libavcodec, cutting access units with its parser, and deinterlaces interlaced pictures with
// bwdif (one picture out per picture in; progressive pictures pass unchanged). The codec is
// found from the stream and changes when the other codec's stream header appears. Frame threads
// are there when asked for (Options::threads). Damaged or missing data costs pictures, never the
// decoder: what libavcodec refuses is skipped and counted. Not thread-safe: one streaming thread
// feeds it.
class VideoStreamDecoder {
public:
    using PictureSink = std::function<void(const DecodedPicture& picture)>;

    struct Options {
        // Decoding threads (frame and slice threads of libavcodec); 0 chooses one.
        int threads = 0;
        bool measureTimes = false;
    };

    VideoStreamDecoder();
    explicit VideoStreamDecoder(const Options& options);
    ~VideoStreamDecoder();
    VideoStreamDecoder(const VideoStreamDecoder&) = delete;
    VideoStreamDecoder& operator=(const VideoStreamDecoder&) = delete;

    // One sample's bytes with its start time (100 ns) when it has one. Pictures that are ready
    // go to `sink`, in presentation order.
    void Decode(const uint8_t* data, size_t size, const int64_t* start, const PictureSink& sink);
    // Decodes and delivers what is still buffered (end of stream), then starts afresh.
    void Drain(const PictureSink& sink);
    // Drops everything buffered (flush, seek); the codec stays as found.
    void Reset();

    VideoCodec Codec() const;
    // Packets the decoder refused and pictures it reported damaged.
    int64_t Errors() const;
    VideoDecodeTimes Times() const;

private:
    struct State;
    std::unique_ptr<State> state;
};
