#include "platform/dshow/CMediaSample.h"

#include <cstddef>
#include <cstring>

#include "platform/dshow/CBaseAllocator.h"
#include "platform/dshow/CMediaType.h"

namespace {

// Whether the first `size` bytes of a properties record reach past the start of `offset`.
constexpr bool Covers(DWORD size, size_t offset) {
    return size > offset;
}
// Whether they hold the whole field that starts at `offset` and is `length` bytes long.
constexpr bool Contains(DWORD size, size_t offset, size_t length) {
    return size >= offset + length;
}

}  // namespace

CMediaSample::CMediaSample(const char16_t*, CBaseAllocator* allocator, HRESULT*, BYTE* buffer,
                           LONG length)
    : m_pBuffer(buffer), m_cbBuffer(length), m_pAllocator(allocator) {}

CMediaSample::~CMediaSample() {
    DeleteMediaType(m_pMediaType);
}

HRESULT CMediaSample::QueryInterface(REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    if (iid == IID_IMediaSample || iid == IID_IMediaSample2 || iid == IID_IUnknown) {
        *object = static_cast<IMediaSample2*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() {
    return static_cast<ULONG>(m_cRef.fetch_add(1) + 1);
}

ULONG CMediaSample::Release() {
    const LONG count = m_cRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) {
        if (m_dwFlags & Sample_TypeChanged) {
            SetMediaType(nullptr);
        }
        m_dwFlags = 0;
        m_dwTypeSpecificFlags = 0;
        m_dwStreamId = AM_STREAM_MEDIA;
        if (m_pAllocator) {
            m_pAllocator->ReleaseBuffer(this);
        } else {
            delete this;
        }
    }
    return static_cast<ULONG>(count < 0 ? 0 : count);
}

HRESULT CMediaSample::SetPointer(BYTE* buffer, LONG length) {
    if (length < 0) {
        return E_INVALIDARG;
    }
    m_pBuffer = buffer;
    m_cbBuffer = length;
    m_lActual = length;
    return S_OK;
}

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
    if (!buffer) {
        return E_POINTER;
    }
    *buffer = m_pBuffer;
    return S_OK;
}

