#include "core/ICByteCursor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// A storage that moves its bytes to a new block on every growth, so that a write whose source
// is not found again reads freed memory (and fails under the address sanitizer).
class MovingStorage final : public ICByteCursor::Storage {
public:
    explicit MovingStorage(int32_t size) : block(new uint8_t[size_t(size)]()), size(size) {
        cursor.data = block.get();
        cursor.capacity = size;
    }

    int32_t Grow(int32_t n, bool singleByte) override {
        growths.push_back({n, singleByte});
        if (refuse) {
            return kICByteCursorOutOfMemory;
        }
        int32_t grown = cursor.position + n;
        std::unique_ptr<uint8_t[]> moved(new uint8_t[size_t(grown)]());
        std::memcpy(moved.get(), block.get(), size_t(size));
        block = std::move(moved);
        size = grown;
        cursor.data = block.get();
        cursor.capacity = grown;
        return kICByteCursorOk;
    }
    bool Holds(const uint8_t* bytes) const override {
        return bytes >= block.get() && bytes < block.get() + size;
    }

    struct Growth {
        int32_t n;
        bool singleByte;
    };
    std::unique_ptr<uint8_t[]> block;
    int32_t size;
    bool refuse = false;
    std::vector<Growth> growths;
    ICByteCursor cursor{*this};
};

TEST(ICByteCursorStorage, ABlockWrittenFromTheStorageItselfIsFoundAfterItMoved) {
    MovingStorage storage(4);
    ASSERT_EQ(storage.cursor.WriteUInt32(0x01020304), kICByteCursorOk);
    ASSERT_EQ(storage.cursor.Write(storage.block.get() + 1, 3), kICByteCursorOk);
    ASSERT_EQ(storage.growths.size(), 1u);
    EXPECT_EQ(storage.growths[0].n, 3);
    EXPECT_FALSE(storage.growths[0].singleByte);
    const uint8_t expected[] = {1, 2, 3, 4, 2, 3, 4};
    ASSERT_EQ(storage.cursor.length, 7);
    EXPECT_EQ(std::memcmp(storage.cursor.data, expected, sizeof(expected)), 0);
}

TEST(ICByteCursorStorage, TheBitWriterAsksForRoomOneByteAtATime) {
    MovingStorage storage(1);
    ASSERT_EQ(storage.cursor.WriteBits(0xABCD, 16), kICByteCursorOk);
    ASSERT_EQ(storage.growths.size(), 1u);
    EXPECT_EQ(storage.growths[0].n, 1);
    EXPECT_TRUE(storage.growths[0].singleByte);
    EXPECT_EQ(storage.cursor.data[0], 0xAB);
    EXPECT_EQ(storage.cursor.data[1], 0xCD);
}

TEST(ICByteCursorStorage, ARefusedGrowthSetsTheEndFlagAndReturnsTheStoragesError) {
    MovingStorage storage(2);
    storage.refuse = true;
    EXPECT_EQ(storage.cursor.WriteUInt16(0x1234), kICByteCursorOk);
    EXPECT_FALSE(storage.cursor.endFlag);
    EXPECT_EQ(storage.cursor.WriteByte(0x56), kICByteCursorOutOfMemory);
    EXPECT_TRUE(storage.cursor.endFlag);
    EXPECT_EQ(storage.cursor.length, 2);
    // Pending bits that cannot be stored are dropped rather than kept for a later flush.
    storage.cursor.endFlag = false;
    EXPECT_EQ(storage.cursor.WriteBits(0x3FF, 10), kICByteCursorOutOfMemory);
    EXPECT_EQ(storage.cursor.bitCount, 0);
    EXPECT_EQ(storage.cursor.FlushBits(), kICByteCursorOk);
    EXPECT_EQ(storage.cursor.length, 2);
}

TEST(ICByteCursorGrowth, CapacityIsRoundedToTheUnitUnlessThatPassesTheLimit) {
    EXPECT_EQ(ICByteCursor::GrownCapacity(10, 1, 1024, INT32_MAX), 1024);
    EXPECT_EQ(ICByteCursor::GrownCapacity(1024, 1, 1024, INT32_MAX), 2048);
    EXPECT_EQ(ICByteCursor::GrownCapacity(0, 188, 188, INT32_MAX), 188);
    EXPECT_EQ(ICByteCursor::GrownCapacity(100, 10, 1024, 500), 110);
    EXPECT_EQ(ICByteCursor::GrownCapacity(0, 1, 0, INT32_MAX), -1);
    EXPECT_EQ(ICByteCursor::GrownCapacity(INT32_MAX, 1, 1, INT64_MAX), -1);
}

}  // namespace
