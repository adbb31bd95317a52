// The transform filter base in a graph: source -> filter on the framework -> sink.
#include "streamfw/ICTransformFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/CMediaSample.h"
#include "platform/dshow/ControlInterfaces.h"
#include "streamfw/ICPacket.h"
#include "streamfw/tests/GraphTest.h"
#include "streamfw/tests/RecordingTransform.h"
#include "streamfw/tests/StreamTestFilters.h"

using namespace streamtest;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<int32_t> Range(int32_t first, int32_t end) {
    std::vector<int32_t> values;
    for (int32_t i = first; i < end; ++i) {
        values.push_back(i);
    }
    return values;
}

class TransformGraph : public GraphTest {
protected:
    void Build(const RecordingTransform::Options& options = {}) {
        source = new PushSource();
        Add(source, u"Source");
        transform = new RecordingTransform(options);
        Add(transform, u"Transform");
        sink = new RecordingSink();
        Add(sink, u"Sink");
        sink->upstream = transform->GetOutputPin();
        CMediaType type = TransportStreamType();
        ASSERT_EQ(graph->ConnectDirect(source->pin, transform->GetInputPin(), &type), S_OK);
        ASSERT_EQ(graph->ConnectDirect(transform->GetOutputPin(), sink->pin, &type), S_OK);
    }

    void PushRange(int32_t first, int32_t end) {
        for (int32_t i = first; i < end; ++i) {
            ASSERT_EQ(source->PushNumbered(i), S_OK) << i;
        }
    }

    ICTransformOutputPin* Output() { return transform->GetOutputPin(); }
    int32_t QueuedOnOutput() {
        ICMsgQueue* queue = Output()->GetQueue();
        return queue != nullptr ? queue->GetCount() : 0;
    }

    PushSource* source = nullptr;
    RecordingTransform* transform = nullptr;
    RecordingSink* sink = nullptr;
};

}  // namespace

TEST_F(TransformGraph, ConnectsWithItsOwnAllocatorDownstream) {
    Build({.bufferCount = 7, .bufferSize = 1024});
    ICMemAllocator* own = Output()->GetPacketAllocator();
    ASSERT_NE(own, nullptr);
    EXPECT_STREQ(own->GetName().GetText(), "Allocator");
    EXPECT_EQ(static_cast<IMemAllocator*>(own), sink->pin->Allocator());
    // Upstream keeps an allocator of its own: nothing is passed through.
    EXPECT_NE(source->pin->Allocator(), static_cast<IMemAllocator*>(own));
    ALLOCATOR_PROPERTIES props{};
    own->GetProperties(&props);
    EXPECT_EQ(props.cBuffers, 7);
    EXPECT_EQ(props.cbBuffer, 1024);
    EXPECT_EQ(props.cbAlign, 16);
    EXPECT_EQ(transform->GetPinCount(), 2);
    EXPECT_EQ(transform->GetInputPin()->Name(), u"XForm In");
    EXPECT_EQ(Output()->Name(), u"XForm Out");
}

TEST_F(TransformGraph, EverySampleArrivesOnceInOrderThroughPauseRunPauseStopRun) {
    Build();
    const uint32_t testThread = ICGetCurrentThreadId();
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    PushRange(0, 10);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    PushRange(10, 20);
    ASSERT_TRUE(sink->WaitForCount(20));
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    PushRange(20, 30);
    ASSERT_TRUE(sink->WaitForCount(30));
    ASSERT_TRUE(SUCCEEDED(control->Stop()));
    EXPECT_FALSE(Output()->HasDeliveryThread());
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    PushRange(30, 40);
    ASSERT_TRUE(sink->WaitForCount(40));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // nothing more comes

    EXPECT_EQ(sink->Sequences(), Range(0, 40));
    for (const Received& sample : sink->Samples()) {
        // Delivered by the output pin's thread, never by the streaming thread.
        EXPECT_EQ(sample.thread, sample.expectedThread) << sample.Sequence();
        EXPECT_NE(sample.thread, testThread) << sample.Sequence();
        EXPECT_EQ(sample.data.size(), 188u);
    }
    for (uint32_t thread : transform->ProcessThreads()) {
        EXPECT_EQ(thread, transform->GetThreadId());  // the worker
    }
    EXPECT_EQ(transform->GetInputPin()->ReceiveCanBlock(), S_FALSE);
    EXPECT_TRUE(transform->IsPauseCompleted());
}

