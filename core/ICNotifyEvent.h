#pragma once

#include <cstdint>

#include "core/ICListItem.h"

// A queued notification: the SI analyzer appends one to its pending list for each change it
// reports and later drains the list into its event sink, freeing each record after delivery.
class ICNotifyEvent : public ICListItem {
public:
    ICNotifyEvent() = default;
    ICNotifyEvent(uint32_t code, int32_t param1, uint32_t param2)
        : code(code), param1(param1), param2(param2) {}

    uint32_t code = 0;
    int32_t param1 = 0;
    uint32_t param2 = 0;
};
