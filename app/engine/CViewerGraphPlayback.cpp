#include <chrono>
#include <cstdio>

#include "app/engine/CViewerGraph.h"
#include "app/stores/CLogo.h"
#include "app/stores/CTuner.h"
#include "app/stores/CTunerList.h"
#include "caption/IQVCaption.h"
#include "platform/bda/BdaInterfaces.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/DShowErrors.h"
#include "sianalyzer/ICSICDT.h"
#include "sianalyzer/ICSIDownload.h"
#include "sianalyzer/ICSIEIT.h"
#include "sianalyzer/ICSIEvent.h"
#include "sianalyzer/ICSIList.h"
#include "sianalyzer/ICSIPAT.h"
#include "sianalyzer/ICSIPMT.h"
#include "sianalyzer/ICSISDT.h"
#include "sources/IQVBonSource.h"
#include "sources/IQVTSSource.h"

// Playback on a built graph: tuning, the run state, the analyzer's SI events, the reception
// watchdog and the read-outs.

namespace {

constexpr uint8_t kComponentTagVideo = 0x00;
constexpr uint8_t kComponentTagAudio = 0x10;
constexpr uint8_t kComponentTagCaption = 0x30;

constexpr DWORD kNotifyPatSection = 0x00000001;
constexpr DWORD kNotifyPmtSection = 0x00000002;
constexpr DWORD kNotifyNitSection = 0x00000008;

constexpr int32_t kSecondsBeforeWatch = 3;
constexpr int32_t kWatchSeconds = 10;
constexpr int32_t kRetuneLimit = 10;
constexpr uint32_t kWrongStreamDelay = 9999;      // ms after the start
constexpr uint32_t kPmtWatchDuration = 180000;    // ms after the start
constexpr int32_t kRecordingProgrammeDelay = 60;  // s

// The stored SI of the analyzer, held for as long as this lives.
class HeldSIList {
public:
    explicit HeldSIList(IQVSIAnalyzer* analyzer)
        : list(analyzer != nullptr ? analyzer->GetSIList() : nullptr) {}
    ~HeldSIList() {
        if (list != nullptr) {
            list->Release();
        }
    }
    HeldSIList(const HeldSIList&) = delete;
    HeldSIList& operator=(const HeldSIList&) = delete;
    ICSIList* operator->() const { return list; }
    explicit operator bool() const { return list != nullptr; }

private:
    ICSIList* list;
};

bool IsTerrestrial(const CTuningSpace* space) {
    return space != nullptr &&
           (space->type == CTuningSpace::kTerrestrial || space->type == CTuningSpace::kCable);
}

}  // namespace

// --- tuning

HRESULT CViewerGraph::Tune(CChannelInfo* newChannel) {
    channel = newChannel;
    tuningSpace = channel != nullptr ? channel->tuningSpace : nullptr;
    tuner = tuningSpace != nullptr ? tuningSpace->tuner : nullptr;

    networkId = 0;
    transportStreamId = channel != nullptr ? uint16_t(channel->transportStreamId) : 0;
    serviceId = channel != nullptr ? uint16_t(channel->serviceId) : 0;
    programme.eventId = 0;
    pcrPid = videoPid = audioPid = captionPid = 0;
    secondsCounter = kSecondsBeforeWatch;
    wrongStreamPosted = false;
    serviceName.Empty();

    if (analyzer) {
        // Nothing passes until SelectStreams chooses.
        analyzer->SetPCRPID(kNoPid);
        analyzer->SetVideoPID(kNoPid);
        analyzer->SetAudioPID(kNoPid);
        analyzer->SetCaptionPID(kNoPid);
    }
    HRESULT hr = S_OK;
    if (tuner != nullptr && tuner->isBonDriver) {
        ComPtr<IQVBonSource> bon;
        if (!sourceFilter) {
            return E_FAIL;
        }
        if (FAILED(hr = sourceFilter.As(&bon))) {
            return hr;
        }
        const int32_t spaceIndex = tuner->tuningSpaces.IndexOf(tuningSpace);
        hr = spaceIndex >= 0 && bon->SetChannel(DWORD(spaceIndex), DWORD(channel->physicalIndex))
                 ? S_OK
                 : E_FAIL;
    } else if (tuner != nullptr) {
        hr = TuneBda();
    }
    SetNotifyMask(kNotifyMask);
    sizePending = true;
    return hr;
}

