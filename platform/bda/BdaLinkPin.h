#pragma once

#include "platform/com/ComPtr.h"
#include "platform/dshow/CBasePin.h"

// A pin of the connections between the broadcast-driver filters, which carry no samples: the
// network provider's output to the tuner's input ("antenna"), and the tuner's output to the
// capture filter's input (the transport stream inside the device). Connecting them tells each
// filter which device it works with; the samples leave through the capture filter's own output.
enum class BdaLinkKind {
    Antenna,
    Transport,
};

class CBdaLinkPin final : public CBasePin {
public:
    CBdaLinkPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name,
                PIN_DIRECTION direction, BdaLinkKind kind);

    // Only the link's own type, in full.
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }

    // The filter at the other end of the connection; null when not connected.
    ComPtr<IBaseFilter> ConnectedFilter();

private:
    BdaLinkKind kind;
};
