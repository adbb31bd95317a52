#include "tools/isdbsim/LogoImage.h"

#include <zlib.h>

#include "sianalyzer/ICSILogoPng.h"

namespace isdbsim {

LogoSize LogoSizeOf(int logoType) {
    static constexpr LogoSize kSizes[kLogoTypeCount] = {{48, 24}, {36, 24}, {48, 27},
                                                        {72, 36}, {54, 36}, {64, 36}};
    return kSizes[logoType >= 0 && logoType < kLogoTypeCount ? logoType : 0];
}

Bytes MakeLogoPng(int logoType, uint16_t logoId) {
    const LogoSize size = LogoSizeOf(logoType);
    // Colour-table indexes: 7 white, 8 transparent, 16-63 the mixed colours.
    const uint8_t background = static_cast<uint8_t>(16 + (logoId * 11) % 48);
    const uint8_t accent = static_cast<uint8_t>(1 + logoId % 6);
    Bytes raw;
    raw.reserve(static_cast<size_t>((size.width + 1) * size.height));
    for (int y = 0; y < size.height; ++y) {
        raw.push_back(0);  // filter type None
        for (int x = 0; x < size.width; ++x) {
            uint8_t index = background;
            const bool corner = (x < 2 || x >= size.width - 2) && (y < 2 || y >= size.height - 2);
            if (corner) {
                index = 8;
            } else if (x < 1 || x >= size.width - 1 || y < 1 || y >= size.height - 1) {
                index = 7;
            } else if (y > size.height / 3 && y < size.height * 2 / 3 &&
                       x > size.width / 4 + static_cast<int>(logoId % 4) &&
                       x < size.width * 3 / 4) {
                index = accent;
            }
            raw.push_back(index);
        }
    }
    uLongf compressedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes compressed(compressedSize);
    compress2(compressed.data(), &compressedSize, raw.data(), static_cast<uLong>(raw.size()), 9);
    compressed.resize(compressedSize);

    ByteWriter png;
    png.Append(Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    ByteWriter header;
    header.U32(static_cast<uint32_t>(size.width));
    header.U32(static_cast<uint32_t>(size.height));
    header.U8(8);  // bit depth
    header.U8(3);  // colour type: palette
    header.U8(0);  // compression
    header.U8(0);  // filter
    header.U8(0);  // interlace
    // The receiver's own chunk writer, so that sent and completed logos are written alike.
    AppendPngChunk(png.Data(), "IHDR", header.Data());
    AppendPngChunk(png.Data(), "IDAT", compressed);
    AppendPngChunk(png.Data(), "IEND", {});
    return png.Take();
}

}  // namespace isdbsim
