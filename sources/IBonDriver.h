#pragma once

#include <cstdint>

// The BonDriver tuner-driver interface on Linux: virtual tables in the published order,
// 32-bit BOOL and DWORD, zero-terminated 16-bit UTF-16 strings. The object has no virtual
// destructor; it is destroyed through Release.
//
// Drivers and the programs that host them are built apart, so these declarations are a binary
// contract: both classes live in the global namespace with default visibility, so that a
// dynamic_cast from IBonDriver to IBonDriver2 works across shared objects (the type
// information is compared by name). Some drivers declare BOOL as a one-byte bool: a host
// tests only the low byte of a BOOL result (BonDriverResultTrue).

using BOOL = int32_t;
using DWORD = uint32_t;
using BYTE = uint8_t;
using LPCTSTR = const char16_t*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr DWORD kWaitObject0 = 0;
constexpr DWORD kWaitTimeout = 258;

class __attribute__((visibility("default"))) IBonDriver {
public:
    virtual BOOL OpenTuner() = 0;
    virtual void CloseTuner() = 0;
    virtual BOOL SetChannel(const BYTE bCh) = 0;
    virtual float GetSignalLevel() = 0;
    virtual DWORD WaitTsStream(const DWORD dwTimeOut = 0) = 0;
    virtual DWORD GetReadyCount() = 0;
    virtual BOOL GetTsStream(BYTE* pDst, DWORD* pdwSize, DWORD* pdwRemain) = 0;
    virtual BOOL GetTsStream(BYTE** ppDst, DWORD* pdwSize, DWORD* pdwRemain) = 0;
    virtual void PurgeTsStream() = 0;
    virtual void Release() = 0;

protected:
    ~IBonDriver() = default;
};

class __attribute__((visibility("default"))) IBonDriver2 : public IBonDriver {
public:
    using IBonDriver::SetChannel;  // keeps the one-number form visible (no new table slot)

    virtual LPCTSTR GetTunerName() = 0;
    virtual BOOL IsTunerOpening() = 0;
    virtual LPCTSTR EnumTuningSpace(const DWORD dwSpace) = 0;
    virtual LPCTSTR EnumChannelName(const DWORD dwSpace, const DWORD dwChannel) = 0;
    virtual BOOL SetChannel(const DWORD dwSpace, const DWORD dwChannel) = 0;
    virtual DWORD GetCurSpace() = 0;
    virtual DWORD GetCurChannel() = 0;

protected:
    ~IBonDriver2() = default;
};

extern "C" IBonDriver* CreateBonDriver();

// A BOOL result as a driver of either kind means it: only its low byte counts.
inline bool BonDriverResultTrue(BOOL result) {
    return (static_cast<uint32_t>(result) & 0xFFu) != 0;
}
