#include "platform/bda/BdaTuningModel.h"

#include "platform/bda/BdaHandOut.h"

#include <mutex>
#include <new>

namespace {

// A DVB tune request: the tuning space that made it, a locator and a transport_stream_id (-1
// while not set).
class CDvbTuneRequest final : public CUnknown, public IDVBTuneRequest {
public:
    explicit CDvbTuneRequest(ITuningSpace* space)
        : CUnknown(u"DVB tune request", nullptr), space(space) {}
    DECLARE_IUNKNOWN
    ORV_NO_DISPATCH

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_ITuneRequest || iid == IID_IDispatch) {
            return GetInterface(static_cast<ITuneRequest*>(this), object);
        }
        if (iid == IID_IDVBTuneRequest) {
            return GetInterface(static_cast<IDVBTuneRequest*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT get_TuningSpace(ITuningSpace** tuningSpace) override {
        if (!tuningSpace) {
            return E_POINTER;
        }
        *tuningSpace = ComPtr<ITuningSpace>(space.Get()).Detach();
        return S_OK;
    }

    HRESULT get_Locator(ILocator** result) override {
        if (!result) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> guard(mutex);
        *result = ComPtr<ILocator>(locator.Get()).Detach();
        return S_OK;
    }

    HRESULT put_Locator(ILocator* value) override {
        std::lock_guard<std::mutex> guard(mutex);
        locator = ComPtr<ILocator>(value);
        return S_OK;
    }

    HRESULT get_TSID(LONG* transportStreamId) override {
        if (!transportStreamId) {
            return E_POINTER;
        }
        *transportStreamId = tsid;
        return S_OK;
    }

    HRESULT put_TSID(LONG transportStreamId) override {
        if (transportStreamId < -1 || transportStreamId > 0xFFFF) {
            return E_INVALIDARG;
        }
        tsid = transportStreamId;
        return S_OK;
    }

private:
    const ComPtr<ITuningSpace> space;
    std::mutex mutex;
    ComPtr<ILocator> locator;
    std::atomic<LONG> tsid{-1};
};

}  // namespace

CUnknown* CDvbtLocator::CreateInstance(IUnknown* outer, HRESULT*) {
    return new (std::nothrow) CDvbtLocator(outer);
}

CDvbtLocator::CDvbtLocator(IUnknown* outer) : CUnknown(u"DVB-T locator", outer) {}

HRESULT CDvbtLocator::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_ILocator || iid == IID_IDispatch) {
        return GetInterface(static_cast<ILocator*>(this), object);
    }
    if (iid == IID_IDVBTLocator) {
        return GetInterface(static_cast<IDVBTLocator*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CDvbtLocator::get_CarrierFrequency(LONG* value) {
    if (!value) {
        return E_POINTER;
    }
    *value = frequency;
    return S_OK;
}

HRESULT CDvbtLocator::put_CarrierFrequency(LONG value) {
    if (value < -1) {
        return E_INVALIDARG;
    }
    frequency = value;
    return S_OK;
}

HRESULT CDvbtLocator::get_Bandwidth(LONG* value) {
    if (!value) {
        return E_POINTER;
    }
    *value = bandwidth;
    return S_OK;
}

HRESULT CDvbtLocator::put_Bandwidth(LONG value) {
    if (value < -1) {
        return E_INVALIDARG;
    }
    bandwidth = value;
    return S_OK;
}

ComPtr<IDVBTuningSpace2> CDvbTuningSpace::Create() {
    ComPtr<IDVBTuningSpace2> result;
    BdaHandOut(new (std::nothrow) CDvbTuningSpace, IID_IDVBTuningSpace2, result.GetVoidAddressOf());
    return result;
}

CDvbTuningSpace::CDvbTuningSpace() : CUnknown(u"DVB tuning space", nullptr) {}

HRESULT CDvbTuningSpace::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_ITuningSpace || iid == IID_IDispatch) {
        return GetInterface(static_cast<ITuningSpace*>(this), object);
    }
    if (iid == IID_IDVBTuningSpace) {
        return GetInterface(static_cast<IDVBTuningSpace*>(this), object);
    }
    if (iid == IID_IDVBTuningSpace2) {
        return GetInterface(static_cast<IDVBTuningSpace2*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CDvbTuningSpace::CreateTuneRequest(ITuneRequest** tuneRequest) {
    if (!tuneRequest) {
        return E_POINTER;
    }
    *tuneRequest = nullptr;
    auto* request = new (std::nothrow) CDvbTuneRequest(static_cast<ITuningSpace*>(this));
    return BdaHandOut(request, IID_ITuneRequest, reinterpret_cast<void**>(tuneRequest));
}
