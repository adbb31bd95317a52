#include "app/engine/CViewerGraph.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/stores/CSettings.h"
#include "app/stores/CTuner.h"
#include "caption/IQVCaption.h"
#include "core/CodePage.h"
#include "platform/bda/BdaInterfaces.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/DeviceEnum.h"
#include "platform/com/RunningObjectTable.h"
#include "platform/dshow/DShowGuids.h"
#include "sources/IQVBonSource.h"
#include "sources/IQVTSSource.h"
#include "streamfw/ICModuleTables.h"

// Graph construction: the filters of a tuner or a file, found or created, added, configured
// and connected in a fixed order; every failure leaves its message in errorText and tears the
// graph down.

namespace {

// Most failures of the platform itself end with this advice.
#define ORV_SYSTEM_FAILURE \
    u"\r\nシステムに重大な障害が出ている可能性があります。\r\nシステムの再起動をお勧めします。"

constexpr uint32_t kBonDriverNotOpened = 110;
constexpr uint32_t kBonDriverNoObject = 632;

// The volume in hundredths of a decibel by level 0..10.
constexpr LONG kVolumeTable[11] = {-10000, -5000, -2000, -1500, -1000, -800,
                                   -600,   -400,  -200,  -100,  0};

const char16_t kNetworkProviderName[] = u"Microsoft DVBT Network Provider";

// The replacement the caption filter draws: the fullwidth tilde as a wave dash.
const char16_t kCaptionCharReplacement[] = {0xFF5E, 0x301C};

std::u16string FilterName(IBaseFilter* filter) {
    FILTER_INFO info{};
    if (filter == nullptr || FAILED(filter->QueryFilterInfo(&info))) {
        return {};
    }
    if (info.pGraph != nullptr) {
        info.pGraph->Release();
    }
    return info.achName;
}

// The `index`-th pin of `direction`, or the first whose name is `name` when one is given.
ComPtr<IPin> FindPin(IBaseFilter* filter, PIN_DIRECTION direction, int index,
                     const char16_t* name) {
    ComPtr<IEnumPins> pins;
    if (filter == nullptr || FAILED(filter->EnumPins(pins.GetAddressOf()))) {
        return {};
    }
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.GetAddressOf(), nullptr) == S_OK) {
        if (name != nullptr) {
            PIN_INFO info{};
            if (SUCCEEDED(pin->QueryPinInfo(&info))) {
                if (info.pFilter != nullptr) {
                    info.pFilter->Release();
                }
                if (std::u16string_view(info.achName) == name) {
                    return pin;
                }
            }
            continue;
        }
        PIN_DIRECTION pinDirection;
        if (SUCCEEDED(pin->QueryDirection(&pinDirection)) && pinDirection == direction &&
            index-- == 0) {
            return pin;
        }
    }
    return {};
}

}  // namespace

// --- the hidden window

CGraphWindow::CGraphWindow(IUiThread& uiThread, uint32_t eventMessage, Handler handler)
    : uiThread(uiThread), eventMessage(eventMessage), shared(std::make_shared<Shared>()) {
    shared->handler = std::move(handler);
}

CGraphWindow::~CGraphWindow() {
    shared->alive = false;
}

void CGraphWindow::PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    const uint64_t generation = shared->eventGeneration.load(std::memory_order_acquire);
    uiThread.Post([shared = shared, message, wParam, lParam, generation, this] {
        if (!shared->alive) {
            return;
        }
        if (message == eventMessage &&
            generation != shared->eventGeneration.load(std::memory_order_acquire)) {
            return;
        }
        shared->handler(message, wParam, lParam);
    });
}

void CGraphWindow::DropPendingEvents() {
    shared->eventGeneration.fetch_add(1, std::memory_order_acq_rel);
}

// --- the graph

