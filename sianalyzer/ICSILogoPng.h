#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ICSILogo;

// Station logos are broadcast as 8-bit palette PNG images without their PLTE and tRNS chunks:
// the palette is the fixed 128-colour table of ARIB captions. MakePng turns the transmitted
// bytes into a complete PNG file by inserting both chunks after the IHDR chunk, which makes
// the image n + 536 bytes long.
//
// Data shorter than the signature and IHDR chunk (33 bytes), or that does not start with them,
// cannot be completed: the result is empty.
std::vector<uint8_t> MakePng(const uint8_t* data, size_t size);
// The image bytes the logo holds (as far as its section carried them).
std::vector<uint8_t> MakePng(const ICSILogo& logo);

// Size of the PLTE and tRNS chunks MakePng inserts.
inline constexpr size_t kLogoPngAddedBytes = 536;
