#include "core/CRC32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// The definition, one bit at a time.
uint32_t BitByBitCrc(const uint8_t* data, size_t length) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < length; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            bool top = ((crc >> 31) ^ ((data[i] >> bit) & 1)) != 0;
            crc <<= 1;
            if (top) {
                crc ^= 0x04C11DB7;
            }
        }
    }
    return crc;
}

// Sections as a broadcast-style multiplexer wrote them, each with its CRC field.
const std::vector<std::vector<uint8_t>> kSections = {
    // PAT: programme 1 on PID 0x1000.
    {0x00, 0xb0, 0x0d, 0x00, 0x01, 0xc1, 0x00, 0x00, 0x00, 0x01, 0xf0, 0x00, 0x2a, 0xb1, 0x04,
     0xb2},
    // PMT: video on PID 0x100, audio on PID 0x101.
    {0x02, 0xb0, 0x17, 0x00, 0x01, 0xc1, 0x00, 0x00, 0xe1, 0x00, 0xf0, 0x00, 0x02,
     0xe1, 0x00, 0xf0, 0x00, 0x03, 0xe1, 0x01, 0xf0, 0x00, 0xf6, 0x4a, 0x03, 0x55},
    // SDT with a service descriptor.
    {0x42, 0xf0, 0x20, 0x00, 0x01, 0xc1, 0x00, 0x00, 0xff, 0x01, 0xff, 0x00,
     0x01, 0xfc, 0x80, 0x0f, 0x48, 0x0d, 0x01, 0x06, 0x46, 0x46, 0x6d, 0x70,
     0x65, 0x67, 0x04, 0x54, 0x65, 0x73, 0x74, 0x14, 0x0e, 0xc8, 0x18},
};

TEST(CRC32, SectionsIncludingTheirCrcGiveZero) {
    for (const auto& section : kSections) {
        EXPECT_EQ(CalcCRC32(section.data(), section.size()), 0u);
        // Without the CRC field the result is the field's value.
        size_t body = section.size() - 4;
        uint32_t field = (uint32_t{section[body]} << 24) | (uint32_t{section[body + 1]} << 16) |
                         (uint32_t{section[body + 2]} << 8) | section[body + 3];
        EXPECT_EQ(CalcCRC32(section.data(), body), field);
    }
    std::vector<uint8_t> damaged = kSections[1];
    damaged[9] ^= 0x01;
    EXPECT_NE(CalcCRC32(damaged.data(), damaged.size()), 0u);
}

TEST(CRC32, KnownValues) {
    EXPECT_EQ(CalcCRC32("123456789", 9), 0x0376E6E7u);
    EXPECT_EQ(CalcCRC32(nullptr, 0), 0xFFFFFFFFu);
}

TEST(CRC32, MatchesTheBitByBitDefinitionAtEveryLengthAndAlignment) {
    std::mt19937 random(0x04C11DB7);
    std::vector<uint8_t> data(4096 + 64);
    for (uint8_t& byte : data) {
        byte = static_cast<uint8_t>(random());
    }
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t length = 0; length < 80; ++length) {
            ASSERT_EQ(CalcCRC32(data.data() + offset, length),
                      BitByBitCrc(data.data() + offset, length))
                << offset << " " << length;
        }
    }
    for (size_t length : {188u, 1021u, 4096u}) {
        size_t offset = random() % 64;
        EXPECT_EQ(CalcCRC32(data.data() + offset, length),
                  BitByBitCrc(data.data() + offset, length));
    }
}

}  // namespace