LONG CMediaSample::GetSize() {
    return m_cbBuffer;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    if (!start || !stop) {
        return E_POINTER;
    }
    if (!(m_dwFlags & Sample_StopValid)) {
        if (!(m_dwFlags & Sample_TimeValid)) {
            return VFW_E_SAMPLE_TIME_NOT_SET;
        }
        *start = m_Start;
        *stop = m_Start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *start = m_Start;
    *stop = m_End;
    return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    if (!start) {
        m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
        return S_OK;
    }
    m_Start = *start;
    m_dwFlags |= Sample_TimeValid;
    if (stop) {
        m_End = *stop;
        m_dwFlags |= Sample_StopValid;
    } else {
        m_dwFlags &= ~Sample_StopValid;
    }
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() {
    return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetSyncPoint(BOOL syncPoint) {
    if (syncPoint) {
        m_dwFlags |= Sample_SyncPoint;
    } else {
        m_dwFlags &= ~Sample_SyncPoint;
    }
    return S_OK;
}

HRESULT CMediaSample::IsPreroll() {
    return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetPreroll(BOOL preroll) {
    if (preroll) {
        m_dwFlags |= Sample_Preroll;
    } else {
        m_dwFlags &= ~Sample_Preroll;
    }
    return S_OK;
}

LONG CMediaSample::GetActualDataLength() {
    return m_lActual;
}

HRESULT CMediaSample::SetActualDataLength(LONG length) {
    if (length > m_cbBuffer || length < 0) {
        return VFW_E_BUFFER_OVERFLOW;
    }
    m_lActual = length;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** mediaType) {
    if (!mediaType) {
        return E_POINTER;
    }
    if (!(m_dwFlags & Sample_TypeChanged) || !m_pMediaType) {
        *mediaType = nullptr;
        return S_FALSE;
    }
    *mediaType = CreateMediaType(m_pMediaType);
    return *mediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* mediaType) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
    if (!mediaType) {
        m_dwFlags &= ~Sample_TypeChanged;
        return S_OK;
    }
    m_pMediaType = CreateMediaType(mediaType);
    if (!m_pMediaType) {
        m_dwFlags &= ~Sample_TypeChanged;
        return E_OUTOFMEMORY;
    }
    m_dwFlags |= Sample_TypeChanged;
    return S_OK;
}

HRESULT CMediaSample::IsDiscontinuity() {
    return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetDiscontinuity(BOOL discontinuity) {
    if (discontinuity) {
        m_dwFlags |= Sample_Discontinuity;
    } else {
        m_dwFlags &= ~Sample_Discontinuity;
    }
    return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* stop) {
    if (!start || !stop) {
        return E_POINTER;
    }
    if (!(m_dwFlags & Sample_MediaTimeValid)) {
        return VFW_E_MEDIA_TIME_NOT_SET;
    }
    *start = m_MediaStart;
    *stop = m_MediaStart + m_MediaEnd;
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* stop) {
    if (!start) {
        m_dwFlags &= ~Sample_MediaTimeValid;
        return S_OK;
    }
    if (!stop) {
        return E_POINTER;
    }
    m_MediaStart = *start;
    m_MediaEnd = static_cast<LONG>(*stop - *start);
    m_dwFlags |= Sample_MediaTimeValid;
    return S_OK;
}

HRESULT CMediaSample::GetProperties(DWORD size, BYTE* properties) {
    if (size == 0) {
        return S_OK;
    }
    if (!properties) {
        return E_POINTER;
    }
    AM_SAMPLE2_PROPERTIES record{};
    record.cbData = size < sizeof(record) ? size : static_cast<DWORD>(sizeof(record));
    record.dwSampleFlags = m_dwFlags & ~Sample_MediaTimeValid;
    record.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
    record.pbBuffer = m_pBuffer;
    record.cbBuffer = m_cbBuffer;
    record.lActual = m_lActual;
    record.tStart = m_Start;
    record.tStop = m_End;
    record.dwStreamId = m_dwStreamId;
    record.pMediaType = (m_dwFlags & AM_SAMPLE_TYPECHANGED) ? m_pMediaType : nullptr;
    std::memcpy(properties, &record, record.cbData);
    return S_OK;
}

HRESULT CMediaSample::SetProperties(DWORD size, const BYTE* properties) {
    using Props = AM_SAMPLE2_PROPERTIES;
    if (!Covers(size, offsetof(Props, cbData))) {
        return S_OK;
    }
    if (!properties) {
        return E_POINTER;
    }
    // Read only the bytes given: the record may be shorter than the structure.
    Props record{};
    std::memcpy(&record, properties, size < sizeof(Props) ? size : sizeof(Props));
    if (Contains(size, offsetof(Props, cbData), sizeof(DWORD)) && record.cbData < size) {
        size = record.cbData;
    }
    if (size > sizeof(Props) || record.cbData > sizeof(Props)) {
        return E_INVALIDARG;
    }
    // Check everything first, then assign.
    if (Covers(size, offsetof(Props, dwSampleFlags))) {
        if (record.dwSampleFlags & (~Sample_ValidFlags | Sample_MediaTimeValid)) {
            return E_INVALIDARG;
        }
        // A time cannot be declared valid without the times.
        if ((record.dwSampleFlags & AM_SAMPLE_TIMEVALID) && !(m_dwFlags & AM_SAMPLE_TIMEVALID) &&
            !Contains(size, offsetof(Props, tStop), sizeof(REFERENCE_TIME))) {
            return E_INVALIDARG;
        }
    }
    // The buffer itself cannot be changed.
    if (Covers(size, offsetof(Props, pbBuffer)) && record.pbBuffer &&
        record.pbBuffer != m_pBuffer) {
        return E_INVALIDARG;
    }
    if (Contains(size, offsetof(Props, cbBuffer), sizeof(LONG))) {
        if (record.cbBuffer != 0 && record.cbBuffer != m_cbBuffer) {
            return E_INVALIDARG;
        }
        if (Contains(size, offsetof(Props, lActual), sizeof(LONG)) &&
            record.cbBuffer < record.lActual) {
            return E_INVALIDARG;
        }
    }
    if (Contains(size, offsetof(Props, lActual), sizeof(LONG)) &&
        (record.lActual < 0 || record.lActual > m_cbBuffer)) {
        return E_INVALIDARG;
    }
    AM_MEDIA_TYPE* newType = nullptr;
    if (Covers(size, offsetof(Props, pMediaType)) &&
        (record.dwSampleFlags & AM_SAMPLE_TYPECHANGED)) {
        if (!record.pMediaType) {
            return E_POINTER;
        }
        newType = CreateMediaType(record.pMediaType);
        if (!newType) {
            return E_OUTOFMEMORY;
        }
    }

    if (Covers(size, offsetof(Props, dwStreamId))) {
        m_dwStreamId = record.dwStreamId;
    }
    if (Covers(size, offsetof(Props, dwSampleFlags))) {
        m_dwFlags = record.dwSampleFlags | (m_dwFlags & Sample_MediaTimeValid);
        m_dwTypeSpecificFlags = record.dwTypeSpecificFlags;
    } else if (Covers(size, offsetof(Props, dwTypeSpecificFlags))) {
        m_dwTypeSpecificFlags = record.dwTypeSpecificFlags;
    }
    if (Covers(size, offsetof(Props, lActual))) {
        m_lActual = record.lActual;
    }
    if (Covers(size, offsetof(Props, tStop))) {
        m_End = record.tStop;
    }
    if (Covers(size, offsetof(Props, tStart))) {
        m_Start = record.tStart;
    }
    if (Covers(size, offsetof(Props, pMediaType)) &&
        (record.dwSampleFlags & AM_SAMPLE_TYPECHANGED)) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = newType;
    }
    // The type-changed bit follows whether a type is held.
    if (m_pMediaType) {
        m_dwFlags |= Sample_TypeChanged;
    } else {
        m_dwFlags &= ~Sample_TypeChanged;
    }
    return S_OK;
}
