#include "platform/media/video/VideoStreamDecoder.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// Stream times are 100 ns units throughout, on packets, frames and the filter graph.
constexpr AVRational kStreamTimeBase{1, 10000000};
constexpr int64_t kDefaultFrameDuration = 333667;  // 29.97 frames per second
// A broadcast picture decodes in a few milliseconds on one thread, far within its frame time;
// frame threads would add a picture of delay each and their own cost (a fifth more CPU for
// 1080i MPEG-2 in the bench), so the decoder uses one unless asked for more.
constexpr int kDefaultDecodingThreads = 1;

int64_t ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Adds the calling thread's CPU time between construction and destruction to `total` (when
// measuring).
class StageTimer {
public:
    StageTimer(bool measure, int64_t* total) : total(measure ? total : nullptr) {
        if (this->total != nullptr) {
            begin = ThreadCpuNs();
        }
    }
    ~StageTimer() {
        if (total != nullptr) {
            *total += ThreadCpuNs() - begin;
        }
    }
    StageTimer(const StageTimer&) = delete;
    StageTimer& operator=(const StageTimer&) = delete;

private:
    int64_t* total;
    int64_t begin = 0;
};

bool IsInterlaced(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 7, 100)
    return (frame->flags & AV_FRAME_FLAG_INTERLACED) != 0;
#else
    return frame->interlaced_frame != 0;
#endif
}

bool IsCorrupt(const AVFrame* frame) {
    return (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame->decode_error_flags != 0;
}

ColourMatrix MatrixOf(const AVFrame* frame) {
    switch (frame->colorspace) {
        case AVCOL_SPC_BT709:
            return ColourMatrix::kBT709;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
        case AVCOL_SPC_FCC:
            return ColourMatrix::kBT601;
        default:
            // Unsigned: standard definition is BT.601, high definition BT.709.
            return frame->height > 576 ? ColourMatrix::kBT709 : ColourMatrix::kBT601;
    }
}

// Bwdif on interlaced pictures; the pictures that are marked progressive pass unchanged.
class Deinterlacer {
public:
    ~Deinterlacer() { Close(); }

    bool IsOpen() const { return graph != nullptr; }

    // Feeds a picture (null: the end, which lets out the last one). False when the filter cannot
    // take it.
    bool Push(AVFrame* frame) {
        if (frame != nullptr && (!IsOpen() || !Matches(frame))) {
            Close();
            if (!Open(frame)) {
                return false;
            }
        }
        if (!IsOpen()) {
            return true;
        }
        return av_buffersrc_add_frame_flags(source, frame, AV_BUFFERSRC_FLAG_KEEP_REF) >= 0;
    }

    // The next finished picture into `out`; false when none is ready.
    bool Pull(AVFrame* out) { return IsOpen() && av_buffersink_get_frame(sink, out) >= 0; }

    void Close() {
        avfilter_graph_free(&graph);
        source = nullptr;
        sink = nullptr;
    }

private:
    bool Matches(const AVFrame* frame) const {
        return frame->width == width && frame->height == height && frame->format == format &&
               av_cmp_q(frame->sample_aspect_ratio, aspect) == 0;
    }

    bool Open(const AVFrame* frame) {
        graph = avfilter_graph_alloc();
        if (graph == nullptr) {
            return false;
        }
        // One thread: the filter's cost is small next to decoding, and threads cost wake-ups.
        graph->nb_threads = 1;
        width = frame->width;
        height = frame->height;
        format = frame->format;
        aspect = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : AVRational{1, 1};
        const std::string arguments =
            "video_size=" + std::to_string(width) + "x" + std::to_string(height) +
            ":pix_fmt=" + std::to_string(format) +
            ":time_base=" + std::to_string(kStreamTimeBase.num) + "/" +
            std::to_string(kStreamTimeBase.den) + ":pixel_aspect=" + std::to_string(aspect.num) +
            "/" + std::to_string(aspect.den);
        AVFilterContext* bwdif = nullptr;
        if (avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in",
                                         arguments.c_str(), nullptr, graph) < 0 ||
            avfilter_graph_create_filter(&bwdif, avfilter_get_by_name("bwdif"), "deinterlace",
                                         "mode=send_frame:parity=auto:deint=interlaced", nullptr,
                                         graph) < 0 ||
            avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                         nullptr, graph) < 0 ||
            avfilter_link(source, 0, bwdif, 0) < 0 || avfilter_link(bwdif, 0, sink, 0) < 0 ||
            avfilter_graph_config(graph, nullptr) < 0) {
            Close();
            return false;
        }
        return true;
    }

    AVFilterGraph* graph = nullptr;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int width = 0;
    int height = 0;
    int format = AV_PIX_FMT_NONE;
    AVRational aspect{1, 1};
};

}  // namespace

