#pragma once

// A filter derived from ICTransformFilter that records, in order, the samples and state changes
// its worker (or Receive) handles, and can hold the first sample to let a test line up what
// queues behind it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/ICUiThread.h"
#include "streamfw/ICTransformFilter.h"
#include "streamfw/ICTransformInputPin.h"
#include "streamfw/ICTransformOutputPin.h"

namespace streamtest {

inline constexpr CLSID CLSID_RecordingTransform{
    0x3B0D9C47, 0x2E1A, 0x4C55, {0x9E, 0x61, 0x0A, 0x7B, 0x52, 0x8C, 0xD1, 0x02}};

// A filter on the framework that records, in order, what its worker (or Receive) handles.
class RecordingTransform final : public ICTransformFilter {
public:
    struct Options {
        bool worker = true;
        bool deliveryThread = true;
        LONG bufferCount = 50;
        LONG bufferSize = 188;
    };

    explicit RecordingTransform(const Options& options)
        : ICTransformFilter(u"Recording transform", nullptr, CLSID_RecordingTransform, nullptr) {
        workerEnabled = options.worker;
        ICTransformOutputPin* output = GetOutputPin();
        output->SetUseDeliveryThread(options.deliveryThread);
        output->SetBufferCount(options.bufferCount);
        output->SetBufferSize(options.bufferSize);
    }
    ~RecordingTransform() override { StopWorker(); }

    HRESULT ProcessSample(IMediaSample* sample) override {
        int32_t sequence = -1;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (sample->GetActualDataLength() >= 4) {
            std::memcpy(&sequence, data, sizeof(sequence));
        }
        {
            std::unique_lock lock(mutex);
            events.push_back(sequence);
            processThreads.push_back(ICGetCurrentThreadId());
            if (holdFirst && sequence == 0) {
                holding = true;
                changed.notify_all();
                changed.wait(lock, [this] { return !holdFirst; });
                holding = false;
            }
        }
        changed.notify_all();
        HRESULT hr = ICTransformFilter::ProcessSample(sample);
        lastResult = hr;
        return hr;
    }

    uint32_t OnStop() override {
        Record(kStopEvent);
        return 0;
    }
    uint32_t OnPause() override {
        Record(kPauseEvent);
        return 0;
    }
    uint32_t OnEndOfStream() override {
        Record(kEndOfStreamEvent);
        return 0;
    }

    void Record(int32_t event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        changed.notify_all();
    }
    std::vector<int32_t> Events() {
        std::lock_guard lock(mutex);
        return events;
    }
    std::vector<uint32_t> ProcessThreads() {
        std::lock_guard lock(mutex);
        return processThreads;
    }
    // Sample 0 waits in ProcessSample until Release().
    void HoldFirst() {
        std::lock_guard lock(mutex);
        holdFirst = true;
    }
    bool WaitHolding() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [this] { return holding; });
    }
    void ReleaseHold() {
        std::lock_guard lock(mutex);
        holdFirst = false;
        changed.notify_all();
    }

    static constexpr int32_t kStopEvent = -17;
    static constexpr int32_t kPauseEvent = -18;
    static constexpr int32_t kEndOfStreamEvent = -34;

    std::atomic<HRESULT> lastResult{S_OK};

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int32_t> events;
    std::vector<uint32_t> processThreads;
    bool holdFirst = false;
    bool holding = false;
};

}  // namespace streamtest
