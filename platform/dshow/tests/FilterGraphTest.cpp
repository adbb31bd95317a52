// The filter graph manager with the base classes: connection, state changes, streaming, end of
// stream, events, seeking and flushing.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/com/ComRuntime.h"
#include "platform/com/RunningObjectTable.h"
#include "platform/com/tests/TemporaryRegistry.h"
#include "platform/dshow/CFilterGraph.h"
#include "platform/dshow/tests/TestFilters.h"

using namespace testfilters;

namespace {

class FilterGraph : public ::testing::Test {
protected:
    void SetUp() override {
        baseline = CBaseObject::ObjectsActive();
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.GetVoidAddressOf()),
                  S_OK);
        ASSERT_EQ(graph.As(&control), S_OK);
        ASSERT_EQ(graph.As(&events), S_OK);
    }

    void TearDown() override {
        if (control) {
            control->Stop();
        }
        control.Reset();
        events.Reset();
        graph.Reset();
        sourceFilter.Reset();
        passFilter.Reset();
        sinkFilter.Reset();
        // Every object the test made is gone: graph, filters, pins' allocators, clock.
        EXPECT_EQ(CBaseObject::ObjectsActive(), baseline);
    }

    // source -> pass-through -> sink, connected directly.
    void BuildChain(int count, REFERENCE_TIME interval,
                    TestSource::Kind kind = TestSource::Kind::kPlain) {
        source = new TestSource(count, interval, kind);
        sourceFilter = Hold(source);
        passThrough = new TestPassThrough();
        passFilter = Hold(passThrough);
        sink = new TestSink();
        sinkFilter = Hold(sink);
        ASSERT_EQ(graph->AddFilter(sourceFilter.Get(), u"Source"), S_OK);
        ASSERT_EQ(graph->AddFilter(passFilter.Get(), u"Pass"), S_OK);
        ASSERT_EQ(graph->AddFilter(sinkFilter.Get(), u"Sink"), S_OK);
        ASSERT_EQ(graph->ConnectDirect(PinOf(sourceFilter.Get(), PINDIR_OUTPUT).Get(),
                                       PinOf(passFilter.Get(), PINDIR_INPUT).Get(), nullptr),
                  S_OK);
        ASSERT_EQ(graph->ConnectDirect(PinOf(passFilter.Get(), PINDIR_OUTPUT).Get(),
                                       PinOf(sinkFilter.Get(), PINDIR_INPUT).Get(), nullptr),
                  S_OK);
    }

    // Takes events until `code` arrives (within the time-out); returns how many were taken.
    bool WaitForEvent(LONG code, LONG_PTR* param1 = nullptr, LONG_PTR* param2 = nullptr,
                      LONG milliseconds = 5000) {
        LONG received = 0;
        LONG_PTR first = 0;
        LONG_PTR second = 0;
        while (SUCCEEDED(events->GetEvent(&received, &first, &second, milliseconds))) {
            events->FreeEventParams(received, first, second);
            if (received == code) {
                if (param1) {
                    *param1 = first;
                }
                if (param2) {
                    *param2 = second;
                }
                return true;
            }
        }
        return false;
    }

    static std::vector<int32_t> Sequence(int from, int to) {
        std::vector<int32_t> values;
        for (int i = from; i < to; ++i) {
            values.push_back(i);
        }
        return values;
    }

    LONG baseline = 0;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    TestSource* source = nullptr;
    TestPassThrough* passThrough = nullptr;
    TestSink* sink = nullptr;
    ComPtr<IBaseFilter> sourceFilter;
    ComPtr<IBaseFilter> passFilter;
    ComPtr<IBaseFilter> sinkFilter;
};

}  // namespace

