#include "platform/dshow/CFilterGraph.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <new>

#include "platform/com/ComRuntime.h"
#include "platform/com/DeviceEnum.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/CSystemClock.h"

namespace {

constexpr int kMaxRenderDepth = 4;
constexpr int kMaxPendingReconnects = 16;
constexpr LONG kStopWhenReadyWait = 10000;

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

// The media types a pin offers (empty when it offers none).
std::vector<CMediaType> OfferedTypes(IPin* pin) {
    std::vector<CMediaType> types;
    ComPtr<IEnumMediaTypes> enumerator;
    if (FAILED(pin->EnumMediaTypes(enumerator.GetAddressOf())) || !enumerator) {
        return types;
    }
    for (int guard = 0; guard < 256; ++guard) {
        AM_MEDIA_TYPE* type = nullptr;
        ULONG fetched = 0;
        if (enumerator->Next(1, &type, &fetched) != S_OK || !type) {
            DeleteMediaType(type);
            break;
        }
        types.emplace_back(*type);
        DeleteMediaType(type);
    }
    return types;
}

bool GuidMatches(const GUID& registered, const GUID& offered) {
    return registered == GUID_NULL || offered == GUID_NULL || registered == offered;
}

// Whether a registered filter has an input pin for one of the offered types.
bool AcceptsAny(const CategoryEntry& entry, const std::vector<CMediaType>& offered) {
    for (const RegPin& pin : entry.pins) {
        if (pin.output) {
            continue;
        }
        if (offered.empty()) {
            return true;
        }
        for (const RegPinType& type : pin.mediaTypes) {
            for (const CMediaType& candidate : offered) {
                if (GuidMatches(type.majorType, candidate.majortype) &&
                    GuidMatches(type.subType, candidate.subtype)) {
                    return true;
                }
            }
        }
    }
    return false;
}

bool HasRegisteredOutput(const CategoryEntry& entry) {
    return std::any_of(entry.pins.begin(), entry.pins.end(),
                       [](const RegPin& pin) { return pin.output; });
}

// Events the graph handles itself unless told otherwise.
bool HasDefaultHandling(LONG code) {
    switch (code) {
        case EC_COMPLETE:
        case EC_REPAINT:
        case EC_CLOCK_CHANGED:
        case EC_NEED_RESTART:
        case EC_STARVATION:
        case EC_DISPLAY_CHANGED:
        case EC_ACTIVATE:
            return true;
        default:
            return false;
    }
}

class CEnumFilters final : public CUnknown, public IEnumFilters {
public:
    CEnumFilters(std::vector<ComPtr<IBaseFilter>> list, size_t position)
        : CUnknown(u"Filter enumerator", nullptr), list(std::move(list)), position(position) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IEnumFilters) {
            return GetInterface(static_cast<IEnumFilters*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT Next(ULONG count, IBaseFilter** out, ULONG* fetched) override {
        if (!out) {
            return E_POINTER;
        }
        if (!fetched && count != 1) {
            return E_INVALIDARG;
        }
        ULONG done = 0;
        while (done < count && position < list.size()) {
            out[done] = list[position++].Get();
            out[done]->AddRef();
            ++done;
        }
        if (fetched) {
            *fetched = done;
        }
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const size_t left = list.size() - position;
        position += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        position = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumFilters** clone) override {
        if (!clone) {
            return E_POINTER;
        }
        *clone = nullptr;
        try {
            auto* copy = new CEnumFilters(list, position);
            return copy->NonDelegatingQueryInterface(IID_IEnumFilters,
                                                     reinterpret_cast<void**>(clone));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    std::vector<ComPtr<IBaseFilter>> list;
    size_t position;
};

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
        auto* created = new CEnumFilters(std::move(list), 0);
        return created->NonDelegatingQueryInterface(IID_IEnumFilters,
                                                    reinterpret_cast<void**>(enumerator));
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

// --- connection

HRESULT CFilterGraph::ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mediaType) {
    if (!output || !input) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    if (!ContainsPinFilter(output) || !ContainsPinFilter(input)) {
        return VFW_E_NOT_IN_GRAPH;
    }
    if (!IsDirection(output, PINDIR_OUTPUT) || !IsDirection(input, PINDIR_INPUT)) {
        return VFW_E_INVALID_DIRECTION;
    }
    ++connectDepth;
    const HRESULT hr = output->Connect(input, mediaType);
    --connectDepth;
    if (connectDepth == 0) {
        RunPendingReconnects();
    }
    return hr;
}

HRESULT CFilterGraph::Reconnect(IPin* pin) {
    return ReconnectEx(pin, nullptr);
}

HRESULT CFilterGraph::ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mediaType) {
    if (!pin) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    if (!ContainsPinFilter(pin)) {
        return VFW_E_NOT_IN_GRAPH;
    }
    if (!ConnectedPin(pin)) {
        return VFW_E_NOT_CONNECTED;
    }
    if (connectDepth > 0) {
        // Asked from within a connection: done when that connection is complete.
        try {
            PendingReconnect pending{ComPtr<IPin>(pin), mediaType != nullptr, CMediaType()};
            if (mediaType) {
                pending.type = *mediaType;
            }
            pendingReconnects.push_back(std::move(pending));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    const HRESULT hr = DoReconnect(pin, mediaType);
    RunPendingReconnects();
    return hr;
}

HRESULT CFilterGraph::DoReconnect(IPin* pin, const AM_MEDIA_TYPE* mediaType) {
    ComPtr<IPin> peer = ConnectedPin(pin);
    if (!peer) {
        return VFW_E_NOT_CONNECTED;
    }
    IPin* output = IsDirection(pin, PINDIR_OUTPUT) ? pin : peer.Get();
    IPin* input = output == pin ? peer.Get() : pin;
    ComPtr<IPin> keepOutput(output);
    ComPtr<IPin> keepInput(input);
    HRESULT hr = output->Disconnect();
    if (FAILED(hr)) {
        return hr;
    }
    input->Disconnect();
    ++connectDepth;
    hr = output->Connect(input, mediaType);
    --connectDepth;
    return hr;
}

void CFilterGraph::RunPendingReconnects() {
    int done = 0;
    while (!pendingReconnects.empty() && done++ < kMaxPendingReconnects) {
        PendingReconnect pending = std::move(pendingReconnects.front());
        pendingReconnects.erase(pendingReconnects.begin());
        DoReconnect(pending.pin.Get(), pending.hasType ? &pending.type : nullptr);
    }
    pendingReconnects.clear();
}

HRESULT CFilterGraph::Disconnect(IPin* pin) {
    if (!pin) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    if (!ContainsPinFilter(pin)) {
        return VFW_E_NOT_IN_GRAPH;
    }
    return pin->Disconnect();
}

HRESULT CFilterGraph::AddRegisteredFilter(const CategoryEntry& entry, ComPtr<IBaseFilter>* added) {
    ComPtr<IBaseFilter> filter;
    HRESULT hr;
    if (entry.create) {
        hr = entry.create(IID_IBaseFilter, filter.GetVoidAddressOf());
    } else {
        hr = CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              filter.GetVoidAddressOf());
    }
    if (FAILED(hr) || !filter) {
        return FAILED(hr) ? hr : E_FAIL;
    }
    hr = AddFilter(filter.Get(), entry.friendlyName.c_str());
    if (FAILED(hr)) {
        return hr;
    }
    *added = filter;
    return S_OK;
}

HRESULT CFilterGraph::ConnectThroughIntermediate(IPin* output, IPin* input) {
    const std::vector<CMediaType> offered = OfferedTypes(output);
    std::vector<CategoryEntry> candidates;
    if (ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &candidates) != S_OK) {
        return VFW_E_CANNOT_CONNECT;
    }
    for (const CategoryEntry& entry : candidates) {
        if (aborted) {
            return E_ABORT;
        }
        if (entry.merit <= MERIT_DO_NOT_USE || !HasRegisteredOutput(entry) ||
            !AcceptsAny(entry, offered)) {
            continue;
        }
        ComPtr<IBaseFilter> middle;
        if (FAILED(AddRegisteredFilter(entry, &middle))) {
            continue;
        }
        bool connected = false;
        for (ComPtr<IPin>& middleIn : PinsOf(middle.Get())) {
            if (!IsDirection(middleIn.Get(), PINDIR_INPUT) || ConnectedPin(middleIn.Get())) {
                continue;
            }
            if (FAILED(ConnectDirect(output, middleIn.Get(), nullptr))) {
                continue;
            }
            for (ComPtr<IPin>& middleOut : PinsOf(middle.Get())) {
                if (IsDirection(middleOut.Get(), PINDIR_OUTPUT) && !ConnectedPin(middleOut.Get()) &&
                    SUCCEEDED(ConnectDirect(middleOut.Get(), input, nullptr))) {
                    connected = true;
                    break;
                }
            }
            if (connected) {
                break;
            }
            output->Disconnect();
            middleIn->Disconnect();
        }
        if (connected) {
            return S_OK;
        }
        RemoveFilter(middle.Get());
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT CFilterGraph::Connect(IPin* output, IPin* input) {
    if (!output || !input) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    aborted = false;
    HRESULT hr = ConnectDirect(output, input, nullptr);
    if (SUCCEEDED(hr) || hr == VFW_E_NOT_IN_GRAPH || hr == VFW_E_INVALID_DIRECTION ||
        hr == VFW_E_ALREADY_CONNECTED || hr == VFW_E_NOT_STOPPED) {
        return hr;
    }
    const HRESULT through = ConnectThroughIntermediate(output, input);
    return SUCCEEDED(through) ? through : hr;
}

HRESULT CFilterGraph::RenderPin(IPin* output, int depth) {
    if (depth > kMaxRenderDepth) {
        return VFW_E_CANNOT_RENDER;
    }
    const std::vector<CMediaType> offered = OfferedTypes(output);
    std::vector<CategoryEntry> candidates;
    if (ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &candidates) != S_OK) {
        return VFW_E_CANNOT_RENDER;
    }
    for (const CategoryEntry& entry : candidates) {
        if (aborted) {
            return E_ABORT;
        }
        if (entry.merit <= MERIT_DO_NOT_USE || !AcceptsAny(entry, offered)) {
            continue;
        }
        ComPtr<IBaseFilter> next;
        if (FAILED(AddRegisteredFilter(entry, &next))) {
            continue;
        }
        bool rendered = false;
        for (ComPtr<IPin>& nextIn : PinsOf(next.Get())) {
            if (!IsDirection(nextIn.Get(), PINDIR_INPUT) || ConnectedPin(nextIn.Get()) ||
                FAILED(ConnectDirect(output, nextIn.Get(), nullptr))) {
                continue;
            }
            // A filter without outputs ends the chain; otherwise one of its outputs must render.
            bool hasOutputs = false;
            bool anyRendered = false;
            for (ComPtr<IPin>& nextOut : PinsOf(next.Get())) {
                if (!IsDirection(nextOut.Get(), PINDIR_OUTPUT)) {
                    continue;
                }
                hasOutputs = true;
                if (SUCCEEDED(RenderPin(nextOut.Get(), depth + 1))) {
                    anyRendered = true;
                }
            }
            rendered = !hasOutputs || anyRendered;
            if (rendered) {
                break;
            }
            output->Disconnect();
            nextIn->Disconnect();
        }
        if (rendered) {
            return S_OK;
        }
        RemoveFilter(next.Get());
    }
    return VFW_E_CANNOT_RENDER;
}

HRESULT CFilterGraph::Render(IPin* output) {
    if (!output) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    if (!ContainsPinFilter(output)) {
        return VFW_E_NOT_IN_GRAPH;
    }
    if (!IsDirection(output, PINDIR_OUTPUT)) {
        return VFW_E_INVALID_DIRECTION;
    }
    if (ConnectedPin(output)) {
        return VFW_E_ALREADY_CONNECTED;
    }
    aborted = false;
    return RenderPin(output, 0);
}

HRESULT CFilterGraph::RenderEx(IPin* output, DWORD, DWORD*) {
    return Render(output);
}

HRESULT CFilterGraph::RenderFile(LPCWSTR, LPCWSTR) {
    return E_NOTIMPL;
}

HRESULT CFilterGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** filter) {
    if (filter) {
        *filter = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT CFilterGraph::AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* context,
                                                LPCWSTR filterName, IBaseFilter** filter) {
    if (!moniker || !filter) {
        return E_POINTER;
    }
    *filter = nullptr;
    ComPtr<IBaseFilter> bound;
    HRESULT hr = moniker->BindToObject(context, nullptr, IID_IBaseFilter, bound.GetVoidAddressOf());
    if (FAILED(hr)) {
        return hr;
    }
    hr = AddFilter(bound.Get(), filterName);
    if (FAILED(hr)) {
        return hr;
    }
    *filter = bound.Detach();
    return hr;
}

HRESULT CFilterGraph::SetLogFile(DWORD_PTR) {
    return S_OK;
}

HRESULT CFilterGraph::Abort() {
    aborted = true;
    return S_OK;
}

HRESULT CFilterGraph::ShouldOperationContinue() {
    return aborted ? S_FALSE : S_OK;
}

// --- state

std::vector<IBaseFilter*> CFilterGraph::DownstreamFirst() {
    std::vector<IBaseFilter*> order;
    std::vector<IBaseFilter*> visiting;
    std::function<void(IBaseFilter*)> visit = [&](IBaseFilter* filter) {
        if (std::find(order.begin(), order.end(), filter) != order.end() ||
            std::find(visiting.begin(), visiting.end(), filter) != visiting.end()) {
            return;
        }
        visiting.push_back(filter);
        for (ComPtr<IPin>& pin : PinsOf(filter)) {
            if (!IsDirection(pin.Get(), PINDIR_OUTPUT)) {
                continue;
            }
            ComPtr<IBaseFilter> downstream = FilterOfPin(ConnectedPin(pin.Get()).Get());
            if (downstream && Contains(downstream.Get())) {
                visit(downstream.Get());
            }
        }
        order.push_back(filter);
    };
    for (const FilterEntry& entry : filters) {
        visit(entry.filter.Get());
    }
    return order;
}

void CFilterGraph::ChooseDefaultClock() {
    ComPtr<IReferenceClock> chosen;
    for (IBaseFilter* filter : DownstreamFirst()) {
        if (SUCCEEDED(filter->QueryInterface(IID_IReferenceClock, chosen.GetVoidAddressOf()))) {
            break;
        }
    }
    if (!chosen) {
        auto* system = new (std::nothrow) CSystemClock(u"System reference clock", nullptr, nullptr);
        if (system) {
            system->NonDelegatingQueryInterface(IID_IReferenceClock, chosen.GetVoidAddressOf());
        }
    }
    clock = chosen;
    ApplyClock();
}

void CFilterGraph::ApplyClock() {
    for (FilterEntry& entry : filters) {
        entry.filter->SetSyncSource(clock.Get());
    }
}

void CFilterGraph::PrepareStreaming() {
    if (clockIsDefault) {
        ChooseDefaultClock();
    }
    std::vector<IBaseFilter*> found;
    for (const FilterEntry& entry : filters) {
        IBaseFilter* filter = entry.filter.Get();
        ComPtr<IAMFilterMiscFlags> flags;
        if (SUCCEEDED(entry.filter.As(&flags)) &&
            (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER)) {
            found.push_back(filter);
            continue;
        }
        bool connectedInput = false;
        bool anyOutput = false;
        for (ComPtr<IPin>& pin : PinsOf(filter)) {
            if (IsDirection(pin.Get(), PINDIR_OUTPUT)) {
                anyOutput = true;
            } else if (ConnectedPin(pin.Get())) {
                connectedInput = true;
            }
        }
        if (connectedInput && !anyOutput) {
            found.push_back(filter);
        }
    }
    std::lock_guard<std::mutex> completionLock(completionMutex);
    renderers = std::move(found);
    completed.clear();
    completeRaised = false;
    streaming = true;
}

HRESULT CFilterGraph::StopFilters() {
    HRESULT result = S_OK;
    const std::vector<IBaseFilter*> order = DownstreamFirst();
    if (state == State_Running) {
        for (IBaseFilter* filter : order) {
            filter->Pause();
        }
    }
    for (IBaseFilter* filter : order) {
        const HRESULT hr = filter->Stop();
        if (FAILED(hr) && SUCCEEDED(result)) {
            result = hr;
        }
    }
    std::lock_guard<std::mutex> completionLock(completionMutex);
    streaming = false;
    completed.clear();
    completeRaised = false;
    return result;
}

HRESULT CFilterGraph::PauseFilters() {
    HRESULT result = S_OK;
    for (IBaseFilter* filter : DownstreamFirst()) {
        const HRESULT hr = filter->Pause();
        if (FAILED(hr)) {
            return hr;
        }
        if (hr != S_OK) {
            result = S_FALSE;
        }
    }
    return result;
}

HRESULT CFilterGraph::RunFilters(REFERENCE_TIME start) {
    HRESULT result = S_OK;
    for (IBaseFilter* filter : DownstreamFirst()) {
        const HRESULT hr = filter->Run(start);
        if (FAILED(hr)) {
            return hr;
        }
        if (hr != S_OK) {
            result = S_FALSE;
        }
    }
    return result;
}

HRESULT CFilterGraph::Pause() {
    CAutoLock lock(&graphLock);
    if (state == State_Paused) {
        return S_OK;
    }
    if (state == State_Stopped) {
        PrepareStreaming();
        pausedStreamTime = 0;
    } else if (clock) {
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        pausedStreamTime = std::max<REFERENCE_TIME>(0, now - startTime);
    }
    const FILTER_STATE previous = state;
    const HRESULT hr = PauseFilters();
    if (FAILED(hr)) {
        state = previous;
        StopFilters();
        state = State_Stopped;
        return hr;
    }
    state = State_Paused;
    return hr;
}

HRESULT CFilterGraph::RunAt(REFERENCE_TIME start) {
    HRESULT pauseResult = S_OK;
    if (state == State_Stopped) {
        pauseResult = Pause();
        if (FAILED(pauseResult)) {
            return pauseResult;
        }
    }
    startTime = start;
    const HRESULT hr = RunFilters(start);
    if (FAILED(hr)) {
        StopFilters();
        state = State_Stopped;
        return hr;
    }
    state = State_Running;
    return pauseResult == S_FALSE ? S_FALSE : hr;
}

HRESULT CFilterGraph::Run() {
    CAutoLock lock(&graphLock);
    if (state == State_Running) {
        return S_OK;
    }
    HRESULT pauseResult = S_OK;
    if (state == State_Stopped) {
        // The pause chooses the clock that the start time is taken from.
        pauseResult = Pause();
        if (FAILED(pauseResult)) {
            return pauseResult;
        }
    }
    REFERENCE_TIME now = 0;
    if (clock) {
        clock->GetTime(&now);
    }
    // The stream time carries on from where the pause left it.
    const HRESULT hr = RunAt(now + kStartDelay - pausedStreamTime);
    return SUCCEEDED(hr) && pauseResult == S_FALSE ? S_FALSE : hr;
}

HRESULT CFilterGraph::Run(REFERENCE_TIME start) {
    CAutoLock lock(&graphLock);
    if (state == State_Running) {
        return S_OK;
    }
    return RunAt(start);
}

HRESULT CFilterGraph::Stop() {
    CAutoLock lock(&graphLock);
    if (state == State_Stopped) {
        return S_OK;
    }
    positionBase = CurrentPositionLocked();
    pausedStreamTime = 0;
    const HRESULT hr = StopFilters();
    state = State_Stopped;
    return hr;
}

HRESULT CFilterGraph::QueryState(DWORD milliseconds, FILTER_STATE* result) {
    if (!result) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    const bool unlimited = milliseconds == 0xFFFFFFFF;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(unlimited ? 0 : milliseconds);
    bool intermediate = false;
    bool cantCue = false;
    std::vector<IBaseFilter*> order = DownstreamFirst();
    std::reverse(order.begin(), order.end());  // sources first
    for (IBaseFilter* filter : order) {
        DWORD wait = 0;
        if (!cantCue) {
            if (unlimited) {
                wait = 0xFFFFFFFF;
            } else {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
            }
        }
        FILTER_STATE filterState;
        const HRESULT hr = filter->GetState(wait, &filterState);
        if (FAILED(hr)) {
            *result = state;
            return hr;
        }
        if (hr == VFW_S_CANT_CUE) {
            cantCue = true;
        } else if (hr == VFW_S_STATE_INTERMEDIATE) {
            intermediate = true;
        }
    }
    *result = state;
    if (cantCue) {
        return VFW_S_CANT_CUE;
    }
    return intermediate ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

HRESULT CFilterGraph::GetState(LONG milliseconds, OAFilterState* result) {
    if (!result) {
        return E_POINTER;
    }
    FILTER_STATE filterState = State_Stopped;
    const HRESULT hr = QueryState(static_cast<DWORD>(milliseconds), &filterState);
    *result = filterState;
    return hr;
}

HRESULT CFilterGraph::GetState(DWORD milliseconds, FILTER_STATE* result) {
    return QueryState(milliseconds, result);
}

HRESULT CFilterGraph::StopWhenReady() {
    CAutoLock lock(&graphLock);
    const HRESULT hr = Pause();
    if (FAILED(hr)) {
        return hr;
    }
    // A bounded wait: a renderer that never receives data would otherwise hold the caller.
    FILTER_STATE ignored;
    QueryState(kStopWhenReadyWait, &ignored);
    return Stop();
}

HRESULT CFilterGraph::RenderFile(BSTR file) {
    return RenderFile(file, nullptr);
}

HRESULT CFilterGraph::AddSourceFilter(BSTR, IDispatch** filterInfo) {
    if (filterInfo) {
        *filterInfo = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT CFilterGraph::get_FilterCollection(IDispatch** collection) {
    if (collection) {
        *collection = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT CFilterGraph::get_RegFilterCollection(IDispatch** collection) {
    if (collection) {
        *collection = nullptr;
    }
    return E_NOTIMPL;
}

// --- clock

HRESULT CFilterGraph::GetClassID(CLSID* classId) {
    if (!classId) {
        return E_POINTER;
    }
    *classId = CLSID_FilterGraph;
    return S_OK;
}

HRESULT CFilterGraph::SetSyncSource(IReferenceClock* newClock) {
    CAutoLock lock(&graphLock);
    if (state != State_Stopped) {
        return VFW_E_NOT_STOPPED;
    }
    clock = ComPtr<IReferenceClock>(newClock);
    clockIsDefault = false;
    ApplyClock();
    return S_OK;
}

HRESULT CFilterGraph::GetSyncSource(IReferenceClock** result) {
    if (!result) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    *result = clock.Get();
    if (*result) {
        (*result)->AddRef();
    }
    return S_OK;
}

HRESULT CFilterGraph::SetDefaultSyncSource() {
    CAutoLock lock(&graphLock);
    if (state != State_Stopped) {
        return VFW_E_NOT_STOPPED;
    }
    clockIsDefault = true;
    ChooseDefaultClock();
    return S_OK;
}

// --- events

HRESULT CFilterGraph::Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
    {
        std::lock_guard<std::mutex> completionLock(completionMutex);
        const bool handled =
            HasDefaultHandling(eventCode) && defaultHandlingCancelled.count(eventCode) == 0;
        if (eventCode == EC_COMPLETE && handled) {
            if (!streaming) {
                return S_OK;  // a late report from a stopped graph
            }
            if (!renderers.empty()) {
                auto* filter = reinterpret_cast<IBaseFilter*>(param2);
                if (std::find(renderers.begin(), renderers.end(), filter) != renderers.end() &&
                    std::find(completed.begin(), completed.end(), filter) == completed.end()) {
                    completed.push_back(filter);
                }
                if (completeRaised || completed.size() < renderers.size()) {
                    return S_OK;
                }
                completeRaised = true;
                param1 = S_OK;
                param2 = 0;
            }
        } else if (handled) {
            return S_OK;
        }
    }
    events.Post(eventCode, param1, param2);
    return S_OK;
}

HRESULT CFilterGraph::GetEventHandle(OAEVENT* handle) {
    if (!handle) {
        return E_POINTER;
    }
    const int fd = events.EventHandle();
    if (fd < 0) {
        *handle = 0;
        return E_OUTOFMEMORY;
    }
    *handle = fd;
    return S_OK;
}

HRESULT CFilterGraph::GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2,
                               LONG milliseconds) {
    if (!eventCode || !param1 || !param2) {
        return E_POINTER;
    }
    CMediaEventQueue::Event event{};
    const HRESULT hr = events.Get(&event, milliseconds);
    if (FAILED(hr)) {
        *eventCode = 0;
        *param1 = 0;
        *param2 = 0;
        return hr;
    }
    *eventCode = event.code;
    *param1 = event.param1;
    *param2 = event.param2;
    return S_OK;
}

HRESULT CFilterGraph::WaitForCompletion(LONG milliseconds, LONG* eventCode) {
    if (!eventCode) {
        return E_POINTER;
    }
    *eventCode = 0;
    {
        CAutoLock lock(&graphLock);
        if (state != State_Running) {
            return VFW_E_WRONG_STATE;
        }
    }
    CMediaEventQueue::Event event{};
    const HRESULT hr = events.WaitFor(
        [](LONG code) {
            return code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT;
        },
        &event, milliseconds);
    if (SUCCEEDED(hr)) {
        *eventCode = event.code;
    }
    return hr;
}

HRESULT CFilterGraph::CancelDefaultHandling(LONG eventCode) {
    if (!HasDefaultHandling(eventCode)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> completionLock(completionMutex);
    defaultHandlingCancelled.insert(eventCode);
    return S_OK;
}

HRESULT CFilterGraph::RestoreDefaultHandling(LONG eventCode) {
    if (!HasDefaultHandling(eventCode)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> completionLock(completionMutex);
    defaultHandlingCancelled.erase(eventCode);
    return S_OK;
}

HRESULT CFilterGraph::FreeEventParams(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
    // Only these events carry strings; every other parameter is a plain value.
    if (eventCode == EC_OLE_EVENT) {
        SysFreeString(reinterpret_cast<BSTR>(param1));
        SysFreeString(reinterpret_cast<BSTR>(param2));
    } else if (eventCode == EC_ERRORABORTEX) {
        SysFreeString(reinterpret_cast<BSTR>(param2));
    }
    return S_OK;
}

HRESULT CFilterGraph::SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instanceData) {
    events.SetNotifyWindow(reinterpret_cast<ICWindowTarget*>(window), message, instanceData);
    return S_OK;
}

HRESULT CFilterGraph::SetNotifyFlags(LONG flags) {
    if (flags != 0 && flags != AM_MEDIAEVENT_NONOTIFY) {
        return E_INVALIDARG;
    }
    events.SetNotifyFlags(flags);
    return S_OK;
}

HRESULT CFilterGraph::GetNotifyFlags(LONG* flags) {
    if (!flags) {
        return E_POINTER;
    }
    *flags = events.GetNotifyFlags();
    return S_OK;
}

HRESULT CFilterGraph::SetNotifyCallback(MediaEventCallback callback, void* context,
                                        LONG_PTR instanceData) {
    events.SetNotifyCallback(callback, context, instanceData);
    return S_OK;
}

// --- seeking

std::vector<ComPtr<IMediaSeeking>> CFilterGraph::SeekingSources() {
    std::vector<ComPtr<IMediaSeeking>> sources;
    for (const FilterEntry& entry : filters) {
        bool connectedInput = false;
        std::vector<ComPtr<IPin>> pins = PinsOf(entry.filter.Get());
        for (ComPtr<IPin>& pin : pins) {
            if (IsDirection(pin.Get(), PINDIR_INPUT) && ConnectedPin(pin.Get())) {
                connectedInput = true;
            }
        }
        if (connectedInput) {
            continue;
        }
        ComPtr<IMediaSeeking> seeking;
        if (SUCCEEDED(entry.filter.As(&seeking))) {
            sources.push_back(seeking);
            continue;
        }
        for (ComPtr<IPin>& pin : pins) {
            if (IsDirection(pin.Get(), PINDIR_OUTPUT) && SUCCEEDED(pin.As(&seeking))) {
                sources.push_back(seeking);
                break;
            }
        }
    }
    return sources;
}

REFERENCE_TIME CFilterGraph::CurrentPositionLocked() {
    REFERENCE_TIME streamTime = 0;
    if (state == State_Running && clock) {
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        streamTime = std::max<REFERENCE_TIME>(0, now - startTime);
    } else if (state == State_Paused) {
        streamTime = pausedStreamTime;
    }
    REFERENCE_TIME position = positionBase + static_cast<REFERENCE_TIME>(streamTime * rate);
    // Never past the end of what the source plays.
    std::vector<ComPtr<IMediaSeeking>> sources = SeekingSources();
    REFERENCE_TIME stop = 0;
    bool ended = false;
    {
        std::lock_guard<std::mutex> completionLock(completionMutex);
        ended = completeRaised;
    }
    if (!sources.empty() && SUCCEEDED(sources.front()->GetStopPosition(&stop)) && stop > 0) {
        if (position > stop || ended) {
            position = stop;
        }
    }
    return position < 0 ? 0 : position;
}

HRESULT CFilterGraph::GetCapabilities(DWORD* capabilities) {
    if (!capabilities) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    std::vector<ComPtr<IMediaSeeking>> sources = SeekingSources();
    if (sources.empty()) {
        *capabilities = 0;
        return E_NOTIMPL;
    }
    DWORD common = 0xFFFFFFFF;
    for (ComPtr<IMediaSeeking>& source : sources) {
        DWORD caps = 0;
        if (SUCCEEDED(source->GetCapabilities(&caps))) {
            common &= caps;
        }
    }
    // The graph itself knows the current position.
    *capabilities = (common == 0xFFFFFFFF ? 0 : common) | AM_SEEKING_CanGetCurrentPos;
    return S_OK;
}

HRESULT CFilterGraph::CheckCapabilities(DWORD* capabilities) {
    if (!capabilities) {
        return E_POINTER;
    }
    DWORD available = 0;
    const HRESULT hr = GetCapabilities(&available);
    if (FAILED(hr)) {
        return hr;
    }
    const DWORD wanted = *capabilities;
    *capabilities &= available;
    if (*capabilities == wanted) {
        return S_OK;
    }
    return *capabilities ? S_FALSE : E_FAIL;
}

HRESULT CFilterGraph::IsFormatSupported(const GUID* format) {
    if (!format) {
        return E_POINTER;
    }
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CFilterGraph::QueryPreferredFormat(GUID* format) {
    if (!format) {
        return E_POINTER;
    }
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CFilterGraph::GetTimeFormat(GUID* format) {
    return QueryPreferredFormat(format);
}

HRESULT CFilterGraph::IsUsingTimeFormat(const GUID* format) {
    return IsFormatSupported(format);
}

HRESULT CFilterGraph::SetTimeFormat(const GUID* format) {
    if (!format) {
        return E_POINTER;
    }
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT CFilterGraph::GetDuration(LONGLONG* duration) {
    if (!duration) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    HRESULT result = E_NOTIMPL;
    for (ComPtr<IMediaSeeking>& source : SeekingSources()) {
        LONGLONG value = 0;
        if (SUCCEEDED(source->GetDuration(&value))) {
            if (FAILED(result) || value > *duration) {
                *duration = value;
            }
            result = S_OK;
        }
    }
    return result;
}

HRESULT CFilterGraph::GetStopPosition(LONGLONG* stop) {
    if (!stop) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    for (ComPtr<IMediaSeeking>& source : SeekingSources()) {
        if (SUCCEEDED(source->GetStopPosition(stop))) {
            return S_OK;
        }
    }
    return E_NOTIMPL;
}

HRESULT CFilterGraph::GetCurrentPosition(LONGLONG* current) {
    if (!current) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    *current = CurrentPositionLocked();
    return S_OK;
}

HRESULT CFilterGraph::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                        const GUID* sourceFormat) {
    if (!target) {
        return E_POINTER;
    }
    const bool targetOk = !targetFormat || *targetFormat == TIME_FORMAT_MEDIA_TIME;
    const bool sourceOk = !sourceFormat || *sourceFormat == TIME_FORMAT_MEDIA_TIME;
    if (!targetOk || !sourceOk) {
        return E_INVALIDARG;
    }
    *target = source;
    return S_OK;
}

HRESULT CFilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                   DWORD stopFlags) {
    const DWORD startBits = currentFlags & AM_SEEKING_PositioningBitsMask;
    if (startBits != AM_SEEKING_NoPositioning && !current) {
        return E_POINTER;
    }
    if ((stopFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning && !stop) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    std::vector<ComPtr<IMediaSeeking>> sources = SeekingSources();
    if (sources.empty()) {
        return E_NOTIMPL;
    }
    REFERENCE_TIME newStart = CurrentPositionLocked();
    if (startBits == AM_SEEKING_AbsolutePositioning) {
        newStart = *current;
    } else if (startBits == AM_SEEKING_RelativePositioning) {
        newStart += *current;
    }
    // A running graph pauses while its sources seek, and runs again from the new position.
    const bool wasRunning = state == State_Running && startBits != AM_SEEKING_NoPositioning;
    if (wasRunning) {
        PauseFilters();
        state = State_Paused;
    }
    HRESULT result = S_OK;
    for (ComPtr<IMediaSeeking>& source : sources) {
        LONGLONG start = newStart;
        LONGLONG end = stop ? *stop : 0;
        const DWORD flags =
            startBits == AM_SEEKING_NoPositioning
                ? currentFlags
                : (currentFlags & ~AM_SEEKING_PositioningBitsMask) | AM_SEEKING_AbsolutePositioning;
        const HRESULT hr = source->SetPositions(&start, flags, stop ? &end : nullptr, stopFlags);
        if (FAILED(hr) && SUCCEEDED(result)) {
            result = hr;
        }
    }
    if (startBits != AM_SEEKING_NoPositioning) {
        positionBase = newStart;
        pausedStreamTime = 0;
        if (currentFlags & AM_SEEKING_ReturnTime) {
            *current = newStart;
        }
        std::lock_guard<std::mutex> completionLock(completionMutex);
        completed.clear();
        completeRaised = false;
    }
    if (wasRunning) {
        REFERENCE_TIME now = 0;
        if (clock) {
            clock->GetTime(&now);
        }
        startTime = now + kStartDelay;
        RunFilters(startTime);
        state = State_Running;
    }
    return result;
}

HRESULT CFilterGraph::GetPositions(LONGLONG* current, LONGLONG* stop) {
    CAutoLock lock(&graphLock);
    if (current) {
        *current = CurrentPositionLocked();
    }
    if (stop) {
        *stop = 0;
        std::vector<ComPtr<IMediaSeeking>> sources = SeekingSources();
        if (sources.empty()) {
            return E_NOTIMPL;
        }
        return sources.front()->GetStopPosition(stop);
    }
    return S_OK;
}

HRESULT CFilterGraph::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    CAutoLock lock(&graphLock);
    std::vector<ComPtr<IMediaSeeking>> sources = SeekingSources();
    if (sources.empty()) {
        return E_NOTIMPL;
    }
    return sources.front()->GetAvailable(earliest, latest);
}

HRESULT CFilterGraph::SetRate(double newRate) {
    if (newRate <= 0) {
        return E_INVALIDARG;
    }
    CAutoLock lock(&graphLock);
    std::vector<ComPtr<IMediaSeeking>> sources = SeekingSources();
    if (sources.empty()) {
        return E_NOTIMPL;
    }
    HRESULT result = S_OK;
    for (ComPtr<IMediaSeeking>& source : sources) {
        const HRESULT hr = source->SetRate(newRate);
        if (FAILED(hr) && SUCCEEDED(result)) {
            result = hr;
        }
    }
    if (SUCCEEDED(result)) {
        positionBase = CurrentPositionLocked();
        rate = newRate;
    }
    return result;
}

HRESULT CFilterGraph::GetRate(double* result) {
    if (!result) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    *result = rate;
    return S_OK;
}

HRESULT CFilterGraph::GetPreroll(LONGLONG* preroll) {
    if (!preroll) {
        return E_POINTER;
    }
    CAutoLock lock(&graphLock);
    *preroll = 0;
    std::vector<ComPtr<IMediaSeeking>> sources = SeekingSources();
    return sources.empty() ? E_NOTIMPL : sources.front()->GetPreroll(preroll);
}

// --- position in seconds

namespace {

constexpr double kSecondsPerUnit = 1.0 / static_cast<double>(kUnitsPerSecond);
constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;

REFERENCE_TIME ToUnits(REFTIME seconds) {
    return static_cast<REFERENCE_TIME>(seconds * static_cast<double>(kUnitsPerSecond));
}

}  // namespace

HRESULT CFilterGraph::get_Duration(REFTIME* length) {
    if (!length) {
        return E_POINTER;
    }
    LONGLONG duration = 0;
    const HRESULT hr = GetDuration(&duration);
    *length = static_cast<double>(duration) * kSecondsPerUnit;
    return hr;
}

HRESULT CFilterGraph::put_CurrentPosition(REFTIME time) {
    LONGLONG position = ToUnits(time);
    return SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                        AM_SEEKING_NoPositioning);
}

HRESULT CFilterGraph::get_CurrentPosition(REFTIME* time) {
    if (!time) {
        return E_POINTER;
    }
    LONGLONG position = 0;
    const HRESULT hr = GetCurrentPosition(&position);
    *time = static_cast<double>(position) * kSecondsPerUnit;
    return hr;
}

HRESULT CFilterGraph::get_StopTime(REFTIME* time) {
    if (!time) {
        return E_POINTER;
    }
    LONGLONG stop = 0;
    const HRESULT hr = GetStopPosition(&stop);
    *time = static_cast<double>(stop) * kSecondsPerUnit;
    return hr;
}

HRESULT CFilterGraph::put_StopTime(REFTIME time) {
    LONGLONG stop = ToUnits(time);
    return SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning);
}

HRESULT CFilterGraph::get_PrerollTime(REFTIME* time) {
    if (!time) {
        return E_POINTER;
    }
    LONGLONG preroll = 0;
    const HRESULT hr = GetPreroll(&preroll);
    *time = static_cast<double>(preroll) * kSecondsPerUnit;
    return hr;
}

HRESULT CFilterGraph::put_PrerollTime(REFTIME) {
    return E_NOTIMPL;
}

HRESULT CFilterGraph::put_Rate(double newRate) {
    return SetRate(newRate);
}

HRESULT CFilterGraph::get_Rate(double* result) {
    return GetRate(result);
}

HRESULT CFilterGraph::CanSeekForward(LONG* canSeek) {
    if (!canSeek) {
        return E_POINTER;
    }
    DWORD caps = 0;
    GetCapabilities(&caps);
    *canSeek = (caps & AM_SEEKING_CanSeekForwards) ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT CFilterGraph::CanSeekBackward(LONG* canSeek) {
    if (!canSeek) {
        return E_POINTER;
    }
    DWORD caps = 0;
    GetCapabilities(&caps);
    *canSeek = (caps & AM_SEEKING_CanSeekBackwards) ? OATRUE : OAFALSE;
    return S_OK;
}

// --- audio and video properties of the graph's renderers

template <typename Interface>
ComPtr<Interface> CFilterGraph::FirstFilterWith() {
    CAutoLock lock(&graphLock);
    for (const FilterEntry& entry : filters) {
        ComPtr<Interface> found;
        if (SUCCEEDED(entry.filter.As(&found))) {
            return found;
        }
    }
    return {};
}

#define ORV_FORWARD(Interface, call)                         \
    ComPtr<Interface> target = FirstFilterWith<Interface>(); \
    if (!target) {                                           \
        return E_NOTIMPL;                                    \
    }                                                        \
    return target->call

HRESULT CFilterGraph::put_Volume(LONG volume) {
    ORV_FORWARD(IBasicAudio, put_Volume(volume));
}
HRESULT CFilterGraph::get_Volume(LONG* volume) {
    ORV_FORWARD(IBasicAudio, get_Volume(volume));
}
HRESULT CFilterGraph::put_Balance(LONG balance) {
    ORV_FORWARD(IBasicAudio, put_Balance(balance));
}
HRESULT CFilterGraph::get_Balance(LONG* balance) {
    ORV_FORWARD(IBasicAudio, get_Balance(balance));
}

HRESULT CFilterGraph::get_AvgTimePerFrame(REFTIME* time) {
    ORV_FORWARD(IBasicVideo, get_AvgTimePerFrame(time));
}
HRESULT CFilterGraph::get_BitRate(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_BitRate(value));
}
HRESULT CFilterGraph::get_BitErrorRate(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_BitErrorRate(value));
}
HRESULT CFilterGraph::get_VideoWidth(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_VideoWidth(value));
}
HRESULT CFilterGraph::get_VideoHeight(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_VideoHeight(value));
}
HRESULT CFilterGraph::put_SourceLeft(LONG value) {
    ORV_FORWARD(IBasicVideo, put_SourceLeft(value));
}
HRESULT CFilterGraph::get_SourceLeft(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_SourceLeft(value));
}
HRESULT CFilterGraph::put_SourceWidth(LONG value) {
    ORV_FORWARD(IBasicVideo, put_SourceWidth(value));
}
HRESULT CFilterGraph::get_SourceWidth(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_SourceWidth(value));
}
HRESULT CFilterGraph::put_SourceTop(LONG value) {
    ORV_FORWARD(IBasicVideo, put_SourceTop(value));
}
HRESULT CFilterGraph::get_SourceTop(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_SourceTop(value));
}
HRESULT CFilterGraph::put_SourceHeight(LONG value) {
    ORV_FORWARD(IBasicVideo, put_SourceHeight(value));
}
HRESULT CFilterGraph::get_SourceHeight(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_SourceHeight(value));
}
HRESULT CFilterGraph::put_DestinationLeft(LONG value) {
    ORV_FORWARD(IBasicVideo, put_DestinationLeft(value));
}
HRESULT CFilterGraph::get_DestinationLeft(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_DestinationLeft(value));
}
HRESULT CFilterGraph::put_DestinationWidth(LONG value) {
    ORV_FORWARD(IBasicVideo, put_DestinationWidth(value));
}
HRESULT CFilterGraph::get_DestinationWidth(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_DestinationWidth(value));
}
HRESULT CFilterGraph::put_DestinationTop(LONG value) {
    ORV_FORWARD(IBasicVideo, put_DestinationTop(value));
}
HRESULT CFilterGraph::get_DestinationTop(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_DestinationTop(value));
}
HRESULT CFilterGraph::put_DestinationHeight(LONG value) {
    ORV_FORWARD(IBasicVideo, put_DestinationHeight(value));
}
HRESULT CFilterGraph::get_DestinationHeight(LONG* value) {
    ORV_FORWARD(IBasicVideo, get_DestinationHeight(value));
}
HRESULT CFilterGraph::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
    ORV_FORWARD(IBasicVideo, SetSourcePosition(left, top, width, height));
}
HRESULT CFilterGraph::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    ORV_FORWARD(IBasicVideo, GetSourcePosition(left, top, width, height));
}
HRESULT CFilterGraph::SetDefaultSourcePosition() {
    ORV_FORWARD(IBasicVideo, SetDefaultSourcePosition());
}
HRESULT CFilterGraph::SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) {
    ORV_FORWARD(IBasicVideo, SetDestinationPosition(left, top, width, height));
}
HRESULT CFilterGraph::GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    ORV_FORWARD(IBasicVideo, GetDestinationPosition(left, top, width, height));
}
HRESULT CFilterGraph::SetDefaultDestinationPosition() {
    ORV_FORWARD(IBasicVideo, SetDefaultDestinationPosition());
}
HRESULT CFilterGraph::GetVideoSize(LONG* width, LONG* height) {
    ORV_FORWARD(IBasicVideo, GetVideoSize(width, height));
}
HRESULT CFilterGraph::GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved,
                                             LONG* palette) {
    ORV_FORWARD(IBasicVideo, GetVideoPaletteEntries(start, count, retrieved, palette));
}
HRESULT CFilterGraph::GetCurrentImage(LONG* bufferSize, LONG* image) {
    ORV_FORWARD(IBasicVideo, GetCurrentImage(bufferSize, image));
}
HRESULT CFilterGraph::IsUsingDefaultSource() {
    ORV_FORWARD(IBasicVideo, IsUsingDefaultSource());
}
HRESULT CFilterGraph::IsUsingDefaultDestination() {
    ORV_FORWARD(IBasicVideo, IsUsingDefaultDestination());
}
HRESULT CFilterGraph::GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) {
    ORV_FORWARD(IBasicVideo2, GetPreferredAspectRatio(aspectX, aspectY));
}

#undef ORV_FORWARD
