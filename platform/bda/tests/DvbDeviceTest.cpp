#include <errno.h>
#include <time.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/bda/DvbDevice.h"
#include "platform/bda/tests/FakeDvbRoot.h"

namespace {

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Reads from the dvr until `count` bytes came or five seconds passed (a writer never blocks for
// good, whatever the reads return).
std::vector<uint8_t> ReadAll(DvbDvr& dvr, size_t count) {
    std::vector<uint8_t> received;
    std::vector<uint8_t> buffer(188 * 64);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
        const long got = dvr.Read(buffer.data(), buffer.size(), 100);
        if (got < 0) {
            break;
        }
        received.insert(received.end(), buffer.begin(), buffer.begin() + got);
    }
    return received;
}

TEST(DvbDevice, RootIsDevDvbUnlessTheEnvironmentNamesAnother) {
    ::unsetenv("ORV_DVB_ROOT");
    EXPECT_EQ(DvbRoot(), "/dev/dvb");
    EXPECT_EQ(DvbFrontendPath(1, 2), "/dev/dvb/adapter1/frontend2");
    EXPECT_EQ(DvbDvrPath(3), "/dev/dvb/adapter3/dvr0");
    FakeDvbRoot fake;
    ::setenv("ORV_DVB_ROOT", (fake.Root() + "//").c_str(), 1);
    EXPECT_EQ(DvbRoot(), fake.Root());
}

TEST(DvbDevice, EnumeratesEveryFrontendByAdapterThenNumberAndSkipsWhatIsNoFrontend) {
    FakeDvbRoot fake;
    fake.AddFrontend(10, 0, "Ten", "ISDB-T");
    fake.AddFrontend(2, 1, "Two-S", "ISDB-S");
    fake.AddFrontend(2, 0, "Two-T", "ISDB-T, ISDB-S");
    fake.AddFrontend(0, 0, "", "DVB-T");
    std::filesystem::create_directories(fake.Adapter(3) + "/frontend0");  // a folder
    std::filesystem::create_directories(fake.Root() + "/adapterX");
    fake.WriteFrontend(4, 0, "name=Other\n");
    std::filesystem::rename(fake.Frontend(4, 0), fake.Adapter(4) + "/frontend0x");

    const std::vector<DvbFrontendInfo> frontends = DvbEnumerateFrontends();
    ASSERT_EQ(frontends.size(), 4u);
    EXPECT_EQ(frontends[0].adapter, 0);
    EXPECT_EQ(frontends[0].name, "frontend0");  // no name given
    EXPECT_TRUE(frontends[0].systems.empty());
    EXPECT_EQ(frontends[1].name, "Two-T");
    EXPECT_EQ(frontends[1].path, fake.Frontend(2, 0));
    EXPECT_TRUE(frontends[1].Supports(DvbSystem::IsdbT));
    EXPECT_TRUE(frontends[1].Supports(DvbSystem::IsdbS));
    EXPECT_EQ(frontends[2].name, "Two-S");
    EXPECT_EQ(frontends[2].frontend, 1);
    EXPECT_FALSE(frontends[2].Supports(DvbSystem::IsdbT));
    EXPECT_EQ(frontends[3].adapter, 10);
}

TEST(DvbDevice, EnumeratingAMissingRootFindsNothing) {
    ::setenv("ORV_DVB_ROOT", "/nonexistent/orv-dvb", 1);
    EXPECT_TRUE(DvbEnumerateFrontends().empty());
    ::unsetenv("ORV_DVB_ROOT");
}

TEST(DvbDevice, TuningRecordsSystemFrequencyAndStreamId) {
    FakeDvbRoot fake;
    fake.AddFrontend(0, 0, "Terrestrial", "ISDB-T");
    fake.AddFrontend(1, 0, "Satellite", "ISDB-S");
    DvbError error;
    auto terrestrial = DvbFrontend::Open(0, 0, &error);
    ASSERT_TRUE(terrestrial) << error.text;
    EXPECT_EQ(terrestrial->TuneIsdbT(473142857), 0);
    auto tuned = fake.Tuned(0, 0);
    EXPECT_EQ(tuned["system"], "ISDB-T");
    EXPECT_EQ(tuned["frequency"], "473142857");
    EXPECT_EQ(tuned["tsid"], "0");

    auto satellite = DvbFrontend::Open(1, 0, &error);
    ASSERT_TRUE(satellite) << error.text;
    EXPECT_EQ(satellite->TuneIsdbS(1049480000, 0x4010), 0);
    tuned = fake.Tuned(1, 0);
    EXPECT_EQ(tuned["system"], "ISDB-S");
    EXPECT_EQ(tuned["frequency"], "1049480000");
    EXPECT_EQ(tuned["tsid"], "16400");
}

TEST(DvbDevice, TuningRefusesSystemsTheFrontendLacksAndFrequenciesOutOfRange) {
    FakeDvbRoot fake;
    fake.AddFrontend(0, 0, "Terrestrial", "ISDB-T");
    auto frontend = DvbFrontend::Open(0, 0, nullptr);
    ASSERT_TRUE(frontend);
    EXPECT_EQ(frontend->TuneIsdbS(1049480000, 1), EOPNOTSUPP);
    EXPECT_EQ(frontend->TuneIsdbT(0), EINVAL);
    EXPECT_EQ(frontend->TuneIsdbT(uint64_t(1) << 33), EINVAL);
    EXPECT_TRUE(fake.Tuned(0, 0).empty());
}

TEST(DvbDevice, SignalFollowsWhatTheFrontendReportsNow) {
    FakeDvbRoot fake;
    fake.AddFrontend(0, 0, "Tuner", "ISDB-T");
    auto frontend = DvbFrontend::Open(0, 0, nullptr);
    ASSERT_TRUE(frontend);
    DvbSignal signal = frontend->ReadSignal();
    EXPECT_FALSE(signal.locked);
    EXPECT_EQ(signal.scale, DvbSignal::Scale::None);

    fake.AddFrontend(0, 0, "Tuner", "ISDB-T", "signal=27.25\nlock=1\n");
    signal = frontend->ReadSignal();
    EXPECT_TRUE(signal.locked);
    EXPECT_EQ(signal.scale, DvbSignal::Scale::Decibel);
    EXPECT_DOUBLE_EQ(signal.level, 27.25);
}

TEST(DvbDevice, OpeningAMissingDeviceNamesItInTheError) {
    FakeDvbRoot fake;
    DvbError error;
    EXPECT_FALSE(DvbFrontend::Open(0, 0, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.text.find(fake.Frontend(0, 0)), std::string::npos);
    error = {};
    EXPECT_FALSE(DvbDvr::Open(0, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.text.find(fake.Dvr(0)), std::string::npos);
    EXPECT_FALSE(DvbFrontend::Open(-1, 0, &error));
    // A folder is no dvr.
    std::filesystem::create_directories(fake.Dvr(1));
    error = {};
    EXPECT_FALSE(DvbDvr::Open(1, &error));
    EXPECT_EQ(error.code, ENODEV);
}

TEST(DvbDevice, DvrDeliversTheWrittenBytesAndWaitsQuietlyForTheNextWriter) {
    FakeDvbRoot fake;
    ASSERT_TRUE(fake.AddDvr(0));
    DvbError error;
    auto dvr = DvbDvr::Open(0, &error);
    ASSERT_TRUE(dvr) << error.text;

    // No writer yet: nothing, after the time-out.
    uint8_t buffer[188];
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(dvr->Read(buffer, sizeof(buffer), 100), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(90));

    for (int writerNumber = 0; writerNumber < 2; ++writerNumber) {
        const std::vector<uint8_t> bytes = NumberedPackets(600);
        std::thread writer([&] {
            DvrWriter out(fake.Dvr(0));
            out.Write(bytes);
        });
        EXPECT_EQ(ReadAll(*dvr, bytes.size()), bytes);
        writer.join();

        // The writer left: reads wait out their time instead of reporting the end at once.
        const double cpuBefore = ProcessCpuSeconds();
        const auto waitStart = std::chrono::steady_clock::now();
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(dvr->Read(buffer, sizeof(buffer), 50), 0);
        }
        EXPECT_GE(std::chrono::steady_clock::now() - waitStart, std::chrono::milliseconds(225));
        EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.1);
    }
}

}  // namespace
