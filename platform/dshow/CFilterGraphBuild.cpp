#include "platform/dshow/CFilterGraph.h"

#include <algorithm>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/CFilterGraphPins.h"

// Building the graph: connecting pins directly, through an intermediate filter, or rendering
// an output with registered filters; reconnections asked for during a connection.

using namespace filtergraph;

namespace {

constexpr int kMaxRenderDepth = 4;
constexpr int kMaxPendingReconnects = 16;

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

}  // namespace

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

HRESULT CFilterGraph::TryRegisteredFilters(IPin* output, bool needsOutputs, HRESULT failure,
                                           const std::function<bool(IBaseFilter*)>& onward) {
    const std::vector<CMediaType> offered = OfferedTypes(output);
    std::vector<CategoryEntry> candidates;
    if (ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &candidates) != S_OK) {
        return failure;
    }
    for (const CategoryEntry& entry : candidates) {
        if (aborted) {
            return E_ABORT;
        }
        if (entry.merit <= MERIT_DO_NOT_USE || (needsOutputs && !HasRegisteredOutput(entry)) ||
            !AcceptsAny(entry, offered)) {
            continue;
        }
        ComPtr<IBaseFilter> next;
        if (FAILED(AddRegisteredFilter(entry, &next))) {
            continue;
        }
        for (ComPtr<IPin>& nextIn : PinsOf(next.Get())) {
            if (!IsDirection(nextIn.Get(), PINDIR_INPUT) || ConnectedPin(nextIn.Get()) ||
                FAILED(ConnectDirect(output, nextIn.Get(), nullptr))) {
                continue;
            }
            if (onward(next.Get())) {
                return S_OK;
            }
            output->Disconnect();
            nextIn->Disconnect();
        }
        RemoveFilter(next.Get());
    }
    return failure;
}

HRESULT CFilterGraph::ConnectThroughIntermediate(IPin* output, IPin* input) {
    return TryRegisteredFilters(output, true, VFW_E_CANNOT_CONNECT, [&](IBaseFilter* middle) {
        for (ComPtr<IPin>& middleOut : PinsOf(middle)) {
            if (IsDirection(middleOut.Get(), PINDIR_OUTPUT) && !ConnectedPin(middleOut.Get()) &&
                SUCCEEDED(ConnectDirect(middleOut.Get(), input, nullptr))) {
                return true;
            }
        }
        return false;
    });
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
    return TryRegisteredFilters(output, false, VFW_E_CANNOT_RENDER, [&](IBaseFilter* next) {
        // A filter without outputs ends the chain; otherwise one of its outputs must render.
        bool hasOutputs = false;
        bool anyRendered = false;
        for (ComPtr<IPin>& nextOut : PinsOf(next)) {
            if (!IsDirection(nextOut.Get(), PINDIR_OUTPUT)) {
                continue;
            }
            hasOutputs = true;
            if (SUCCEEDED(RenderPin(nextOut.Get(), depth + 1))) {
                anyRendered = true;
            }
        }
        return !hasOutputs || anyRendered;
    });
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
