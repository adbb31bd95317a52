#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
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

// Appends one PNG chunk: the data's length, the four-letter type, the data and the CRC-32 of
// type and data. Inline (zlib's crc32 does the sum) so that the tools that write whole PNG
// files share it without linking the analyzer.
inline void AppendPngChunk(std::vector<uint8_t>& out, std::string_view type,
                           std::span<const uint8_t> data) {
    const auto putU32 = [&out](uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<uint8_t>(value >> shift));
        }
    };
    putU32(static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    putU32(static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), out.data() + start, static_cast<uInt>(out.size() - start))));
}
