#include "app/engine/recording/RecordingInfoPacket.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kVersion = 8;
constexpr size_t kKind = 12;
constexpr size_t kReserved = 13;
constexpr size_t kRemoteKeyAndSpace = 14;
constexpr size_t kPhysicalIndex = 15;
constexpr size_t kNetworkId = 16;
constexpr size_t kTransportStreamId = 18;
constexpr size_t kServiceId = 20;
constexpr size_t kPmtPid = 24;
constexpr size_t kVideoPid = 28;
constexpr size_t kAudioPid = 30;
constexpr size_t kCaptionPid = 32;
constexpr size_t kStartTime = 36;
constexpr size_t kChannelName = 48;
constexpr size_t kChannelNameUnits = 11;  // 10 characters and the terminating 0
constexpr size_t kTitleUnits = 41;        // 40 characters and the terminating 0

void PutLittle(uint8_t* at, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint64_t GetLittle(const uint8_t* at, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) {
        value |= uint64_t{at[i]} << (8 * i);
    }
    return value;
}

// Writes at most `units - 1` code units and a 0, and clears the rest of the field.
void PutText(uint8_t* at, const std::u16string& text, size_t units) {
    std::memset(at, 0, units * 2);
    size_t count = std::min(text.size(), units - 1);
    // A character cut in half would read back as a lone surrogate.
    if (count < text.size() && count > 0 && text[count - 1] >= 0xD800 && text[count - 1] < 0xDC00) {
        --count;
    }
    for (size_t i = 0; i < count; ++i) {
        PutLittle(at + 2 * i, text[i], 2);
    }
}

std::u16string GetText(const uint8_t* at, size_t units) {
    std::u16string text;
    for (size_t i = 0; i < units; ++i) {
        const auto unit = static_cast<char16_t>(GetLittle(at + 2 * i, 2));
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

void PutProgramme(RecordingInfoPacket& packet, uint16_t eventId, uint8_t videoType,
                  uint8_t audioType, const std::u16string& title,
                  const std::array<uint8_t, 4>& genre) {
    uint8_t* p = packet.data();
    PutLittle(p + recording_info::kEventId, eventId, 2);
    p[recording_info::kVideoComponentType] = videoType;
    p[recording_info::kAudioComponentType] = audioType;
    PutText(p + recording_info::kTitle, title, kTitleUnits);
    std::copy(genre.begin(), genre.end(), p + recording_info::kGenre);
}

}  // namespace

bool HasRecordingInfoSignature(const uint8_t* packet, size_t size) {
    return size >= kRecordingInfoSize &&
           std::equal(kRecordingInfoSignature.begin(), kRecordingInfoSignature.end(), packet);
}

RecordingInfoPacket WriteRecordingInfo(const RecordingInfo& info) {
    RecordingInfoPacket packet{};
    uint8_t* p = packet.data();
    std::copy(kRecordingInfoSignature.begin(), kRecordingInfoSignature.end(), p);
    PutLittle(p + kVersion, kRecordingInfoVersion, 4);
    p[kKind] = 1;
    p[kReserved] = 0;
    p[kRemoteKeyAndSpace] = info.remoteKeyAndSpaceType;
    p[kPhysicalIndex] = info.physicalIndex;
    PutLittle(p + kNetworkId, info.networkId, 2);
    PutLittle(p + kTransportStreamId, info.transportStreamId, 2);
    PutLittle(p + kServiceId, info.serviceId, 2);
    PutLittle(p + kPmtPid, info.pmtPid, 2);
    PutLittle(p + kVideoPid, info.videoPid, 2);
    PutLittle(p + kAudioPid, info.audioPid, 2);
    PutLittle(p + kCaptionPid, info.captionPid, 2);
    PutLittle(p + kStartTime, static_cast<uint64_t>(info.startTime), 8);
    PutLittle(p + recording_info::kDuration, info.durationSeconds, 4);
    PutText(p + kChannelName, info.channelName, kChannelNameUnits);
    PutProgramme(packet, info.eventId, info.videoComponentType, info.audioComponentType, info.title,
                 info.genre);
    PutLittle(p + recording_info::kResumePosition, info.resumePosition, 4);
    return packet;
}

std::optional<RecordingInfo> ReadRecordingInfo(const uint8_t* p, size_t size) {
    if (!HasRecordingInfoSignature(p, size)) {
        return std::nullopt;
    }
    RecordingInfo info;
    info.remoteKeyAndSpaceType = p[kRemoteKeyAndSpace];
    info.physicalIndex = p[kPhysicalIndex];
    info.networkId = static_cast<uint16_t>(GetLittle(p + kNetworkId, 2));
    info.transportStreamId = static_cast<uint16_t>(GetLittle(p + kTransportStreamId, 2));
    info.serviceId = static_cast<uint16_t>(GetLittle(p + kServiceId, 2));
    info.eventId = static_cast<uint16_t>(GetLittle(p + recording_info::kEventId, 2));
    info.pmtPid = static_cast<uint16_t>(GetLittle(p + kPmtPid, 2));
    info.videoPid = static_cast<uint16_t>(GetLittle(p + kVideoPid, 2));
    info.audioPid = static_cast<uint16_t>(GetLittle(p + kAudioPid, 2));
    info.captionPid = static_cast<uint16_t>(GetLittle(p + kCaptionPid, 2));
    info.videoComponentType = p[recording_info::kVideoComponentType];
    info.audioComponentType = p[recording_info::kAudioComponentType];
    info.startTime = static_cast<int64_t>(GetLittle(p + kStartTime, 8));
    info.durationSeconds = static_cast<uint32_t>(GetLittle(p + recording_info::kDuration, 4));
    info.channelName = GetText(p + kChannelName, kChannelNameUnits);
    info.title = GetText(p + recording_info::kTitle, kTitleUnits);
    std::copy_n(p + recording_info::kGenre, 4, info.genre.begin());
    info.resumePosition = static_cast<uint32_t>(GetLittle(p + recording_info::kResumePosition, 4));
    return info;
}

void UpdateRecordingInfoAtStop(RecordingInfoPacket& packet, uint16_t eventId,
                               uint8_t videoComponentType, uint8_t audioComponentType,
                               const std::u16string& title, const std::array<uint8_t, 4>& genre,
                               uint32_t durationSeconds) {
    PutLittle(packet.data() + recording_info::kDuration, durationSeconds, 4);
    PutProgramme(packet, eventId, videoComponentType, audioComponentType, title, genre);
}
