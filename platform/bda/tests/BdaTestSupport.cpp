#include "platform/bda/tests/BdaTestSupport.h"

#include "platform/bda/BdaDevices.h"

ComPtr<IBaseFilter> BindDevice(REFCLSID category, const std::u16string& devicePath) {
    for (const DeviceEntry& device : ListDevices(category)) {
        if (device.devicePath == devicePath) {
            ComPtr<IBaseFilter> filter;
            device.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                         filter.GetVoidAddressOf());
            return filter;
        }
    }
    return nullptr;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.GetAddressOf()))) {
        return nullptr;
    }
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.GetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION pinDirection;
        if (SUCCEEDED(pin->QueryDirection(&pinDirection)) && pinDirection == direction) {
            return pin;
        }
    }
    return nullptr;
}

double ReadSignalLevel(IBaseFilter* tuner) {
    ComPtr<IBDA_Topology> topology = ComPtr<IBaseFilter>(tuner).As<IBDA_Topology>();
    if (!topology) {
        return 0;
    }
    ULONG types[32];
    ULONG count = 0;
    if (FAILED(topology->GetNodeTypes(&count, 32, types))) {
        return 0;
    }
    double level = 0;
    for (ULONG i = 0; i < std::min<ULONG>(count, 32); ++i) {
        ComPtr<IUnknown> node;
        if (FAILED(topology->GetControlNode(0, 1, types[i], node.GetAddressOf()))) {
            continue;
        }
        ComPtr<IBDA_SignalStatistics> statistics = node.As<IBDA_SignalStatistics>();
        LONG strength = 0;
        if (statistics && SUCCEEDED(statistics->get_SignalStrength(&strength))) {
            level = strength;
        }
    }
    return level;
}

FrontEnd::FrontEnd(int adapter, int frontend) {
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.GetVoidAddressOf()))) {
        return;
    }
    for (const DeviceEntry& device : ListDevices(KSCATEGORY_BDA_NETWORK_PROVIDER)) {
        if (device.friendlyName == u"Microsoft DVBT Network Provider") {
            device.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                         provider.GetVoidAddressOf());
        }
    }
    tunerFilter = BindDevice(KSCATEGORY_BDA_NETWORK_TUNER, BdaTunerDevicePath(adapter, frontend));
    if (!provider || !tunerFilter) {
        return;
    }
    tuner = provider.As<ITuner>();
    providerOutput = FirstPin(provider.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> tunerInput = FirstPin(tunerFilter.Get(), PINDIR_INPUT);
    built = tuner && providerOutput && tunerInput &&
            graph->AddFilter(provider.Get(), u"Network Provider") == S_OK &&
            graph->AddFilter(tunerFilter.Get(), u"Tuner") == S_OK &&
            graph->ConnectDirect(providerOutput.Get(), tunerInput.Get(), nullptr) == S_OK;
}

HRESULT FrontEnd::Tune(LONG frequencyKhz, LONG transportStreamId) {
    ComPtr<ITuningSpace> space;
    HRESULT hr = tuner->get_TuningSpace(space.GetAddressOf());
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IDVBTuningSpace2> dvbSpace;
    if (FAILED(hr = space.As(&dvbSpace))) {
        return hr;
    }
    ComPtr<ITuneRequest> request;
    if (FAILED(hr = dvbSpace->CreateTuneRequest(request.GetAddressOf()))) {
        return hr;
    }
    ComPtr<IDVBTuneRequest> dvbRequest;
    if (FAILED(hr = request.As(&dvbRequest))) {
        return hr;
    }
    ComPtr<IDVBTLocator> locator;
    if (FAILED(hr = CoCreateInstance(CLSID_DVBTLocator, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IDVBTLocator, locator.GetVoidAddressOf()))) {
        return hr;
    }
    if (FAILED(hr = locator->put_Bandwidth(6)) ||
        FAILED(hr = locator->put_CarrierFrequency(frequencyKhz)) ||
        FAILED(hr = dvbRequest->put_Locator(locator.Get()))) {
        return hr;
    }
    if (transportStreamId != 0 && FAILED(hr = dvbRequest->put_TSID(transportStreamId))) {
        return hr;
    }
    return tuner->put_TuneRequest(dvbRequest.Get());
}
