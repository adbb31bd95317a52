#include "platform/dshow/CMediaType.h"

#include <cstring>

#include "platform/com/TaskAllocator.h"

void FreeMediaType(AM_MEDIA_TYPE& mediaType) {
    if (mediaType.cbFormat != 0 || mediaType.pbFormat) {
        CoTaskMemFree(mediaType.pbFormat);
        mediaType.cbFormat = 0;
        mediaType.pbFormat = nullptr;
    }
    if (mediaType.pUnk) {
        mediaType.pUnk->Release();
        mediaType.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* mediaType) {
    if (mediaType) {
        FreeMediaType(*mediaType);
        CoTaskMemFree(mediaType);
    }
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
    if (!source) {
        return nullptr;
    }
    auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!copy) {
        return nullptr;
    }
    if (FAILED(CopyMediaType(copy, source))) {
        CoTaskMemFree(copy);
        return nullptr;
    }
    return copy;
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* destination, const AM_MEDIA_TYPE* source) {
    if (!destination || !source) {
        return E_POINTER;
    }
    *destination = *source;
    if (source->cbFormat != 0 && source->pbFormat) {
        destination->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (!destination->pbFormat) {
            destination->cbFormat = 0;
            destination->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(destination->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        destination->cbFormat = 0;
        destination->pbFormat = nullptr;
    }
    if (destination->pUnk) {
        destination->pUnk->AddRef();
    }
    return S_OK;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE{} {
    InitMediaType();
}

CMediaType::CMediaType(const GUID* majorType) : CMediaType() {
    if (majorType) {
        majortype = *majorType;
    }
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE{} {
    if (FAILED(CopyMediaType(this, &other))) {
        InitMediaType();
    }
}

CMediaType::CMediaType(const CMediaType& other)
    : CMediaType(static_cast<const AM_MEDIA_TYPE&>(other)) {}

CMediaType& CMediaType::operator=(const CMediaType& other) {
    Set(other);
    return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
    Set(other);
    return *this;
}

CMediaType::~CMediaType() {
    FreeMediaType(*this);
}

bool CMediaType::operator==(const CMediaType& other) const {
    if (majortype != other.majortype || subtype != other.subtype ||
        formattype != other.formattype || cbFormat != other.cbFormat) {
        return false;
    }
    return cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0;
}

HRESULT CMediaType::Set(const CMediaType& other) {
    return Set(static_cast<const AM_MEDIA_TYPE&>(other));
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& other) {
    if (&other == this) {
        return S_OK;
    }
    AM_MEDIA_TYPE copy;
    const HRESULT hr = CopyMediaType(&copy, &other);
    if (FAILED(hr)) {
        return hr;
    }
    FreeMediaType(*this);
    static_cast<AM_MEDIA_TYPE&>(*this) = copy;
    return S_OK;
}

bool CMediaType::IsValid() const {
    return majortype != GUID_NULL;
}

ULONG CMediaType::GetSampleSize() const {
    return IsFixedSize() ? lSampleSize : 0;
}

void CMediaType::SetSampleSize(ULONG size) {
    if (size == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

void CMediaType::SetVariableSize() {
    bFixedSizeSamples = FALSE;
}

void CMediaType::SetTemporalCompression(bool compressed) {
    bTemporalCompression = compressed ? TRUE : FALSE;
}

bool CMediaType::SetFormat(const BYTE* format, ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return true;
    }
    BYTE* block = AllocFormatBuffer(length);
    if (!block) {
        return false;
    }
    if (format) {
        std::memcpy(block, format, length);
    }
    return true;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    if (cbFormat == length && pbFormat) {
        return pbFormat;
    }
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) {
        return nullptr;
    }
    CoTaskMemFree(pbFormat);
    pbFormat = block;
    cbFormat = length;
    return block;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) {
        return nullptr;
    }
    if (pbFormat && cbFormat != 0) {
        std::memcpy(block, pbFormat, cbFormat < length ? cbFormat : length);
    }
    CoTaskMemFree(pbFormat);
    pbFormat = block;
    cbFormat = length;
    return block;
}

void CMediaType::ResetFormatBuffer() {
    CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

void CMediaType::InitMediaType() {
    ResetFormatBuffer();
    if (pUnk) {
        pUnk->Release();
    }
    majortype = GUID_NULL;
    subtype = GUID_NULL;
    formattype = GUID_NULL;
    pUnk = nullptr;
    lSampleSize = 1;
    bFixedSizeSamples = TRUE;
    bTemporalCompression = FALSE;
}

bool CMediaType::IsPartiallySpecified() const {
    return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

bool CMediaType::MatchesPartial(const CMediaType* partial) const {
    if (!partial) {
        return true;
    }
    if (partial->majortype != GUID_NULL && majortype != partial->majortype) {
        return false;
    }
    if (partial->subtype != GUID_NULL && subtype != partial->subtype) {
        return false;
    }
    if (partial->formattype != GUID_NULL) {
        if (formattype != partial->formattype || cbFormat != partial->cbFormat) {
            return false;
        }
        if (cbFormat != 0 && std::memcmp(pbFormat, partial->pbFormat, cbFormat) != 0) {
            return false;
        }
    }
    return true;
}
