// The tuner-server driver through its own interface, loaded from a copy of the library with its
// initialisation file: enumeration, tuning, the stream, and what an unwell server does to it.
#include <atomic>
#include <thread>

#include "sources/mirakurun/tests/MirakurunTestSupport.h"

namespace mirakurun::test {
namespace {

using sourcetest::NumberedPackets;
using sourcetest::PacketNumbers;
using sourcetest::PidOf;
using sourcetest::WaitUntil;

constexpr char kChannels[] = R"([
    {"type": "BS", "channel": "BS15_0", "name": "BS Fifteen", "services": []},
    {"type": "GR", "channel": "27", "name": "NHK総合"},
    {"type": "SKY", "channel": "CS8", "name": "Sky Eight"},
    {"type": "GR", "channel": "26", "name": "Channel 26"},
    {"type": "4K", "channel": "X"}
])";
constexpr char kGr27[] = "/api/channels/GR/27/stream";
constexpr char kGr26[] = "/api/channels/GR/26/stream";

std::vector<std::u16string> Spaces(IBonDriver2* driver) {
    std::vector<std::u16string> names;
    for (DWORD i = 0; const char16_t* name = driver->EnumTuningSpace(i); ++i) {
        names.emplace_back(name);
    }
    return names;
}

class MirakurunDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Listening());
        server.Set("/api/channels", Reply::Document(kChannels));
        server.Set("/api/version", Reply::Document(R"({"current": "3.9.0"})"));
    }

    // A copy of the driver for the test server, opened.
    DriverHandle OpenDriver(const std::string& more = "Timeout=3000\r\n") {
        copies.push_back(std::make_unique<DriverCopy>(
            folder, "BonDriver_Mirakurun_" + std::to_string(copies.size()) + ".so",
            Ini(server.Url(), more)));
        DriverHandle driver = copies.back()->Create();
        EXPECT_NE(driver, nullptr);
        if (driver != nullptr) {
            EXPECT_TRUE(driver->OpenTuner());
        }
        return driver;
    }

    TestTunerServer server;
    TempFolder folder;
    std::vector<std::unique_ptr<DriverCopy>> copies;
};

TEST_F(MirakurunDriverTest, TheServersChannelTypesAreTheTuningSpaces) {
    DriverHandle all = OpenDriver();
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(std::u16string(all->GetTunerName()),
              u"Mirakurun (127.0.0.1:" + sourcetest::Utf16(server.Url().substr(17)) + u")");
    EXPECT_EQ(Spaces(all.get()), (std::vector<std::u16string>{u"地デジ", u"BS", u"SKY"}));
    EXPECT_EQ(std::u16string(all->EnumChannelName(0, 0)), u"NHK総合");
    EXPECT_EQ(std::u16string(all->EnumChannelName(0, 1)), u"Channel 26");
    EXPECT_EQ(std::u16string(all->EnumChannelName(2, 0)), u"Sky Eight");
    EXPECT_EQ(all->EnumChannelName(0, 2), nullptr);
    EXPECT_EQ(all->EnumChannelName(3, 0), nullptr);
    EXPECT_EQ(all->GetCurSpace(), kNotTuned);

    // A second copy beside it, with its own file, offers what that file enables.
    DriverHandle satellite = OpenDriver("ChannelTypes=sky, bs\r\n");
    ASSERT_NE(satellite, nullptr);
    EXPECT_EQ(Spaces(satellite.get()), (std::vector<std::u16string>{u"BS", u"SKY"}));
    EXPECT_EQ(Spaces(all.get()).size(), 3u);

    // Names stay valid for the driver's life, across closing and opening again.
    const char16_t* name = all->EnumChannelName(1, 0);
    all->CloseTuner();
    EXPECT_FALSE(all->IsTunerOpening());
    server.Set("/api/channels", Reply::Document(R"([{"type": "CS", "channel": "CS2"}])"));
    ASSERT_TRUE(all->OpenTuner());
    EXPECT_EQ(Spaces(all.get()), std::vector<std::u16string>{u"CS"});
    EXPECT_EQ(std::u16string(name), u"BS Fifteen");
}

TEST_F(MirakurunDriverTest, TheLibraryExportsItsEntryAndTheInterfacesTypesOnly) {
    DriverCopy copy(folder, "BonDriver_Mirakurun.so", Ini(server.Url()));
    EXPECT_NE(copy.Symbol("CreateBonDriver"), nullptr);
    // Hosts whose run-time library compares type information by address need these.
    EXPECT_NE(copy.Symbol("_ZTI10IBonDriver"), nullptr);
    EXPECT_NE(copy.Symbol("_ZTI11IBonDriver2"), nullptr);
    // The profile reader linked into it stays its own, whatever the host has of the same name.
    EXPECT_EQ(copy.Symbol("_Z23GetPrivateProfileStringB5cxx11PKcS0_S0_S0_"), nullptr);
}

