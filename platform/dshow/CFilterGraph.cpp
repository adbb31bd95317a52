#include "platform/dshow/CFilterGraph.h"

#include <algorithm>
#include <cstdio>

#include "platform/com/CEnumList.h"
#include "platform/dshow/CFilterGraphPins.h"

// The graph's construction, its interfaces and its membership. The other concerns live beside
// this file: building (CFilterGraphBuild.cpp), state and clock (CFilterGraphState.cpp),
// events (CFilterGraphEvents.cpp), seeking and position (CFilterGraphSeeking.cpp) and the
// renderers' properties (CFilterGraphRenderers.cpp).

namespace filtergraph {

ComPtr<IBaseFilter> FilterOfPin(IPin* pin) {
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info))) {
        return {};
    }
    return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

bool IsDirection(IPin* pin, PIN_DIRECTION wanted) {
    PIN_DIRECTION direction;
    return pin && SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted;
}

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> enumerator;
    if (!filter || FAILED(filter->EnumPins(enumerator.GetAddressOf())) || !enumerator) {
        return pins;
    }
    for (;;) {
        IPin* pin = nullptr;
        ULONG fetched = 0;
        if (enumerator->Next(1, &pin, &fetched) != S_OK || fetched != 1 || !pin) {
            break;
        }
        pins.push_back(ComPtr<IPin>::Attach(pin));
    }
    return pins;
}

ComPtr<IPin> ConnectedPin(IPin* pin) {
    ComPtr<IPin> peer;
    if (pin) {
        pin->ConnectedTo(peer.GetAddressOf());
    }
    return peer;
}

}  // namespace filtergraph

using namespace filtergraph;

namespace {

using CEnumFilters = CEnumList<IEnumFilters, CReferenceSnapshot<IBaseFilter>>;

}  // namespace

CFilterGraph::CFilterGraph(const char16_t* objectName, IUnknown* outer, HRESULT*)
    : CUnknown(objectName, outer) {}

CFilterGraph::~CFilterGraph() {
    CAutoLock lock(&graphLock);
    StopFilters();
    state = State_Stopped;
    for (FilterEntry& entry : filters) {
        DisconnectFilter(entry.filter.Get());
    }
    for (FilterEntry& entry : filters) {
        entry.filter->SetSyncSource(nullptr);
        entry.filter->JoinFilterGraph(nullptr, nullptr);
    }
    filters.clear();
    clock.Reset();
}

CUnknown* CFilterGraph::CreateInstance(IUnknown* outer, HRESULT* hr) {
    return new CFilterGraph(u"Filter graph", outer, hr);
}

