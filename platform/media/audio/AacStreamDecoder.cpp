#include "platform/media/audio/AacStreamDecoder.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace orvaudio {

namespace {

// -3 dB, the weight of centre and surround channels in the stereo mix.
constexpr double kMinus3dB = 0.70710678118654752;

// The decoder's dual-mono setting: with "main" it lays out a frame of two single channel
// elements and no channel configuration as a pair; once a pair has been laid out, "both"
// keeps both elements in the frame and the mix chooses.
constexpr int64_t kDecoderDualMonoMain = 1;
constexpr int64_t kDecoderDualMonoBoth = 0;

bool IsAdtsSync(const uint8_t* p) {
    return p[0] == 0xFF && (p[1] & 0xF6) == 0xF0;
}

bool IsLoasSync(const uint8_t* p) {
    return p[0] == 0x56 && (p[1] & 0xE0) == 0xE0;
}

constexpr size_t kAdtsHeaderSize = 7;
constexpr size_t kLoasHeaderSize = 3;

// The whole length of the frame whose header is at `header` (header included).
size_t FrameLength(AacFraming kind, const uint8_t* header) {
    if (kind == AacFraming::kAdts) {
        return size_t((header[3] & 0x03) << 11 | header[4] << 3 | header[5] >> 5);
    }
    return kLoasHeaderSize + size_t((header[1] & 0x1F) << 8 | header[2]);
}

// The channel configuration of an ADTS header (0: given by the elements themselves).
int AdtsChannelConfiguration(const uint8_t* header, size_t size) {
    if (size < 7 || !IsAdtsSync(header)) {
        return -1;
    }
    return ((header[2] & 0x01) << 2) | (header[3] >> 6);
}

AVCodecID CodecIdOf(AacFraming framing) {
    return framing == AacFraming::kLoas ? AV_CODEC_ID_AAC_LATM : AV_CODEC_ID_AAC;
}

}  // namespace

std::vector<double> StereoMixWeights(const AVChannelLayout& layout, bool isDualMono,
                                     DualMonoOutput dualMono) {
    const int count = layout.nb_channels;
    std::vector<double> weights(size_t(2 * std::max(count, 0)), 0.0);
    if (count <= 0) {
        return weights;
    }
    double* left = weights.data();
    double* right = weights.data() + count;
    if (isDualMono && count == 2) {
        const int leftSource = dualMono == DualMonoOutput::kSub ? 1 : 0;
        const int rightSource = dualMono == DualMonoOutput::kMain ? 0 : 1;
        left[leftSource] = 1.0;
        right[rightSource] = 1.0;
        return weights;
    }
    if (count == 1) {
        left[0] = right[0] = 1.0;
        return weights;
    }
    for (int i = 0; i < count; ++i) {
        switch (av_channel_layout_channel_from_index(&layout, unsigned(i))) {
            case AV_CHAN_FRONT_LEFT:
            case AV_CHAN_FRONT_LEFT_OF_CENTER:
            case AV_CHAN_STEREO_LEFT:
                left[i] = 1.0;
                break;
            case AV_CHAN_FRONT_RIGHT:
            case AV_CHAN_FRONT_RIGHT_OF_CENTER:
            case AV_CHAN_STEREO_RIGHT:
                right[i] = 1.0;
                break;
            case AV_CHAN_FRONT_CENTER:
            case AV_CHAN_BACK_CENTER:
                left[i] = right[i] = kMinus3dB;
                break;
            case AV_CHAN_BACK_LEFT:
            case AV_CHAN_SIDE_LEFT:
                left[i] = kMinus3dB;
                break;
            case AV_CHAN_BACK_RIGHT:
            case AV_CHAN_SIDE_RIGHT:
                right[i] = kMinus3dB;
                break;
            case AV_CHAN_LOW_FREQUENCY:
            case AV_CHAN_LOW_FREQUENCY_2:
                break;
            default:
                // A channel without a known place (an unordered layout) goes to the middle.
                left[i] = right[i] = kMinus3dB;
                break;
        }
    }
    double leftSum = 0.0;
    double rightSum = 0.0;
    for (int i = 0; i < count; ++i) {
        leftSum += left[i];
        rightSum += right[i];
    }
    const double loudest = std::max(leftSum, rightSum);
    if (loudest > 1.0) {
        for (double& weight : weights) {
            weight /= loudest;
        }
    }
    return weights;
}