HRESULT CViewerGraph::TuneBda() {
    ComPtr<ITuner> bdaTuner;
    HRESULT hr = networkProvider ? networkProvider.As(&bdaTuner) : E_FAIL;
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<ITuningSpace> space;
    if (FAILED(hr = bdaTuner->get_TuningSpace(space.GetAddressOf()))) {
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
        FAILED(hr = locator->put_CarrierFrequency(channel->frequency)) ||
        FAILED(hr = dvbRequest->put_Locator(locator.Get()))) {
        return hr;
    }
    if (channel->transportStreamId != 0 &&
        FAILED(hr = dvbRequest->put_TSID(LONG(channel->transportStreamId)))) {
        return hr;
    }
    return bdaTuner->put_TuneRequest(dvbRequest.Get());
}

HRESULT CViewerGraph::Retune() {
    ++retuneCount;
    ComPtr<IMediaControl> control;
    if (filterGraph && SUCCEEDED(filterGraph.As(&control))) {
        control->Stop();
    }
    const HRESULT hr = Tune(channel);
    if (FAILED(hr)) {
        return hr;
    }
    return RunGraph();
}

void CViewerGraph::SetNotifyMask(DWORD mask) {
    notificationMask = mask;
    if (analyzer) {
        analyzer->SetNotifyFlags(mask);
    }
}

// --- run state

HRESULT CViewerGraph::RunGraph() {
    ComPtr<IMediaControl> control;
    HRESULT hr = filterGraph ? filterGraph.As(&control) : E_FAIL;
    if (SUCCEEDED(hr)) {
        hr = control->Run();
        if (hr == S_FALSE) {
            OAFilterState state = 0;
            hr = control->GetState(200, &state);
            if (hr != S_OK && hr != VFW_S_STATE_INTERMEDIATE && hr != VFW_S_CANT_CUE) {
                control->Stop();
            }
        }
    }
    const bool succeeded = hr == S_OK || hr == VFW_S_STATE_INTERMEDIATE || hr == VFW_S_CANT_CUE;
    if (succeeded) {
        running = true;
        paused = false;
    }
    sizePending = true;
    startTick = Now();
    dropCount = syncErrorCount = transportErrorCount = 0;
    fiveSeconds.elapsed = 0;
    return succeeded ? S_OK : hr;
}

void CViewerGraph::PauseGraph() {
    if (paused) {
        RunGraph();
        return;
    }
    ComPtr<IMediaControl> control;
    if (filterGraph && SUCCEEDED(filterGraph.As(&control))) {
        control->Pause();
        paused = true;
    }
}

void CViewerGraph::StopGraph() {
    if (IsRecording()) {
        StopRecordingFile();
    }
    if (running && filterGraph) {
        ComPtr<IMediaControl> control;
        if (SUCCEEDED(filterGraph.As(&control))) {
            control->Stop();
        }
        ReplaceVideoRenderer();
    }
    graphWindow.DropPendingEvents();
    running = false;
    paused = false;
    secondsCounter = 0;
    watchPhase = 0;
    presentEventCountdown = 0;
}

// A stopped renderer keeps its last picture; a new one starts clean.
void CViewerGraph::ReplaceVideoRenderer() {
    if (!videoDecoder || !videoRenderer) {
        return;
    }
    ReleaseFilter(&videoRenderer);
    if (FAILED(CreateVideoRenderer())) {
        return;
    }
    ComPtr<IQVCaption> caption;
    if (captionFilter && SUCCEEDED(captionFilter.As(&caption))) {
        caption->SetVideoRenderer(videoRenderer.Get());
    }
    if (SUCCEEDED(ConnectFilters(videoDecoder.Get(), 0, videoRenderer.Get()))) {
        UpdateVideoPosition();
    }
}