CViewerGraph::CViewerGraph(IEngineHost& host)
    : host(host),
      graphWindow(host.UiThread(), kMsgGraphEvent,
                  [this](uint32_t message, uintptr_t wParam, intptr_t lParam) {
                      HandleMessage(message, wParam, lParam);
                  }),
      tickSource([] {
          return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now().time_since_epoch())
                                           .count());
      }) {
    timer = std::make_unique<ICTimer>(&graphWindow);
    timer->delay = kTimerPeriod;
    timer->Start();
    lastTick = Now();
}

CViewerGraph::~CViewerGraph() {
    timer->Stop();
    Teardown();
}

HRESULT CViewerGraph::Fail(HRESULT hr, const char16_t* message) {
    errorText = ICString(message);
    return FAILED(hr) ? hr : E_FAIL;
}

HRESULT CViewerGraph::CreateFilter(REFCLSID classId, ComPtr<IBaseFilter>* out) {
    return CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                            out->GetVoidAddressOf());
}

HRESULT CViewerGraph::AddFilter(IBaseFilter* filter, const char16_t* name) {
    return filterGraph->AddFilter(filter, name);
}

HRESULT CViewerGraph::CreateAndAdd(REFCLSID classId, const char16_t* name, ComPtr<IBaseFilter>* out,
                                   const char16_t* createFailure, const char16_t* addFailure) {
    HRESULT hr = CreateFilter(classId, out);
    if (FAILED(hr)) {
        return Fail(hr, createFailure);
    }
    if (FAILED(hr = AddFilter(out->Get(), name))) {
        return Fail(hr, addFailure);
    }
    return S_OK;
}

HRESULT CViewerGraph::Build(CTuner* newTuner, const ICWString& newFilePath) {
    host.BeginWaitCursor();
    building = true;
    Teardown();

    networkId = transportStreamId = serviceId = 0;
    pcrPid = videoPid = audioPid = captionPid = 0;
    tuner = newTuner;
    tuningSpace = nullptr;
    channel = nullptr;
    running = paused = false;
    retuneCount = 0;
    wrongStreamPosted = false;
    secondsCounter = watchPhase = zeroRateCount = 0;
    dropCount = syncErrorCount = transportErrorCount = 0;
    filePath = newFilePath;
    fileStart = FileStart{};

    HRESULT hr = S_OK;
    if (!filePath.IsEmpty()) {
        fileMode = true;
    } else {
        fileMode = false;
        if (tuner == nullptr) {
            building = false;
            host.EndWaitCursor();
            return E_FAIL;
        }
        isBonDriver = tuner->isBonDriver;
    }
    duration = 0;
    buildStage = 1;
    errorText.Empty();

    do {
        hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              filterGraph.GetVoidAddressOf());
        if (FAILED(hr)) {
            hr = Fail(hr, u"GraphBuilderが作成できません。" ORV_SYSTEM_FAILURE);
            break;
        }
        if (FAILED(hr = RegisterInRot())) {
            hr = Fail(hr, u"ROT登録ができません。" ORV_SYSTEM_FAILURE);
            break;
        }
        buildStage = 2;
        if (FAILED(hr = BuildFrontEnd())) {
            break;
        }
        buildStage = 3;
        if (!isBonDriver && tuner != nullptr) {
            if (FAILED(hr = CreateAndAdd(CLSID_BDA_MPEG2TransportInformationFilter, u"BDA TIFilter",
                                         &transportInformationFilter,
                                         u"TIFが作成できません。" ORV_SYSTEM_FAILURE,
                                         u"TIFがグラフに登録できません。" ORV_SYSTEM_FAILURE))) {
                break;
            }
        }
        buildStage = 4;
        if (FAILED(hr = BuildSource(filePath))) {
            break;
        }
        buildStage = 5;
        if (FAILED(hr = BuildAnalyzer())) {
            break;
        }
        buildStage = 6;
        if (!withoutVideo) {
            buildStage = 7;
            if (FAILED(hr = BuildRenderers()) || FAILED(hr = BuildCaptions())) {
                break;
            }
        }
        if (FAILED(hr = ConnectAll())) {
            break;
        }
        buildStage = 0x30;
        ComPtr<IMediaEventEx> events;
        if (FAILED(hr = filterGraph.As(&events))) {
            hr = Fail(hr, u"IMediaEventExインターフェースが取得できません。" ORV_SYSTEM_FAILURE);
            break;
        }
        events->SetNotifyWindow(reinterpret_cast<OAHWND>(GraphWindow()), kMsgGraphEvent,
                                reinterpret_cast<LONG_PTR>(this));
        buildStage = 0x31;
        buildStage = 0x32;
        if (fileMode && sourceFilter && FAILED(hr = LoadFile(filePath))) {
            break;
        }
        buildStage = 0x40;
        UpdateVideoPosition();
        buildStage = 0x41;
        volumeLevel = std::clamp(volumeLevel, 0, 10);
        ComPtr<IBasicAudio> audio;
        if (SUCCEEDED(filterGraph.As(&audio))) {
            audio->put_Volume(VolumeOfLevel(volumeLevel));
        }
        SetStreamOffset(streamOffset);
        hr = S_OK;
    } while (false);

    if (FAILED(hr)) {
        Teardown();
    }
    building = false;
    host.EndWaitCursor();
    return hr;
}

