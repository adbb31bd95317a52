#pragma once

#include <cstdint>

#include "core/ICByteCursor.h"
#include "core/ICListItem.h"
#include "core/ICString.h"
#include "core/ICWString.h"

// Result values of ICMemory, numbered like the platform's HRESULTs so that callers can pass
// them on unchanged.
inline constexpr int32_t kICMemoryOk = kICByteCursorOk;
inline constexpr int32_t kICMemoryFail = kICByteCursorFail;                // E_FAIL
inline constexpr int32_t kICMemoryPointer = kICByteCursorPointer;          // E_POINTER
inline constexpr int32_t kICMemoryInvalidArg = kICByteCursorInvalidArg;    // E_INVALIDARG
inline constexpr int32_t kICMemoryOutOfMemory = kICByteCursorOutOfMemory;  // E_OUTOFMEMORY

// A growable byte buffer with a read/write cursor, big-endian typed readers and writers, a bit
// reader/writer and text reading. Invariant: 0 <= position <= length <= capacity.
//
// Reads past the data set the end flag and return -1 (byte and word readers) or 0xFF bytes
// (bit reader); callers test IsEnd() after parsing a structure. Writing always sets the length
// to the new position, so a write in the middle truncates what followed. A write that needs
// more room grows the buffer in growth units; a unit below 1 forbids growth, and such a write
// (or one whose allocation fails) sets the end flag and returns kICMemoryOutOfMemory.
//
// The bit state is shared by the reader and the writer. Pending bits of the writer are flushed
// before any byte-aligned operation; pending bits of the reader (always fewer than 8, since it
// fetches a byte only when it needs one) are dropped. UTF-16 text is stored in little-endian
// code units.
//
// Buffers are allocated with std::malloc: a buffer given to Attach must come from it, and one
// returned by Attach or Detach is freed with std::free.
class ICMemory : public ICListItem, private ICByteCursor::Storage {
public:
    static constexpr int32_t kDefaultGrowUnit = 1024;

    ICMemory() = default;
    explicit ICMemory(int32_t growUnit) : growUnit(growUnit) {}
    ICMemory(const ICMemory&) = delete;
    ICMemory& operator=(const ICMemory&) = delete;

    ~ICMemory() override;
    // Resets, takes `buffer` (length = capacity = size) and returns the previous buffer, which
    // the caller now owns.
    virtual void* Attach(void* buffer, int32_t size);
    // Resets and gives the buffer to the caller; capacity and length become 0.
    virtual void* Detach();
    // Replaces the contents with a copy of the other's data, length, position and bit state.
    virtual int32_t CopyFrom(const ICMemory& other);
    virtual int32_t GetCapacity() const;
    // Reallocates, keeping the data; a shrink below the length shortens the data.
    virtual int32_t SetCapacity(int32_t n);
    virtual int32_t GetLength() const;
    // Clamped to [0, capacity]; the position follows a shorter length.
    virtual void SetLength(int32_t n);
    virtual int32_t GetPosition() const;
    // kICMemoryInvalidArg unless 0 <= pos <= length. Pending bits are dropped.
    virtual int32_t SetPosition(int32_t pos);
    // The buffer at the position.
    virtual uint8_t* GetCurrent();
    // Length, position, bit state and end flag become 0; the buffer is kept.
    virtual void Reset();
    // Position = pos clamped to [0, length]; pending bits are dropped.
    virtual void Seek(int32_t pos);
    // The next byte (pending bits are not looked at), or -1 at the end.
    virtual int32_t ReadByte();
    // Copies min(n, remaining) bytes (dest may be null to skip them); returns the count.
    virtual int32_t Read(void* dest, int32_t n);
    // The next n bits (at most 32), most significant first; bytes past the end read as 0xFF.
    virtual uint32_t ReadBits(int32_t n);
    virtual int32_t ReadUInt8();
    // Big-endian; -1 (and the end flag) when fewer bytes are left.
    virtual int32_t ReadUInt16();
    virtual int64_t ReadUInt32();
    // The text up to `terminator` (not included); the cursor moves past the terminator, and a
    // carriage-return terminator also swallows a following line feed. Returns the length of the
    // text, or -1 when nothing was left. Running out before a terminator sets the end flag.
    virtual int32_t ReadString(ICString& text, char terminator = '\0');
    virtual int32_t ReadWString(ICWString& text, char16_t terminator = u'\0');
    // Reads that restore the position and the bit state.
    virtual int32_t PeekByte();
    virtual int32_t Peek(void* dest, int32_t n);
    virtual uint32_t PeekBits(int32_t n);
    virtual int32_t PeekUInt8();
    virtual int32_t PeekUInt16();
    virtual int64_t PeekUInt32();
    // Stores one byte at the position (pending bits are not flushed: the bit writer uses it).
    virtual int32_t WriteByte(uint8_t b);
    virtual int32_t Write(const void* src, int32_t n);
    // Appends the low n bits (at most 32) of value; every completed byte is written.
    virtual int32_t WriteBits(uint32_t value, int32_t n);
    virtual int32_t WriteUInt8(uint8_t v);
    virtual int32_t WriteUInt16(uint16_t v);
    virtual int32_t WriteUInt32(uint32_t v);
    virtual int32_t WriteWString(const ICWString& text, bool withTerminator);
    virtual int32_t WriteString(const ICString& text, bool withTerminator);
    virtual int32_t WriteText(const char16_t* text, bool withTerminator);
    virtual int32_t WriteText(const char* text, bool withTerminator);
    // Writes the pending bits, a partial byte left-aligned with zero padding; the bit state is
    // cleared. Pending bits of the reader are dropped instead.
    virtual int32_t FlushBits();

    int32_t GetGrowUnit() const { return growUnit; }
    void SetGrowUnit(int32_t unit) { growUnit = unit; }
    uint8_t* GetData() { return cursor.data; }
    const uint8_t* GetData() const { return cursor.data; }
    int32_t GetRemaining() const { return cursor.GetRemaining(); }
    bool IsEnd() const { return cursor.endFlag; }
    void SetEnd(bool end) { cursor.endFlag = end; }

private:
    // ICByteCursor::Storage: a write that needs room grows the buffer to the next multiple of
    // the growth unit that holds it (a byte write too).
    int32_t Grow(int32_t n, bool singleByte) override;
    bool Holds(const uint8_t* bytes) const override;

    // The buffer (owned, from std::malloc), its capacity, the length, the position and the bit
    // state.
    ICByteCursor cursor{*this};
    int32_t growUnit = kDefaultGrowUnit;
};