uint32_t CViewerGraph::GetPosition() {
    ComPtr<IMediaSeeking> seeking;
    LONGLONG position = 0;
    if (filterGraph && SUCCEEDED(filterGraph.As(&seeking))) {
        seeking->GetCurrentPosition(&position);
    }
    return uint32_t(position / 10000);
}

void CViewerGraph::SetPosition(uint32_t milliseconds) {
    ComPtr<IMediaSeeking> seeking;
    if (!filterGraph || FAILED(filterGraph.As(&seeking))) {
        return;
    }
    if (!fileStart.streamsChosen) {
        fileStart.position = milliseconds;
    }
    host.BeginWaitCursor();
    LONGLONG position = LONGLONG(milliseconds) * 10000;
    seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                          AM_SEEKING_NoPositioning);
    host.EndWaitCursor();
}

void CViewerGraph::SetVolume(int32_t level) {
    volumeLevel = std::clamp(level, 0, 10);
    ComPtr<IBasicAudio> audio;
    if (filterGraph && SUCCEEDED(filterGraph.As(&audio))) {
        audio->put_Volume(VolumeOfLevel(volumeLevel));
    }
}

void CViewerGraph::SetOutputsEnabled(bool enabled) {
    outputsOff = !enabled;
    if (!analyzer) {
        return;
    }
    analyzer->SetVideoPID(enabled ? videoPid : kNoPid);
    analyzer->SetAudioPID(enabled ? audioPid : kNoPid);
    analyzer->SetCaptionPID(enabled ? captionPid : kNoPid);
}

// --- read-outs

float CViewerGraph::ReadSignalLevel() {
    if (isBonDriver) {
        ComPtr<IQVBonSource> bon;
        return sourceFilter && SUCCEEDED(sourceFilter.As(&bon)) ? bon->GetSignalLevel() : 0.0f;
    }
    ComPtr<IBDA_Topology> topology;
    if (!tunerFilter || FAILED(tunerFilter.As(&topology))) {
        return 0.0f;
    }
    ULONG types[32];
    ULONG count = 0;
    if (FAILED(topology->GetNodeTypes(&count, 32, types))) {
        return 0.0f;
    }
    float level = 0.0f;
    for (ULONG i = 0; i < std::min<ULONG>(count, 32); ++i) {
        ComPtr<IUnknown> node;
        if (FAILED(topology->GetControlNode(0, 1, types[i], node.GetAddressOf()))) {
            continue;
        }
        ComPtr<IBDA_SignalStatistics> statistics;
        LONG strength = 0;
        if (SUCCEEDED(node.As(&statistics)) &&
            SUCCEEDED(statistics->get_SignalStrength(&strength))) {
            level = float(strength);
        }
    }
    return level;
}

uint32_t CViewerGraph::GetStreamBitRate() {
    ComPtr<IQVTSSource> source;
    return sourceFilter && SUCCEEDED(sourceFilter.As(&source)) ? source->GetBitrate() : 0;
}

BYTE* CViewerGraph::CaptureImage(HRESULT* failure) {
    HRESULT ignored = S_OK;
    HRESULT& result = failure != nullptr ? *failure : ignored;
    result = -1;
    ComPtr<IVMRWindowlessControl9> windowless;
    if (!videoRenderer || FAILED(videoRenderer.As(&windowless))) {
        return nullptr;
    }
    BYTE* image = nullptr;
    result = windowless->GetCurrentImage(&image);
    if (FAILED(result) || image == nullptr) {
        result = FAILED(result) ? result : E_FAIL;
        return nullptr;
    }
    return image;
}

ICSIDateTime CViewerGraph::GetApplicationTime() {
    if (running && analyzer) {
        ICSIDateTime time;
        if (analyzer->GetCurrentTime(&time.year, &time.month, &time.day, &time.hour, &time.minute,
                                     &time.second) == 1) {
            // The weekday comes from the date.
            return sitime::FromValue(sitime::ToValue(time));
        }
    }
    return sitime::LocalNow();
}

