#pragma once

#include "platform/com/Unknown.h"
#include "platform/dshow/DShowTypes.h"

// The private interface of the tuner-driver source ("QV Bon Source"), obtained by
// QueryInterface on the filter. The operations keep their slot order after the three IUnknown
// slots. Strings it returns belong to the driver and stay valid while the driver is loaded.
inline constexpr IID IID_IQVBonSource{
    0xB1A94338, 0xED60, 0x4F42, {0x93, 0x49, 0x7D, 0x03, 0xB3, 0x8C, 0x2E, 0x99}};

class IQVBonSource : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IQVBonSource;

    // 1. Loads a driver library (path in the file system's encoding, UTF-8 here) and opens its
    // tuner, closing and unloading the one loaded before. Returns 0, the Windows error number
    // of a failed load, 632 when the driver gives no object, or 110 when the tuner does not
    // open.
    virtual DWORD SetBonDriver(const char* path) = 0;
    // 2. The driver's tuner name; null without a driver of the second interface generation.
    virtual const char16_t* GetTunerName() = 0;
    // 3. Tunes; false without such a driver.
    virtual BOOL SetChannel(DWORD space, DWORD channel) = 0;
    // 4. The driver's signal level; 0 without such a driver.
    virtual float GetSignalLevel() = 0;
    // 5-6. Tuning-space and channel names from index 0 on; null past the last one.
    virtual const char16_t* EnumTuningSpace(DWORD space) = 0;
    virtual const char16_t* EnumChannelName(DWORD space, DWORD channel) = 0;

protected:
    ~IQVBonSource() = default;
};
