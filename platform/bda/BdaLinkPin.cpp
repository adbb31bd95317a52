#include "platform/bda/BdaLinkPin.h"

#include "platform/bda/BdaInterfaces.h"

namespace {

CMediaType LinkType(BdaLinkKind kind) {
    CMediaType type;
    if (kind == BdaLinkKind::Antenna) {
        type.SetType(&KSDATAFORMAT_TYPE_BDA_ANTENNA);
        type.SetSubtype(&MEDIASUBTYPE_None);
        type.SetFormatType(&FORMAT_None);
    } else {
        type.SetType(&MEDIATYPE_Stream);
        type.SetSubtype(&KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT);
        type.SetFormatType(&KSDATAFORMAT_SPECIFIER_BDA_TRANSPORT);
    }
    type.SetVariableSize();
    return type;
}

}  // namespace

CBdaLinkPin::CBdaLinkPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name,
                         PIN_DIRECTION direction, BdaLinkKind kind)
    : CBasePin(u"Broadcast-driver link pin", filter, lock, hr, name, direction), kind(kind) {}

HRESULT CBdaLinkPin::CheckMediaType(const CMediaType* mediaType) {
    if (!mediaType) {
        return E_POINTER;
    }
    const CMediaType own = LinkType(kind);
    const bool same = *mediaType->Type() == *own.Type() &&
                      *mediaType->Subtype() == *own.Subtype() &&
                      *mediaType->FormatType() == *own.FormatType();
    return same ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CBdaLinkPin::GetMediaType(int position, CMediaType* mediaType) {
    if (position < 0) {
        return E_INVALIDARG;
    }
    if (position > 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    *mediaType = LinkType(kind);
    return S_OK;
}

ComPtr<IBaseFilter> CBdaLinkPin::ConnectedFilter() {
    CAutoLock lock(m_pLock);
    PIN_INFO info{};
    if (!m_Connected || FAILED(m_Connected->QueryPinInfo(&info))) {
        return nullptr;
    }
    return ComPtr<IBaseFilter>::Attach(info.pFilter);  // QueryPinInfo gave a reference
}