int64_t CViewerGraph::ApplicationTimeValue() {
    return sitime::ToValue(GetApplicationTime());
}

void CViewerGraph::RepaintVideo() {
    ComPtr<IVMRWindowlessControl9> windowless;
    if (videoRenderer && SUCCEEDED(videoRenderer.As(&windowless))) {
        windowless->RepaintVideo(videoWindow, nullptr);
    }
}

void CViewerGraph::DisplayModeChanged() {
    ComPtr<IVMRWindowlessControl9> windowless;
    if (videoRenderer && SUCCEEDED(videoRenderer.As(&windowless))) {
        windowless->DisplayModeChanged();
    }
}

// --- streams and SI

void CViewerGraph::SelectStreams() {
    if (transportStreamId == 0 || !analyzer) {
        return;
    }
    HeldSIList si(analyzer.Get());
    if (!si) {
        return;
    }
    if (serviceId == 0) {
        const ICSIPAT* pat = si->FindPAT(transportStreamId);
        uint16_t chosen = 0;
        if (pat != nullptr) {
            // A terrestrial broadcaster's first service has the three low bits of its number 0.
            for (int32_t i = 0; IsTerrestrial(tuningSpace) && i < pat->GetProgramCount(); ++i) {
                const uint16_t number = pat->GetProgramNumber(i);
                if (number != 0 && (number & 7) == 0) {
                    chosen = number;
                    break;
                }
            }
            for (int32_t i = 0; chosen == 0 && i < pat->GetProgramCount(); ++i) {
                chosen = pat->GetProgramNumber(i);
            }
        }
        if (chosen == 0) {
            return;
        }
        serviceId = chosen;
    }
    const ICSIPMT* pmt = si->FindPMT(transportStreamId, serviceId);
    if (pmt == nullptr) {
        return;
    }
    const uint16_t pcr = pmt->GetPCRPID();
    if (pcr != 0 && pcr != pcrPid) {
        pcrPid = pcr;
        analyzer->SetPCRPID(pcr);
    }
    struct Stream {
        uint8_t componentTag;
        uint16_t* pid;
        void (IQVSIAnalyzer::*give)(DWORD);
    };
    const Stream streams[] = {
        {kComponentTagVideo, &videoPid, &IQVSIAnalyzer::SetVideoPID},
        {kComponentTagAudio, &audioPid, &IQVSIAnalyzer::SetAudioPID},
        {kComponentTagCaption, &captionPid, &IQVSIAnalyzer::SetCaptionPID},
    };
    for (const Stream& stream : streams) {
        const ICSIES* es = pmt->FindESByComponentTag(stream.componentTag);
        if (es == nullptr || es->GetPID() == 0 || es->GetPID() == *stream.pid) {
            continue;
        }
        *stream.pid = es->GetPID();
        if (!outputsOff) {
            (analyzer.Get()->*stream.give)(*stream.pid);
        }
    }
    if (fileMode && running && !fileStart.streamsChosen && (videoPid != 0 || audioPid != 0)) {
        fileStart.streamsChosen = true;
        fileStart.restartPending = true;
    }
}

void CViewerGraph::ReadCurrentProgramme() {
    HeldSIList si(analyzer.Get());
    if (!si) {
        return;
    }
    const ICSIEvent* event = nullptr;
    for (int32_t i = 0; event == nullptr && i < si->GetEITCount(); ++i) {
        const ICSIEIT* eit = si->GetEIT(i);
        if (eit->GetTransportStreamID() == transportStreamId && eit->GetServiceID() == serviceId) {
            event = eit->GetPresentEvent();
        }
    }
    if (event == nullptr) {
        return;
    }
    programme.eventId = event->GetEventID();
    programme.title = event->GetEventName();
    const ICSIComponent* video = event->GetComponent(0);
    const ICSIComponent* audio = event->GetAudioComponent(0);
    programme.videoComponentType = video != nullptr ? video->GetComponentType() : 255;
    programme.audioComponentType = audio != nullptr ? audio->GetComponentType() : 255;
    // The first bytes of the content entries (level 1 and 2 nibbles), without the extension
    // genres (level 1 nibble 0xE), at most four.
    programme.genre.fill(0xEE);
    size_t genres = 0;
    for (int32_t i = 0; i < event->GetContentCount() && genres < programme.genre.size(); ++i) {
        const uint16_t content = event->GetContent(i);
        if ((content >> 12) != 0xE) {
            programme.genre[genres++] = uint8_t(content >> 8);
        }
    }
}

