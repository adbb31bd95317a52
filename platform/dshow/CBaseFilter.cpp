#include "platform/dshow/CBaseFilter.h"

#include <algorithm>
#include <new>

#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/CBasePin.h"
#include "platform/dshow/CEnumPins.h"

CBaseFilter::CBaseFilter(const char16_t* objectName, IUnknown* outer, CCritSec* lock,
                         REFCLSID clsid)
    : CUnknown(objectName, outer), m_clsid(clsid), m_pLock(lock) {}

CBaseFilter::CBaseFilter(const char16_t* objectName, IUnknown* outer, CCritSec* lock,
                         REFCLSID clsid, HRESULT*)
    : CBaseFilter(objectName, outer, lock, clsid) {}

CBaseFilter::~CBaseFilter() {
    if (m_pClock) {
        m_pClock->Release();
        m_pClock = nullptr;
    }
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist) {
        return GetInterface(static_cast<IBaseFilter*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseFilter::GetClassID(CLSID* classId) {
    if (!classId) {
        return E_POINTER;
    }
    *classId = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT result = S_OK;
    if (m_State != State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Inactive();
                if (FAILED(hr) && SUCCEEDED(result)) {
                    result = hr;
                }
            }
        }
    }
    m_State = State_Stopped;
    return result;
}

HRESULT CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (FAILED(hr)) {
                    return hr;
                }
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
    CAutoLock lock(m_pLock);
    m_tStart = start;
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (m_State != State_Running) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Run(start);
                if (FAILED(hr)) {
                    return hr;
                }
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) {
        return E_POINTER;
    }
    *state = m_State;
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    CAutoLock lock(m_pLock);
    if (clock) {
        clock->AddRef();
    }
    if (m_pClock) {
        m_pClock->Release();
    }
    m_pClock = clock;
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    *clock = m_pClock;
    if (m_pClock) {
        m_pClock->AddRef();
    }
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** enumerator) {
    return CEnumPins::Create(u"Pin enumerator", CFilterPinSource(this), enumerator);
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
        CBasePin* candidate = GetPin(i);
        if (!candidate) {
            break;
        }
        if (candidate->Name() == id) {
            *pin = candidate;
            candidate->AddRef();
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) {
        return E_POINTER;
    }
    const size_t length = std::min<size_t>(filterName.size(), MAX_FILTER_NAME - 1);
    std::copy_n(filterName.data(), length, info->achName);
    info->achName[length] = 0;
    info->pGraph = m_pGraph;
    if (m_pGraph) {
        m_pGraph->AddRef();
    }
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    CAutoLock lock(m_pLock);
    m_pGraph = graph;
    IMediaEventSink* sink = nullptr;
    if (graph &&
        SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
        sink->Release();  // the graph outlives its membership: no reference is kept
    } else {
        sink = nullptr;
    }
    m_pSink = sink;
    try {
        filterName = name ? name : u"";
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR* vendorInfo) {
    if (vendorInfo) {
        *vendorInfo = nullptr;
    }
    return E_NOTIMPL;
}

LONG CBaseFilter::GetPinVersion() {
    return m_PinVersion;
}

void CBaseFilter::IncrementPinVersion() {
    CAutoLock lock(m_pLock);
    ++m_PinVersion;
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& streamTime) {
    if (!m_pClock) {
        return VFW_E_NO_CLOCK;
    }
    REFERENCE_TIME now = 0;
    const HRESULT hr = m_pClock->GetTime(&now);
    if (FAILED(hr)) {
        return hr;
    }
    streamTime = now - m_tStart;
    return S_OK;
}

HRESULT CBaseFilter::NotifyEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = m_pSink;
    if (!sink) {
        return E_NOTIMPL;
    }
    if (eventCode == EC_COMPLETE) {
        param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    }
    return sink->Notify(eventCode, param1, param2);
}

HRESULT CBaseFilter::ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* mediaType) {
    if (!m_pGraph) {
        return E_NOINTERFACE;
    }
    ComPtr<IFilterGraph2> graph2;
    if (SUCCEEDED(m_pGraph->QueryInterface(IID_IFilterGraph2, graph2.GetVoidAddressOf()))) {
        return graph2->ReconnectEx(pin, mediaType);
    }
    return m_pGraph->Reconnect(pin);
}
