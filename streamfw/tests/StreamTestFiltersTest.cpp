// The push source and the recording sink that the graph tests of the modules rely on, connected
// straight to each other: what the sink records must be exactly what was delivered.
#include "streamfw/tests/StreamTestFilters.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/ICUiThread.h"
#include "streamfw/tests/GraphTest.h"

using namespace streamtest;

namespace {

class SourceToSink : public GraphTest {
protected:
    void Build(const PushSource::Options& options) {
        source = new PushSource(options);
        Add(source, u"Source");
        sink = new RecordingSink();
        Add(sink, u"Sink");
        CMediaType type = TransportStreamType();
        ASSERT_EQ(graph->ConnectDirect(source->pin, sink->pin, &type), S_OK);
    }

    PushSource* source = nullptr;
    RecordingSink* sink = nullptr;
};

}  // namespace

TEST_F(SourceToSink, RecordsSamplesAndStreamCallsInTheOrderTheyCame) {
    Build({.bufferCount = 4, .bufferSize = 1024});
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    const Bytes untimed = {0x10, 0x20, 0x30, 0x40, 0x50};
    ASSERT_EQ(source->PushNumbered(7), S_OK);
    ASSERT_EQ(source->PushNewSegment(100, 200, 1.5), S_OK);
    ASSERT_EQ(source->PushSample(untimed.data(), untimed.size()), S_OK);
    ASSERT_EQ(source->PushBeginFlush(), S_OK);
    ASSERT_EQ(source->PushEndFlush(), S_OK);
    ASSERT_EQ(source->PushNumbered(8, 400), S_OK);
    ASSERT_EQ(source->PushEndOfStream(), S_OK);

    int32_t untimedSequence = 0;
    std::memcpy(&untimedSequence, untimed.data(), sizeof(untimedSequence));
    EXPECT_EQ(sink->Sequences(),
              (std::vector<int32_t>{7, RecordingSink::kNewSegment, untimedSequence,
                                    RecordingSink::kBeginFlush, RecordingSink::kEndFlush, 8,
                                    RecordingSink::kEndOfStream}));
    EXPECT_EQ(sink->Calls(RecordingSink::kEndFlush), 1);
    EXPECT_EQ(sink->Calls(RecordingSink::kNewSegment), 1);
    ASSERT_EQ(sink->Segments().size(), 1u);
    EXPECT_EQ(sink->Segments()[0].start, 100);
    EXPECT_EQ(sink->Segments()[0].stop, 200);
    EXPECT_EQ(sink->Segments()[0].rate, 1.5);

    std::vector<Received> samples = sink->Samples();
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(sink->Count(), 3u);
    ASSERT_TRUE(samples[0].timed);
    EXPECT_EQ(samples[0].start, 70000);
    EXPECT_EQ(samples[0].stop, 80000);
    EXPECT_EQ(samples[0].data.size(), kTsPacketSize);
    EXPECT_EQ(samples[0].data[4], 0x47);
    // Pushed without times, it has none (its buffer may have carried some before).
    EXPECT_FALSE(samples[1].timed);
    EXPECT_EQ(samples[1].data, untimed);
    EXPECT_EQ(samples[2].Sequence(), 8);
    EXPECT_EQ(samples[2].data.size(), 400u);
    // Delivered straight from the pushing thread.
    for (const Received& sample : samples) {
        EXPECT_EQ(sample.thread, ICGetCurrentThreadId());
        EXPECT_EQ(sample.expectedThread, 0u);  // no upstream pin to compare with
    }
    Bytes all = samples[0].data;
    all.insert(all.end(), untimed.begin(), untimed.end());
    all.insert(all.end(), samples[2].data.begin(), samples[2].data.end());
    EXPECT_EQ(sink->Concatenated(), all);
}

