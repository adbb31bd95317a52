#include "streamfw/ICPacket.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/CMediaType.h"

namespace {

// A packet without allocator, owned by the test.
struct OwnedPacket {
    explicit OwnedPacket(LONG size = 188) : packet(new ICPacket(nullptr, size, 7)) {}
    ~OwnedPacket() { delete packet; }
    ICPacket* operator->() const { return packet; }
    ICPacket* packet;
};

std::vector<BYTE> Contents(ICPacket* packet) {
    return std::vector<BYTE>(packet->GetData(), packet->GetData() + packet->GetLength());
}

void Fill(ICPacket* packet, std::initializer_list<BYTE> bytes) {
    packet->Reset();
    for (BYTE b : bytes) {
        ASSERT_EQ(packet->WriteByte(b), S_OK);
    }
    packet->Seek(0);
}

}  // namespace

TEST(ICPacketConstruction, StartsEmptyAlignedWithDefaults) {
    OwnedPacket packet(188);
    EXPECT_EQ(packet->GetCapacity(), 188);
    EXPECT_EQ(packet->GetSize(), 188);
    EXPECT_EQ(packet->GetLength(), 0);
    EXPECT_EQ(packet->GetPosition(), 0);
    EXPECT_EQ(packet->GetGrowUnit(), 1024);
    EXPECT_EQ(packet->GetTag(), 7u);
    EXPECT_EQ(packet->GetHeadRoom(), 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(packet->GetData()) % 16, 0u);
    EXPECT_EQ(packet->GetMark1(), packet->GetData());
    EXPECT_EQ(packet->GetMark2(), packet->GetData());
    LONG rate = 0;
    packet->GetExtTime(nullptr, nullptr, &rate);
    EXPECT_EQ(rate, 90000);
    EXPECT_FALSE(packet->IsEnd());
}

TEST(ICPacketInterfaces, AnswersItsInterfacesOnOneCount) {
    auto* packet = new ICPacket(nullptr, 16, 0);
    ComPtr<IMediaSample> sample(static_cast<IMediaSample2*>(packet));
    ComPtr<IxPacket> stream;
    ComPtr<IMediaSampleEx> extended;
    ComPtr<IMediaSample2> sample2;
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(sample.As(&stream), S_OK);
    ASSERT_EQ(sample.As(&extended), S_OK);
    ASSERT_EQ(sample.As(&sample2), S_OK);
    ASSERT_EQ(sample.As(&unknown), S_OK);
    EXPECT_EQ(static_cast<IxPacket*>(packet), stream.Get());
    EXPECT_EQ(static_cast<IMediaSample*>(packet), static_cast<IMediaSample*>(sample2.Get()));
    EXPECT_EQ(packet->GetReferenceCount(), 5u);
    ComPtr<IMemAllocator> wrong;
    EXPECT_EQ(sample.As(&wrong), E_NOINTERFACE);
    EXPECT_EQ(wrong.Get(), nullptr);
    // The last release deletes a packet without allocator (the leak checker sees the rest).
}

TEST(ICPacketBits, WriteAfterPendingBitsEmitsThePaddedByteFirst) {
    OwnedPacket packet;
    ASSERT_EQ(packet->WriteBits(0x5, 3), S_OK);  // 101
    EXPECT_EQ(packet->GetLength(), 0);
    const BYTE payload[] = {0x11, 0x22};
    ASSERT_EQ(packet->Write(payload, 2), S_OK);
    EXPECT_EQ(Contents(packet.packet), (std::vector<BYTE>{0xA0, 0x11, 0x22}));
}

TEST(ICPacketBits, WritesAndReadsFieldsAcrossByteBoundaries) {
    OwnedPacket packet;
    packet->WriteBits(0x47, 8);
    packet->WriteBits(0x1, 1);
    packet->WriteBits(0x0, 2);
    packet->WriteBits(0x1FFF, 13);
    packet->WriteBits(0xABCDEF12, 32);
    packet->FlushBits();
    EXPECT_EQ(Contents(packet.packet),
              (std::vector<BYTE>{0x47, 0x9F, 0xFF, 0xAB, 0xCD, 0xEF, 0x12}));
    packet->Seek(0);
    EXPECT_EQ(packet->ReadBits(8), 0x47u);
    EXPECT_EQ(packet->ReadBits(1), 1u);
    EXPECT_EQ(packet->PeekBits(2), 0u);
    EXPECT_EQ(packet->ReadBits(2), 0u);
    EXPECT_EQ(packet->ReadBits(13), 0x1FFFu);
    EXPECT_EQ(packet->ReadBits(32), 0xABCDEF12u);
    EXPECT_FALSE(packet->IsEnd());
    // Past the end the bit reader sees 0xFF bytes and says so.
    EXPECT_EQ(packet->ReadBits(4), 0xFu);
    EXPECT_TRUE(packet->IsEnd());
}

