#pragma once

#include "platform/bda/BdaInterfaces.h"
#include "platform/com/CUnknown.h"
#include "platform/com/ComPtr.h"

// The tuning model of the network provider: its DVB-T tuning space, the tune requests it makes
// and their locator. They only carry values: the provider reads them when it tunes.

// A DVB-T locator (CLSID_DVBTLocator): carrier frequency in kHz and bandwidth in MHz, -1 while
// not set.
class CDvbtLocator final : public CUnknown, public IDVBTLocator {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);
    DECLARE_IUNKNOWN
    ORV_NO_DISPATCH
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT get_CarrierFrequency(LONG* frequency) override;
    HRESULT put_CarrierFrequency(LONG frequency) override;
    HRESULT get_Bandwidth(LONG* bandwidth) override;
    HRESULT put_Bandwidth(LONG bandwidth) override;

private:
    explicit CDvbtLocator(IUnknown* outer);

    std::atomic<LONG> frequency{-1};
    std::atomic<LONG> bandwidth{-1};
};

// The provider's tuning space (IDVBTuningSpace2), whose CreateTuneRequest makes an empty DVB
// tune request.
class CDvbTuningSpace final : public CUnknown, public IDVBTuningSpace2 {
public:
    // A new tuning space with one reference, or null when out of memory.
    static ComPtr<IDVBTuningSpace2> Create();
    DECLARE_IUNKNOWN
    ORV_NO_DISPATCH
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT CreateTuneRequest(ITuneRequest** tuneRequest) override;

private:
    CDvbTuningSpace();
};