TEST_F(FilterGraph, ConnectsWithAgreedTypeAndSharedAllocator) {
    BuildChain(3, 10 * kMs);
    AM_MEDIA_TYPE type;
    ASSERT_EQ(PinOf(sinkFilter.Get(), PINDIR_INPUT)->ConnectionMediaType(&type), S_OK);
    EXPECT_EQ(type.majortype, MEDIATYPE_Stream);
    EXPECT_EQ(type.subtype, MEDIASUBTYPE_MPEG2_TRANSPORT);
    FreeMediaType(type);
    // The in-place filter passes samples on in the allocator both sides agreed on.
    EXPECT_FALSE(passThrough->UsingDifferentAllocators());
    EXPECT_TRUE(passThrough->TypesMatch());

    ComPtr<IPin> connected;
    EXPECT_EQ(PinOf(sinkFilter.Get(), PINDIR_INPUT)->ConnectedTo(connected.GetAddressOf()), S_OK);
    EXPECT_EQ(connected.Get(), PinOf(passFilter.Get(), PINDIR_OUTPUT).Get());
    EXPECT_EQ(graph->ConnectDirect(PinOf(sourceFilter.Get(), PINDIR_OUTPUT).Get(),
                                   PinOf(passFilter.Get(), PINDIR_INPUT).Get(), nullptr),
              VFW_E_ALREADY_CONNECTED);

    // A pin of a filter outside the graph cannot be connected through it.
    ComPtr<IBaseFilter> stray = Hold(new TestSink());
    EXPECT_EQ(graph->ConnectDirect(PinOf(passFilter.Get(), PINDIR_OUTPUT).Get(),
                                   PinOf(stray.Get(), PINDIR_INPUT).Get(), nullptr),
              VFW_E_NOT_IN_GRAPH);
}