HRESULT CViewerGraph::BuildFrontEnd() {
    if (fileMode || tuner == nullptr || tuner->isBonDriver) {
        return S_OK;
    }
    HRESULT hr = FindDeviceFilter(KSCATEGORY_BDA_NETWORK_PROVIDER, u"FriendlyName",
                                  kNetworkProviderName, &networkProvider);
    if (FAILED(hr)) {
        return Fail(hr, u"DVBT Network Providerがありません。" ORV_SYSTEM_FAILURE);
    }
    hr = FindDeviceFilter(KSCATEGORY_BDA_NETWORK_TUNER, u"DevicePath",
                          Utf8ToUtf16(tuner->path.GetText()), &tunerFilter);
    if (FAILED(hr)) {
        return Fail(hr,
                    u"BDA Tunerがありません。\r\nチューナーの接続、認識、電源、ドライバーなど"
                    u"を確認にして下さい。");
    }
    hr = FindDeviceFilter(KSCATEGORY_BDA_RECEIVER_COMPONENT, u"DevicePath",
                          Utf8ToUtf16(tuner->capturePath.GetText()), &captureFilter);
    if (FAILED(hr)) {
        return Fail(hr,
                    u"BDA Captureフィルターがありません。\r\nチューナーの接続、認識、電源、"
                    u"ドライバーなどを確認にして下さい。");
    }
    return S_OK;
}

HRESULT CViewerGraph::BuildSource(const ICWString& path) {
    HRESULT hr = CreateFilter(isBonDriver ? CLSID_QVBonSource : CLSID_QVTSSource, &sourceFilter);
    if (FAILED(hr) && !path.IsEmpty()) {
        // Either source plays files: the other module is tried once.
        hr = CreateFilter(isBonDriver ? CLSID_QVTSSource : CLSID_QVBonSource, &sourceFilter);
    }
    if (FAILED(hr)) {
        return Fail(hr,
                    u"TSソースフィルターが作成できません。\r\nTSソースフィルターの登録やバー"
                    u"ジョンを確認して下さい。");
    }
    if (FAILED(hr = AddFilter(sourceFilter.Get(), u"TS Source Filter"))) {
        return Fail(hr, u"TSソースフィルターがグラフに登録できません。" ORV_SYSTEM_FAILURE);
    }
    if (isBonDriver && tuner != nullptr) {
        ComPtr<IQVBonSource> bon;
        if (FAILED(hr = sourceFilter.As(&bon))) {
            return Fail(hr,
                        u"IQVBonSourceインターフェースが取得できません。\r\nBonソースフィルター"
                        u"の登録やバージョンを確認して下さい。");
        }
        const DWORD result = bon->SetBonDriver(tuner->path.GetText());
        if (result != 0) {
            ICWString message;
            message.Format(
                u"IQVBonSource::SetBonDriverでエラーが発生しました(%d)。\r\nチューナー"
                u"の接続、Bonドライバーのパス、Bonソースフィルターのバージョンなどを確"
                u"認して下さい。",
                int(result));
            errorText = ICString(message);
            return result == kBonDriverNotOpened  ? E_ACCESSDENIED
                   : result == kBonDriverNoObject ? E_NOINTERFACE
                                                  : E_FAIL;
        }
    }
    ComPtr<IQVTSSource> tsSource;
    if (SUCCEEDED(sourceFilter.As(&tsSource))) {
        tsSource->SetStartDelay(DWORD(startDelay));
    }
    return S_OK;
}

