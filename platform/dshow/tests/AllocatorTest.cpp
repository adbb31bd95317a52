// Samples and the memory allocator.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/com/ComPtr.h"
#include "platform/dshow/CBaseAllocator.h"
#include "platform/dshow/CMediaType.h"

namespace {

ComPtr<IMemAllocator> MakeAllocator(LONG count, LONG size, LONG align = 1) {
    ComPtr<IMemAllocator> allocator;
    EXPECT_EQ(CreateMemoryAllocator(allocator.GetAddressOf()), S_OK);
    ALLOCATOR_PROPERTIES wanted{count, size, align, 0};
    ALLOCATOR_PROPERTIES actual{};
    EXPECT_EQ(allocator->SetProperties(&wanted, &actual), S_OK);
    return allocator;
}

ComPtr<IMediaSample> Take(IMemAllocator* allocator, DWORD flags = 0, HRESULT* result = nullptr) {
    IMediaSample* sample = nullptr;
    const HRESULT hr = allocator->GetBuffer(&sample, nullptr, nullptr, flags);
    if (result) {
        *result = hr;
    }
    return ComPtr<IMediaSample>::Attach(sample);
}

}  // namespace

TEST(MemAllocator, PropertiesFollowTheAlignmentRules) {
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(CreateMemoryAllocator(allocator.GetAddressOf()), S_OK);
    ALLOCATOR_PROPERTIES actual{};
    for (LONG align : {0, 3, 131072, -16}) {
        ALLOCATOR_PROPERTIES wanted{2, 100, align, 0};
        EXPECT_EQ(allocator->SetProperties(&wanted, &actual), VFW_E_BADALIGN) << align;
    }
    ALLOCATOR_PROPERTIES wanted{2, 100, 16, 4};
    ASSERT_EQ(allocator->SetProperties(&wanted, &actual), S_OK);
    // The size grows so that prefix plus buffer stays aligned.
    EXPECT_EQ(actual.cbBuffer, 108);
    EXPECT_EQ(actual.cbAlign, 16);
    EXPECT_EQ(allocator->SetProperties(&wanted, nullptr), E_POINTER);

    ASSERT_EQ(allocator->Commit(), S_OK);
    EXPECT_EQ(allocator->SetProperties(&wanted, &actual), VFW_E_ALREADY_COMMITTED);
    ComPtr<IMediaSample> sample = Take(allocator.Get());
    ASSERT_TRUE(sample);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data - 4) % 16, 0u);
    EXPECT_EQ(sample->GetSize(), 108);
    sample.Reset();
    allocator->Decommit();
}

TEST(MemAllocator, GetBufferNeedsCommitAndCanRefuseToWait) {
    ComPtr<IMemAllocator> allocator = MakeAllocator(1, 32);
    HRESULT hr = S_OK;
    EXPECT_FALSE(Take(allocator.Get(), 0, &hr));
    EXPECT_EQ(hr, VFW_E_NOT_COMMITTED);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ComPtr<IMediaSample> held = Take(allocator.Get());
    ASSERT_TRUE(held);
    EXPECT_FALSE(Take(allocator.Get(), AM_GBF_NOWAIT, &hr));
    EXPECT_EQ(hr, VFW_E_TIMEOUT);
    held.Reset();
    EXPECT_TRUE(Take(allocator.Get(), AM_GBF_NOWAIT, &hr));
    allocator->Decommit();
}

TEST(MemAllocator, DecommitWaitsForOutstandingSamplesAndCommitRevives) {
    const LONG before = CBaseObject::ObjectsActive();
    ComPtr<IMemAllocator> allocator = MakeAllocator(3, 16);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ComPtr<IMediaSample> first = Take(allocator.Get());
    ComPtr<IMediaSample> second = Take(allocator.Get());
    ASSERT_EQ(allocator->Decommit(), S_OK);
    HRESULT hr = S_OK;
    EXPECT_FALSE(Take(allocator.Get(), AM_GBF_NOWAIT, &hr));
    EXPECT_EQ(hr, VFW_E_NOT_COMMITTED);

    // The allocator outlives its last outside reference while samples are out.
    allocator.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 1);
    first.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 1);
    second.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);

    // A commit while the decommit is pending keeps the samples in use.
    allocator = MakeAllocator(2, 16);
    ASSERT_EQ(allocator->Commit(), S_OK);
    first = Take(allocator.Get());
    allocator->Decommit();
    ASSERT_EQ(allocator->Commit(), S_OK);
    EXPECT_TRUE(Take(allocator.Get(), AM_GBF_NOWAIT));
    first.Reset();
    allocator->Decommit();
}

