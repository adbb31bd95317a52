#include "platform/dshow/CEnumPins.h"

#include <algorithm>

#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBasePin.h"

CFilterPinSource::CFilterPinSource(CBaseFilter* filter) : filter(filter) {
    Refresh();
}

HRESULT CFilterPinSource::Fetch(size_t index, IPin** pin) const {
    CBasePin* found = index < pinCount ? filter->GetPin(static_cast<int>(index)) : nullptr;
    if (!found) {
        return S_FALSE;
    }
    found->AddRef();
    *pin = found;
    return S_OK;
}

HRESULT CFilterPinSource::CheckSync() const {
    return filter->GetPinVersion() == version ? S_OK : VFW_E_ENUM_OUT_OF_SYNC;
}

void CFilterPinSource::Refresh() {
    pinCount = static_cast<size_t>(std::max(filter->GetPinCount(), 0));
    version = filter->GetPinVersion();
}

CPinMediaTypeSource::CPinMediaTypeSource(CBasePin* pin) : pin(pin) {
    Refresh();
}

bool CPinMediaTypeSource::Has(size_t index) const {
    CMediaType type;
    return pin->GetMediaType(static_cast<int>(index), &type) == S_OK;
}

HRESULT CPinMediaTypeSource::Fetch(size_t index, AM_MEDIA_TYPE** type) const {
    CMediaType offered;
    const HRESULT hr = pin->GetMediaType(static_cast<int>(index), &offered);
    if (hr != S_OK) {
        return hr;
    }
    *type = CreateMediaType(&offered);
    return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT CPinMediaTypeSource::CheckSync() const {
    return pin->GetMediaTypeVersion() == version ? S_OK : VFW_E_ENUM_OUT_OF_SYNC;
}

void CPinMediaTypeSource::Refresh() {
    version = pin->GetMediaTypeVersion();
}
