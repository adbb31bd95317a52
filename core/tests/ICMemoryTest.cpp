#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/ICMemory.h"

namespace {

std::vector<uint8_t> Bytes(const ICMemory& memory) {
    const uint8_t* data = memory.GetData();
    return std::vector<uint8_t>(data, data + memory.GetLength());
}

void Fill(ICMemory& memory, std::vector<uint8_t> bytes) {
    memory.Reset();
    memory.Write(bytes.data(), int32_t(bytes.size()));
    memory.Seek(0);
}

using ByteVector = std::vector<uint8_t>;

}  // namespace

TEST(ICMemory, PublishedResultValues) {
    EXPECT_EQ(uint32_t(kICMemoryInvalidArg), 0x80070057u);
    EXPECT_EQ(uint32_t(kICMemoryOutOfMemory), 0x8007000Eu);
}

TEST(ICMemory, TypedWritesAreBigEndianAndReadBack) {
    ICMemory memory;
    memory.WriteUInt8(0x01);
    memory.WriteUInt16(0x0203);
    memory.WriteUInt32(0x04050607);
    EXPECT_EQ(Bytes(memory), (ByteVector{1, 2, 3, 4, 5, 6, 7}));
    memory.Seek(0);
    EXPECT_EQ(memory.ReadUInt8(), 0x01);
    EXPECT_EQ(memory.PeekUInt16(), 0x0203);
    EXPECT_EQ(memory.ReadUInt16(), 0x0203);
    EXPECT_EQ(memory.PeekUInt32(), 0x04050607);
    EXPECT_EQ(memory.ReadUInt32(), 0x04050607);
    EXPECT_FALSE(memory.IsEnd());
    EXPECT_EQ(memory.ReadByte(), -1);
    EXPECT_TRUE(memory.IsEnd());
}

TEST(ICMemory, HighWordsAreNotMistakenForFailure) {
    ICMemory memory;
    memory.WriteUInt32(0xFFFFFFFF);
    memory.Seek(0);
    EXPECT_EQ(memory.ReadUInt32(), int64_t(0xFFFFFFFF));
    EXPECT_FALSE(memory.IsEnd());
}

TEST(ICMemory, ShortReadsReturnMinusOneAndSetEnd) {
    ICMemory memory;
    Fill(memory, {0x12, 0x34, 0x56});
    memory.Seek(2);
    EXPECT_EQ(memory.ReadUInt16(), -1);
    EXPECT_TRUE(memory.IsEnd());
    memory.Reset();
    Fill(memory, {0x12, 0x34, 0x56});
    EXPECT_EQ(memory.ReadUInt32(), -1);
    EXPECT_TRUE(memory.IsEnd());
    uint8_t out[8] = {};
    memory.SetEnd(false);
    EXPECT_EQ(memory.Read(out, 8), 3);
    EXPECT_TRUE(memory.IsEnd());
    EXPECT_EQ(memory.Read(out, 1), 0);
}

TEST(ICMemory, BitReaderTakesMostSignificantFirst) {
    ICMemory memory;
    Fill(memory, {0xB5, 0x3C, 0x0F});  // 1011 0101 0011 1100 0000 1111
    EXPECT_EQ(memory.ReadBits(1), 1u);
    EXPECT_EQ(memory.PeekBits(3), 3u);  // 011, not consumed
    EXPECT_EQ(memory.ReadBits(3), 3u);
    EXPECT_EQ(memory.ReadBits(8), 0x53u);
    EXPECT_EQ(memory.ReadBits(12), 0xC0Fu);
    EXPECT_FALSE(memory.IsEnd());
    EXPECT_EQ(memory.ReadBits(4), 0xFu);  // past the end: 0xFF bytes
    EXPECT_TRUE(memory.IsEnd());
}

