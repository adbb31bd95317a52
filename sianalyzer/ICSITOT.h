#pragma once

#include <cstdint>
#include <mutex>

#include "core/ICListItem.h"
#include "sianalyzer/ICSITime.h"

class ICSISectionReader;
class ICSIList;

// The store's single time offset table: the broadcast clock (JST) of the last TOT, when it was
// received by the computer's clock, and the local time offset. From these it estimates the
// current broadcast time. The worker replaces the values while readers may be asking for the
// time, so every access takes the object's own lock.
class ICSITOT : public ICListItem {
public:
    static constexpr uint32_t kFlagLocalTimeOffset = 0x01;
    using LocalClock = ICSIDateTime (*)();

    explicit ICSITOT(ICSIList* owner) : owner(owner) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint32_t GetFlags() const;
    // Each output may be null. 1 when a TOT has been received.
    virtual int32_t GetTOTTime(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                               uint8_t* minute, uint8_t* second) const;
    virtual int32_t GetReceiveTime(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                                   uint8_t* minute, uint8_t* second) const;
    // The estimated broadcast time (1), or the computer's local time when no TOT has been
    // received (0).
    virtual int32_t GetCurrentTime(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                                   uint8_t* minute, uint8_t* second) const;
    // Three characters and a terminator.
    virtual const char* GetCountryCode() const { return countryCode; }
    virtual uint8_t GetCountryRegionID() const;
    virtual uint8_t GetOffsetPolarity() const;
    virtual int32_t GetLocalTimeOffset() const;
    virtual int32_t GetTimeOfChange(uint16_t* year, uint8_t* month, uint8_t* day, uint8_t* hour,
                                    uint8_t* minute, uint8_t* second) const;
    virtual int32_t GetNextTimeOffset() const;
    // The estimated broadcast time as a time value, or the local time's value without a TOT.
    virtual int64_t GetCurrentTimeValue() const;

    // Replaces the computer's clock (tests); null restores it.
    void SetLocalClock(LocalClock clock);

    // Reads a TOT section's body (JST_time and the descriptor loop with the local time
    // offset) and replaces the held values in one step, so that a reader never sees half a
    // TOT; the reception time is taken from the computer's clock. False when the descriptor
    // loop is cut short (what was read is stored all the same).
    bool ParseBody(ICSISectionReader& reader);

private:
    static int32_t Put(const ICSIDateTime& time, int32_t result, uint16_t* year, uint8_t* month,
                       uint8_t* day, uint8_t* hour, uint8_t* minute, uint8_t* second);
    ICSIDateTime Now() const;
    // Called with the lock held.
    int64_t EstimateLocked() const;

    ICSIList* owner;
    mutable std::mutex lock;
    LocalClock clock = nullptr;
    bool received = false;
    uint32_t flags = 0;
    ICSIDateTime totTime;
    ICSIDateTime receiveTime;
    char countryCode[4] = {};
    uint8_t regionPolarity = 0;  // country_region_id bits 7-2, polarity bit 0
    int32_t localTimeOffset = 0;
    ICSIDateTime timeOfChange;
    int32_t nextTimeOffset = 0;
};
