#include "platform/dshow/CEnumPins.h"

#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBasePin.h"

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* copied)
    : CUnknown(u"Pin enumerator", nullptr), filter(filter) {
    filter->AddRef();
    if (copied) {
        position = copied->position;
        pinCount = copied->pinCount;
        version = copied->version;
    } else {
        pinCount = filter->GetPinCount();
        version = filter->GetPinVersion();
    }
}

CEnumPins::~CEnumPins() {
    filter->Release();
}

HRESULT CEnumPins::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IEnumPins) {
        return GetInterface(static_cast<IEnumPins*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

bool CEnumPins::AreWeOutOfSync() {
    return filter->GetPinVersion() != version;
}

HRESULT CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
    if (!pins) {
        return E_POINTER;
    }
    if (!fetched && count != 1) {
        return E_INVALIDARG;
    }
    if (fetched) {
        *fetched = 0;
    }
    if (AreWeOutOfSync()) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    ULONG done = 0;
    while (done < count && position < pinCount) {
        CBasePin* pin = filter->GetPin(position++);
        if (!pin) {
            break;
        }
        pin->AddRef();
        pins[done++] = pin;
    }
    if (fetched) {
        *fetched = done;
    }
    return done == count ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG count) {
    if (AreWeOutOfSync()) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    const ULONG left = static_cast<ULONG>(pinCount - position);
    if (count > left) {
        return S_FALSE;
    }
    position += static_cast<int>(count);
    return S_OK;
}

HRESULT CEnumPins::Reset() {
    position = 0;
    pinCount = filter->GetPinCount();
    version = filter->GetPinVersion();
    return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins** clone) {
    if (!clone) {
        return E_POINTER;
    }
    *clone = nullptr;
    if (AreWeOutOfSync()) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    try {
        auto* copy = new CEnumPins(filter, this);
        return copy->NonDelegatingQueryInterface(IID_IEnumPins, reinterpret_cast<void**>(clone));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* copied)
    : CUnknown(u"Media type enumerator", nullptr), pin(pin) {
    pin->AddRef();
    if (copied) {
        position = copied->position;
        version = copied->version;
    } else {
        version = pin->GetMediaTypeVersion();
    }
}

CEnumMediaTypes::~CEnumMediaTypes() {
    pin->Release();
}

HRESULT CEnumMediaTypes::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IEnumMediaTypes) {
        return GetInterface(static_cast<IEnumMediaTypes*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

bool CEnumMediaTypes::AreWeOutOfSync() {
    return pin->GetMediaTypeVersion() != version;
}

HRESULT CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    if (!types) {
        return E_POINTER;
    }
    if (!fetched && count != 1) {
        return E_INVALIDARG;
    }
    if (fetched) {
        *fetched = 0;
    }
    if (AreWeOutOfSync()) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    ULONG done = 0;
    while (done < count) {
        CMediaType type;
        if (pin->GetMediaType(position, &type) != S_OK) {
            break;
        }
        AM_MEDIA_TYPE* copy = CreateMediaType(&type);
        if (!copy) {
            break;
        }
        ++position;
        types[done++] = copy;
    }
    if (fetched) {
        *fetched = done;
    }
    return done == count ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG count) {
    if (AreWeOutOfSync()) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    while (count > 0) {
        CMediaType type;
        if (pin->GetMediaType(position, &type) != S_OK) {
            return S_FALSE;
        }
        ++position;
        --count;
    }
    return S_OK;
}

HRESULT CEnumMediaTypes::Reset() {
    position = 0;
    version = pin->GetMediaTypeVersion();
    return S_OK;
}

HRESULT CEnumMediaTypes::Clone(IEnumMediaTypes** clone) {
    if (!clone) {
        return E_POINTER;
    }
    *clone = nullptr;
    if (AreWeOutOfSync()) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    try {
        auto* copy = new CEnumMediaTypes(pin, this);
        return copy->NonDelegatingQueryInterface(IID_IEnumMediaTypes,
                                                 reinterpret_cast<void**>(clone));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