HRESULT CViewerGraph::BuildAnalyzer() {
    HRESULT hr = CreateAndAdd(CLSID_QVSIAnalyzer, u"SI Analyzer", &analyzerFilter,
                              u"QV SIアナライザーが作成できません。\r\nQV SIアナライザーの登録"
                              u"やバージョンを確認して下さい。",
                              u"QV SIアナライザーがグラフに登録できません。" ORV_SYSTEM_FAILURE);
    if (FAILED(hr)) {
        return hr;
    }
    if (FAILED(hr = analyzerFilter.As(&analyzer))) {
        return hr;
    }
    SetNotifyMask(kNotifyMask);
    analyzer->SetAutoSelect(FALSE);
    return S_OK;
}

HRESULT CViewerGraph::CreateVideoRenderer() {
    HRESULT hr = CreateAndAdd(CLSID_VideoMixingRenderer9, u"Video Renderer", &videoRenderer,
                              u"VMR9が作成できません。" ORV_SYSTEM_FAILURE,
                              u"VMR9がグラフに登録できません。" ORV_SYSTEM_FAILURE);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IVMRFilterConfig9> config;
    if (SUCCEEDED(videoRenderer.As(&config))) {
        config->SetRenderingMode(VMR9Mode_Windowless);
        // Mixing mode, so that the caption filter can lay its bitmap over the picture.
        config->SetNumberOfStreams(1);
    }
    ComPtr<IVMRAspectRatioControl9> aspect;
    if (SUCCEEDED(videoRenderer.As(&aspect))) {
        // The picture is fitted by UpdateVideoPosition.
        aspect->SetAspectRatioMode(VMR9ARMode_None);
    }
    ComPtr<IVMRWindowlessControl9> windowless;
    if (FAILED(hr = videoRenderer.As(&windowless))) {
        return Fail(hr,
                    u"IVMRWindowlessControl9インターフェースが取得できません。" ORV_SYSTEM_FAILURE);
    }
    if (FAILED(hr = windowless->SetVideoClippingWindow(videoWindow))) {
        return Fail(hr, u"IVMRWindowlessControl9::SetVideoClippingWindowに失敗しました。");
    }
    return S_OK;
}

HRESULT CViewerGraph::BuildRenderers() {
    CSettings& settings = host.Settings();
    HRESULT hr = FindDeviceFilter(CLSID_LegacyAmFilterCategory, u"FriendlyName",
                                  std::u16string(settings.mpeg2Decoder.GetView()), &videoDecoder);
    if (FAILED(hr)) {
        return Fail(hr,
                    u"MPEG2ビデオデコーダーが作成できません。\r\nMPEG2ビデオデコーダーの登録を"
                    u"確認してください。");
    }
    buildStage = 8;
    if (FAILED(hr = CreateVideoRenderer())) {
        return hr;
    }
    buildStage = 9;
    hr = FindDeviceFilter(CLSID_LegacyAmFilterCategory, u"FriendlyName",
                          std::u16string(settings.aacDecoder.GetView()), &audioDecoder);
    if (FAILED(hr)) {
        return Fail(hr,
                    u"AACデコーダーが作成できません。\r\nAACデコーダーの登録を確認してください。");
    }
    hr = CreateAndAdd(CLSID_DSoundRender, u"Audio Renderer", &audioRenderer,
                      u"Audioレンダラーが作成できません。\r\nサウンドデバイスがないか、スピーカー"
                      u"が接続されていないか、システムに重大な障害が出ているか、可能性があります。",
                      u"Audioレンダラーがグラフに登録できません。" ORV_SYSTEM_FAILURE);
    if (FAILED(hr)) {
        return hr;
    }
    buildStage = 10;
    return S_OK;
}

