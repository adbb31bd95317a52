#include <gtest/gtest.h>

#include <zlib.h>

#include "aribtext/ICAribColorTable.h"
#include "sianalyzer/ICSICDT.h"
#include "sianalyzer/ICSILogoPng.h"
#include "sianalyzer/tests/LogoPngReader.h"
#include "tools/isdbsim/LogoImage.h"
#include "tools/streamkit/ByteWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A logo as broadcast: an 8-bit palette image without PLTE and tRNS, one row per entry of
// `rows`, each pixel a colour index.
Bytes TransmittedLogo(const std::vector<Bytes>& rows) {
    Bytes raw;
    for (const Bytes& row : rows) {
        raw.push_back(0);  // filter None
        raw.insert(raw.end(), row.begin(), row.end());
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes compressed(size);
    compress(compressed.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
    compressed.resize(size);

    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    streamkit::ByteWriter header;
    header.U32(static_cast<uint32_t>(rows.front().size())).U32(static_cast<uint32_t>(rows.size()));
    header.Append(Bytes{8, 3, 0, 0, 0});  // bit depth, palette, compression, filter, interlace
    AppendPngChunk(png, "IHDR", header.Data());
    AppendPngChunk(png, "IDAT", compressed);
    AppendPngChunk(png, "IEND", {});
    return png;
}

Bytes EveryIndex() {
    Bytes row;
    for (int i = 0; i < ICAribColorTable::kCount; ++i) {
        row.push_back(static_cast<uint8_t>(i));
    }
    return TransmittedLogo({row, row});
}

TEST(MakePng, InsertsPaletteAndTransparencyAfterTheHeader) {
    const Bytes transmitted = EveryIndex();
    const Bytes png = MakePng(transmitted.data(), transmitted.size());
    ASSERT_EQ(png.size(), transmitted.size() + 536);
    EXPECT_TRUE(std::equal(transmitted.begin(), transmitted.begin() + 33, png.begin()));
    EXPECT_EQ(Bytes(png.begin() + 33, png.begin() + 37), (Bytes{0x00, 0x00, 0x01, 0x80}));
    EXPECT_TRUE(std::equal(transmitted.begin() + 33, transmitted.end(), png.begin() + 33 + 536));

    const auto chunks = logopng::Chunks(png);
    ASSERT_EQ(chunks.size(), 5u);
    const char* const kOrder[] = {"IHDR", "PLTE", "tRNS", "IDAT", "IEND"};
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].type, kOrder[i]);
        EXPECT_TRUE(chunks[i].crcValid) << chunks[i].type;
    }
    EXPECT_EQ(chunks[1].length, 384u);
    EXPECT_EQ(chunks[2].length, 128u);
    const uint8_t* alpha = &png[chunks[2].offset + 8];
    for (int i = 0; i < 128; ++i) {
        EXPECT_EQ(alpha[i], i == 8 ? 0 : i >= 65 ? 128 : 255) << "index " << i;
    }
}

TEST(MakePng, DecodedImageShowsTheFixedColourTable) {
    const Bytes transmitted = EveryIndex();
    const logopng::Image image = logopng::Decode(MakePng(transmitted.data(), transmitted.size()));
    ASSERT_TRUE(image.ok) << image.error;
    ASSERT_EQ(image.width, 128u);
    ASSERT_EQ(image.height, 2u);
    for (uint32_t x = 0; x < 128; ++x) {
        const ICAribColor expected = ICAribColorTable::Get(static_cast<int>(x));
        const uint8_t* pixel = image.Pixel(x, 1);
        EXPECT_EQ(pixel[3], expected.alpha) << "index " << x;
        if (expected.alpha != 0) {  // a transparent pixel's colour is not kept
            EXPECT_EQ(pixel[0], expected.red) << "index " << x;
            EXPECT_EQ(pixel[1], expected.green) << "index " << x;
            EXPECT_EQ(pixel[2], expected.blue) << "index " << x;
        }
    }
}

TEST(MakePng, SimulatorLogosOfEveryTypeDecodeAtTheirSize) {
    for (int type = 0; type < isdbsim::kLogoTypeCount; ++type) {
        const Bytes transmitted = isdbsim::MakeLogoPng(type, 0x101);
        const logopng::Image image =
            logopng::Decode(MakePng(transmitted.data(), transmitted.size()));
        ASSERT_TRUE(image.ok) << "type " << type << ": " << image.error;
        const isdbsim::LogoSize size = isdbsim::LogoSizeOf(type);
        EXPECT_EQ(image.width, static_cast<uint32_t>(size.width));
        EXPECT_EQ(image.height, static_cast<uint32_t>(size.height));
        EXPECT_EQ(image.Pixel(0, 0)[3], 0);         // corner: transparent index 8
        const uint8_t* border = image.Pixel(0, 2);  // white frame: index 7
        EXPECT_EQ((Bytes{border[0], border[1], border[2], border[3]}), (Bytes{255, 255, 255, 255}));
    }
}

TEST(MakePng, RefusesDataThatIsNotAPngHeader) {
    const Bytes good = EveryIndex();
    EXPECT_TRUE(MakePng(nullptr, 0).empty());
    EXPECT_TRUE(MakePng(good.data(), 0).empty());
    EXPECT_TRUE(MakePng(good.data(), 32).empty());
    EXPECT_EQ(MakePng(good.data(), 33).size(), 33u + 536u);  // header only: still completed

    Bytes wrongSignature = good;
    wrongSignature[1] = 'X';
    EXPECT_TRUE(MakePng(wrongSignature.data(), wrongSignature.size()).empty());
    Bytes notIhdrFirst = good;
    notIhdrFirst[12] = 'i';
    EXPECT_TRUE(MakePng(notIhdrFirst.data(), notIhdrFirst.size()).empty());
    Bytes oddHeaderLength = good;
    oddHeaderLength[11] = 14;
    EXPECT_TRUE(MakePng(oddHeaderLength.data(), oddHeaderLength.size()).empty());
}

TEST(MakePng, LogoWithoutImageBytesGivesNoImage) {
    const ICSILogo logo(nullptr);
    EXPECT_TRUE(MakePng(logo).empty());
}

}  // namespace
