#include "streamfw/ICStreamPayload.h"

#include <memory>
#include <new>
#include <utility>

#include "core/ICErrors.h"

namespace {

HRESULT PostPayload(ICThread* thread, uint32_t id, ICMsgPayload* payload, uintptr_t param1) {
    std::unique_ptr<ICMsgPayload> owned(payload);
    if (!owned) {
        return E_OUTOFMEMORY;
    }
    try {
        return thread->PostPayloadMsg(id, std::move(owned), param1) == kICOk ? S_OK : E_FAIL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

HRESULT PostSampleMsg(ICThread* thread, uint32_t id, IMediaSample* sample, uintptr_t param1) {
    return PostPayload(thread, id, new (std::nothrow) ICSamplePayload(sample), param1);
}

HRESULT PostSegmentMsg(ICThread* thread, uint32_t id, const ICSegmentRecord& record) {
    return PostPayload(thread, id, new (std::nothrow) ICSegmentPayload(record), 1);
}

IMediaSample* SampleOf(const ICMsg* msg) {
    const auto* payload =
        msg != nullptr ? dynamic_cast<const ICSamplePayload*>(msg->payload.get()) : nullptr;
    return payload != nullptr ? payload->GetSample() : nullptr;
}

const ICSegmentRecord* SegmentOf(const ICMsg* msg) {
    const auto* payload =
        msg != nullptr ? dynamic_cast<const ICSegmentPayload*>(msg->payload.get()) : nullptr;
    return payload != nullptr ? &payload->GetRecord() : nullptr;
}
