#pragma once

#include <atomic>
#include <mutex>

#include "core/ICThread.h"
#include "platform/dshow/CTransInPlaceFilter.h"
#include "streamfw/ICMemAllocator.h"
#include "streamfw/ICStreamPayload.h"

class ICTransformFilter;

// The output pin of ICTransformFilter. It always hands its own ICMemAllocator to the
// downstream input pin, and when its delivery thread is enabled it is also a worker thread:
// samples handed to Deliver are queued and passed downstream from that thread, so a slow
// downstream filter never holds up the module's processing.
//
// Flushing drains the queue before the flush goes downstream, and every sample queued before a
// flush is dropped, so none of them arrives after it. The delivery thread starts when the pin
// becomes active and is stopped (its queue emptied) when it becomes inactive.
//
// The concrete filters set the buffer size, count and tag before the pins connect.
class ICTransformOutputPin : public CTransInPlaceOutputPin, public ICThread {
public:
    // Messages of the delivery thread.
    static constexpr uint32_t kMsgQuit = 1;
    static constexpr uint32_t kMsgPause = 18;
    static constexpr uint32_t kMsgDeliver = 32;
    static constexpr uint32_t kMsgEndOfStream = 34;
    static constexpr uint32_t kMsgBeginFlush = 35;
    static constexpr uint32_t kMsgEndFlush = 36;
    static constexpr uint32_t kMsgNewSegment = 37;

    static constexpr LONG kDefaultBufferSize = 188;
    static constexpr LONG kDefaultBufferCount = 50;
    static constexpr LONG kDefaultAlignment = 16;
    // What Run answers for a connected pin without its delivery thread.
    static constexpr HRESULT kNoDeliveryThread = MakeHResult(0xFFFFFFFF);

    ICTransformOutputPin(const char16_t* objectName, ICTransformFilter* filter, HRESULT* hr,
                         LPCWSTR pinName);
    ~ICTransformOutputPin() override;

    // The thread's message loop keeps its name beside the pin's Run (start).
    using ICThread::Run;

    // --- allocator
    // Asks the input pin for its requirements, makes this pin's allocator, sizes it and
    // notifies the input pin; on any failure the allocator is let go.
    HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;
    // An ICMemAllocator named "Allocator" with this pin's tag, buffer size and count.
    HRESULT InitAllocator(IMemAllocator** allocator) override;
    // The pin's own numbers, whatever was asked for.
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT BreakConnect() override;

    // --- delivery
    // With the delivery thread the sample is queued (with a reference); otherwise delivered
    // at once. While the pin goes inactive nothing is taken (S_FALSE).
    HRESULT Deliver(IMediaSample* sample) override;
    HRESULT DeliverEndOfStream() override;
    HRESULT DeliverBeginFlush() override;
    HRESULT DeliverEndFlush() override;
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // --- state
    HRESULT Active() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT Inactive() override;

    // Creates the delivery thread if needed and resumes it.
    virtual void StartThread();
    virtual uint32_t OnDeliver(ICMsg* msg);
    virtual uint32_t OnEndOfStream();
    // An empty packet of the pin's allocator (count 1, the caller's), or null with the reason
    // in `status`. An exhausted allocator fails with VFW_E_TIMEOUT after 2000 ms, unless
    // retrying is allowed (a pause after running: downstream holds its samples) and no flush
    // or stop has begun.
    virtual ICPacket* GetPacket(HRESULT* status = nullptr);
    virtual void AllowRetry();
    virtual bool GetUseDeliveryThread();
    virtual void SetUseDeliveryThread(bool use);
    virtual uint32_t OnQuit();
    virtual uint32_t OnPause();
    virtual uint32_t OnBeginFlush();
    virtual uint32_t OnEndFlush();
    virtual uint32_t OnNewSegment(ICMsg* msg);
    virtual uint32_t OnUserMessage(ICMsg* msg);

    uint32_t OnMessage(ICMsg* msg) override;

    // The delivery thread exists (between Active and Inactive).
    bool HasDeliveryThread() const { return threadExists.load(std::memory_order_acquire); }
    ICMemAllocator* GetPacketAllocator() const { return packetAllocator; }
    bool IsFlushing() const { return flushing.load(std::memory_order_acquire); }
    bool IsEndOfStreamSent() const { return endOfStreamSent.load(std::memory_order_acquire); }
    bool IsRetryAllowed() const { return retryWhenOutOfPackets.load(std::memory_order_acquire); }

    DWORD GetTag() const { return tag; }
    void SetTag(DWORD value) { tag = value; }
    LONG GetBufferSize() const { return bufferSize; }
    void SetBufferSize(LONG size) { bufferSize = size; }
    LONG GetAlignment() const { return alignment; }
    void SetAlignment(LONG value) { alignment = value; }
    LONG GetBufferCount() const { return bufferCount; }
    void SetBufferCount(LONG count) { bufferCount = count; }
    bool GetResumeOnRun() const { return resumeOnRun; }
    void SetResumeOnRun(bool resume) { resumeOnRun = resume; }

protected:
    // Empties the queue (only its delivery messages with `samplesOnly`); every message goes
    // with what it carries.
    void DrainQueue(bool samplesOnly);

    ICTransformFilter* transformFilter;
    ICMemAllocator* packetAllocator = nullptr;  // referenced
    DWORD tag = 0;
    LONG bufferSize = kDefaultBufferSize;
    LONG alignment = kDefaultAlignment;
    LONG bufferCount = kDefaultBufferCount;
    std::atomic<bool> flushing{false};
    std::atomic<bool> endOfStreamSent{false};
    std::atomic<bool> retryWhenOutOfPackets{false};
    std::atomic<bool> deactivating{false};
    bool resumeOnRun = false;
    std::atomic<bool> useDeliveryThread{false};

private:
    // Serialises queueing against the thread's going away, so that nothing is queued after
    // the queue was emptied.
    std::mutex deliveryMutex;
    std::atomic<bool> threadExists{false};
    // Counts the flushes; a queued sample remembers the count it was queued under and is
    // dropped if a flush began since.
    std::atomic<uintptr_t> flushGeneration{0};
};
