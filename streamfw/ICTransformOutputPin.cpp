#include "streamfw/ICTransformOutputPin.h"

#include <new>

#include "core/ICErrors.h"
#include "streamfw/ICTransformFilter.h"

ICTransformOutputPin::ICTransformOutputPin(const char16_t* objectName, ICTransformFilter* filter,
                                           HRESULT* hr, LPCWSTR pinName)
    : CTransInPlaceOutputPin(objectName, filter, hr, pinName), transformFilter(filter) {
    SetName("ICTransformOutputPin");
}

ICTransformOutputPin::~ICTransformOutputPin() {
    {
        std::lock_guard lock(deliveryMutex);
        threadExists.store(false, std::memory_order_release);
    }
    ICThread::Stop(0, 0);
    DrainQueue(false);
    if (packetAllocator != nullptr) {
        // A pin that goes while still connected must not leave its allocator committed (the
        // commit's own reference would keep it for ever).
        packetAllocator->Decommit();
        packetAllocator->Release();
        packetAllocator = nullptr;
    }
}

// --- allocator

HRESULT ICTransformOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
    if (pin == nullptr || allocator == nullptr) {
        return E_POINTER;
    }
    *allocator = nullptr;
    ALLOCATOR_PROPERTIES request{};
    pin->GetAllocatorRequirements(&request);  // the input pin may have none
    if (request.cbAlign == 0) {
        request.cbAlign = 1;
    }
    HRESULT hr = InitAllocator(allocator);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*allocator, &request);
    }
    if (SUCCEEDED(hr)) {
        hr = pin->NotifyAllocator(*allocator, FALSE);
    }
    if (FAILED(hr)) {
        if (*allocator != nullptr) {
            (*allocator)->Release();
            *allocator = nullptr;
        }
        if (packetAllocator != nullptr) {
            packetAllocator->Release();
            packetAllocator = nullptr;
        }
    }
    return hr;
}

HRESULT ICTransformOutputPin::InitAllocator(IMemAllocator** allocator) {
    if (allocator == nullptr) {
        return E_POINTER;
    }
    auto* created = new (std::nothrow)
        ICMemAllocator("Allocator", static_cast<IPin*>(this), tag, bufferSize, bufferCount);
    if (created == nullptr) {
        *allocator = nullptr;
        return E_OUTOFMEMORY;
    }
    // One reference for the caller (the creation's), one for the pin's packets.
    created->AddRef();
    if (packetAllocator != nullptr) {
        packetAllocator->Release();
    }
    packetAllocator = created;
    *allocator = created;
    return S_OK;
}

HRESULT ICTransformOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                               ALLOCATOR_PROPERTIES* request) {
    if (allocator == nullptr) {
        return E_POINTER;
    }
    ALLOCATOR_PROPERTIES wanted{bufferCount, bufferSize, alignment, 0};
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(&wanted, &actual);
}

HRESULT ICTransformOutputPin::BreakConnect() {
    HRESULT hr = CTransInPlaceOutputPin::BreakConnect();
    if (packetAllocator != nullptr) {
        packetAllocator->Decommit();
        packetAllocator->Release();
        packetAllocator = nullptr;
    }
    return hr;
}

// --- delivery

HRESULT ICTransformOutputPin::Deliver(IMediaSample* sample) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    {
        std::lock_guard lock(deliveryMutex);
        if (deactivating.load(std::memory_order_acquire)) {
            return S_FALSE;
        }
        if (threadExists.load(std::memory_order_acquire)) {
            return PostSampleMsg(this, kMsgDeliver, sample,
                                 flushGeneration.load(std::memory_order_acquire));
        }
    }
    return CTransInPlaceOutputPin::Deliver(sample);
}

HRESULT ICTransformOutputPin::DeliverEndOfStream() {
    if (HasDeliveryThread()) {
        // Tagged with the flush count, so that a flush that overtakes it cancels it.
        return PostMsg(kMsgEndOfStream, flushGeneration.load(std::memory_order_acquire)) == kICOk
                   ? S_OK
                   : E_FAIL;
    }
    IPin* connected = GetConnected();
    if (connected == nullptr) {
        return VFW_E_NOT_CONNECTED;
    }
    return connected->EndOfStream();
}