TEST(ICMemory, WideBitReadsAcrossTheAccumulator) {
    ICMemory memory;
    Fill(memory, {0x80, 0x12, 0x34, 0x56, 0x78});
    EXPECT_EQ(memory.ReadBits(1), 1u);
    EXPECT_EQ(memory.ReadBits(7), 0u);
    EXPECT_EQ(memory.ReadBits(32), 0x12345678u);
    memory.Seek(0);
    EXPECT_EQ(memory.ReadBits(4), 8u);
    EXPECT_EQ(memory.ReadBits(28), 0x0123456u);
}

TEST(ICMemory, ByteReadsAfterBitsDropThePartialByte) {
    ICMemory memory;
    Fill(memory, {0xAB, 0xCD, 0xEF, 0x01});
    EXPECT_EQ(memory.ReadBits(4), 0xAu);
    EXPECT_EQ(memory.ReadUInt8(), 0xCD);  // the rest of 0xAB is dropped
    EXPECT_EQ(memory.ReadBits(4), 0xEu);
    uint8_t byte = 0;
    EXPECT_EQ(memory.Read(&byte, 1), 1);
    EXPECT_EQ(byte, 0x01);
    // Bits fetched but not consumed in whole bytes are given back.
    memory.Seek(0);
    EXPECT_EQ(memory.PeekBits(20), 0xABCDEu);
    EXPECT_EQ(memory.GetPosition(), 0);
    EXPECT_EQ(memory.ReadUInt8(), 0xAB);
}

TEST(ICMemory, BitsPastTheEndDoNotMoveThePosition) {
    ICMemory memory;
    Fill(memory, {0x12});
    EXPECT_EQ(memory.ReadBits(4), 1u);
    EXPECT_EQ(memory.ReadBits(16), 0x2FFFu);  // two bytes past the end
    EXPECT_TRUE(memory.IsEnd());
    EXPECT_EQ(memory.ReadUInt8(), -1);
    EXPECT_EQ(memory.GetPosition(), 1);
}

TEST(ICMemory, PeeksRestorePositionAndBitState) {
    ICMemory memory;
    Fill(memory, {0xF0, 0x0F, 0xAA, 0x55, 0x11, 0x22});
    EXPECT_EQ(memory.ReadBits(3), 7u);
    EXPECT_EQ(memory.PeekByte(), 0x0F);
    EXPECT_EQ(memory.PeekUInt8(), 0x0F);
    EXPECT_EQ(memory.PeekUInt16(), 0x0FAA);
    EXPECT_EQ(memory.PeekUInt32(), 0x0FAA5511);
    uint8_t two[2] = {};
    EXPECT_EQ(memory.Peek(two, 2), 2);
    EXPECT_EQ(two[0], 0x0F);
    EXPECT_EQ(memory.ReadBits(5), 0x10u);  // the bit reader carries on where it was
    EXPECT_EQ(memory.GetPosition(), 1);
}

TEST(ICMemory, WriteAfterBitsFlushesThemLeftAligned) {
    ICMemory memory;
    memory.WriteBits(0b101, 3);
    uint8_t data[2] = {0x11, 0x22};
    memory.Write(data, 2);
    EXPECT_EQ(Bytes(memory), (ByteVector{0xA0, 0x11, 0x22}));
    memory.Reset();
    memory.WriteBits(0x3, 2);
    memory.WriteBits(0x1234, 14);
    memory.WriteBits(0x1, 1);
    memory.FlushBits();
    EXPECT_EQ(Bytes(memory), (ByteVector{0xD2, 0x34, 0x80}));
    memory.Reset();
    memory.WriteBits(0xF, 4);
    memory.WriteUInt16(0xBEEF);
    memory.WriteBits(0xDEADBEEF, 32);
    memory.WriteBits(1, 1);
    memory.WriteUInt8(0x7E);
    EXPECT_EQ(Bytes(memory), (ByteVector{0xF0, 0xBE, 0xEF, 0xDE, 0xAD, 0xBE, 0xEF, 0x80, 0x7E}));
}

