// The tuner-driver source: loading drivers built elsewhere, their errors, enumeration and
// tuning, the read loop, and the live stream of the demo tuner through the SI analyzer.
#include <dlfcn.h>

#include <thread>

#include "sianalyzer/ICQVSIAnalyzer.h"
#include "sianalyzer/ICSIList.h"
#include "sources/ICQVBonSource.h"
#include "sources/tests/SourceTestSupport.h"

namespace sourcetest {
namespace {

std::string TestDriver(const char* name) {
    return std::string(ORV_TEST_BONDRIVER_DIR) + "/" + name;
}

// True while the library at `path` is loaded in this process.
bool IsLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        dlclose(handle);
    }
    return handle != nullptr;
}

constexpr uint32_t kTestDriverPackets = 20000;

class BonSourceTest : public SourceGraphTest {
protected:
    void SetUp() override {
        SourceGraphTest::SetUp();
        HRESULT hr = S_OK;
        source = new ICQVBonSource(nullptr, &hr);
        ASSERT_EQ(hr, S_OK);
    }

    void Connect() { AddSource(source, 0); }

    ICQVBonSource* source = nullptr;
};

TEST_F(BonSourceTest, LoadFailuresGiveTheirErrorNumbersAndLeaveNothingLoaded) {
    auto holder = streamtest::Hold(source);
    TempFolder folder;
    const std::string notALibrary = folder.File("BonDriver_Text.so");
    ASSERT_TRUE(WriteFile(notALibrary, Bytes{'n', 'o', 't', ' ', 'E', 'L', 'F'}));
    const struct {
        std::string path;
        DWORD error;
    } cases[] = {
        {folder.File("BonDriver_Missing.so"), 2},
        {notALibrary, 193},
        {TestDriver("BonDriver_TestNoEntry.so"), 127},
        {TestDriver("BonDriver_TestNull.so"), ICQVBonSource::kErrorNoDriverObject},
        {TestDriver("BonDriver_TestNoOpen.so"), ICQVBonSource::kErrorTunerNotOpened},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(source->SetBonDriver(test.path.c_str()), test.error) << test.path;
        EXPECT_FALSE(source->HasDriver());
        EXPECT_FALSE(IsLoaded(test.path)) << test.path;
        EXPECT_EQ(source->GetTunerName(), nullptr);
        EXPECT_EQ(source->GetSignalLevel(), 0.0f);
    }
}

TEST_F(BonSourceTest, EnumeratesAndTunesADriverBuiltElsewhere) {
    auto holder = streamtest::Hold(source);
    ASSERT_EQ(source->SetBonDriver(TestDriver("BonDriver_TestForeign.so").c_str()), 0u);
    EXPECT_EQ(std::u16string(source->GetTunerName()), u"Foreign Test Tuner");
    std::vector<std::u16string> spaces;
    for (DWORD i = 0; const char16_t* name = source->EnumTuningSpace(i); ++i) {
        spaces.emplace_back(name);
    }
    EXPECT_EQ(spaces, (std::vector<std::u16string>{u"Terrestrial", u"BS"}));
    EXPECT_EQ(std::u16string(source->EnumChannelName(1, 2)), u"Channel C");
    EXPECT_EQ(source->EnumChannelName(1, 3), nullptr);
    EXPECT_TRUE(source->SetChannel(1, 2));
    EXPECT_FALSE(source->SetChannel(2, 0));
    EXPECT_EQ(source->GetSignalLevel(), 21.5f);

    // A second driver closes and unloads the first.
    ASSERT_TRUE(IsLoaded(TestDriver("BonDriver_TestForeign.so")));
    ASSERT_EQ(source->SetBonDriver(TestDriver("BonDriver_TestByteBool.so").c_str()), 0u);
    EXPECT_FALSE(IsLoaded(TestDriver("BonDriver_TestForeign.so")));
    // Its BOOL results carry garbage above the low byte, which decides.
    EXPECT_FALSE(source->SetChannel(5, 5));
    EXPECT_TRUE(source->SetChannel(0, 1));
}

