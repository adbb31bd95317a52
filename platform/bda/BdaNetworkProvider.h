#pragma once

#include "platform/bda/BdaInterfaces.h"
#include "platform/bda/BdaLinkPin.h"
#include "platform/dshow/CBaseFilter.h"

// The DVB-T network provider (CLSID_DVBTNetworkProvider): the filter the application tunes
// through. Its output "Antenna Out" connects to a tuner filter's input; ITuner hands out its
// DVB-T tuning space and tunes the connected tuner to a tune request's carrier frequency (the
// locator's, in kHz) and transport_stream_id (when set). The bandwidth is not asked for: every
// channel of the systems tuned here is 6 MHz wide.
class CBdaNetworkProvider final : public CBaseFilter, public ITuner {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? &output : nullptr; }

    // ITuner
    HRESULT get_TuningSpace(ITuningSpace** tuningSpace) override;
    // E_POINTER without a request, E_INVALIDARG without a carrier frequency,
    // VFW_E_NOT_CONNECTED without a tuner downstream; otherwise the tuner's result.
    HRESULT put_TuneRequest(ITuneRequest* tuneRequest) override;

private:
    CBdaNetworkProvider(IUnknown* outer, HRESULT* hr);

    CCritSec lock;
    CBdaLinkPin output;
};

// The transport information filter's stand-in ({FC772AB0-0C7F-11D3-8FF2-00A0C9224CF4}): its one
// input "Input" takes MPEG-2 sections and lets them go. The tables it would keep are the SI
// analyzer's business here.
CUnknown* CreateBdaTransportInformationFilter(IUnknown* outer, HRESULT* hr);
