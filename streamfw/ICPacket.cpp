#include "streamfw/ICPacket.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/dshow/CMediaType.h"
#include "streamfw/ICMemAllocator.h"

namespace {

// The sample flags a caller may set through SetProperties.
constexpr DWORD kSettableSampleFlags = 0x1FF & ~AM_SAMPLE_MEDIATIMEVALID;

// Whether a properties record of `size` bytes reaches the end of `field`.
#define ORV_CONTAINS_FIELD(field, size) \
    (offsetof(AM_SAMPLE2_PROPERTIES, field) + sizeof(AM_SAMPLE2_PROPERTIES::field) <= size_t(size))

}  // namespace

ICPacket::ICPacket(ICMemAllocator* allocator, LONG bufferSize, DWORD tag)
    : allocator(allocator), tag(tag) {
    growUnit = kDefaultGrowUnit;
    extClockRate = kDefaultExtClockRate;
    if (Reallocate(bufferSize < 0 ? 0 : bufferSize, 0) != S_OK) {
        cursor.capacity = 0;
    }
    Reset();
}

ICPacket::~ICPacket() {
    DropMediaType();
    std::free(rawBlock);
}

// --- IUnknown

HRESULT ICPacket::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_IMediaSample || iid == IID_IMediaSample2) {
        *object = static_cast<IMediaSample2*>(this);
    } else if (iid == IID_IMediaSampleEx) {
        *object = static_cast<IMediaSampleEx*>(this);
    } else if (iid == IID_IxPacket) {
        *object = static_cast<IxPacket*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG ICPacket::AddRef() {
    return referenceCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG ICPacket::Release() {
    // A count of 1 belongs to the caller alone: nobody else can take a reference any more, so
    // the common case of a single holder needs no read-modify-write.
    ULONG count = referenceCount.load(std::memory_order_acquire);
    if (count == 1) {
        referenceCount.store(0, std::memory_order_relaxed);
    } else if (count == 0) {
        return 0;  // a release too many: the packet is idle already
    } else {
        count = referenceCount.fetch_sub(1, std::memory_order_acq_rel);
        if (count != 1) {
            return count - 1;
        }
    }
    if (sampleFlags & AM_SAMPLE_TYPECHANGED) {
        DropMediaType();
    }
    sampleFlags = 0;
    typeSpecificFlags = 0;
    streamId = 0;
    OnFinalRelease();  // the packet may be gone after this
    return 0;
}

void ICPacket::OnFinalRelease() {
    if (allocator != nullptr) {
        allocator->ReleaseBuffer(static_cast<IMediaSample2*>(this));
    } else {
        delete this;
    }
}

// --- IMediaSample

HRESULT ICPacket::GetPointer(BYTE** buffer) {
    if (buffer == nullptr) {
        return E_POINTER;
    }
    *buffer = cursor.data;
    return S_OK;
}

LONG ICPacket::GetSize() {
    return cursor.capacity;
}

HRESULT ICPacket::GetTime(REFERENCE_TIME* startTime, REFERENCE_TIME* stopTime) {
    if (!(sampleFlags & AM_SAMPLE_TIMEVALID)) {
        return VFW_E_SAMPLE_TIME_NOT_SET;
    }
    if (startTime == nullptr || stopTime == nullptr) {
        return E_POINTER;
    }
    *startTime = start;
    if (!(sampleFlags & AM_SAMPLE_STOPVALID)) {
        *stopTime = start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *stopTime = stop;
    return S_OK;
}

HRESULT ICPacket::SetTime(REFERENCE_TIME* startTime, REFERENCE_TIME* stopTime) {
    if (startTime == nullptr) {
        sampleFlags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
        return S_OK;
    }
    start = *startTime;
    sampleFlags |= AM_SAMPLE_TIMEVALID;
    if (stopTime == nullptr) {
        sampleFlags &= ~AM_SAMPLE_STOPVALID;
        return S_OK;
    }
    if (*stopTime < *startTime) {
        sampleFlags &= ~AM_SAMPLE_STOPVALID;
        return E_FAIL;
    }
    stop = *stopTime;
    sampleFlags |= AM_SAMPLE_STOPVALID;
    return S_OK;
}

HRESULT ICPacket::IsSyncPoint() {
    return FlagResult(AM_SAMPLE_SPLICEPOINT);
}

HRESULT ICPacket::SetSyncPoint(BOOL syncPoint) {
    SetFlag(AM_SAMPLE_SPLICEPOINT, syncPoint);
    return S_OK;
}

HRESULT ICPacket::IsPreroll() {
    return FlagResult(AM_SAMPLE_PREROLL);
}

HRESULT ICPacket::SetPreroll(BOOL preroll) {
    SetFlag(AM_SAMPLE_PREROLL, preroll);
    return S_OK;
}

LONG ICPacket::GetActualDataLength() {
    return cursor.length;
}

HRESULT ICPacket::SetActualDataLength(LONG value) {
    if (value < 0 || value > cursor.capacity) {
        return VFW_E_BUFFER_OVERFLOW;
    }
    cursor.length = value;
    return S_OK;
}

HRESULT ICPacket::GetMediaType(AM_MEDIA_TYPE** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (!(sampleFlags & AM_SAMPLE_TYPECHANGED) || mediaType == nullptr) {
        return S_FALSE;
    }
    *out = CreateMediaType(mediaType);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT ICPacket::SetMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr) {
        DropMediaType();
        sampleFlags &= ~AM_SAMPLE_TYPECHANGED;
        return S_OK;
    }
    if (type == mediaType) {
        return S_OK;
    }
    AM_MEDIA_TYPE* copy = CreateMediaType(type);
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    DropMediaType();
    mediaType = copy;
    sampleFlags |= AM_SAMPLE_TYPECHANGED;
    return S_OK;
}

HRESULT ICPacket::IsDiscontinuity() {
    return FlagResult(AM_SAMPLE_DATADISCONTINUITY);
}

HRESULT ICPacket::SetDiscontinuity(BOOL discontinuity) {
    SetFlag(AM_SAMPLE_DATADISCONTINUITY, discontinuity);
    return S_OK;
}

HRESULT ICPacket::GetMediaTime(LONGLONG* startTime, LONGLONG* stopTime) {
    if (!(sampleFlags & AM_SAMPLE_MEDIATIMEVALID)) {
        return VFW_E_MEDIA_TIME_NOT_SET;
    }
    if (startTime == nullptr || stopTime == nullptr) {
        return E_POINTER;
    }
    *startTime = mediaStart;
    *stopTime = mediaStart + mediaStopOffset;
    return S_OK;
}

HRESULT ICPacket::SetMediaTime(LONGLONG* startTime, LONGLONG* stopTime) {
    if (startTime == nullptr) {
        sampleFlags &= ~AM_SAMPLE_MEDIATIMEVALID;
        return S_OK;
    }
    if (stopTime == nullptr) {
        return E_POINTER;
    }
    mediaStart = *startTime;
    mediaStopOffset = LONG(*stopTime - *startTime);
    sampleFlags |= AM_SAMPLE_MEDIATIMEVALID;
    return S_OK;
}

// --- IMediaSample2

HRESULT ICPacket::GetProperties(DWORD size, BYTE* properties) {
    if (size == 0) {
        return S_OK;
    }
    if (properties == nullptr) {
        return E_POINTER;
    }
    AM_SAMPLE2_PROPERTIES record{};
    record.cbData = DWORD(size < sizeof(record) ? size : sizeof(record));
    record.dwTypeSpecificFlags = typeSpecificFlags;
    record.dwSampleFlags = sampleFlags & ~AM_SAMPLE_MEDIATIMEVALID;
    record.lActual = cursor.length;
    record.tStart = start;
    record.tStop = stop;
    record.dwStreamId = streamId;
    record.pMediaType = (sampleFlags & AM_SAMPLE_TYPECHANGED) ? mediaType : nullptr;
    record.pbBuffer = cursor.data;
    record.cbBuffer = cursor.capacity;
    std::memcpy(properties, &record, record.cbData);
    return S_OK;
}

HRESULT ICPacket::SetProperties(DWORD size, const BYTE* properties) {
    if (size == 0) {
        return S_OK;
    }
    if (properties == nullptr) {
        return E_POINTER;
    }
    // The record may be shorter than the structure: read only the bytes given.
    AM_SAMPLE2_PROPERTIES record{};
    if (size > sizeof(record)) {
        return E_INVALIDARG;
    }
    std::memcpy(&record, properties, size);
    if (ORV_CONTAINS_FIELD(cbData, size)) {
        if (record.cbData > sizeof(record)) {
            return E_INVALIDARG;
        }
        if (record.cbData < size) {
            size = record.cbData;
        }
    }
    if (ORV_CONTAINS_FIELD(dwSampleFlags, size)) {
        if (record.dwSampleFlags & ~kSettableSampleFlags) {
            return E_INVALIDARG;
        }
        // A time may not be declared valid without being given.
        if ((record.dwSampleFlags & AM_SAMPLE_TIMEVALID) && !(sampleFlags & AM_SAMPLE_TIMEVALID) &&
            !ORV_CONTAINS_FIELD(tStop, size)) {
            return E_INVALIDARG;
        }
    }
    if (ORV_CONTAINS_FIELD(pbBuffer, size) && record.pbBuffer != nullptr &&
        record.pbBuffer != cursor.data) {
        return E_INVALIDARG;  // the buffer cannot be exchanged
    }
    if (ORV_CONTAINS_FIELD(cbBuffer, size) && record.cbBuffer != 0 &&
        record.cbBuffer != cursor.capacity) {
        return E_INVALIDARG;
    }
    if (ORV_CONTAINS_FIELD(lActual, size) &&
        (record.lActual < 0 || record.lActual > cursor.capacity)) {
        return E_INVALIDARG;
    }
    AM_MEDIA_TYPE* newType = nullptr;
    if (ORV_CONTAINS_FIELD(pMediaType, size) && ORV_CONTAINS_FIELD(dwSampleFlags, size) &&
        (record.dwSampleFlags & AM_SAMPLE_TYPECHANGED)) {
        if (record.pMediaType == nullptr) {
            return E_POINTER;
        }
        if (record.pMediaType != mediaType) {
            newType = CreateMediaType(record.pMediaType);
            if (newType == nullptr) {
                return E_OUTOFMEMORY;
            }
        }
    }

    if (ORV_CONTAINS_FIELD(dwStreamId, size)) {
        streamId = record.dwStreamId;
    }
    if (ORV_CONTAINS_FIELD(dwSampleFlags, size)) {
        sampleFlags = record.dwSampleFlags | (sampleFlags & AM_SAMPLE_MEDIATIMEVALID);
    }
    if (ORV_CONTAINS_FIELD(dwTypeSpecificFlags, size)) {
        typeSpecificFlags = record.dwTypeSpecificFlags;
    }
    if (ORV_CONTAINS_FIELD(lActual, size)) {
        cursor.length = record.lActual;
        if (cursor.position > cursor.length) {
            cursor.position = cursor.length;
            cursor.ClearBits();
        }
    }
    if (ORV_CONTAINS_FIELD(tStart, size)) {
        start = record.tStart;
    }
    if (ORV_CONTAINS_FIELD(tStop, size)) {
        stop = record.tStop;
    }
    if (newType != nullptr) {
        DropMediaType();
        mediaType = newType;
    }
    // The type-changed flag reflects whether a type is held.
    if (ORV_CONTAINS_FIELD(pMediaType, size) || ORV_CONTAINS_FIELD(dwSampleFlags, size)) {
        if (!(sampleFlags & AM_SAMPLE_TYPECHANGED)) {
            DropMediaType();
        }
        if (mediaType != nullptr) {
            sampleFlags |= AM_SAMPLE_TYPECHANGED;
        } else {
            sampleFlags &= ~AM_SAMPLE_TYPECHANGED;
        }
    }
    return S_OK;
}

// --- IMediaSampleEx

HRESULT ICPacket::SetExtTime(LONGLONG* startTime, LONGLONG* stopTime, LONG clockRate) {
    if (startTime != nullptr) {
        extStart = *startTime;
    }
    if (stopTime != nullptr) {
        extStop = *stopTime;
    }
    extClockRate = clockRate;
    return S_OK;
}

HRESULT ICPacket::GetExtTime(LONGLONG* startTime, LONGLONG* stopTime, LONG* clockRate) {
    if (startTime != nullptr) {
        *startTime = extStart;
    }
    if (stopTime != nullptr) {
        *stopTime = extStop;
    }
    if (clockRate != nullptr) {
        *clockRate = extClockRate;
    }
    return S_OK;
}

// --- IxPacket: the sample as a whole

HRESULT ICPacket::CopyFrom(IMediaSample* sample) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    if (sample == static_cast<IMediaSample*>(this)) {
        return S_OK;
    }
    Reset();
    BYTE* source = nullptr;
    HRESULT hr = sample->GetPointer(&source);
    if (FAILED(hr)) {
        return hr;
    }
    LONG sourceLength = sample->GetActualDataLength();
    if (sourceLength > 0) {
        hr = Write(source, sourceLength);
        if (FAILED(hr)) {
            return hr;
        }
    }

    AM_MEDIA_TYPE* type = nullptr;
    if (sample->GetMediaType(&type) == S_OK && type != nullptr) {
        hr = SetMediaType(type);
        DeleteMediaType(type);
        if (FAILED(hr)) {
            return hr;
        }
    }

    REFERENCE_TIME startTime = 0;
    REFERENCE_TIME stopTime = 0;
    hr = sample->GetTime(&startTime, &stopTime);
    if (hr == S_OK) {
        SetTime(&startTime, &stopTime);
    } else if (hr == VFW_S_NO_STOP_TIME) {
        SetTime(&startTime, nullptr);
    } else {
        SetTime(nullptr, nullptr);
    }
    LONGLONG mediaStartTime = 0;
    LONGLONG mediaStopTime = 0;
    if (sample->GetMediaTime(&mediaStartTime, &mediaStopTime) == S_OK) {
        SetMediaTime(&mediaStartTime, &mediaStopTime);
    } else {
        SetMediaTime(nullptr, nullptr);
    }
    SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
    SetSyncPoint(sample->IsSyncPoint() == S_OK);
    SetPreroll(sample->IsPreroll() == S_OK);
    return S_OK;
}

void ICPacket::Reset() {
    cursor.Reset();
    user1 = 0;
    user2 = 0;
    user4 = 0;
    streamId = 0;
    // A held media type goes with the flag that announces it.
    DropMediaType();
    sampleFlags = 0;
    typeSpecificFlags = 0;
    extStart = 0;
    start = 0;
    stop = 0;
    mediaStart = 0;
    mediaStopOffset = 0;
    cursor.data = AlignedBase() + headRoom;
    mark1 = cursor.data;
    mark2 = cursor.data;
}

void ICPacket::DropMediaType() {
    if (mediaType != nullptr) {
        DeleteMediaType(mediaType);
        mediaType = nullptr;
    }
}

// --- IxPacket: the buffer

BYTE* ICPacket::AlignedBase() const {
    if (rawBlock == nullptr) {
        return nullptr;
    }
    auto address = reinterpret_cast<uintptr_t>(rawBlock);
    return rawBlock + ((kAlignment - (address & (kAlignment - 1))) & (kAlignment - 1));
}

LONG ICPacket::UsableBytes() const {
    return rawBlock == nullptr ? 0 : rawSize - LONG(AlignedBase() - rawBlock);
}

HRESULT ICPacket::Reallocate(LONG bytes, LONG keep) {
    int64_t needed = int64_t(headRoom) + bytes + (kAlignment - 1);
    if (needed > INT32_MAX) {
        return E_OUTOFMEMORY;
    }
    auto* block = static_cast<BYTE*>(std::malloc(size_t(needed)));
    if (block == nullptr) {
        return E_OUTOFMEMORY;
    }
    BYTE* oldBlock = rawBlock;
    BYTE* oldData = cursor.data;
    rawBlock = block;
    rawSize = LONG(needed);
    BYTE* newData = AlignedBase() + headRoom;
    if (oldBlock != nullptr) {
        if (keep > 0 && oldData != nullptr) {
            std::memcpy(newData, oldData, size_t(keep));
        }
        // The marks keep their offsets from the data start.
        if (oldData != nullptr) {
            if (mark1 != nullptr) {
                mark1 = newData + (mark1 - oldData);
            }
            if (mark2 != nullptr) {
                mark2 = newData + (mark2 - oldData);
            }
        }
        std::free(oldBlock);
    }
    cursor.data = newData;
    cursor.capacity = bytes;
    return S_OK;
}

HRESULT ICPacket::SetCapacity(LONG bytes) {
    if (bytes < 0) {
        bytes = 0;
    }
    if (bytes == cursor.capacity && rawBlock != nullptr) {
        return S_OK;
    }
    HRESULT hr = Reallocate(bytes, bytes < cursor.length ? bytes : cursor.length);
    if (FAILED(hr)) {
        return hr;
    }
    // Reads and writes never reach past the new end.
    if (cursor.length > cursor.capacity) {
        cursor.length = cursor.capacity;
    }
    if (cursor.position > cursor.capacity) {
        cursor.position = cursor.capacity;
        cursor.ClearBits();
    }
    return S_OK;
}

HRESULT ICPacket::SetHeadRoom(LONG bytes) {
    if (bytes < 0) {
        return E_INVALIDARG;
    }
    if (int64_t(bytes) + cursor.capacity > UsableBytes()) {
        // The capacity behind the new data start needs a larger block; the bytes keep their
        // offsets from the aligned base.
        int64_t needed = int64_t(bytes) + cursor.capacity + (kAlignment - 1);
        if (needed > INT32_MAX) {
            return E_OUTOFMEMORY;
        }
        auto* block = static_cast<BYTE*>(std::malloc(size_t(needed)));
        if (block == nullptr) {
            return E_OUTOFMEMORY;
        }
        BYTE* oldBase = AlignedBase();
        LONG oldUsable = UsableBytes();
        BYTE* oldBlock = rawBlock;
        rawBlock = block;
        rawSize = LONG(needed);
        BYTE* newBase = AlignedBase();
        if (oldBase != nullptr) {
            std::memcpy(newBase, oldBase, size_t(oldUsable));
            if (mark1 != nullptr) {
                mark1 = newBase + (mark1 - oldBase);
            }
            if (mark2 != nullptr) {
                mark2 = newBase + (mark2 - oldBase);
            }
        }
        std::free(oldBlock);
    }
    headRoom = bytes;
    cursor.data = AlignedBase() + headRoom;
    return S_OK;
}

HRESULT ICPacket::SetData(BYTE* start) {
    BYTE* base = AlignedBase();
    if (start == nullptr || base == nullptr || start < base || start > base + UsableBytes()) {
        return E_INVALIDARG;
    }
    headRoom = LONG(start - base);
    cursor.data = start;
    LONG room = UsableBytes() - headRoom;
    if (cursor.capacity > room) {
        cursor.capacity = room;
    }
    if (cursor.length > cursor.capacity) {
        cursor.length = cursor.capacity;
    }
    if (cursor.position > cursor.capacity) {
        cursor.position = cursor.capacity;
        cursor.ClearBits();
    }
    return S_OK;
}

void ICPacket::SetLength(LONG value) {
    cursor.length = value < 0 ? 0 : (value > cursor.capacity ? cursor.capacity : value);
}

HRESULT ICPacket::SetPosition(LONG value) {
    if (value < 0 || value > cursor.capacity) {
        return E_INVALIDARG;
    }
    cursor.position = value;
    cursor.ClearBits();
    return S_OK;
}

void ICPacket::Seek(LONG value) {
    cursor.Seek(value);
}

// --- IxPacket: reading

LONG ICPacket::ReadByte() {
    return cursor.ReadByte();
}

LONG ICPacket::Read(void* dest, LONG n) {
    return cursor.Read(dest, n);
}

DWORD ICPacket::ReadBits(LONG n) {
    return cursor.ReadBits(n);
}

LONG ICPacket::ReadUInt8() {
    return cursor.ReadUInt8();
}

LONG ICPacket::ReadUInt16() {
    return cursor.ReadUInt16();
}

LONGLONG ICPacket::ReadUInt32() {
    return cursor.ReadUInt32();
}

LONGLONG ICPacket::ReadTimeStamp() {
    LONGLONG bit32 = ReadBits(1);
    LONGLONG bits31to30 = ReadBits(2);
    ReadBits(1);  // marker
    LONGLONG bits29to15 = ReadBits(15);
    ReadBits(1);  // marker
    LONGLONG bits14to0 = ReadBits(15);
    ReadBits(1);  // marker
    return (bit32 << 32) | (bits31to30 << 30) | (bits29to15 << 15) | bits14to0;
}

LONG ICPacket::PeekByte() {
    return cursor.PeekByte();
}

LONG ICPacket::Peek(void* dest, LONG n) {
    return cursor.Peek(dest, n);
}

DWORD ICPacket::PeekBits(LONG n) {
    return cursor.PeekBits(n);
}

LONG ICPacket::PeekUInt8() {
    return cursor.PeekUInt8();
}

LONG ICPacket::PeekUInt16() {
    return cursor.PeekUInt16();
}

LONGLONG ICPacket::PeekUInt32() {
    return cursor.PeekUInt32();
}

// --- IxPacket: writing

HRESULT ICPacket::Grow(int32_t n, bool singleByte) {
    if (singleByte) {
        // A byte write grows the capacity by one growth unit.
        if (growUnit < 1) {
            return E_OUTOFMEMORY;
        }
        int64_t grown = int64_t(cursor.capacity) + growUnit;
        return grown + headRoom + kAlignment > INT32_MAX ? E_OUTOFMEMORY
                                                         : Reallocate(LONG(grown), cursor.capacity);
    }
    int64_t rounded = ICByteCursor::GrownCapacity(cursor.position, n, growUnit,
                                                  int64_t(INT32_MAX) - headRoom - kAlignment);
    if (rounded < 0) {
        return E_OUTOFMEMORY;
    }
    // Everything up to the old capacity is kept: the position may lie beyond the length.
    return Reallocate(LONG(rounded), cursor.capacity);
}

bool ICPacket::Holds(const uint8_t* bytes) const {
    return rawBlock != nullptr && bytes >= rawBlock && bytes < rawBlock + rawSize;
}

HRESULT ICPacket::WriteByte(BYTE value) {
    return cursor.WriteByte(value);
}

HRESULT ICPacket::Write(const void* src, LONG n) {
    return cursor.Write(src, n);
}

HRESULT ICPacket::WriteBits(DWORD value, LONG n) {
    return cursor.WriteBits(value, n);
}

HRESULT ICPacket::WriteUInt8(BYTE value) {
    return cursor.WriteUInt8(value);
}

HRESULT ICPacket::WriteUInt16(WORD value) {
    return cursor.WriteUInt16(value);
}

HRESULT ICPacket::WriteUInt32(DWORD value) {
    return cursor.WriteUInt32(value);
}

HRESULT ICPacket::FlushBits() {
    return cursor.FlushBits();
}
