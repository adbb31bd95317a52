#include "core/CRC32.h"

#include <array>

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7;
constexpr int kSlices = 8;

// Slicing tables: kTables[0][b] is the CRC register after shifting the byte b through it from
// the top; kTables[k][b] is the same byte followed by k zero bytes. Eight bytes then take eight
// look-ups instead of 64 shifts.
using Tables = std::array<std::array<uint32_t, 256>, kSlices>;

constexpr Tables MakeTables() {
    Tables tables{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t crc = byte << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000) != 0 ? (crc << 1) ^ kPolynomial : crc << 1;
        }
        tables[0][byte] = crc;
    }
    for (int slice = 1; slice < kSlices; ++slice) {
        for (uint32_t byte = 0; byte < 256; ++byte) {
            uint32_t previous = tables[slice - 1][byte];
            tables[slice][byte] = (previous << 8) ^ tables[0][previous >> 24];
        }
    }
    return tables;
}

constexpr Tables kTables = MakeTables();

inline uint32_t LoadBigEndian(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

uint32_t CalcCRC32(const void* data, size_t length) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint32_t crc = 0xFFFFFFFF;
    while (length >= kSlices) {
        uint32_t high = crc ^ LoadBigEndian(p);
        uint32_t low = LoadBigEndian(p + 4);
        crc = kTables[7][high >> 24] ^ kTables[6][(high >> 16) & 0xFF] ^
              kTables[5][(high >> 8) & 0xFF] ^ kTables[4][high & 0xFF] ^ kTables[3][low >> 24] ^
              kTables[2][(low >> 16) & 0xFF] ^ kTables[1][(low >> 8) & 0xFF] ^
              kTables[0][low & 0xFF];
        p += kSlices;
        length -= kSlices;
    }
    while (length > 0) {
        crc = (crc << 8) ^ kTables[0][(crc >> 24) ^ *p];
        ++p;
        --length;
    }
    return crc;
}
