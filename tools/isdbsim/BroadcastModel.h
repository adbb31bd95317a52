#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace isdbsim {

// The simulated broadcasters: tuning spaces, their physical channels (one transport stream
// each), and the services of each stream. Texts are UTF-16, as they are meant to be decoded.

enum class ServiceKind {
    Television,   // service_type 0x01: MPEG-2 video, AAC audio, captions
    OneSeg,       // partial-reception service (service_type 0xC0): H.264 + AAC
    Data,         // data service (service_type 0xC0): a PMT with a data component only
    Engineering,  // engineering service (service_type 0xA4): the logo data carousel
};

struct VideoFormat {
    int width = 720;
    int height = 480;
    int frameRateNum = 30000;  // frames per second = num / den
    int frameRateDen = 1001;
    int bitRate = 3'000'000;
    bool h264 = false;
};

struct ServiceInfo {
    uint16_t serviceId = 0;
    uint8_t serviceType = 0x01;
    ServiceKind kind = ServiceKind::Television;
    std::u16string name;
    std::string latinName;  // drawn into the test pattern (the pattern font has Latin letters)
    uint16_t pmtPid = 0;
    uint16_t videoPid = 0;  // 0 when the service has no such stream
    uint16_t audioPid = 0;
    uint16_t captionPid = 0;
    uint16_t dataPid = 0;  // data component / carousel
    VideoFormat video;
    int toneStep = 0;    // the audio tone is toneStep x 46.875 Hz (48 kHz / 1024, see AudioLoop)
    bool hasEit = true;  // carries EIT present/following and schedule
    uint16_t simulcastOf = 0;  // the service whose programmes this one repeats (one-seg)
    uint16_t logoId = 0;       // 9-bit logo_id, shared by the services of a broadcaster
};

enum class SpaceType { Terrestrial, Satellite };

struct TransportStreamInfo {
    std::u16string channelName;  // the BonDriver's channel name ("27ch", "BS01/TS0")
    SpaceType spaceType = SpaceType::Terrestrial;
    uint16_t networkId = 0;
    uint16_t originalNetworkId = 0;
    uint16_t transportStreamId = 0;
    std::u16string networkName;
    std::u16string tsName;
    std::u16string providerName;
    std::u16string broadcasterName;
    uint8_t broadcasterId = 0;
    uint8_t remoteControlKeyId = 0;
    int physicalChannel = 0;             // UHF channel number (terrestrial)
    uint16_t areaCode = 0x0D1;           // terrestrial area code of the delivery descriptor
    uint32_t satelliteFrequencyBcd = 0;  // 8 BCD digits in units of 10 kHz (satellite)
    uint16_t pcrPid = 0x01FF;
    int muxRate = 16'851'000;  // bits per second of the whole stream
    uint16_t logoDownloadDataId = 0;
    std::vector<ServiceInfo> services;
    // SDT-other entries: services of another transport stream of the same network.
    uint16_t otherTransportStreamId = 0;
    std::vector<ServiceInfo> otherServices;
};

struct TuningSpaceInfo {
    std::u16string name;
    std::string label;  // for the command line: "UHF", "BS"
    std::vector<TransportStreamInfo> channels;
};

// The fixed line-up: space 0 "UHF" with three terrestrial networks, space 1 "BS" with one
// transponder. The same list every run: tuning space and channel numbers are stable.
const std::vector<TuningSpaceInfo>& TuningSpaces();

const TransportStreamInfo* FindChannel(int space, int channel);
int FindSpace(std::string_view label);  // -1 when unknown (case-insensitive)

// Terrestrial frequency in units of 1/7 MHz of a UHF channel (13-62).
uint16_t UhfFrequencyField(int channel);

}  // namespace isdbsim
