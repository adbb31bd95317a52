#include "platform/media/audio/tests/AudioTestSupport.h"

#include <algorithm>
#include <cmath>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

namespace audiotest {

namespace {

constexpr int kAacLowComplexity = 2;  // audio object type
constexpr int kSampleRates[] = {96000, 88200, 64000, 48000, 44100, 32000,
                                24000, 22050, 16000, 12000, 11025, 8000};
// Encoder start-up frames left out: the first ones carry the encoder's own data element.
constexpr size_t kLeadFrames = 2;

int SampleRateIndex(int rate) {
    for (int i = 0; i < int(std::size(kSampleRates)); ++i) {
        if (kSampleRates[i] == rate) {
            return i;
        }
    }
    return 3;
}

// MSB-first bits into bytes.
class BitWriter {
public:
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            PutBit((value >> i) & 1);
        }
    }
    void PutBit(uint32_t bit) {
        if (used % 8 == 0) {
            bytes.push_back(0);
        }
        if (bit) {
            bytes.back() |= uint8_t(0x80 >> (used % 8));
        }
        ++used;
    }
    // Bits [first, last) of `from`.
    void PutBits(const Bytes& from, size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            PutBit((from[i / 8] >> (7 - i % 8)) & 1);
        }
    }
    void PutBytes(const Bytes& from) { PutBits(from, 0, from.size() * 8); }
    Bytes Take() { return std::move(bytes); }

private:
    Bytes bytes;
    size_t used = 0;
};

// The bit after the last element of a raw frame: the frame ends with the 3-bit END element
// and zero padding, so END's last bit is the frame's last 1 bit.
size_t ElementsEnd(const Bytes& frame) {
    for (size_t bit = frame.size() * 8; bit > 0; --bit) {
        if ((frame[(bit - 1) / 8] >> (7 - (bit - 1) % 8)) & 1) {
            return bit >= 3 ? bit - 3 : 0;
        }
    }
    return 0;
}

Bytes AudioSpecificConfig(int rate, int channelConfiguration) {
    BitWriter config;
    config.Put(kAacLowComplexity, 5);
    config.Put(uint32_t(SampleRateIndex(rate)), 4);
    config.Put(uint32_t(channelConfiguration), 4);
    config.Put(0, 3);  // 1024-sample frames, no core coder, no extension
    return config.Take();
}

AVChannelLayout LayoutFor(size_t channels) {
    switch (channels) {
        case 1:
            return AV_CHANNEL_LAYOUT_MONO;
        case 6:
            return AV_CHANNEL_LAYOUT_5POINT1_BACK;
        default:
            return AV_CHANNEL_LAYOUT_STEREO;
    }
}

bool Drain(AVCodecContext* context, AVPacket* packet, std::vector<Bytes>* frames) {
    for (;;) {
        const int received = avcodec_receive_packet(context, packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            return true;
        }
        if (received < 0) {
            return false;
        }
        frames->emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
    }
}

}  // namespace