TEST(MemAllocator, DecommitReleasesAThreadWaitingForABuffer) {
    ComPtr<IMemAllocator> allocator = MakeAllocator(1, 16);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ComPtr<IMediaSample> held = Take(allocator.Get());
    HRESULT waited = S_OK;
    std::thread waiter([&] { Take(allocator.Get(), 0, &waited); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    allocator->Decommit();
    waiter.join();
    EXPECT_EQ(waited, VFW_E_NOT_COMMITTED);
    held.Reset();
}

TEST(MemAllocator, ReturnedSampleWakesAWaiter) {
    ComPtr<IMemAllocator> allocator = MakeAllocator(1, 16);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ComPtr<IMediaSample> held = Take(allocator.Get());
    IMediaSample* raw = held.Get();
    ComPtr<IMediaSample> received;
    std::thread waiter([&] { received = Take(allocator.Get()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    held.Reset();
    waiter.join();
    EXPECT_EQ(received.Get(), raw);
    received.Reset();
    allocator->Decommit();
}

TEST(MediaSample, TimesFlagsAndTypeBehaveAsPublished) {
    ComPtr<IMemAllocator> allocator = MakeAllocator(1, 64);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ComPtr<IMediaSample> sample = Take(allocator.Get());
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    REFERENCE_TIME newStart = 100;
    ASSERT_EQ(sample->SetTime(&newStart, nullptr), S_OK);
    EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(stop, 101);
    REFERENCE_TIME newStop = 300;
    sample->SetTime(&newStart, &newStop);
    EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
    EXPECT_EQ(stop, 300);
    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
    EXPECT_EQ(sample->GetMediaTime(&mediaStart, &mediaStop), VFW_E_MEDIA_TIME_NOT_SET);
    EXPECT_EQ(sample->SetActualDataLength(65), VFW_E_BUFFER_OVERFLOW);
    ASSERT_EQ(sample->SetActualDataLength(10), S_OK);

    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
    EXPECT_EQ(type, nullptr);
    CMediaType stream(&MEDIATYPE_Stream);
    ASSERT_EQ(sample->SetMediaType(&stream), S_OK);
    ASSERT_EQ(sample->GetMediaType(&type), S_OK);
    EXPECT_EQ(type->majortype, MEDIATYPE_Stream);
    DeleteMediaType(type);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(TRUE);

    ComPtr<IMediaSample2> sample2;
    ASSERT_EQ(sample.As(&sample2), S_OK);
    AM_SAMPLE2_PROPERTIES props{};
    ASSERT_EQ(sample2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), S_OK);
    EXPECT_EQ(props.lActual, 10);
    EXPECT_EQ(props.tStart, 100);
    EXPECT_TRUE(props.dwSampleFlags & AM_SAMPLE_TYPECHANGED);
    EXPECT_TRUE(props.dwSampleFlags & AM_SAMPLE_SPLICEPOINT);
    // Invalid property records are refused without a change.
    AM_SAMPLE2_PROPERTIES bad = props;
    bad.lActual = 1000;
    EXPECT_EQ(sample2->SetProperties(sizeof(bad), reinterpret_cast<BYTE*>(&bad)), E_INVALIDARG);
    bad = props;
    bad.pbBuffer = reinterpret_cast<BYTE*>(&bad);
    EXPECT_EQ(sample2->SetProperties(sizeof(bad), reinterpret_cast<BYTE*>(&bad)), E_INVALIDARG);
    EXPECT_EQ(sample->GetActualDataLength(), 10);

    // Going back to the allocator clears the flags and the type; the data stays.
    IMediaSample* raw = sample.Get();
    sample2.Reset();
    sample.Reset();
    sample = Take(allocator.Get());
    ASSERT_EQ(sample.Get(), raw);
    EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(sample->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
    EXPECT_EQ(sample->GetActualDataLength(), 10);
    // A sample handed back twice is not queued twice.
    EXPECT_EQ(allocator->ReleaseBuffer(sample.Get()), S_OK);
    EXPECT_EQ(allocator->ReleaseBuffer(sample.Get()), E_POINTER);
    sample.Detach();  // already returned
    allocator->Decommit();
}
