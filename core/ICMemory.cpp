#include "core/ICMemory.h"

#include <cstdlib>
#include <cstring>
#include <string>

ICMemory::~ICMemory() {
    std::free(cursor.data);
}

void* ICMemory::Attach(void* newBuffer, int32_t size) {
    Reset();
    void* previous = cursor.data;
    cursor.data = static_cast<uint8_t*>(newBuffer);
    cursor.capacity = cursor.data != nullptr && size > 0 ? size : 0;
    cursor.length = cursor.capacity;
    return previous;
}

void* ICMemory::Detach() {
    Reset();
    void* previous = cursor.data;
    cursor.data = nullptr;
    cursor.capacity = 0;
    return previous;
}

int32_t ICMemory::CopyFrom(const ICMemory& other) {
    if (&other == this) {
        return kICMemoryOk;
    }
    const ICByteCursor& source = other.cursor;
    std::free(cursor.data);
    cursor.data = nullptr;
    cursor.capacity = 0;
    Reset();
    if (source.length > 0) {
        cursor.data = static_cast<uint8_t*>(std::malloc(size_t(source.length)));
        if (cursor.data == nullptr) {
            cursor.endFlag = true;
            return kICMemoryOutOfMemory;
        }
        std::memcpy(cursor.data, source.data, size_t(source.length));
        cursor.capacity = source.length;
    }
    cursor.length = source.length;
    cursor.RestoreState(source.SaveState());
    return kICMemoryOk;
}

int32_t ICMemory::GetCapacity() const {
    return cursor.capacity;
}

int32_t ICMemory::SetCapacity(int32_t n) {
    if (n < 0) {
        n = 0;
    }
    if (n == cursor.capacity) {
        return kICMemoryOk;
    }
    if (n == 0) {
        std::free(cursor.data);
        cursor.data = nullptr;
    } else {
        auto* grown = static_cast<uint8_t*>(std::realloc(cursor.data, size_t(n)));
        if (grown == nullptr) {
            return kICMemoryOutOfMemory;
        }
        cursor.data = grown;
    }
    cursor.capacity = n;
    ICMemory::SetLength(cursor.length);  // clamps the length, and the position with it
    return kICMemoryOk;
}

int32_t ICMemory::GetLength() const {
    return cursor.length;
}

void ICMemory::SetLength(int32_t n) {
    cursor.length = n < 0 ? 0 : (n > cursor.capacity ? cursor.capacity : n);
    if (cursor.position > cursor.length) {
        cursor.position = cursor.length;
        cursor.ClearBits();
    }
}

int32_t ICMemory::GetPosition() const {
    return cursor.position;
}

int32_t ICMemory::SetPosition(int32_t pos) {
    if (pos < 0 || pos > cursor.length) {
        return kICMemoryInvalidArg;
    }
    cursor.position = pos;
    cursor.ClearBits();
    return kICMemoryOk;
}

uint8_t* ICMemory::GetCurrent() {
    return cursor.data != nullptr ? cursor.GetCurrent() : nullptr;
}

void ICMemory::Reset() {
    cursor.Reset();
}

void ICMemory::Seek(int32_t pos) {
    cursor.Seek(pos);
}

int32_t ICMemory::ReadByte() {
    return cursor.ReadByte();
}

int32_t ICMemory::Read(void* dest, int32_t n) {
    return cursor.Read(dest, n);
}

uint32_t ICMemory::ReadBits(int32_t n) {
    return cursor.ReadBits(n);
}

int32_t ICMemory::ReadUInt8() {
    return cursor.ReadUInt8();
}

int32_t ICMemory::ReadUInt16() {
    return cursor.ReadUInt16();
}

int64_t ICMemory::ReadUInt32() {
    return cursor.ReadUInt32();
}

int32_t ICMemory::ReadString(ICString& text, char terminator) {
    cursor.AlignBits();
    text.SetLength(0);
    if (cursor.position >= cursor.length) {
        cursor.endFlag = true;
        return -1;
    }
    const uint8_t* start = cursor.GetCurrent();
    const void* found = std::memchr(start, static_cast<unsigned char>(terminator),
                                    size_t(cursor.length - cursor.position));
    int32_t textLength;
    if (found == nullptr) {
        textLength = cursor.length - cursor.position;
        cursor.position = cursor.length;
        cursor.endFlag = true;
    } else {
        textLength = int32_t(static_cast<const uint8_t*>(found) - start);
        cursor.position += textLength + 1;
        if (terminator == '\r' && cursor.position < cursor.length &&
            cursor.data[cursor.position] == '\n') {
            ++cursor.position;
        }
    }
    text.Set(reinterpret_cast<const char*>(start), size_t(textLength));
    return textLength;
}

int32_t ICMemory::ReadWString(ICWString& text, char16_t terminator) {
    cursor.AlignBits();
    text.SetLength(0);
    if (cursor.GetRemaining() < 2) {
        cursor.endFlag = true;
        return -1;
    }
    const uint8_t* bytes = cursor.data;
    auto unitAt = [bytes](int32_t at) { return char16_t(bytes[at] | (bytes[at + 1] << 8)); };
    std::u16string units;
    bool terminated = false;
    while (cursor.GetRemaining() >= 2) {
        char16_t unit = unitAt(cursor.position);
        cursor.position += 2;
        if (unit == terminator) {
            terminated = true;
            break;
        }
        units.push_back(unit);
    }
    if (!terminated) {
        cursor.position = cursor.length;  // an odd last byte cannot start a unit
        cursor.endFlag = true;
    } else if (terminator == u'\r' && cursor.GetRemaining() >= 2 &&
               unitAt(cursor.position) == u'\n') {
        cursor.position += 2;
    }
    text.Set(units.data(), units.size());
    return int32_t(units.size());
}

int32_t ICMemory::PeekByte() {
    return cursor.PeekByte();
}

int32_t ICMemory::Peek(void* dest, int32_t n) {
    return cursor.Peek(dest, n);
}

uint32_t ICMemory::PeekBits(int32_t n) {
    return cursor.PeekBits(n);
}

int32_t ICMemory::PeekUInt8() {
    return cursor.PeekUInt8();
}

int32_t ICMemory::PeekUInt16() {
    return cursor.PeekUInt16();
}

int64_t ICMemory::PeekUInt32() {
    return cursor.PeekUInt32();
}

int32_t ICMemory::Grow(int32_t n, bool) {
    int64_t grown = ICByteCursor::GrownCapacity(cursor.position, n, growUnit, INT32_MAX);
    if (grown < 0 || SetCapacity(int32_t(grown)) != kICMemoryOk) {
        return kICMemoryOutOfMemory;
    }
    return kICMemoryOk;
}

bool ICMemory::Holds(const uint8_t* bytes) const {
    return cursor.data != nullptr && bytes >= cursor.data && bytes < cursor.data + cursor.capacity;
}

int32_t ICMemory::WriteByte(uint8_t b) {
    return cursor.WriteByte(b);
}

int32_t ICMemory::Write(const void* src, int32_t n) {
    return cursor.Write(src, n);
}

int32_t ICMemory::WriteBits(uint32_t value, int32_t n) {
    return cursor.WriteBits(value, n);
}

int32_t ICMemory::WriteUInt8(uint8_t v) {
    return cursor.WriteUInt8(v);
}

int32_t ICMemory::WriteUInt16(uint16_t v) {
    return cursor.WriteUInt16(v);
}

int32_t ICMemory::WriteUInt32(uint32_t v) {
    return cursor.WriteUInt32(v);
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
    return cursor.FlushBits();
}