TEST(ICPacketBits, FlushPadsAPartialByteWithZeros) {
    OwnedPacket packet;
    packet->WriteBits(0x3, 2);
    packet->WriteBits(0x1, 1);
    ASSERT_EQ(packet->FlushBits(), S_OK);
    EXPECT_EQ(Contents(packet.packet), (std::vector<BYTE>{0xE0}));
    // Nothing pending any more: a second flush writes nothing.
    ASSERT_EQ(packet->FlushBits(), S_OK);
    EXPECT_EQ(packet->GetLength(), 1);
}

TEST(ICPacketBits, ByteReadsDropTheReadersPendingBits) {
    OwnedPacket packet;
    Fill(packet.packet, {0xF0, 0x12, 0x34, 0x56});
    EXPECT_EQ(packet->ReadBits(4), 0xFu);
    EXPECT_EQ(packet->ReadUInt8(), 0x12);  // the rest of 0xF0 is dropped
    EXPECT_EQ(packet->ReadBits(4), 0x3u);
    EXPECT_EQ(packet->ReadUInt16(), -1);  // only 0x56 is left after dropping
    EXPECT_TRUE(packet->IsEnd());
}

TEST(ICPacketBits, ReadsThePesTimeStamp) {
    // PTS 0x1DEADBEEF with the '0010' prefix and the three marker bits.
    const uint64_t pts = 0x1DEADBEEFull;
    OwnedPacket packet;
    packet->WriteBits(0x2, 4);
    packet->WriteBits(uint32_t(pts >> 30) & 0x7, 3);
    packet->WriteBits(1, 1);
    packet->WriteBits(uint32_t(pts >> 15) & 0x7FFF, 15);
    packet->WriteBits(1, 1);
    packet->WriteBits(uint32_t(pts) & 0x7FFF, 15);
    packet->WriteBits(1, 1);
    ASSERT_EQ(packet->GetLength(), 5);
    packet->Seek(0);
    EXPECT_EQ(packet->ReadBits(4), 0x2u);
    EXPECT_EQ(packet->ReadTimeStamp(), LONGLONG(pts));
    EXPECT_EQ(packet->GetRemaining(), 0);
    EXPECT_FALSE(packet->IsEnd());
}

TEST(ICPacketRead, WordReadersNeedAllTheirBytes) {
    OwnedPacket packet;
    Fill(packet.packet, {0x12, 0x34, 0x56, 0x78, 0x9A});
    EXPECT_EQ(packet->PeekUInt32(), 0x12345678);
    EXPECT_EQ(packet->GetPosition(), 0);
    EXPECT_EQ(packet->ReadUInt32(), 0x12345678);
    EXPECT_EQ(packet->ReadUInt16(), -1);
    EXPECT_TRUE(packet->IsEnd());
    EXPECT_EQ(packet->GetPosition(), 4);
    EXPECT_EQ(packet->ReadUInt8(), 0x9A);
    EXPECT_EQ(packet->ReadByte(), -1);
    EXPECT_EQ(packet->ReadUInt32(), -1);
}

TEST(ICPacketRead, ReadUInt16WithOneByteLeftFailsAndSetsTheEndFlag) {
    OwnedPacket packet;
    Fill(packet.packet, {0x01, 0x02, 0x03});
    EXPECT_EQ(packet->ReadUInt16(), 0x0102);
    EXPECT_FALSE(packet->IsEnd());
    EXPECT_EQ(packet->ReadUInt16(), -1);
    EXPECT_TRUE(packet->IsEnd());
}

TEST(ICPacketRead, ReadCopiesWhatIsLeft) {
    OwnedPacket packet;
    Fill(packet.packet, {1, 2, 3, 4, 5});
    BYTE buffer[8] = {};
    EXPECT_EQ(packet->Peek(buffer, 2), 2);
    EXPECT_EQ(packet->GetPosition(), 0);
    EXPECT_EQ(packet->Read(nullptr, 1), 1);  // skips
    EXPECT_EQ(packet->Read(buffer, 8), 4);
    EXPECT_EQ(buffer[0], 2);
    EXPECT_EQ(buffer[3], 5);
    EXPECT_TRUE(packet->IsEnd());
    EXPECT_EQ(packet->Read(buffer, 1), 0);
}

