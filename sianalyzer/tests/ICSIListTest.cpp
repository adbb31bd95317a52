// The store's reader/writer protocol, with real threads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sianalyzer/tests/SiTestSupport.h"

namespace sitest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Bytes Pat(uint16_t tsid, uint8_t version, uint16_t pmtPid) {
    return BuildSection({0x00, tsid, version, 0, 0, false}, PatBody({{0x400, pmtPid}}));
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(ICSIList, ReleaseNeverGoesBelowZeroAndQueryInterfaceAlwaysFails) {
    ICSIList store;
    EXPECT_EQ(store.AddRef(), 1u);
    EXPECT_EQ(store.AddRef(), 2u);
    EXPECT_EQ(store.Release(), 1u);
    EXPECT_EQ(store.Release(), 0u);
    EXPECT_EQ(store.Release(), 0u);
    void* object = &store;
    EXPECT_EQ(store.QueryInterface(IID_IUnknown, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST(ICSIList, AddRefWaitsWhileTheWriterReplacesObjects) {
    ICSIList store;
    ASSERT_TRUE(store.BeginReset());
    std::atomic<bool> held{false};
    std::thread reader([&] {
        store.AddRef();
        held = true;
        store.Release();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(held.load());
    store.EndReset();
    reader.join();
    EXPECT_TRUE(held.load());
}

TEST(ICSIList, ARemovalWaitsForTheRunningHandler) {
    TestAnalyzer analyzer;
    analyzer.FeedSection(0, Pat(0x10, 0, 0x1F0));
    ICSIList& store = *analyzer.GetSIList();
    store.BeginUpdate();  // a handler is running
    std::atomic<int32_t> removed{-1};
    std::thread remover([&] {
        store.AddRef();
        removed = store.RemovePAT(0x10);
        store.Release();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(removed.load(), -1);
    EXPECT_TRUE(store.IsRemoving());
    store.EndUpdate();
    remover.join();
    EXPECT_EQ(removed.load(), 1);
    EXPECT_EQ(store.GetPATCount(), 0);
    EXPECT_FALSE(store.IsRemoving());
}

// A reader holding the store for 6 s: the worker gives up the new PAT version after 5 s and
// stores it from the next repetition; a removal that holds the store too waits for the reader.
TEST(ICSIList, AReaderHoldingTheStoreMakesTheNewPatWaitForTheNextRepetition) {
    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventPATStored.bit);
    analyzer.FeedSection(0, Pat(0x20, 1, 0x1F0));
    analyzer.FeedSection(0, Pat(0x21, 1, 0x1F1));
    ICSIList& store = *analyzer.GetSIList();
    ASSERT_EQ(analyzer.CountOf(si::kEventPATStored.code), 2u);

    std::atomic<bool> holding{false};
    std::thread reader([&] {
        store.AddRef();
        holding = true;
        std::this_thread::sleep_for(6s);
        store.Release();
    });
    while (!holding) {
        std::this_thread::yield();
    }
    std::atomic<int32_t> removed{-1};
    std::atomic<double> removedAfter{0};
    const Clock::time_point start = Clock::now();
    std::thread remover([&] {
        std::this_thread::sleep_for(100ms);
        store.AddRef();
        removed = store.RemovePAT(0x21);
        removedAfter = SecondsSince(start);
        store.Release();
    });

    analyzer.FeedSection(0, Pat(0x20, 2, 0x1F2));
    const double gaveUpAfter = SecondsSince(start);
    EXPECT_GE(gaveUpAfter, 4.9);
    EXPECT_LT(gaveUpAfter, 5.9);
    EXPECT_EQ(analyzer.CountOf(si::kEventPATStored.code), 2u);
    store.AddRef();  // the removal is under way: look only while holding the store
    EXPECT_EQ(store.FindPAT(0x20)->GetVersion(), 1);
    store.Release();
    EXPECT_EQ(analyzer.GetWatch(0x1F2), 0);

    reader.join();
    remover.join();
    EXPECT_EQ(removed.load(), 1);
    EXPECT_GE(removedAfter.load(), 5.9);

    analyzer.FeedSection(0, Pat(0x20, 2, 0x1F2));
    EXPECT_EQ(analyzer.CountOf(si::kEventPATStored.code), 3u);
    EXPECT_EQ(store.FindPAT(0x20)->GetVersion(), 2);
    EXPECT_EQ(store.FindPAT(0x21), nullptr);
    EXPECT_EQ(analyzer.GetWatch(0x1F2), ICSIAnalyzerCore::kWatchPMT);
}

// Readers walk the store while the worker (this thread) replaces tables version after
// version: no reader ever sees a deleted object (checked by the sanitizers).
TEST(ICSIList, ReadersAndTheWorkerShareTheStoreSafely) {
    TestAnalyzer analyzer;
    ICSIList& store = *analyzer.GetSIList();
    std::atomic<bool> stop{false};
    std::atomic<long> walks{0};
    auto walk = [&] {
        while (!stop) {
            store.AddRef();
            long names = 0;
            for (int32_t i = 0; i < store.GetSDTCount(); ++i) {
                const ICSISDT* sdt = store.GetSDT(i);
                for (int32_t j = 0; j < sdt->GetServiceCount(); ++j) {
                    names += sdt->GetService(j)->GetServiceName()[0] != 0;
                }
            }
            for (int32_t i = 0; i < store.GetEITCount(); ++i) {
                const ICSIEIT* eit = store.GetEIT(i);
                if (const ICSIEvent* event = eit->FindEvent(1, true)) {
                    names += event->GetEventName()[0] != 0;
                }
            }
            store.Release();
            walks += names >= 0;
        }
    };
    std::thread readers[2] = {std::thread(walk), std::thread(walk)};
    const Clock::time_point start = Clock::now();
    for (int round = 0; SecondsSince(start) < 0.4; ++round) {
        const uint8_t version = static_cast<uint8_t>(round & 0x1F);
        ByteWriter service;
        service.U8(0x01).Counted(Text(u"Provider")).Counted(Text(u"Service"));
        ByteWriter body;
        body.U16(0x7FE0).U8(0xFF);
        body.U16(0x0400).U8(0xFF).Loop(Descriptor(0x48, service.Data()), 0x8);
        analyzer.FeedSection(0x11, BuildSection({0x42, 0x10, version, 0, 0, true}, body.Data()));
        analyzer.FeedSection(
            0x12,
            BuildSection({0x4E, 0x0400, version, 0, 1, true},
                         EitBody(0x10, 0x7FE0, 1, 0x4E,
                                 {{1, 2026, 4, 1, 12, 0, 0, 0x010000, ShortEvent(u"A", u"B")}})));
    }
    stop = true;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_GT(walks.load(), 0);
    EXPECT_EQ(store.GetLockCount(), 0);
    EXPECT_EQ(store.GetSDTCount(), 1);
}

}  // namespace
}  // namespace sitest