TEST_F(MirakurunDriverTest, ATunedChannelHandsOutTheServedStreamByteForByte) {
    const Bytes served = sourcetest::SimulatedStream(1.0);
    ASSERT_FALSE(served.empty());
    server.Set(kGr26, Reply::Stream(served));
    DriverHandle driver = OpenDriver("Priority=2\r\nTimeout=3000\r\n");
    ASSERT_NE(driver, nullptr);
    ASSERT_TRUE(driver->SetChannel(DWORD{0}, DWORD{1}));
    EXPECT_EQ(driver->GetCurSpace(), 0u);
    EXPECT_EQ(driver->GetCurChannel(), 1u);
    const std::vector<TestTunerServer::Request> requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().path, kGr26);
    EXPECT_EQ(requests.back().priority, "2");

    const Bytes received = ReadBytes(driver.get(), served.size());
    EXPECT_TRUE(received == served) << received.size() << " of " << served.size() << " bytes";
    // The server closed the connection at the stream's end: nothing more comes.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(driver->WaitTsStream(100), kWaitTimeout);
    EXPECT_GE(MillisecondsSince(start), 90);
    EXPECT_EQ(driver->GetReadyCount(), 0u);
    BYTE* data = nullptr;
    DWORD size = 1;
    EXPECT_TRUE(driver->GetTsStream(&data, &size, nullptr));
    EXPECT_EQ(size, 0u);
}

TEST_F(MirakurunDriverTest, SetChannelFailsWhenTheServerRefusesOrIsTooSlow) {
    const auto packets = std::make_shared<const Bytes>(NumberedPackets(0, 100));
    server.Set(kGr27, Reply::Status(503));
    DriverHandle driver = OpenDriver("Timeout=1000\r\n");
    ASSERT_NE(driver, nullptr);
    EXPECT_FALSE(driver->SetChannel(DWORD{5}, DWORD{0}));
    EXPECT_FALSE(driver->SetChannel(DWORD{0}, DWORD{9}));

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(driver->SetChannel(DWORD{0}, DWORD{0}));  // no free tuner
    EXPECT_LT(MillisecondsSince(start), 900);
    EXPECT_EQ(driver->GetCurSpace(), kNotTuned);
    EXPECT_FALSE(driver->SetChannel(DWORD{1}, DWORD{0}));  // 404: no reply set

    // A closed connection before any data.
    server.Set(kGr27, Reply::Stream(packets).CloseAfter(0));
    EXPECT_FALSE(driver->SetChannel(DWORD{0}, DWORD{0}));

    // The first bytes just in time, then too late: the second fails after the timeout.
    server.Set(kGr27, Reply::Stream(packets).After(std::chrono::milliseconds(200)));
    EXPECT_TRUE(driver->SetChannel(DWORD{0}, DWORD{0}));
    server.Set(kGr27, Reply::Stream(packets).After(std::chrono::milliseconds(5000)));
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(driver->SetChannel(DWORD{0}, DWORD{0}));
    EXPECT_GE(MillisecondsSince(start), 950);
    EXPECT_LT(MillisecondsSince(start), 2500);
    EXPECT_EQ(driver->GetCurSpace(), kNotTuned);
    EXPECT_EQ(driver->WaitTsStream(0), kWaitTimeout);
}

TEST_F(MirakurunDriverTest, ANewTuneEndsThePreviousRequestAndDropsItsData) {
    server.Set(kGr27, Reply::Stream(NumberedPackets(0, 1000)).Paced(500000).Repeated());
    // The second channel sends 1000 packets of another PID, then holds the connection.
    server.Set(kGr26, Reply::Stream(NumberedPackets(0, 1000, 0x0200)).HoldAt({188 * 1000}));
    DriverHandle driver = OpenDriver();
    ASSERT_NE(driver, nullptr);
    ASSERT_TRUE(driver->SetChannel(DWORD{0}, DWORD{0}));
    ASSERT_FALSE(ReadBytes(driver.get(), 188 * 10).empty());
    ASSERT_TRUE(driver->SetChannel(DWORD{0}, DWORD{1}));
    EXPECT_TRUE(WaitUntil([&] { return server.ActiveStreams() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return driver->GetReadyCount() == 4; }));  // 188000 bytes

    // Only the second channel's packets, from its first.
    const Bytes chunk = ReadBytes(driver.get(), 1);
    ASSERT_EQ(chunk.size(), 188u * 256);
    for (size_t offset = 0; offset < chunk.size(); offset += 188) {
        ASSERT_EQ(PidOf(chunk.data() + offset), 0x0200) << offset;
    }
    EXPECT_EQ(PacketNumbers(chunk, 0x0200).front(), 0u);

    driver->PurgeTsStream();
    EXPECT_EQ(driver->GetReadyCount(), 0u);
    EXPECT_EQ(driver->WaitTsStream(50), kWaitTimeout);

    // Closing ends the held connection at once.
    const auto start = std::chrono::steady_clock::now();
    driver->CloseTuner();
    EXPECT_LT(MillisecondsSince(start), 1000);
    EXPECT_TRUE(WaitUntil([&] { return server.ActiveStreams() == 0; }));
    EXPECT_FALSE(driver->IsTunerOpening());
    EXPECT_EQ(driver->GetCurSpace(), kNotTuned);
    EXPECT_FALSE(driver->SetChannel(DWORD{0}, DWORD{0}));
}