TEST_F(TransformGraph, WithoutWorkerSamplesAreProcessedInsideReceive) {
    Build({.worker = false});
    EXPECT_EQ(transform->GetInputPin()->ReceiveCanBlock(), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_FALSE(transform->HasWorker());
    EXPECT_EQ(transform->GetInputPin()->ReceiveCanBlock(), S_OK);
    PushRange(0, 5);
    ASSERT_TRUE(sink->WaitForCount(5));
    EXPECT_EQ(sink->Sequences(), Range(0, 5));
    for (uint32_t thread : transform->ProcessThreads()) {
        EXPECT_EQ(thread, ICGetCurrentThreadId());
    }
}

TEST_F(TransformGraph, AFlushDeliversNoneOfTheSamplesQueuedOnTheOutputPin) {
    Build();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    sink->Block();
    PushRange(0, 1);
    ASSERT_TRUE(sink->WaitBlocked());
    PushRange(1, 11);
    ASSERT_TRUE(WaitUntil([&] { return QueuedOnOutput() == 10; }));

    ASSERT_EQ(source->PushBeginFlush(), S_OK);
    EXPECT_EQ(QueuedOnOutput(), 0);
    ASSERT_EQ(source->PushEndFlush(), S_OK);
    ASSERT_TRUE(sink->WaitForCall(RecordingSink::kEndFlush));
    PushRange(11, 12);
    ASSERT_TRUE(sink->WaitForCount(2));  // 0 and 11
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(sink->Sequences(),
              (std::vector<int32_t>{0, RecordingSink::kBeginFlush, RecordingSink::kEndFlush, 11}));
    // The ten dropped packets went home.
    EXPECT_TRUE(WaitUntil([&] { return Output()->GetPacketAllocator()->GetFreeCount() == 50; }));
}

TEST_F(TransformGraph, SamplesQueuedBehindAFlushOrAStopAreReleasedExactlyOnce) {
    Build();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    // Samples of the test's own, one reference each: what the queue does with them shows in
    // their counts afterwards (a sample released twice would be gone).
    std::vector<ICPacket*> own;
    for (int i = 0; i < 4; ++i) {
        own.push_back(new ICPacket(nullptr, 188, 0));
        own.back()->AddRef();
    }
    auto queueBehindABlockedDelivery = [&](ICPacket* first, ICPacket* second) {
        sink->Block();
        ASSERT_EQ(Output()->Deliver(static_cast<IMediaSample2*>(first)), S_OK);
        ASSERT_TRUE(sink->WaitBlocked());
        ASSERT_EQ(Output()->DeliverNewSegment(0, 100, 1.0), S_OK);
        ASSERT_EQ(Output()->Deliver(static_cast<IMediaSample2*>(second)), S_OK);
        ASSERT_EQ(QueuedOnOutput(), 2);
    };

    queueBehindABlockedDelivery(own[0], own[1]);
    ASSERT_EQ(source->PushBeginFlush(), S_OK);  // drops own[1], frees the blocked delivery
    ASSERT_EQ(source->PushEndFlush(), S_OK);
    ASSERT_TRUE(sink->WaitForCall(RecordingSink::kEndFlush));
    // The freed delivery has finished and the segment behind it has gone down.
    ASSERT_TRUE(WaitUntil([&] { return sink->Segments().size() == 1; }));
    queueBehindABlockedDelivery(own[2], own[3]);
    ASSERT_TRUE(SUCCEEDED(control->Stop()));  // whatever is still queued goes with the thread

    for (ICPacket* packet : own) {
        EXPECT_EQ(packet->AddRef(), 2u);
        packet->Release();
        packet->Release();
    }
}

TEST_F(TransformGraph, StopOvertakesTheSamplesQueuedOnTheWorker) {
    Build();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    transform->HoldFirst();
    PushRange(0, 1);
    ASSERT_TRUE(transform->WaitHolding());
    PushRange(1, 6);
    ASSERT_TRUE(SUCCEEDED(control->Stop()));
    transform->ReleaseHold();
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<int32_t> events = transform->Events();
        return !events.empty() && events.back() == 5;
    }));
    // The held sample, then the state changes (the graph pauses on its way to stopping), then
    // the samples that were queued before them.
    std::vector<int32_t> events = transform->Events();
    auto held = std::find(events.begin(), events.end(), 0);
    auto stopMessage = std::find(events.begin(), events.end(), RecordingTransform::kStopEvent);
    auto firstQueued = std::find(events.begin(), events.end(), 1);
    ASSERT_NE(stopMessage, events.end());
    EXPECT_LT(held, stopMessage);
    EXPECT_LT(stopMessage, firstQueued);
    EXPECT_EQ(std::vector<int32_t>(firstQueued, events.end()), Range(1, 6));
    // Stopped: none of them went downstream, nor anything else.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(sink->Sequences().empty());
}