void CViewerGraph::PmtWatch(uint16_t tsid, uint16_t program) {
    SelectStreams();
    const uint32_t elapsed = Now() - startTick;
    if (tsid != transportStreamId || program != serviceId) {
        if (tsid != transportStreamId && elapsed > kWrongStreamDelay && !wrongStreamPosted) {
            graphWindow.PostWindowMessage(kMsgRetune, 0, 0);
            wrongStreamPosted = true;
        }
        if (elapsed < kPmtWatchDuration) {
            return;
        }
    }
    SetNotifyMask(notificationMask & ~kNotifyPmtSection);
}

void CViewerGraph::ServiceUpdate(uint16_t onid, uint16_t tsid) {
    if (networkId == 0) {
        networkId = onid;
    }
    if (serviceId == 0 || channel == nullptr) {
        return;
    }
    HeldSIList si(analyzer.Get());
    if (!si) {
        return;
    }
    const ICSISDT* sdt = si->FindSDT(onid, tsid);
    const ICSIService* service = sdt != nullptr ? sdt->FindService(serviceId) : nullptr;
    if (service == nullptr) {
        return;
    }
    const uint16_t logoId = service->GetLogoID();
    if (logoId != CChannelInfo::kNoLogo && logoId != channel->logoId) {
        channel->logoId = logoId;
        if (channel->channelNumber != 0) {
            PostToPanel(uint32_t(transportStreamId) << 16 | serviceId,
                        uint32_t(networkId) << 16 | logoId);
        }
        host.Tuners().channelsDirty = true;
    }
    serviceName = service->GetServiceName();
}

void CViewerGraph::PresentEvent(uint16_t tsid, uint16_t sid, uint16_t eventId) {
    if (tsid != transportStreamId || sid != serviceId) {
        return;
    }
    programme.eventId = eventId;
    if (presentEventCountdown != 0) {
        ReadCurrentProgramme();
    }
    if (callbacks.presentEvent) {
        callbacks.presentEvent(*this);
    }
}

void CViewerGraph::PostToPanel(uint32_t wParam, uint32_t lParam) {
    if (panelWindow != nullptr) {
        panelWindow->PostWindowMessage(kMsgLogo, wParam, intptr_t(lParam));
    }
}

void CViewerGraph::LogoDownload(uint32_t downloadId, uint16_t moduleId) {
    HeldSIList si(analyzer.Get());
    if (!si) {
        return;
    }
    const ICSIDownload* download = si->FindDownload(downloadId);
    const ICSIModule* module = download != nullptr ? download->FindModule(moduleId) : nullptr;
    CLogoList::GraphContext context{networkId, transportStreamId, serviceId,
                                    [this](uint32_t w, uint32_t l) { PostToPanel(w, l); }};
    if (module != nullptr && host.Logos().StoreCarouselLogos(*module, context)) {
        host.Tuners().logosDirty = true;
    }
}

void CViewerGraph::LogoUpdate(uint16_t downloadDataId, uint16_t onid) {
    HeldSIList si(analyzer.Get());
    if (!si) {
        return;
    }
    const ICSICDT* cdt = si->FindCDT(onid, downloadDataId);
    CLogoList::GraphContext context{networkId, transportStreamId, serviceId,
                                    [this](uint32_t w, uint32_t l) { PostToPanel(w, l); }};
    if (cdt != nullptr && host.Logos().StoreCdtLogo(*cdt, context)) {
        host.Tuners().logosDirty = true;
    }
}

