#pragma once

#include "platform/dshow/CBasePin.h"

// An output pin that delivers samples to a connected IMemInputPin.
//
// On connection it agrees an allocator with the input pin (DecideAllocator: the input pin's
// allocator if it will take this pin's buffer sizes, otherwise one of its own), which the pin
// commits when it becomes active and decommits when it becomes inactive.
class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const char16_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr,
                   LPCWSTR pinName);
    ~CBaseOutputPin() override;

    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Output pins receive no stream calls.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
    virtual HRESULT InitAllocator(IMemAllocator** allocator);
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                      REFERENCE_TIME* stop, DWORD flags);

    // Pass samples and stream calls to the connected pin (VFW_E_NOT_CONNECTED without one).
    virtual HRESULT Deliver(IMediaSample* sample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    // The agreed allocator and the connected input pin, without new references.
    IMemAllocator* Allocator() const { return m_pAllocator; }
    IMemInputPin* ConnectedInputPin() const { return m_pInputPin; }

protected:
    IMemAllocator* m_pAllocator = nullptr;  // referenced
    IMemInputPin* m_pInputPin = nullptr;    // referenced while connected
};
