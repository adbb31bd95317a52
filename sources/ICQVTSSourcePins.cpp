#include "sources/ICQVTSSourcePins.h"

#include "platform/com/TaskAllocator.h"
#include "platform/dshow/DShowGuids.h"
#include "sources/ICQVTSSource.h"

namespace {

HRESULT TransportType(const GUID& subtype, CMediaType* mediaType) {
    mediaType->InitMediaType();
    mediaType->SetType(&MEDIATYPE_Stream);
    mediaType->SetSubtype(&subtype);
    mediaType->SetFormatType(&FORMAT_None);
    mediaType->SetVariableSize();
    return S_OK;
}

}  // namespace

// --- input

ICQVTSSourceInputPin::ICQVTSSourceInputPin(ICQVTSSource* filter, HRESULT* hr)
    : ICTransformInputPin(u"ICQVTSSourceInputPin", filter, hr, u"Input") {}

HRESULT ICQVTSSourceInputPin::QueryId(LPWSTR* id) {
    return AMGetWideString(u"In", id);
}

HRESULT ICQVTSSourceInputPin::CheckMediaType(const CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    const bool transport = *mediaType->Subtype() == MEDIASUBTYPE_MPEG2_TRANSPORT ||
                           *mediaType->Subtype() == KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT;
    return *mediaType->Type() == MEDIATYPE_Stream && transport ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT ICQVTSSourceInputPin::GetMediaType(int position, CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    if (position < 0) {
        return E_INVALIDARG;
    }
    if (position == 0) {
        return TransportType(KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT, mediaType);
    }
    if (position == 1) {
        return TransportType(MEDIASUBTYPE_MPEG2_TRANSPORT, mediaType);
    }
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT ICQVTSSourceInputPin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    // The pin's own types, not the output's as an in-place transform would offer.
    return CBasePin::EnumMediaTypes(enumerator);
}

// --- output

ICQVTSSourceOutputPin::ICQVTSSourceOutputPin(ICQVTSSource* filter, HRESULT* hr)
    : ICTransformOutputPin(u"ICQVTSSourceOutputPin", filter, hr, u"Output"),
      CSourceSeeking(u"ICQVTSSourceSeeking", static_cast<IPin*>(this), hr, &seekingLock),
      source(filter) {
    SetBufferSize(ICQVTSSource::kOutputSampleSize);
    SetUseDeliveryThread(true);
}

HRESULT ICQVTSSourceOutputPin::QueryInterface(REFIID iid, void** object) {
    return ICTransformOutputPin::GetOwner()->QueryInterface(iid, object);
}

ULONG ICQVTSSourceOutputPin::AddRef() {
    return ICTransformOutputPin::GetOwner()->AddRef();
}

ULONG ICQVTSSourceOutputPin::Release() {
    return ICTransformOutputPin::GetOwner()->Release();
}

HRESULT ICQVTSSourceOutputPin::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IMediaSeeking) {
        return CSourceSeeking::NonDelegatingQueryInterface(iid, object);
    }
    return ICTransformOutputPin::NonDelegatingQueryInterface(iid, object);
}

HRESULT ICQVTSSourceOutputPin::QueryId(LPWSTR* id) {
    return AMGetWideString(u"Out", id);
}

HRESULT ICQVTSSourceOutputPin::CheckMediaType(const CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    return *mediaType->Type() == MEDIATYPE_Stream &&
                   *mediaType->Subtype() == MEDIASUBTYPE_MPEG2_TRANSPORT
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT ICQVTSSourceOutputPin::SetMediaType(const CMediaType* mediaType) {
    // Whatever was agreed, the pin carries the plain transport stream.
    HRESULT hr = ICTransformOutputPin::SetMediaType(mediaType);
    m_mt.SetType(&MEDIATYPE_Stream);
    m_mt.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    return hr;
}

HRESULT ICQVTSSourceOutputPin::GetMediaType(int position, CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    if (position < 0) {
        return E_INVALIDARG;
    }
    if (position > 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    return TransportType(MEDIASUBTYPE_MPEG2_TRANSPORT, mediaType);
}

HRESULT ICQVTSSourceOutputPin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    return CBasePin::EnumMediaTypes(enumerator);
}

HRESULT ICQVTSSourceOutputPin::CheckConnect(IPin* pin) {
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT ICQVTSSourceOutputPin::CompleteConnect(IPin* receivePin) {
    return CBaseOutputPin::CompleteConnect(receivePin);
}

void ICQVTSSourceOutputPin::SetFileDuration(REFERENCE_TIME duration) {
    CAutoLock lock(&seekingLock);
    m_rtStart = 0;
    m_rtDuration = duration;
    m_rtStop = duration;
}

REFERENCE_TIME ICQVTSSourceOutputPin::GetStartPosition() {
    CAutoLock lock(&seekingLock);
    return m_rtStart;
}

HRESULT ICQVTSSourceOutputPin::ChangeStart() {
    return source->Seek(GetStartPosition());
}
