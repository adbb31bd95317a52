#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/isdbsim/StreamKit.h"

namespace isdbsim {

// Builders of the MPEG-2 and ARIB descriptors the simulator sends. Each appends one complete
// descriptor (tag, length, body) to `out`; texts are encoded as 8-unit code.

void NetworkNameDescriptor(ByteWriter& out, std::u16string_view name);
void ServiceListDescriptor(ByteWriter& out,
                           const std::vector<std::pair<uint16_t, uint8_t>>& services);
struct SatelliteDelivery {
    uint32_t frequencyBcd = 0;        // 8 BCD digits, 10 kHz units
    uint16_t orbitalPositionBcd = 0;  // 4 BCD digits, 0.1 degree
    bool east = true;
    uint8_t polarisation = 3;  // 2 bits
    uint8_t modulation = 0x08;
    uint32_t symbolRateBcd = 0;  // 7 BCD digits, 100 symbols/s
    uint8_t fecInner = 0xF;
};
void SatelliteDeliverySystemDescriptor(ByteWriter& out, const SatelliteDelivery& delivery);
void ServiceDescriptor(ByteWriter& out, uint8_t serviceType, std::u16string_view provider,
                       std::u16string_view name);
void ShortEventDescriptor(ByteWriter& out, std::u16string_view title, std::u16string_view text);
struct ExtendedItem {
    std::u16string description;
    std::u16string text;
};
// As many extended event descriptors as the items need (numbered 0 .. last).
void ExtendedEventDescriptors(ByteWriter& out, const std::vector<ExtendedItem>& items);
void ComponentDescriptor(ByteWriter& out, uint8_t streamContent, uint8_t componentType,
                         uint8_t componentTag, std::u16string_view text);
void StreamIdentifierDescriptor(ByteWriter& out, uint8_t componentTag);
// Genre entries: content_nibble_level_1 << 12 | content_nibble_level_2 << 8 | user nibbles.
void ContentDescriptor(ByteWriter& out, const std::vector<uint16_t>& genres);
void LocalTimeOffsetDescriptor(ByteWriter& out, JstTime timeOfChange);
// Copy free, no maximum bit rate.
void DigitalCopyControlDescriptor(ByteWriter& out, uint8_t recordingControl, uint8_t copyType);
void AudioComponentDescriptor(ByteWriter& out, uint8_t componentTag, uint8_t componentType,
                              uint8_t samplingRateCode, std::u16string_view text);
void VideoDecodeControlDescriptor(ByteWriter& out, uint8_t videoEncodeFormat);
struct TransmissionLayer {
    uint8_t transmissionTypeInfo = 0;
    std::vector<uint16_t> serviceIds;
};
void TsInformationDescriptor(ByteWriter& out, uint8_t remoteControlKeyId,
                             std::u16string_view tsName,
                             const std::vector<TransmissionLayer>& layers);
void ExtendedBroadcasterDescriptor(ByteWriter& out, uint16_t terrestrialBroadcasterId,
                                   const std::vector<uint8_t>& affiliations);
void LogoTransmissionCdtDescriptor(ByteWriter& out, uint16_t logoId, uint16_t logoVersion,
                                   uint16_t downloadDataId);
void LogoTransmissionIdDescriptor(ByteWriter& out, uint16_t logoId);
void SeriesDescriptor(ByteWriter& out, uint16_t seriesId, uint8_t repeatLabel,
                      uint8_t programPattern, int episode, int lastEpisode,
                      std::u16string_view seriesName);
struct EventReference {
    uint16_t serviceId = 0;
    uint16_t eventId = 0;
};
void EventGroupDescriptor(ByteWriter& out, uint8_t groupType,
                          const std::vector<EventReference>& events);
struct SiParameterTable {
    uint8_t tableId = 0;
    Bytes description;
};
void SiParameterDescriptor(ByteWriter& out, uint8_t parameterVersion, JstTime updateTime,
                           const std::vector<SiParameterTable>& tables);
void BroadcasterNameDescriptor(ByteWriter& out, std::u16string_view name);
void ContentAvailabilityDescriptor(ByteWriter& out);
void TerrestrialDeliverySystemDescriptor(ByteWriter& out, uint16_t areaCode, uint8_t guardInterval,
                                         uint8_t transmissionMode,
                                         const std::vector<uint16_t>& frequencies);
void PartialReceptionDescriptor(ByteWriter& out, const std::vector<uint16_t>& serviceIds);
void DataComponentDescriptor(ByteWriter& out, uint16_t dataComponentId, const Bytes& info);
void SystemManagementDescriptor(ByteWriter& out, uint16_t systemManagementId);

}  // namespace isdbsim
