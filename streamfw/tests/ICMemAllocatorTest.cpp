#include "streamfw/ICMemAllocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/com/ComPtr.h"

namespace {

// An allocator that reports its destruction.
class WatchedAllocator : public ICMemAllocator {
public:
    WatchedAllocator(std::atomic<bool>* destroyed, LONG size, LONG count)
        : ICMemAllocator("Allocator", nullptr, 3, size, count), destroyed(destroyed) {}

protected:
    ~WatchedAllocator() override { destroyed->store(true); }

private:
    std::atomic<bool>* destroyed;
};

ICPacket* AsPacket(IMediaSample* sample) {
    return static_cast<ICPacket*>(static_cast<IMediaSample2*>(sample));
}

}  // namespace

TEST(ICMemAllocatorProperties, SetPropertiesValidatesAndReportsTheValues) {
    auto allocator = ComPtr<ICMemAllocator>::Attach(new ICMemAllocator("A", nullptr, 0, 188, 50));
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(allocator->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cBuffers, 50);
    EXPECT_EQ(props.cbBuffer, 188);
    EXPECT_EQ(props.cbAlign, 16);
    EXPECT_EQ(props.cbPrefix, 0);

    ALLOCATOR_PROPERTIES request{10, 1024, 0, 0};
    ALLOCATOR_PROPERTIES actual{};
    EXPECT_EQ(allocator->SetProperties(&request, nullptr), E_POINTER);
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BADALIGN);
    request.cbAlign = 0x20000;
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BADALIGN);
    request.cbAlign = 1;
    ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, 10);
    EXPECT_EQ(actual.cbBuffer, 1024);
    EXPECT_EQ(actual.cbAlign, 1);
    ASSERT_EQ(allocator->Commit(), S_OK);
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
    EXPECT_EQ(allocator->Decommit(), S_OK);

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(allocator.As(&unknown), S_OK);
    ComPtr<IMediaSample> wrong;
    EXPECT_EQ(allocator.As(&wrong), E_NOINTERFACE);
}

TEST(ICMemAllocatorBuffers, PacketsAreTaggedPooledAndReused) {
    auto allocator = ComPtr<ICMemAllocator>::Attach(new ICMemAllocator("A", nullptr, 9, 188, 2));
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(allocator->GetBuffer(sample.GetAddressOf(), nullptr, nullptr, 0),
              VFW_E_NOT_COMMITTED);
    ASSERT_EQ(allocator->Commit(), S_OK);
    EXPECT_EQ(allocator->GetFreeCount(), 2);

    REFERENCE_TIME start = 1;
    REFERENCE_TIME stop = 2;
    ASSERT_EQ(allocator->GetBuffer(sample.GetAddressOf(), &start, &stop, 0), S_OK);
    ICPacket* first = AsPacket(sample.Get());
    EXPECT_EQ(first->GetTag(), 9u);
    EXPECT_EQ(first->GetCapacity(), 188);
    EXPECT_EQ(first->GetReferenceCount(), 1u);
    REFERENCE_TIME gotStart = 0;
    REFERENCE_TIME gotStop = 0;
    EXPECT_EQ(sample->GetTime(&gotStart, &gotStop), S_OK);
    EXPECT_EQ(gotStop, 2);
    first->Write("data", 4);
    sample.Reset();  // back to the pool
    EXPECT_EQ(allocator->GetFreeCount(), 2);

    ComPtr<IMediaSample> a;
    ComPtr<IMediaSample> b;
    ASSERT_EQ(allocator->GetBuffer(a.GetAddressOf(), nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(allocator->GetBuffer(b.GetAddressOf(), nullptr, nullptr, 0), S_OK);
    EXPECT_TRUE(AsPacket(a.Get()) == first || AsPacket(b.Get()) == first);
    // The data stays until the user resets the packet.
    ICPacket* reused = AsPacket(a.Get()) == first ? AsPacket(a.Get()) : AsPacket(b.Get());
    EXPECT_EQ(reused->GetLength(), 4);

    // Exhausted: the no-wait flag answers at once.
    ComPtr<IMediaSample> none;
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(allocator->GetBuffer(none.GetAddressOf(), nullptr, nullptr, AM_GBF_NOWAIT),
              VFW_E_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
    EXPECT_EQ(none.Get(), nullptr);
    a.Reset();
    b.Reset();
    allocator->Decommit();
}

TEST(ICMemAllocatorBuffers, APacketReturnedTwiceIsLinkedOnce) {
    auto allocator = ComPtr<ICMemAllocator>::Attach(new ICMemAllocator("A", nullptr, 0, 16, 1));
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    sample->Release();
    EXPECT_EQ(allocator->ReleaseBuffer(sample), E_POINTER);
    EXPECT_EQ(allocator->GetFreeCount(), 1);
    EXPECT_EQ(allocator->ReleaseBuffer(nullptr), E_INVALIDARG);
    allocator->Decommit();
}

TEST(ICMemAllocatorBuffers, AddAndRemoveBuffersChangeTheCount) {
    auto allocator = ComPtr<ICMemAllocator>::Attach(new ICMemAllocator("A", nullptr, 0, 16, 4));
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_EQ(allocator->AddBuffers(3), S_OK);
    EXPECT_EQ(allocator->GetBufferCount(), 7);
    EXPECT_EQ(allocator->GetFreeCount(), 7);
    IMediaSample* out = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&out, nullptr, nullptr, 0), S_OK);
    // Only idle packets can go.
    EXPECT_EQ(allocator->RemoveBuffers(10), 6);
    EXPECT_EQ(allocator->GetBufferCount(), 1);
    out->Release();
    EXPECT_EQ(allocator->GetFreeCount(), 1);
    allocator->Decommit();
}

TEST(ICMemAllocatorLifetime, DecommitWithPacketsOutWaitsForThemToComeBack) {
    std::atomic<bool> destroyed{false};
    auto* allocator = new WatchedAllocator(&destroyed, 188, 4);
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* first = nullptr;
    IMediaSample* second = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&first, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&second, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    EXPECT_TRUE(allocator->IsDecommitPending());
    EXPECT_FALSE(allocator->IsCommitted());
    allocator->Release();  // the creator's reference: the packets out keep it alive
    EXPECT_FALSE(destroyed.load());
    first->Release();
    EXPECT_FALSE(destroyed.load());
    second->Release();
    EXPECT_TRUE(destroyed.load());  // all packets home: freed with the allocator
}

TEST(ICMemAllocatorLifetime, CommitDuringAPendingDecommitKeepsThePackets) {
    std::atomic<bool> destroyed{false};
    auto* allocator = new WatchedAllocator(&destroyed, 188, 2);
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* first = nullptr;
    IMediaSample* second = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&first, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&second, nullptr, nullptr, 0), S_OK);
    ICPacket* firstPacket = AsPacket(first);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    ASSERT_EQ(allocator->Commit(), S_OK);
    EXPECT_TRUE(allocator->IsCommitted());
    EXPECT_FALSE(allocator->IsDecommitPending());
    first->Release();
    second->Release();
    EXPECT_EQ(allocator->GetFreeCount(), 2);
    EXPECT_EQ(allocator->GetBufferCount(), 2);
    IMediaSample* again = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&again, nullptr, nullptr, 0), S_OK);
    EXPECT_TRUE(AsPacket(again) == firstPacket || allocator->GetFreeCount() == 1);
    again->Release();
    // One commit, one decommit, one creator reference: nothing is left over.
    ASSERT_EQ(allocator->Decommit(), S_OK);
    EXPECT_FALSE(destroyed.load());
    EXPECT_EQ(allocator->GetFreeCount(), 0);
    allocator->Release();
    EXPECT_TRUE(destroyed.load());
}

