#include "sianalyzer/ICQVSIAnalyzerInputPin.h"

#include "platform/com/TaskAllocator.h"
#include "platform/dshow/DShowGuids.h"
#include "sianalyzer/ICQVSIAnalyzer.h"
#include "sianalyzer/ICQVSIAnalyzerOutputPin.h"

ICQVSIAnalyzerInputPin::ICQVSIAnalyzerInputPin(ICQVSIAnalyzer* filter, HRESULT* hr)
    : ICTransformInputPin(u"ICQVSIAnalyzerInputPin", filter, hr, u"Input") {}

HRESULT ICQVSIAnalyzerInputPin::QueryId(LPWSTR* id) {
    return AMGetWideString(Name().c_str(), id);
}

HRESULT ICQVSIAnalyzerInputPin::CheckMediaType(const CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    return *mediaType->Type() == MEDIATYPE_Stream &&
                   *mediaType->Subtype() == MEDIASUBTYPE_MPEG2_TRANSPORT
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT ICQVSIAnalyzerInputPin::GetMediaType(int position, CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    if (position < 0) {
        return E_INVALIDARG;
    }
    if (position > 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    return ICQVSIAnalyzerMediaType(ICQVSIAnalyzerPinKind::kTS, 0, mediaType);
}

HRESULT ICQVSIAnalyzerInputPin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    // The pin's own type, not the downstream pins' as an in-place transform would offer.
    return CBasePin::EnumMediaTypes(enumerator);
}

HRESULT ICQVSIAnalyzerInputPin::CompleteConnect(IPin* receivePin) {
    HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
    if (FAILED(hr)) {
        return hr;
    }
    return transformFilter->CompleteConnect(PINDIR_INPUT, receivePin);
}

HRESULT ICQVSIAnalyzerInputPin::ReceiveCanBlock() {
    return S_OK;
}
