// The transport-stream source with capture input: cutting chunks into packets, the checks and
// counters, the pool limit, recording, and damaged input.
#include <random>
#include <thread>

#include "sources/RecordingTrailer.h"
#include "sources/tests/SourceTestSupport.h"

namespace sourcetest {
namespace {

class CaptureTest : public SourceGraphTest {
protected:
    void SetUp() override {
        SourceGraphTest::SetUp();
        HRESULT hr = S_OK;
        source = new ICQVTSSource(nullptr, &hr);
        ASSERT_EQ(hr, S_OK);
        AddSource(source, 1);
        push =
            new PushSource({.bufferCount = 8, .bufferSize = LONG(kSamplePackets * kTsPacketSize)});
        Add(push, u"Push");
        CMediaType type = TransportStreamType();
        ASSERT_EQ(graph->ConnectDirect(push->GetPin(0), source->GetPin(0), &type), S_OK);
    }

    HRESULT PushChunk(const Bytes& bytes) { return push->PushSample(bytes.data(), bytes.size()); }

    // Waits until the sink holds `count` numbered packets and returns the numbers it has.
    std::vector<uint32_t> Delivered(size_t count) {
        std::vector<uint32_t> numbers;
        WaitPatiently([&] {
            numbers = PacketNumbers(sink->Concatenated());
            return numbers.size() >= count;
        });
        return numbers;
    }

