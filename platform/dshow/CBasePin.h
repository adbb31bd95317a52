#pragma once

#include <atomic>
#include <string>

#include "platform/com/CUnknown.h"
#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CCritSec.h"
#include "platform/dshow/CMediaType.h"

// The base of every pin: connection with media-type negotiation, and the stream calls.
//
// A pin's references are its filter's (AddRef and Release go to the filter), so a pin lives as
// long as its filter. Connecting: the output pin's Connect agrees a type with the input pin
// (the given complete type only, or else the input pin's preferred types, then its own, or the
// other way round when m_bTryMyTypesFirst), checking each with CheckConnect and CheckMediaType
// on both sides before ReceiveConnection and CompleteConnect. Connections change only while
// the filter is stopped (unless the pin allows reconnection while active).
class CBasePin : public CUnknown, public IPin {
public:
    CBasePin(const char16_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr,
             LPCWSTR pinName, PIN_DIRECTION direction);
    ~CBasePin() override;
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // IPin
    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mediaType) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mediaType) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT QueryId(LPWSTR* id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* mediaType) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT EndOfStream() override;
    // Flushing is the derived classes' business.
    HRESULT BeginFlush() override = 0;
    HRESULT EndFlush() override = 0;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // Negotiation hooks.
    virtual HRESULT CheckMediaType(const CMediaType* mediaType) = 0;
    virtual HRESULT SetMediaType(const CMediaType* mediaType);
    virtual HRESULT CheckConnect(IPin* pin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* receivePin);
    // The pin's preferred types by position: S_OK, VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaType(int position, CMediaType* mediaType);
    virtual LONG GetMediaTypeVersion();
    void IncrementTypeVersion();

    // State hooks called by the filter.
    virtual HRESULT Active();
    virtual HRESULT Inactive();
    virtual HRESULT Run(REFERENCE_TIME start);

    virtual HRESULT AttemptConnection(IPin* receivePin, const CMediaType* mediaType);
    virtual HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* partial,
                                  IEnumMediaTypes* enumerator);
    virtual HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* mediaType);
    virtual HRESULT DisconnectInternal();

    bool IsConnected() const { return m_Connected != nullptr; }
    bool IsStopped() const { return m_pFilter->IsStopped(); }
    // The connected pin, without a new reference.
    IPin* GetConnected() const { return m_Connected; }
    CMediaType& CurrentMediaType() { return m_mt; }
    const std::u16string& Name() const { return pinName; }
    CBaseFilter* Filter() const { return m_pFilter; }
    bool CanReconnectWhenActive() const { return m_bCanReconnectWhenActive; }
    void SetReconnectWhenActive(bool canReconnect) { m_bCanReconnectWhenActive = canReconnect; }

    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    double CurrentRate() const { return m_dRate; }

protected:
    IPin* m_Connected = nullptr;  // one reference while connected
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;
    std::atomic<bool> m_bRunTimeError{false};
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    CBaseFilter* m_pFilter;
    std::atomic<LONG> m_TypeVersion{1};
    CMediaType m_mt;
    // The last segment, as NewSegment gave it.
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = kMaxReferenceTime;
    double m_dRate = 1.0;

private:
    std::u16string pinName;
};