TEST(ICMemAllocatorWaiting, GetBufferWaitsForAReturnedPacket) {
    auto allocator = ComPtr<ICMemAllocator>::Attach(new ICMemAllocator("A", nullptr, 0, 188, 1));
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* held = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
    std::thread giver([held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        held->Release();
    });
    IMediaSample* got = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&got, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(got, held);
    giver.join();
    got->Release();
    allocator->Decommit();
}

TEST(ICMemAllocatorWaiting, GetBufferTimesOutAfterTwoSeconds) {
    auto allocator = ComPtr<ICMemAllocator>::Attach(new ICMemAllocator("A", nullptr, 0, 188, 1));
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* held = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
    IMediaSample* got = reinterpret_cast<IMediaSample*>(1);
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(allocator->GetBuffer(&got, nullptr, nullptr, 0), VFW_E_TIMEOUT);
    auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::milliseconds(4000));
    EXPECT_EQ(got, nullptr);
    held->Release();
    allocator->Decommit();
}

TEST(ICMemAllocatorWaiting, DecommitReleasesAWaitingGetBuffer) {
    auto allocator = ComPtr<ICMemAllocator>::Attach(new ICMemAllocator("A", nullptr, 0, 188, 1));
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* held = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
    std::atomic<HRESULT> result{S_OK};
    std::thread waiter([&] {
        IMediaSample* got = nullptr;
        result = allocator->GetBuffer(&got, nullptr, nullptr, 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto before = std::chrono::steady_clock::now();
    allocator->Decommit();
    waiter.join();
    EXPECT_EQ(result.load(), VFW_E_NOT_COMMITTED);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
    held->Release();
}

TEST(ICMemAllocatorWaiting, ManyThreadsShareAFewPackets) {
    auto allocator = ComPtr<ICMemAllocator>::Attach(new ICMemAllocator("A", nullptr, 0, 188, 3));
    ASSERT_EQ(allocator->Commit(), S_OK);
    std::atomic<int> taken{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                IMediaSample* sample = nullptr;
                if (allocator->GetBuffer(&sample, nullptr, nullptr, 0) == S_OK) {
                    AsPacket(sample)->Reset();
                    AsPacket(sample)->WriteByte(BYTE(i));
                    ++taken;
                    sample->Release();
                }
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(taken.load(), 8000);
    EXPECT_EQ(allocator->GetFreeCount(), 3);
    allocator->Decommit();
}