TEST(ICMemory, WritingTruncatesWhatFollowed) {
    ICMemory memory;
    Fill(memory, {1, 2, 3, 4, 5});
    memory.Seek(2);
    memory.WriteByte(9);
    EXPECT_EQ(Bytes(memory), (ByteVector{1, 2, 9}));
}

TEST(ICMemory, GrowsInWholeUnits) {
    ICMemory memory(16);
    std::vector<uint8_t> data(20, 0x5A);
    EXPECT_EQ(memory.Write(data.data(), 20), kICMemoryOk);
    EXPECT_EQ(memory.GetCapacity(), 32);
    EXPECT_EQ(memory.Write(data.data(), 13), kICMemoryOk);
    EXPECT_EQ(memory.GetCapacity(), 48);
    EXPECT_EQ(memory.GetLength(), 33);
}

TEST(ICMemory, WriteFromItsOwnBufferSurvivesGrowth) {
    ICMemory memory(4);
    memory.WriteUInt32(0x01020304);
    EXPECT_EQ(memory.GetCapacity(), 4);
    memory.Write(memory.GetData(), 4);  // grows, so the buffer may move
    memory.Write(memory.GetData(), 8);
    EXPECT_EQ(Bytes(memory), (ByteVector{1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}));
}

TEST(ICMemory, GrowthUnitBelowOneRefusesToGrow) {
    ICMemory memory(0);
    memory.SetCapacity(2);
    EXPECT_EQ(memory.WriteUInt16(0x1234), kICMemoryOk);
    EXPECT_FALSE(memory.IsEnd());
    EXPECT_EQ(memory.WriteByte(0x56), kICMemoryOutOfMemory);
    EXPECT_TRUE(memory.IsEnd());
    memory.SetEnd(false);
    EXPECT_EQ(memory.WriteBits(0xFF, 8), kICMemoryOutOfMemory);
    EXPECT_TRUE(memory.IsEnd());
    memory.SetEnd(false);
    uint8_t byte = 1;
    EXPECT_EQ(memory.Write(&byte, 1), kICMemoryOutOfMemory);
    EXPECT_TRUE(memory.IsEnd());
    EXPECT_EQ(Bytes(memory), (ByteVector{0x12, 0x34}));
    ICMemory negative(-5);
    EXPECT_EQ(negative.WriteUInt8(1), kICMemoryOutOfMemory);
    EXPECT_EQ(negative.GetLength(), 0);
}

TEST(ICMemory, PositionRules) {
    ICMemory memory;
    Fill(memory, {1, 2, 3});
    EXPECT_EQ(memory.SetPosition(4), kICMemoryInvalidArg);
    EXPECT_EQ(memory.SetPosition(-1), kICMemoryInvalidArg);
    EXPECT_EQ(memory.SetPosition(3), kICMemoryOk);
    EXPECT_EQ(memory.GetCurrent(), memory.GetData() + 3);
    memory.Seek(-5);
    EXPECT_EQ(memory.GetPosition(), 0);
    memory.Seek(13);
    EXPECT_EQ(memory.GetPosition(), 3);
    memory.SetLength(memory.GetCapacity() + 100);
    EXPECT_EQ(memory.GetLength(), memory.GetCapacity());
    memory.SetLength(1);
    EXPECT_EQ(memory.GetPosition(), 1);
    memory.SetCapacity(0);
    EXPECT_EQ(memory.GetLength(), 0);
    EXPECT_EQ(memory.ReadByte(), -1);
}

