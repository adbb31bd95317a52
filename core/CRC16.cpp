#include "core/CRC16.h"

#include <array>

namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 0x8000) ? (value << 1) ^ 0x1021 : value << 1;
        }
        table[i] = static_cast<uint16_t>(value);
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t CalcCRC16(const uint8_t* bytes, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ bytes[i]) & 0xFF]);
    }
    return crc;
}
