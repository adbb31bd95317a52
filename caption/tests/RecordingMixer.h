#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/com/CUnknown.h"
#include "platform/dshow/VmrInterfaces.h"
#include "platform/gdi/GdiSurface.h"

namespace captiontest {

// A video renderer that records what its alpha bitmap is given and, as a compositor would, takes
// a copy of the page's pixels.
class RecordingMixer final : public CUnknown, public IVMRFilterConfig9, public IVMRMixerBitmap9 {
public:
    RecordingMixer() : CUnknown(u"RecordingMixer", nullptr) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IVMRFilterConfig9) {
            return GetInterface(static_cast<IVMRFilterConfig9*>(this), object);
        }
        if (iid == IID_IVMRMixerBitmap9) {
            return GetInterface(static_cast<IVMRMixerBitmap9*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT SetImageCompositor(IUnknown*) override { return E_NOTIMPL; }
    HRESULT SetNumberOfStreams(DWORD) override { return E_NOTIMPL; }
    HRESULT GetNumberOfStreams(DWORD*) override { return E_NOTIMPL; }
    HRESULT SetRenderingPrefs(DWORD) override { return E_NOTIMPL; }
    HRESULT GetRenderingPrefs(DWORD*) override { return E_NOTIMPL; }
    HRESULT SetRenderingMode(DWORD) override { return E_NOTIMPL; }
    HRESULT GetRenderingMode(DWORD*) override { return E_NOTIMPL; }
    HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) override {
        std::lock_guard lock(mutex);
        calls.push_back(*bitmap);
        if ((bitmap->dwFlags & VMR9AlphaBitmap_Disable) == 0 && bitmap->hdc != nullptr) {
            const uint32_t* pixels = bitmap->hdc->GetPixels();
            const size_t width = static_cast<size_t>(bitmap->hdc->GetWidth());
            copy.resize(width * static_cast<size_t>(bitmap->rSrc.bottom));
            std::copy(pixels, pixels + copy.size(), copy.begin());
        }
        return S_OK;
    }
    HRESULT UpdateAlphaBitmapParameters(const VMR9AlphaBitmap*) override { return S_OK; }
    HRESULT GetAlphaBitmapParameters(VMR9AlphaBitmap*) override { return E_NOTIMPL; }

    std::vector<VMR9AlphaBitmap> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }

private:
    std::mutex mutex;
    std::vector<VMR9AlphaBitmap> calls;
    std::vector<uint32_t> copy;
};

}  // namespace captiontest