HRESULT CViewerGraph::BuildCaptions() {
    HRESULT hr = CreateAndAdd(CLSID_QVCaption, u"Caption Filter", &captionFilter,
                              u"QV Captionフィルターが作成できません。\r\nQV Captionフィルター"
                              u"の登録やバージョンを確認してください。",
                              u"QV Captionフィルターがグラフに登録できません。" ORV_SYSTEM_FAILURE);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IQVCaption> caption;
    if (FAILED(hr = captionFilter.As(&caption))) {
        return Fail(hr,
                    u"IQVCaptionインターフェースが取得できません。\r\nQV Captionフィルターの登"
                    u"録やバージョンを確認してください。");
    }
    caption->SetVideoRenderer(videoRenderer.Get());
    caption->ShowCaptions(captionsOn ? 1 : 0);
    caption->SetFontName(Utf16ToCp932(host.Settings().aribFont.GetView()).c_str());
    caption->SetCharReplacement(kCaptionCharReplacement, 1, TRUE);
    buildStage = 11;
    return S_OK;
}

HRESULT CViewerGraph::ConnectAll() {
    struct Connection {
        uint32_t stage;
        IBaseFilter* upstream;
        int outputIndex;
        const char16_t* pinName;
        IBaseFilter* downstream;
        bool wanted;
    };
    const Connection connections[] = {
        {0x20, networkProvider.Get(), 0, nullptr, tunerFilter.Get(), bool(networkProvider)},
        {0x21, tunerFilter.Get(), 0, nullptr, captureFilter.Get(), bool(networkProvider)},
        {0x22, captureFilter.Get(), 0, nullptr, sourceFilter.Get(), bool(captureFilter)},
        {0x23, sourceFilter.Get(), 0, nullptr, analyzerFilter.Get(), bool(analyzer)},
        {0x24, analyzerFilter.Get(), 0, u"Video", videoDecoder.Get(), bool(videoDecoder)},
        {0x24, analyzerFilter.Get(), 0, u"Audio", audioDecoder.Get(), bool(audioDecoder)},
        {0x24, analyzerFilter.Get(), 0, u"Caption", captionFilter.Get(), bool(captionFilter)},
        {0x24, analyzerFilter.Get(), 0, u"Section", transportInformationFilter.Get(),
         bool(transportInformationFilter)},
        {0x29, videoDecoder.Get(), 0, nullptr, videoRenderer.Get(), bool(videoRenderer)},
        {0x2A, audioDecoder.Get(), 0, nullptr, audioRenderer.Get(), bool(audioRenderer)},
    };
    for (const Connection& connection : connections) {
        if (!connection.wanted) {
            continue;
        }
        buildStage = connection.stage;
        const HRESULT hr =
            connection.pinName != nullptr
                ? ConnectNamedPin(connection.upstream, connection.pinName, connection.downstream)
                : ConnectFilters(connection.upstream, connection.outputIndex,
                                 connection.downstream);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT CViewerGraph::LoadFile(const ICWString& path) {
    ComPtr<IFileSourceFilter> fileSource;
    HRESULT hr = sourceFilter.As(&fileSource);
    if (FAILED(hr)) {
        return Fail(hr,
                    u"IFileSourceFilterインターフェースが取得できません。\r\nTSソースフィルター"
                    u"の登録やバージョンを確認して下さい。");
    }
    if (FAILED(hr = fileSource->Load(path.GetText(), nullptr))) {
        return Fail(hr,
                    u"IFileSourceFilter::Loadに失敗しました。\r\nファイルのパスや内容を確認して"
                    u"下さい。");
    }
    ComPtr<IMediaSeeking> seeking;
    if (SUCCEEDED(filterGraph.As(&seeking))) {
        LONGLONG length = 0;
        if (SUCCEEDED(seeking->GetDuration(&length))) {
            duration = length;
        }
    }
    return S_OK;
}

HRESULT CViewerGraph::ConnectFilters(IBaseFilter* upstream, int outputIndex,
                                     IBaseFilter* downstream) {
    ComPtr<IPin> output = FindPin(upstream, PINDIR_OUTPUT, outputIndex, nullptr);
    ComPtr<IPin> input = FindPin(downstream, PINDIR_INPUT, 0, nullptr);
    if (!output || !input) {
        return S_FALSE;
    }
    const HRESULT hr = filterGraph->ConnectDirect(output.Get(), input.Get(), nullptr);
    if (FAILED(hr)) {
        ICWString message;
        message.Format(
            u"%sと%sのConnectに失敗しました。フィルターのメディアタイプやバージョンを確認"
            u"して下さい。",
            FilterName(upstream).c_str(), FilterName(downstream).c_str());
        errorText = ICString(message);
    }
    return hr;
}

HRESULT CViewerGraph::ConnectNamedPin(IBaseFilter* upstream, const char16_t* pinName,
                                      IBaseFilter* downstream) {
    ComPtr<IPin> output = FindPin(upstream, PINDIR_OUTPUT, 0, pinName);
    ComPtr<IPin> input = FindPin(downstream, PINDIR_INPUT, 0, nullptr);
    if (!output || !input) {
        return S_FALSE;
    }
    return filterGraph->ConnectDirect(output.Get(), input.Get(), nullptr);
}

HRESULT CViewerGraph::FindDeviceFilter(REFCLSID category, const char16_t* property,
                                       const std::u16string& value, ComPtr<IBaseFilter>* out) {
    const std::vector<DeviceEntry> devices = ListDevices(category);
    if (devices.empty()) {
        return E_FAIL;
    }
    const bool byPath = std::u16string_view(property) == u"DevicePath";
    for (const DeviceEntry& device : devices) {
        if ((byPath ? device.devicePath : device.friendlyName) != value) {
            continue;
        }
        ComPtr<IBaseFilter> filter;
        HRESULT hr = device.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                  filter.GetVoidAddressOf());
        if (FAILED(hr)) {
            return hr;
        }
        // Devices go in under their path, decoders and providers under their name.
        if (FAILED(hr = filterGraph->AddFilter(filter.Get(), value.c_str()))) {
            return hr;
        }
        *out = std::move(filter);
        return S_OK;
    }
    return -1;
}

HRESULT CViewerGraph::RegisterInRot() {
    ComPtr<IRunningObjectTable> table;
    HRESULT hr = GetRunningObjectTable(0, table.GetAddressOf());
    if (FAILED(hr)) {
        return hr;
    }
    ICWString item;
    item.Format(u"FilterGraph %08x pid %08x",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(filterGraph.Get())),
                static_cast<unsigned>(::getpid()));
    ComPtr<IMoniker> moniker;
    if (FAILED(hr = CreateItemMoniker(u"!", item.GetText(), moniker.GetAddressOf()))) {
        return hr;
    }
    return table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, filterGraph.Get(), moniker.Get(),
                           &rotCookie);
}

