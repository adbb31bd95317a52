#pragma once

#include "platform/dshow/CBasePin.h"

// An input pin that receives samples through IMemInputPin.
//
// Receive checks that the pin is streaming (VFW_E_WRONG_STATE while stopped, S_FALSE while
// flushing, VFW_E_RUNTIME_ERROR after a run-time error) and keeps the sample's properties
// (SampleProps) for the derived class; a sample that changes to a type the pin refuses ends the
// stream with EC_ERRORABORT.
class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const char16_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr,
                  LPCWSTR pinName);
    ~CBaseInputPin() override;
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // IMemInputPin
    HRESULT GetAllocator(IMemAllocator** allocator) override;
    HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
    HRESULT ReceiveCanBlock() override;

    // IPin
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    HRESULT BreakConnect() override;
    HRESULT Inactive() override;

    // S_OK when samples may be received now.
    virtual HRESULT CheckStreaming();

    bool IsReadOnly() const { return m_bReadOnly; }
    bool IsFlushing() const { return m_bFlushing; }
    AM_SAMPLE2_PROPERTIES* SampleProps() { return &m_SampleProps; }
    // The allocator agreed for the connection, without a new reference.
    IMemAllocator* Allocator() const { return m_pAllocator; }

protected:
    IMemAllocator* m_pAllocator = nullptr;  // referenced
    bool m_bReadOnly = false;
    std::atomic<bool> m_bFlushing{false};
    // The properties of the sample being received (valid during Receive).
    AM_SAMPLE2_PROPERTIES m_SampleProps{};

private:
    AM_MEDIA_TYPE* receivedType = nullptr;  // the type copied from a sample without properties
};
