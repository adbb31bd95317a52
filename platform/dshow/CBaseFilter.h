#pragma once

#include <atomic>
#include <string>

#include "platform/com/CUnknown.h"
#include "platform/dshow/CCritSec.h"
#include "platform/dshow/DShowInterfaces.h"

class CBasePin;

// The base of every filter: state, clock, graph membership and pin enumeration.
//
// State changes follow the published rules: Pause from stopped activates every connected pin
// (Active), Stop deactivates them (Inactive), Run passes the start time to every connected pin.
// The filter's lock (given by the derived class) guards state changes; streaming threads never
// take it. The state and start time are atomic so that streaming threads may read them.
class CBaseFilter : public CUnknown, public IBaseFilter {
public:
    CBaseFilter(const char16_t* objectName, IUnknown* outer, CCritSec* lock, REFCLSID clsid);
    CBaseFilter(const char16_t* objectName, IUnknown* outer, CCritSec* lock, REFCLSID clsid,
                HRESULT* hr);
    ~CBaseFilter() override;
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // IPersist
    HRESULT GetClassID(CLSID* classId) override;

    // IMediaFilter
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;

    // IBaseFilter
    HRESULT EnumPins(IEnumPins** enumerator) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT QueryVendorInfo(LPWSTR* vendorInfo) override;

    // The pins, counted and found by index; a pin owned by the filter lives as long as it.
    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int index) = 0;
    // Changes whenever the pin set changes (enumerators notice it).
    virtual LONG GetPinVersion();
    void IncrementPinVersion();

    // The current stream time: clock time minus the start time given at Run.
    virtual HRESULT StreamTime(REFERENCE_TIME& streamTime);

    bool IsActive() const { return m_State != State_Stopped; }
    bool IsStopped() const { return m_State == State_Stopped; }

    // Sends an event to the graph (EC_COMPLETE carries the filter as its second parameter).
    // E_NOTIMPL outside a graph.
    HRESULT NotifyEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2);
    // Asks the graph to reconnect a pin of this filter (with a type, when the graph can).
    HRESULT ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* mediaType);

    IFilterGraph* GetFilterGraph() const { return m_pGraph; }
    const std::u16string& FilterName() const { return filterName; }
    CCritSec* FilterLock() const { return m_pLock; }

protected:
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    // Changed only while the graph is stopped (the graph manager makes sure of it).
    IReferenceClock* m_pClock = nullptr;
    std::atomic<REFERENCE_TIME> m_tStart{0};
    CLSID m_clsid;
    CCritSec* m_pLock;
    IFilterGraph* m_pGraph = nullptr;                // not referenced: the graph holds the filter
    std::atomic<IMediaEventSink*> m_pSink{nullptr};  // not referenced either
    LONG m_PinVersion = 1;

private:
    std::u16string filterName;
};
