#pragma once

#include <cstdint>

// Results of the cursor, numbered like the platform's HRESULTs so that the byte buffer and the
// packet can pass them on unchanged.
inline constexpr int32_t kICByteCursorOk = 0;
inline constexpr int32_t kICByteCursorFail = static_cast<int32_t>(0x80004005);     // E_FAIL
inline constexpr int32_t kICByteCursorPointer = static_cast<int32_t>(0x80004003);  // E_POINTER
inline constexpr int32_t kICByteCursorInvalidArg =
    static_cast<int32_t>(0x80070057);  // E_INVALIDARG
inline constexpr int32_t kICByteCursorOutOfMemory =
    static_cast<int32_t>(0x8007000E);  // E_OUTOFMEMORY

// A big-endian byte and bit reader/writer over a byte buffer that its owner keeps: the cursor
// holds the data pointer, capacity, length, position, the bit state and the end flag, and asks
// its owner's Storage for room when a write reaches the capacity. The owner decides how the
// buffer grows and may move it; it points the cursor at the new buffer before it returns.
//
// Reads past the length set the end flag and return -1 (byte and word readers) or 0xFF bytes
// (bit reader). Writing always sets the length to the new position, so a write in the middle
// truncates what followed.
//
// The bit state is shared by the reader and the writer. Pending bits of the writer are flushed
// before any byte-aligned operation; pending bits of the reader are dropped (whole bytes still
// held go back to the stream).
class ICByteCursor {
public:
    // The owner of the buffer.
    class Storage {
    public:
        // Makes room for n bytes at the cursor's position and updates the cursor's data and
        // capacity; `singleByte` tells a byte write (the bit writer's) from a block write.
        // Returns kICByteCursorOk or the error to report; the cursor sets the end flag.
        virtual int32_t Grow(int32_t n, bool singleByte) = 0;
        // Whether `bytes` lies in the storage, so that a block written from it must be found
        // again after the storage moved.
        virtual bool Holds(const uint8_t* bytes) const = 0;

    protected:
        ~Storage() = default;
    };

    // The position and the bit state, saved around a peek.
    struct State {
        int32_t position;
        uint32_t accumulator;
        int32_t count;
        bool writing;
    };

    explicit ICByteCursor(Storage& storage) : storage(&storage) {}
    ICByteCursor(const ICByteCursor&) = delete;
    ICByteCursor& operator=(const ICByteCursor&) = delete;

    // The capacity a write of n bytes at `at` asks for: the next multiple of `unit` that holds
    // them, or exactly at + n when that multiple would pass `limit`. -1 when the unit is below
    // 1 (growth forbidden) or at + n passes INT32_MAX.
    static int64_t GrownCapacity(int32_t at, int32_t n, int32_t unit, int64_t limit);

    int32_t GetRemaining() const { return length > position ? length - position : 0; }
    uint8_t* GetCurrent() const { return data + position; }

    // Length, position, bit state and end flag become 0.
    void Reset() {
        length = 0;
        position = 0;
        ClearBits();
        endFlag = false;
    }
    // Position = pos clamped to [0, length]; pending bits are dropped.
    void Seek(int32_t pos) {
        position = pos < 0 ? 0 : (pos > length ? length : pos);
        ClearBits();
    }
    void ClearBits() {
        bitAccumulator = 0;
        bitCount = 0;
        bitsWritten = false;
    }
    // Brings the cursor to a byte boundary: flushes the writer's bits, drops the reader's.
    int32_t AlignBits();
    State SaveState() const { return {position, bitAccumulator, bitCount, bitsWritten}; }
    void RestoreState(const State& state) {
        position = state.position;
        bitAccumulator = state.accumulator;
        bitCount = state.count;
        bitsWritten = state.writing;
    }
    // Before a peek: the writer's bits are flushed for good, so restoring cannot repeat them.
    void SettleWriterBits() {
        if (bitsWritten && bitCount > 0) {
            FlushBits();
        }
    }

    // The next byte (pending bits are not looked at), or -1 at the end.
    int32_t ReadByte() {
        if (position >= length) {
            endFlag = true;
            return -1;
        }
        return data[position++];
    }
    // Copies min(n, remaining) bytes (dest may be null to skip them); returns the count.
    int32_t Read(void* dest, int32_t n);
    // The next n bits (at most 32), most significant first.
    uint32_t ReadBits(int32_t n);
    int32_t ReadUInt8() {
        AlignBits();
        return ReadByte();
    }
    // Big-endian; -1 (and the end flag) when fewer bytes are left.
    int32_t ReadUInt16();
    int64_t ReadUInt32();

    // Reads that restore the position and the bit state.
    int32_t PeekByte();
    int32_t Peek(void* dest, int32_t n);
    uint32_t PeekBits(int32_t n);
    int32_t PeekUInt8();
    int32_t PeekUInt16();
    int64_t PeekUInt32();

    // Stores one byte at the position; pending bits are not flushed (the bit writer uses it).
    int32_t WriteByte(uint8_t b) {
        if (position >= capacity) {
            int32_t result = storage->Grow(1, true);
            if (result != kICByteCursorOk) {
                endFlag = true;
                return result;
            }
        }
        data[position++] = b;
        length = position;
        return kICByteCursorOk;
    }
    // Pending bits flushed first; kICByteCursorFail when there is no buffer to write to.
    int32_t Write(const void* src, int32_t n);
    // Appends the low n bits (at most 32) of value; every completed byte is written.
    int32_t WriteBits(uint32_t value, int32_t n);
    int32_t WriteUInt8(uint8_t v);
    int32_t WriteUInt16(uint16_t v);
    int32_t WriteUInt32(uint32_t v);
    // Writes the pending bits, a partial byte left-aligned with zero padding; the bit state is
    // cleared. Pending bits of the reader are dropped instead.
    int32_t FlushBits();

    uint8_t* data = nullptr;
    int32_t capacity = 0;
    int32_t length = 0;
    int32_t position = 0;
    uint32_t bitAccumulator = 0;
    int32_t bitCount = 0;
    // Whether the pending bits were written (true) or read (false).
    bool bitsWritten = false;
    bool endFlag = false;

private:
    uint32_t ReadBitsShort(int32_t n);
    int32_t WriteBitsShort(uint32_t value, int32_t n);

    Storage* storage;
};
