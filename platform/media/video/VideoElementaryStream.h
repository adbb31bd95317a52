#pragma once

#include <cstddef>
#include <cstdint>

// What arrives on the analyzer's video pin: one PES packet per sample (its header included), or
// elementary-stream bytes without one. These find the elementary-stream bytes and tell MPEG-2
// video from H.264, which broadcasts carry under the same pin type.

enum class VideoCodec { kUnknown, kMpeg2, kH264 };

struct VideoPayload {
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool hasPts = false;
    int64_t pts90k = 0;  // 33-bit PTS, 90 kHz
};

// The elementary-stream bytes of `data`: the PES payload when `data` begins with a video PES
// header (start code 00 00 01, stream_id 0xE0-0xEF), otherwise `data` itself. A PES header that
// is cut short yields no bytes.
VideoPayload FindVideoPayload(const uint8_t* data, size_t size);

// The codec whose stream-level header occurs in `data`: an MPEG-2 sequence header (00 00 01 B3)
// or an H.264 sequence parameter set (NAL type 7 with a known profile). Both are unambiguous:
// B3 is no valid NAL header byte, and the NAL headers 47 and 67 of a parameter set are no slice
// start codes a broadcast MPEG-2 picture (at most 1088 lines, 68 slice rows) reaches. kUnknown
// when neither occurs.
VideoCodec DetectVideoCodec(const uint8_t* data, size_t size);
