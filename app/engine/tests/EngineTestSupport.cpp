#include "app/engine/tests/EngineTestSupport.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>

#include "core/CodePage.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/CBaseRenderer.h"
#include "platform/dshow/CTransformFilter.h"
#include "platform/dshow/DShowGuids.h"

namespace enginetest {
namespace {

inline constexpr CLSID CLSID_StandInVideoDecoder{
    0x3D7A1C10, 0x5E2B, 0x4B61, {0x8F, 0x11, 0x2A, 0x6C, 0x90, 0x14, 0xE1, 0x01}};
inline constexpr CLSID CLSID_StandInAudioDecoder{
    0x3D7A1C10, 0x5E2B, 0x4B61, {0x8F, 0x11, 0x2A, 0x6C, 0x90, 0x14, 0xE1, 0x02}};

// Takes the elementary stream of its major type and decodes nothing: it passes on only the
// stream's end, so that a file reaches its end as fast as it is read.
class StandInDecoder final : public CTransformFilter {
public:
    StandInDecoder(const GUID& majorType, REFCLSID classId)
        : CTransformFilter(u"Stand-in decoder", nullptr, classId), majorType(majorType) {}

    HRESULT CheckInputType(const CMediaType* type) override {
        return *type->Type() == majorType ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType*, const CMediaType* output) override {
        return *output->Type() == majorType ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position < 0) {
            return E_INVALIDARG;
        }
        if (position > 0) {
            return VFW_S_NO_MORE_ITEMS;
        }
        type->InitMediaType();
        type->SetType(&majorType);
        type->SetFormatType(&FORMAT_None);
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override {
        ALLOCATOR_PROPERTIES wanted{1, 64, 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(&wanted, &actual);
    }
    HRESULT Transform(IMediaSample*, IMediaSample*) override { return S_FALSE; }

private:
    const GUID majorType;
};

// The renderers: they take their major type, render nothing and report the end of the stream.
class StandInRenderer : public CBaseRenderer {
public:
    StandInRenderer(REFCLSID classId, const GUID& majorType, HRESULT* hr)
        : CBaseRenderer(classId, u"Stand-in renderer", nullptr, hr), majorType(majorType) {}
    HRESULT CheckMediaType(const CMediaType* type) override {
        return *type->Type() == majorType ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }

private:
    const GUID majorType;
};

#define ORV_STANDIN_NOT_IMPLEMENTED(name, ...) \
    HRESULT name(__VA_ARGS__) override {       \
        return E_NOTIMPL;                      \
    }

class StandInVideoRenderer final : public StandInRenderer,
                                   public IVMRFilterConfig9,
                                   public IVMRAspectRatioControl9,
                                   public IVMRWindowlessControl9,
                                   public IBasicVideo2 {
public:
    explicit StandInVideoRenderer(HRESULT* hr)
        : StandInRenderer(CLSID_VideoMixingRenderer9, MEDIATYPE_Video, hr) {
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        ++StandIns().videoRenderersMade;
    }
    DECLARE_IUNKNOWN
    ORV_NO_DISPATCH

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IVMRFilterConfig9) {
            return GetInterface(static_cast<IVMRFilterConfig9*>(this), object);
        }
        if (iid == IID_IVMRAspectRatioControl9) {
            return GetInterface(static_cast<IVMRAspectRatioControl9*>(this), object);
        }
        if (iid == IID_IVMRWindowlessControl9) {
            return GetInterface(static_cast<IVMRWindowlessControl9*>(this), object);
        }
        if (iid == IID_IBasicVideo || iid == IID_IBasicVideo2) {
            return GetInterface(static_cast<IBasicVideo2*>(this), object);
        }
        return StandInRenderer::NonDelegatingQueryInterface(iid, object);
    }

