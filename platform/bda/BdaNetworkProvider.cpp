#include "platform/bda/BdaNetworkProvider.h"

#include <new>

#include "platform/bda/BdaTunerFilter.h"
#include "platform/bda/BdaTuningModel.h"
#include "platform/dshow/CBaseInputPin.h"

CUnknown* CBdaNetworkProvider::CreateInstance(IUnknown* outer, HRESULT* hr) {
    return new (std::nothrow) CBdaNetworkProvider(outer, hr);
}

CBdaNetworkProvider::CBdaNetworkProvider(IUnknown* outer, HRESULT* hr)
    : CBaseFilter(u"DVB-T network provider", outer, &lock, CLSID_DVBTNetworkProvider),
      output(this, &lock, hr, u"Antenna Out", PINDIR_OUTPUT, BdaLinkKind::Antenna) {}

HRESULT CBdaNetworkProvider::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_ITuner) {
        return GetInterface(static_cast<ITuner*>(this), object);
    }
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBdaNetworkProvider::get_TuningSpace(ITuningSpace** tuningSpace) {
    if (!tuningSpace) {
        return E_POINTER;
    }
    ComPtr<IDVBTuningSpace2> space = CDvbTuningSpace::Create();
    *tuningSpace = space.Detach();
    return *tuningSpace ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBdaNetworkProvider::put_TuneRequest(ITuneRequest* tuneRequest) {
    if (!tuneRequest) {
        return E_POINTER;
    }
    ComPtr<ILocator> locator;
    HRESULT hr = tuneRequest->get_Locator(locator.GetAddressOf());
    LONG frequencyKhz = -1;
    if (SUCCEEDED(hr) && locator) {
        hr = locator->get_CarrierFrequency(&frequencyKhz);
    }
    if (FAILED(hr) || frequencyKhz <= 0) {
        return E_INVALIDARG;
    }
    LONG transportStreamId = -1;
    ComPtr<IDVBTuneRequest> dvbRequest;
    if (SUCCEEDED(ComPtr<ITuneRequest>(tuneRequest).As(&dvbRequest))) {
        dvbRequest->get_TSID(&transportStreamId);
    }
    ComPtr<IBdaTunerControl> tuner = output.ConnectedFilter().As<IBdaTunerControl>();
    if (!tuner) {
        return VFW_E_NOT_CONNECTED;
    }
    return tuner->TuneCarrier(frequencyKhz, transportStreamId);
}

namespace {

class CSectionSinkPin final : public CBaseInputPin {
public:
    CSectionSinkPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr)
        : CBaseInputPin(u"Section input pin", filter, lock, hr, u"Input") {}

    HRESULT CheckMediaType(const CMediaType* mediaType) override {
        return mediaType && *mediaType->Type() == MEDIATYPE_MPEG2_SECTIONS
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT Receive(IMediaSample* sample) override {
        const HRESULT hr = CBaseInputPin::Receive(sample);
        return FAILED(hr) ? hr : S_OK;
    }
};

}  // namespace

class CBdaTransportInformationFilter final : public CBaseFilter {
public:
    CBdaTransportInformationFilter(IUnknown* outer, HRESULT* hr)
        : CBaseFilter(u"Transport information filter", outer, &lock,
                      CLSID_BDA_MPEG2TransportInformationFilter),
          input(this, &lock, hr) {}

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? &input : nullptr; }

private:
    CCritSec lock;
    CSectionSinkPin input;
};

CUnknown* CreateBdaTransportInformationFilter(IUnknown* outer, HRESULT* hr) {
    return new (std::nothrow) CBdaTransportInformationFilter(outer, hr);
}
