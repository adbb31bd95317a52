#include "tools/isdbsim/BroadcastModel.h"

#include <cctype>

namespace isdbsim {
namespace {

int nextTone = 8;

ServiceInfo Television(uint16_t serviceId, std::u16string name, std::string latinName, int index,
                       VideoFormat video) {
    ServiceInfo s;
    s.serviceId = serviceId;
    s.serviceType = 0x01;
    s.kind = ServiceKind::Television;
    s.name = std::move(name);
    s.latinName = std::move(latinName);
    s.pmtPid = static_cast<uint16_t>(0x01F0 + index);
    s.videoPid = static_cast<uint16_t>(0x0100 + index);
    s.audioPid = static_cast<uint16_t>(0x0110 + index);
    s.captionPid = static_cast<uint16_t>(0x0130 + index);
    s.video = video;
    s.toneStep = nextTone++;
    return s;
}

// Terrestrial service_id layout: the broadcaster in bits 10-5, the service kind in bits 4-3
// (0 television, 1 data, 3 partial reception) and the service number in bits 2-0.
TransportStreamInfo Terrestrial(int index, int physicalChannel, uint8_t keyId,
                                std::u16string station, std::string latin, int tvCount,
                                std::u16string broadcasterName) {
    TransportStreamInfo ts;
    ts.channelName = std::u16string(u"") + static_cast<char16_t>(u'0' + physicalChannel / 10) +
                     static_cast<char16_t>(u'0' + physicalChannel % 10) + u"ch";
    ts.spaceType = SpaceType::Terrestrial;
    ts.networkId = static_cast<uint16_t>(0x7FE0 + index);
    ts.originalNetworkId = ts.networkId;
    ts.transportStreamId = ts.networkId;
    ts.networkName = station;
    ts.tsName = station;
    ts.providerName = station;
    ts.broadcasterName = std::move(broadcasterName);
    ts.broadcasterId = static_cast<uint8_t>(1 + index);
    ts.remoteControlKeyId = keyId;
    ts.physicalChannel = physicalChannel;
    ts.muxRate = 16'851'000;
    ts.logoDownloadDataId = static_cast<uint16_t>(0x0001 + index);
    const uint16_t base = static_cast<uint16_t>(0x0400 + index * 0x20);
    const uint16_t logoId = static_cast<uint16_t>(index + 1);
    const char16_t* numbers[] = {u"１", u"２", u"３"};
    for (int i = 0; i < tvCount; ++i) {
        VideoFormat video;
        video.bitRate = i == 0 ? 3'000'000 : 2'500'000;
        ServiceInfo s = Television(static_cast<uint16_t>(base + i), station + numbers[i],
                                   latin + " " + std::to_string(i + 1), i, video);
        s.logoId = logoId;
        ts.services.push_back(std::move(s));
    }
    ServiceInfo data;
    data.serviceId = static_cast<uint16_t>(base + 0x08);
    data.serviceType = 0xC0;
    data.kind = ServiceKind::Data;
    data.name = station + u"データ";
    data.latinName = latin + " DATA";
    data.pmtPid = 0x01F8;
    data.dataPid = 0x0140;
    data.hasEit = false;
    data.logoId = logoId;
    ts.services.push_back(std::move(data));
    ServiceInfo oneSeg;
    oneSeg.serviceId = static_cast<uint16_t>(base + 0x18);
    oneSeg.serviceType = 0xC0;
    oneSeg.kind = ServiceKind::OneSeg;
    oneSeg.name = station + u"ワンセグ";
    oneSeg.latinName = latin + " 1SEG";
    oneSeg.pmtPid = 0x1FC8;
    oneSeg.videoPid = 0x0181;
    oneSeg.audioPid = 0x0183;
    oneSeg.captionPid = 0x0187;
    oneSeg.video = VideoFormat{320, 180, 15000, 1001, 256'000, true};
    oneSeg.toneStep = nextTone++;
    oneSeg.simulcastOf = base;
    oneSeg.logoId = logoId;
    ts.services.push_back(std::move(oneSeg));
    return ts;
}

TransportStreamInfo Satellite() {
    TransportStreamInfo ts;
    ts.channelName = u"BS01/TS0";
    ts.spaceType = SpaceType::Satellite;
    ts.networkId = 0x0004;
    ts.originalNetworkId = 0x0004;
    ts.transportStreamId = 0x4010;
    ts.networkName = u"ＢＳデジタル";
    ts.tsName = u"ＢＳオルバ";
    ts.providerName = u"オルバ衛星放送";
    ts.broadcasterName = u"オルバ衛星放送";
    ts.broadcasterId = 1;
    ts.remoteControlKeyId = 1;
    ts.satelliteFrequencyBcd = 0x01172748;  // 11.72748 GHz
    ts.muxRate = 24'000'000;
    VideoFormat hd{1440, 1080, 30000, 1001, 8'000'000, false};
    ServiceInfo s101 = Television(101, u"ＢＳオルバ１", "ORV BS 1", 0, hd);
    s101.logoId = 0x0010;
    ServiceInfo s103 = Television(103, u"ＢＳオルバプレミアム", "ORV BS PREMIUM", 1, hd);
    s103.logoId = 0x0011;
    ts.services.push_back(std::move(s101));
    ts.services.push_back(std::move(s103));
    ServiceInfo engineering;
    engineering.serviceId = 929;
    engineering.serviceType = 0xA4;
    engineering.kind = ServiceKind::Engineering;
    engineering.name = u"ＢＳ事業者共通";
    engineering.latinName = "BS ENGINEERING";
    engineering.pmtPid = 0x01F8;
    engineering.dataPid = 0x0901;
    engineering.hasEit = false;
    ts.services.push_back(std::move(engineering));
    // The other transponder of the network, announced by SDT-other only.
    ts.otherTransportStreamId = 0x4031;
    ServiceInfo s141;
    s141.serviceId = 141;
    s141.name = u"ＢＳみなと";
    s141.logoId = 0x0012;
    ts.otherServices.push_back(std::move(s141));
    return ts;
}

std::vector<TuningSpaceInfo> BuildSpaces() {
    nextTone = 8;
    std::vector<TuningSpaceInfo> spaces;
    TuningSpaceInfo uhf;
    uhf.name = u"UHF";
    uhf.label = "UHF";
    uhf.channels.push_back(Terrestrial(0, 27, 1, u"みなと放送", "MINATO", 3, u"みなと放送協会"));
    uhf.channels.push_back(Terrestrial(1, 26, 2, u"あおば教育", "AOBA EDU", 2, u"あおば教育放送"));
    uhf.channels.push_back(
        Terrestrial(2, 25, 4, u"さくらテレビ", "SAKURA TV", 2, u"さくらテレビジョン"));
    spaces.push_back(std::move(uhf));
    TuningSpaceInfo bs;
    bs.name = u"BS";
    bs.label = "BS";
    bs.channels.push_back(Satellite());
    spaces.push_back(std::move(bs));
    return spaces;
}

}  // namespace

const std::vector<TuningSpaceInfo>& TuningSpaces() {
    static const std::vector<TuningSpaceInfo> spaces = BuildSpaces();
    return spaces;
}

const TransportStreamInfo* FindChannel(int space, int channel) {
    const auto& spaces = TuningSpaces();
    if (space < 0 || space >= static_cast<int>(spaces.size())) {
        return nullptr;
    }
    const auto& channels = spaces[space].channels;
    if (channel < 0 || channel >= static_cast<int>(channels.size())) {
        return nullptr;
    }
    return &channels[channel];
}

int FindSpace(std::string_view label) {
    const auto& spaces = TuningSpaces();
    for (size_t i = 0; i < spaces.size(); ++i) {
        const std::string& name = spaces[i].label;
        if (name.size() == label.size()) {
            bool same = true;
            for (size_t k = 0; k < name.size(); ++k) {
                same = same && std::toupper(static_cast<unsigned char>(name[k])) ==
                                   std::toupper(static_cast<unsigned char>(label[k]));
            }
            if (same) {
                return static_cast<int>(i);
            }
        }
    }
    return -1;
}

uint16_t UhfFrequencyField(int channel) {
    // Centre frequency 473 + 6 (n - 13) + 1/7 MHz.
    return static_cast<uint16_t>((473 + 6 * (channel - 13)) * 7 + 1);
}

}  // namespace isdbsim