HRESULT CFilterGraph::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IFilterGraph || iid == IID_IGraphBuilder || iid == IID_IFilterGraph2) {
        return GetInterface(static_cast<IFilterGraph2*>(this), object);
    }
    if (iid == IID_IMediaControl) {
        return GetInterface(static_cast<IMediaControl*>(this), object);
    }
    if (iid == IID_IMediaEvent || iid == IID_IMediaEventEx) {
        return GetInterface(static_cast<IMediaEventEx*>(this), object);
    }
    if (iid == IID_IMediaEventSink) {
        return GetInterface(static_cast<IMediaEventSink*>(this), object);
    }
    if (iid == IID_IMediaEventNotify) {
        return GetInterface(static_cast<IMediaEventNotify*>(this), object);
    }
    if (iid == IID_IMediaFilter || iid == IID_IPersist) {
        return GetInterface(static_cast<IMediaFilter*>(this), object);
    }
    if (iid == IID_IMediaSeeking) {
        return GetInterface(static_cast<IMediaSeeking*>(this), object);
    }
    if (iid == IID_IMediaPosition) {
        return GetInterface(static_cast<IMediaPosition*>(this), object);
    }
    if (iid == IID_IBasicAudio) {
        return GetInterface(static_cast<IBasicAudio*>(this), object);
    }
    if (iid == IID_IBasicVideo || iid == IID_IBasicVideo2) {
        return GetInterface(static_cast<IBasicVideo2*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

// --- membership

bool CFilterGraph::Contains(IBaseFilter* filter) {
    return std::any_of(filters.begin(), filters.end(),
                       [filter](const FilterEntry& entry) { return entry.filter.Get() == filter; });
}

bool CFilterGraph::ContainsPinFilter(IPin* pin) {
    ComPtr<IBaseFilter> owner = FilterOfPin(pin);
    return owner && Contains(owner.Get());
}

std::u16string CFilterGraph::UniqueName(std::u16string_view wanted, bool* renamed) {
    auto taken = [this](const std::u16string& name) {
        return std::any_of(filters.begin(), filters.end(),
                           [&name](const FilterEntry& entry) { return entry.name == name; });
    };
    std::u16string name(wanted.substr(0, MAX_FILTER_NAME - 6));
    *renamed = false;
    if (!taken(name)) {
        return name;
    }
    *renamed = true;
    for (int suffix = 1; suffix < 10000; ++suffix) {
        char digits[8];
        std::snprintf(digits, sizeof(digits), " %04d", suffix);
        std::u16string candidate = name;
        for (const char* c = digits; *c; ++c) {
            candidate.push_back(static_cast<char16_t>(*c));
        }
        if (!taken(candidate)) {
            return candidate;
        }
    }
    return name;
}

HRESULT CFilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
    if (!filter) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    if (Contains(filter)) {
        return E_INVALIDARG;
    }
    try {
        bool renamed = false;
        const std::u16string unique = UniqueName(name ? name : u"Filter", &renamed);
        const HRESULT hr = filter->JoinFilterGraph(AsFilterGraph(), unique.c_str());
        if (FAILED(hr)) {
            return hr;
        }
        if (clock) {
            filter->SetSyncSource(clock.Get());
        }
        filters.push_back({ComPtr<IBaseFilter>(filter), unique});
        return renamed ? VFW_S_DUPLICATE_NAME : S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void CFilterGraph::DisconnectFilter(IBaseFilter* filter) {
    for (ComPtr<IPin>& pin : PinsOf(filter)) {
        ComPtr<IPin> peer = ConnectedPin(pin.Get());
        if (peer) {
            peer->Disconnect();
            pin->Disconnect();
        }
    }
}

HRESULT CFilterGraph::RemoveFilter(IBaseFilter* filter) {
    if (!filter) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    auto found = std::find_if(filters.begin(), filters.end(), [filter](const FilterEntry& entry) {
        return entry.filter.Get() == filter;
    });
    if (found == filters.end()) {
        return VFW_E_NOT_FOUND;
    }
    if (state != State_Stopped) {
        return VFW_E_NOT_STOPPED;
    }
    ComPtr<IBaseFilter> removed = found->filter;  // keeps it alive until it is detached
    filters.erase(found);
    DisconnectFilter(removed.Get());
    removed->SetSyncSource(nullptr);
    removed->JoinFilterGraph(nullptr, nullptr);
    // The graph's clock may have been this filter.
    ComPtr<IReferenceClock> ownClock;
    if (clock && SUCCEEDED(removed.As(&ownClock)) && ownClock.Get() == clock.Get()) {
        clock.Reset();
        for (FilterEntry& entry : filters) {
            entry.filter->SetSyncSource(nullptr);
        }
    }
    {
        std::lock_guard<std::mutex> completionLock(completionMutex);
        std::erase(renderers, removed.Get());
        std::erase(completed, removed.Get());
    }
    return S_OK;
}

HRESULT CFilterGraph::EnumFilters(IEnumFilters** enumerator) {
    if (!enumerator) {
        return E_POINTER;
    }
    *enumerator = nullptr;
    CAutoLock lock(&graphLock);
    try {
        std::vector<ComPtr<IBaseFilter>> list;
        for (const FilterEntry& entry : filters) {
            list.push_back(entry.filter);
        }
        return CEnumFilters::Create(u"Filter enumerator", CEnumFilters::ItemSource(std::move(list)),
                                    enumerator);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CFilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
    if (!name || !filter) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    for (const FilterEntry& entry : filters) {
        if (entry.name == name) {
            *filter = entry.filter.Get();
            (*filter)->AddRef();
            return S_OK;
        }
    }
    *filter = nullptr;
    return VFW_E_NOT_FOUND;
}
