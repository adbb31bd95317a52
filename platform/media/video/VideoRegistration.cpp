#include <mutex>

#include "platform/com/Categories.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/dshow/DShowGuids.h"
#include "platform/media/MediaClasses.h"
#include "platform/media/video/VideoDecoderFilter.h"
#include "platform/media/video/VideoRenderer.h"

namespace {

const CFactoryTemplate kVideoClasses[] = {
    {kOrvVideoDecoderName, &CLSID_OrvVideoDecoder, CVideoDecoderFilter::CreateInstance, nullptr,
     nullptr},
    {u"Video Mixing Renderer 9", &CLSID_VideoMixingRenderer9, CVideoMixingRenderer9::CreateInstance,
     nullptr, nullptr},
};

// The decoder's entry of the legacy filter category, with its pin types, under the friendly
// name the settings choose it by.
CategoryEntry DecoderEntry() {
    CategoryEntry entry;
    entry.category = CLSID_LegacyAmFilterCategory;
    entry.clsid = CLSID_OrvVideoDecoder;
    entry.instance = GuidToU16String(entry.clsid);
    entry.friendlyName = kOrvVideoDecoderName;
    entry.merit = MERIT_DO_NOT_USE;
    RegPin input;
    input.name = u"In";
    input.mediaTypes = {{MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO},
                        {MEDIATYPE_Video, MEDIASUBTYPE_H264}};
    RegPin output;
    output.name = u"Out";
    output.output = true;
    output.mediaTypes = {{MEDIATYPE_Video, MEDIASUBTYPE_I420}};
    entry.pins = {input, output};
    return entry;
}

}  // namespace

HRESULT MediaRegisterVideoBuiltins() {
    static std::once_flag once;
    static HRESULT result = S_OK;
    std::call_once(once, [] {
        for (const CFactoryTemplate& factoryTemplate : kVideoClasses) {
            // The runtime keeps the factory for as long as the class is registered.
            auto* factory = new CClassFactory(&factoryTemplate);
            factory->AddRef();
            DWORD cookie = 0;
            const HRESULT hr =
                CoRegisterClassObject(*factoryTemplate.m_ClsID, factory, CLSCTX_INPROC_SERVER,
                                      REGCLS_MULTIPLEUSE, &cookie);
            factory->Release();
            if (FAILED(hr)) {
                result = hr;
            }
        }
        const HRESULT hr = ComponentRegistry::RegisterBuiltinEntry(DecoderEntry());
        if (FAILED(hr)) {
            result = hr;
        }
    });
    return result;
}