HRESULT ICTransformOutputPin::DeliverBeginFlush() {
    flushing.store(true, std::memory_order_release);
    flushGeneration.fetch_add(1, std::memory_order_acq_rel);
    if (HasDeliveryThread()) {
        DrainQueue(true);
    }
    // A GetPacket waiting for a packet gives up now rather than after its wait.
    if (packetAllocator != nullptr) {
        packetAllocator->CancelWaits();
    }
    IPin* connected = GetConnected();
    if (connected == nullptr) {
        return VFW_E_NOT_CONNECTED;
    }
    return connected->BeginFlush();
}

HRESULT ICTransformOutputPin::DeliverEndFlush() {
    HRESULT hr = CTransInPlaceOutputPin::DeliverEndFlush();
    // A flush ends the end of the stream: what comes after it (a seek back from the end of a
    // file) goes downstream again.
    endOfStreamSent.store(false, std::memory_order_release);
    flushing.store(false, std::memory_order_release);
    return hr;
}

HRESULT ICTransformOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                                double rate) {
    if (HasDeliveryThread()) {
        return PostSegmentMsg(this, kMsgNewSegment, {start, stop, rate});
    }
    return CTransInPlaceOutputPin::DeliverNewSegment(start, stop, rate);
}

// --- state

HRESULT ICTransformOutputPin::Active() {
    endOfStreamSent.store(false, std::memory_order_release);
    deactivating.store(false, std::memory_order_release);
    if (useDeliveryThread.load(std::memory_order_acquire) && !HasDeliveryThread()) {
        StartThread();
    }
    HRESULT hr = CTransInPlaceOutputPin::Active();
    // The packets come from this pin's allocator, whichever one the platform pin holds.
    if (SUCCEEDED(hr) && packetAllocator != nullptr && packetAllocator != m_pAllocator) {
        hr = packetAllocator->Commit();
    }
    return hr;
}

HRESULT ICTransformOutputPin::Run(REFERENCE_TIME start) {
    retryWhenOutOfPackets.store(false, std::memory_order_release);
    HRESULT hr = CTransInPlaceOutputPin::Run(start);
    if (FAILED(hr)) {
        return hr;
    }
    if (!HasDeliveryThread()) {
        return kNoDeliveryThread;
    }
    if (resumeOnRun) {
        Resume(true);
    }
    return S_OK;
}

HRESULT ICTransformOutputPin::Inactive() {
    HRESULT hr = CTransInPlaceOutputPin::Inactive();  // decommits the allocator
    if (SUCCEEDED(hr) && packetAllocator != nullptr && packetAllocator != m_pAllocator) {
        hr = packetAllocator->Decommit();
    }
    flushing.store(false, std::memory_order_release);
    if (FAILED(hr)) {
        return hr;
    }
    {
        std::lock_guard lock(deliveryMutex);
        deactivating.store(true, std::memory_order_release);
    }
    if (packetAllocator != nullptr) {
        packetAllocator->CancelWaits();
    }
    if (HasDeliveryThread()) {
        {
            std::lock_guard lock(deliveryMutex);
            threadExists.store(false, std::memory_order_release);
        }
        ICThread::Stop(0, 0);
        // Everything still queued belongs to the stream that ends here.
        DrainQueue(false);
    }
    if (packetAllocator != nullptr) {
        // Packets added beyond the configured count go.
        LONG extra = packetAllocator->GetBufferCount() - bufferCount;
        if (extra > 0) {
            packetAllocator->RemoveBuffers(extra);
        }
    }
    deactivating.store(false, std::memory_order_release);
    return S_OK;
}

void ICTransformOutputPin::StartThread() {
    if (!IsRunning()) {
        Start();
    }
    std::lock_guard lock(deliveryMutex);
    threadExists.store(true, std::memory_order_release);
}

uint32_t ICTransformOutputPin::OnDeliver(ICMsg* msg) {
    // The message holds the sample's reference; it goes with the message.
    IMediaSample* sample = SampleOf(msg);
    if (sample == nullptr) {
        return 0;
    }
    HRESULT hr = S_FALSE;
    if (!flushing.load(std::memory_order_acquire) &&
        !endOfStreamSent.load(std::memory_order_acquire) &&
        !deactivating.load(std::memory_order_acquire) &&
        msg->param1 == flushGeneration.load(std::memory_order_acquire)) {
        hr = CTransInPlaceOutputPin::Deliver(sample);
    }
    return static_cast<uint32_t>(hr);
}