TEST_F(FilterGraph, RefusesTypesAndDirectionsThatDoNotFit) {
    source = new TestSource(1, kMs);
    sourceFilter = Hold(source);
    sink = new TestSink();
    sinkFilter = Hold(sink);
    graph->AddFilter(sourceFilter.Get(), u"Source");
    graph->AddFilter(sinkFilter.Get(), u"Sink");
    ComPtr<IPin> output = PinOf(sourceFilter.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> input = PinOf(sinkFilter.Get(), PINDIR_INPUT);
    EXPECT_EQ(graph->ConnectDirect(input.Get(), output.Get(), nullptr), VFW_E_INVALID_DIRECTION);

    CMediaType video;
    video.SetType(&MEDIATYPE_Video);
    video.SetSubtype(&MEDIASUBTYPE_MPEG2_VIDEO);
    video.SetFormatType(&FORMAT_None);
    EXPECT_EQ(graph->ConnectDirect(output.Get(), input.Get(), &video), VFW_E_TYPE_NOT_ACCEPTED);
    ComPtr<IPin> peer;
    EXPECT_EQ(input->ConnectedTo(peer.GetAddressOf()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(graph->ConnectDirect(output.Get(), input.Get(), nullptr), S_OK);
}

TEST_F(FilterGraph, PausePlaysToTheFirstSampleThenRunDeliversAllInOrder) {
    BuildChain(20, 5 * kMs);
    OAFilterState state = -1;
    EXPECT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    const HRESULT paused = control->Pause();
    EXPECT_TRUE(paused == S_OK || paused == S_FALSE);
    // The renderer completes the pause when the first sample arrives.
    EXPECT_EQ(control->GetState(5000, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    EXPECT_TRUE(sink->HaveCurrentSample());
    EXPECT_TRUE(sink->Rendered().empty());  // held, not rendered, while paused

    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_EQ(control->GetState(1000, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    EXPECT_EQ(sink->Rendered(), Sequence(0, 20));
    EXPECT_EQ(passThrough->transformed.load(), 20);
    // No sample was rendered before its time (1 ms of slack for the clock's granularity).
    for (REFERENCE_TIME early : sink->Earliness()) {
        EXPECT_LE(early, kMs);
    }
}

TEST_F(FilterGraph, RunPauseStopAndRunAgainRestartsTheStream) {
    BuildChain(10, 2 * kMs);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    EXPECT_EQ(control->Pause(), S_OK);  // the renderer is at the end: nothing to wait for
    OAFilterState state;
    EXPECT_EQ(control->GetState(100, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_FALSE(sink->HaveCurrentSample());

    sink->ClearRendered();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    EXPECT_EQ(sink->Rendered(), Sequence(0, 10));
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(control->Stop(), S_OK);
}

TEST_F(FilterGraph, PauseWhileRunningFreezesTheStreamTime) {
    BuildChain(200, 5 * kMs);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(sink->WaitForRendered(5));
    // Complete at once when a sample is waiting in the renderer, otherwise with the next one.
    const HRESULT paused = control->Pause();
    EXPECT_TRUE(paused == S_OK || paused == S_FALSE);
    OAFilterState state;
    EXPECT_EQ(control->GetState(2000, &state), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const size_t whilePaused = sink->Rendered().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LE(sink->Rendered().size(), whilePaused + 1);  // at most the sample in flight
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(sink->WaitForRendered(whilePaused + 5));
    // Samples keep their order and none is rendered twice across the pause.
    const std::vector<int32_t> rendered = sink->Rendered();
    EXPECT_EQ(rendered, Sequence(0, static_cast<int>(rendered.size())));
    for (REFERENCE_TIME early : sink->Earliness()) {
        EXPECT_LE(early, kMs);
    }
}

TEST_F(FilterGraph, GetEventTimesOutWithAbortWhenNothingIsQueued) {
    LONG code = 1;
    LONG_PTR param1 = 1;
    LONG_PTR param2 = 1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 50), E_ABORT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 0), E_ABORT);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(events->GetEvent(nullptr, &param1, &param2, 0), E_POINTER);
}

TEST_F(FilterGraph, StateReportsIntermediateWhileThePauseWaitsForData) {
    BuildChain(3, kMs);
    source->stream->fillDelayMs = 300;
    EXPECT_EQ(control->Pause(), S_FALSE);
    OAFilterState state;
    EXPECT_EQ(control->GetState(20, &state), VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(state, State_Paused);
    EXPECT_EQ(control->GetState(5000, &state), S_OK);
    control->Stop();
}

TEST_F(FilterGraph, EndOfStreamCompletesAPauseWithoutData) {
    BuildChain(0, kMs);
    control->Pause();
    OAFilterState state;
    EXPECT_EQ(control->GetState(2000, &state), S_OK);
    // Running an ended stream completes at once.
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_TRUE(WaitForEvent(EC_COMPLETE));
    EXPECT_TRUE(sink->Rendered().empty());
}

TEST_F(FilterGraph, LiveSourceReportsCantCueWithoutWaitingForRenderers) {
    BuildChain(5, kMs, TestSource::Kind::kLive);
    control->Pause();
    OAFilterState state;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(control->GetState(2000, &state), VFW_S_CANT_CUE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(state, State_Paused);
}

TEST_F(FilterGraph, CompleteIsRaisedOnceAfterEveryRenderer) {
    BuildChain(5, 2 * kMs);
    // A second, longer chain in the same graph.
    auto* longSource = new TestSource(40, 2 * kMs);
    ComPtr<IBaseFilter> longSourceFilter = Hold(longSource);
    auto* longSink = new TestSink();
    ComPtr<IBaseFilter> longSinkFilter = Hold(longSink);
    graph->AddFilter(longSourceFilter.Get(), u"Long source");
    graph->AddFilter(longSinkFilter.Get(), u"Long sink");
    ASSERT_EQ(graph->Connect(PinOf(longSourceFilter.Get(), PINDIR_OUTPUT).Get(),
                             PinOf(longSinkFilter.Get(), PINDIR_INPUT).Get()),
              S_OK);

    ASSERT_TRUE(SUCCEEDED(control->Run()));
    LONG_PTR status = -1;
    LONG_PTR from = -1;
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE, &status, &from));
    EXPECT_EQ(status, S_OK);
    EXPECT_EQ(from, 0);
    // The long chain had to finish first.
    EXPECT_EQ(longSink->Rendered().size(), 40u);
    EXPECT_EQ(sink->Rendered().size(), 5u);
    // And it is raised once.
    EXPECT_FALSE(WaitForEvent(EC_COMPLETE, nullptr, nullptr, 100));
}

TEST_F(FilterGraph, CancelledDefaultHandlingPassesEachRenderersCompletion) {
    BuildChain(3, kMs);
    ASSERT_EQ(events->CancelDefaultHandling(EC_COMPLETE), S_OK);
    EXPECT_EQ(events->CancelDefaultHandling(EC_VIDEO_SIZE_CHANGED), E_INVALIDARG);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    LONG_PTR from = 0;
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE, nullptr, &from));
    EXPECT_EQ(from, reinterpret_cast<LONG_PTR>(sinkFilter.Get()));
    ASSERT_EQ(events->RestoreDefaultHandling(EC_COMPLETE), S_OK);
}

TEST_F(FilterGraph, FilterEventsReachTheApplicationWithNotifications) {
    struct Window : ICWindowTarget {
        void PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
            last = {message, wParam, lParam};
            ++posted;
        }
        std::atomic<int> posted{0};
        std::tuple<uint32_t, uintptr_t, intptr_t> last{};
    } window;
    std::atomic<int> callbacks{0};
    ComPtr<IMediaEventNotify> notify;
    ASSERT_EQ(graph.As(&notify), S_OK);
    ASSERT_EQ(events->SetNotifyWindow(reinterpret_cast<OAHWND>(&window), 0x500, 77), S_OK);
    ASSERT_EQ(notify->SetNotifyCallback(
                  [](void* context, LONG_PTR instance) {
                      EXPECT_EQ(instance, 5);
                      ++*static_cast<std::atomic<int>*>(context);
                  },
                  &callbacks, 5),
              S_OK);

    ComPtr<IMediaEventSink> sinkOfGraph;
    ASSERT_EQ(graph.As(&sinkOfGraph), S_OK);
    ASSERT_EQ(sinkOfGraph->Notify(0x9000, 1, 2), S_OK);
    ASSERT_EQ(sinkOfGraph->Notify(EC_REPAINT, 0, 0), S_OK);  // handled by the graph
    EXPECT_EQ(window.posted.load(), 1);
    EXPECT_EQ(window.last, std::make_tuple(0x500u, uintptr_t{0}, intptr_t{77}));
    EXPECT_EQ(callbacks.load(), 1);

    OAEVENT handle = 0;
    ASSERT_EQ(events->GetEventHandle(&handle), S_OK);
    EXPECT_GT(handle, 0);
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
    ASSERT_EQ(events->GetEvent(&code, &param1, &param2, 0), S_OK);
    EXPECT_EQ(code, 0x9000);
    EXPECT_EQ(param1, 1);
    EXPECT_EQ(param2, 2);
    EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 0), E_ABORT);

    events->SetNotifyWindow(0, 0, 0);
    notify->SetNotifyCallback(nullptr, nullptr, 0);
    sinkOfGraph->Notify(0x9001, 0, 0);
    EXPECT_EQ(window.posted.load(), 1);
    EXPECT_EQ(callbacks.load(), 1);

    // Without notification the queue takes nothing.
    ASSERT_EQ(events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY), S_OK);
    sinkOfGraph->Notify(0x9002, 0, 0);
    events->SetNotifyFlags(0);
    EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 0), E_ABORT);
}

