#pragma once

// The BonDriver interface as a driver written elsewhere declares it, kept apart from the
// product's own header on purpose: the test drivers built from it prove that the source
// filter loads drivers through the binary interface alone, not through shared declarations.

#include <stdint.h>

typedef int32_t BOOL;
typedef uint32_t DWORD;
typedef uint8_t BYTE;
typedef const char16_t* LPCTSTR;

#define TRUE 1
#define FALSE 0
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT 258

class IBonDriver {
public:
    virtual const BOOL OpenTuner(void) = 0;
    virtual void CloseTuner(void) = 0;
    virtual const BOOL SetChannel(const BYTE bCh) = 0;
    virtual const float GetSignalLevel(void) = 0;
    virtual const DWORD WaitTsStream(const DWORD dwTimeOut = 0) = 0;
    virtual const DWORD GetReadyCount(void) = 0;
    virtual const BOOL GetTsStream(BYTE* pDst, DWORD* pdwSize, DWORD* pdwRemain) = 0;
    virtual const BOOL GetTsStream(BYTE** ppDst, DWORD* pdwSize, DWORD* pdwRemain) = 0;
    virtual void PurgeTsStream(void) = 0;
    virtual void Release(void) = 0;
};

class IBonDriver2 : public IBonDriver {
public:
    virtual LPCTSTR GetTunerName(void) = 0;
    virtual const BOOL IsTunerOpening(void) = 0;
    virtual LPCTSTR EnumTuningSpace(const DWORD dwSpace) = 0;
    virtual LPCTSTR EnumChannelName(const DWORD dwSpace, const DWORD dwChannel) = 0;
    virtual const BOOL SetChannel(const DWORD dwSpace, const DWORD dwChannel) = 0;
    virtual const DWORD GetCurSpace(void) = 0;
    virtual const DWORD GetCurChannel(void) = 0;

    using IBonDriver::SetChannel;
};