    static constexpr size_t kSamplePackets = streamtest::kSamplePackets;
    ICQVTSSource* source = nullptr;
    PushSource* push = nullptr;
};

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + long(from), bytes.begin() + long(to));
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

TEST_F(CaptureTest, CutsChunksThatDoNotFollowPacketBoundaries) {
    RunLive();
    const Bytes packets = NumberedPackets(0, 30);
    // Garbage before the first packet (with a lone sync byte in it), a packet split after 100
    // bytes, whose next chunk's byte 88 begins the following packet.
    Bytes garbage(50, 0x00);
    garbage[10] = 0x47;
    ASSERT_EQ(PushChunk(Concat({garbage, Slice(packets, 0, 10 * 188 + 100)})), S_OK);
    ASSERT_EQ(PushChunk(Slice(packets, 10 * 188 + 100, 20 * 188 + 100)), S_OK);
    // A packet start whose continuation never comes: the next chunk is other data and the
    // stored start is given up.
    Bytes junk(300, 0x11);
    ASSERT_EQ(PushChunk(Concat({junk, Slice(packets, 21 * 188, 30 * 188)})), S_OK);

    std::vector<uint32_t> expected = Range(0, 20);
    const std::vector<uint32_t> tail = Range(21, 9);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(Delivered(expected.size()), expected);
    DWORD sync = 9;
    DWORD transport = 9;
    DWORD dropped = 9;
    EXPECT_EQ(source->GetErrorCounts(&sync, &transport, &dropped), 0u);
    EXPECT_EQ(sync + transport + dropped, 0u);
}

TEST_F(CaptureTest, DropsAndCountsDamagedPacketsWithoutRecordingThem) {
    TempFolder folder;
    const std::string path = folder.File("damaged.ts");
    RunLive();
    ASSERT_EQ(source->StartRecording(Utf16(path).c_str(), nullptr, 0, nullptr, 0, FALSE), 0u);
    Bytes packets = NumberedPackets(0, 12);
    packets[3 * 188 + 1] |= 0x80;  // transport error indicator
    packets[5 * 188] = 0x46;       // a lost sync byte: the cut resynchronises past it
    packets[7 * 188 + 3] |= 0x20;  // an adaptation field longer than a packet
    packets[7 * 188 + 4] = 190;
    ASSERT_EQ(PushChunk(packets), S_OK);
    const std::vector<uint32_t> expected = {0, 1, 2, 4, 6, 8, 9, 10, 11};
    EXPECT_EQ(Delivered(expected.size()), expected);
    ASSERT_EQ(source->StopRecording(), S_OK);
    EXPECT_EQ(PacketNumbers(ReadFile(path)), expected);

    DWORD sync = 0;
    DWORD transport = 0;
    DWORD dropped = 0;
    EXPECT_EQ(source->GetErrorCounts(&sync, &transport, &dropped), 1u);
    EXPECT_EQ(sync, 0u);
    EXPECT_EQ(transport, 1u);
    EXPECT_EQ(dropped, 0u);
    // Reading reset them.
    EXPECT_EQ(source->GetErrorCounts(nullptr, nullptr, nullptr), 0u);
}

TEST_F(CaptureTest, DataArrivingWhilePausedWaitsInAPoolOf48000Packets) {
    ASSERT_EQ(control->Pause(), S_OK);
    // 49 samples of 1024 packets: the pool is full after 46 and 896 packets; the rest of that
    // sample and the two after it are lost, one drop counted for each.
    constexpr uint32_t kSamples = 49;
    for (uint32_t i = 0; i < kSamples; ++i) {
        ASSERT_EQ(PushChunk(NumberedPackets(i * 1024, 1024)), S_OK);
    }
    EXPECT_EQ(source->GetPoolCount(), ICQVTSSource::kMaxPoolPackets);
    EXPECT_EQ(sink->Count(), 0u);
    DWORD dropped = 0;
    source->GetErrorCounts(nullptr, nullptr, &dropped);
    EXPECT_EQ(dropped, 3u);
    RunLive();
    EXPECT_EQ(Delivered(ICQVTSSource::kMaxPoolPackets), Range(0, ICQVTSSource::kMaxPoolPackets));
    // The first sample after the pause is marked as a discontinuity.
    ASSERT_FALSE(sink->Samples().empty());
    EXPECT_TRUE(sink->Samples().front().discontinuity);
}

TEST_F(CaptureTest, RecordsWithHeaderExcludedPidsAndATrailerThatLoadReadsBack) {
    const Bytes stream = SimulatedStream(3.0);
    ASSERT_FALSE(stream.empty());
    TempFolder folder;
    const std::string path = folder.File("recording.ts");
    Bytes header(188, 0x00);
    header[0] = 0x47;
    header[1] = 0x1F;
    header[2] = 0xFF;
    const WORD excluded[] = {0x0012};
    RunLive();
    ASSERT_EQ(source->StartRecording(Utf16(path).c_str(), header.data(), 188, excluded, 1, TRUE),
              0u);
    for (size_t offset = 0; offset < stream.size(); offset += 1024 * 188) {
        const size_t end = std::min(stream.size(), offset + 1024 * 188);
        ASSERT_EQ(PushChunk(Slice(stream, offset, end)), S_OK);
    }
    ASSERT_TRUE(WaitPatiently([&] { return sink->Concatenated().size() == stream.size(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(source->StopRecording(), S_OK);

    const Bytes recorded = ReadFile(path);
    ASSERT_GE(recorded.size(), 2 * 188u);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), recorded.begin()));
    const uint8_t* trailer = recorded.data() + recorded.size() - 188;
    const REFERENCE_TIME duration = RecordingTrailerDuration(trailer);
    EXPECT_GT(duration, 0);
    size_t eitPackets = 0;
    size_t keptPackets = 0;
    for (size_t offset = 0; offset < stream.size(); offset += 188) {
        (PidOf(stream.data() + offset) == 0x0012 ? eitPackets : keptPackets) += 1;
    }
    ASSERT_GT(eitPackets, 0u);
    EXPECT_EQ(recorded.size(), (keptPackets + 2) * 188);
    for (size_t offset = 188; offset + 188 < recorded.size(); offset += 188) {
        ASSERT_NE(PidOf(recorded.data() + offset), 0x0012) << "packet at " << offset;
    }

    HRESULT hr = S_OK;
    auto reader = streamtest::Hold(new ICQVTSSource(nullptr, &hr));
    auto* file = static_cast<ICQVTSSource*>(reader.Get());
    ASSERT_EQ(file->Load(Utf16(path).c_str(), nullptr), S_OK);
    EXPECT_EQ(file->GetDuration(), duration);
}

TEST_F(CaptureTest, RecordingIntoAMissingFolderReturnsTheFileError) {
    TempFolder folder;
    const std::string path = folder.File("missing/recording.ts");
    const DWORD error = source->StartRecording(Utf16(path).c_str(), nullptr, 0, nullptr, 0, TRUE);
    EXPECT_TRUE(error == 2 || error == 3) << error;
    EXPECT_EQ(source->StopRecording(), S_OK);
}

TEST_F(CaptureTest, DamagedInputNeverStopsTheStream) {
    RunLive();
    std::mt19937 random(7);
    Bytes stream = SimulatedStream(2.0);
    // Bit errors all over the stream, then chunks of random sizes with garbage between some.
    for (int i = 0; i < 2000; ++i) {
        stream[random() % stream.size()] ^= uint8_t(1u << (random() % 8));
    }
    size_t offset = 0;
    while (offset < stream.size()) {
        const size_t size = std::min<size_t>(stream.size() - offset, 1 + random() % 60000);
        Bytes chunk = Slice(stream, offset, offset + size);
        if (random() % 4 == 0) {
            Bytes garbage(random() % 500);
            for (auto& byte : garbage) {
                byte = uint8_t(random());
            }
            chunk.insert(chunk.begin() + long(random() % chunk.size()), garbage.begin(),
                         garbage.end());
        }
        ASSERT_EQ(PushChunk(chunk), S_OK);
        offset += size;
    }
    // Most of the stream still arrives, in whole packets that begin with a sync byte.
    ASSERT_TRUE(WaitPatiently([&] { return sink->Concatenated().size() > stream.size() / 2; }));
    const Bytes delivered = sink->Concatenated();
    ASSERT_EQ(delivered.size() % 188, 0u);
    for (size_t at = 0; at < delivered.size(); at += 188) {
        ASSERT_EQ(delivered[at], 0x47);
    }
}

}  // namespace
}  // namespace sourcetest
