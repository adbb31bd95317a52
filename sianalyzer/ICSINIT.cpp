#include "sianalyzer/ICSINIT.h"

#include "sianalyzer/ICSIList.h"
#include "sianalyzer/SIConstants.h"

int32_t ICSITS::IsServiceAvailable(uint16_t serviceId) const {
    int32_t index = -1;
    for (size_t i = 0; i < serviceIds.size(); ++i) {
        if (serviceIds[i] == serviceId) {
            index = static_cast<int32_t>(i);
            break;
        }
    }
    if (index < 0) {
        return -2;
    }
    ICSIList* store = owner->GetOwner();
    const ICSIPAT* pat = store->FindPAT(transportStreamId);
    if (pat == nullptr) {
        return -1;
    }
    if (pat->FindPMTPID(serviceId) < 0) {
        return 0;
    }
    if (serviceTypes[index] == si::kServiceTypeData &&
        store->FindPMT(transportStreamId, serviceId) == nullptr) {
        return 0;
    }
    return 1;
}