    // IVMRFilterConfig9
    ORV_STANDIN_NOT_IMPLEMENTED(SetImageCompositor, IUnknown*)
    HRESULT SetNumberOfStreams(DWORD streams) override {
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        StandIns().numberOfStreams = streams;
        return S_OK;
    }
    ORV_STANDIN_NOT_IMPLEMENTED(GetNumberOfStreams, DWORD*)
    ORV_STANDIN_NOT_IMPLEMENTED(SetRenderingPrefs, DWORD)
    ORV_STANDIN_NOT_IMPLEMENTED(GetRenderingPrefs, DWORD*)
    HRESULT SetRenderingMode(DWORD mode) override {
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        StandIns().renderingMode = mode;
        return S_OK;
    }
    ORV_STANDIN_NOT_IMPLEMENTED(GetRenderingMode, DWORD*)

    // IVMRAspectRatioControl9 and IVMRWindowlessControl9
    ORV_STANDIN_NOT_IMPLEMENTED(GetAspectRatioMode, DWORD*)
    HRESULT SetAspectRatioMode(DWORD mode) override {
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        StandIns().aspectRatioMode = mode;
        return S_OK;
    }
    ORV_STANDIN_NOT_IMPLEMENTED(GetNativeVideoSize, LONG*, LONG*, LONG*, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(GetMinIdealVideoSize, LONG*, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(GetMaxIdealVideoSize, LONG*, LONG*)
    HRESULT SetVideoPosition(const RECT*, const RECT* destination) override {
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        StandIns().videoPositions.push_back(*destination);
        return S_OK;
    }
    ORV_STANDIN_NOT_IMPLEMENTED(GetVideoPosition, RECT*, RECT*)
    HRESULT SetVideoClippingWindow(HWND window) override {
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        StandIns().clippingWindow = static_cast<IVideoSurface*>(window);
        return S_OK;
    }
    HRESULT RepaintVideo(HWND, HDC) override { return S_OK; }
    HRESULT DisplayModeChanged() override { return S_OK; }
    HRESULT GetCurrentImage(BYTE** dib) override {
        if (StandIns().imageFails) {
            return E_UNEXPECTED;
        }
        // A 2 x 2 picture, 32 bits per pixel.
        constexpr uint32_t kHeader = 40;
        constexpr uint32_t kPixels = 2 * 2 * 4;
        auto* image = static_cast<BYTE*>(CoTaskMemAlloc(kHeader + kPixels));
        std::memset(image, 0, kHeader + kPixels);
        image[0] = kHeader;
        image[4] = 2;
        image[8] = 2;
        image[12] = 1;
        image[14] = 32;
        image[20] = kPixels;
        *dib = image;
        return S_OK;
    }
    ORV_STANDIN_NOT_IMPLEMENTED(SetBorderColor, COLORREF)
    ORV_STANDIN_NOT_IMPLEMENTED(GetBorderColor, COLORREF*)

    // IBasicVideo2: the size and aspect ratio of the picture; the rest is not offered.
    HRESULT GetVideoSize(LONG* width, LONG* height) override {
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        *width = StandIns().videoWidth;
        *height = StandIns().videoHeight;
        return S_OK;
    }
    HRESULT GetPreferredAspectRatio(LONG* x, LONG* y) override {
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        *x = StandIns().aspectX;
        *y = StandIns().aspectY;
        return S_OK;
    }
    ORV_STANDIN_NOT_IMPLEMENTED(get_AvgTimePerFrame, REFTIME*)
    ORV_STANDIN_NOT_IMPLEMENTED(get_BitRate, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(get_BitErrorRate, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(get_VideoWidth, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(get_VideoHeight, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(put_SourceLeft, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(get_SourceLeft, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(put_SourceWidth, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(get_SourceWidth, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(put_SourceTop, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(get_SourceTop, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(put_SourceHeight, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(get_SourceHeight, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(put_DestinationLeft, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(get_DestinationLeft, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(put_DestinationWidth, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(get_DestinationWidth, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(put_DestinationTop, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(get_DestinationTop, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(put_DestinationHeight, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(get_DestinationHeight, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(SetSourcePosition, LONG, LONG, LONG, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(GetSourcePosition, LONG*, LONG*, LONG*, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(SetDefaultSourcePosition)
    ORV_STANDIN_NOT_IMPLEMENTED(SetDestinationPosition, LONG, LONG, LONG, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(GetDestinationPosition, LONG*, LONG*, LONG*, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(SetDefaultDestinationPosition)
    ORV_STANDIN_NOT_IMPLEMENTED(GetVideoPaletteEntries, LONG, LONG, LONG*, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(GetCurrentImage, LONG*, LONG*)
    ORV_STANDIN_NOT_IMPLEMENTED(IsUsingDefaultSource)
    ORV_STANDIN_NOT_IMPLEMENTED(IsUsingDefaultDestination)
};

class StandInAudioRenderer final : public StandInRenderer, public IBasicAudio {
public:
    explicit StandInAudioRenderer(HRESULT* hr)
        : StandInRenderer(CLSID_DSoundRender, MEDIATYPE_Audio, hr) {}
    DECLARE_IUNKNOWN
    ORV_NO_DISPATCH

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IBasicAudio) {
            return GetInterface(static_cast<IBasicAudio*>(this), object);
        }
        return StandInRenderer::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT put_Volume(LONG value) override {
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        StandIns().volume = value;
        return S_OK;
    }
    HRESULT get_Volume(LONG* value) override {
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        *value = StandIns().volume;
        return S_OK;
    }
    ORV_STANDIN_NOT_IMPLEMENTED(put_Balance, LONG)
    ORV_STANDIN_NOT_IMPLEMENTED(get_Balance, LONG*)
};

CUnknown* NewVideoRenderer(IUnknown*, HRESULT* hr) {
    return new StandInVideoRenderer(hr);
}
CUnknown* NewAudioRenderer(IUnknown*, HRESULT* hr) {
    return new StandInAudioRenderer(hr);
}

const CFactoryTemplate kVideoRendererTemplate{
    u"Stand-in video renderer", &CLSID_VideoMixingRenderer9, NewVideoRenderer, nullptr, nullptr};
const CFactoryTemplate kAudioRendererTemplate{u"Stand-in sound renderer", &CLSID_DSoundRender,
                                              NewAudioRenderer, nullptr, nullptr};

DWORD videoRendererCookie = 0;

DWORD RegisterFactory(const CFactoryTemplate& factoryTemplate) {
    ComPtr<IClassFactory> factory(new CClassFactory(&factoryTemplate));
    DWORD cookie = 0;
    CoRegisterClassObject(*factoryTemplate.m_ClsID, factory.Get(), CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &cookie);
    return cookie;
}

void RegisterDecoder(const char16_t* name, const GUID& majorType, REFCLSID classId) {
    CategoryEntry entry;
    entry.category = CLSID_LegacyAmFilterCategory;
    entry.instance = GuidToU16String(classId);
    entry.clsid = classId;
    entry.friendlyName = name;
    entry.merit = MERIT_DO_NOT_USE;
    RegPin input;  // takes any type of its major type
    input.name = u"In";
    input.mediaTypes = {{majorType, GUID_NULL}};
    entry.pins = {input};
    entry.create = [majorType, classId](REFIID iid, void** object) {
        auto* decoder = new StandInDecoder(majorType, classId);
        const HRESULT hr = decoder->NonDelegatingQueryInterface(iid, object);
        if (FAILED(hr)) {
            delete decoder;
        }
        return hr;
    };
    ComponentRegistry::RegisterBuiltinEntry(entry);
}

}  // namespace

StandInRecord& StandIns() {
    static StandInRecord record;
    return record;
}

void RegisterModule(const char* path) {
    void* handle = nullptr;
    ASSERT_EQ(ComLoadModule(path, &handle), S_OK) << path;
    auto registerServer = reinterpret_cast<DllRegisterServerFunction>(
        ComGetModuleExport(handle, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK) << path;
}

void RegisterEngineComponents() {
    static TemporaryRegistry* registry = nullptr;
    if (registry != nullptr) {
        return;
    }
    registry = new TemporaryRegistry();  // for the whole program
    for (const char* module :
         {ORV_TABRIX_MODULE, ORV_LUMIQ_MODULE, ORV_STREVA_MODULE, ORV_TUNOVA_MODULE}) {
        RegisterModule(module);
    }
    // Named as the settings name the decoders by default.
    const CSettings defaults;
    RegisterDecoder(defaults.mpeg2Decoder.GetText(), MEDIATYPE_Video, CLSID_StandInVideoDecoder);
    RegisterDecoder(defaults.aacDecoder.GetText(), MEDIATYPE_Audio, CLSID_StandInAudioDecoder);
    SetVideoRendererAvailable(true);
    RegisterFactory(kAudioRendererTemplate);
}

void SetVideoRendererAvailable(bool available) {
    if (available && videoRendererCookie == 0) {
        videoRendererCookie = RegisterFactory(kVideoRendererTemplate);
    } else if (!available && videoRendererCookie != 0) {
        CoRevokeClassObject(videoRendererCookie);
        videoRendererCookie = 0;
    }
}

TestHost::TestHost()
    : folder([] {
          std::string pattern =
              (std::filesystem::temp_directory_path() / "orv-engine-XXXXXX").string();
          return std::string(::mkdtemp(pattern.data()) != nullptr ? pattern : "");
      }()),
      tuners(folder, folder),
      logos(tuners),
      reservations(tuners.Tuners(), nullptr) {
    RegisterEngineComponents();
    settings.recFolders[0] = ICWString(std::u16string_view(Utf8ToUtf16(folder + "/rec")));
    settings.streamOffset = 0;
    settings.firstIgnoreTime = 0;
    std::lock_guard<std::mutex> lock(StandIns().mutex);
    StandIns().videoPositions.clear();
    StandIns().volume = 1;
    StandIns().imageFails = false;
}

TestHost::~TestHost() {
    ui.RunPending();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

CTuner* AddBonDriverTuner(TestHost& host, const char* driver, int32_t physicalIndex,
                          uint32_t serviceId) {
    auto* tuner = new CTuner(ICString(driver));
    tuner->displayName = u"Test Tuner";
    auto* space = new CTuningSpace(tuner);
    space->name = u"UHF";
    space->type = CTuningSpace::kTerrestrial;
    tuner->tuningSpaces.Add(space);
    auto* channel = new CChannelInfo(space);
    channel->name = u"みなと放送";
    channel->physicalIndex = physicalIndex;
    channel->transportStreamId = kSimTransportStreamId;
    channel->serviceId = serviceId;
    channel->channelNumber = 11;
    space->channels.Add(channel);
    tuner->currentChannel = channel;
    host.tuners.Tuners().Add(tuner);
    return tuner;
}

std::vector<std::u16string> FilterNames(IGraphBuilder* graph) {
    std::vector<std::u16string> names;
    ComPtr<IEnumFilters> filters;
    if (graph == nullptr || FAILED(graph->EnumFilters(filters.GetAddressOf()))) {
        return names;
    }
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.GetAddressOf(), nullptr) == S_OK) {
        FILTER_INFO info{};
        filter->QueryFilterInfo(&info);
        if (info.pGraph != nullptr) {
            info.pGraph->Release();
        }
        names.emplace_back(info.achName);
    }
    return names;
}

ComPtr<IBaseFilter> FindFilter(IGraphBuilder* graph, const char16_t* name) {
    ComPtr<IBaseFilter> filter;
    graph->FindFilterByName(name, filter.GetAddressOf());
    return filter;
}

bool IsPinConnected(IBaseFilter* filter, const char16_t* pinName) {
    ComPtr<IEnumPins> pins;
    if (filter == nullptr || FAILED(filter->EnumPins(pins.GetAddressOf()))) {
        return false;
    }
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.GetAddressOf(), nullptr) == S_OK) {
        PIN_INFO info{};
        pin->QueryPinInfo(&info);
        if (info.pFilter != nullptr) {
            info.pFilter->Release();
        }
        if (std::u16string_view(info.achName) == pinName) {
            ComPtr<IPin> other;
            return pin->ConnectedTo(other.GetAddressOf()) == S_OK;
        }
    }
    return false;
}

}  // namespace enginetest
