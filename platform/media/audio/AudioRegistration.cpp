#include "platform/com/ClassFactory.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/media/MediaClasses.h"
#include "platform/media/audio/CAacDecoderFilter.h"
#include "platform/media/audio/CAudioRenderer.h"

namespace {

const CFactoryTemplate kAudioClasses[] = {
    {kOrvAudioDecoderName, &CLSID_OrvAudioDecoder, CAacDecoderFilter::CreateInstance, nullptr,
     nullptr},
    {u"Default sound renderer", &CLSID_DSoundRender, CAudioRenderer::CreateInstance, nullptr,
     nullptr},
};

// The decoder's entry in the legacy filter category: found by its friendly name, and by
// intelligent connection from an AAC pin.
CategoryEntry DecoderEntry() {
    CategoryEntry entry;
    entry.category = CLSID_LegacyAmFilterCategory;
    entry.clsid = CLSID_OrvAudioDecoder;
    entry.instance = GuidToU16String(CLSID_OrvAudioDecoder);
    entry.friendlyName = kOrvAudioDecoderName;
    entry.merit = MERIT_NORMAL;
    RegPin input;
    input.name = u"In";
    input.mediaTypes = {{MEDIATYPE_Audio, MEDIASUBTYPE_MPEG_ADTS_AAC},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_RAW_AAC1},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG_LOAS}};
    RegPin output;
    output.name = u"Out";
    output.output = true;
    output.mediaTypes = {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}};
    entry.pins = {input, output};
    return entry;
}

}  // namespace

HRESULT MediaRegisterAudioBuiltins() {
    HRESULT result = S_OK;
    for (const CFactoryTemplate& factoryTemplate : kAudioClasses) {
        // The runtime keeps the factory for as long as the class is registered.
        auto* factory = new CClassFactory(&factoryTemplate);
        factory->AddRef();
        DWORD cookie = 0;
        const HRESULT hr = CoRegisterClassObject(*factoryTemplate.m_ClsID, factory,
                                                 CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        factory->Release();
        if (FAILED(hr)) {
            result = hr;
        }
    }
    const HRESULT entry = ComponentRegistry::RegisterBuiltinEntry(DecoderEntry());
    return FAILED(result) ? result : entry;
}