TEST_F(TransformGraph, EndOfStreamAndSegmentsFollowTheSamplesQueuedBeforeThem) {
    Build();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    transform->HoldFirst();
    PushRange(0, 1);
    ASSERT_TRUE(transform->WaitHolding());
    ASSERT_EQ(source->PushNewSegment(5000, 9000, 1.0), S_OK);
    PushRange(1, 3);
    ASSERT_EQ(source->PushEndOfStream(), S_OK);
    transform->ReleaseHold();
    ASSERT_TRUE(sink->WaitForCall(RecordingSink::kEndOfStream));
    const std::vector<int32_t> delivered{0, RecordingSink::kNewSegment, 1, 2,
                                         RecordingSink::kEndOfStream};
    EXPECT_EQ(sink->Sequences(), delivered);
    ASSERT_EQ(sink->Segments().size(), 1u);
    EXPECT_EQ(sink->Segments()[0].start, 5000);
    EXPECT_EQ(transform->GetSegmentStop(), 9000);
    EXPECT_TRUE(Output()->IsEndOfStreamSent());
    // After the end of the stream nothing more is delivered.
    PushRange(3, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sink->Sequences(), delivered);
}

TEST_F(TransformGraph, GetPacketTimesOutOnlyWhenRetryingIsNotAllowed) {
    Build({.bufferCount = 2});
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    HRESULT status = E_FAIL;
    ICPacket* first = Output()->GetPacket(&status);
    ICPacket* second = Output()->GetPacket(&status);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(status, S_OK);

    // Running: an exhausted allocator fails after its 2000 ms.
    auto before = Clock::now();
    EXPECT_EQ(Output()->GetPacket(&status), nullptr);
    EXPECT_EQ(status, VFW_E_TIMEOUT);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(1900));

    // Paused after running: it keeps waiting until a packet comes back...
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    EXPECT_TRUE(Output()->IsRetryAllowed());
    std::atomic<ICPacket*> got{nullptr};
    std::atomic<HRESULT> gotStatus{E_FAIL};
    before = Clock::now();
    std::thread waiter([&] {
        HRESULT result = E_FAIL;
        got = Output()->GetPacket(&result);
        gotStatus = result;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(got.load(), nullptr);
    first->Release();
    waiter.join();
    EXPECT_EQ(gotStatus.load(), S_OK);
    EXPECT_NE(got.load(), nullptr);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(2400));

    // ...or a flush begins.
    std::thread flushWaiter([&] {
        HRESULT result = S_OK;
        EXPECT_EQ(Output()->GetPacket(&result), nullptr);
        gotStatus = result;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    before = Clock::now();
    ASSERT_EQ(source->PushBeginFlush(), S_OK);
    flushWaiter.join();
    EXPECT_EQ(gotStatus.load(), VFW_E_TIMEOUT);
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(1500));
    ASSERT_EQ(source->PushEndFlush(), S_OK);
    got.load()->Release();
    second->Release();
    // Stopped before the graph goes, so the worker is not still passing the flush on.
    ASSERT_TRUE(SUCCEEDED(control->Stop()));
}

TEST_F(TransformGraph, ADroppedSampleCostsNothingButThatSample) {
    Build({.bufferCount = 1});
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    sink->Keep(true);  // the sink holds the only packet
    PushRange(0, 2);
    ASSERT_TRUE(sink->WaitForCount(1));
    // Sample 1 found no packet within 2000 ms while running: it is dropped.
    ASSERT_TRUE(WaitUntil([&] { return transform->lastResult.load() == VFW_E_TIMEOUT; }, 4000));
    sink->ReleaseKept();
    sink->Keep(false);
    PushRange(2, 3);
    ASSERT_TRUE(sink->WaitForCount(2));
    EXPECT_EQ(sink->Sequences(), (std::vector<int32_t>{0, 2}));
}

TEST_F(TransformGraph, PendingSamplesAreProcessedInOrderAndReleased) {
    Build({.worker = false});
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    for (int32_t sequence : {7, 8, 9}) {
        auto* packet = new ICPacket(nullptr, 188, 0);
        packet->AddRef();
        packet->Write(&sequence, sizeof(sequence));
        transform->AddPending(static_cast<IMediaSample2*>(packet));
        packet->Release();  // the pending list holds it now
    }
    EXPECT_EQ(transform->GetPendingCount(), 3);
    EXPECT_EQ(transform->ProcessPending(), S_OK);
    EXPECT_EQ(transform->GetPendingCount(), 0);
    ASSERT_TRUE(sink->WaitForCount(3));
    EXPECT_EQ(sink->Sequences(), (std::vector<int32_t>{7, 8, 9}));
}

TEST(ICTransformFilterCopy, CopySampleCarriesTimesFlagsExtendedTimeAndData) {
    LONG baseline = CBaseObject::ObjectsActive();
    {
        auto* filter = new RecordingTransform({});
        ComPtr<IBaseFilter> held = Hold(filter);

        // A platform sample as the source: no extended time, so it is made from the media time.
        BYTE bytes[400];
        for (int i = 0; i < 400; ++i) {
            bytes[i] = BYTE(i);
        }
        HRESULT hr = S_OK;
        auto* plain = new CMediaSample(u"plain", nullptr, &hr, bytes, sizeof(bytes));
        ComPtr<IMediaSample> source(static_cast<IMediaSample*>(plain));
        source->SetActualDataLength(400);
        REFERENCE_TIME start = 10000000;
        REFERENCE_TIME stop = 20000000;
        source->SetTime(&start, &stop);
        LONGLONG mediaStart = 10000000;  // one second
        LONGLONG mediaStop = 20000000;
        source->SetMediaTime(&mediaStart, &mediaStop);
        source->SetDiscontinuity(TRUE);
        source->SetSyncPoint(TRUE);

        auto* packet = new ICPacket(nullptr, 188, 0);
        ComPtr<IMediaSample> destination(static_cast<IMediaSample2*>(packet));
        packet->SetUser1(3);
        ASSERT_EQ(filter->CopySample(source.Get(), destination.Get()), S_OK);
        EXPECT_EQ(packet->GetLength(), 400);  // grown for the data
        EXPECT_EQ(packet->GetData()[399], BYTE(399 & 0xFF));
        REFERENCE_TIME gotStart = 0;
        REFERENCE_TIME gotStop = 0;
        EXPECT_EQ(destination->GetTime(&gotStart, &gotStop), S_OK);
        EXPECT_EQ(gotStop, stop);
        EXPECT_EQ(destination->IsDiscontinuity(), S_OK);
        EXPECT_EQ(destination->IsSyncPoint(), S_OK);
        LONGLONG gotMediaStart = 0;
        LONGLONG gotMediaStop = 0;
        EXPECT_EQ(destination->GetMediaTime(&gotMediaStart, &gotMediaStop), S_OK);
        EXPECT_EQ(gotMediaStop, mediaStop);
        LONGLONG extStart = 0;
        LONGLONG extStop = 0;
        LONG rate = 0;
        packet->GetExtTime(&extStart, &extStop, &rate);
        EXPECT_EQ(extStart, 90000);
        EXPECT_EQ(extStop, 90000);
        EXPECT_EQ(rate, 90000);

        // Packet to packet: the extended times travel as they are.
        auto* second = new ICPacket(nullptr, 16, 0);
        ComPtr<IMediaSample> secondSample(static_cast<IMediaSample2*>(second));
        LONGLONG e1 = 111;
        LONGLONG e2 = 222;
        packet->SetExtTime(&e1, &e2, 27000000);
        ASSERT_EQ(filter->CopySample(destination.Get(), secondSample.Get()), S_OK);
        second->GetExtTime(&extStart, &extStop, &rate);
        EXPECT_EQ(extStart, 111);
        EXPECT_EQ(extStop, 222);
        EXPECT_EQ(rate, 27000000);
        EXPECT_EQ(second->GetLength(), 400);

        // A foreign destination that is too small is refused, not overrun.
        BYTE small[100];
        auto* tooSmall = new CMediaSample(u"small", nullptr, &hr, small, sizeof(small));
        ComPtr<IMediaSample> tooSmallSample(static_cast<IMediaSample*>(tooSmall));
        EXPECT_EQ(filter->CopySample(source.Get(), tooSmallSample.Get()), VFW_E_BUFFER_OVERFLOW);
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), baseline);
}
