// The capture filter in a running graph: the adapter's dvr is a FIFO the test writes into, and
// the recording sink of the stream-module tests receives what the filter delivers.
#include "platform/bda/BdaCaptureFilter.h"

#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "core/ICWinError.h"
#include "platform/bda/BdaDevices.h"
#include "platform/bda/tests/BdaTestSupport.h"
#include "streamfw/tests/StreamTestFilters.h"

namespace {

using streamtest::RecordingSink;
using streamtest::WaitUntil;

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

size_t ReceivedBytes(RecordingSink* sink) {
    size_t total = 0;
    for (const streamtest::Received& sample : sink->Samples()) {
        total += sample.data.size();
    }
    return total;
}

// Writes packets into the FIFO for as long as it runs, opening it again whenever the reader
// closed it (a stopped capture filter) and waiting while there is none.
class ContinuousWriter {
public:
    explicit ContinuousWriter(std::string path) : path(std::move(path)) {
        ::signal(SIGPIPE, SIG_IGN);
        thread = std::thread([this] { Run(); });
    }
    ~ContinuousWriter() {
        stop = true;
        thread.join();
    }

private:
    void Run() {
        const std::vector<uint8_t> packets = NumberedPackets(64);
        int fd = -1;
        while (!stop) {
            if (fd < 0) {
                fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd < 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    continue;
                }
            }
            if (::write(fd, packets.data(), packets.size()) < 0) {
                if (errno == EPIPE) {
                    ::close(fd);
                    fd = -1;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }

    std::string path;
    std::atomic<bool> stop{false};
    std::thread thread;
};

class BdaCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake.AddFrontend(0, 0, "Tuner", "ISDB-T");
        ASSERT_TRUE(fake.AddDvr(0));
    }
    void TearDown() override {
        if (control) {
            control->Stop();
        }
    }

    // capture → sink in a new graph; with the network provider and tuner in front when asked.
    void BuildGraph(bool withTuner) {
        if (withTuner) {
            frontEnd = std::make_unique<FrontEnd>(0, 0);
            ASSERT_TRUE(frontEnd->built);
            graph = frontEnd->graph;
        } else {
            ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IGraphBuilder, graph.GetVoidAddressOf()),
                      S_OK);
        }
        capture = BindDevice(KSCATEGORY_BDA_RECEIVER_COMPONENT, BdaCaptureDevicePath(0));
        ASSERT_TRUE(capture);
        sink = new RecordingSink();
        sinkFilter = streamtest::Hold(sink);
        ASSERT_EQ(graph->AddFilter(capture.Get(), BdaCaptureDevicePath(0).c_str()), S_OK);
        ASSERT_EQ(graph->AddFilter(sinkFilter.Get(), u"Sink"), S_OK);
        if (withTuner) {
            ASSERT_EQ(
                graph->ConnectDirect(FirstPin(frontEnd->tunerFilter.Get(), PINDIR_OUTPUT).Get(),
                                     FirstPin(capture.Get(), PINDIR_INPUT).Get(), nullptr),
                S_OK);
        }
        ASSERT_EQ(graph->ConnectDirect(FirstPin(capture.Get(), PINDIR_OUTPUT).Get(),
                                       FirstPin(sinkFilter.Get(), PINDIR_INPUT).Get(), nullptr),
                  S_OK);
        control = graph.As<IMediaControl>();
        ASSERT_TRUE(control);
    }

    TemporaryRegistry registry;
    FakeDvbRoot fake;
    std::unique_ptr<FrontEnd> frontEnd;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> capture;
    RecordingSink* sink = nullptr;
    ComPtr<IBaseFilter> sinkFilter;
    ComPtr<IMediaControl> control;
};

