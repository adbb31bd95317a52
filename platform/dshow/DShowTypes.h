#pragma once

#include <cstdint>

#include "platform/com/Unknown.h"

// Types, structures and constants of the media graph, in their published layouts.

// Time in 100 ns units.
using REFERENCE_TIME = LONGLONG;
using REFTIME = double;  // seconds
inline constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;
inline constexpr REFERENCE_TIME kUnitsPerMillisecond = 10000;
inline constexpr REFERENCE_TIME kMaxReferenceTime = 0x7FFFFFFFFFFFFFFF;

// The object a clock signals: AdviseTime sets it once, AdvisePeriodic releases it once per
// period. HEVENT and HSEMAPHORE carry a pointer to one (a CAMEvent, a CAMSemaphore).
class IAMSignal {
public:
    virtual void Signal() = 0;

protected:
    ~IAMSignal() = default;
};
using HEVENT = DWORD_PTR;
using HSEMAPHORE = DWORD_PTR;

inline HEVENT ToHandle(IAMSignal* signal) {
    return reinterpret_cast<HEVENT>(signal);
}
inline IAMSignal* FromHandle(DWORD_PTR handle) {
    return reinterpret_cast<IAMSignal*>(handle);
}

class IPin;
class IBaseFilter;
class IFilterGraph;
class IReferenceClock;

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

inline constexpr int MAX_PIN_NAME = 128;
inline constexpr int MAX_FILTER_NAME = 128;

struct PIN_INFO {
    IBaseFilter* pFilter;  // referenced: the caller releases it
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph;  // referenced when not null: the caller releases it
};

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

// The memory granularity whose bits an allocator alignment must not cross.
inline constexpr LONG kAllocationGranularity = 65536;

struct AM_SAMPLE2_PROPERTIES {
    DWORD cbData;
    DWORD dwTypeSpecificFlags;
    DWORD dwSampleFlags;
    LONG lActual;
    REFERENCE_TIME tStart;
    REFERENCE_TIME tStop;
    DWORD dwStreamId;
    AM_MEDIA_TYPE* pMediaType;
    BYTE* pbBuffer;
    LONG cbBuffer;
};

// Sample property bits.
inline constexpr DWORD AM_SAMPLE_SPLICEPOINT = 0x1;
inline constexpr DWORD AM_SAMPLE_PREROLL = 0x2;
inline constexpr DWORD AM_SAMPLE_DATADISCONTINUITY = 0x4;
inline constexpr DWORD AM_SAMPLE_TYPECHANGED = 0x8;
inline constexpr DWORD AM_SAMPLE_TIMEVALID = 0x10;
inline constexpr DWORD AM_SAMPLE_MEDIATIMEVALID = 0x20;  // kept by the sample, not settable
inline constexpr DWORD AM_SAMPLE_TIMEDISCONTINUITY = 0x40;
inline constexpr DWORD AM_SAMPLE_FLUSH_ON_PAUSE = 0x80;
inline constexpr DWORD AM_SAMPLE_STOPVALID = 0x100;
inline constexpr DWORD AM_SAMPLE_ENDOFSTREAM = 0x200;
inline constexpr DWORD AM_STREAM_MEDIA = 0;
inline constexpr DWORD AM_STREAM_CONTROL = 1;

// GetBuffer flags.
inline constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 0x1;
inline constexpr DWORD AM_GBF_NOTASYNCPOINT = 0x2;
inline constexpr DWORD AM_GBF_NOWAIT = 0x4;
inline constexpr DWORD AM_GBF_NODDSURFACELOCK = 0x8;

// Seeking capabilities and positioning flags.
inline constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
inline constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
inline constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
inline constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
inline constexpr DWORD AM_SEEKING_CanGetStopPos = 0x10;
inline constexpr DWORD AM_SEEKING_CanGetDuration = 0x20;
inline constexpr DWORD AM_SEEKING_CanPlayBackwards = 0x40;
inline constexpr DWORD AM_SEEKING_CanDoSegments = 0x80;
inline constexpr DWORD AM_SEEKING_Source = 0x100;
inline constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
inline constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
inline constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
inline constexpr DWORD AM_SEEKING_IncrementalPositioning = 0x3;
inline constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;
inline constexpr DWORD AM_SEEKING_SeekToKeyFrame = 0x4;
inline constexpr DWORD AM_SEEKING_ReturnTime = 0x8;
inline constexpr DWORD AM_SEEKING_Segment = 0x10;
inline constexpr DWORD AM_SEEKING_NoFlush = 0x20;

