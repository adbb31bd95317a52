#pragma once

#include <cstdint>

#include "core/ICThread.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowInterfaces.h"

// The record that travels with a new-segment message (message 37).
struct ICSegmentRecord {
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
    double rate;
};

// What the stream messages of the transform filter and its output pin carry. The message owns
// it: the sample's reference (taken when the message is posted) and the segment record go with
// the message, handled, dropped by a flush or stop, or left in a queue that goes.
class ICSamplePayload final : public ICMsgPayload {
public:
    // Takes a reference on `sample`.
    explicit ICSamplePayload(IMediaSample* sample) : sample(sample) {}
    IMediaSample* GetSample() const { return sample.Get(); }

private:
    ComPtr<IMediaSample> sample;
};

class ICSegmentPayload final : public ICMsgPayload {
public:
    explicit ICSegmentPayload(const ICSegmentRecord& record) : record(record) {}
    const ICSegmentRecord& GetRecord() const { return record; }

private:
    ICSegmentRecord record;
};

// Posts message `id` {id, param1} carrying a reference on `sample` to `thread`: S_OK,
// E_OUTOFMEMORY, or E_FAIL when the thread has no queue.
HRESULT PostSampleMsg(ICThread* thread, uint32_t id, IMediaSample* sample, uintptr_t param1 = 0);
// Posts message `id` {id, 1} carrying a copy of `record`; results as PostSampleMsg.
HRESULT PostSegmentMsg(ICThread* thread, uint32_t id, const ICSegmentRecord& record);

// The sample a received message carries (null when it carries none), held by the message.
IMediaSample* SampleOf(const ICMsg* msg);
// The segment record a received message carries, or null.
const ICSegmentRecord* SegmentOf(const ICMsg* msg);
