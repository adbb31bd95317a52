#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

// streamkit: writers of the structures a transport stream is made of (fields, descriptors,
// sections, PES and TS packets, ARIB times), shared by the simulator, sidump and the tests that
// build their own input. One function per structure; none of it belongs in product code.
namespace streamkit {

using Bytes = std::vector<uint8_t>;

// Appends big-endian fields to a byte vector, as every MPEG-2 / ARIB structure is laid out.
// Length fields that are only known later are either written around their data (Counted,
// Loop) or reserved with a placeholder and patched.
class ByteWriter {
public:
    ByteWriter() { bytes.reserve(256); }
    explicit ByteWriter(Bytes initial) : bytes(std::move(initial)) {}

    ByteWriter& U8(uint32_t value) {
        bytes.push_back(static_cast<uint8_t>(value));
        return *this;
    }
    ByteWriter& U16(uint32_t value) { return U8(value >> 8).U8(value); }
    ByteWriter& U24(uint32_t value) { return U8(value >> 16).U16(value); }
    ByteWriter& U32(uint32_t value) { return U16(value >> 16).U16(value); }
    ByteWriter& Append(std::span<const uint8_t> data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    ByteWriter& Append(std::string_view text) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    ByteWriter& Fill(uint8_t value, size_t count) {
        bytes.insert(bytes.end(), count, value);
        return *this;
    }
    // An 8-bit length followed by the data.
    ByteWriter& Counted(const Bytes& data) {
        return U8(static_cast<uint32_t>(data.size())).Append(data);
    }
    // A 16-bit field with `high` in its top four bits (reserved bits or flags) and the data's
    // 12-bit length below, then the data: the layout of every descriptor loop.
    ByteWriter& Loop(const Bytes& data, uint32_t high = 0xF) {
        return U16(high << 12 | (static_cast<uint32_t>(data.size()) & 0x0FFF)).Append(data);
    }

    size_t Size() const { return bytes.size(); }

    // Patches a 12-bit length into the low bits of the 16-bit field at `offset`, keeping the
    // four high bits already written there (reserved bits or flags).
    void Patch12(size_t offset, size_t length) {
        bytes[offset] = static_cast<uint8_t>((bytes[offset] & 0xF0) | ((length >> 8) & 0x0F));
        bytes[offset + 1] = static_cast<uint8_t>(length);
    }
    void Patch8(size_t offset, size_t value) { bytes[offset] = static_cast<uint8_t>(value); }
    void Patch16(size_t offset, size_t value) {
        bytes[offset] = static_cast<uint8_t>(value >> 8);
        bytes[offset + 1] = static_cast<uint8_t>(value);
    }
    void Patch24(size_t offset, size_t value) {
        bytes[offset] = static_cast<uint8_t>(value >> 16);
        Patch16(offset + 1, value);
    }

    Bytes& Data() { return bytes; }
    const Bytes& Data() const { return bytes; }
    Bytes Take() { return std::move(bytes); }

private:
    Bytes bytes;
};

// The parts one after the other.
inline Bytes Concat(std::initializer_list<std::span<const uint8_t>> parts) {
    ByteWriter out;
    for (std::span<const uint8_t> part : parts) {
        out.Append(part);
    }
    return out.Take();
}

// One descriptor: tag, 8-bit length, body. A body longer than 255 bytes is cut to the length
// the field can give.
inline void Descriptor(ByteWriter& out, uint8_t tag, const Bytes& body) {
    const size_t length = std::min<size_t>(body.size(), 255);
    out.U8(tag).U8(static_cast<uint32_t>(length)).Append(std::span(body).first(length));
}
inline Bytes Descriptor(uint8_t tag, const Bytes& body) {
    ByteWriter out;
    Descriptor(out, tag, body);
    return out.Take();
}

}  // namespace streamkit
