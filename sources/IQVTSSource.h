#pragma once

#include <cstdint>

#include "platform/com/Unknown.h"
#include "platform/dshow/DShowTypes.h"

// The private interface of the transport-stream source ("QV TS Source", and "QV Bon Source",
// which is the same filter fed by a tuner driver), obtained by QueryInterface on the filter.
// The operations keep their slot order after the three IUnknown slots.
inline constexpr IID IID_IQVTSSource{
    0xB04321BC, 0xDF60, 0x434C, {0x8C, 0x89, 0x22, 0x36, 0x88, 0x43, 0x33, 0xEE}};

class IQVTSSource : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IQVTSSource;

    // 1-2. Data that arrives within this many milliseconds of Run is dropped (a tuner's first
    // moments after tuning are often damaged).
    virtual HRESULT SetStartDelay(DWORD milliseconds) = 0;
    virtual DWORD GetStartDelay() = 0;
    // 3. Records every packet the filter delivers from now on, except those of the excluded
    // PIDs, into `path` (created or truncated), after `header` when one is given; with
    // `writeTrailer` the file ends with a packet that carries the recording's duration.
    // Returns 0 or the Windows error number of the failed file operation.
    virtual DWORD StartRecording(const char16_t* path, const BYTE* header, DWORD headerLength,
                                 const WORD* excludedPids, DWORD excludedCount,
                                 BOOL writeTrailer) = 0;
    // 4. Ends the recording (writing the trailer when asked for) and closes the file.
    virtual HRESULT StopRecording() = 0;
    // 5. The input data rate in bits per second, measured over at least a second.
    virtual DWORD GetBitrate() = 0;
    // 6. Stores the counts of packets dropped for a bad sync byte, for the transport error
    // indicator and for want of pool space where the pointers are not null, resets all three
    // and returns their sum.
    virtual DWORD GetErrorCounts(DWORD* syncErrors, DWORD* transportErrors, DWORD* dropped) = 0;

protected:
    ~IQVTSSource() = default;
};