TEST_F(MirakurunDriverTest, ADroppedConnectionJustStopsTheStream) {
    const Bytes served = NumberedPackets(0, 3000);
    const size_t cut = 188 * 1500 + 100;  // inside a packet
    server.Set(kGr27, Reply::Stream(served).CloseAfter(cut));
    DriverHandle driver = OpenDriver();
    ASSERT_NE(driver, nullptr);
    ASSERT_TRUE(driver->SetChannel(DWORD{0}, DWORD{0}));
    const Bytes received = ReadBytes(driver.get(), cut);
    ASSERT_EQ(received.size(), cut);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), served.begin()));
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(driver->WaitTsStream(100), kWaitTimeout);
        EXPECT_LT(MillisecondsSince(start), 1000);
    }
    EXPECT_EQ(driver->GetReadyCount(), 0u);
    // The channel can be tuned again.
    server.Set(kGr27, Reply::Stream(served));
    ASSERT_TRUE(driver->SetChannel(DWORD{0}, DWORD{0}));
    EXPECT_EQ(ReadBytes(driver.get(), served.size()), served);
}

TEST_F(MirakurunDriverTest, OpenTunerFailsWhenTheServerIsDownSlowOrSendsGarbage) {
    ClosedPort closed;
    TestTunerServer other;
    ASSERT_TRUE(other.Listening());
    const struct {
        const char* what;
        std::string url;
        Reply channels;
    } cases[] = {
        {"down", closed.Url(), Reply::Document(kChannels)},
        {"slow", other.Url(), Reply::Document(kChannels).After(std::chrono::milliseconds(4000))},
        {"not JSON", other.Url(), Reply::Document("<html>hello</html>")},
        {"not an array", other.Url(), Reply::Document(R"({"type": "GR"})")},
        {"not HTTP", other.Url(), Reply::Garbage("SSH-2.0-banner\r\n\r\n")},
        {"an error", other.Url(), Reply::Document("[]", 500)},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        other.Set("/api/channels", test.channels);
        DriverCopy copy(folder, std::string("BonDriver_Mirakurun_") + test.what + ".so",
                        Ini(test.url, "Timeout=800\r\n"));
        DriverHandle driver = copy.Create();
        ASSERT_NE(driver, nullptr);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(driver->OpenTuner());
        EXPECT_LT(MillisecondsSince(start), 2500);
        EXPECT_FALSE(driver->IsTunerOpening());
        EXPECT_EQ(driver->EnumTuningSpace(0), nullptr);
        EXPECT_FALSE(driver->SetChannel(DWORD{0}, DWORD{0}));
        EXPECT_EQ(driver->WaitTsStream(10), kWaitTimeout);
        BYTE buffer[188];
        DWORD size = 1;
        DWORD remaining = 1;
        EXPECT_TRUE(driver->GetTsStream(buffer, &size, &remaining));
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(remaining, 0u);
        EXPECT_EQ(driver->GetSignalLevel(), 0.0f);
    }
}

TEST_F(MirakurunDriverTest, TuningOnOneThreadWhileAnotherReads) {
    for (const char* path : {kGr27, kGr26}) {
        server.Set(path, Reply::Stream(NumberedPackets(0, 500)).Paced(2e6).Repeated());
    }
    DriverHandle driver = OpenDriver();
    ASSERT_NE(driver, nullptr);
    std::atomic<bool> done{false};
    std::atomic<uint64_t> read{0};
    std::thread reader([&] {
        while (!done.load()) {
            if (driver->WaitTsStream(20) != kWaitObject0) {
                continue;
            }
            const std::optional<uint64_t> taken = TakeReadyChunks(driver.get());
            ASSERT_TRUE(taken);
            read.fetch_add(*taken);
            driver->GetSignalLevel();
        }
    });
    for (DWORD cycle = 0; cycle < 8; ++cycle) {
        EXPECT_TRUE(driver->SetChannel(DWORD{0}, cycle % 2));
        EXPECT_NE(driver->EnumChannelName(0, cycle % 2), nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (cycle == 5) {
            driver->PurgeTsStream();
        }
    }
    driver->CloseTuner();
    done.store(true);
    reader.join();
    EXPECT_GT(read.load(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return server.ActiveStreams() == 0; }));
}

}  // namespace
}  // namespace mirakurun::test
