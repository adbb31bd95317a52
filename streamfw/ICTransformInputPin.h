#pragma once

#include <atomic>

#include "platform/dshow/CTransInPlaceFilter.h"

class ICTransformFilter;

// The input pin of ICTransformFilter. Unlike the platform's in-place input pin it keeps its
// own allocator with the upstream pin (an ICMemAllocator when upstream has none of its own):
// the output pin always delivers in packets of its own allocator, so nothing is passed
// through.
class ICTransformInputPin : public CTransInPlaceInputPin {
public:
    ICTransformInputPin(const char16_t* objectName, ICTransformFilter* filter, HRESULT* hr,
                        LPCWSTR pinName);

    HRESULT Active() override;
    HRESULT Inactive() override;
    // As the platform's, but a missing downstream connection is no reason to refuse.
    HRESULT CheckStreaming() override;
    // The platform input pin's flush first, then the filter's (under the filter lock).
    HRESULT BeginFlush() override;
    // The filter's end of the flush first, then the platform input pin's.
    HRESULT EndFlush() override;
    // S_FALSE (never blocks) when the filter's worker exists: Receive then only queues.
    HRESULT ReceiveCanBlock() override;

    HRESULT GetAllocator(IMemAllocator** allocator) override;
    HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;

    bool IsActive() const { return active.load(std::memory_order_acquire); }

protected:
    ICTransformFilter* transformFilter;
    std::atomic<bool> active{false};
};
