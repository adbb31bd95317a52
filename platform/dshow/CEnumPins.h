#pragma once

#include "platform/com/CUnknown.h"
#include "platform/dshow/DShowInterfaces.h"

class CBaseFilter;
class CBasePin;

// Enumerates a filter's pins. When the filter's pin set changes under it, Next and Skip fail
// with VFW_E_ENUM_OUT_OF_SYNC until Reset.
class CEnumPins final : public CUnknown, public IEnumPins {
public:
    CEnumPins(CBaseFilter* filter, const CEnumPins* copied);
    ~CEnumPins() override;
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumPins** clone) override;

private:
    bool AreWeOutOfSync();

    CBaseFilter* filter;  // referenced
    int position = 0;
    int pinCount = 0;
    LONG version = 0;
};

// Enumerates a pin's preferred media types (CBasePin::GetMediaType). Out of sync in the same
// way when the pin's type version changes.
class CEnumMediaTypes final : public CUnknown, public IEnumMediaTypes {
public:
    CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* copied);
    ~CEnumMediaTypes() override;
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** clone) override;

private:
    bool AreWeOutOfSync();

    CBasePin* pin;  // referenced
    int position = 0;
    LONG version = 0;
};
