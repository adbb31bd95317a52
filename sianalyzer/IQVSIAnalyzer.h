#pragma once

#include "platform/com/Unknown.h"
#include "sianalyzer/ICSIList.h"
#include "sianalyzer/SIConstants.h"

// The private interface of the SI analyzer filter ("QV SI Analyzer"), obtained by
// QueryInterface on the filter. The application reads the SI store through it, chooses the
// service whose streams are demultiplexed, sets the delay of the output time stamps, reads the
// broadcast time and the statistics, and chooses which SI changes become graph events.
//
// Integers are 32-bit; PIDs and identifiers travel in the low 16 bits. The operations keep
// their slot order after the three IUnknown slots: the application calls them directly.
inline constexpr IID IID_IQVSIAnalyzer{
    0x57476D15, 0xE640, 0x45AE, {0x96, 0xA7, 0x2E, 0xBA, 0x82, 0x86, 0x8C, 0xCB}};

// The event codes the analyzer raises are in sianalyzer/SIConstants.h.

class IQVSIAnalyzer : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IQVSIAnalyzer;

    // 1. The SI store, held (AddRef) for the caller, who must Release it.
    virtual ICSIList* GetSIList() = 0;
    // 2-3. The mask of graph events to raise.
    virtual void SetNotifyFlags(DWORD mask) = 0;
    virtual DWORD GetNotifyFlags() = 0;
    // 4. The current network id (from the actual NIT and SDT).
    virtual DWORD GetNetworkID() = 0;
    // 5-6. The current transport stream; setting it also makes its PAT the current one.
    virtual void SetTransportStreamID(DWORD transportStreamId) = 0;
    virtual DWORD GetTransportStreamID() = 0;
    // 7. Stores the selected service; with `apply` (and a service) selects its streams at once.
    // 1 when the service's PMT was found, else 0.
    virtual BYTE SetServiceID(DWORD serviceId, BYTE apply) = 0;
    virtual DWORD GetServiceID() = 0;
    // 9-16. The stream PIDs; a new PCR PID drops the clock lock.
    virtual void SetPCRPID(DWORD pid) = 0;
    virtual DWORD GetPCRPID() = 0;
    virtual void SetVideoPID(DWORD pid) = 0;
    virtual DWORD GetVideoPID() = 0;
    virtual void SetAudioPID(DWORD pid) = 0;
    virtual DWORD GetAudioPID() = 0;
    virtual void SetCaptionPID(DWORD pid) = 0;
    virtual DWORD GetCaptionPID() = 0;
    // 17-18. Automatic stream selection (non-zero: on).
    virtual void SetAutoSelect(BYTE value) = 0;
    virtual BYTE GetAutoSelect() = 0;
    // 19-20. The delay added to every output time stamp, in 100 ns units.
    virtual void SetLatency(LONGLONG latency) = 0;
    virtual LONGLONG GetLatency() = 0;
    // 21. The estimated broadcast time (each output may be null): 1 with a TOT, 0 when it is
    // the computer's local time.
    virtual LONG GetCurrentTime(WORD* year, BYTE* month, BYTE* day, BYTE* hour, BYTE* minute,
                                BYTE* second) = 0;
    // 22. The same as a time value (seconds since 1 January of year 1).
    virtual LONGLONG GetCurrentTimeValue() = 0;
    // 23. The four counters (each output may be null); returns their sum and clears them.
    virtual DWORD GetStatistics(DWORD* sectionErrors, DWORD* continuityErrors,
                                DWORD* bufferTimeouts, DWORD* lateSamples) = 0;

protected:
    ~IQVSIAnalyzer() = default;
};