// IAMFilterMiscFlags bits.
inline constexpr ULONG AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1;
inline constexpr ULONG AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2;

// Automation-style handles and states of the control interfaces.
using OAEVENT = LONG_PTR;
// A window handle: here the address of an ICWindowTarget (core/ICWindowTarget.h).
using OAHWND = LONG_PTR;
using OAFilterState = LONG;

// IMediaEventEx notification flags.
inline constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

// Event codes.
inline constexpr LONG EC_COMPLETE = 0x01;
inline constexpr LONG EC_USERABORT = 0x02;
inline constexpr LONG EC_ERRORABORT = 0x03;
inline constexpr LONG EC_TIME = 0x04;
inline constexpr LONG EC_REPAINT = 0x05;
inline constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
inline constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
inline constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
inline constexpr LONG EC_PALETTE_CHANGED = 0x09;
inline constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
inline constexpr LONG EC_QUALITY_CHANGE = 0x0B;
inline constexpr LONG EC_SHUTTING_DOWN = 0x0C;
inline constexpr LONG EC_CLOCK_CHANGED = 0x0D;
inline constexpr LONG EC_PAUSED = 0x0E;
inline constexpr LONG EC_OPENING_FILE = 0x10;
inline constexpr LONG EC_BUFFERING_DATA = 0x11;
inline constexpr LONG EC_FULLSCREEN_LOST = 0x12;
inline constexpr LONG EC_ACTIVATE = 0x13;
inline constexpr LONG EC_NEED_RESTART = 0x14;
inline constexpr LONG EC_WINDOW_DESTROYED = 0x15;
inline constexpr LONG EC_DISPLAY_CHANGED = 0x16;
inline constexpr LONG EC_STARVATION = 0x17;
inline constexpr LONG EC_OLE_EVENT = 0x18;
inline constexpr LONG EC_NOTIFY_WINDOW = 0x19;
inline constexpr LONG EC_STREAM_CONTROL_STOPPED = 0x1A;
inline constexpr LONG EC_STREAM_CONTROL_STARTED = 0x1B;
inline constexpr LONG EC_END_OF_SEGMENT = 0x1C;
inline constexpr LONG EC_SEGMENT_STARTED = 0x1D;
inline constexpr LONG EC_LENGTH_CHANGED = 0x1E;
inline constexpr LONG EC_DEVICE_LOST = 0x1F;
inline constexpr LONG EC_STEP_COMPLETE = 0x24;
inline constexpr LONG EC_ERRORABORTEX = 0x45;
inline constexpr LONG EC_STATE_CHANGE = 0x32;
inline constexpr LONG EC_GRAPH_CHANGED = 0x50;
inline constexpr LONG EC_CLOCK_UNSET = 0x51;
inline constexpr LONG EC_USER = 0x8000;

// --- format blocks

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);

struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    DWORD dwInterlaceFlags;
    DWORD dwCopyProtectFlags;
    DWORD dwPictAspectRatioX;
    DWORD dwPictAspectRatioY;
    union {
        DWORD dwControlFlags;
        DWORD dwReserved1;
    };
    DWORD dwReserved2;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER2) == 112);

struct MPEG2VIDEOINFO {
    VIDEOINFOHEADER2 hdr;
    DWORD dwStartTimeCode;
    DWORD cbSequenceHeader;
    DWORD dwProfile;
    DWORD dwLevel;
    DWORD dwFlags;
    DWORD dwSequenceHeader[1];
};
static_assert(sizeof(MPEG2VIDEOINFO) == 136);

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

inline constexpr WORD WAVE_FORMAT_PCM = 0x0001;