struct VideoStreamDecoder::State {
    Options options;
    VideoCodec codec = VideoCodec::kUnknown;
    AVCodecContext* context = nullptr;
    AVCodecParserContext* parser = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* decoded = nullptr;
    AVFrame* filtered = nullptr;
    AVFrame* converted = nullptr;  // pictures of other chroma layouts, in 4:2:0
    SwsContext* converter = nullptr;
    Deinterlacer deinterlacer;
    int64_t errors = 0;
    int64_t lastStart = AV_NOPTS_VALUE;
    VideoDecodeTimes times;

    ~State() { Close(); }

    void Close() {
        av_parser_close(parser);
        parser = nullptr;
        avcodec_free_context(&context);
        av_packet_free(&packet);
        av_frame_free(&decoded);
        av_frame_free(&filtered);
        av_frame_free(&converted);
        sws_freeContext(converter);
        converter = nullptr;
        deinterlacer.Close();
        lastStart = AV_NOPTS_VALUE;
    }

    bool Open(VideoCodec wanted) {
        Close();
        codec = wanted;
        const AVCodecID id =
            wanted == VideoCodec::kH264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG2VIDEO;
        const AVCodec* decoder = avcodec_find_decoder(id);
        if (decoder == nullptr) {
            return false;
        }
        context = avcodec_alloc_context3(decoder);
        parser = av_parser_init(id);
        packet = av_packet_alloc();
        decoded = av_frame_alloc();
        filtered = av_frame_alloc();
        converted = av_frame_alloc();
        if (context == nullptr || parser == nullptr || packet == nullptr || decoded == nullptr ||
            filtered == nullptr || converted == nullptr) {
            Close();
            return false;
        }
        context->pkt_timebase = kStreamTimeBase;
        context->thread_count = options.threads > 0 ? options.threads : kDefaultDecodingThreads;
        context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        if (avcodec_open2(context, decoder, nullptr) < 0) {
            Close();
            return false;
        }
        return true;
    }

    void RestartParser() {
        if (parser != nullptr) {
            av_parser_close(parser);
            parser = av_parser_init(context->codec_id);
        }
    }

    void SendPacket(const uint8_t* data, int size, int64_t pts, int64_t dts,
                    const PictureSink& sink) {
        av_packet_unref(packet);
        if (av_new_packet(packet, size) < 0) {
            ++errors;
            return;
        }
        std::memcpy(packet->data, data, size_t(size));
        packet->pts = pts;
        packet->dts = dts;
        for (;;) {
            int result = 0;
            {
                StageTimer timer(options.measureTimes, &times.decodeNs);
                result = avcodec_send_packet(context, packet);
            }
            if (result == AVERROR(EAGAIN)) {
                // Full: take out what is finished, then the packet goes in.
                ReceiveFrames(sink);
                continue;
            }
            if (result < 0) {
                ++errors;
            }
            break;
        }
        ReceiveFrames(sink);
    }

    void ReceiveFrames(const PictureSink& sink) {
        for (;;) {
            int result = 0;
            {
                StageTimer timer(options.measureTimes, &times.decodeNs);
                result = avcodec_receive_frame(context, decoded);
            }
            if (result < 0) {
                if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
                    ++errors;
                }
                return;
            }
            if (IsCorrupt(decoded)) {
                ++errors;
            }
            Deinterlace(decoded, sink);
            av_frame_unref(decoded);
        }
    }

    // Interlaced pictures go through the filter; once it is running every picture does, so that
    // the order stays (it passes the progressive ones unchanged).
    void Deinterlace(AVFrame* frame, const PictureSink& sink) {
        AVFrame* picture = ToPlanar420(frame);
        if (picture == nullptr) {
            ++errors;
            return;
        }
        if (!IsInterlaced(picture) && !deinterlacer.IsOpen()) {
            Deliver(picture, sink);
            return;
        }
        bool pushed = false;
        {
            StageTimer timer(options.measureTimes, &times.deinterlaceNs);
            pushed = deinterlacer.Push(picture);
        }
        if (!pushed) {
            // A picture the filter refuses (a size it cannot work on) is shown as it is.
            ++errors;
            deinterlacer.Close();
            Deliver(picture, sink);
            return;
        }
        PullFiltered(sink);
    }

    void PullFiltered(const PictureSink& sink) {
        for (;;) {
            bool pulled = false;
            {
                StageTimer timer(options.measureTimes, &times.deinterlaceNs);
                pulled = deinterlacer.Pull(filtered);
            }
            if (!pulled) {
                return;
            }
            Deliver(filtered, sink);
            av_frame_unref(filtered);
        }
    }

    // The picture in 8-bit 4:2:0; other layouts (4:2:2 profiles) are converted.
    AVFrame* ToPlanar420(AVFrame* frame) {
        if (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) {
            return frame;
        }
        converter = sws_getCachedContext(
            converter, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
            frame->height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (converter == nullptr) {
            return nullptr;
        }
        av_frame_unref(converted);
        converted->format = AV_PIX_FMT_YUV420P;
        converted->width = frame->width;
        converted->height = frame->height;
        if (av_frame_get_buffer(converted, 0) < 0 || av_frame_copy_props(converted, frame) < 0) {
            return nullptr;
        }
        sws_scale(converter, frame->data, frame->linesize, 0, frame->height, converted->data,
                  converted->linesize);
        return converted;
    }

    void Deliver(const AVFrame* frame, const PictureSink& sink) {
        DecodedPicture picture;
        picture.format.width = frame->width;
        picture.format.height = frame->height;
        PictureAspectRatio(frame->width, frame->height, frame->sample_aspect_ratio.num,
                           frame->sample_aspect_ratio.den, &picture.format.aspectX,
                           &picture.format.aspectY);
        picture.format.matrix = MatrixOf(frame);
        picture.format.fullRange =
            frame->color_range == AVCOL_RANGE_JPEG || frame->format == AV_PIX_FMT_YUVJ420P;
        int64_t duration = kDefaultFrameDuration;
        if (context->framerate.num > 0 && context->framerate.den > 0) {
            duration = av_rescale_q(1, av_inv_q(context->framerate), kStreamTimeBase);
        }
        picture.format.averageTimePerFrame = duration;
        for (int plane = 0; plane < 3; ++plane) {
            picture.planes[plane] = frame->data[plane];
            picture.strides[plane] = frame->linesize[plane];
        }
        int64_t start = frame->best_effort_timestamp != AV_NOPTS_VALUE
                            ? frame->best_effort_timestamp
                            : frame->pts;
        if (start == AV_NOPTS_VALUE && lastStart != AV_NOPTS_VALUE) {
            start = lastStart + duration;
        }
        if (start != AV_NOPTS_VALUE) {
            picture.timed = true;
            picture.start = start;
            lastStart = start;
        }
        picture.duration = duration;
        sink(picture);
    }
};

