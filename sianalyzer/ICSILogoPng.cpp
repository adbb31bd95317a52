#include "sianalyzer/ICSILogoPng.h"

#include <cstring>

#include "aribtext/ICAribColorTable.h"
#include "sianalyzer/ICSICDT.h"

namespace {

// The PNG signature and the first eight bytes of an IHDR chunk (its length, 13, and type).
constexpr uint8_t kSignatureAndIhdr[16] = {0x89, 'P',  'N',  'G',  0x0D, 0x0A, 0x1A, 0x0A,
                                           0x00, 0x00, 0x00, 0x0D, 'I',  'H',  'D',  'R'};
// Signature (8) + IHDR length, type, 13 data bytes and CRC (25).
constexpr size_t kHeaderSize = 33;

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
    std::vector<uint8_t> palette;
    // Opaque except the transparent index 8 and the half-transparent block 65-127.
    std::vector<uint8_t> transparency;
    for (const ICAribColor& colour : colours) {
        palette.insert(palette.end(), {colour.red, colour.green, colour.blue});
        transparency.push_back(colour.alpha);
    }
    AppendPngChunk(png, "PLTE", palette);
    AppendPngChunk(png, "tRNS", transparency);

    png.insert(png.end(), data + kHeaderSize, data + size);
    return png;
}

std::vector<uint8_t> MakePng(const ICSILogo& logo) {
    return MakePng(logo.GetData(), static_cast<size_t>(logo.GetDataLength()));
}