void CViewerGraph::SetStreamOffset(int32_t milliseconds) {
    streamOffset = milliseconds;
    if (analyzer) {
        analyzer->SetLatency(LONGLONG(milliseconds) * 10000);
    }
}

HRESULT CViewerGraph::GetDisplaySize(LONG* width, LONG* height, LONG* aspectX, LONG* aspectY) {
    if (!filterGraph) {
        return -1;
    }
    ComPtr<IBasicVideo2> video;
    HRESULT hr = filterGraph.As(&video);
    if (FAILED(hr)) {
        return hr;
    }
    LONG x = 0;
    LONG y = 0;
    LONG codedWidth = 0;
    LONG codedHeight = 0;
    video->GetPreferredAspectRatio(&x, &y);
    video->GetVideoSize(&codedWidth, &codedHeight);
    LONG displayWidth = codedWidth;
    if ((x == 16 || x == 4) && y != 0) {
        displayWidth = codedHeight / y * x;
    } else if (codedWidth == 1440) {
        displayWidth = 1920;
    } else if (codedWidth == 720) {
        displayWidth = 848;
    }
    *width = displayWidth;
    *height = codedHeight;
    *aspectX = x;
    *aspectY = y;
    return S_OK;
}

void CViewerGraph::UpdateVideoPosition() {
    LONG areaWidth = 0;
    LONG areaHeight = 0;
    if (videoWindow != nullptr) {
        videoWindow->GetClientSize(&areaWidth, &areaHeight);
    }
    LONG width = 0;
    LONG height = 0;
    LONG aspectX = 0;
    LONG aspectY = 0;
    if (FAILED(GetDisplaySize(&width, &height, &aspectX, &aspectY)) || width == 0 || height == 0) {
        width = 1920;
        height = 1080;
    }
    const double scale =
        std::min(double(areaWidth) / double(width), double(areaHeight) / double(height));
    const LONG pictureWidth = LONG(double(width) * scale);
    const LONG pictureHeight = LONG(double(height) * scale);
    const LONG x = (areaWidth - pictureWidth) / 2;
    const LONG y = (areaHeight - pictureHeight) / 2;
    ComPtr<IVMRWindowlessControl9> windowless;
    if (filterGraph && videoRenderer && SUCCEEDED(videoRenderer.As(&windowless))) {
        const RECT destination{x, y, x + pictureWidth, y + pictureHeight};
        windowless->SetVideoPosition(nullptr, &destination);
    }
}