TEST_F(BonSourceTest, DriversWithoutTheSecondInterfaceStreamButEnumerateNothing) {
    for (const char* name : {"BonDriver_TestV1.so", "BonDriver_TestNoRtti.so"}) {
        HRESULT hr = S_OK;
        auto other = streamtest::Hold(new ICQVBonSource(nullptr, &hr));
        auto* bon = static_cast<ICQVBonSource*>(other.Get());
        ASSERT_EQ(bon->SetBonDriver(TestDriver(name).c_str()), 0u) << name;
        EXPECT_FALSE(bon->HasDriver2()) << name;
        EXPECT_EQ(bon->EnumTuningSpace(0), nullptr);
        EXPECT_EQ(bon->GetTunerName(), nullptr);
        EXPECT_FALSE(bon->SetChannel(0, 0));
        EXPECT_EQ(bon->GetSignalLevel(), 0.0f);
    }
    // The first-generation driver is tuned from the start and streams.
    // What it streams before the graph's stream time begins is dropped; the rest arrives.
    ASSERT_EQ(source->SetBonDriver(TestDriver("BonDriver_TestV1.so").c_str()), 0u);
    Connect();
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(WaitPatiently([&] {
        const std::vector<uint32_t> numbers = PacketNumbers(sink->Concatenated());
        return !numbers.empty() && numbers.back() == kTestDriverPackets - 1;
    }));
    EXPECT_TRUE(CountsUpTo(PacketNumbers(sink->Concatenated()), kTestDriverPackets - 1));
}

TEST_F(BonSourceTest, StreamsChunksThatSplitPacketsWithoutLosingAny) {
    ASSERT_EQ(source->SetBonDriver(TestDriver("BonDriver_TestByteBool.so").c_str()), 0u);
    Connect();
    RunLive();
    ASSERT_TRUE(source->SetChannel(0, 0));
    ASSERT_TRUE(WaitPatiently(
        [&] { return PacketNumbers(sink->Concatenated()).size() == kTestDriverPackets; }));
    EXPECT_EQ(PacketNumbers(sink->Concatenated()), Range(0, kTestDriverPackets));
    EXPECT_EQ(source->GetErrorCounts(nullptr, nullptr, nullptr), 0u);
}

TEST_F(BonSourceTest, WithoutDataTheReadLoopPollsEvery50Milliseconds) {
    ASSERT_EQ(source->SetBonDriver(TestDriver("BonDriver_TestForeign.so").c_str()), 0u);
    Connect();
    ASSERT_EQ(control->Run(), S_OK);
    const int32_t before = source->GetDriverReadSteps();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int32_t steps = source->GetDriverReadSteps() - before;
    // The test driver returns at once without data: the step still lasts 50 ms.
    EXPECT_GE(steps, 5);
    EXPECT_LE(steps, 11);
}

TEST_F(BonSourceTest, StateChangesWhileTheStreamFlows) {
    ASSERT_EQ(source->SetBonDriver(TestDriver("BonDriver_TestForeign.so").c_str()), 0u);
    Connect();
    for (int cycle = 0; cycle < 8; ++cycle) {
        const size_t before = sink->Concatenated().size();
        RunLive();
        ASSERT_TRUE(source->SetChannel(0, DWORD(cycle % 3)));
        ASSERT_TRUE(WaitPatiently([&] { return sink->Concatenated().size() > before; }));
        ASSERT_EQ(control->Pause(), S_OK);
        ASSERT_EQ(control->Run(), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(cycle));
        ASSERT_EQ(control->Stop(), S_OK);
    }
    // Whatever was cut off, every delivered packet is whole.
    const Bytes delivered = sink->Concatenated();
    ASSERT_EQ(delivered.size() % 188, 0u);
    EXPECT_GT(delivered.size(), 0u);
}

TEST_F(BonSourceTest, TheDemoTunerDeliversALiveBroadcastThatTheAnalyzerReads) {
    ASSERT_EQ(source->SetBonDriver(ORV_DEMO_BONDRIVER), 0u);
    std::vector<std::u16string> channels;
    for (DWORD i = 0; const char16_t* name = source->EnumChannelName(0, i); ++i) {
        channels.emplace_back(name);
    }
    EXPECT_EQ(channels.size(), 3u);
    ASSERT_TRUE(source->SetChannel(0, 0));

    HRESULT hr = S_OK;
    auto* analyzer = new ICQVSIAnalyzer(nullptr, &hr);
    ASSERT_EQ(hr, S_OK);
    Add(source, u"Tuner");
    Add(analyzer, u"Analyzer");
    CMediaType type = TransportStreamType();
    ASSERT_EQ(graph->ConnectDirect(source->GetPin(0), analyzer->GetPin(0), &type), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    // The store is held only for each look, so that the analyzer can write between them.
    const auto servicesAndEventsSeen = [&] {
        ICSIList* store = analyzer->GetSIList();
        const bool seen = store != nullptr && store->GetSDTCount() > 0 && store->GetEITCount() > 0;
        if (store != nullptr) {
            store->Release();
        }
        return seen;
    };
    EXPECT_TRUE(WaitUntil(servicesAndEventsSeen, 20000));
    EXPECT_TRUE(WaitUntil([&] { return source->GetBitrate() > 0; }));
    EXPECT_GT(source->GetSignalLevel(), 0.0f);
    ASSERT_EQ(control->Stop(), S_OK);
}

}  // namespace
}  // namespace sourcetest