TEST_F(FilterGraph, EventsPostedFromManyThreadsAreAllQueued) {
    ComPtr<IMediaEventSink> sinkOfGraph;
    ASSERT_EQ(graph.As(&sinkOfGraph), S_OK);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&sinkOfGraph, t] {
            for (int i = 0; i < 50; ++i) {
                sinkOfGraph->Notify(EC_USER + t, i, 0);
            }
        });
    }
    int taken = 0;
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
    while (taken < 200 && SUCCEEDED(events->GetEvent(&code, &param1, &param2, 2000))) {
        ++taken;
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(taken, 200);
}

TEST_F(FilterGraph, SeekingFlushesAndRestartsFromTheNewPosition) {
    BuildChain(60, 5 * kMs, TestSource::Kind::kSeeking);
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(graph.As(&seeking), S_OK);
    LONGLONG duration = 0;
    ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 60 * 5 * kMs);
    DWORD caps = 0;
    ASSERT_EQ(seeking->GetCapabilities(&caps), S_OK);
    EXPECT_TRUE(caps & AM_SEEKING_CanSeekAbsolute);

    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(sink->WaitForRendered(3));
    LONGLONG position = 0;
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_GT(position, 0);

    LONGLONG target = 40 * 5 * kMs;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                                    AM_SEEKING_NoPositioning),
              S_OK);
    EXPECT_GE(sink->flushes.load(), 1);
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    const std::vector<int32_t> rendered = sink->Rendered();
    // Some of the start, then exactly the samples from the new position on, in order.
    auto resumed = std::find(rendered.begin(), rendered.end(), 40);
    ASSERT_NE(resumed, rendered.end());
    EXPECT_EQ(std::vector<int32_t>(resumed, rendered.end()), Sequence(40, 60));
    EXPECT_EQ(std::vector<int32_t>(rendered.begin(), resumed),
              Sequence(0, static_cast<int>(resumed - rendered.begin())));
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, duration);  // at the end once complete
    ComPtr<IMediaPosition> seconds;
    ASSERT_EQ(graph.As(&seconds), S_OK);
    REFTIME length = 0;
    ASSERT_EQ(seconds->get_Duration(&length), S_OK);
    EXPECT_DOUBLE_EQ(length, 0.3);
    LONG canSeek = 0;
    ASSERT_EQ(seconds->CanSeekBackward(&canSeek), S_OK);
    EXPECT_EQ(canSeek, -1);
}

