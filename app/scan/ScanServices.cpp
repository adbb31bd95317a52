#include "app/scan/ScanServices.h"

#include <memory>

#include "app/stores/CTuner.h"
#include "app/stores/CTunerList.h"
#include "sianalyzer/ICSIList.h"

namespace scan {
namespace {

constexpr uint32_t kLogoTransmissionFlag = 0x08;

// BS transponders whose further services are offered as well (the others carry their
// broadcaster's sub-channels, which stay off until the user turns them on).
constexpr bool IsBsStreamWithAllServices(uint16_t transportStreamId) {
    return transportStreamId == 0x40F1 || transportStreamId == 0x4470 ||
           transportStreamId == 0x46B2;
}

// Terrestrial streams whose sub-channels are offered as well.
constexpr bool IsTerrestrialStreamWithAllServices(uint16_t transportStreamId) {
    return transportStreamId == 0x7FE8 || transportStreamId == 0x7E87;
}

// Remote key, channel number and enabled flag by the kind of tuning space. `serviceIndex` is
// the service's place in the SDT.
void Number(CChannelInfo& channel, int32_t spaceType, const ICSITS& ts, int32_t serviceIndex) {
    const uint32_t sid = channel.serviceId;
    const uint16_t tsid = uint16_t(channel.transportStreamId);
    if (spaceType == CTuningSpace::kBS) {
        // Services 101-103 are keys 1-3; above, ten service ids per key (211 -> 11).
        int32_t key = sid < 104 ? int32_t(sid) - 100 : (int32_t(sid) - 100) / 10;
        channel.remoteKey = key >= 0 && key <= 12 ? key : 0;
        channel.channelNumber = int32_t(sid);
        if (serviceIndex > 0 && !IsBsStreamWithAllServices(tsid)) {
            channel.enabled = 0;
        }
    } else if (spaceType == CTuningSpace::kCS) {
        channel.channelNumber = int32_t(sid);
    } else {
        // Bits 8-7 of the service_id add hundreds (200 per step), bits 2-0 count the
        // services of one remote key; only the first of a key is offered by default.
        channel.remoteKey = ts.GetRemoteControlKeyID();
        channel.channelNumber =
            int32_t(200 * ((sid >> 7) & 3) + 10 * uint32_t(channel.remoteKey) + (sid & 7) + 1);
        if (channel.enabled != 0 && (sid & 7) != 0) {
            const bool offered = (sid & 0x78) == 8 || IsTerrestrialStreamWithAllServices(tsid);
            channel.enabled = offered ? 1 : 0;
        }
    }
}

}  // namespace

int32_t InsertByChannelNumber(CTuningSpace& space, CChannelInfo* channel) {
    int32_t position = 0;
    for (CChannelInfo* existing : space.channels) {
        if (existing->channelNumber > channel->channelNumber) {
            space.channels.InsertBefore(existing, channel);
            return position;
        }
        ++position;
    }
    space.channels.Add(channel);
    return position;
}

std::vector<AddedService> AddScannedServices(ICSIList& si, CTuningSpace& space,
                                             int32_t physicalIndex, const CChannelInfo& physical,
                                             uint16_t originalNetworkId,
                                             uint16_t transportStreamId) {
    std::vector<AddedService> added;
    const ICSISDT* sdt = si.FindSDT(originalNetworkId, transportStreamId);
    const ICSINIT* nit = si.FindNIT(originalNetworkId);
    const ICSITS* ts = nit != nullptr ? nit->FindTS(transportStreamId) : nullptr;
    if (sdt == nullptr || ts == nullptr) {
        return added;
    }
    for (int32_t k = 0; k < sdt->GetServiceCount(); ++k) {
        const ICSIService* service = sdt->GetService(k);
        if (service == nullptr || service->GetServiceType() != kServiceTypeTelevision) {
            continue;
        }
        uint8_t enabled = 1;
        if (const CChannelInfo* known =
                CTunerList::FindChannel(&space, transportStreamId, service->GetServiceID())) {
            if (known->physicalIndex == physicalIndex) {
                continue;
            }
            enabled = 0;  // the same service again on another physical channel
        }
        auto channel = std::make_unique<CChannelInfo>(&space);
        channel->enabled = enabled;
        channel->physicalIndex = physicalIndex;
        channel->frequency = physical.frequency;
        channel->tsName = ts->GetTSName();
        channel->name = service->GetServiceName();
        channel->networkId = originalNetworkId;
        channel->transportStreamId = transportStreamId;
        channel->serviceId = service->GetServiceID();
        channel->logoId = (service->GetDescriptorFlags() & kLogoTransmissionFlag) != 0
                              ? service->GetLogoID()
                              : CChannelInfo::kNoLogo;
        Number(*channel, space.type, *ts, k);
        CChannelInfo* inserted = channel.release();
        added.push_back({InsertByChannelNumber(space, inserted), inserted});
    }
    return added;
}

}  // namespace scan
