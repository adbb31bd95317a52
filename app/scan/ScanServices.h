#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class CChannelInfo;
class CTuner;
class CTuningSpace;
class ICSIList;

// The services a scanned transport stream adds to its tuning space: every digital television
// service of its SDT actual, numbered by the tuning space's kind, in channel-number order.
namespace scan {

inline constexpr uint8_t kTableSdtActual = 0x42;
inline constexpr uint8_t kServiceTypeTelevision = 0x01;

// One service put into the tuning space, and where it went in its list of services.
struct AddedService {
    int32_t position;
    CChannelInfo* channel;
};

// Adds the television services of the SDT (onid, tsid) in `si` to `space`, as found on the
// plan entry `physical` at `physicalIndex`. The store must be held by the caller. Nothing is
// added without the SDT, the NIT of the network or the NIT's entry for the stream. A service
// the space already has on the same physical channel is skipped; one it has on another is
// added disabled.
std::vector<AddedService> AddScannedServices(ICSIList& si, CTuningSpace& space,
                                             int32_t physicalIndex, const CChannelInfo& physical,
                                             uint16_t originalNetworkId,
                                             uint16_t transportStreamId);

// Inserts the service before the first one with a larger channel number (equal numbers keep
// their arrival order); returns its position.
int32_t InsertByChannelNumber(CTuningSpace& space, CChannelInfo* channel);

// What copying a scan's results to another tuner came to.
enum class CopyResult { kCopied, kSpaceCountDiffers, kChannelCountDiffers, kCancelled };

// Gives every tuning space of `to` copies of the services of `from`'s space at the same index.
// The tuners must have as many tuning spaces, and each pair as many physical channels; when a
// pair's names differ, `continueDespiteNames` is asked (false cancels). Nothing is copied unless
// every check passed. `to`'s current channel becomes its copy (or none). The caller lets go of
// pointers into `to`'s services first (reservations, windows).
CopyResult CopyScannedServices(const CTuner& from, CTuner& to,
                               const std::function<bool()>& continueDespiteNames);

}  // namespace scan