TEST_F(BdaCaptureTest, RunningGraphDeliversExactlyTheBytesWrittenIntoTheDvr) {
    BuildGraph(true);
    AM_MEDIA_TYPE type{};
    ASSERT_EQ(FirstPin(capture.Get(), PINDIR_OUTPUT)->ConnectionMediaType(&type), S_OK);
    EXPECT_EQ(type.majortype, MEDIATYPE_Stream);
    EXPECT_EQ(type.subtype, KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT);
    FreeMediaType(type);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_EQ(frontEnd->Tune(473143, 0), S_OK);

    const std::vector<uint8_t> bytes = NumberedPackets(1500);
    std::thread writer([&] {
        DvrWriter out(fake.Dvr(0));
        out.Write(bytes);
    });
    EXPECT_TRUE(WaitUntil([&] { return ReceivedBytes(sink) >= bytes.size(); }, 10000));
    writer.join();
    EXPECT_EQ(sink->Concatenated(), bytes);
    const std::vector<streamtest::Received> samples = sink->Samples();
    ASSERT_FALSE(samples.empty());
    EXPECT_TRUE(samples[0].discontinuity);
    for (const streamtest::Received& sample : samples) {
        EXPECT_LE(sample.data.size(), size_t(CBdaCaptureFilter::kSampleBytes));
    }
    EXPECT_EQ(control->Stop(), S_OK);
}

TEST_F(BdaCaptureTest, PausedFilterHoldsTheDvrOpenWithoutDeliveringAndStoppedReleasesIt) {
    BuildGraph(false);
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    FILTER_STATE state;
    EXPECT_EQ(capture->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);

    const std::vector<uint8_t> bytes = NumberedPackets(20);
    {
        DvrWriter out(fake.Dvr(0));  // a reader is there: opening does not wait
        ASSERT_TRUE(out.IsOpen());
        ASSERT_TRUE(out.Write(bytes));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(sink->Count(), 0u);
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_TRUE(WaitUntil([&] { return ReceivedBytes(sink) >= bytes.size(); }));
    }
    EXPECT_EQ(sink->Concatenated(), bytes);

    EXPECT_EQ(control->Stop(), S_OK);
    const int writer = ::open(fake.Dvr(0).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_LT(writer, 0);  // no reader any more
    EXPECT_EQ(errno, ENXIO);
}

TEST_F(BdaCaptureTest, PauseRunStopCyclesWhileDataFlows) {
    BuildGraph(false);
    ContinuousWriter writer(fake.Dvr(0));
    for (int cycle = 0; cycle < 4; ++cycle) {
        const size_t before = sink->Count();
        ASSERT_TRUE(SUCCEEDED(control->Run())) << cycle;
        EXPECT_TRUE(WaitUntil([&] { return sink->Count() > before + 2; })) << cycle;
        if (cycle % 2 == 0) {
            ASSERT_TRUE(SUCCEEDED(control->Pause())) << cycle;
            const size_t paused = sink->Count();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_LE(sink->Count(), paused + 1) << cycle;  // one read may have been under way
        }
        ASSERT_EQ(control->Stop(), S_OK) << cycle;
    }
    // Whatever arrived is whole packets in order (no sample lost inside a run).
    for (const streamtest::Received& sample : sink->Samples()) {
        ASSERT_FALSE(sample.data.empty());
    }
}

TEST_F(BdaCaptureTest, PausingWithoutADvrFailsAtOnce) {
    fake.AddFrontend(1, 0, "No Dvr", "ISDB-T");
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(BdaCreateCaptureFilter(1, filter.GetAddressOf()), S_OK);
    EXPECT_EQ(filter->Pause(), HRESULT_FROM_WIN32(kErrorFileNotFound));
    FILTER_STATE state;
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    // In a graph: the dvr went away after the graph was built.
    BuildGraph(false);
    std::filesystem::remove(fake.Dvr(0));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(FAILED(control->Run()));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_EQ(capture->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
}

TEST_F(BdaCaptureTest, DvrWithoutWriterNeitherDeliversNorSpinsAndStopsPromptly) {
    BuildGraph(false);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    double cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(sink->Count(), 0u);
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.1);

    // A writer comes, writes and leaves: its bytes arrive, then the filter waits quietly again.
    const std::vector<uint8_t> bytes = NumberedPackets(30);
    {
        DvrWriter out(fake.Dvr(0));
        ASSERT_TRUE(out.Write(bytes));
    }
    EXPECT_TRUE(WaitUntil([&] { return ReceivedBytes(sink) >= bytes.size(); }));
    cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.1);
    EXPECT_EQ(sink->Concatenated(), bytes);

    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
}

}  // namespace