uint32_t ICTransformOutputPin::OnEndOfStream() {
    endOfStreamSent.store(true, std::memory_order_release);
    IPin* connected = GetConnected();
    return static_cast<uint32_t>(connected != nullptr ? connected->EndOfStream()
                                                      : VFW_E_NOT_CONNECTED);
}

ICPacket* ICTransformOutputPin::GetPacket(HRESULT* status) {
    if (packetAllocator == nullptr) {
        if (status != nullptr) {
            *status = E_FAIL;
        }
        return nullptr;
    }
    IMediaSample* sample = nullptr;
    HRESULT hr;
    for (;;) {
        hr = packetAllocator->GetBuffer(&sample, nullptr, nullptr, 0);
        if (hr != VFW_E_TIMEOUT) {
            break;
        }
        // Out of packets for 2000 ms: downstream holds them. Keep waiting only while it may
        // give them back (paused after running) and nothing is ending the stream.
        if (!retryWhenOutOfPackets.load(std::memory_order_acquire) ||
            flushing.load(std::memory_order_acquire) ||
            deactivating.load(std::memory_order_acquire) || transformFilter->IsStopping()) {
            break;
        }
    }
    if (status != nullptr) {
        *status = hr;
    }
    if (FAILED(hr) || sample == nullptr) {
        return nullptr;
    }
    return static_cast<ICPacket*>(static_cast<IMediaSample2*>(sample));
}

void ICTransformOutputPin::AllowRetry() {
    retryWhenOutOfPackets.store(true, std::memory_order_release);
}

bool ICTransformOutputPin::GetUseDeliveryThread() {
    return useDeliveryThread.load(std::memory_order_acquire);
}

void ICTransformOutputPin::SetUseDeliveryThread(bool use) {
    useDeliveryThread.store(use, std::memory_order_release);
}

// --- the delivery thread's handlers

uint32_t ICTransformOutputPin::OnQuit() {
    stopRequested.store(true);
    return 0;
}

uint32_t ICTransformOutputPin::OnPause() {
    return 0;
}

uint32_t ICTransformOutputPin::OnBeginFlush() {
    IPin* connected = GetConnected();
    return static_cast<uint32_t>(connected != nullptr ? connected->BeginFlush()
                                                      : VFW_E_NOT_CONNECTED);
}

uint32_t ICTransformOutputPin::OnEndFlush() {
    return static_cast<uint32_t>(CTransInPlaceOutputPin::DeliverEndFlush());
}

uint32_t ICTransformOutputPin::OnNewSegment(ICMsg* msg) {
    const ICSegmentRecord* record = SegmentOf(msg);
    if (record == nullptr) {
        return 0;
    }
    return static_cast<uint32_t>(
        CTransInPlaceOutputPin::DeliverNewSegment(record->start, record->stop, record->rate));
}

uint32_t ICTransformOutputPin::OnUserMessage(ICMsg*) {
    return 0;
}

uint32_t ICTransformOutputPin::OnMessage(ICMsg* msg) {
    if (msg == nullptr) {
        return 0;
    }
    switch (msg->id) {
        case kMsgQuit:
            return OnQuit();
        case kMsgPause:
            return OnPause();
        case kMsgDeliver:
            return OnDeliver(msg);
        case kMsgEndOfStream:
            // An end of stream queued before a flush ended with the flush.
            if (msg->param1 != flushGeneration.load(std::memory_order_acquire)) {
                return 0;
            }
            return OnEndOfStream();
        case kMsgBeginFlush:
            return OnBeginFlush();
        case kMsgEndFlush:
            return OnEndFlush();
        case kMsgNewSegment:
            return OnNewSegment(msg);
        default:
            return OnUserMessage(msg);
    }
}

void ICTransformOutputPin::DrainQueue(bool samplesOnly) {
    if (!samplesOnly) {
        ClearMsgs();
        return;
    }
    // Each delivery message's sample reference goes with it.
    ICMsg msg{};
    while (GetMsg(&msg, kMsgDeliver, false) == kICOk) {
        ICMsgQueue::DiscardMsg(&msg);
    }
}
