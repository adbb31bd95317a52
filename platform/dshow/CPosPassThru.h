#pragma once

#include "platform/com/CUnknown.h"
#include "platform/dshow/DShowInterfaces.h"

// Seeking for a pin that passes it upstream: every call goes to the IMediaSeeking of the pin
// connected to `pin` (VFW_E_NOT_CONNECTED without one, E_NOTIMPL when it does not seek).
// A transform filter's output pin answers IMediaSeeking with one of these for its input pin.
class CPosPassThru : public CUnknown, public IMediaSeeking {
public:
    CPosPassThru(const char16_t* objectName, IUnknown* outer, HRESULT* hr, IPin* pin);
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    DECLARE_IMEDIASEEKING

protected:
    // The upstream seeking interface, referenced (the caller releases it).
    HRESULT GetPeerSeeking(IMediaSeeking** seeking);

private:
    IPin* pin;  // not referenced: it belongs to the object this one is part of
};

// Makes a pass-through for `pin` aggregated by `outer`; `*passThru` is its inner unknown.
HRESULT CreatePosPassThru(IUnknown* outer, BOOL renderer, IPin* pin, IUnknown** passThru);
