#include "tools/isdbsim/MediaLoops.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>

namespace isdbsim {
namespace {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using ContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// Sends one frame (or the flush, with null) and collects every packet the encoder gives back.
bool Encode(AVCodecContext* context, AVFrame* frame, AVPacket* packet,
            std::vector<std::pair<Bytes, bool>>& out) {
    if (avcodec_send_frame(context, frame) < 0) {
        return false;
    }
    for (;;) {
        const int result = avcodec_receive_packet(context, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return true;
        }
        if (result < 0) {
            return false;
        }
        out.emplace_back(Bytes(packet->data, packet->data + packet->size),
                         (packet->flags & AV_PKT_FLAG_KEY) != 0);
        av_packet_unref(packet);
    }
}

std::shared_ptr<const VideoLoop> EncodeVideo(const ServiceInfo& service) {
    const VideoFormat& format = service.video;
    const AVCodec* codec = format.h264 ? avcodec_find_encoder_by_name("libx264")
                                       : avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    if (codec == nullptr) {
        std::fprintf(stderr, "isdbsim: no %s encoder\n", format.h264 ? "H.264" : "MPEG-2");
        return nullptr;
    }
    ContextPtr context(avcodec_alloc_context3(codec));
    context->width = format.width;
    context->height = format.height;
    context->time_base = AVRational{format.frameRateDen, format.frameRateNum};
    context->framerate = AVRational{format.frameRateNum, format.frameRateDen};
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->bit_rate = format.bitRate;
    context->rc_max_rate = format.bitRate * 3 / 2;
    context->rc_buffer_size = format.bitRate;
    context->gop_size = 15;
    context->max_b_frames = 0;
    context->thread_count = 1;  // the same bytes on every run
    context->flags |= AV_CODEC_FLAG_CLOSED_GOP;
    // 16:9 pictures: 720 x 480 has pixels of 32:27, 1440 x 1080 of 4:3.
    context->sample_aspect_ratio = format.width == 720    ? AVRational{32, 27}
                                   : format.width == 1440 ? AVRational{4, 3}
                                                          : AVRational{1, 1};
    if (!format.h264) {
        // Closed GOPs need the scene-change detection off.
        av_opt_set_int(context->priv_data, "sc_threshold", 1000000000, 0);
    }
    if (format.h264) {
        av_opt_set(context->priv_data, "preset", "ultrafast", 0);
        av_opt_set(context->priv_data, "x264-params", "keyint=15:min-keyint=15:scenecut=0", 0);
        context->profile = FF_PROFILE_H264_BASELINE;
    }
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        std::fprintf(stderr, "isdbsim: cannot open the video encoder\n");
        return nullptr;
    }
    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = format.width;
    frame->height = format.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return nullptr;
    }
    frame->sample_aspect_ratio = context->sample_aspect_ratio;
    PacketPtr packet(av_packet_alloc());
    std::vector<std::pair<Bytes, bool>> packets;
    const int count = VideoLoopFrames(format);
    for (int i = 0; i < count; ++i) {
        if (av_frame_make_writable(frame.get()) < 0) {
            return nullptr;
        }
        DrawTestPattern(service, i, count, frame->data[0], frame->linesize[0], frame->data[1],
                        frame->data[2], frame->linesize[1]);
        frame->pts = i;
        frame->pict_type = i % 15 == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (!Encode(context.get(), frame.get(), packet.get(), packets)) {
            return nullptr;
        }
    }
    if (!Encode(context.get(), nullptr, packet.get(), packets) ||
        static_cast<int>(packets.size()) != count) {
        std::fprintf(stderr, "isdbsim: the video encoder gave %zu pictures for %d\n",
                     packets.size(), count);
        return nullptr;
    }
    auto loop = std::make_shared<VideoLoop>();
    loop->frameDuration90k =
        static_cast<int>(int64_t{90000} * format.frameRateDen / format.frameRateNum);
    for (auto& [data, key] : packets) {
        loop->frames.push_back(std::move(data));
        loop->keyFrames.push_back(key);
    }
    return loop;
}

