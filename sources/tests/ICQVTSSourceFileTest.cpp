// The transport-stream source playing files: loading, the duration, reading to the end,
// seeking.
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/DShowErrors.h"
#include "sources/ICQVTSSourcePins.h"
#include "sources/RecordingTrailer.h"
#include "sources/tests/SourceTestSupport.h"

namespace sourcetest {
namespace {

constexpr REFERENCE_TIME kSecond = 10000000;

class FilePlaybackTest : public SourceGraphTest {
protected:
    void SetUp() override {
        SourceGraphTest::SetUp();
        HRESULT hr = S_OK;
        source = new ICQVTSSource(nullptr, &hr);
        ASSERT_EQ(hr, S_OK);
        AddSource(source, 1);
    }

    HRESULT Load(const std::string& path) { return source->Load(Utf16(path).c_str(), nullptr); }

    ICQVTSSource* source = nullptr;
    TempFolder folder;
};

TEST_F(FilePlaybackTest, DurationComesFromTheTrailerOrElseFromThePcrs) {
    const Bytes stream = SimulatedStream(6.0);
    const std::string plain = folder.File("plain.ts");
    ASSERT_TRUE(WriteFile(plain, stream));
    ASSERT_EQ(Load(plain), S_OK);
    // A file far shorter than the scan window: measured from its first to its last PCR.
    EXPECT_NEAR(double(source->GetDuration()) / kSecond, 6.0, 0.1);

    Bytes withTrailer = stream;
    uint8_t trailer[188];
    MakeRecordingTrailer(trailer, 36000000000);
    withTrailer.insert(withTrailer.end(), trailer, trailer + 188);
    const std::string recorded = folder.File("recorded.ts");
    ASSERT_TRUE(WriteFile(recorded, withTrailer));
    ASSERT_EQ(Load(recorded), S_OK);
    EXPECT_EQ(source->GetDuration(), 36000000000);

    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(source->GetPin(1)->QueryInterface(IID_IMediaSeeking, seeking.GetVoidAddressOf()),
              S_OK);
    LONGLONG duration = 0;
    ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 36000000000);

    // Without PCRs nothing can be measured.
    const std::string numbered = folder.File("numbered.ts");
    ASSERT_TRUE(WriteFile(numbered, NumberedPackets(0, 500)));
    ASSERT_EQ(Load(numbered), S_OK);
    EXPECT_EQ(source->GetDuration(), 0);
}

TEST_F(FilePlaybackTest, LoadReportsMissingFilesAndGetCurFileReturnsTheName) {
    LPOLESTR name = nullptr;
    EXPECT_EQ(source->GetCurFile(&name, nullptr), E_FAIL);
    EXPECT_EQ(Load(folder.File("missing.ts")), VFW_E_NOT_FOUND);
    EXPECT_FALSE(source->IsFileMode());
    ASSERT_EQ(source->GetCurFile(&name, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), Utf16(folder.File("missing.ts")));
    CoTaskMemFree(name);
}

TEST_F(FilePlaybackTest, EndsWithEndOfStreamAfterTheLastRead) {
    // Three reads' worth and a cut-off packet, which the fourth read finds and ignores.
    const uint32_t count = 2048 * 3;
    Bytes packets = NumberedPackets(0, count);
    packets[100 * 188] = 0x46;  // a damaged sync byte: that packet is dropped and counted
    const Bytes truncated = NumberedPackets(count, 1);
    packets.insert(packets.end(), truncated.begin(), truncated.begin() + 100);
    const std::string path = folder.File("three-reads.ts");
    ASSERT_TRUE(WriteFile(path, packets));
    ASSERT_EQ(Load(path), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(sink->WaitForCall(RecordingSink::kEndOfStream));
    EXPECT_EQ(source->GetReadCount(), 4);
    std::vector<uint32_t> expected = Range(0, count);
    expected.erase(expected.begin() + 100);
    EXPECT_EQ(PacketNumbers(sink->Concatenated()), expected);
    DWORD sync = 0;
    EXPECT_EQ(source->GetErrorCounts(&sync, nullptr, nullptr), 1u);
    EXPECT_EQ(sync, 1u);
}

TEST_F(FilePlaybackTest, SeeksByTimeToWithinASecond) {
    const Bytes stream = SimulatedStream(20.0);
    const std::string path = folder.File("twenty.ts");
    ASSERT_TRUE(WriteFile(path, stream));
    const int64_t firstPcr = *PcrOf(stream.data() + [&] {
        size_t offset = 0;
        while (!PcrOf(stream.data() + offset)) {
            offset += 188;
        }
        return offset;
    }());
    ASSERT_EQ(Load(path), S_OK);
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(source->GetPin(1)->QueryInterface(IID_IMediaSeeking, seeking.GetVoidAddressOf()),
              S_OK);
    sink->Block();  // holds the stream near its start while the test seeks
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(sink->WaitBlocked());

    // Each seek marks the first sample after it as a discontinuity (as the pause from stopped
    // did for the very first one).
    // The first PCR from the n-th sample marked as a discontinuity on (a sample may hold
    // none: the PCR comes every 100 ms).
    const auto firstPcrFrom = [&](size_t n) -> std::optional<int64_t> {
        size_t marked = 0;
        bool found = false;
        for (const streamtest::Received& sample : sink->Samples()) {
            found = found || (sample.discontinuity && marked++ == n);
            for (size_t offset = 0; found && offset < sample.data.size(); offset += 188) {
                if (const std::optional<int64_t> pcr = PcrOf(sample.data.data() + offset)) {
                    return pcr;
                }
            }
        }
        return std::nullopt;
    };
    size_t seeks = 0;
    for (const REFERENCE_TIME target : {12 * kSecond, 4 * kSecond, 17 * kSecond}) {
        LONGLONG position = target;
        ASSERT_EQ(seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                        AM_SEEKING_NoPositioning),
                  S_OK);
        sink->Unblock();
        ++seeks;
        std::optional<int64_t> pcr;
        // After the first seek the file plays to its end: the later seeks go back from there.
        ASSERT_TRUE(WaitPatiently([&] { return (pcr = firstPcrFrom(seeks)).has_value(); }));
        EXPECT_NEAR(double(*pcr - firstPcr) / 27e6, double(target) / kSecond, 1.0);
    }
    ASSERT_TRUE(sink->WaitForCall(RecordingSink::kEndOfStream));
}

}  // namespace
}  // namespace sourcetest
