#include "core/ICByteCursor.h"

#include <cstddef>
#include <cstring>

namespace {

uint32_t LowBits(uint32_t value, int32_t n) {
    return n >= 32 ? value : value & ((1u << n) - 1u);
}

}  // namespace

int64_t ICByteCursor::GrownCapacity(int32_t at, int32_t n, int32_t unit, int64_t limit) {
    int64_t needed = int64_t(at) + n;
    if (unit < 1 || needed > INT32_MAX) {
        return -1;
    }
    int64_t rounded = (needed + unit - 1) / unit * unit;
    return rounded > limit ? needed : rounded;
}

int32_t ICByteCursor::AlignBits() {
    if (bitsWritten && bitCount > 0) {
        return FlushBits();
    }
    // The reader fetches a byte only when it needs its bits, so it holds fewer than 8 and every
    // byte they came from is behind the position; should whole bytes be held, they go back.
    if (!bitsWritten && bitCount >= 8) {
        position -= bitCount / 8;
    }
    ClearBits();
    return kICByteCursorOk;
}

// --- reading

int32_t ICByteCursor::Read(void* dest, int32_t n) {
    AlignBits();
    if (n <= 0) {
        return 0;
    }
    int32_t available = GetRemaining();
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

uint32_t ICByteCursor::ReadBitsShort(int32_t n) {
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

uint32_t ICByteCursor::ReadBits(int32_t n) {
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

int32_t ICByteCursor::ReadUInt16() {
    AlignBits();
    if (GetRemaining() < 2) {
        endFlag = true;
        return -1;
    }
    int32_t value = (data[position] << 8) | data[position + 1];
    position += 2;
    return value;
}

int64_t ICByteCursor::ReadUInt32() {
    AlignBits();
    if (GetRemaining() < 4) {
        endFlag = true;
        return -1;
    }
    const uint8_t* p = data + position;
    position += 4;
    return int64_t((uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) |
                   uint32_t(p[3]));
}

int32_t ICByteCursor::PeekByte() {
    SettleWriterBits();
    State state = SaveState();
    int32_t value = ReadByte();
    RestoreState(state);
    return value;
}

int32_t ICByteCursor::Peek(void* dest, int32_t n) {
    SettleWriterBits();
    State state = SaveState();
    int32_t value = Read(dest, n);
    RestoreState(state);
    return value;
}

uint32_t ICByteCursor::PeekBits(int32_t n) {
    SettleWriterBits();
    State state = SaveState();
    uint32_t value = ReadBits(n);
    RestoreState(state);
    return value;
}

int32_t ICByteCursor::PeekUInt8() {
    SettleWriterBits();
    State state = SaveState();
    int32_t value = ReadUInt8();
    RestoreState(state);
    return value;
}

int32_t ICByteCursor::PeekUInt16() {
    SettleWriterBits();
    State state = SaveState();
    int32_t value = ReadUInt16();
    RestoreState(state);
    return value;
}

int64_t ICByteCursor::PeekUInt32() {
    SettleWriterBits();
    State state = SaveState();
    int64_t value = ReadUInt32();
    RestoreState(state);
    return value;
}

// --- writing

int32_t ICByteCursor::Write(const void* src, int32_t n) {
    int32_t result = AlignBits();
    if (result != kICByteCursorOk) {
        return result;
    }
    if (n < 0) {
        return kICByteCursorInvalidArg;
    }
    if (n == 0) {
        return kICByteCursorOk;
    }
    if (src == nullptr) {
        return kICByteCursorPointer;
    }
    const auto* source = static_cast<const uint8_t*>(src);
    if (n > capacity - position) {
        // The source may lie in this very storage, which growing can move.
        bool inside = storage->Holds(source);
        ptrdiff_t offset = inside ? source - data : 0;
        result = storage->Grow(n, false);
        if (result != kICByteCursorOk) {
            endFlag = true;
            return result;
        }
        if (inside) {
            source = data + offset;
        }
    }
    if (data == nullptr) {
        return kICByteCursorFail;
    }
    std::memmove(data + position, source, size_t(n));
    position += n;
    length = position;
    return kICByteCursorOk;
}

int32_t ICByteCursor::WriteBitsShort(uint32_t value, int32_t n) {
    bitAccumulator = (bitAccumulator << n) | LowBits(value, n);
    bitCount += n;
    bitsWritten = true;
    while (bitCount >= 8) {
        int32_t result = WriteByte(uint8_t(bitAccumulator >> (bitCount - 8)));
        if (result != kICByteCursorOk) {
            ClearBits();  // the bits cannot be stored anywhere
            return result;
        }
        bitCount -= 8;
        bitAccumulator = LowBits(bitAccumulator, bitCount);
    }
    return kICByteCursorOk;
}

int32_t ICByteCursor::WriteBits(uint32_t value, int32_t n) {
    if (n <= 0) {
        return kICByteCursorOk;
    }
    if (n > 32) {
        n = 32;
    }
    if (!bitsWritten && bitCount > 0) {
        AlignBits();  // the reader's pending bits
    }
    // The accumulator holds at most 7 pending bits plus the 24 added by one step.
    if (n > 24) {
        int32_t result = WriteBitsShort(value >> 16, n - 16);
        if (result != kICByteCursorOk) {
            return result;
        }
        return WriteBitsShort(value & 0xFFFF, 16);
    }
    return WriteBitsShort(value, n);
}

int32_t ICByteCursor::WriteUInt8(uint8_t v) {
    return Write(&v, 1);
}

int32_t ICByteCursor::WriteUInt16(uint16_t v) {
    uint8_t bytes[2] = {uint8_t(v >> 8), uint8_t(v)};
    return Write(bytes, 2);
}

int32_t ICByteCursor::WriteUInt32(uint32_t v) {
    uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    return Write(bytes, 4);
}

int32_t ICByteCursor::FlushBits() {
    if (!bitsWritten) {
        return AlignBits();
    }
    int32_t result = kICByteCursorOk;
    while (bitCount >= 8 && result == kICByteCursorOk) {
        result = WriteByte(uint8_t(bitAccumulator >> (bitCount - 8)));
        bitCount -= 8;
    }
    if (bitCount > 0 && result == kICByteCursorOk) {
        result = WriteByte(uint8_t(bitAccumulator << (8 - bitCount)));
    }
    ClearBits();
    return result;
}
