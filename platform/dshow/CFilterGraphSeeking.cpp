#include "platform/dshow/CFilterGraph.h"

#include <algorithm>

#include "platform/dshow/CFilterGraphPins.h"

// Seeking and position: the sources seek, the graph keeps the current position.

using namespace filtergraph;

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

// Reads a time in 100 ns units through `read` and hands it out in seconds.
HRESULT InSeconds(CFilterGraph* graph, HRESULT (CFilterGraph::*read)(LONGLONG*), REFTIME* seconds) {
    if (!seconds) {
        return E_POINTER;
    }
    LONGLONG units = 0;
    const HRESULT hr = (graph->*read)(&units);
    *seconds = static_cast<double>(units) * kSecondsPerUnit;
    return hr;
}

// Whether the graph's sources can seek so (`capability`), as an automation boolean.
HRESULT CanSeek(CFilterGraph* graph, DWORD capability, LONG* answer) {
    if (!answer) {
        return E_POINTER;
    }
    DWORD caps = 0;
    graph->GetCapabilities(&caps);
    *answer = (caps & capability) ? OATRUE : OAFALSE;
    return S_OK;
}

}  // namespace

HRESULT CFilterGraph::get_Duration(REFTIME* length) {
    return InSeconds(this, &CFilterGraph::GetDuration, length);
}

HRESULT CFilterGraph::put_CurrentPosition(REFTIME time) {
    LONGLONG position = ToUnits(time);
    return SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                        AM_SEEKING_NoPositioning);
}

HRESULT CFilterGraph::get_CurrentPosition(REFTIME* time) {
    return InSeconds(this, &CFilterGraph::GetCurrentPosition, time);
}

HRESULT CFilterGraph::get_StopTime(REFTIME* time) {
    return InSeconds(this, &CFilterGraph::GetStopPosition, time);
}

HRESULT CFilterGraph::put_StopTime(REFTIME time) {
    LONGLONG stop = ToUnits(time);
    return SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning);
}

HRESULT CFilterGraph::get_PrerollTime(REFTIME* time) {
    return InSeconds(this, &CFilterGraph::GetPreroll, time);
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
    return CanSeek(this, AM_SEEKING_CanSeekForwards, canSeek);
}

HRESULT CFilterGraph::CanSeekBackward(LONG* canSeek) {
    return CanSeek(this, AM_SEEKING_CanSeekBackwards, canSeek);
}
