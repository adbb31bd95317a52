// The recorder behind tsrec: its command line, and recordings from a tuner driver and a file.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/bda/tests/FakeDvbRoot.h"
#include "sources/ICQVTSSource.h"
#include "sources/RecordingTrailer.h"
#include "sources/tests/SourceTestSupport.h"
#include "tools/tsrec/TsRecorder.h"

namespace tsrec {
namespace {

using sourcetest::Bytes;

std::optional<Options> Parse(std::vector<const char*> arguments, std::string* error) {
    bool help = false;
    return ParseArguments(int(arguments.size()), arguments.data(), &help, error);
}

TEST(TsRecorderTest, CommandLineNamesOneInputAndAnOutput) {
    std::string error;
    auto driver = Parse({"--driver", "/x/BonDriver_A.so", "--space", "1", "--channel", "2",
                         "--duration", "1.5", "-o", "out.ts"},
                        &error);
    ASSERT_TRUE(driver) << error;
    EXPECT_EQ(driver->input, Options::Input::kDriver);
    EXPECT_EQ(driver->channel, 2u);
    EXPECT_EQ(driver->durationSeconds, 1.5);
    auto adapter = Parse(
        {"--adapter", "0", "--frequency", "473142857", "--tsid", "0x4010", "-o", "out.ts"}, &error);
    ASSERT_TRUE(adapter) << error;
    EXPECT_EQ(adapter->frequencyHz, 473142857u);
    EXPECT_EQ(adapter->transportStreamId, 0x4010);

    const std::vector<std::vector<const char*>> refused = {
        {"--input", "a.ts"},                                    // no output
        {"--input", "a.ts", "--driver", "b.so", "-o", "c.ts"},  // two inputs
        {"--driver", "b.so", "--space", "0", "-o", "c.ts"},     // no channel
        {"--adapter", "0", "-o", "c.ts"},                       // no frequency
        {"--input", "a.ts", "--duration", "-3", "-o", "c.ts"},  // bad duration
        {"--input", "a.ts", "--tsid", "70000", "-o", "c.ts"},   // not 16 bits
        {"--input", "a.ts", "-o"},                              // value missing
    };
    for (const auto& arguments : refused) {
        error.clear();
        EXPECT_FALSE(Parse(arguments, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(TsRecorderTest, RecordsATunerForTheDurationWithATrailer) {
    sourcetest::TempFolder folder;
    Options options;
    options.driver = ORV_TEST_FOREIGN_BONDRIVER;
    options.durationSeconds = 0.4;
    options.output = folder.File("tuner.ts");
    Recorder recorder(options);
    std::string error;
    ASSERT_TRUE(recorder.Open(&error)) << error;
    std::atomic<bool> interrupted{false};
    ASSERT_TRUE(recorder.Record([](const Progress&) {}, interrupted, &error)) << error;

    const Bytes recorded = sourcetest::ReadFile(options.output);
    ASSERT_GT(recorded.size(), 188u * 100);
    EXPECT_EQ(recorded.size() % 188, 0u);
    const REFERENCE_TIME duration =
        RecordingTrailerDuration(recorded.data() + recorded.size() - 188);
    EXPECT_NEAR(double(duration) / 1e7, 0.4, 0.3);
    // What was recorded lost nothing once it began.
    const std::vector<uint32_t> numbers = sourcetest::PacketNumbers(recorded);
    ASSERT_FALSE(numbers.empty());
    EXPECT_TRUE(sourcetest::CountsUpTo(numbers, numbers.back()));
    EXPECT_EQ(recorder.Final().drops, 0u);
    EXPECT_EQ(recorder.Final().bytes, int64_t(recorded.size()));
}

TEST(TsRecorderTest, RecordsAFileToItsEnd) {
    sourcetest::TempFolder folder;
    const Bytes stream = sourcetest::SimulatedStream(2.0);
    Options options;
    options.input = Options::Input::kFile;
    options.inputFile = folder.File("in.ts");
    options.output = folder.File("out.ts");
    ASSERT_TRUE(sourcetest::WriteFile(options.inputFile, stream));
    Recorder recorder(options);
    std::string error;
    ASSERT_TRUE(recorder.Open(&error)) << error;
    std::atomic<bool> interrupted{false};
    ASSERT_TRUE(recorder.Record([](const Progress&) {}, interrupted, &error)) << error;
    const Bytes recorded = sourcetest::ReadFile(options.output);
    ASSERT_EQ(recorded.size(), stream.size() + 188);
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), recorded.begin()));
}

TEST(TsRecorderTest, RecordsADvbAdapterThroughItsCaptureFilter) {
    // A write into a FIFO that its reader has closed fails instead of ending the process.
    ::signal(SIGPIPE, SIG_IGN);
    FakeDvbRoot devices;
    devices.AddFrontend(0, 0, "Fake ISDB-T", "ISDB-T", "signal=25.5\nlock=1\n");
    ASSERT_TRUE(devices.AddDvr(0));
    const Bytes stream = sourcetest::SimulatedStream(3.0);
    // The adapter delivers the stream in pieces over about a second, as a tuner would.
    std::thread antenna([&] {
        DvrWriter dvr(devices.Dvr(0));
        const size_t piece = stream.size() / 50;
        for (size_t offset = 0; dvr.IsOpen() && offset < stream.size(); offset += piece) {
            const size_t end = std::min(stream.size(), offset + piece);
            if (!dvr.Write(Bytes(stream.begin() + long(offset), stream.begin() + long(end)))) {
                break;  // the recorder has closed the device
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    sourcetest::TempFolder folder;
    Options options;
    options.input = Options::Input::kAdapter;
    options.adapter = 0;
    options.frequencyHz = 473142857;
    options.durationSeconds = 1.5;
    options.output = folder.File("adapter.ts");
    Recorder recorder(options);
    std::string error;
    const bool opened = recorder.Open(&error);
    std::atomic<bool> interrupted{false};
    const bool finished = opened && recorder.Record([](const Progress&) {}, interrupted, &error);
    if (!opened) {
        // The writer waits in its open for a reader: give it one.
        const int reader = ::open(devices.Dvr(0).c_str(), O_RDONLY | O_NONBLOCK);
        antenna.join();
        ::close(reader);
    } else {
        antenna.join();
    }
    ASSERT_TRUE(finished) << error;

    EXPECT_EQ(devices.Tuned(0, 0)["frequency"], "473142857");
    EXPECT_EQ(devices.Tuned(0, 0)["system"], "ISDB-T");
    EXPECT_FLOAT_EQ(recorder.Final().signalLevel, 25.5f);
    // From where the recording began, the stream arrived byte for byte.
    const Bytes recorded = sourcetest::ReadFile(options.output);
    ASSERT_GT(recorded.size(), 188u * 1000);
    const Bytes body(recorded.begin(), recorded.end() - 188);
    const auto found = std::search(stream.begin(), stream.end(), body.begin(), body.begin() + 188);
    ASSERT_NE(found, stream.end());
    EXPECT_TRUE(std::equal(body.begin(), body.end(), found));
}

TEST(TsRecorderTest, AMissingDriverOrFileIsReportedWhenOpening) {
    sourcetest::TempFolder folder;
    for (const Options::Input input : {Options::Input::kDriver, Options::Input::kFile}) {
        Options options;
        options.input = input;
        options.driver = folder.File("BonDriver_Missing.so");
        options.inputFile = folder.File("missing.ts");
        options.output = folder.File("out.ts");
        Recorder recorder(options);
        std::string error;
        EXPECT_FALSE(recorder.Open(&error));
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace tsrec
