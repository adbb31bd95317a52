#include "tools/isdbsim/Descriptors.h"

#include <algorithm>

#include "tools/isdbsim/AribText.h"

namespace isdbsim {
namespace {

constexpr std::string_view kJapanese = "jpn";

// The encoded text, shortened by whole characters until it fits `maxBytes`.
Bytes EncodeFitting(std::u16string_view text, size_t maxBytes) {
    Bytes encoded = EncodeAribText(text);
    while (encoded.size() > maxBytes && !text.empty()) {
        const size_t cut =
            text.size() > 1 && text[text.size() - 1] >= 0xDC00 && text[text.size() - 1] < 0xE000
                ? 2
                : 1;
        text.remove_suffix(std::min(cut, text.size()));
        encoded = EncodeAribText(text);
    }
    return encoded;
}

void TextWithLength(ByteWriter& out, std::u16string_view text, size_t maxBytes) {
    const Bytes encoded = EncodeFitting(text, maxBytes);
    out.U8(static_cast<uint32_t>(encoded.size()));
    out.Append(encoded);
}

}  // namespace

void NetworkNameDescriptor(ByteWriter& out, std::u16string_view name) {
    Descriptor(out, 0x40, EncodeFitting(name, 255));
}

void ServiceListDescriptor(ByteWriter& out,
                           const std::vector<std::pair<uint16_t, uint8_t>>& services) {
    ByteWriter body;
    for (const auto& [serviceId, serviceType] : services) {
        body.U16(serviceId);
        body.U8(serviceType);
    }
    Descriptor(out, 0x41, body.Data());
}

void SatelliteDeliverySystemDescriptor(ByteWriter& out, const SatelliteDelivery& d) {
    ByteWriter body;
    body.U32(d.frequencyBcd);
    body.U16(d.orbitalPositionBcd);
    body.U8((d.east ? 0x80 : 0x00) | (d.polarisation & 3) << 5 | (d.modulation & 0x1F));
    body.U32(d.symbolRateBcd << 4 | (d.fecInner & 0x0F));
    Descriptor(out, 0x43, body.Data());
}

void ServiceDescriptor(ByteWriter& out, uint8_t serviceType, std::u16string_view provider,
                       std::u16string_view name) {
    ByteWriter body;
    body.U8(serviceType);
    TextWithLength(body, provider, 100);
    TextWithLength(body, name, 100);
    Descriptor(out, 0x48, body.Data());
}

void ShortEventDescriptor(ByteWriter& out, std::u16string_view title, std::u16string_view text) {
    ByteWriter body;
    body.Append(kJapanese);
    TextWithLength(body, title, 80);
    TextWithLength(body, text, 160);
    Descriptor(out, 0x4D, body.Data());
}

void ExtendedEventDescriptors(ByteWriter& out, const std::vector<ExtendedItem>& items) {
    // Items are packed whole into descriptors of at most 255 bytes (head 5, tail 1).
    constexpr size_t kItemRoom = 255 - 6;
    std::vector<Bytes> descriptorItems;
    Bytes current;
    for (const ExtendedItem& item : items) {
        const Bytes description = EncodeFitting(item.description, 32);
        const Bytes text = EncodeFitting(item.text, kItemRoom - 2 - description.size());
        const size_t size = 2 + description.size() + text.size();
        if (current.size() + size > kItemRoom) {
            descriptorItems.push_back(std::move(current));
            current.clear();
        }
        current.push_back(static_cast<uint8_t>(description.size()));
        current.insert(current.end(), description.begin(), description.end());
        current.push_back(static_cast<uint8_t>(text.size()));
        current.insert(current.end(), text.begin(), text.end());
    }
    if (!current.empty()) {
        descriptorItems.push_back(std::move(current));
    }
    const size_t last = descriptorItems.empty() ? 0 : descriptorItems.size() - 1;
    for (size_t number = 0; number < descriptorItems.size() && number < 16; ++number) {
        ByteWriter body;
        body.U8(static_cast<uint32_t>(number << 4 | std::min<size_t>(last, 15)));
        body.Append(kJapanese);
        body.U8(static_cast<uint32_t>(descriptorItems[number].size()));
        body.Append(descriptorItems[number]);
        body.U8(0);  // text_length
        Descriptor(out, 0x4E, body.Data());
    }
}

void ComponentDescriptor(ByteWriter& out, uint8_t streamContent, uint8_t componentType,
                         uint8_t componentTag, std::u16string_view text) {
    ByteWriter body;
    body.U8(0xF0 | (streamContent & 0x0F));
    body.U8(componentType);
    body.U8(componentTag);
    body.Append(kJapanese);
    body.Append(EncodeFitting(text, 16));
    Descriptor(out, 0x50, body.Data());
}

void StreamIdentifierDescriptor(ByteWriter& out, uint8_t componentTag) {
    Descriptor(out, 0x52, Bytes{componentTag});
}

void ContentDescriptor(ByteWriter& out, const std::vector<uint16_t>& genres) {
    ByteWriter body;
    for (uint16_t genre : genres) {
        body.U16(genre);
    }
    Descriptor(out, 0x54, body.Data());
}

void LocalTimeOffsetDescriptor(ByteWriter& out, JstTime timeOfChange) {
    ByteWriter body;
    body.Append(std::string_view("JPN"));
    body.U8(0x02);  // country_region_id 0, reserved 1, polarity 0 (ahead of UTC)
    body.U16(0x0900);
    WriteAribTime(body, timeOfChange);
    body.U16(0x0900);
    Descriptor(out, 0x58, body.Data());
}

void DigitalCopyControlDescriptor(ByteWriter& out, uint8_t recordingControl, uint8_t copyType) {
    // APS_control_data is meaningful only for copy_control_type 01/11; 0 otherwise.
    Descriptor(out, 0xC1,
               Bytes{static_cast<uint8_t>((recordingControl & 3) << 6 | (copyType & 3) << 2)});
}

void AudioComponentDescriptor(ByteWriter& out, uint8_t componentTag, uint8_t componentType,
                              uint8_t samplingRateCode, std::u16string_view text) {
    ByteWriter body;
    body.U8(0xF2);  // stream_content 2: audio
    body.U8(componentType);
    body.U8(componentTag);
    body.U8(0x0F);  // ISO/IEC 13818-7 AAC
    body.U8(0xFF);  // simulcast_group_tag: none
    // ES_multi_lingual_flag 0, main_component_flag 1, quality_indicator 01, sampling_rate.
    body.U8(0x40 | 0x10 | (samplingRateCode & 7) << 1 | 1);
    body.Append(kJapanese);
    body.Append(EncodeFitting(text, 33));
    Descriptor(out, 0xC4, body.Data());
}

void VideoDecodeControlDescriptor(ByteWriter& out, uint8_t videoEncodeFormat) {
    Descriptor(out, 0xC8, Bytes{static_cast<uint8_t>((videoEncodeFormat & 0x0F) << 2 | 0x03)});
}

void TsInformationDescriptor(ByteWriter& out, uint8_t remoteControlKeyId,
                             std::u16string_view tsName,
                             const std::vector<TransmissionLayer>& layers) {
    ByteWriter body;
    body.U8(remoteControlKeyId);
    const Bytes name = EncodeFitting(tsName, 63);
    body.U8(static_cast<uint32_t>(name.size() << 2 | (layers.size() & 3)));
    body.Append(name);
    for (const TransmissionLayer& layer : layers) {
        body.U8(layer.transmissionTypeInfo);
        body.U8(static_cast<uint32_t>(layer.serviceIds.size()));
        for (uint16_t serviceId : layer.serviceIds) {
            body.U16(serviceId);
        }
    }
    Descriptor(out, 0xCD, body.Data());
}

void ExtendedBroadcasterDescriptor(ByteWriter& out, uint16_t terrestrialBroadcasterId,
                                   const std::vector<uint8_t>& affiliations) {
    ByteWriter body;
    body.U8(0x1F);  // broadcaster_type 1 (digital terrestrial television), reserved
    body.U16(terrestrialBroadcasterId);
    body.U8(static_cast<uint32_t>((affiliations.size() & 0x0F) << 4));
    body.Append(affiliations);
    Descriptor(out, 0xCE, body.Data());
}

void LogoTransmissionCdtDescriptor(ByteWriter& out, uint16_t logoId, uint16_t logoVersion,
                                   uint16_t downloadDataId) {
    ByteWriter body;
    body.U8(0x01);
    body.U16(0xFE00 | (logoId & 0x01FF));
    body.U16(0xF000 | (logoVersion & 0x0FFF));
    body.U16(downloadDataId);
    Descriptor(out, 0xCF, body.Data());
}

void LogoTransmissionIdDescriptor(ByteWriter& out, uint16_t logoId) {
    ByteWriter body;
    body.U8(0x02);
    body.U16(0xFE00 | (logoId & 0x01FF));
    Descriptor(out, 0xCF, body.Data());
}

void SeriesDescriptor(ByteWriter& out, uint16_t seriesId, uint8_t repeatLabel,
                      uint8_t programPattern, int episode, int lastEpisode,
                      std::u16string_view seriesName) {
    ByteWriter body;
    body.U16(seriesId);
    body.U8((repeatLabel & 0x0F) << 4 | (programPattern & 7) << 1);  // no expire date
    body.U16(0xFFFF);
    body.U24(static_cast<uint32_t>((episode & 0xFFF) << 12 | (lastEpisode & 0xFFF)));
    body.Append(EncodeFitting(seriesName, 64));
    Descriptor(out, 0xD5, body.Data());
}

void EventGroupDescriptor(ByteWriter& out, uint8_t groupType,
                          const std::vector<EventReference>& events) {
    ByteWriter body;
    body.U8(static_cast<uint32_t>((groupType & 0x0F) << 4 | (events.size() & 0x0F)));
    for (const EventReference& event : events) {
        body.U16(event.serviceId);
        body.U16(event.eventId);
    }
    Descriptor(out, 0xD6, body.Data());
}

void SiParameterDescriptor(ByteWriter& out, uint8_t parameterVersion, JstTime updateTime,
                           const std::vector<SiParameterTable>& tables) {
    ByteWriter body;
    body.U8(parameterVersion);
    body.U16(MjdOf(updateTime));
    for (const SiParameterTable& table : tables) {
        body.U8(table.tableId);
        body.U8(static_cast<uint32_t>(table.description.size()));
        body.Append(table.description);
    }
    Descriptor(out, 0xD7, body.Data());
}

void BroadcasterNameDescriptor(ByteWriter& out, std::u16string_view name) {
    Descriptor(out, 0xD8, EncodeFitting(name, 255));
}

void ContentAvailabilityDescriptor(ByteWriter& out) {
    // copy_restriction_mode 0, image_constraint_token 1, retention_mode 1, retention_state 7,
    // encryption_mode 0.
    Descriptor(out, 0xDE, Bytes{0xBE});
}

void TerrestrialDeliverySystemDescriptor(ByteWriter& out, uint16_t areaCode, uint8_t guardInterval,
                                         uint8_t transmissionMode,
                                         const std::vector<uint16_t>& frequencies) {
    ByteWriter body;
    body.U16(static_cast<uint32_t>((areaCode & 0x0FFF) << 4 | (guardInterval & 3) << 2 |
                                   (transmissionMode & 3)));
    for (uint16_t frequency : frequencies) {
        body.U16(frequency);
    }
    Descriptor(out, 0xFA, body.Data());
}

void PartialReceptionDescriptor(ByteWriter& out, const std::vector<uint16_t>& serviceIds) {
    ByteWriter body;
    for (uint16_t serviceId : serviceIds) {
        body.U16(serviceId);
    }
    Descriptor(out, 0xFB, body.Data());
}

void DataComponentDescriptor(ByteWriter& out, uint16_t dataComponentId, const Bytes& info) {
    ByteWriter body;
    body.U16(dataComponentId);
    body.Append(info);
    Descriptor(out, 0xFD, body.Data());
}

void SystemManagementDescriptor(ByteWriter& out, uint16_t systemManagementId) {
    ByteWriter body;
    body.U16(systemManagementId);
    Descriptor(out, 0xFE, body.Data());
}

}  // namespace isdbsim
