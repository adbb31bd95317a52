#pragma once

#include "streamfw/ICTransformInputPin.h"

class ICQVSIAnalyzer;

// The analyzer's input pin "Input": it takes a transport stream (MEDIATYPE_Stream with
// MEDIASUBTYPE_MPEG2_TRANSPORT, any format) and keeps its own allocator with the upstream pin.
// Samples are scanned on the thread that delivers them; Receive may wait for a buffer of the
// "TS" pin, so it reports that it can block.
class ICQVSIAnalyzerInputPin final : public ICTransformInputPin {
public:
    ICQVSIAnalyzerInputPin(ICQVSIAnalyzer* filter, HRESULT* hr);

    HRESULT QueryId(LPWSTR* id) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT ReceiveCanBlock() override;
};
