// The caption filter in a graph: data groups assembled from PES samples and checked, what
// reaches the renderer, the output pin and the callback; presentation against the graph clock;
// and the filter as Lumiq.ax, created by class identifier.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "caption/ICQVCaption.h"
#include "caption/tests/CaptionTestSupport.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/ModuleExports.h"
#include "platform/com/TaskAllocator.h"
#include "streamfw/ICModuleTables.h"
#include "streamfw/tests/GraphTest.h"

namespace {

using namespace captiontest;
using streamtest::PushSource;
using streamtest::RecordingSink;
using streamtest::WaitUntil;

CMediaType CaptionStreamType() {
    CMediaType type;
    type.SetType(&MEDIATYPE_Stream);
    type.SetSubtype(&MEDIASUBTYPE_None);
    return type;
}

Bytes TextGroup(std::u16string_view text) {
    Body body;
    body.Text(text);
    return BodyGroup(0x01, body.Take());
}

struct GroupLog {
    std::atomic<int> count{0};
    static void Callback(ICCaptionPacket* packet, void* context) {
        auto* log = static_cast<GroupLog*>(context);
        if (packet->GetLength() > 0) {
            ++log->count;
        }
    }
};

class CaptionFilterTest : public streamtest::GraphTest {
protected:
    void SetUp() override {
        GraphTest::SetUp();
        HRESULT hr = S_OK;
        caption = static_cast<ICQVCaption*>(ICQVCaption::CreateInstance(nullptr, &hr));
        ASSERT_EQ(hr, S_OK);
        source = new PushSource(PushSource::Options{.bufferCount = 16, .bufferSize = 4096});
        Add(source, u"Source");
        Add(caption, u"Caption Filter");
        const CMediaType type = CaptionStreamType();
        ASSERT_EQ(graph->ConnectDirect(source->GetPin(0), caption->GetPin(0), &type), S_OK);
        caption->SetTextCallback(&TextLog::Callback, &text);
    }

    void TearDown() override {
        if (control) {
            control->Stop();
        }
        GraphTest::TearDown();
    }

    void Run() { ASSERT_TRUE(SUCCEEDED(control->Run())); }

    // Pushes a data group as one PES packet, with the PES header when asked.
    void PushGroup(const Bytes& group, bool withPESHeader = true) {
        const Bytes bytes = withPESHeader ? streamkit::BuildPes({.streamId = 0xBD}, group) : group;
        ASSERT_EQ(source->PushSample(bytes.data(), bytes.size(), nullptr, nullptr, true), S_OK);
    }

    bool WaitForTexts(size_t count) {
        return WaitUntil([&] { return text.Texts().size() >= count; });
    }

    ICQVCaption* caption = nullptr;
    PushSource* source = nullptr;
    TextLog text;
};

TEST_F(CaptionFilterTest, AssemblesDataGroupsFromPESSamples) {
    Run();
    PushGroup(ManagementGroup(0x00, {{}}));
    ASSERT_TRUE(WaitForTexts(1));  // the first management data clears the page

    // One PES packet in three samples: the sync point only on the first.
    const Bytes split = streamkit::BuildPes({.streamId = 0xBD}, TextGroup(u"分割"));
    const size_t third = split.size() / 3;
    ASSERT_EQ(source->PushSample(split.data(), third, nullptr, nullptr, true), S_OK);
    ASSERT_EQ(source->PushSample(split.data() + third, third), S_OK);
    ASSERT_EQ(source->PushSample(split.data() + 2 * third, split.size() - 2 * third), S_OK);
    ASSERT_TRUE(WaitForTexts(2));
    EXPECT_EQ(text.Texts()[1], u"分割");

    // A start while a data group is incomplete drops the incomplete one.
    const Bytes cut = TextGroup(u"途中");
    ASSERT_EQ(source->PushSample(cut.data(), cut.size() / 2, nullptr, nullptr, true), S_OK);
    // Without the PES prefix the sample starts at data_identifier; bytes after the CRC are
    // stuffing and are ignored.
    Bytes stuffed = TextGroup(u"直接");
    stuffed.insert(stuffed.end(), 8, 0xFF);
    PushGroup(stuffed, false);
    // A wrong CRC reaches nobody.
    Bytes damaged = TextGroup(u"破損");
    damaged.back() ^= 0x01;
    PushGroup(damaged);
    PushGroup(TextGroup(u"最後"));
    ASSERT_TRUE(WaitForTexts(4));
    EXPECT_EQ(text.Texts()[2], u"直接");
    EXPECT_EQ(text.Texts()[3], u"最後");
}

TEST_F(CaptionFilterTest, CopiesGoToTheOutputPinAndTheCallback) {
    auto* sink = new RecordingSink();
    Add(sink, u"Sink");
    const CMediaType type = CaptionStreamType();
    ASSERT_EQ(graph->ConnectDirect(caption->GetPin(1), sink->GetPin(0), &type), S_OK);
    GroupLog groups;
    caption->SetDataGroupCallback(&GroupLog::Callback, &groups);
    Run();
    const Bytes management = ManagementGroup(0x00, {{}});
    PushGroup(management);
    Bytes damaged = TextGroup(u"破損");
    damaged[damaged.size() - 2] ^= 0x10;
    PushGroup(damaged);
    PushGroup(TextGroup(u"字幕"));
    ASSERT_TRUE(WaitForTexts(2));
    ASSERT_TRUE(sink->WaitForCount(2));
    // The callback may run just after the copy went out.
    for (int i = 0; i < 500 && groups.count.load() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(groups.count.load(), 2);
    // One whole data group per packet, without the PES header.
    EXPECT_EQ(sink->Samples()[0].data, management);
    EXPECT_EQ(sink->Count(), 2u);
}

// --- timing

class CaptionTimingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IReferenceClock, clock.GetVoidAddressOf()),
                  S_OK);
        renderer.CreateSurfaces();
        renderer.SetTextCallback(&TextLog::Callback, &text);
        renderer.SetClock(clock.Get());
        ICCaptionPacket* management = MakePacket(ManagementGroup(0x00, {{}}));
        renderer.ProcessDataGroup(management);
        management->Release();
        text.texts.clear();
        text.times.clear();
    }

    REFERENCE_TIME Now() {
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        return now;
    }

    ComPtr<IReferenceClock> clock;
    ICQVCaptionRenderer renderer;
    TextLog text;
};

