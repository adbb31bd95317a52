// Message throughput of ICThread: messages posted on one thread and handled by a worker.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "core/ICErrors.h"
#include "core/ICThread.h"

namespace {

constexpr uint32_t kMsgWork = 5;
constexpr uint32_t kMsgBatchEnd = 6;

class CountingThread : public ICThread {
public:
    ~CountingThread() override { Stop(0, 0); }
    uint32_t OnMessage(ICMsg* msg) override {
        if (msg->id == kMsgWork) {
            handled.fetch_add(msg->param1, std::memory_order_relaxed);
        } else if (msg->id == kMsgBatchEnd) {
            batchDone.Signal();
        }
        return ICThread::OnMessage(msg) + 1;
    }
    std::atomic<uint64_t> handled{0};
    ICSemaphore batchDone;
};

// Posts a batch of messages to a running worker, then waits for the worker to reach the end of
// the batch: the figure is messages handled per second across the two threads.
void BM_PostedMessagesAcrossThreads(benchmark::State& state) {
    const int batch = static_cast<int>(state.range(0));
    CountingThread worker;
    worker.Start();
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) {
            worker.PostMsg(kMsgWork, 1);
        }
        worker.PostMsg(kMsgBatchEnd);
        worker.batchDone.Wait(kICInfinite);
    }
    state.SetItemsProcessed(state.iterations() * (batch + 1));
    if (worker.handled.load() != static_cast<uint64_t>(state.iterations()) * batch) {
        state.SkipWithError("messages were lost");
    }
}
BENCHMARK(BM_PostedMessagesAcrossThreads)->Arg(1)->Arg(100)->Arg(10000)->UseRealTime();

// Two posting threads feeding one worker.
void BM_PostedMessagesFromTwoPosters(benchmark::State& state) {
    const int batch = 10000;
    CountingThread worker;
    worker.Start();
    for (auto _ : state) {
        std::thread other([&] {
            for (int i = 0; i < batch / 2; ++i) {
                worker.PostMsg(kMsgWork, 1);
            }
        });
        for (int i = 0; i < batch / 2; ++i) {
            worker.PostMsg(kMsgWork, 1);
        }
        other.join();
        worker.PostMsg(kMsgBatchEnd);
        worker.batchDone.Wait(kICInfinite);
    }
    state.SetItemsProcessed(state.iterations() * (batch + 1));
}
BENCHMARK(BM_PostedMessagesFromTwoPosters)->UseRealTime();

// A synchronous send and its reply: round trips per second.
void BM_SendMsgRoundTrip(benchmark::State& state) {
    CountingThread worker;
    worker.Start();
    uint32_t status = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(worker.SendMsg(kMsgWork, 0, 0, &status, 0));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendMsgRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