// --- the FFmpeg objects of one framing

struct AacStreamDecoder::Codec {
    ~Codec() {
        swr_free(&resampler);
        av_channel_layout_uninit(&mixLayout);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }

    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    // The mix the resampler was made for.
    SwrContext* resampler = nullptr;
    AVChannelLayout mixLayout{};
    int mixRate = 0;
    int mixFormat = -1;
    bool mixDualMono = false;
    DualMonoOutput mixOutput = DualMonoOutput::kMain;
    bool decoderKeepsBoth = false;  // the decoder's dual-mono setting is "both"
};

AacStreamDecoder::AacStreamDecoder() = default;

AacStreamDecoder::~AacStreamDecoder() = default;

bool AacStreamDecoder::Open(AacFraming newFraming) {
    codec.reset();
    framing = AacFraming::kUnknown;
    dualMono = false;
    const AVCodecID id = CodecIdOf(newFraming);
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (decoder == nullptr) {
        return false;
    }
    auto opened = std::make_unique<Codec>();
    opened->context = avcodec_alloc_context3(decoder);
    opened->packet = av_packet_alloc();
    opened->frame = av_frame_alloc();
    if (opened->context == nullptr || opened->packet == nullptr || opened->frame == nullptr) {
        return false;
    }
    opened->context->thread_count = 1;
    av_opt_set_int(opened->context, "dual_mono_mode", kDecoderDualMonoMain, AV_OPT_SEARCH_CHILDREN);
    if (avcodec_open2(opened->context, decoder, nullptr) < 0) {
        return false;
    }
    codec = std::move(opened);
    framing = newFraming;
    return true;
}

void AacStreamDecoder::Decode(const uint8_t* data, size_t size, std::vector<int16_t>* pcm) {
    if (data != nullptr && size > 0) {
        pending.insert(pending.end(), data, data + size);
    }
    size_t position = 0;
    for (;;) {
        const size_t sync = FindSync(position);
        if (sync == kNoSync) {
            // The last byte may be the first of a sync word.
            position = pending.empty() ? 0 : pending.size() - 1;
            break;
        }
        skippedBytes += sync - position;
        position = sync;
        const AacFraming kind = IsAdtsSync(&pending[sync]) ? AacFraming::kAdts : AacFraming::kLoas;
        const size_t available = pending.size() - sync;
        const size_t headerSize = kind == AacFraming::kAdts ? kAdtsHeaderSize : kLoasHeaderSize;
        if (available < headerSize) {
            break;  // the rest of the header comes with the next sample
        }
        const size_t length = FrameLength(kind, &pending[sync]);
        if (length <= headerSize) {
            ++position;  // not a frame: a sync pattern inside other data
            continue;
        }
        if (length > available) {
            break;  // the frame is completed by the next sample
        }
        if (length < available) {
            // A frame is believed only when another one (or the end of the data) follows it:
            // a sync pattern inside damaged data rarely has one at its stated length.
            if (available - length < 2) {
                break;
            }
            if (!IsAdtsSync(&pending[sync + length]) && !IsLoasSync(&pending[sync + length])) {
                ++position;
                continue;
            }
        }
        if (kind != framing && !Open(kind)) {
            position = sync + length;
            continue;
        }
        DecodePacket(&pending[sync], int(length), pcm);
        position = sync + length;
    }
    pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(position));
}

size_t AacStreamDecoder::FindSync(size_t from) const {
    for (size_t i = from; i + 1 < pending.size(); ++i) {
        if (IsAdtsSync(&pending[i]) || IsLoasSync(&pending[i])) {
            return i;
        }
    }
    return kNoSync;
}

void AacStreamDecoder::DecodePacket(const uint8_t* data, int size, std::vector<int16_t>* pcm) {
    if (framing == AacFraming::kAdts) {
        packetDualMono = AdtsChannelConfiguration(data, size_t(size)) == 0;
    } else {
        packetDualMono = false;
    }
    AVPacket* packet = codec->packet;
    av_packet_unref(packet);
    if (av_new_packet(packet, size) < 0) {
        return;
    }
    std::copy(data, data + size, packet->data);
    const int sent = avcodec_send_packet(codec->context, packet);
    av_packet_unref(packet);
    if (sent < 0) {
        ++statistics.framesDamaged;
        // What the decoder refused may have left it in a state that refuses the next frames
        // too: drain what it has and go on.
        ReceiveFrames(pcm);
        return;
    }
    ReceiveFrames(pcm);
}

