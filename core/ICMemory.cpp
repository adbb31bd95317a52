#include "core/ICMemory.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

uint32_t LowBits(uint32_t value, int32_t n) {
    return n >= 32 ? value : value & ((1u << n) - 1u);
}

}  // namespace

ICMemory::~ICMemory() {
    std::free(buffer);
}

void* ICMemory::Attach(void* newBuffer, int32_t size) {
    Reset();
    void* previous = buffer;
    buffer = static_cast<uint8_t*>(newBuffer);
    capacity = buffer != nullptr && size > 0 ? size : 0;
    length = capacity;
    return previous;
}

void* ICMemory::Detach() {
    Reset();
    void* previous = buffer;
    buffer = nullptr;
    capacity = 0;
    return previous;
}

int32_t ICMemory::CopyFrom(const ICMemory& other) {
    if (&other == this) {
        return kICMemoryOk;
    }
    std::free(buffer);
    buffer = nullptr;
    capacity = 0;
    Reset();
    if (other.length > 0) {
        buffer = static_cast<uint8_t*>(std::malloc(size_t(other.length)));
        if (buffer == nullptr) {
            endFlag = true;
            return kICMemoryOutOfMemory;
        }
        std::memcpy(buffer, other.buffer, size_t(other.length));
        capacity = other.length;
    }
    length = other.length;
    position = other.position;
    bitAccumulator = other.bitAccumulator;
    bitCount = other.bitCount;
    bitsWritten = other.bitsWritten;
    return kICMemoryOk;
}

int32_t ICMemory::GetCapacity() const {
    return capacity;
}

int32_t ICMemory::SetCapacity(int32_t n) {
    if (n < 0) {
        n = 0;
    }
    if (n == capacity) {
        return kICMemoryOk;
    }
    if (n == 0) {
        std::free(buffer);
        buffer = nullptr;
    } else {
        auto* grown = static_cast<uint8_t*>(std::realloc(buffer, size_t(n)));
        if (grown == nullptr) {
            return kICMemoryOutOfMemory;
        }
        buffer = grown;
    }
    capacity = n;
    if (length > capacity) {
        length = capacity;
    }
    if (position > length) {
        position = length;
        ClearBits();
    }
    return kICMemoryOk;
}

int32_t ICMemory::GetLength() const {
    return length;
}

void ICMemory::SetLength(int32_t n) {
    length = n < 0 ? 0 : (n > capacity ? capacity : n);
    if (position > length) {
        position = length;
        ClearBits();
    }
}

int32_t ICMemory::GetPosition() const {
    return position;
}

int32_t ICMemory::SetPosition(int32_t pos) {
    if (pos < 0 || pos > length) {
        return kICMemoryInvalidArg;
    }
    position = pos;
    ClearBits();
    return kICMemoryOk;
}

uint8_t* ICMemory::GetCurrent() {
    return buffer != nullptr ? buffer + position : nullptr;
}

void ICMemory::Reset() {
    length = 0;
    position = 0;
    ClearBits();
    endFlag = false;
}

void ICMemory::Seek(int32_t pos) {
    position = pos < 0 ? 0 : (pos > length ? length : pos);
    ClearBits();
}

void ICMemory::ClearBits() {
    bitAccumulator = 0;
    bitCount = 0;
    bitsWritten = false;
}

int32_t ICMemory::AlignBits() {
    if (bitsWritten && bitCount > 0) {
        return FlushBits();
    }
    // The reader fetches a byte only when it needs its bits, so fewer than 8 bits are pending
    // and every byte they came from is already behind the position: dropping them aligns.
    ClearBits();
    return kICMemoryOk;
}

void ICMemory::SettleWriterBits() {
    if (bitsWritten && bitCount > 0) {
        FlushBits();
    }
}

ICMemory::BitState ICMemory::SaveState() const {
    return {position, bitAccumulator, bitCount, bitsWritten};
}

void ICMemory::RestoreState(const BitState& state) {
    position = state.position;
    bitAccumulator = state.accumulator;
    bitCount = state.count;
    bitsWritten = state.writing;
}

int32_t ICMemory::ReadByte() {
    if (position >= length) {
        endFlag = true;
        return -1;
    }
    return buffer[position++];
}

int32_t ICMemory::Read(void* dest, int32_t n) {
    AlignBits();
    if (n <= 0) {
        return 0;
    }
    int32_t available = length - position;
    if (n > available) {
        endFlag = true;
        n = available;
    }
    if (n <= 0) {
        return 0;
    }
    if (dest != nullptr) {
        std::memcpy(dest, buffer + position, size_t(n));
    }
    position += n;
    return n;
}

