#include "streamfw/ICPacket.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/dshow/CMediaType.h"
#include "streamfw/ICMemAllocator.h"

namespace {

uint32_t LowBits(uint32_t value, int32_t n) {
    return n >= 32 ? value : value & ((1u << n) - 1u);
}

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
        capacity = 0;
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
    *buffer = data;
    return S_OK;
}

LONG ICPacket::GetSize() {
    return capacity;
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
    return (sampleFlags & AM_SAMPLE_SPLICEPOINT) ? S_OK : S_FALSE;
}

HRESULT ICPacket::SetSyncPoint(BOOL syncPoint) {
    if (syncPoint) {
        sampleFlags |= AM_SAMPLE_SPLICEPOINT;
    } else {
        sampleFlags &= ~AM_SAMPLE_SPLICEPOINT;
    }
    return S_OK;
}

HRESULT ICPacket::IsPreroll() {
    return (sampleFlags & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE;
}

HRESULT ICPacket::SetPreroll(BOOL preroll) {
    if (preroll) {
        sampleFlags |= AM_SAMPLE_PREROLL;
    } else {
        sampleFlags &= ~AM_SAMPLE_PREROLL;
    }
    return S_OK;
}

LONG ICPacket::GetActualDataLength() {
    return length;
}

HRESULT ICPacket::SetActualDataLength(LONG value) {
    if (value < 0 || value > capacity) {
        return VFW_E_BUFFER_OVERFLOW;
    }
    length = value;
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
    return (sampleFlags & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE;
}

HRESULT ICPacket::SetDiscontinuity(BOOL discontinuity) {
    if (discontinuity) {
        sampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
    } else {
        sampleFlags &= ~AM_SAMPLE_DATADISCONTINUITY;
    }
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
    record.lActual = length;
    record.tStart = start;
    record.tStop = stop;
    record.dwStreamId = streamId;
    record.pMediaType = (sampleFlags & AM_SAMPLE_TYPECHANGED) ? mediaType : nullptr;
    record.pbBuffer = data;
    record.cbBuffer = capacity;
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
        record.pbBuffer != data) {
        return E_INVALIDARG;  // the buffer cannot be exchanged
    }
    if (ORV_CONTAINS_FIELD(cbBuffer, size) && record.cbBuffer != 0 && record.cbBuffer != capacity) {
        return E_INVALIDARG;
    }
    if (ORV_CONTAINS_FIELD(lActual, size) && (record.lActual < 0 || record.lActual > capacity)) {
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
        length = record.lActual;
        if (position > length) {
            position = length;
            ClearBits();
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
    length = 0;
    position = 0;
    user1 = 0;
    user2 = 0;
    user4 = 0;
    streamId = 0;
    ClearBits();
    endFlag = false;
    // A held media type goes with the flag that announces it.
    DropMediaType();
    sampleFlags = 0;
    typeSpecificFlags = 0;
    extStart = 0;
    start = 0;
    stop = 0;
    mediaStart = 0;
    mediaStopOffset = 0;
    data = AlignedBase() + headRoom;
    mark1 = data;
    mark2 = data;
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
    BYTE* oldData = data;
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
    data = newData;
    capacity = bytes;
    return S_OK;
}

HRESULT ICPacket::SetCapacity(LONG bytes) {
    if (bytes < 0) {
        bytes = 0;
    }
    if (bytes == capacity && rawBlock != nullptr) {
        return S_OK;
    }
    HRESULT hr = Reallocate(bytes, bytes < length ? bytes : length);
    if (FAILED(hr)) {
        return hr;
    }
    // Reads and writes never reach past the new end.
    if (length > capacity) {
        length = capacity;
    }
    if (position > capacity) {
        position = capacity;
        ClearBits();
    }
    return S_OK;
}

HRESULT ICPacket::SetHeadRoom(LONG bytes) {
    if (bytes < 0) {
        return E_INVALIDARG;
    }
    if (int64_t(bytes) + capacity > UsableBytes()) {
        // The capacity behind the new data start needs a larger block; the bytes keep their
        // offsets from the aligned base.
        int64_t needed = int64_t(bytes) + capacity + (kAlignment - 1);
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
    data = AlignedBase() + headRoom;
    return S_OK;
}

HRESULT ICPacket::SetData(BYTE* start) {
    BYTE* base = AlignedBase();
    if (start == nullptr || base == nullptr || start < base || start > base + UsableBytes()) {
        return E_INVALIDARG;
    }
    headRoom = LONG(start - base);
    data = start;
    LONG room = UsableBytes() - headRoom;
    if (capacity > room) {
        capacity = room;
    }
    if (length > capacity) {
        length = capacity;
    }
    if (position > capacity) {
        position = capacity;
        ClearBits();
    }
    return S_OK;
}

void ICPacket::SetLength(LONG value) {
    length = value < 0 ? 0 : (value > capacity ? capacity : value);
}

HRESULT ICPacket::SetPosition(LONG value) {
    if (value < 0 || value > capacity) {
        return E_INVALIDARG;
    }
    position = value;
    ClearBits();
    return S_OK;
}

void ICPacket::Seek(LONG value) {
    position = value < 0 ? 0 : (value > length ? length : value);
    ClearBits();
}

// --- IxPacket: bit state

void ICPacket::ClearBits() {
    bitAccumulator = 0;
    bitCount = 0;
    bitsWritten = false;
}

HRESULT ICPacket::AlignBits() {
    if (bitsWritten && bitCount > 0) {
        return FlushBits();
    }
    // Whole bytes the reader fetched but did not use go back to the stream.
    if (!bitsWritten && bitCount >= 8) {
        position -= bitCount / 8;
    }
    ClearBits();
    return S_OK;
}

void ICPacket::SettleWriterBits() {
    if (bitsWritten && bitCount > 0) {
        FlushBits();
    }
}

void ICPacket::RestoreCursor(const CursorState& state) {
    position = state.position;
    bitAccumulator = state.accumulator;
    bitCount = state.count;
    bitsWritten = state.writing;
}

// --- IxPacket: reading

LONG ICPacket::ReadByte() {
    if (position >= length) {
        endFlag = true;
        return -1;
    }
    return data[position++];
}

LONG ICPacket::Read(void* dest, LONG n) {
    AlignBits();
    if (n <= 0) {
        return 0;
    }
    LONG available = GetRemaining();
    if (n > available) {
        endFlag = true;
        n = available;
    }
    if (n <= 0) {
        return 0;
    }
    if (dest != nullptr) {
        std::memcpy(dest, data + position, size_t(n));
    }
    position += n;
    return n;
}

DWORD ICPacket::ReadBitsShort(LONG n) {
    while (bitCount < n) {
        uint32_t byte;
        if (position < length) {
            byte = data[position++];
        } else {
            endFlag = true;
            byte = 0xFF;
        }
        bitAccumulator = (bitAccumulator << 8) | byte;
        bitCount += 8;
    }
    bitCount -= n;
    uint32_t value = LowBits(bitAccumulator >> bitCount, n);
    bitAccumulator = LowBits(bitAccumulator, bitCount);
    return value;
}

DWORD ICPacket::ReadBits(LONG n) {
    if (n <= 0) {
        return 0;
    }
    if (n > 32) {
        n = 32;
    }
    if (bitsWritten && bitCount > 0) {
        FlushBits();
    }
    bitsWritten = false;
    // The 32-bit accumulator holds at most 7 pending bits plus the 24 fetched for one step.
    if (n > 24) {
        uint32_t high = ReadBitsShort(n - 16);
        return (high << 16) | ReadBitsShort(16);
    }
    return ReadBitsShort(n);
}

LONG ICPacket::ReadUInt8() {
    AlignBits();
    return ReadByte();
}

LONG ICPacket::ReadUInt16() {
    AlignBits();
    if (GetRemaining() < 2) {
        endFlag = true;
        return -1;
    }
    LONG value = (data[position] << 8) | data[position + 1];
    position += 2;
    return value;
}

LONGLONG ICPacket::ReadUInt32() {
    AlignBits();
    if (GetRemaining() < 4) {
        endFlag = true;
        return -1;
    }
    const BYTE* p = data + position;
    position += 4;
    return LONGLONG((uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) |
                    uint32_t(p[3]));
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
    SettleWriterBits();
    CursorState state = SaveCursor();
    LONG value = ReadByte();
    RestoreCursor(state);
    return value;
}

LONG ICPacket::Peek(void* dest, LONG n) {
    SettleWriterBits();
    CursorState state = SaveCursor();
    LONG value = Read(dest, n);
    RestoreCursor(state);
    return value;
}

DWORD ICPacket::PeekBits(LONG n) {
    SettleWriterBits();
    CursorState state = SaveCursor();
    DWORD value = ReadBits(n);
    RestoreCursor(state);
    return value;
}

LONG ICPacket::PeekUInt8() {
    SettleWriterBits();
    CursorState state = SaveCursor();
    LONG value = ReadUInt8();
    RestoreCursor(state);
    return value;
}

LONG ICPacket::PeekUInt16() {
    SettleWriterBits();
    CursorState state = SaveCursor();
    LONG value = ReadUInt16();
    RestoreCursor(state);
    return value;
}

LONGLONG ICPacket::PeekUInt32() {
    SettleWriterBits();
    CursorState state = SaveCursor();
    LONGLONG value = ReadUInt32();
    RestoreCursor(state);
    return value;
}

// --- IxPacket: writing

HRESULT ICPacket::Reserve(LONG n) {
    if (n <= capacity - position) {
        return S_OK;
    }
    int64_t needed = int64_t(position) + n;
    if (growUnit < 1 || needed > INT32_MAX) {
        endFlag = true;
        return E_OUTOFMEMORY;
    }
    // The next multiple of the growth unit that holds the data.
    int64_t rounded = (needed + growUnit - 1) / growUnit * growUnit;
    if (rounded + headRoom + kAlignment > INT32_MAX) {
        rounded = needed;
    }
    // Everything up to the old capacity is kept: the position may lie beyond the length.
    HRESULT hr = Reallocate(LONG(rounded), capacity);
    if (FAILED(hr)) {
        endFlag = true;
        return hr;
    }
    return S_OK;
}

HRESULT ICPacket::WriteByte(BYTE value) {
    if (position >= capacity) {
        if (growUnit < 1) {
            endFlag = true;
            return E_OUTOFMEMORY;
        }
        int64_t grown = int64_t(capacity) + growUnit;
        HRESULT hr = grown + headRoom + kAlignment > INT32_MAX ? E_OUTOFMEMORY
                                                               : Reallocate(LONG(grown), capacity);
        if (FAILED(hr)) {
            endFlag = true;
            return hr;
        }
    }
    data[position++] = value;
    length = position;
    return S_OK;
}

HRESULT ICPacket::Write(const void* src, LONG n) {
    HRESULT hr = AlignBits();
    if (FAILED(hr)) {
        return hr;
    }
    if (n < 0) {
        return E_INVALIDARG;
    }
    if (n == 0) {
        return S_OK;
    }
    if (src == nullptr) {
        return E_POINTER;
    }
    // The source may lie in this very buffer, which growing can move.
    const auto* source = static_cast<const BYTE*>(src);
    bool inside = rawBlock != nullptr && source >= rawBlock && source < rawBlock + rawSize;
    ptrdiff_t offset = inside ? source - data : 0;
    hr = Reserve(n);
    if (FAILED(hr)) {
        return hr;
    }
    if (data == nullptr) {
        return E_FAIL;
    }
    if (inside) {
        source = data + offset;
    }
    std::memmove(data + position, source, size_t(n));
    position += n;
    length = position;
    return S_OK;
}

HRESULT ICPacket::WriteBitsShort(DWORD value, LONG n) {
    bitAccumulator = (bitAccumulator << n) | LowBits(value, n);
    bitCount += n;
    bitsWritten = true;
    while (bitCount >= 8) {
        HRESULT hr = WriteByte(BYTE(bitAccumulator >> (bitCount - 8)));
        if (FAILED(hr)) {
            ClearBits();  // the bits cannot be stored anywhere
            return hr;
        }
        bitCount -= 8;
        bitAccumulator = LowBits(bitAccumulator, bitCount);
    }
    return S_OK;
}

HRESULT ICPacket::WriteBits(DWORD value, LONG n) {
    if (n <= 0) {
        return S_OK;
    }
    if (n > 32) {
        n = 32;
    }
    if (!bitsWritten && bitCount > 0) {
        AlignBits();  // the reader's pending bits
    }
    // The accumulator holds at most 7 pending bits plus the 24 added by one step.
    if (n > 24) {
        HRESULT hr = WriteBitsShort(value >> 16, n - 16);
        if (FAILED(hr)) {
            return hr;
        }
        return WriteBitsShort(value & 0xFFFF, 16);
    }
    return WriteBitsShort(value, n);
}

HRESULT ICPacket::WriteUInt8(BYTE value) {
    return Write(&value, 1);
}

HRESULT ICPacket::WriteUInt16(WORD value) {
    BYTE bytes[2] = {BYTE(value >> 8), BYTE(value)};
    return Write(bytes, 2);
}

HRESULT ICPacket::WriteUInt32(DWORD value) {
    BYTE bytes[4] = {BYTE(value >> 24), BYTE(value >> 16), BYTE(value >> 8), BYTE(value)};
    return Write(bytes, 4);
}

HRESULT ICPacket::FlushBits() {
    if (!bitsWritten) {
        return AlignBits();
    }
    HRESULT hr = S_OK;
    while (bitCount >= 8 && SUCCEEDED(hr)) {
        hr = WriteByte(BYTE(bitAccumulator >> (bitCount - 8)));
        bitCount -= 8;
    }
    if (bitCount > 0 && SUCCEEDED(hr)) {
        hr = WriteByte(BYTE(bitAccumulator << (8 - bitCount)));
    }
    ClearBits();
    return hr;
}
