#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-16 of caption data groups (ITU-T CCITT polynomial 0x1021): initial value 0, bits taken
// most significant first, no reflection and no final XOR.
uint16_t CalcCRC16(const uint8_t* bytes, size_t length);
