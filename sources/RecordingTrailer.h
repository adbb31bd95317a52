#pragma once

#include <cstdint>
#include <cstring>

// The packet that ends a recording made with the trailer option and carries its duration, so
// that playback knows the length without scanning the stream. It is a null-PID packet with the
// transport error indicator set, which players and demultiplexers skip; the integrity check
// knows it and does not count it as damage. Multi-byte values are little-endian.
//
//   0      0x47
//   1-2    0xDF 0xFF          transport error indicator, PID 0x1FFF
//   3      0x10               payload only
//   4-7    0x1F 0xFF 0xE0 0x00
//   8-11   0x00 0x01 0x10 0x15
//   12     3
//   13-20  duration, 100 ns units
//   21-187 zero

inline constexpr int kRecordingTrailerSize = 188;
inline constexpr int kRecordingTrailerDurationOffset = 13;

// The duration the trailer carries, or 0 when `packet` (188 bytes) is no valid trailer.
inline int64_t RecordingTrailerDuration(const uint8_t* packet) {
    if (packet[0] != 0x47 || packet[4] != 0x1F || packet[5] != 0xFF || packet[6] != 0xE0 ||
        packet[7] != 0x00 || packet[12] != 3) {
        return 0;
    }
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | packet[kRecordingTrailerDurationOffset + i];
    }
    return static_cast<int64_t>(value);
}

// Whether `packet` is the information packet the application writes at the start of each
// recording: a null packet flagged damaged on purpose, followed by the recording's details.
inline bool IsRecordingInfoPacket(const uint8_t* packet) {
    static constexpr uint8_t kSignature[8] = {0x47, 0xDF, 0xFF, 0x10, 0x20, 0x00, 0xDF, 0xFF};
    return std::memcmp(packet, kSignature, sizeof(kSignature)) == 0;
}

inline void MakeRecordingTrailer(uint8_t* packet, int64_t duration) {
    static constexpr uint8_t kHead[kRecordingTrailerDurationOffset] = {
        0x47, 0xDF, 0xFF, 0x10, 0x1F, 0xFF, 0xE0, 0x00, 0x00, 0x01, 0x10, 0x15, 3};
    std::memset(packet, 0, kRecordingTrailerSize);
    std::memcpy(packet, kHead, sizeof(kHead));
    const auto value = static_cast<uint64_t>(duration);
    for (int i = 0; i < 8; ++i) {
        packet[kRecordingTrailerDurationOffset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}