// --- the hidden window

void CViewerGraph::HandleMessage(uint32_t message, uintptr_t, intptr_t) {
    switch (message) {
        case kMsgGraphEvent:
            OnGraphEvent();
            break;
        case kMsgRetune:
            Retune();
            break;
        case kICWmTimer:
            OnTimerTick();
            break;
        default:
            break;
    }
}

void CViewerGraph::OnGraphEvent() {
    ComPtr<IMediaEventEx> events;
    if (!filterGraph || FAILED(filterGraph.As(&events))) {
        return;
    }
    LONG code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    // Every event posts its own message, and the graph queues the event before it posts the
    // message. The events taken here ahead of their messages leave those messages nothing to
    // wait for; and a stream of events that never pauses for the wait (a playing file reports
    // without a pause) is handled in turns, so that the window still paints.
    LONG wait = kEventWait;
    if (eventsTakenAhead > 0) {
        --eventsTakenAhead;
        wait = 0;
    }
    const auto began = std::chrono::steady_clock::now();
    bool first = true;
    while (events && events->GetEvent(&code, &param1, &param2, wait) == S_OK) {
        if (!first) {
            ++eventsTakenAhead;
        }
        first = false;
        events->FreeEventParams(code, param1, param2);
        const auto p1 = uint32_t(param1);
        const auto p2 = uint32_t(param2);
        switch (code) {
            case kEventFileRestarted:
                fileStart.awaitingMarker = false;
                break;
            case EC_COMPLETE:
                // A file that ended before its streams were chosen plays again from its start.
                if (!fileStart.restartPending && !fileStart.awaitingMarker) {
                    StopGraph();
                    if (callbacks.complete) {
                        callbacks.complete(*this);
                    }
                }
                break;
            case EC_VIDEO_SIZE_CHANGED:
                UpdateVideoPosition();
                break;
            case kQVEventPATSection:
            case kQVEventPATStored:
                if (transportStreamId == 0) {
                    transportStreamId = uint16_t(p2);
                }
                SelectStreams();
                if (code == kQVEventPATSection) {
                    // One PAT section is enough.
                    SetNotifyMask(notificationMask & ~kNotifyPatSection);
                }
                break;
            case kQVEventPMTSection:
                PmtWatch(uint16_t(p2 >> 16), uint16_t(p2));
                break;
            case kQVEventNITSection:
                if (networkId == 0) {
                    networkId = uint16_t(p2);
                }
                if (callbacks.nit) {
                    callbacks.nit(*this, uint8_t(p1), uint16_t(p2));
                } else {
                    SetNotifyMask(notificationMask & ~kNotifyNitSection);
                }
                break;
            case kQVEventSDTSection:
                ServiceUpdate(uint16_t(p2 >> 16), uint16_t(p2));
                if (callbacks.sdt) {
                    callbacks.sdt(*this, uint8_t(p1), uint16_t(p2 >> 16), uint16_t(p2));
                }
                break;
            case kQVEventModuleComplete:
                LogoDownload(p1, uint16_t(p2));
                break;
            case kQVEventPMTComplete:
                SelectStreams();
                break;
            case kQVEventNITComplete:
                if (networkId == 0) {
                    networkId = uint16_t(p2);
                }
                SelectStreams();
                break;
            case kQVEventSDTComplete:
                ServiceUpdate(uint16_t(p2 >> 16), uint16_t(p2));
                break;
            case kQVEventCDTStored:
                LogoUpdate(uint16_t(p1), uint16_t(p2 >> 16));
                break;
            case kQVEventEITBasicSegment:
                if (analyzer && callbacks.eitSegment) {
                    callbacks.eitSegment(*this, uint16_t(p1 >> 16), uint16_t(p1),
                                         uint16_t(p2 >> 16), uint8_t(p2 >> 8), uint8_t(p2));
                }
                break;
            case kQVEventEventStored:
                if (callbacks.eventStored) {
                    callbacks.eventStored(*this, uint16_t(p1 >> 16), uint16_t(p1),
                                          uint16_t(p2 >> 16), uint16_t(p2));
                }
                break;
            case kQVEventPresentEvent:
                PresentEvent(uint16_t(p1), uint16_t(p2 >> 16), uint16_t(p2));
                break;
            default:
                break;
        }
        if (fileStart.restartPending) {
            RestartFile();
        }
        if (!filterGraph || std::chrono::steady_clock::now() - began > kEventTurn) {
            break;
        }
    }
}

