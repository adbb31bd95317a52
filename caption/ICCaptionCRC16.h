#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-16 of caption data groups: polynomial 0x1021, initial value 0, most significant bit
// first, no reflection and no final XOR.
uint16_t ICCaptionCRC16(const uint8_t* bytes, size_t length);