TEST_F(FilterGraph, FlushWhilePausedWaitsForFreshData) {
    BuildChain(10, 10 * kMs, TestSource::Kind::kSeeking);
    control->Pause();
    OAFilterState state;
    ASSERT_EQ(control->GetState(5000, &state), S_OK);
    // Seeking while paused flushes the held sample; the pause completes again on new data.
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(graph.As(&seeking), S_OK);
    LONGLONG target = 5 * 10 * kMs;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_EQ(control->GetState(5000, &state), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    EXPECT_EQ(sink->Rendered(), Sequence(5, 10));
}

TEST_F(FilterGraph, CopyingTransformDeliversItsOwnSamples) {
    source = new TestSource(8, kMs);
    sourceFilter = Hold(source);
    auto* copy = new TestCopy();
    ComPtr<IBaseFilter> copyFilter = Hold(copy);
    sink = new TestSink();
    sinkFilter = Hold(sink);
    graph->AddFilter(sourceFilter.Get(), u"Source");
    graph->AddFilter(copyFilter.Get(), u"Copy");
    graph->AddFilter(sinkFilter.Get(), u"Sink");
    // The output connects only after the input.
    EXPECT_FALSE(
        SUCCEEDED(graph->ConnectDirect(PinOf(copyFilter.Get(), PINDIR_OUTPUT).Get(),
                                       PinOf(sinkFilter.Get(), PINDIR_INPUT).Get(), nullptr)));
    ASSERT_EQ(graph->ConnectDirect(PinOf(sourceFilter.Get(), PINDIR_OUTPUT).Get(),
                                   PinOf(copyFilter.Get(), PINDIR_INPUT).Get(), nullptr),
              S_OK);
    ASSERT_EQ(graph->ConnectDirect(PinOf(copyFilter.Get(), PINDIR_OUTPUT).Get(),
                                   PinOf(sinkFilter.Get(), PINDIR_INPUT).Get(), nullptr),
              S_OK);
    ComPtr<IPin> byId;
    EXPECT_EQ(copyFilter->FindPin(u"Out", byId.GetAddressOf()), S_OK);
    EXPECT_EQ(copyFilter->FindPin(u"XForm Out", byId.GetAddressOf()), VFW_E_NOT_FOUND);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    EXPECT_EQ(sink->Rendered(),
              (std::vector<int32_t>{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007}));
}

TEST_F(FilterGraph, ClockIsChosenAtStartAndFixedWhileRunning) {
    BuildChain(2, kMs);
    ComPtr<IMediaFilter> mediaFilter;
    ASSERT_EQ(graph.As(&mediaFilter), S_OK);
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(mediaFilter->GetSyncSource(clock.GetAddressOf()), S_OK);
    EXPECT_FALSE(clock);
    control->Pause();
    ASSERT_EQ(mediaFilter->GetSyncSource(clock.GetAddressOf()), S_OK);
    ASSERT_TRUE(clock);
    // Every filter got the graph's clock.
    ComPtr<IReferenceClock> filterClock;
    sinkFilter->GetSyncSource(filterClock.GetAddressOf());
    EXPECT_EQ(filterClock.Get(), clock.Get());
    REFERENCE_TIME first = 0;
    REFERENCE_TIME second = 0;
    clock->GetTime(&first);
    clock->GetTime(&second);
    EXPECT_GE(second, first);
    EXPECT_EQ(mediaFilter->SetSyncSource(nullptr), VFW_E_NOT_STOPPED);
    control->Stop();
    // No clock at all: samples render as they come.
    ASSERT_EQ(mediaFilter->SetSyncSource(nullptr), S_OK);
    sinkFilter->GetSyncSource(filterClock.GetAddressOf());
    EXPECT_FALSE(filterClock);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    EXPECT_EQ(sink->Rendered(), Sequence(0, 2));
}

TEST_F(FilterGraph, MembershipNamesAreUniqueAndRemovalDisconnects) {
    BuildChain(1, kMs);
    ComPtr<IBaseFilter> second = Hold(new TestSink());
    EXPECT_EQ(graph->AddFilter(second.Get(), u"Sink"), VFW_S_DUPLICATE_NAME);
    EXPECT_EQ(graph->AddFilter(second.Get(), u"Again"), E_INVALIDARG);
    FILTER_INFO info;
    ASSERT_EQ(second->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info.achName), u"Sink 0001");
    ASSERT_NE(info.pGraph, nullptr);
    info.pGraph->Release();
    ComPtr<IBaseFilter> found;
    ASSERT_EQ(graph->FindFilterByName(u"Sink 0001", found.GetAddressOf()), S_OK);
    EXPECT_EQ(found.Get(), second.Get());
    EXPECT_EQ(graph->FindFilterByName(u"Nobody", found.GetAddressOf()), VFW_E_NOT_FOUND);

    ComPtr<IEnumFilters> list;
    ASSERT_EQ(graph->EnumFilters(list.GetAddressOf()), S_OK);
    IBaseFilter* batch[8] = {};
    ULONG fetched = 0;
    EXPECT_EQ(list->Next(8, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 4u);
    for (ULONG i = 0; i < fetched; ++i) {
        batch[i]->Release();
    }

    control->Pause();
    EXPECT_EQ(graph->RemoveFilter(passFilter.Get()), VFW_E_NOT_STOPPED);
    control->Stop();
    ASSERT_EQ(graph->RemoveFilter(passFilter.Get()), S_OK);
    EXPECT_EQ(graph->RemoveFilter(passFilter.Get()), VFW_E_NOT_FOUND);
    ComPtr<IPin> peer;
    EXPECT_EQ(PinOf(sinkFilter.Get(), PINDIR_INPUT)->ConnectedTo(peer.GetAddressOf()),
              VFW_E_NOT_CONNECTED);
    EXPECT_EQ(PinOf(sourceFilter.Get(), PINDIR_OUTPUT)->ConnectedTo(peer.GetAddressOf()),
              VFW_E_NOT_CONNECTED);
    ASSERT_EQ(passFilter->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
}

TEST_F(FilterGraph, AudioPropertiesGoToTheRendererThatHasThem) {
    ComPtr<IBasicAudio> audio;
    ASSERT_EQ(graph.As(&audio), S_OK);
    EXPECT_EQ(audio->put_Volume(-100), E_NOTIMPL);  // no renderer yet
    BuildChain(1, kMs);
    ASSERT_EQ(audio->put_Volume(-2000), S_OK);
    EXPECT_EQ(sink->volume.load(), -2000);
    LONG volume = 0;
    ASSERT_EQ(audio->get_Volume(&volume), S_OK);
    EXPECT_EQ(volume, -2000);
    EXPECT_EQ(audio->put_Volume(1), E_INVALIDARG);
    ComPtr<IBasicVideo2> video;
    ASSERT_EQ(graph.As(&video), S_OK);
    LONG width = 0;
    LONG height = 0;
    EXPECT_EQ(video->GetVideoSize(&width, &height), E_NOTIMPL);
}

TEST_F(FilterGraph, ConnectAndRenderUseRegisteredFilters) {
    TemporaryRegistry registry;
    auto entryFor = [](const CLSID& clsid, const char16_t* name, bool withOutput, auto make) {
        CategoryEntry entry;
        entry.category = CLSID_LegacyAmFilterCategory;
        entry.instance = GuidToU16String(clsid);
        entry.clsid = clsid;
        entry.friendlyName = name;
        entry.merit = MERIT_NORMAL;
        RegPin in;
        in.mediaTypes = {{MEDIATYPE_Stream, GUID_NULL}};
        entry.pins.push_back(in);
        if (withOutput) {
            RegPin out;
            out.output = true;
            out.mediaTypes = {{MEDIATYPE_Stream, GUID_NULL}};
            entry.pins.push_back(out);
        }
        entry.create = [make](REFIID iid, void** object) {
            return make()->QueryInterface(iid, object);
        };
        return entry;
    };
    ASSERT_EQ(ComponentRegistry::RegisterBuiltinEntry(
                  entryFor(CLSID_TestPassThrough, u"Registered pass-through", true,
                           [] { return Hold(new TestPassThrough()); })),
              S_OK);
    ASSERT_EQ(ComponentRegistry::RegisterBuiltinEntry(entryFor(
                  CLSID_TestSink, u"Registered sink", false, [] { return Hold(new TestSink()); })),
              S_OK);

    source = new TestSource(3, kMs);
    sourceFilter = Hold(source);
    graph->AddFilter(sourceFilter.Get(), u"Source");
    ASSERT_EQ(graph->Render(PinOf(sourceFilter.Get(), PINDIR_OUTPUT).Get()), S_OK);
    ComPtr<IBaseFilter> rendered;
    ASSERT_EQ(graph->FindFilterByName(u"Registered pass-through", rendered.GetAddressOf()), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    control->Stop();
    EXPECT_EQ(graph->Render(PinOf(sourceFilter.Get(), PINDIR_OUTPUT).Get()),
              VFW_E_ALREADY_CONNECTED);

    ComponentRegistry::UnregisterBuiltinEntry(CLSID_LegacyAmFilterCategory,
                                              GuidToU16String(CLSID_TestPassThrough));
    ComponentRegistry::UnregisterBuiltinEntry(CLSID_LegacyAmFilterCategory,
                                              GuidToU16String(CLSID_TestSink));
}

TEST_F(FilterGraph, RegisteredGraphIsListedInTheRunningObjectTable) {
    ComPtr<IRunningObjectTable> table;
    ASSERT_EQ(GetRunningObjectTable(0, table.GetAddressOf()), S_OK);
    ComPtr<IMoniker> name;
    ASSERT_EQ(CreateItemMoniker(u"!", u"FilterGraph 00000001 pid 00000002", name.GetAddressOf()),
              S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph.Get(), name.Get(), &cookie),
              S_OK);
    const std::vector<std::u16string> listed = ListRunningObjectNames();
    EXPECT_NE(std::find(listed.begin(), listed.end(), u"!FilterGraph 00000001 pid 00000002"),
              listed.end());
    ComPtr<IUnknown> running;
    ASSERT_EQ(table->GetObject(name.Get(), running.GetAddressOf()), S_OK);
    ComPtr<IMediaControl> fromTable;
    EXPECT_EQ(running.As(&fromTable), S_OK);
    ASSERT_EQ(table->Revoke(cookie), S_OK);
}