void CViewerGraph::RestartFile() {
    fileStart.restartPending = false;
    ComPtr<IMediaEventSink> sink;
    if (!running || FAILED(filterGraph.As(&sink))) {
        return;
    }
    sink->Notify(kEventFileRestarted, 0, 0);
    fileStart.awaitingMarker = true;
    SetPosition(fileStart.position);
}

// --- the reception watchdog

void CViewerGraph::OnTimerTick() {
    const uint32_t now = Now();
    const uint32_t interval = now - lastTick;
    lastTick = now;
    // A long pause between ticks (a busy thread) counts as one period of each length.
    for (PeriodAccumulator* accumulator : {&oneSecond, &fiveSeconds}) {
        accumulator->elapsed += interval > 999 ? accumulator->period : interval;
    }
    if (oneSecond.elapsed >= oneSecond.period) {
        oneSecond.elapsed = 0;
        EverySecond();
    }
    if (fiveSeconds.elapsed >= fiveSeconds.period) {
        fiveSeconds.elapsed = 0;
        EveryFiveSeconds();
    }
}

void CViewerGraph::EverySecond() {
    if (presentEventCountdown != 0 && --presentEventCountdown == 0) {
        ReadCurrentProgramme();
    }
    if (sizePending) {
        LONG width = 0;
        LONG height = 0;
        LONG aspectX = 0;
        LONG aspectY = 0;
        if (SUCCEEDED(GetDisplaySize(&width, &height, &aspectX, &aspectY)) && width != 0 &&
            height != 0 && aspectX != 0 && aspectY != 0) {
            UpdateVideoPosition();
            sizePending = false;
        }
    }
    if (!running || secondsCounter == 0) {
        return;
    }
    // Three seconds after a tune, a ten-second window watches the bit rate (phases 1, 3, 5);
    // a stalled stream is re-tuned and watched again, at most three times.
    const int32_t was = secondsCounter--;
    if (was == 1) {
        if (watchPhase % 2 == 0 && watchPhase <= 4) {
            secondsCounter = kWatchSeconds;
            zeroRateCount = 0;
        }
        ++watchPhase;
        return;
    }
    if (watchPhase % 2 == 1 && watchPhase <= 5 && GetStreamBitRate() == 0) {
        ++zeroRateCount;
        if (zeroRateCount > (retuneCount == 0 ? 1 : 3)) {
            ++watchPhase;
            zeroRateCount = 0;
            Retune();
        }
    }
}

void CViewerGraph::EveryFiveSeconds() {
    if (!running || fileMode) {
        return;
    }
    bool retune = false;
    ComPtr<IQVTSSource> source;
    if (sourceFilter && SUCCEEDED(sourceFilter.As(&source))) {
        DWORD sync = 0;
        DWORD transport = 0;
        DWORD dropped = 0;
        if (source->GetErrorCounts(&sync, &transport, &dropped) != 0) {
            if (dropped >= 4) {
                ++dropCount;
                retune = retune || !(retuneCount > 0 && dropCount < 2);
            } else if (dropped == 0) {
                dropCount = 0;
            }
            if (sync > 199) {
                ++syncErrorCount;
                retune = retune || retuneCount == 0 || syncErrorCount > 11;
            } else if (sync == 0) {
                syncErrorCount = 0;
            }
            if (transport > 49) {
                ++transportErrorCount;
                retune = retune || retuneCount == 0 || transportErrorCount > 2;
            } else if (transport == 0) {
                transportErrorCount = 0;
            }
        }
    }
    if (analyzer) {
        DWORD bufferTimeouts = 0;
        const DWORD sum = analyzer->GetStatistics(nullptr, nullptr, &bufferTimeouts, nullptr);
        if (sum != 0 && bufferTimeouts != 0) {
            ++dropCount;
            if (!retune && retuneCount > 0 && dropCount <= 1) {
                return;
            }
            retune = true;
        } else if (sum != 0) {
            dropCount = 0;
        }
    }
    if (retune && (retuneCount < kRetuneLimit || dropCount != 0)) {
        Retune();
    }
}

