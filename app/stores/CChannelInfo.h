#pragma once

#include <cstdint>

#include "app/stores/CEventInfo.h"
#include "app/stores/COwnedList.h"
#include "core/ICListItem.h"
#include "core/ICWString.h"

class CTuningSpace;

// One channel: a plan entry of a tuning space's `physicalChannels` (name, physicalIndex,
// frequency and transportStreamId only) or a service of its `channels`. The EPG tuner's
// channels also hold the service's programme guide.
class CChannelInfo : public ICListItem {
public:
    static constexpr uint16_t kNoLogo = 0xFFFF;

    explicit CChannelInfo(CTuningSpace* tuningSpace) : tuningSpace(tuningSpace) {}
    CChannelInfo(const CChannelInfo&) = delete;
    CChannelInfo& operator=(const CChannelInfo&) = delete;

    CTuningSpace* tuningSpace;
    ICWString name;
    ICWString tsName;
    uint8_t enabled = 1;
    int32_t physicalIndex = 0;
    int32_t frequency = 0;  // kHz
    uint32_t networkId = 0;
    uint32_t transportStreamId = 0;
    uint32_t serviceId = 0;
    int32_t remoteKey = 0;
    int32_t channelNumber = 0;
    uint16_t logoId = kNoLogo;
    // Ordered by start time; locked (Lock / Unlock) by every reader and writer.
    COwnedList<CEventInfo> events;
    CEventInfo* currentEvent = nullptr;
};
