#pragma once

#include <atomic>

#include "core/ICByteCursor.h"
#include "core/ICListItem.h"
#include "platform/dshow/DShowInterfaces.h"
#include "streamfw/IxPacket.h"

class ICMemAllocator;

// The carrier of stream data between and inside the modules: a platform media sample
// (IMediaSample2), an extended sample with a second time pair (IMediaSampleEx) and a byte stream
// with a cursor and a bit reader/writer (IxPacket), all on one reference count. As a list item
// it lies in its allocator's free list while idle.
//
// A packet of an allocator goes back to it when its count falls to 0; a packet without
// allocator deletes itself then. A packet may also be owned directly (created with `new`,
// never referenced, deleted with `delete`), as the modules' section buffers are.
//
// One thread at a time writes a packet (its current holder); only the count is atomic.
class ICPacket : public IMediaSample2,
                 public IMediaSampleEx,
                 public IxPacket,
                 public ICListItem,
                 private ICByteCursor::Storage {
public:
    static constexpr LONG kDefaultGrowUnit = 1024;
    static constexpr LONG kDefaultExtClockRate = 90000;
    static constexpr LONG kAlignment = 16;

    // A packet with `bufferSize` bytes of capacity and the allocator's tag, reference count 0.
    ICPacket(ICMemAllocator* allocator, LONG bufferSize, DWORD tag);
    ICPacket(const ICPacket&) = delete;
    ICPacket& operator=(const ICPacket&) = delete;
    ~ICPacket() override;

    // IUnknown
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IMediaSample
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

    // IMediaSample2
    HRESULT GetProperties(DWORD size, BYTE* properties) override;
    HRESULT SetProperties(DWORD size, const BYTE* properties) override;

    // IMediaSampleEx
    HRESULT SetExtTime(LONGLONG* start, LONGLONG* stop, LONG clockRate) override;
    HRESULT GetExtTime(LONGLONG* start, LONGLONG* stop, LONG* clockRate) override;

    // IxPacket
    HRESULT CopyFrom(IMediaSample* sample) override;
    DWORD GetTag() override { return tag; }
    void SetTag(DWORD value) override { tag = value; }
    LONG GetGrowUnit() override { return growUnit; }
    void SetGrowUnit(LONG unit) override { growUnit = unit; }
    LONG GetCapacity() override { return cursor.capacity; }
    HRESULT SetCapacity(LONG bytes) override;
    LONG GetHeadRoom() override { return headRoom; }
    HRESULT SetHeadRoom(LONG bytes) override;
    LONG GetLength() override { return cursor.length; }
    void SetLength(LONG value) override;
    DWORD GetUser1() override { return user1; }
    void SetUser1(DWORD value) override { user1 = value; }
    DWORD GetUser2() override { return user2; }
    void SetUser2(DWORD value) override { user2 = value; }
    BYTE* GetRawBlock() override { return rawBlock; }
    BYTE* GetData() override { return cursor.data; }
    HRESULT SetData(BYTE* start) override;
    BYTE* GetMark1() override { return mark1; }
    void SetMark1(BYTE* mark) override { mark1 = mark; }
    BYTE* GetMark2() override { return mark2; }
    void SetMark2(BYTE* mark) override { mark2 = mark; }
    LONG GetPosition() override { return cursor.position; }
    HRESULT SetPosition(LONG value) override;
    DWORD GetUser3() override { return user3; }
    void SetUser3(DWORD value) override { user3 = value; }
    ULONGLONG GetUser64() override { return user64; }
    void SetUser64(ULONGLONG value) override { user64 = value; }
    LONGLONG GetExtStart() override { return extStart; }
    void SetExtStart(LONGLONG start) override { extStart = start; }
    DWORD GetUser4() override { return user4; }
    void SetUser4(DWORD value) override { user4 = value; }
    void Reset() override;
    void Seek(LONG value) override;
    LONG ReadByte() override;
    LONG Read(void* dest, LONG n) override;
    DWORD ReadBits(LONG n) override;
    LONG ReadUInt8() override;
    LONG ReadUInt16() override;
    LONGLONG ReadUInt32() override;
    LONGLONG ReadTimeStamp() override;
    LONG PeekByte() override;
    LONG Peek(void* dest, LONG n) override;
    DWORD PeekBits(LONG n) override;
    LONG PeekUInt8() override;
    LONG PeekUInt16() override;
    LONGLONG PeekUInt32() override;
    HRESULT WriteByte(BYTE value) override;
    HRESULT Write(const void* src, LONG n) override;
    HRESULT WriteBits(DWORD value, LONG n) override;
    HRESULT WriteUInt8(BYTE value) override;
    HRESULT WriteUInt16(WORD value) override;
    HRESULT WriteUInt32(DWORD value) override;
    HRESULT FlushBits() override;
    BYTE* GetCurrent() override { return cursor.GetCurrent(); }
    BOOL IsEnd() override { return cursor.endFlag ? TRUE : FALSE; }
    LONG GetRemaining() override { return cursor.GetRemaining(); }

    // Not part of the interfaces: for the allocator and the tests.
    ICMemAllocator* GetAllocator() const { return allocator; }
    ULONG GetReferenceCount() const { return referenceCount.load(std::memory_order_acquire); }
    DWORD GetSampleFlags() const { return sampleFlags; }
    DWORD GetStreamId() const { return streamId; }
    void SetEnd(bool end) { cursor.endFlag = end; }

protected:
    friend class ICMemAllocator;

    // What Release does when the count reaches 0, after the sample properties are cleared:
    // back to the allocator, or deleted.
    virtual void OnFinalRelease();

    BYTE* AlignedBase() const;
    // Bytes usable from the aligned base to the end of the raw block.
    LONG UsableBytes() const;
    // A new raw block with room for `headRoom + bytes`, keeping `keep` bytes from the data start.
    HRESULT Reallocate(LONG bytes, LONG keep);
    // ICByteCursor::Storage: a byte write grows the capacity by one growth unit, a block write
    // to the next multiple of the growth unit that holds it; the block moves.
    HRESULT Grow(int32_t n, bool singleByte) override;
    bool Holds(const uint8_t* bytes) const override;
    void DropMediaType();
    // S_OK when the sample flag is set, else S_FALSE; and setting or clearing it.
    HRESULT FlagResult(DWORD flag) const { return (sampleFlags & flag) ? S_OK : S_FALSE; }
    void SetFlag(DWORD flag, BOOL value) {
        sampleFlags = value ? (sampleFlags | flag) : (sampleFlags & ~flag);
    }

    // --- life
    std::atomic<ULONG> referenceCount{0};
    ICMemAllocator* allocator;
    DWORD tag;
    bool inFreeList = false;  // guarded by the allocator's free-list lock

    // --- sample
    DWORD sampleFlags = 0;
    DWORD typeSpecificFlags = 0;
    DWORD streamId = 0;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    LONGLONG mediaStart = 0;
    LONG mediaStopOffset = 0;  // media stop - media start
    AM_MEDIA_TYPE* mediaType = nullptr;

    // --- extension
    LONGLONG extStart = 0;
    LONGLONG extStop = 0;
    LONG extClockRate = kDefaultExtClockRate;

    // --- buffer
    BYTE* rawBlock = nullptr;
    LONG rawSize = 0;
    LONG headRoom = 0;
    // The data start, capacity, length, position, bit state and end flag.
    ICByteCursor cursor{*this};
    LONG growUnit = kDefaultGrowUnit;
    BYTE* mark1 = nullptr;
    BYTE* mark2 = nullptr;

    // --- user values
    DWORD user1 = 0;
    DWORD user2 = 0;
    DWORD user3 = 0;
    DWORD user4 = 0;
    ULONGLONG user64 = 0;
};