TEST(ICPacketRead, SeekClampsToTheData) {
    OwnedPacket packet;
    Fill(packet.packet, {1, 2, 3, 4});
    packet->Seek(-5);
    EXPECT_EQ(packet->GetPosition(), 0);
    packet->Seek(packet->GetLength() + 10);
    EXPECT_EQ(packet->GetPosition(), 4);
    EXPECT_EQ(packet->SetPosition(189), E_INVALIDARG);
    EXPECT_EQ(packet->SetPosition(-1), E_INVALIDARG);
    EXPECT_EQ(packet->SetPosition(100), S_OK);  // up to the capacity
    EXPECT_EQ(packet->GetRemaining(), 0);
    EXPECT_EQ(packet->ReadByte(), -1);
}

TEST(ICPacketWrite, WritingInTheMiddleTruncates) {
    OwnedPacket packet;
    Fill(packet.packet, {1, 2, 3, 4, 5});
    packet->Seek(2);
    ASSERT_EQ(packet->WriteUInt16(0xAABB), S_OK);
    EXPECT_EQ(Contents(packet.packet), (std::vector<BYTE>{1, 2, 0xAA, 0xBB}));
    ASSERT_EQ(packet->WriteUInt32(0x01020304), S_OK);
    EXPECT_EQ(packet->GetLength(), 8);
}

TEST(ICPacketWrite, GrowsInGrowthUnits) {
    OwnedPacket packet(188);
    packet->SetGrowUnit(188);
    std::vector<BYTE> bytes(400, 0x5A);
    ASSERT_EQ(packet->Write(bytes.data(), LONG(bytes.size())), S_OK);
    EXPECT_EQ(packet->GetCapacity(), 564);  // the next multiple of 188 holding 400
    EXPECT_EQ(packet->GetLength(), 400);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(packet->GetData()) % 16, 0u);
    // A byte at a time grows by one unit when full.
    packet->SetPosition(564);
    ASSERT_EQ(packet->WriteByte(1), S_OK);
    EXPECT_EQ(packet->GetCapacity(), 752);
    EXPECT_EQ(packet->GetData()[399], 0x5A);
}

