// The tuner-server driver in the programs that host drivers: the tuner-driver source of Tunova
// in a graph, and the recorder behind tsrec. Both deliver the served stream byte for byte from
// the point where they started taking it.
#include "sources/ICQVBonSource.h"
#include "sources/mirakurun/tests/MirakurunTestSupport.h"
#include "tools/tsrec/TsRecorder.h"

namespace mirakurun::test {
namespace {

using sourcetest::WaitUntil;

constexpr char kStreamPath[] = "/api/channels/GR/27/stream";
constexpr char kChannels[] = R"([{"type": "GR", "channel": "27", "name": "NHK総合"}])";

// Two seconds of the simulator's terrestrial channel, served at twice its rate.
Reply PacedBroadcast(const Bytes& stream) {
    return Reply::Stream(stream).Paced(double(stream.size()));
}

class MirakurunSourceTest : public sourcetest::SourceGraphTest {
protected:
    void SetUp() override {
        SourceGraphTest::SetUp();
        ASSERT_TRUE(server.Listening());
        ASSERT_FALSE(served.empty());
        server.Set("/api/channels", Reply::Document(kChannels));
        server.Set(kStreamPath, PacedBroadcast(served));
    }

    TestTunerServer server;
    TempFolder folder;
    const Bytes served = sourcetest::SimulatedStream(2.0);
    DriverCopy driver{folder, "BonDriver_Mirakurun.so", Ini(server.Url(), "Timeout=3000\r\n")};
};

TEST_F(MirakurunSourceTest, TunovaDeliversTheServedStream) {
    HRESULT hr = S_OK;
    auto* source = new ICQVBonSource(nullptr, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(source->SetBonDriver(driver.Path().c_str()), 0u);
    EXPECT_EQ(std::u16string(source->EnumTuningSpace(0)), u"地デジ");
    EXPECT_EQ(std::u16string(source->EnumChannelName(0, 0)), u"NHK総合");
    AddSource(source, 0);
    RunLive();
    ASSERT_TRUE(source->SetChannel(0, 0));
    EXPECT_TRUE(WaitUntil([&] { return source->GetSignalLevel() > 1.0f; }));
    ASSERT_TRUE(WaitUntil(
        [&] { return EndsWith(served, sink->Concatenated()) && server.ActiveStreams() == 0; },
        15000));
    const Bytes delivered = sink->Concatenated();
    EXPECT_GE(delivered.size(), served.size() / 2);
    EXPECT_TRUE(EndsWith(served, delivered));
    EXPECT_EQ(source->GetErrorCounts(nullptr, nullptr, nullptr), 0u);
    ASSERT_EQ(control->Stop(), S_OK);
}

TEST_F(MirakurunSourceTest, TheRecorderRecordsTheServedStream) {
    tsrec::Options options;
    options.driver = driver.Path();
    options.durationSeconds = 3.0;
    options.output = folder.File("tuner.ts");
    tsrec::Recorder recorder(options);
    std::string error;
    ASSERT_TRUE(recorder.Open(&error)) << error;
    std::atomic<bool> interrupted{false};
    ASSERT_TRUE(recorder.Record([](const tsrec::Progress&) {}, interrupted, &error)) << error;

    Bytes recorded = sourcetest::ReadFile(options.output);
    ASSERT_GT(recorded.size(), 188u);
    recorded.resize(recorded.size() - 188);  // the duration trailer
    EXPECT_GE(recorded.size(), served.size() / 2);
    EXPECT_TRUE(EndsWith(served, recorded));
    EXPECT_EQ(recorder.Final().drops, 0u);
}

}  // namespace
}  // namespace mirakurun::test
