#include "platform/dshow/CBasePin.h"

#include <algorithm>
#include <cstring>

#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/CEnumPins.h"

CBasePin::CBasePin(const char16_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT*,
                   LPCWSTR name, PIN_DIRECTION direction)
    : CUnknown(objectName, nullptr),
      m_dir(direction),
      m_pLock(lock),
      m_pFilter(filter),
      pinName(name ? name : u"") {}

CBasePin::~CBasePin() {
    // A pin goes with its filter, by which time the graph has disconnected it; a pin still
    // connected (a filter used outside a graph) lets its peer go here.
    if (m_Connected) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IPin) {
        return GetInterface(static_cast<IPin*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

ULONG CBasePin::NonDelegatingAddRef() {
    return m_pFilter->AddRef();
}

ULONG CBasePin::NonDelegatingRelease() {
    return m_pFilter->Release();
}

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) {
    if (!receivePin) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    if (m_Connected) {
        return VFW_E_ALREADY_CONNECTED;
    }
    if (!IsStopped() && !m_bCanReconnectWhenActive) {
        return VFW_E_NOT_STOPPED;
    }
    const HRESULT hr = AgreeMediaType(receivePin, AsMediaType(mediaType));
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* mediaType) {
    // A complete type allows only that type.
    if (mediaType && !mediaType->IsPartiallySpecified()) {
        return AttemptConnection(receivePin, mediaType);
    }
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        ComPtr<IEnumMediaTypes> enumerator;
        HRESULT hr;
        if (pass == (m_bTryMyTypesFirst ? 1 : 0)) {
            hr = receivePin->EnumMediaTypes(enumerator.GetAddressOf());
        } else {
            hr = EnumMediaTypes(enumerator.GetAddressOf());
        }
        if (FAILED(hr) || !enumerator) {
            continue;
        }
        hr = TryMediaTypes(receivePin, mediaType, enumerator.Get());
        if (SUCCEEDED(hr)) {
            return S_OK;
        }
        if (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED) {
            failure = hr;
        }
    }
    return failure;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* partial,
                                IEnumMediaTypes* enumerator) {
    HRESULT hr = enumerator->Reset();
    if (FAILED(hr)) {
        return hr;
    }
    HRESULT failure = S_OK;
    for (;;) {
        AM_MEDIA_TYPE* candidate = nullptr;
        ULONG fetched = 0;
        hr = enumerator->Next(1, &candidate, &fetched);
        if (hr != S_OK || fetched != 1 || !candidate) {
            DeleteMediaType(candidate);
            return failure == S_OK ? VFW_E_NO_ACCEPTABLE_TYPES : failure;
        }
        const CMediaType* type = AsMediaType(candidate);
        if (!partial || type->MatchesPartial(partial)) {
            hr = AttemptConnection(receivePin, type);
            if (FAILED(hr) && SUCCEEDED(failure) && hr != E_FAIL && hr != E_INVALIDARG &&
                hr != VFW_E_TYPE_NOT_ACCEPTED) {
                failure = hr;
            }
        } else {
            hr = VFW_E_NO_ACCEPTABLE_TYPES;
        }
        DeleteMediaType(candidate);
        if (hr == S_OK) {
            return S_OK;
        }
    }
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* mediaType) {
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(mediaType);
    if (hr == S_OK) {
        m_Connected = receivePin;
        m_Connected->AddRef();
        hr = SetMediaType(mediaType);
        if (SUCCEEDED(hr)) {
            hr = receivePin->ReceiveConnection(this, mediaType);
            if (SUCCEEDED(hr)) {
                hr = CompleteConnect(receivePin);
                if (SUCCEEDED(hr)) {
                    return hr;
                }
                receivePin->Disconnect();
            }
        }
    } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
        // S_FALSE and the general failures say the same: not this type.
        hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (m_Connected) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
    BreakConnect();
    return hr;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mediaType) {
    if (!connector || !mediaType) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    if (m_Connected) {
        return VFW_E_ALREADY_CONNECTED;
    }
    if (!IsStopped() && !m_bCanReconnectWhenActive) {
        return VFW_E_NOT_STOPPED;
    }
    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const CMediaType* type = AsMediaType(mediaType);
    hr = CheckMediaType(type);
    if (hr != S_OK) {
        BreakConnect();
        if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
            hr = VFW_E_TYPE_NOT_ACCEPTED;
        }
        return hr;
    }
    m_Connected = connector;
    m_Connected->AddRef();
    hr = SetMediaType(type);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(connector);
        if (SUCCEEDED(hr)) {
            return S_OK;
        }
    }
    m_Connected->Release();
    m_Connected = nullptr;
    BreakConnect();
    return hr;
}

HRESULT CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) {
        return VFW_E_NOT_STOPPED;
    }
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
    if (!m_Connected) {
        return S_FALSE;
    }
    const HRESULT hr = BreakConnect();
    if (FAILED(hr)) {
        return hr;
    }
    m_Connected->Release();
    m_Connected = nullptr;
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pin) {
    if (!pin) {
        return E_POINTER;
    }
    *pin = m_Connected;
    if (!*pin) {
        return VFW_E_NOT_CONNECTED;
    }
    (*pin)->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mediaType) {
    if (!mediaType) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    if (m_Connected) {
        return CopyMediaType(mediaType, &m_mt);
    }
    std::memset(mediaType, 0, sizeof(*mediaType));
    mediaType->bFixedSizeSamples = TRUE;
    mediaType->lSampleSize = 1;
    return VFW_E_NOT_CONNECTED;
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) {
        return E_POINTER;
    }
    info->pFilter = m_pFilter;
    if (m_pFilter) {
        m_pFilter->AddRef();
    }
    const size_t length = std::min<size_t>(pinName.size(), MAX_PIN_NAME - 1);
    std::copy_n(pinName.data(), length, info->achName);
    info->achName[length] = 0;
    info->dir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) {
        return E_POINTER;
    }
    *direction = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) {
    return AMGetWideString(pinName.c_str(), id);
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* mediaType) {
    if (!mediaType) {
        return E_POINTER;
    }
    const HRESULT hr = CheckMediaType(AsMediaType(mediaType));
    return FAILED(hr) ? S_FALSE : hr;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    return CEnumMediaTypes::Create(u"Media type enumerator", CPinMediaTypeSource(this), enumerator);
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

HRESULT CBasePin::EndOfStream() {
    return S_OK;
}

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    m_tStart = start;
    m_tStop = stop;
    m_dRate = rate;
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* mediaType) {
    if (!mediaType) {
        return E_POINTER;
    }
    return m_mt.Set(*mediaType);
}

HRESULT CBasePin::CheckConnect(IPin* pin) {
    PIN_DIRECTION direction;
    const HRESULT hr = pin->QueryDirection(&direction);
    if (FAILED(hr)) {
        return hr;
    }
    return direction == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() {
    return S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin*) {
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int, CMediaType*) {
    return E_UNEXPECTED;
}

LONG CBasePin::GetMediaTypeVersion() {
    return m_TypeVersion;
}

void CBasePin::IncrementTypeVersion() {
    ++m_TypeVersion;
}

HRESULT CBasePin::Active() {
    return S_OK;
}

HRESULT CBasePin::Inactive() {
    m_bRunTimeError = false;
    return S_OK;
}

HRESULT CBasePin::Run(REFERENCE_TIME) {
    return S_OK;
}
