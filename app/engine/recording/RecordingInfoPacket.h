#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The recording information packet: the first 188 bytes of every recording. Read as a transport
// packet it is a null packet (PID 0x1FFF) with the error and unit-start flags set, which
// demultiplexers discard; the recorded-file list reads it back and keeps the resume position in
// it. Every multi-byte value is little-endian.

inline constexpr size_t kRecordingInfoSize = 188;
inline constexpr std::array<uint8_t, 8> kRecordingInfoSignature = {0x47, 0xDF, 0xFF, 0x10,
                                                                   0x20, 0x00, 0xDF, 0xFF};
// The stores' format version, written after the signature.
inline constexpr uint32_t kRecordingInfoVersion = 0x15120200;

using RecordingInfoPacket = std::array<uint8_t, kRecordingInfoSize>;

// Genre bytes of no content entry.
inline constexpr std::array<uint8_t, 4> kNoGenre = {0xEE, 0xEE, 0xEE, 0xEE};

struct RecordingInfo {
    uint8_t remoteKeyAndSpaceType = 0;  // remote-control key << 4 | tuning-space type
    uint8_t physicalIndex = 0;
    uint16_t networkId = 0;
    uint16_t transportStreamId = 0;
    uint16_t serviceId = 0;
    uint16_t eventId = 0;
    uint16_t pmtPid = 0;
    uint16_t videoPid = 0;
    uint16_t audioPid = 0;
    uint16_t captionPid = 0;
    uint8_t videoComponentType = 255;
    uint8_t audioComponentType = 255;
    int64_t startTime = 0;         // time value (seconds since year 1)
    uint32_t durationSeconds = 0;  // 0 until the recording stops
    std::u16string channelName;    // at most 10 characters are kept
    std::u16string title;          // at most 40 characters are kept
    std::array<uint8_t, 4> genre = kNoGenre;
    uint32_t resumePosition = 0;  // milliseconds; 0 plays from the start
};

// Byte offsets of the fields a stop or the recorded-file list rewrites.
namespace recording_info {
inline constexpr size_t kEventId = 22;
inline constexpr size_t kVideoComponentType = 34;
inline constexpr size_t kAudioComponentType = 35;
inline constexpr size_t kDuration = 44;
inline constexpr size_t kTitle = 70;
inline constexpr size_t kGenre = 152;
inline constexpr size_t kResumePosition = 156;
}  // namespace recording_info

RecordingInfoPacket WriteRecordingInfo(const RecordingInfo& info);
// Empty when the bytes do not begin with the signature.
std::optional<RecordingInfo> ReadRecordingInfo(const uint8_t* packet, size_t size);
bool HasRecordingInfoSignature(const uint8_t* packet, size_t size);

// What the stop rewrites: the programme on air then, and the duration.
void UpdateRecordingInfoAtStop(RecordingInfoPacket& packet, uint16_t eventId,
                               uint8_t videoComponentType, uint8_t audioComponentType,
                               const std::u16string& title, const std::array<uint8_t, 4>& genre,
                               uint32_t durationSeconds);