TEST(ICPacketWrite, WithoutGrowthAFullBufferSetsTheEndFlag) {
    OwnedPacket packet(4);
    packet->SetGrowUnit(0);
    const BYTE bytes[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(packet->Write(bytes, 5), E_OUTOFMEMORY);
    EXPECT_TRUE(packet->IsEnd());
    EXPECT_EQ(packet->GetLength(), 0);
    packet->Reset();
    EXPECT_EQ(packet->Write(bytes, 4), S_OK);
    EXPECT_EQ(packet->WriteByte(5), E_OUTOFMEMORY);
    EXPECT_TRUE(packet->IsEnd());
    packet->Reset();
    packet->Write(bytes, 4);
    EXPECT_EQ(packet->WriteBits(0xFF, 8), E_OUTOFMEMORY);
    EXPECT_EQ(packet->GetCapacity(), 4);
}

TEST(ICPacketWrite, CopiesFromItsOwnBufferWhileGrowing) {
    OwnedPacket packet(8);
    packet->SetGrowUnit(8);
    for (BYTE b = 0; b < 8; ++b) {
        packet->WriteByte(b);
    }
    // The source lies in the buffer that the write reallocates.
    ASSERT_EQ(packet->Write(packet->GetData(), 8), S_OK);
    EXPECT_EQ(packet->GetLength(), 16);
    EXPECT_EQ(packet->GetData()[8], 0);
    EXPECT_EQ(packet->GetData()[15], 7);
}

TEST(ICPacketBuffer, SetCapacityKeepsDataAndMovesTheMarks) {
    OwnedPacket packet(16);
    Fill(packet.packet, {1, 2, 3, 4, 5, 6});
    packet->SetMark1(packet->GetData() + 2);
    packet->SetMark2(packet->GetData() + 5);
    ASSERT_EQ(packet->SetCapacity(4096), S_OK);
    EXPECT_EQ(packet->GetCapacity(), 4096);
    EXPECT_EQ(Contents(packet.packet), (std::vector<BYTE>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(*packet->GetMark1(), 3);
    EXPECT_EQ(*packet->GetMark2(), 6);
    // Shrinking below the length keeps what fits; nothing reads past the new end.
    packet->Seek(6);
    ASSERT_EQ(packet->SetCapacity(3), S_OK);
    EXPECT_EQ(packet->GetLength(), 3);
    EXPECT_LE(packet->GetPosition(), 3);
    EXPECT_EQ(packet->SetCapacity(-8), S_OK);
    EXPECT_EQ(packet->GetCapacity(), 0);
    EXPECT_EQ(packet->GetLength(), 0);
}

TEST(ICPacketBuffer, HeadRoomMovesTheDataStartButKeepsTheCapacityUsable) {
    OwnedPacket packet(188);
    Fill(packet.packet, {9, 8, 7});
    BYTE* base = packet->GetData();
    ASSERT_EQ(packet->SetHeadRoom(1), S_OK);
    EXPECT_EQ(packet->GetData()[-1], 9);  // the bytes stay where they are
    EXPECT_EQ(packet->GetData()[0], 8);
    ASSERT_EQ(packet->SetHeadRoom(64), S_OK);
    EXPECT_EQ(packet->GetHeadRoom(), 64);
    EXPECT_EQ(packet->GetCapacity(), 188);
    // The whole capacity behind the new start can be written (the sanitizer would object).
    std::vector<BYTE> full(188, 0xCC);
    packet->Seek(0);
    ASSERT_EQ(packet->Write(full.data(), 188), S_OK);
    EXPECT_EQ(packet->GetCapacity(), 188);
    packet->Reset();
    EXPECT_EQ(packet->GetData(), packet->GetMark1());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(packet->GetData() - 64) % 16, 0u);
    EXPECT_EQ(packet->SetHeadRoom(-1), E_INVALIDARG);
    (void)base;
}

TEST(ICPacketBuffer, SetDataStaysInsideTheBuffer) {
    OwnedPacket packet(64);
    BYTE* start = packet->GetData();
    EXPECT_EQ(packet->SetData(start + 1000), E_INVALIDARG);
    EXPECT_EQ(packet->SetData(nullptr), E_INVALIDARG);
    ASSERT_EQ(packet->SetData(start + 16), S_OK);
    EXPECT_EQ(packet->GetHeadRoom(), 16);
    EXPECT_LE(packet->GetCapacity(), 48 + 15);
    std::vector<BYTE> bytes(size_t(packet->GetCapacity()), 1);
    EXPECT_EQ(packet->Write(bytes.data(), LONG(bytes.size())), S_OK);
}

TEST(ICPacketReset, ClearsTheFillStateAndKeepsUserValues3And64) {
    OwnedPacket packet;
    packet->Write("abc", 3);
    packet->WriteBits(1, 1);
    packet->SetUser1(1);
    packet->SetUser2(2);
    packet->SetUser3(3);
    packet->SetUser4(4);
    packet->SetUser64(64);
    packet->SetExtStart(99);
    REFERENCE_TIME start = 10;
    REFERENCE_TIME stop = 20;
    packet->SetTime(&start, &stop);
    packet->SetDiscontinuity(TRUE);
    packet->ReadUInt32();  // sets the end flag
    packet->Reset();
    EXPECT_EQ(packet->GetLength(), 0);
    EXPECT_EQ(packet->GetPosition(), 0);
    EXPECT_EQ(packet->GetUser1(), 0u);
    EXPECT_EQ(packet->GetUser2(), 0u);
    EXPECT_EQ(packet->GetUser4(), 0u);
    EXPECT_EQ(packet->GetUser3(), 3u);
    EXPECT_EQ(packet->GetUser64(), 64u);
    EXPECT_EQ(packet->GetExtStart(), 0);
    EXPECT_FALSE(packet->IsEnd());
    EXPECT_EQ(packet->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(packet->IsDiscontinuity(), S_FALSE);
    // The pending bit is gone too.
    packet->WriteBits(0, 8);
    EXPECT_EQ(Contents(packet.packet), (std::vector<BYTE>{0}));
}

TEST(ICPacketSample, TimesFollowThePlatformRules) {
    OwnedPacket packet;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    EXPECT_EQ(packet->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    REFERENCE_TIME setStart = 100;
    REFERENCE_TIME setStop = 200;
    ASSERT_EQ(packet->SetTime(&setStart, &setStop), S_OK);
    EXPECT_EQ(packet->GetTime(&start, &stop), S_OK);
    EXPECT_EQ(start, 100);
    EXPECT_EQ(stop, 200);
    ASSERT_EQ(packet->SetTime(&setStart, nullptr), S_OK);
    EXPECT_EQ(packet->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(stop, 101);
    setStop = 50;
    EXPECT_EQ(packet->SetTime(&setStart, &setStop), E_FAIL);
    EXPECT_EQ(packet->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(start, 100);
    ASSERT_EQ(packet->SetTime(nullptr, nullptr), S_OK);
    EXPECT_EQ(packet->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);

    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
    EXPECT_EQ(packet->GetMediaTime(&mediaStart, &mediaStop), VFW_E_MEDIA_TIME_NOT_SET);
    LONGLONG a = 1000;
    LONGLONG b = 1500;
    ASSERT_EQ(packet->SetMediaTime(&a, &b), S_OK);
    EXPECT_EQ(packet->GetMediaTime(&mediaStart, &mediaStop), S_OK);
    EXPECT_EQ(mediaStart, 1000);
    EXPECT_EQ(mediaStop, 1500);
}

TEST(ICPacketSample, LengthFlagsAndMediaType) {
    OwnedPacket packet(100);
    EXPECT_EQ(packet->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(packet->SetActualDataLength(100), S_OK);
    EXPECT_EQ(packet->GetActualDataLength(), 100);
    EXPECT_EQ(packet->IsSyncPoint(), S_FALSE);
    packet->SetSyncPoint(TRUE);
    packet->SetPreroll(TRUE);
    EXPECT_EQ(packet->IsSyncPoint(), S_OK);
    EXPECT_EQ(packet->IsPreroll(), S_OK);
    EXPECT_EQ(packet->GetSampleFlags(), AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_PREROLL);

    AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(packet->GetMediaType(&type), S_FALSE);
    EXPECT_EQ(type, nullptr);
    CMediaType stream(&MEDIATYPE_Stream);
    const BYTE format[] = {1, 2, 3};
    stream.SetFormat(format, 3);
    ASSERT_EQ(packet->SetMediaType(&stream), S_OK);
    stream.ResetFormatBuffer();  // the packet holds its own copy
    ASSERT_EQ(packet->GetMediaType(&type), S_OK);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->majortype, MEDIATYPE_Stream);
    ASSERT_EQ(type->cbFormat, 3u);
    EXPECT_EQ(type->pbFormat[2], 3);
    DeleteMediaType(type);
    EXPECT_EQ(packet->SetMediaType(nullptr), S_OK);
    EXPECT_EQ(packet->GetMediaType(&type), S_FALSE);
}

TEST(ICPacketSample, PropertiesAreExchangedWithValidation) {
    OwnedPacket packet(188);
    packet->Write("xyz", 3);
    REFERENCE_TIME start = 5;
    REFERENCE_TIME stop = 6;
    packet->SetTime(&start, &stop);
    AM_SAMPLE2_PROPERTIES props{};
    ASSERT_EQ(packet->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), S_OK);
    EXPECT_EQ(props.cbData, sizeof(props));
    EXPECT_EQ(props.lActual, 3);
    EXPECT_EQ(props.tStart, 5);
    EXPECT_EQ(props.dwSampleFlags, AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    EXPECT_EQ(props.pbBuffer, packet->GetData());
    EXPECT_EQ(props.cbBuffer, 188);
    EXPECT_EQ(packet->GetProperties(8, nullptr), E_POINTER);

    AM_SAMPLE2_PROPERTIES change = props;
    change.dwSampleFlags = AM_SAMPLE_MEDIATIMEVALID;  // not settable
    EXPECT_EQ(packet->SetProperties(sizeof(change), reinterpret_cast<BYTE*>(&change)),
              E_INVALIDARG);
    change = props;
    change.pbBuffer = props.pbBuffer + 1;  // the buffer cannot be exchanged
    EXPECT_EQ(packet->SetProperties(sizeof(change), reinterpret_cast<BYTE*>(&change)),
              E_INVALIDARG);
    change = props;
    change.lActual = 189;
    EXPECT_EQ(packet->SetProperties(sizeof(change), reinterpret_cast<BYTE*>(&change)),
              E_INVALIDARG);
    change = props;
    change.cbData = sizeof(change) + 4;
    EXPECT_EQ(packet->SetProperties(sizeof(change), reinterpret_cast<BYTE*>(&change)),
              E_INVALIDARG);

    CMediaType type(&MEDIATYPE_Stream);
    change = props;
    change.dwStreamId = AM_STREAM_CONTROL;
    change.lActual = 2;
    change.dwSampleFlags = AM_SAMPLE_DATADISCONTINUITY | AM_SAMPLE_TYPECHANGED;
    change.pMediaType = &type;
    const DWORD upToMediaType = offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer);
    change.cbData = upToMediaType;
    ASSERT_EQ(packet->SetProperties(upToMediaType, reinterpret_cast<BYTE*>(&change)), S_OK);
    EXPECT_EQ(packet->GetStreamId(), AM_STREAM_CONTROL);
    EXPECT_EQ(packet->GetActualDataLength(), 2);
    EXPECT_EQ(packet->IsDiscontinuity(), S_OK);
    EXPECT_EQ(packet->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    AM_MEDIA_TYPE* held = nullptr;
    ASSERT_EQ(packet->GetMediaType(&held), S_OK);
    EXPECT_EQ(held->majortype, MEDIATYPE_Stream);
    DeleteMediaType(held);
}

TEST(ICPacketSample, ExtendedTimesKeepWhatIsNotGiven) {
    OwnedPacket packet;
    LONGLONG start = 900;
    LONGLONG stop = 1800;
    packet->SetExtTime(&start, &stop, 27000000);
    LONGLONG newStop = 2700;
    packet->SetExtTime(nullptr, &newStop, 90000);
    LONGLONG gotStart = 0;
    LONGLONG gotStop = 0;
    LONG rate = 0;
    packet->GetExtTime(&gotStart, &gotStop, &rate);
    EXPECT_EQ(gotStart, 900);
    EXPECT_EQ(gotStop, 2700);
    EXPECT_EQ(rate, 90000);
    EXPECT_EQ(packet->GetExtStart(), 900);
}

TEST(ICPacketCopy, CopyFromTakesDataTimesTypeAndFlags) {
    OwnedPacket source(32);
    source->Write("transport", 9);
    REFERENCE_TIME start = 70;
    source->SetTime(&start, nullptr);
    LONGLONG mediaStart = 3;
    LONGLONG mediaStop = 4;
    source->SetMediaTime(&mediaStart, &mediaStop);
    source->SetDiscontinuity(TRUE);
    source->SetPreroll(TRUE);
    CMediaType type(&MEDIATYPE_Stream);
    source->SetMediaType(&type);

    OwnedPacket target(4);  // grows for the data
    target->SetUser1(5);
    ASSERT_EQ(target->CopyFrom(static_cast<IMediaSample2*>(source.packet)), S_OK);
    EXPECT_EQ(Contents(target.packet), Contents(source.packet));
    REFERENCE_TIME gotStart = 0;
    REFERENCE_TIME gotStop = 0;
    EXPECT_EQ(target->GetTime(&gotStart, &gotStop), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(gotStart, 70);
    LONGLONG gotMediaStart = 0;
    LONGLONG gotMediaStop = 0;
    EXPECT_EQ(target->GetMediaTime(&gotMediaStart, &gotMediaStop), S_OK);
    EXPECT_EQ(gotMediaStop, 4);
    EXPECT_EQ(target->IsDiscontinuity(), S_OK);
    EXPECT_EQ(target->IsPreroll(), S_OK);
    EXPECT_EQ(target->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(target->GetUser1(), 0u);
    AM_MEDIA_TYPE* copied = nullptr;
    ASSERT_EQ(target->GetMediaType(&copied), S_OK);
    DeleteMediaType(copied);
    EXPECT_EQ(target->CopyFrom(nullptr), E_POINTER);
}

TEST(ICPacketRelease, TheLastReleaseClearsTheSamplePropertiesButKeepsTheData) {
    // A packet kept alive by an extra reference that a test subclass swallows.
    class KeptPacket : public ICPacket {
    public:
        KeptPacket() : ICPacket(nullptr, 16, 0) {}
        int finalReleases = 0;

    protected:
        void OnFinalRelease() override { ++finalReleases; }
    };
    KeptPacket packet;
    packet.AddRef();
    packet.Write("ab", 2);
    CMediaType type(&MEDIATYPE_Stream);
    packet.SetMediaType(&type);
    packet.SetDiscontinuity(TRUE);
    EXPECT_EQ(packet.Release(), 0u);
    EXPECT_EQ(packet.finalReleases, 1);
    EXPECT_EQ(packet.GetSampleFlags(), 0u);
    EXPECT_EQ(packet.GetLength(), 2);
    // A release too many is ignored.
    EXPECT_EQ(packet.Release(), 0u);
    EXPECT_EQ(packet.finalReleases, 1);
}
