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

namespace {

// A service as it is kept in a channel file, for another tuning space.
CChannelInfo* CopyService(const CChannelInfo& service, CTuningSpace* space) {
    auto* copy = new CChannelInfo(space);
    copy->name = service.name;
    copy->tsName = service.tsName;
    copy->enabled = service.enabled;
    copy->physicalIndex = service.physicalIndex;
    copy->frequency = service.frequency;
    copy->networkId = service.networkId;
    copy->transportStreamId = service.transportStreamId;
    copy->serviceId = service.serviceId;
    copy->remoteKey = service.remoteKey;
    copy->channelNumber = service.channelNumber;
    copy->logoId = service.logoId;
    return copy;
}

}  // namespace

CopyResult CopyScannedServices(const CTuner& from, CTuner& to,
                               const std::function<bool()>& continueDespiteNames) {
    const int32_t count = from.tuningSpaces.GetCount();
    if (to.tuningSpaces.GetCount() != count) {
        return CopyResult::kSpaceCountDiffers;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (from.tuningSpaces.At(i)->physicalChannels.GetCount() !=
            to.tuningSpaces.At(i)->physicalChannels.GetCount()) {
            return CopyResult::kChannelCountDiffers;
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        if (!(from.tuningSpaces.At(i)->name == to.tuningSpaces.At(i)->name) &&
            !continueDespiteNames()) {
            return CopyResult::kCancelled;
        }
    }

    // The current channel is found again among the copies by its space and service.
    const CChannelInfo* current = to.currentChannel;
    const int32_t currentSpace =
        current != nullptr ? to.tuningSpaces.IndexOf(current->tuningSpace) : -1;
    const uint32_t currentTsid = current != nullptr ? current->transportStreamId : 0;
    const uint32_t currentSid = current != nullptr ? current->serviceId : 0;
    to.currentChannel = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        CTuningSpace* target = to.tuningSpaces.At(i);
        target->channels.RemoveAll(true);
        for (const CChannelInfo* service : from.tuningSpaces.At(i)->channels) {
            CChannelInfo* copy = target->channels.Add(CopyService(*service, target));
            if (i == currentSpace && copy->transportStreamId == currentTsid &&
                copy->serviceId == currentSid) {
                to.currentChannel = copy;
            }
        }
    }
    return CopyResult::kCopied;
}

}  // namespace scan