Bytes AdtsHeader(size_t payloadSize) {
    const size_t length = payloadSize + 7;
    ByteWriter header;
    header.U8(0xFF);
    header.U8(0xF9);  // syncword, ID 1 (MPEG-2 AAC), layer 0, no CRC
    // profile LC (1), sampling_frequency_index 3 (48 kHz), channel_configuration 2.
    header.U8(1 << 6 | 3 << 2 | 0 << 1 | (2 >> 2));
    header.U8(static_cast<uint32_t>((2 & 3) << 6 | (length >> 11 & 3)));
    header.U8(static_cast<uint32_t>(length >> 3 & 0xFF));
    header.U8(static_cast<uint32_t>((length & 7) << 5 | 0x1F));  // buffer fullness 0x7FF
    header.U8(0xFC);                                             // no further raw data blocks
    return header.Take();
}

std::shared_ptr<const AudioLoop> EncodeAudio(const ServiceInfo& service) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) {
        std::fprintf(stderr, "isdbsim: no AAC encoder\n");
        return nullptr;
    }
    ContextPtr context(avcodec_alloc_context3(codec));
    context->sample_rate = 48000;
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&context->ch_layout, 2);
    context->bit_rate = 128000;
    context->profile = FF_PROFILE_AAC_LOW;
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        std::fprintf(stderr, "isdbsim: cannot open the AAC encoder\n");
        return nullptr;
    }
    FramePtr frame(av_frame_alloc());
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->nb_samples = 1024;
    frame->sample_rate = 48000;
    av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return nullptr;
    }
    PacketPtr packet(av_packet_alloc());
    // The tone is a multiple of 48000 / 1024 Hz, so every frame holds whole periods and the
    // encoder's steady-state frames repeat seamlessly. The right channel is an octave up.
    constexpr int kLead = 8;   // frames of encoder start-up left out of the loop
    constexpr int kLoop = 47;  // about one second
    const double step = 2.0 * M_PI * service.toneStep * 46.875 / 48000.0;
    std::vector<std::pair<Bytes, bool>> packets;
    for (int index = 0; index < kLead + kLoop + 4; ++index) {
        if (av_frame_make_writable(frame.get()) < 0) {
            return nullptr;
        }
        auto* left = reinterpret_cast<float*>(frame->data[0]);
        auto* right = reinterpret_cast<float*>(frame->data[1]);
        for (int i = 0; i < 1024; ++i) {
            left[i] = static_cast<float>(0.25 * std::sin(step * i));
            right[i] = static_cast<float>(0.2 * std::sin(2 * step * i));
        }
        frame->pts = int64_t{index} * 1024;
        if (!Encode(context.get(), frame.get(), packet.get(), packets)) {
            return nullptr;
        }
    }
    if (static_cast<int>(packets.size()) < kLead + kLoop) {
        std::fprintf(stderr, "isdbsim: the AAC encoder gave too few frames\n");
        return nullptr;
    }
    auto loop = std::make_shared<AudioLoop>();
    for (int i = kLead; i < kLead + kLoop; ++i) {
        Bytes adts = AdtsHeader(packets[i].first.size());
        adts.insert(adts.end(), packets[i].first.begin(), packets[i].first.end());
        loop->frames.push_back(std::move(adts));
    }
    return loop;
}

template <typename Loop>
std::shared_ptr<const Loop> Cached(const ServiceInfo& service, const char* kind,
                                   std::shared_ptr<const Loop> (*make)(const ServiceInfo&)) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const Loop>> cache;
    const std::string key =
        std::string(kind) + service.latinName + "/" + std::to_string(service.serviceId) + "/" +
        std::to_string(service.video.width) + "/" + std::to_string(service.toneStep);
    // One encoder at a time per kind: concurrent callers for one service wait for one result.
    std::lock_guard<std::mutex> lock(mutex);
    av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics are not wanted on stderr
    auto found = cache.find(key);
    if (found != cache.end()) {
        return found->second;
    }
    auto loop = make(service);
    cache.emplace(key, loop);
    return loop;
}

}  // namespace

int VideoLoopFrames(const VideoFormat& format) {
    // Two seconds, rounded to whole GOPs of 15 pictures.
    const int perTwoSeconds = 2 * format.frameRateNum / format.frameRateDen;
    return std::max(15, perTwoSeconds / 15 * 15);
}

std::shared_ptr<const VideoLoop> GetVideoLoop(const ServiceInfo& service) {
    return Cached<VideoLoop>(service, "video", &EncodeVideo);
}

std::shared_ptr<const AudioLoop> GetAudioLoop(const ServiceInfo& service) {
    return Cached<AudioLoop>(service, "audio", &EncodeAudio);
}

}  // namespace isdbsim