TEST_F(SourceToSink, BytesAreCutIntoSamplesOfWholePacketsAndNeverTruncated) {
    Build({.bufferCount = 4, .bufferSize = LONG(2 * kTsPacketSize)});
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    Bytes stream(5 * kTsPacketSize + 94);
    for (size_t i = 0; i < stream.size(); ++i) {
        stream[i] = uint8_t(i * 13);
    }
    ASSERT_EQ(source->Push(stream, 2), S_OK);
    std::vector<Received> samples = sink->Samples();
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[0].data.size(), 2 * kTsPacketSize);
    EXPECT_EQ(samples[2].data.size(), kTsPacketSize + 94);
    EXPECT_EQ(sink->Concatenated(), stream);

    // More than a buffer holds, a packet count of 0, or a sample too short for its number:
    // refused, and nothing reaches the sink.
    EXPECT_EQ(source->Push(stream, 3), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(source->PushSample(stream.data(), 2 * kTsPacketSize + 1), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(source->PushNumbered(1, 2 * LONG(kTsPacketSize) + 1), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(source->Push(stream, 0), E_INVALIDARG);
    EXPECT_EQ(source->PushNumbered(1, 3), E_INVALIDARG);
    EXPECT_EQ(sink->Count(), 3u);
    // The refused samples went back to the allocator: all four buffers are still there.
    for (int32_t i = 0; i < 4; ++i) {
        ASSERT_EQ(source->PushNumbered(i), S_OK);
    }
    EXPECT_EQ(sink->Count(), 7u);
}

TEST_F(SourceToSink, TakesOnlyItsMajorTypeUnlessToldToTakeAny) {
    Build({});
    CMediaType video;
    video.SetType(&MEDIATYPE_Video);
    CMediaType transport = TransportStreamType();
    EXPECT_EQ(sink->pin->QueryAccept(&video), S_FALSE);
    EXPECT_EQ(sink->pin->QueryAccept(&transport), S_OK);
    auto* any = new RecordingSink({.majorType = std::nullopt});
    ComPtr<IBaseFilter> anyFilter = Hold(any);
    EXPECT_EQ(any->pin->QueryAccept(&video), S_OK);
}

TEST_F(SourceToSink, KeptSamplesStarveTheSourceUntilReleasedOrStopped) {
    Build({.bufferCount = 2});
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    sink->Keep(true);
    ASSERT_EQ(source->PushNumbered(0), S_OK);
    ASSERT_EQ(source->PushNumbered(1), S_OK);
    // Both buffers are held downstream: the next push waits for one.
    std::atomic<HRESULT> third{E_PENDING};
    std::thread pusher([&] { third = source->PushNumbered(2); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(third.load(), E_PENDING);
    EXPECT_EQ(sink->Count(), 2u);
    ASSERT_TRUE(sink->ReleaseOneKept());
    pusher.join();
    EXPECT_EQ(third.load(), S_OK);
    EXPECT_EQ(sink->Sequences(), (std::vector<int32_t>{0, 1, 2}));
    // Stopping gives back what is still kept (samples 1 and 2).
    ASSERT_TRUE(SUCCEEDED(control->Stop()));
    EXPECT_FALSE(sink->ReleaseOneKept());
}

TEST_F(SourceToSink, ABlockedReceiveWaitsUntilAFlushOrUnblock) {
    Build({});
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    sink->Block();
    std::atomic<bool> returned{false};
    std::thread pusher([&] {
        source->PushNumbered(0);
        returned = true;
    });
    ASSERT_TRUE(sink->WaitBlocked());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    ASSERT_EQ(source->PushBeginFlush(), S_OK);
    pusher.join();
    ASSERT_EQ(source->PushEndFlush(), S_OK);
    EXPECT_EQ(sink->Sequences(),
              (std::vector<int32_t>{0, RecordingSink::kBeginFlush, RecordingSink::kEndFlush}));

    sink->Block();
    std::thread second([&] { source->PushNumbered(1); });
    ASSERT_TRUE(sink->WaitBlocked());
    sink->Unblock();
    second.join();
    EXPECT_EQ(sink->Count(), 2u);
}
