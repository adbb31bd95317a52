#pragma once

#include <atomic>

#include "platform/dshow/DShowInterfaces.h"

class CBaseAllocator;

// A media sample of an allocator: a buffer the allocator owns, with times, flags and an
// optional media type. When its count falls to 0 it clears its flags and type and goes back to
// its allocator (ReleaseBuffer); data, length and times stay as they were. A sample made
// without an allocator deletes itself instead.
class CMediaSample : public IMediaSample2 {
public:
    CMediaSample(const char16_t* name, CBaseAllocator* allocator, HRESULT* hr,
                 BYTE* buffer = nullptr, LONG length = 0);
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;
    virtual ~CMediaSample();

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // Points the sample at another buffer (E_INVALIDARG for a negative length).
    HRESULT SetPointer(BYTE* buffer, LONG length);

    HRESULT GetPointer(BYTE** buffer) override;
    LONG GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL syncPoint) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL preroll) override;
    LONG GetActualDataLength() override;
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** mediaType) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* mediaType) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL discontinuity) override;
    HRESULT GetMediaTime(LONGLONG* start, LONGLONG* stop) override;
    HRESULT SetMediaTime(LONGLONG* start, LONGLONG* stop) override;
    HRESULT GetProperties(DWORD size, BYTE* properties) override;
    HRESULT SetProperties(DWORD size, const BYTE* properties) override;

    // The allocator's free-list link (guarded by the allocator's lock).
    CMediaSample* m_pNext = nullptr;
    std::atomic<LONG> m_cRef{0};

protected:
    friend class CBaseAllocator;

    // Property bits; the public ones are the AM_SAMPLE_ values.
    static constexpr DWORD Sample_SyncPoint = 0x01;
    static constexpr DWORD Sample_Preroll = 0x02;
    static constexpr DWORD Sample_Discontinuity = 0x04;
    static constexpr DWORD Sample_TypeChanged = 0x08;
    static constexpr DWORD Sample_TimeValid = 0x10;
    static constexpr DWORD Sample_MediaTimeValid = 0x20;
    static constexpr DWORD Sample_TimeDiscontinuity = 0x40;
    static constexpr DWORD Sample_StopValid = 0x100;
    static constexpr DWORD Sample_ValidFlags = 0x1FF;

    DWORD m_dwFlags = 0;
    DWORD m_dwTypeSpecificFlags = 0;
    BYTE* m_pBuffer;
    LONG m_lActual = 0;
    LONG m_cbBuffer;
    CBaseAllocator* m_pAllocator;
    REFERENCE_TIME m_Start = 0;
    REFERENCE_TIME m_End = 0;
    LONGLONG m_MediaStart = 0;
    LONG m_MediaEnd = 0;  // stored as the difference from m_MediaStart
    AM_MEDIA_TYPE* m_pMediaType = nullptr;
    DWORD m_dwStreamId = AM_STREAM_MEDIA;
};