EncodedAac EncodeTones(const std::vector<Tone>& channels, int sampleRate, double seconds) {
    // The encoder's statistics and the decoder's complaints about damaged test data are noise.
    av_log_set_level(AV_LOG_QUIET);
    EncodedAac out;
    out.sampleRate = sampleRate;
    out.channelConfiguration = channels.size() == 6 ? 6 : int(channels.size());
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) {
        return out;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    context->sample_rate = sampleRate;
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->ch_layout = LayoutFor(channels.size());
    context->bit_rate = 64000 * int64_t(channels.size());
    context->profile = FF_PROFILE_AAC_LOW;
    context->thread_count = 1;
    bool good = avcodec_open2(context, codec, nullptr) >= 0;
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->nb_samples = 1024;
    frame->sample_rate = sampleRate;
    av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
    good = good && av_frame_get_buffer(frame, 0) >= 0;
    const int64_t total = int64_t(seconds * sampleRate);
    std::vector<Bytes> frames;
    for (int64_t first = 0; good && first < total; first += 1024) {
        good = av_frame_make_writable(frame) >= 0;
        for (size_t c = 0; good && c < channels.size(); ++c) {
            auto* plane = reinterpret_cast<float*>(frame->data[c]);
            const double step = 2.0 * M_PI * channels[c].frequency / sampleRate;
            for (int i = 0; i < 1024; ++i) {
                plane[i] = float(channels[c].amplitude * std::sin(step * double(first + i)));
            }
        }
        frame->pts = first;
        good = good && avcodec_send_frame(context, frame) >= 0 && Drain(context, packet, &frames);
    }
    if (good && avcodec_send_frame(context, nullptr) >= 0) {
        Drain(context, packet, &frames);
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    if (frames.size() > kLeadFrames) {
        out.frames.assign(frames.begin() + kLeadFrames, frames.end());
    }
    out.audioSpecificConfig = AudioSpecificConfig(sampleRate, out.channelConfiguration);
    return out;
}

Bytes Adts(const EncodedAac& aac, int channelConfiguration) {
    Bytes stream;
    for (const Bytes& frame : aac.frames) {
        BitWriter header;
        header.Put(0xFFF, 12);  // sync
        header.Put(0, 1);       // MPEG-4
        header.Put(0, 2);       // layer
        header.Put(1, 1);       // no CRC
        header.Put(kAacLowComplexity - 1, 2);
        header.Put(uint32_t(SampleRateIndex(aac.sampleRate)), 4);
        header.Put(0, 1);
        header.Put(uint32_t(channelConfiguration), 3);
        header.Put(0, 4);                            // original, home, copyright bits
        header.Put(uint32_t(frame.size() + 7), 13);  // frame length with the header
        header.Put(0x7FF, 11);                       // variable rate
        header.Put(0, 2);                            // one raw data block
        const Bytes bytes = header.Take();
        stream.insert(stream.end(), bytes.begin(), bytes.end());
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

Bytes Adts(const EncodedAac& aac) {
    return Adts(aac, aac.channelConfiguration);
}

Bytes Loas(const EncodedAac& aac) {
    Bytes stream;
    for (const Bytes& frame : aac.frames) {
        BitWriter element;
        element.Put(0, 1);  // useSameStreamMux: the configuration follows
        element.Put(0, 1);  // audioMuxVersion
        element.Put(1, 1);  // allStreamsSameTimeFraming
        element.Put(0, 6);  // numSubFrames - 1
        element.Put(0, 4);  // numProgram - 1
        element.Put(0, 3);  // numLayer - 1
        element.PutBytes(aac.audioSpecificConfig);
        element.Put(0, 3);     // frameLengthType: payload lengths in bytes
        element.Put(0xFF, 8);  // latmBufferFullness
        element.Put(0, 1);     // no other data
        element.Put(0, 1);     // no CRC
        for (size_t left = frame.size();; left -= 255) {
            element.Put(uint32_t(std::min<size_t>(left, 255)), 8);
            if (left < 255) {
                break;
            }
        }
        element.PutBytes(frame);
        const Bytes payload = element.Take();
        BitWriter sync;
        sync.Put(0x2B7, 11);
        sync.Put(uint32_t(payload.size()), 13);
        const Bytes header = sync.Take();
        stream.insert(stream.end(), header.begin(), header.end());
        stream.insert(stream.end(), payload.begin(), payload.end());
    }
    return stream;
}

EncodedAac DualMono(const EncodedAac& main, const EncodedAac& sub) {
    EncodedAac out;
    out.sampleRate = main.sampleRate;
    out.channelConfiguration = 0;
    const size_t count = std::min(main.frames.size(), sub.frames.size());
    for (size_t i = 0; i < count; ++i) {
        const Bytes& first = main.frames[i];
        const Bytes& second = sub.frames[i];
        BitWriter frame;
        frame.PutBits(first, 0, ElementsEnd(first));
        // The second channel element: its id (3 bits), then instance tag 1 instead of 0.
        frame.PutBits(second, 0, 3);
        frame.Put(1, 4);
        frame.PutBits(second, 7, ElementsEnd(second));
        frame.Put(7, 3);  // END
        out.frames.push_back(frame.Take());
    }
    return out;
}

double ToneFrequency(const std::vector<int16_t>& stereo, int channel, int rate) {
    double firstCrossing = -1.0;
    double lastCrossing = -1.0;
    int crossings = 0;
    const size_t frames = stereo.size() / 2;
    for (size_t i = 1; i < frames; ++i) {
        const double before = stereo[(i - 1) * 2 + size_t(channel)];
        const double now = stereo[i * 2 + size_t(channel)];
        if (before < 0 && now >= 0) {
            const double at = double(i - 1) + (-before) / (now - before);
            if (firstCrossing < 0) {
                firstCrossing = at;
            }
            lastCrossing = at;
            ++crossings;
        }
    }
    if (crossings < 2) {
        return 0.0;
    }
    return double(crossings - 1) * rate / (lastCrossing - firstCrossing);
}

double LevelDb(const std::vector<int16_t>& stereo, int channel) {
    double sum = 0.0;
    const size_t frames = stereo.size() / 2;
    for (size_t i = 0; i < frames; ++i) {
        const double value = stereo[i * 2 + size_t(channel)] / 32768.0;
        sum += value * value;
    }
    if (frames == 0 || sum == 0.0) {
        return -std::numeric_limits<double>::infinity();
    }
    return 10.0 * std::log10(sum / double(frames));
}

int Peak(const std::vector<int16_t>& stereo) {
    int peak = 0;
    for (const int16_t value : stereo) {
        peak = std::max(peak, std::abs(int(value)));
    }
    return peak;
}

std::vector<int16_t> FramesFrom(const std::vector<int16_t>& stereo, size_t first) {
    if (first * 2 >= stereo.size()) {
        return {};
    }
    return std::vector<int16_t>(stereo.begin() + std::ptrdiff_t(first * 2), stereo.end());
}

}  // namespace audiotest
