#include "sianalyzer/ICSILogoPng.h"

#include <zlib.h>

#include <cstring>

#include "aribtext/ICAribColorTable.h"
#include "sianalyzer/ICSICDT.h"

namespace {

// The PNG signature and the first eight bytes of an IHDR chunk (its length, 13, and type).
constexpr uint8_t kSignatureAndIhdr[16] = {0x89, 'P',  'N',  'G',  0x0D, 0x0A, 0x1A, 0x0A,
                                           0x00, 0x00, 0x00, 0x0D, 'I',  'H',  'D',  'R'};
// Signature (8) + IHDR length, type, 13 data bytes and CRC (25).
constexpr size_t kHeaderSize = 33;

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Finishes the chunk that starts at `start` (length placeholder, type, data): fills in the
// length and appends the CRC over type and data.
void CloseChunk(std::vector<uint8_t>& out, size_t start) {
    const size_t dataLength = out.size() - start - 8;
    out[start] = static_cast<uint8_t>(dataLength >> 24);
    out[start + 1] = static_cast<uint8_t>(dataLength >> 16);
    out[start + 2] = static_cast<uint8_t>(dataLength >> 8);
    out[start + 3] = static_cast<uint8_t>(dataLength);
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), out.data() + start + 4,
                            static_cast<uInt>(out.size() - start - 4));
    PutU32(out, static_cast<uint32_t>(crc));
}

void OpenChunk(std::vector<uint8_t>& out, const char (&type)[5]) {
    PutU32(out, 0);
    out.insert(out.end(), type, type + 4);
}

}  // namespace

std::vector<uint8_t> MakePng(const uint8_t* data, size_t size) {
    std::vector<uint8_t> png;
    if (data == nullptr || size < kHeaderSize ||
        std::memcmp(data, kSignatureAndIhdr, sizeof kSignatureAndIhdr) != 0) {
        return png;
    }
    png.reserve(size + kLogoPngAddedBytes);
    png.insert(png.end(), data, data + kHeaderSize);

    const auto& colours = ICAribColorTable::Entries();
    size_t start = png.size();
    OpenChunk(png, "PLTE");
    for (const ICAribColor& colour : colours) {
        png.push_back(colour.red);
        png.push_back(colour.green);
        png.push_back(colour.blue);
    }
    CloseChunk(png, start);

    // Opaque except the transparent index 8 and the half-transparent block 65-127.
    start = png.size();
    OpenChunk(png, "tRNS");
    for (const ICAribColor& colour : colours) {
        png.push_back(colour.alpha);
    }
    CloseChunk(png, start);

    png.insert(png.end(), data + kHeaderSize, data + size);
    return png;
}

std::vector<uint8_t> MakePng(const ICSILogo& logo) {
    return MakePng(logo.GetData(), static_cast<size_t>(logo.GetDataLength()));
}
