#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32 of MPEG-2 systems: polynomial 0x04C11DB7, initial value 0xFFFFFFFF, bits taken most
// significant first, no final inversion. Over a PSI section including its CRC field the result
// is 0.
uint32_t CalcCRC32(const void* data, size_t length);