TEST(ICMemory, ReadStringStopsAtTheTerminator) {
    ICMemory memory;
    Fill(memory, {'a', '\r', '\n', 'b'});
    ICString text;
    EXPECT_EQ(memory.ReadString(text, '\r'), 1);
    EXPECT_STREQ(text.GetText(), "a");
    EXPECT_EQ(memory.GetPosition(), 3);
    EXPECT_EQ(memory.ReadString(text, '\r'), 1);  // no terminator: to the end
    EXPECT_STREQ(text.GetText(), "b");
    EXPECT_TRUE(memory.IsEnd());
    EXPECT_EQ(memory.ReadString(text, '\r'), -1);

    Fill(memory, {'x', 0, 0, 'y', 0});
    EXPECT_EQ(memory.ReadString(text), 1);
    EXPECT_EQ(memory.ReadString(text), 0);
    EXPECT_EQ(memory.ReadString(text), 1);
    EXPECT_STREQ(text.GetText(), "y");
    EXPECT_EQ(memory.GetRemaining(), 0);
    // Only a carriage return swallows a line feed.
    Fill(memory, {'p', ';', '\n'});
    EXPECT_EQ(memory.ReadString(text, ';'), 1);
    EXPECT_EQ(memory.ReadByte(), '\n');
}

TEST(ICMemory, WideTextIsLittleEndianUnits) {
    ICMemory memory;
    memory.WriteText(u"番a", true);
    memory.WriteWString(ICWString(u"b\r\nc"), false);
    EXPECT_EQ(Bytes(memory),
              (ByteVector{0x6A, 0x75, 'a', 0, 0, 0, 'b', 0, '\r', 0, '\n', 0, 'c', 0}));
    memory.Seek(0);
    ICWString text;
    EXPECT_EQ(memory.ReadWString(text), 2);
    EXPECT_EQ(std::u16string(text.GetText()), u"番a");
    EXPECT_EQ(memory.ReadWString(text, u'\r'), 1);
    EXPECT_EQ(memory.PeekUInt8(), 'c');
    EXPECT_EQ(memory.ReadWString(text, u'\r'), 1);
    EXPECT_EQ(memory.ReadWString(text, u'\r'), -1);
}

TEST(ICMemory, NarrowTextWithAndWithoutTerminator) {
    ICMemory memory;
    memory.WriteText("ab", true);
    memory.WriteString(ICString("c"), false);
    memory.WriteString(ICString(), true);
    memory.WriteText(static_cast<const char*>(nullptr), false);
    EXPECT_EQ(Bytes(memory), (ByteVector{'a', 'b', 0, 'c', 0}));
}

TEST(ICMemory, AttachAndDetachHandOverTheBuffer) {
    ICMemory memory;
    memory.WriteUInt16(0x0102);
    auto* mine = static_cast<uint8_t*>(std::malloc(3));
    std::memcpy(mine, "xyz", 3);
    void* previous = memory.Attach(mine, 3);
    ASSERT_NE(previous, nullptr);
    EXPECT_EQ(static_cast<uint8_t*>(previous)[0], 0x01);
    std::free(previous);
    EXPECT_EQ(memory.GetLength(), 3);
    EXPECT_EQ(memory.GetCapacity(), 3);
    EXPECT_EQ(memory.GetPosition(), 0);
    EXPECT_EQ(memory.ReadByte(), 'x');
    void* detached = memory.Detach();
    EXPECT_EQ(detached, mine);
    EXPECT_EQ(memory.GetCapacity(), 0);
    EXPECT_EQ(memory.GetLength(), 0);
    std::free(detached);
    EXPECT_EQ(memory.WriteUInt8(7), kICMemoryOk);  // usable again
}

TEST(ICMemory, CopyFromTakesDataPositionAndBits) {
    ICMemory source;
    Fill(source, {0xC3, 0x81});
    source.ReadBits(2);
    ICMemory copy;
    copy.WriteUInt32(0);
    EXPECT_EQ(copy.CopyFrom(source), kICMemoryOk);
    EXPECT_EQ(Bytes(copy), (ByteVector{0xC3, 0x81}));
    EXPECT_EQ(copy.GetPosition(), 1);
    EXPECT_EQ(copy.ReadBits(6), 0x03u);
    EXPECT_EQ(copy.ReadBits(8), 0x81u);
}
