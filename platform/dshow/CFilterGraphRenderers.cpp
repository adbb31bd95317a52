#include "platform/dshow/CFilterGraph.h"

// IBasicAudio and IBasicVideo2 of the graph: each call goes to the first filter that answers
// the interface (the renderer), E_NOTIMPL when none does.

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

template <typename Interface, typename... Params, typename... Args>
HRESULT CFilterGraph::ForwardToFirst(HRESULT (Interface::*method)(Params...), Args... args) {
    ComPtr<Interface> target = FirstFilterWith<Interface>();
    if (!target) {
        return E_NOTIMPL;
    }
    return (target.Get()->*method)(args...);
}

HRESULT CFilterGraph::put_Volume(LONG volume) {
    return ForwardToFirst(&IBasicAudio::put_Volume, volume);
}
HRESULT CFilterGraph::get_Volume(LONG* volume) {
    return ForwardToFirst(&IBasicAudio::get_Volume, volume);
}
HRESULT CFilterGraph::put_Balance(LONG balance) {
    return ForwardToFirst(&IBasicAudio::put_Balance, balance);
}
HRESULT CFilterGraph::get_Balance(LONG* balance) {
    return ForwardToFirst(&IBasicAudio::get_Balance, balance);
}

HRESULT CFilterGraph::get_AvgTimePerFrame(REFTIME* time) {
    return ForwardToFirst(&IBasicVideo::get_AvgTimePerFrame, time);
}
HRESULT CFilterGraph::get_BitRate(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_BitRate, value);
}
HRESULT CFilterGraph::get_BitErrorRate(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_BitErrorRate, value);
}
HRESULT CFilterGraph::get_VideoWidth(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_VideoWidth, value);
}
HRESULT CFilterGraph::get_VideoHeight(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_VideoHeight, value);
}
HRESULT CFilterGraph::put_SourceLeft(LONG value) {
    return ForwardToFirst(&IBasicVideo::put_SourceLeft, value);
}
HRESULT CFilterGraph::get_SourceLeft(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_SourceLeft, value);
}
HRESULT CFilterGraph::put_SourceWidth(LONG value) {
    return ForwardToFirst(&IBasicVideo::put_SourceWidth, value);
}
HRESULT CFilterGraph::get_SourceWidth(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_SourceWidth, value);
}
HRESULT CFilterGraph::put_SourceTop(LONG value) {
    return ForwardToFirst(&IBasicVideo::put_SourceTop, value);
}
HRESULT CFilterGraph::get_SourceTop(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_SourceTop, value);
}
HRESULT CFilterGraph::put_SourceHeight(LONG value) {
    return ForwardToFirst(&IBasicVideo::put_SourceHeight, value);
}
HRESULT CFilterGraph::get_SourceHeight(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_SourceHeight, value);
}
HRESULT CFilterGraph::put_DestinationLeft(LONG value) {
    return ForwardToFirst(&IBasicVideo::put_DestinationLeft, value);
}
HRESULT CFilterGraph::get_DestinationLeft(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_DestinationLeft, value);
}
HRESULT CFilterGraph::put_DestinationWidth(LONG value) {
    return ForwardToFirst(&IBasicVideo::put_DestinationWidth, value);
}
HRESULT CFilterGraph::get_DestinationWidth(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_DestinationWidth, value);
}
HRESULT CFilterGraph::put_DestinationTop(LONG value) {
    return ForwardToFirst(&IBasicVideo::put_DestinationTop, value);
}
HRESULT CFilterGraph::get_DestinationTop(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_DestinationTop, value);
}
HRESULT CFilterGraph::put_DestinationHeight(LONG value) {
    return ForwardToFirst(&IBasicVideo::put_DestinationHeight, value);
}
HRESULT CFilterGraph::get_DestinationHeight(LONG* value) {
    return ForwardToFirst(&IBasicVideo::get_DestinationHeight, value);
}
HRESULT CFilterGraph::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
    return ForwardToFirst(&IBasicVideo::SetSourcePosition, left, top, width, height);
}
HRESULT CFilterGraph::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    return ForwardToFirst(&IBasicVideo::GetSourcePosition, left, top, width, height);
}
HRESULT CFilterGraph::SetDefaultSourcePosition() {
    return ForwardToFirst(&IBasicVideo::SetDefaultSourcePosition);
}
HRESULT CFilterGraph::SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) {
    return ForwardToFirst(&IBasicVideo::SetDestinationPosition, left, top, width, height);
}
HRESULT CFilterGraph::GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    return ForwardToFirst(&IBasicVideo::GetDestinationPosition, left, top, width, height);
}
HRESULT CFilterGraph::SetDefaultDestinationPosition() {
    return ForwardToFirst(&IBasicVideo::SetDefaultDestinationPosition);
}
HRESULT CFilterGraph::GetVideoSize(LONG* width, LONG* height) {
    return ForwardToFirst(&IBasicVideo::GetVideoSize, width, height);
}
HRESULT CFilterGraph::GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved,
                                             LONG* palette) {
    return ForwardToFirst(&IBasicVideo::GetVideoPaletteEntries, start, count, retrieved, palette);
}
HRESULT CFilterGraph::GetCurrentImage(LONG* bufferSize, LONG* image) {
    return ForwardToFirst(&IBasicVideo::GetCurrentImage, bufferSize, image);
}
HRESULT CFilterGraph::IsUsingDefaultSource() {
    return ForwardToFirst(&IBasicVideo::IsUsingDefaultSource);
}
HRESULT CFilterGraph::IsUsingDefaultDestination() {
    return ForwardToFirst(&IBasicVideo::IsUsingDefaultDestination);
}
HRESULT CFilterGraph::GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) {
    return ForwardToFirst(&IBasicVideo2::GetPreferredAspectRatio, aspectX, aspectY);
}
