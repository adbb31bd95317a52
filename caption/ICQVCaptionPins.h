#pragma once

#include "streamfw/ICTransformInputPin.h"
#include "streamfw/ICTransformOutputPin.h"

class ICQVCaption;

// The one media type of both caption pins: a byte stream without subtype.
HRESULT ICQVCaptionMediaType(int position, CMediaType* mediaType);
HRESULT ICQVCaptionCheckMediaType(const CMediaType* mediaType);

// "Input" (identifier "In"): takes the caption PES of one service.
class ICQVCaptionInputPin final : public ICTransformInputPin {
public:
    ICQVCaptionInputPin(ICQVCaption* filter, HRESULT* hr);

    HRESULT QueryId(LPWSTR* id) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
};

// "Output" (identifier "Out"): one whole data group whose CRC matched per packet, delivered
// from the pin's own thread.
class ICQVCaptionOutputPin final : public ICTransformOutputPin {
public:
    static constexpr LONG kBufferSize = 512;

    ICQVCaptionOutputPin(ICQVCaption* filter, HRESULT* hr);

    HRESULT QueryId(LPWSTR* id) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
};
