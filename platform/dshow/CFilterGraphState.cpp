#include "platform/dshow/CFilterGraph.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <new>

#include "platform/dshow/CFilterGraphPins.h"
#include "platform/dshow/CSystemClock.h"

// State changes of the graph (downstream first) and its reference clock.

using namespace filtergraph;

namespace {

constexpr LONG kStopWhenReadyWait = 10000;

}  // namespace

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