VideoStreamDecoder::VideoStreamDecoder() : VideoStreamDecoder(Options{}) {}

VideoStreamDecoder::VideoStreamDecoder(const Options& options) : state(std::make_unique<State>()) {
    state->options = options;
}

VideoStreamDecoder::~VideoStreamDecoder() = default;

void VideoStreamDecoder::Decode(const uint8_t* data, size_t size, const int64_t* start,
                                const PictureSink& sink) {
    const VideoPayload payload = FindVideoPayload(data, size);
    if (payload.size == 0) {
        return;
    }
    const VideoCodec found = DetectVideoCodec(payload.data, payload.size);
    if (found != VideoCodec::kUnknown && found != state->codec) {
        if (!state->Open(found)) {
            ++state->errors;
            return;
        }
    }
    if (state->context == nullptr || state->parser == nullptr) {
        return;  // nothing to decode before the first sequence header
    }
    int64_t pts = start != nullptr ? *start : AV_NOPTS_VALUE;
    const uint8_t* at = payload.data;
    size_t left = payload.size;
    while (left > 0) {
        uint8_t* unit = nullptr;
        int unitSize = 0;
        int used = 0;
        {
            StageTimer timer(state->options.measureTimes, &state->times.decodeNs);
            used = av_parser_parse2(state->parser, state->context, &unit, &unitSize, at,
                                    int(std::min<size_t>(left, INT32_MAX)), pts, pts, 0);
        }
        if (used < 0 || (used == 0 && unitSize == 0)) {
            ++state->errors;
            break;
        }
        at += used;
        left -= size_t(used);
        // The time belongs to the access unit that begins in this sample.
        pts = AV_NOPTS_VALUE;
        if (unitSize > 0) {
            state->SendPacket(unit, unitSize, state->parser->pts, state->parser->dts, sink);
        }
    }
}

void VideoStreamDecoder::Drain(const PictureSink& sink) {
    if (state->context == nullptr || state->parser == nullptr) {
        return;
    }
    uint8_t* unit = nullptr;
    int unitSize = 0;
    av_parser_parse2(state->parser, state->context, &unit, &unitSize, nullptr, 0, AV_NOPTS_VALUE,
                     AV_NOPTS_VALUE, 0);
    if (unitSize > 0) {
        state->SendPacket(unit, unitSize, state->parser->pts, state->parser->dts, sink);
    }
    avcodec_send_packet(state->context, nullptr);
    state->ReceiveFrames(sink);
    if (state->deinterlacer.IsOpen()) {
        state->deinterlacer.Push(nullptr);
        state->PullFiltered(sink);
    }
    Reset();
}

void VideoStreamDecoder::Reset() {
    if (state->context == nullptr) {
        return;
    }
    avcodec_flush_buffers(state->context);
    state->RestartParser();
    state->deinterlacer.Close();
    state->lastStart = AV_NOPTS_VALUE;
}

VideoCodec VideoStreamDecoder::Codec() const {
    return state->codec;
}

int64_t VideoStreamDecoder::Errors() const {
    return state->errors;
}

VideoDecodeTimes VideoStreamDecoder::Times() const {
    return state->times;
}
