#pragma once

#include "platform/dshow/CSourceSeeking.h"
#include "streamfw/ICTransformInputPin.h"
#include "streamfw/ICTransformOutputPin.h"

class ICQVTSSource;

// "Input" (identifier "In"): the transport stream of a capture filter. It takes the
// broadcast driver's transport-stream subtype (offered first) and the plain one.
class ICQVTSSourceInputPin final : public ICTransformInputPin {
public:
    ICQVTSSourceInputPin(ICQVTSSource* filter, HRESULT* hr);

    HRESULT QueryId(LPWSTR* id) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
};

// "Output" (identifier "Out"): the transport stream in samples of up to 1024 packets, delivered
// from the pin's own thread. It answers IMediaSeeking for the file the filter plays: the
// duration, and a new start position seeks.
class ICQVTSSourceOutputPin final : public ICTransformOutputPin, public CSourceSeeking {
public:
    ICQVTSSourceOutputPin(ICQVTSSource* filter, HRESULT* hr);

    // The pin's IUnknown, whichever base is asked.
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT QueryId(LPWSTR* id) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT SetMediaType(const CMediaType* mediaType) override;
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    // The output carries the stream whatever the input is connected to (or whether it is).
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT CompleteConnect(IPin* receivePin) override;

    // A new file: position 0, duration and stop position as given.
    void SetFileDuration(REFERENCE_TIME duration);
    REFERENCE_TIME GetStartPosition();

protected:
    HRESULT ChangeStart() override;
    HRESULT ChangeStop() override { return S_OK; }
    HRESULT ChangeRate() override { return S_OK; }

private:
    ICQVTSSource* source;
    CCritSec seekingLock;
};