// --- recording

RecordingTune CViewerGraph::CurrentTune() const {
    RecordingTune tune;  // the recorder takes the PMT PID from the PAT
    tune.channel = channel;
    tune.networkId = networkId;
    tune.transportStreamId = transportStreamId;
    tune.serviceId = serviceId;
    tune.videoPid = videoPid;
    tune.audioPid = audioPid;
    tune.captionPid = captionPid;
    return tune;
}

RecordingProgramme CViewerGraph::ProgrammeForRecorder() const {
    RecordingProgramme current;
    current.eventId = programme.eventId;
    current.title = std::u16string(programme.title.GetView());
    current.videoComponentType = programme.videoComponentType;
    current.audioComponentType = programme.audioComponentType;
    current.genre = programme.genre;
    return current;
}

HRESULT CViewerGraph::StartRecordingFile(const std::string& path) {
    if (IsRecording() || !filterGraph || building) {
        return E_FAIL;
    }
    ReadCurrentProgramme();
    const HRESULT hr = recorder.Start(sourceFilter.Get(), analyzer.Get(), CurrentTune(),
                                      ProgrammeForRecorder(), ApplicationTimeValue(), path);
    if (SUCCEEDED(hr)) {
        presentEventCountdown = kRecordingProgrammeDelay;
    }
    return hr;
}

void CViewerGraph::StopRecordingFile() {
    if (!IsRecording()) {
        return;
    }
    recorder.Stop(sourceFilter.Get(), ProgrammeForRecorder(), ApplicationTimeValue());
}

// --- texts

ICWString CViewerGraph::FormatComponentText(uint8_t videoType, uint8_t audioType) {
    ICWString text;
    const char16_t* format = u"     ";
    if (videoType < 0xE0) {
        switch (videoType >> 4) {
            case 0x0:
                format = u" 480i";
                break;
            case 0xA:
                format = u" 480p";
                break;
            case 0xB:
                format = u"1080i";
                break;
            case 0xC:
                format = u" 720p";
                break;
            case 0xD:
                format = u" 240p";
                break;
            default:
                break;
        }
    }
    text.Append(format);
    switch (videoType & 0x0F) {
        case 1:
            text.Append(u"  4:3");
            break;
        case 3:
            text.Append(u" 16:9");
            break;
        default:
            text.Append(u"     ");
            break;
    }
    switch (audioType) {
        case 1:
            text.Append(u"    Mono  ");
            break;
        case 2:
            text.Append(u" Dual Mono");
            break;
        case 3:
            text.Append(u"   Stereo ");
            break;
        case 7:
            text.Append(u" 3/1 Mode ");
            break;
        case 8:
            text.Append(u" 3/2 Mode ");
            break;
        case 9:
            text.Append(u"   5.1ch  ");
            break;
        default:
            break;
    }
    return text;
}

ICWString CViewerGraph::FormatTimeRange(const ICSIDateTime* start, int32_t durationSeconds) {
    ICWString text;
    if (start == nullptr) {
        text = u"--:--";
        return text;
    }
    text.Format(u"%02d:%02d", start->hour, start->minute);
    if (durationSeconds < 0) {
        text.Append(u" ～      ");
        return text;
    }
    const ICSIDateTime end = sitime::FromValue(sitime::ToValue(*start) + durationSeconds);
    ICWString tail;
    tail.Format(u" ～ %02d:%02d", end.hour, end.minute);
    text.Append(tail);
    return text;
}
