#include "platform/dshow/CPosPassThru.h"

#include <new>

#include "platform/com/ComPtr.h"

CPosPassThru::CPosPassThru(const char16_t* objectName, IUnknown* outer, HRESULT*, IPin* pin)
    : CUnknown(objectName, outer), pin(pin) {}

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IMediaSeeking) {
        return GetInterface(static_cast<IMediaSeeking*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking** seeking) {
    *seeking = nullptr;
    ComPtr<IPin> connected;
    if (!pin || FAILED(pin->ConnectedTo(connected.GetAddressOf()))) {
        return VFW_E_NOT_CONNECTED;
    }
    if (FAILED(connected->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(seeking)))) {
        *seeking = nullptr;
        return E_NOTIMPL;
    }
    return S_OK;
}

// Each method forwards its arguments to the peer's method of the same name.
#define ORV_FORWARD_SEEKING(call)                                   \
    ComPtr<IMediaSeeking> peer;                                     \
    const HRESULT peerResult = GetPeerSeeking(peer.GetAddressOf()); \
    if (FAILED(peerResult)) {                                       \
        return peerResult;                                          \
    }                                                               \
    return peer->call

HRESULT CPosPassThru::GetCapabilities(DWORD* capabilities) {
    ORV_FORWARD_SEEKING(GetCapabilities(capabilities));
}
HRESULT CPosPassThru::CheckCapabilities(DWORD* capabilities) {
    ORV_FORWARD_SEEKING(CheckCapabilities(capabilities));
}
HRESULT CPosPassThru::IsFormatSupported(const GUID* format) {
    ORV_FORWARD_SEEKING(IsFormatSupported(format));
}
HRESULT CPosPassThru::QueryPreferredFormat(GUID* format) {
    ORV_FORWARD_SEEKING(QueryPreferredFormat(format));
}
HRESULT CPosPassThru::GetTimeFormat(GUID* format) {
    ORV_FORWARD_SEEKING(GetTimeFormat(format));
}
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* format) {
    ORV_FORWARD_SEEKING(IsUsingTimeFormat(format));
}
HRESULT CPosPassThru::SetTimeFormat(const GUID* format) {
    ORV_FORWARD_SEEKING(SetTimeFormat(format));
}
HRESULT CPosPassThru::GetDuration(LONGLONG* duration) {
    ORV_FORWARD_SEEKING(GetDuration(duration));
}
HRESULT CPosPassThru::GetStopPosition(LONGLONG* stop) {
    ORV_FORWARD_SEEKING(GetStopPosition(stop));
}
HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* current) {
    ORV_FORWARD_SEEKING(GetCurrentPosition(current));
}
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                        const GUID* sourceFormat) {
    ORV_FORWARD_SEEKING(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
HRESULT CPosPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                   DWORD stopFlags) {
    ORV_FORWARD_SEEKING(SetPositions(current, currentFlags, stop, stopFlags));
}
HRESULT CPosPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) {
    ORV_FORWARD_SEEKING(GetPositions(current, stop));
}
HRESULT CPosPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    ORV_FORWARD_SEEKING(GetAvailable(earliest, latest));
}
HRESULT CPosPassThru::SetRate(double rate) {
    ORV_FORWARD_SEEKING(SetRate(rate));
}
HRESULT CPosPassThru::GetRate(double* rate) {
    ORV_FORWARD_SEEKING(GetRate(rate));
}
HRESULT CPosPassThru::GetPreroll(LONGLONG* preroll) {
    ORV_FORWARD_SEEKING(GetPreroll(preroll));
}

#undef ORV_FORWARD_SEEKING

HRESULT CreatePosPassThru(IUnknown* outer, BOOL, IPin* pin, IUnknown** passThru) {
    if (!passThru) {
        return E_POINTER;
    }
    *passThru = nullptr;
    auto* created = new (std::nothrow) CPosPassThru(u"Seeking pass-through", outer, nullptr, pin);
    if (!created) {
        return E_OUTOFMEMORY;
    }
    // The aggregating object holds the inner unknown.
    return created->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(passThru));
}