void CViewerGraph::ReleaseFilter(ComPtr<IBaseFilter>* filter) {
    if (!*filter) {
        return;
    }
    filterGraph->RemoveFilter(filter->Get());
    // The graph holds the filters' last references: let go of every one that is left.
    IBaseFilter* object = filter->Detach();
    ULONG count = object->Release();
    while (count != 0) {
        const ULONG next = object->Release();
        if (next == count) {
            break;
        }
        count = next;
    }
}

void CViewerGraph::Teardown() {
    if (!filterGraph) {
        return;
    }
    StopGraph();
    if (rotCookie != 0) {
        ComPtr<IRunningObjectTable> table;
        if (SUCCEEDED(GetRunningObjectTable(0, table.GetAddressOf()))) {
            table->Revoke(rotCookie);
        }
        rotCookie = 0;
    }
    ComPtr<IMediaEventEx> events;
    if (SUCCEEDED(filterGraph.As(&events))) {
        events->SetNotifyWindow(0, 0, 0);
    }
    analyzer = nullptr;
    ComPtr<IBaseFilter>* const order[] = {
        &videoRenderer,  &audioRenderer, &videoDecoder, &audioDecoder,  &captionFilter,
        &analyzerFilter, &sourceFilter,  &tunerFilter,  &captureFilter, &transportInformationFilter,
        &networkProvider};
    for (ComPtr<IBaseFilter>* filter : order) {
        ReleaseFilter(filter);
    }
    filterGraph = nullptr;
    fileMode = false;
}

LONG CViewerGraph::VolumeOfLevel(int32_t level) {
    return kVolumeTable[std::clamp(level, 0, 10)];
}
