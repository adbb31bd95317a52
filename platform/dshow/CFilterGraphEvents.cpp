#include "platform/dshow/CFilterGraph.h"

#include <algorithm>

#include "platform/com/TaskAllocator.h"

// Events: what filters report, what the graph handles itself, and how the application hears
// of the rest.

namespace {

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

}  // namespace

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
