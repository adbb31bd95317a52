#include "caption/ICQVCaptionPins.h"

#include "caption/ICQVCaption.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/DShowGuids.h"

HRESULT ICQVCaptionMediaType(int position, CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    if (position < 0) {
        return E_INVALIDARG;
    }
    if (position > 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    mediaType->InitMediaType();
    mediaType->SetType(&MEDIATYPE_Stream);
    mediaType->SetSubtype(&MEDIASUBTYPE_None);
    return S_OK;
}

HRESULT ICQVCaptionCheckMediaType(const CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    return *mediaType->Type() == MEDIATYPE_Stream && *mediaType->Subtype() == MEDIASUBTYPE_None
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

// --- input

ICQVCaptionInputPin::ICQVCaptionInputPin(ICQVCaption* filter, HRESULT* hr)
    : ICTransformInputPin(u"ICQVCaptionInputPin", filter, hr, u"Input") {}

HRESULT ICQVCaptionInputPin::QueryId(LPWSTR* id) {
    return AMGetWideString(u"In", id);
}

HRESULT ICQVCaptionInputPin::CheckMediaType(const CMediaType* mediaType) {
    return ICQVCaptionCheckMediaType(mediaType);
}

HRESULT ICQVCaptionInputPin::GetMediaType(int position, CMediaType* mediaType) {
    return ICQVCaptionMediaType(position, mediaType);
}

HRESULT ICQVCaptionInputPin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    // The pin's own type, not the output's as an in-place transform would offer.
    return CBasePin::EnumMediaTypes(enumerator);
}

// --- output

ICQVCaptionOutputPin::ICQVCaptionOutputPin(ICQVCaption* filter, HRESULT* hr)
    : ICTransformOutputPin(u"ICQVCaptionOutputPin", filter, hr, u"Output") {
    SetBufferSize(kBufferSize);
    SetUseDeliveryThread(true);
}

HRESULT ICQVCaptionOutputPin::QueryId(LPWSTR* id) {
    return AMGetWideString(u"Out", id);
}

HRESULT ICQVCaptionOutputPin::CheckMediaType(const CMediaType* mediaType) {
    return ICQVCaptionCheckMediaType(mediaType);
}

HRESULT ICQVCaptionOutputPin::GetMediaType(int position, CMediaType* mediaType) {
    return ICQVCaptionMediaType(position, mediaType);
}

HRESULT ICQVCaptionOutputPin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    return CBasePin::EnumMediaTypes(enumerator);
}

HRESULT ICQVCaptionOutputPin::CheckConnect(IPin* pin) {
    // The output carries data groups whatever the input is connected to.
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT ICQVCaptionOutputPin::CompleteConnect(IPin* receivePin) {
    return CBaseOutputPin::CompleteConnect(receivePin);
}
