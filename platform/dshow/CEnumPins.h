#pragma once

#include <cstddef>

#include "platform/com/CEnumList.h"
#include "platform/dshow/DShowInterfaces.h"

class CBaseFilter;
class CBasePin;

// The pins of a filter, asked for one at a time (CBaseFilter::GetPin). The count and the pin
// version are taken at the start and at each Reset; once the filter's pin set has changed,
// the enumerator answers VFW_E_ENUM_OUT_OF_SYNC until Reset.
class CFilterPinSource {
public:
    using Element = IPin*;

    explicit CFilterPinSource(CBaseFilter* filter);

    bool Has(size_t index) const { return index < pinCount; }
    HRESULT Fetch(size_t index, IPin** pin) const;
    HRESULT CheckSync() const;
    void Refresh();

private:
    ComPtr<CBaseFilter> filter;
    size_t pinCount = 0;
    LONG version = 0;
};

// A pin's preferred media types (CBasePin::GetMediaType), handed out as copies the caller
// deletes. Out of sync in the same way when the pin's type version changes.
class CPinMediaTypeSource {
public:
    using Element = AM_MEDIA_TYPE*;

    explicit CPinMediaTypeSource(CBasePin* pin);

    bool Has(size_t index) const;
    HRESULT Fetch(size_t index, AM_MEDIA_TYPE** type) const;
    HRESULT CheckSync() const;
    void Refresh();

private:
    ComPtr<CBasePin> pin;
    LONG version = 0;
};

using CEnumPins = CEnumList<IEnumPins, CFilterPinSource>;
using CEnumMediaTypes = CEnumList<IEnumMediaTypes, CPinMediaTypeSource>;