uint32_t ICMemory::ReadBitsShort(int32_t n) {
    while (bitCount < n) {
        uint32_t byte;
        if (position < length) {
            byte = buffer[position++];
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

uint32_t ICMemory::ReadBits(int32_t n) {
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
    // The accumulator holds at most 7 pending bits plus the 24 fetched for one call.
    if (n > 24) {
        uint32_t high = ReadBitsShort(n - 16);
        return (high << 16) | ReadBitsShort(16);
    }
    return ReadBitsShort(n);
}

int32_t ICMemory::ReadUInt8() {
    AlignBits();
    return ReadByte();
}

int32_t ICMemory::ReadUInt16() {
    AlignBits();
    if (length - position < 2) {
        endFlag = true;
        return -1;
    }
    int32_t value = (buffer[position] << 8) | buffer[position + 1];
    position += 2;
    return value;
}

int64_t ICMemory::ReadUInt32() {
    AlignBits();
    if (length - position < 4) {
        endFlag = true;
        return -1;
    }
    const uint8_t* p = buffer + position;
    position += 4;
    return int64_t((uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) |
                   uint32_t(p[3]));
}

int32_t ICMemory::ReadString(ICString& text, char terminator) {
    AlignBits();
    text.SetLength(0);
    if (position >= length) {
        endFlag = true;
        return -1;
    }
    const uint8_t* start = buffer + position;
    const void* found =
        std::memchr(start, static_cast<unsigned char>(terminator), size_t(length - position));
    int32_t textLength;
    if (found == nullptr) {
        textLength = length - position;
        position = length;
        endFlag = true;
    } else {
        textLength = int32_t(static_cast<const uint8_t*>(found) - start);
        position += textLength + 1;
        if (terminator == '\r' && position < length && buffer[position] == '\n') {
            ++position;
        }
    }
    text.Set(reinterpret_cast<const char*>(start), size_t(textLength));
    return textLength;
}

int32_t ICMemory::ReadWString(ICWString& text, char16_t terminator) {
    AlignBits();
    text.SetLength(0);
    if (length - position < 2) {
        endFlag = true;
        return -1;
    }
    auto unitAt = [this](int32_t at) { return char16_t(buffer[at] | (buffer[at + 1] << 8)); };
    std::u16string units;
    bool terminated = false;
    while (length - position >= 2) {
        char16_t unit = unitAt(position);
        position += 2;
        if (unit == terminator) {
            terminated = true;
            break;
        }
        units.push_back(unit);
    }
    if (!terminated) {
        position = length;  // an odd last byte cannot start a unit
        endFlag = true;
    } else if (terminator == u'\r' && length - position >= 2 && unitAt(position) == u'\n') {
        position += 2;
    }
    text.Set(units.data(), units.size());
    return int32_t(units.size());
}

int32_t ICMemory::PeekByte() {
    SettleWriterBits();
    BitState state = SaveState();
    int32_t value = ReadByte();
    RestoreState(state);
    return value;
}

int32_t ICMemory::Peek(void* dest, int32_t n) {
    SettleWriterBits();
    BitState state = SaveState();
    int32_t value = Read(dest, n);
    RestoreState(state);
    return value;
}

uint32_t ICMemory::PeekBits(int32_t n) {
    SettleWriterBits();
    BitState state = SaveState();
    uint32_t value = ReadBits(n);
    RestoreState(state);
    return value;
}

int32_t ICMemory::PeekUInt8() {
    SettleWriterBits();
    BitState state = SaveState();
    int32_t value = ReadUInt8();
    RestoreState(state);
    return value;
}

int32_t ICMemory::PeekUInt16() {
    SettleWriterBits();
    BitState state = SaveState();
    int32_t value = ReadUInt16();
    RestoreState(state);
    return value;
}

int64_t ICMemory::PeekUInt32() {
    SettleWriterBits();
    BitState state = SaveState();
    int64_t value = ReadUInt32();
    RestoreState(state);
    return value;
}

int32_t ICMemory::Reserve(int32_t n) {
    if (n <= capacity - position) {
        return kICMemoryOk;
    }
    int64_t needed = int64_t(position) + n;
    if (growUnit < 1 || needed > INT32_MAX) {
        endFlag = true;
        return kICMemoryOutOfMemory;
    }
    // The next multiple of the growth unit that holds the data.
    int64_t rounded = (needed + growUnit - 1) / growUnit * growUnit;
    if (rounded > INT32_MAX) {
        rounded = needed;
    }
    if (SetCapacity(int32_t(rounded)) != kICMemoryOk) {
        endFlag = true;
        return kICMemoryOutOfMemory;
    }
    return kICMemoryOk;
}

int32_t ICMemory::WriteByte(uint8_t b) {
    int32_t result = Reserve(1);
    if (result != kICMemoryOk) {
        return result;
    }
    buffer[position++] = b;
    length = position;
    return kICMemoryOk;
}

int32_t ICMemory::Write(const void* src, int32_t n) {
    int32_t result = AlignBits();
    if (result != kICMemoryOk) {
        return result;
    }
    if (n < 0) {
        return kICMemoryInvalidArg;
    }
    if (n == 0) {
        return kICMemoryOk;
    }
    if (src == nullptr) {
        return kICMemoryPointer;
    }
    // The source may lie in this very buffer, which growing can move.
    const auto* source = static_cast<const uint8_t*>(src);
    ptrdiff_t inside = -1;
    if (buffer != nullptr && source >= buffer && source < buffer + capacity) {
        inside = source - buffer;
    }
    result = Reserve(n);
    if (result != kICMemoryOk) {
        return result;
    }
    if (inside >= 0) {
        source = buffer + inside;
    }
    std::memmove(buffer + position, source, size_t(n));
    position += n;
    length = position;
    return kICMemoryOk;
}

int32_t ICMemory::WriteBitsShort(uint32_t value, int32_t n) {
    bitAccumulator = (bitAccumulator << n) | LowBits(value, n);
    bitCount += n;
    bitsWritten = true;
    while (bitCount >= 8) {
        int32_t result = WriteByte(uint8_t(bitAccumulator >> (bitCount - 8)));
        if (result != kICMemoryOk) {
            ClearBits();  // the bits cannot be stored anywhere
            return result;
        }
        bitCount -= 8;
        bitAccumulator = LowBits(bitAccumulator, bitCount);
    }
    return kICMemoryOk;
}

int32_t ICMemory::WriteBits(uint32_t value, int32_t n) {
    if (n <= 0) {
        return kICMemoryOk;
    }
    if (n > 32) {
        n = 32;
    }
    if (!bitsWritten && bitCount > 0) {
        AlignBits();  // the reader's pending bits
    }
    // The accumulator holds at most 7 pending bits plus the 24 added by one call.
    if (n > 24) {
        int32_t result = WriteBitsShort(value >> 16, n - 16);
        if (result != kICMemoryOk) {
            return result;
        }
        return WriteBitsShort(value & 0xFFFF, 16);
    }
    return WriteBitsShort(value, n);
}

int32_t ICMemory::WriteUInt8(uint8_t v) {
    return Write(&v, 1);
}

int32_t ICMemory::WriteUInt16(uint16_t v) {
    uint8_t bytes[2] = {uint8_t(v >> 8), uint8_t(v)};
    return Write(bytes, 2);
}

int32_t ICMemory::WriteUInt32(uint32_t v) {
    uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    return Write(bytes, 4);
}

namespace {

// UTF-16 text as little-endian bytes, with an optional terminating zero unit.
std::string LittleEndianUnits(const char16_t* text, size_t count, bool withTerminator) {
    std::string bytes;
    bytes.reserve((count + 1) * 2);
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(char(text[i] & 0xFF));
        bytes.push_back(char(text[i] >> 8));
    }
    if (withTerminator) {
        bytes.append(2, '\0');
    }
    return bytes;
}

}  // namespace

int32_t ICMemory::WriteWString(const ICWString& text, bool withTerminator) {
    std::string bytes = LittleEndianUnits(text.GetText(), size_t(text.GetLength()), withTerminator);
    return Write(bytes.data(), int32_t(bytes.size()));
}

int32_t ICMemory::WriteString(const ICString& text, bool withTerminator) {
    int32_t result = Write(text.GetText(), text.GetLength());
    if (result == kICMemoryOk && withTerminator) {
        result = WriteUInt8(0);
    }
    return result;
}

int32_t ICMemory::WriteText(const char16_t* text, bool withTerminator) {
    size_t count = text != nullptr ? std::char_traits<char16_t>::length(text) : 0;
    std::string bytes = LittleEndianUnits(text, count, withTerminator);
    return Write(bytes.data(), int32_t(bytes.size()));
}

int32_t ICMemory::WriteText(const char* text, bool withTerminator) {
    size_t count = text != nullptr ? std::strlen(text) : 0;
    int32_t result = Write(text, int32_t(count));
    if (result == kICMemoryOk && withTerminator) {
        result = WriteUInt8(0);
    }
    return result;
}

int32_t ICMemory::FlushBits() {
    if (!bitsWritten) {
        return AlignBits();
    }
    int32_t result = kICMemoryOk;
    while (bitCount >= 8 && result == kICMemoryOk) {
        result = WriteByte(uint8_t(bitAccumulator >> (bitCount - 8)));
        bitCount -= 8;
    }
    if (bitCount > 0 && result == kICMemoryOk) {
        result = WriteByte(uint8_t(bitAccumulator << (8 - bitCount)));
    }
    ClearBits();
    return result;
}