void AacStreamDecoder::ReceiveFrames(std::vector<int16_t>* pcm) {
    AVFrame* frame = codec->frame;
    for (;;) {
        const int received = avcodec_receive_frame(codec->context, frame);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            return;
        }
        if (received < 0) {
            ++statistics.framesDamaged;
            return;
        }
        ++statistics.framesDecoded;
        dualMono = packetDualMono && frame->ch_layout.nb_channels == 2;
        if (dualMono && !codec->decoderKeepsBoth) {
            av_opt_set_int(codec->context, "dual_mono_mode", kDecoderDualMonoBoth,
                           AV_OPT_SEARCH_CHILDREN);
            codec->decoderKeepsBoth = true;
        }
        if (frame->nb_samples > 0 && PrepareMix(frame)) {
            const int capacity = swr_get_out_samples(codec->resampler, frame->nb_samples);
            if (capacity > 0) {
                const size_t offset = pcm->size();
                pcm->resize(offset + size_t(capacity) * kOutputChannels);
                auto* out = reinterpret_cast<uint8_t*>(pcm->data() + offset);
                const int converted = swr_convert(codec->resampler, &out, capacity,
                                                  const_cast<const uint8_t**>(frame->extended_data),
                                                  frame->nb_samples);
                pcm->resize(offset + size_t(std::max(converted, 0)) * kOutputChannels);
            }
        }
        av_frame_unref(frame);
    }
}

bool AacStreamDecoder::PrepareMix(const AVFrame* frame) {
    Codec& c = *codec;
    const bool same = c.resampler != nullptr &&
                      av_channel_layout_compare(&c.mixLayout, &frame->ch_layout) == 0 &&
                      c.mixRate == frame->sample_rate && c.mixFormat == frame->format &&
                      c.mixDualMono == dualMono && (!dualMono || c.mixOutput == dualMonoOutput);
    if (same) {
        return true;
    }
    if (c.resampler != nullptr && (av_channel_layout_compare(&c.mixLayout, &frame->ch_layout) ||
                                   c.mixRate != frame->sample_rate)) {
        ++statistics.formatChanges;
    }
    swr_free(&c.resampler);
    av_channel_layout_uninit(&c.mixLayout);
    if (frame->ch_layout.nb_channels <= 0 || frame->sample_rate <= 0) {
        return false;
    }
    if (av_channel_layout_copy(&c.mixLayout, &frame->ch_layout) < 0) {
        return false;
    }
    c.mixRate = frame->sample_rate;
    c.mixFormat = frame->format;
    c.mixDualMono = dualMono;
    c.mixOutput = dualMonoOutput;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&c.resampler, &stereo, AV_SAMPLE_FMT_S16, kOutputRate, &c.mixLayout,
                            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr) < 0) {
        return false;
    }
    const std::vector<double> weights =
        StereoMixWeights(frame->ch_layout, dualMono, dualMonoOutput);
    if (swr_set_matrix(c.resampler, weights.data(), frame->ch_layout.nb_channels) < 0 ||
        swr_init(c.resampler) < 0) {
        swr_free(&c.resampler);
        return false;
    }
    return true;
}

void AacStreamDecoder::Drain(std::vector<int16_t>* pcm) {
    if (!codec || codec->resampler == nullptr) {
        return;
    }
    const int capacity = swr_get_out_samples(codec->resampler, 0);
    if (capacity > 0) {
        const size_t offset = pcm->size();
        pcm->resize(offset + size_t(capacity) * kOutputChannels);
        auto* out = reinterpret_cast<uint8_t*>(pcm->data() + offset);
        const int converted = swr_convert(codec->resampler, &out, capacity, nullptr, 0);
        pcm->resize(offset + size_t(std::max(converted, 0)) * kOutputChannels);
    }
    Reset();
}

void AacStreamDecoder::Reset() {
    pending.clear();
    if (!codec) {
        return;
    }
    avcodec_flush_buffers(codec->context);
    swr_free(&codec->resampler);
}

}  // namespace orvaudio
