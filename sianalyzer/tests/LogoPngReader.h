#pragma once

// Test support: reads a PNG file the way an image viewer would, through libpng, and walks its
// chunks checking each CRC, so that tests see what a user of the file would see.

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace logopng {

struct Image {
    bool ok = false;
    std::string error;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;  // width x height x 4, row by row

    const uint8_t* Pixel(uint32_t x, uint32_t y) const { return &rgba[(y * width + x) * 4]; }
};

inline Image Decode(const std::vector<uint8_t>& file) {
    Image image;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&png, file.data(), file.size()) == 0) {
        image.error = png.message;
        return image;
    }
    png.format = PNG_FORMAT_RGBA;
    image.rgba.resize(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr) == 0) {
        image.error = png.message;
        png_image_free(&png);
        return image;
    }
    image.ok = true;
    image.width = png.width;
    image.height = png.height;
    return image;
}

struct Chunk {
    std::string type;
    size_t offset = 0;  // of its length field
    uint32_t length = 0;
    bool crcValid = false;
};

inline uint32_t ReadU32(const std::vector<uint8_t>& file, size_t at) {
    return uint32_t{file[at]} << 24 | uint32_t{file[at + 1]} << 16 | uint32_t{file[at + 2]} << 8 |
           file[at + 3];
}

// The chunks after the signature; a chunk running past the end ends the list.
inline std::vector<Chunk> Chunks(const std::vector<uint8_t>& file) {
    std::vector<Chunk> chunks;
    size_t at = 8;
    while (at + 12 <= file.size()) {
        Chunk chunk;
        chunk.offset = at;
        chunk.length = ReadU32(file, at);
        if (chunk.length > file.size() - at - 12) {
            break;
        }
        chunk.type.assign(reinterpret_cast<const char*>(&file[at + 4]), 4);
        const uLong crc = crc32(0L, &file[at + 4], 4 + chunk.length);
        chunk.crcValid = crc == ReadU32(file, at + 8 + chunk.length);
        chunks.push_back(chunk);
        at += 12 + chunk.length;
    }
    return chunks;
}

}  // namespace logopng
