#pragma once

#include "platform/dshow/DShowInterfaces.h"

// The two interfaces a packet offers besides the platform's media sample: a second time pair
// with its own clock rate, and the byte stream with a cursor and a bit reader/writer that the
// modules' parsers and writers use directly.

inline constexpr IID IID_IMediaSampleEx{
    0x5C4B73E4, 0xDBF8, 0x4146, {0xA6, 0xF6, 0x8D, 0x0F, 0x30, 0xFA, 0x4C, 0x41}};
inline constexpr IID IID_IxPacket{
    0xE0A162A8, 0xA04B, 0x4E57, {0xA8, 0x0F, 0x47, 0x28, 0xFF, 0x78, 0xB9, 0xF7}};

// An extended time pair (typically 90 kHz stream ticks) beside the sample's 100 ns times.
class IMediaSampleEx : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IMediaSampleEx;
    // A null pointer leaves that value as it is; the clock rate is always stored.
    virtual HRESULT SetExtTime(LONGLONG* start, LONGLONG* stop, LONG clockRate) = 0;
    // Each output may be null.
    virtual HRESULT GetExtTime(LONGLONG* start, LONGLONG* stop, LONG* clockRate) = 0;

protected:
    ~IMediaSampleEx() = default;
};

// A packet's byte stream.
//
// The data start is the 16-byte aligned base of the buffer plus the head room; the capacity
// counts the usable bytes from the data start, the length the valid ones, and the position is
// the read/write cursor (0..capacity). Reads stop at the length: a read past it sets the end
// flag and returns -1 (byte and word readers) or 0xFF bytes (bit reader). Writing always sets
// the length to the new position (a write in the middle truncates what followed) and grows the
// buffer in growth units; a growth unit below 1 forbids growth, and a write that cannot grow
// sets the end flag and returns E_OUTOFMEMORY.
//
// One 32-bit accumulator serves the bit reader and the bit writer. Byte-aligned operations
// first flush the writer's pending bits, or drop the reader's.
class IxPacket : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IxPacket;

    // Reset, then the other sample's data, media type, times, media times and its
    // discontinuity, splice-point and preroll flags.
    virtual HRESULT CopyFrom(IMediaSample* sample) = 0;
    virtual DWORD GetTag() = 0;
    virtual void SetTag(DWORD tag) = 0;
    virtual LONG GetGrowUnit() = 0;
    virtual void SetGrowUnit(LONG unit) = 0;
    virtual LONG GetCapacity() = 0;
    // Reallocates the buffer keeping min(bytes, length) bytes of data; the marks move with
    // the data. A negative count is 0. E_OUTOFMEMORY when the allocation fails.
    virtual HRESULT SetCapacity(LONG bytes) = 0;
    virtual LONG GetHeadRoom() = 0;
    // Moves the data start to the aligned base + bytes; the bytes in the buffer stay where
    // they are. E_INVALIDARG for a negative count.
    virtual HRESULT SetHeadRoom(LONG bytes) = 0;
    virtual LONG GetLength() = 0;
    // Clamped to [0, capacity].
    virtual void SetLength(LONG length) = 0;
    virtual DWORD GetUser1() = 0;
    virtual void SetUser1(DWORD value) = 0;
    virtual DWORD GetUser2() = 0;
    virtual void SetUser2(DWORD value) = 0;
    // The buffer as allocated, before alignment.
    virtual BYTE* GetRawBlock() = 0;
    virtual BYTE* GetData() = 0;
    // Moves the data start to a place inside the buffer (the head room follows, the capacity
    // shrinks to what is left behind it). E_INVALIDARG for a pointer outside the buffer.
    virtual HRESULT SetData(BYTE* data) = 0;
    virtual BYTE* GetMark1() = 0;
    virtual void SetMark1(BYTE* mark) = 0;
    virtual BYTE* GetMark2() = 0;
    virtual void SetMark2(BYTE* mark) = 0;
    virtual LONG GetPosition() = 0;
    // E_INVALIDARG unless 0 <= position <= capacity. Pending bits are dropped.
    virtual HRESULT SetPosition(LONG position) = 0;
    virtual DWORD GetUser3() = 0;
    virtual void SetUser3(DWORD value) = 0;
    virtual ULONGLONG GetUser64() = 0;
    virtual void SetUser64(ULONGLONG value) = 0;
    virtual LONGLONG GetExtStart() = 0;
    virtual void SetExtStart(LONGLONG start) = 0;
    virtual DWORD GetUser4() = 0;
    virtual void SetUser4(DWORD value) = 0;
    // Empties the packet for refilling: length, position, bit state, end flag, sample flags,
    // times, stream id, extended start and user values 1, 2 and 4 become 0; the data start
    // and both marks go back to the aligned base + head room. User values 3 and 64, the
    // buffer and its bytes stay.
    virtual void Reset() = 0;
    // Position = position clamped to [0, length]; pending bits are dropped.
    virtual void Seek(LONG position) = 0;
    // The next byte, without regard to pending bits; -1 at the end.
    virtual LONG ReadByte() = 0;
    // Copies min(n, remaining) bytes (a null destination skips them); returns the count.
    virtual LONG Read(void* dest, LONG n) = 0;
    // The next n bits, most significant first (n up to 32).
    virtual DWORD ReadBits(LONG n) = 0;
    virtual LONG ReadUInt8() = 0;
    // Big-endian; -1 (and the end flag) when fewer bytes are left.
    virtual LONG ReadUInt16() = 0;
    virtual LONGLONG ReadUInt32() = 0;
    // The 33-bit timestamp of a PES header after its 4-bit prefix: 3 bits, marker, 15 bits,
    // marker, 15 bits, marker.
    virtual LONGLONG ReadTimeStamp() = 0;
    // The readers again, restoring the position and the bit state.
    virtual LONG PeekByte() = 0;
    virtual LONG Peek(void* dest, LONG n) = 0;
    virtual DWORD PeekBits(LONG n) = 0;
    virtual LONG PeekUInt8() = 0;
    virtual LONG PeekUInt16() = 0;
    virtual LONGLONG PeekUInt32() = 0;
    // One byte at the position, growing by one growth unit when full. Pending bits are not
    // flushed: the bit writer emits its bytes through it.
    virtual HRESULT WriteByte(BYTE value) = 0;
    // Grows to the next multiple of the growth unit that holds the data.
    virtual HRESULT Write(const void* src, LONG n) = 0;
    // Appends the low n bits (up to 32) of value; every completed byte is written.
    virtual HRESULT WriteBits(DWORD value, LONG n) = 0;
    virtual HRESULT WriteUInt8(BYTE value) = 0;
    virtual HRESULT WriteUInt16(WORD value) = 0;
    virtual HRESULT WriteUInt32(DWORD value) = 0;
    // Writes the pending bits (a partial byte left-aligned, zero padded) and clears the bit
    // state; the reader's pending bits are dropped instead.
    virtual HRESULT FlushBits() = 0;
    // The data start + the position.
    virtual BYTE* GetCurrent() = 0;
    virtual BOOL IsEnd() = 0;
    // Length - position, never below 0.
    virtual LONG GetRemaining() = 0;

protected:
    ~IxPacket() = default;
};