TEST_F(CaptionTimingTest, DataGroupsWaitForTheirPresentationTime) {
    // Stream time is 10 s now; a data group due at 12 s waits.
    renderer.SetStartTime(Now() - 10 * kUnitsPerSecond);
    const REFERENCE_TIME due = 12 * kUnitsPerSecond;
    renderer.QueueDataGroup(MakePacket(TextGroup(u"後で"), &due), 0);
    renderer.ProcessDue();
    EXPECT_EQ(renderer.GetQueuedCount(), 1);
    EXPECT_TRUE(text.Texts().empty());

    // Two seconds later (the start moved back instead of waiting) it is presented.
    renderer.SetStartTime(Now() - 12 * kUnitsPerSecond - 1);
    renderer.ProcessDue();
    EXPECT_EQ(renderer.GetQueuedCount(), 0);
    ASSERT_EQ(text.Texts().size(), 1u);
    EXPECT_EQ(text.times[0], due);

    // A data group without time is presented by the next look at the queue.
    renderer.QueueDataGroup(MakePacket(TextGroup(u"今")), 0);
    renderer.ProcessDue();
    EXPECT_EQ(renderer.GetQueuedCount(), 0);
    EXPECT_EQ(text.Texts().size(), 2u);
}

TEST_F(CaptionTimingTest, RunningRendererPresentsOnItsThreadAndClearsAtOnceWhenStopped) {
    renderer.SetStartTime(Now());
    renderer.StartRenderer();
    const REFERENCE_TIME soon = 300 * kUnitsPerMillisecond;
    renderer.QueueDataGroup(MakePacket(TextGroup(u"■"), &soon), 0);
    // Presented by the renderer's own tick, with no further data group arriving.
    ASSERT_TRUE(WaitUntil([&] { return renderer.GetQueuedCount() == 0; }));
    ASSERT_TRUE(WaitUntil([&] { return !text.Texts().empty(); }));
    renderer.StopRenderer();
    EXPECT_TRUE(renderer.IsStopped());
    EXPECT_NE(renderer.GetShownSurface()->GetPixel(20, 31), 0u);
    renderer.ClearCaptions(0);  // stopped: cleared on this thread, at once
    EXPECT_EQ(renderer.GetShownSurface()->GetPixel(20, 31), 0u);
}

// --- the module

TEST(LumiqModuleTest, RegistersAndCreatesTheFilter) {
    const std::string folder = std::filesystem::temp_directory_path() / "orv-lumiq-test";
    std::filesystem::create_directories(folder);
    ::setenv("ORVANTA_REGISTRY", (folder + "/registry.json").c_str(), 1);
    void* handle = nullptr;
    ASSERT_EQ(ComLoadModule(ORV_LUMIQ_MODULE, &handle), S_OK);
    using RegisterFunction = HRESULT (*)();
    auto registerServer =
        reinterpret_cast<RegisterFunction>(ComGetModuleExport(handle, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK);

    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(CLSID_QVCaption, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               filter.GetVoidAddressOf()),
              S_OK);
    ComPtr<IQVCaption> captions;
    ASSERT_EQ(filter.As(&captions), S_OK);
    EXPECT_EQ(captions->SetFontName("Noto Sans CJK JP"), S_OK);  // stopped: made at once
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(filter.As(&pages), S_OK);
    CAUUID list{};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_EQ(list.pElems[0], CLSID_QVCaptionVersionPage);
    CoTaskMemFree(list.pElems);
    EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);
    ComPtr<IPin> input;
    ASSERT_EQ(filter->FindPin(u"In", input.GetAddressOf()), S_OK);
    captions.Reset();
    pages.Reset();
    input.Reset();
    filter.Reset();
    std::filesystem::remove_all(folder);
}

}  // namespace
