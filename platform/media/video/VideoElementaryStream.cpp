#include "platform/media/video/VideoElementaryStream.h"

namespace {

constexpr uint8_t kVideoStreamIdFirst = 0xE0;
constexpr uint8_t kVideoStreamIdLast = 0xEF;
constexpr uint8_t kSequenceHeaderCode = 0xB3;
// NAL headers of a sequence parameter set with nal_ref_idc 3 or 2. With nal_ref_idc 1 (0x27) it
// would be an MPEG-2 slice start code of picture row 39, so that one is not taken as a sign.
constexpr uint8_t kSequenceParameterSetHeaders[] = {0x67, 0x47};
// PES: start code (3), stream_id, PES_packet_length (2), two flag bytes, header data length.
constexpr size_t kPesFixedHeader = 9;
constexpr uint8_t kPtsFlag = 0x80;

bool IsStartCode(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

bool IsKnownH264Profile(uint8_t profile) {
    switch (profile) {
        case 66:   // baseline
        case 77:   // main
        case 88:   // extended
        case 100:  // high
        case 110:
        case 122:
        case 244:
            return true;
        default:
            return false;
    }
}

}  // namespace

VideoPayload FindVideoPayload(const uint8_t* data, size_t size) {
    VideoPayload payload;
    if (data == nullptr) {
        return payload;
    }
    if (size < 4 || !IsStartCode(data) || data[3] < kVideoStreamIdFirst ||
        data[3] > kVideoStreamIdLast) {
        payload.data = data;
        payload.size = size;
        return payload;
    }
    if (size < kPesFixedHeader || (data[6] & 0xC0) != 0x80) {
        return payload;
    }
    const size_t headerEnd = kPesFixedHeader + data[8];
    if (headerEnd > size) {
        return payload;
    }
    if ((data[7] & kPtsFlag) != 0 && data[8] >= 5) {
        const uint8_t* p = data + kPesFixedHeader;
        payload.hasPts = true;
        payload.pts90k = (int64_t(p[0] & 0x0E) << 29) | (int64_t(p[1]) << 22) |
                         (int64_t(p[2] & 0xFE) << 14) | (int64_t(p[3]) << 7) | (p[4] >> 1);
    }
    payload.data = data + headerEnd;
    payload.size = size - headerEnd;
    return payload;
}

VideoCodec DetectVideoCodec(const uint8_t* data, size_t size) {
    if (data == nullptr) {
        return VideoCodec::kUnknown;
    }
    for (size_t i = 0; i + 3 < size; ++i) {
        if (!IsStartCode(data + i)) {
            continue;
        }
        const uint8_t code = data[i + 3];
        if (code == kSequenceHeaderCode) {
            return VideoCodec::kMpeg2;
        }
        // profile_idc, then constraint flags whose two lowest bits are reserved zero.
        if (i + 5 < size &&
            (code == kSequenceParameterSetHeaders[0] || code == kSequenceParameterSetHeaders[1]) &&
            IsKnownH264Profile(data[i + 4]) && (data[i + 5] & 0x03) == 0) {
            return VideoCodec::kH264;
        }
    }
    return VideoCodec::kUnknown;
}
