#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace isdbsim {

using Bytes = std::vector<uint8_t>;

// Appends big-endian fields to a byte vector, as every MPEG-2 / ARIB structure is laid out.
// Length fields that are only known later are reserved with a placeholder and patched.
class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(Bytes initial) : bytes(std::move(initial)) {}

    void U8(uint32_t value) { bytes.push_back(static_cast<uint8_t>(value)); }
    void U16(uint32_t value) {
        U8(value >> 8);
        U8(value);
    }
    void U24(uint32_t value) {
        U8(value >> 16);
        U16(value);
    }
    void U32(uint32_t value) {
        U16(value >> 16);
        U16(value);
    }
    void Append(std::span<const uint8_t> data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    void Append(std::string_view text) { bytes.insert(bytes.end(), text.begin(), text.end()); }
    void Fill(uint8_t value, size_t count) { bytes.insert(bytes.end(), count, value); }

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

}  // namespace isdbsim
