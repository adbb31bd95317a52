// A module file for the tests, built like the four real ones: a pass-through filter on the
// framework (worker and delivery thread enabled) and its version page.
#include "streamfw/tests/StreamTestModule.h"

#include <atomic>
#include <new>

#include "core/ICUiThread.h"
#include "streamfw/ICModule.h"
#include "streamfw/ICTransformFilter.h"
#include "streamfw/ICTransformOutputPin.h"

namespace {

class StreamTestFilter final : public ICTransformFilter, public IStreamTestFilter {
public:
    StreamTestFilter(IUnknown* outer, HRESULT* hr)
        : ICTransformFilter(u"QV Test Filter", outer, CLSID_StreamTestFilter, hr) {
        workerEnabled = true;
        GetOutputPin()->SetUseDeliveryThread(true);
    }
    ~StreamTestFilter() override { StopWorker(); }
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IStreamTestFilter) {
            return GetInterface(static_cast<IStreamTestFilter*>(this), object);
        }
        return ICTransformFilter::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT ProcessSample(IMediaSample* sample) override {
        processed.fetch_add(1);
        return ICTransformFilter::ProcessSample(sample);
    }

    LONG GetProcessedCount() override { return processed.load(); }
    LONG GetModuleObjects() override { return CBaseObject::ObjectsActive(); }

    static CUnknown* Create(IUnknown* outer, HRESULT* hr) {
        auto* filter = new (std::nothrow) StreamTestFilter(outer, hr);
        if (filter == nullptr && hr != nullptr) {
            *hr = E_OUTOFMEMORY;
        }
        return filter;
    }

private:
    std::atomic<LONG> processed{0};
};

}  // namespace

ORV_STREAM_MODULE(kStreamTestModule, StreamTestFilter::Create, &IID_IStreamTestFilter)

// The user-interface thread this module's copy of the core recorded when it was loaded.
ORV_MODULE_EXPORT uint32_t StreamTestModuleUiThread() {
    return ICGetUiThreadId();
}
