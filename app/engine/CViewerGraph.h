#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/engine/EngineHost.h"
#include "app/engine/UiThread.h"
#include "app/engine/recording/CGraphRecorder.h"
#include "core/ICString.h"
#include "core/ICTimer.h"
#include "core/ICWString.h"
#include "core/ICWindowTarget.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/dshow/VideoSurface.h"
#include "platform/dshow/VmrInterfaces.h"
#include "sianalyzer/ICSITime.h"
#include "sianalyzer/IQVSIAnalyzer.h"

class CChannelInfo;
class CTuner;
class CTuningSpace;
class ICSIEvent;
class ICSIList;

// The hidden window of a graph: messages posted to it from any thread (graph events, timer
// ticks, re-tune requests) run on the user-interface thread, in the graph's handler. A message
// that arrives after the window is gone is dropped, and so is a graph event posted before the
// last DropPendingEvents.
class CGraphWindow final : public ICWindowTarget {
public:
    using Handler = std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

    CGraphWindow(IUiThread& uiThread, uint32_t eventMessage, Handler handler);
    ~CGraphWindow() override;
    CGraphWindow(const CGraphWindow&) = delete;
    CGraphWindow& operator=(const CGraphWindow&) = delete;

    void PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    // Drops every graph-event message posted so far and not yet handled.
    void DropPendingEvents();

private:
    struct Shared {
        Handler handler;
        bool alive = true;  // read and cleared on the user-interface thread only
        std::atomic<uint64_t> eventGeneration{0};
    };
    IUiThread& uiThread;
    const uint32_t eventMessage;
    std::shared_ptr<Shared> shared;
};

// The programme on air as the graph read it last from the analyzer's store.
struct CurrentProgramme {
    uint16_t eventId = 0;
    ICWString title;
    uint8_t videoComponentType = 255;
    uint8_t audioComponentType = 255;
    std::array<uint8_t, 4> genre{0xEE, 0xEE, 0xEE, 0xEE};
};

// One media graph of a viewing window: built for a tuner (a broadcast-driver device pair or a
// BonDriver module) or a recorded file, tuned, run, paused and stopped, with the SI events of
// its analyzer followed, its reception watched, and its recording.
//
// The graph owns one reference to every filter it made and releases them in Teardown. Its
// hidden window receives the graph events (0x500), the re-tune requests (0x503) and the ticks
// of its timer; everything runs on the host's user-interface thread.
class CViewerGraph {
public:
    static constexpr uint32_t kMsgGraphEvent = 0x500;
    static constexpr uint32_t kMsgRetune = 0x503;
    static constexpr uint32_t kMsgLogo = 0x600;
    // Every completion event plus the per-section events of PAT, PMT, NIT, SDT and carousel
    // modules.
    static constexpr DWORD kNotifyMask = 0xFFFF041B;
    static constexpr uint16_t kNoPid = 0xFFFF;
    static constexpr uint32_t kTimerPeriod = 100;  // ms

    struct Callbacks {
        std::function<void(CViewerGraph&, uint16_t networkId, uint16_t transportStreamId,
                           uint16_t serviceId, uint16_t eventId)>
            eventStored;
        std::function<void(CViewerGraph&)> presentEvent;
        std::function<void(CViewerGraph&, uint16_t networkId, uint16_t transportStreamId,
                           uint16_t serviceId, uint8_t tableId, uint8_t sectionNumber)>
            eitSegment;
        std::function<void(CViewerGraph&, uint8_t tableId, uint16_t networkId)> nit;
        std::function<void(CViewerGraph&, uint8_t tableId, uint16_t networkId,
                           uint16_t transportStreamId)>
            sdt;
        // The graph completed (a file played to its end) and was stopped.
        std::function<void(CViewerGraph&)> complete;
    };

    explicit CViewerGraph(IEngineHost& host);
    ~CViewerGraph();
    CViewerGraph(const CViewerGraph&) = delete;
    CViewerGraph& operator=(const CViewerGraph&) = delete;

    // --- construction
    HRESULT Build(CTuner* tuner, const ICWString& filePath);
    void Teardown();
    HRESULT ConnectFilters(IBaseFilter* upstream, int outputIndex, IBaseFilter* downstream);
    HRESULT ConnectNamedPin(IBaseFilter* upstream, const char16_t* pinName,
                            IBaseFilter* downstream);
    // The device of the category whose "FriendlyName" or "DevicePath" (`property`) is `value`,
    // made and added to the graph under `value`.
    HRESULT FindDeviceFilter(REFCLSID category, const char16_t* property,
                             const std::u16string& value, ComPtr<IBaseFilter>* out);
    HRESULT RegisterInRot();
    void SetStreamOffset(int32_t milliseconds);
    void UpdateVideoPosition();
    HRESULT GetDisplaySize(LONG* width, LONG* height, LONG* aspectX, LONG* aspectY);

    // --- playback
    HRESULT Tune(CChannelInfo* channel);
    HRESULT Retune();
    HRESULT RunGraph();
    void PauseGraph();
    void StopGraph();
    uint32_t GetPosition();
    void SetPosition(uint32_t milliseconds);
    void SetVolume(int32_t level);
    void SetOutputsEnabled(bool enabled);
    float ReadSignalLevel();
    uint32_t GetStreamBitRate();
    // A bitmap of the picture (free it with CoTaskMemFree), or null with the failure in
    // `failure` when given (-1 without a video renderer).
    BYTE* CaptureImage(HRESULT* failure = nullptr);
    ICSIDateTime GetApplicationTime();
    void SelectStreams();
    // Reads the programme on air of the current service from the analyzer's store.
    void ReadCurrentProgramme();
    // The picture area asks for its picture again (it was uncovered or resized).
    void RepaintVideo();
    void DisplayModeChanged();

    // --- recording
    HRESULT StartRecordingFile(const std::string& path);
    void StopRecordingFile();
    bool IsRecording() const { return recorder.IsRecording(); }
    CGraphRecorder& Recorder() { return recorder; }
    const CGraphRecorder& Recorder() const { return recorder; }

    // --- the hidden window's messages and the timer (public for the owner and the tests)
    void HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void OnGraphEvent();
    void OnTimerTick();
    ICWindowTarget* GraphWindow() { return &graphWindow; }
    // The millisecond tick count the watchdog and the start tick read (the steady clock unless
    // replaced).
    void SetTickSource(std::function<uint32_t()> source) {
        tickSource = std::move(source);
        lastTick = tickSource();
    }

    // --- read-outs
    static ICWString FormatComponentText(uint8_t videoType, uint8_t audioType);
    static ICWString FormatTimeRange(const ICSIDateTime* start, int32_t durationSeconds);
    // The volume in hundredths of a decibel for a level of 0..10.
    static LONG VolumeOfLevel(int32_t level);

    bool IsBuilt() const { return static_cast<bool>(filterGraph); }
    bool IsRunning() const { return running; }
    bool IsPaused() const { return paused; }
    bool IsFileMode() const { return fileMode; }
    bool AreOutputsOff() const { return outputsOff; }
    IQVSIAnalyzer* Analyzer() const { return analyzer.Get(); }
    IBaseFilter* SourceFilter() const { return sourceFilter.Get(); }
    IBaseFilter* VideoRenderer() const { return videoRenderer.Get(); }
    IBaseFilter* AudioRenderer() const { return audioRenderer.Get(); }
    IGraphBuilder* FilterGraph() const { return filterGraph.Get(); }
    CTuner* Tuner() const { return tuner; }
    CTuningSpace* TuningSpace() const { return tuningSpace; }
    CChannelInfo* Channel() const { return channel; }
    uint16_t NetworkId() const { return networkId; }
    uint16_t TransportStreamId() const { return transportStreamId; }
    uint16_t ServiceId() const { return serviceId; }
    uint16_t PcrPid() const { return pcrPid; }
    uint16_t VideoPid() const { return videoPid; }
    uint16_t AudioPid() const { return audioPid; }
    uint16_t CaptionPid() const { return captionPid; }
    const ICWString& ServiceName() const { return serviceName; }
    const CurrentProgramme& Programme() const { return programme; }
    const ICWString& CurrentTitle() const { return programme.title; }
    int32_t VolumeLevel() const { return volumeLevel; }
    int32_t RetuneCount() const { return retuneCount; }
    DWORD NotifyMask() const { return notificationMask; }
    int64_t Duration() const { return duration; }

    // --- options and state the owner sets
    uint32_t buildStage = 0;
    ICString errorText;
    bool withoutVideo = false;
    bool captionsOn = true;
    int32_t startDelay = 0;    // ms, given to the source
    int32_t streamOffset = 0;  // ms, given to the analyzer as latency
    bool isBonDriver = false;
    Callbacks callbacks;
    IVideoSurface* videoWindow = nullptr;   // the picture area
    ICWindowTarget* panelWindow = nullptr;  // receives kMsgLogo
    int32_t presentEventCountdown = 0;

private:
    // Where a file plays from once its streams are chosen. The source reads a file as fast as
    // the graph takes it, and until the streams are chosen the analyzer passes nothing on, so
    // nothing holds the reading back: whatever the file delivered before the user-interface
    // thread came to choose them (a window's first paint can take that long) is lost, a short
    // file entirely. The first choice therefore plays the file again from where it was asked
    // to start. The graph's events of the playing before the restart end with a marker of our
    // own; a completion among them is not the end of the file.
    struct FileStart {
        uint32_t position = 0;  // ms: 0, or the last position asked before the choice
        bool streamsChosen = false;
        bool restartPending = false;  // chosen; the restart follows the event being handled
        bool awaitingMarker = false;  // restarted; earlier events are still queued
    };
    static constexpr LONG kEventFileRestarted = EC_USER + 0x100;
    // How long the handler of a graph-event message waits for a further event, and how long
    // it goes on taking events before the user-interface thread does other work.
    static constexpr LONG kEventWait = 10;  // ms
    static constexpr std::chrono::milliseconds kEventTurn{50};
    void RestartFile();

    // A watchdog period: fires once each time `period` milliseconds have accumulated.
    struct PeriodAccumulator {
        uint32_t period;
        uint32_t elapsed = 0;
    };

    HRESULT Fail(HRESULT hr, const char16_t* message);
    HRESULT CreateFilter(REFCLSID classId, ComPtr<IBaseFilter>* out);
    HRESULT AddFilter(IBaseFilter* filter, const char16_t* name);
    // Creates a filter by class and adds it; each failure leaves its message.
    HRESULT CreateAndAdd(REFCLSID classId, const char16_t* name, ComPtr<IBaseFilter>* out,
                         const char16_t* createFailure, const char16_t* addFailure);
    HRESULT BuildFrontEnd();
    HRESULT BuildSource(const ICWString& filePath);
    HRESULT BuildAnalyzer();
    HRESULT CreateVideoRenderer();
    HRESULT BuildRenderers();
    HRESULT BuildCaptions();
    HRESULT ConnectAll();
    HRESULT LoadFile(const ICWString& filePath);
    void ReleaseFilter(ComPtr<IBaseFilter>* filter);
    void ReplaceVideoRenderer();
    HRESULT TuneBda();
    void SetNotifyMask(DWORD mask);
    void GiveStreamPids();
    void PmtWatch(uint16_t tsid, uint16_t program);
    void ServiceUpdate(uint16_t onid, uint16_t tsid);
    void PresentEvent(uint16_t tsid, uint16_t sid, uint16_t eventId);
    void LogoDownload(uint32_t downloadId, uint16_t moduleId);
    void LogoUpdate(uint16_t downloadDataId, uint16_t onid);
    void EverySecond();
    void EveryFiveSeconds();
    void PostToPanel(uint32_t wParam, uint32_t lParam);
    uint32_t Now() const { return tickSource(); }
    RecordingTune CurrentTune() const;
    RecordingProgramme ProgrammeForRecorder() const;
    int64_t ApplicationTimeValue();

    IEngineHost& host;
    CGraphWindow graphWindow;
    std::unique_ptr<ICTimer> timer;
    std::function<uint32_t()> tickSource;
    DWORD rotCookie = 0;

    ComPtr<IGraphBuilder> filterGraph;
    ComPtr<IBaseFilter> networkProvider;
    ComPtr<IBaseFilter> tunerFilter;
    ComPtr<IBaseFilter> captureFilter;
    ComPtr<IBaseFilter> transportInformationFilter;
    ComPtr<IBaseFilter> sourceFilter;
    ComPtr<IBaseFilter> analyzerFilter;
    ComPtr<IBaseFilter> videoDecoder;
    ComPtr<IBaseFilter> videoRenderer;
    ComPtr<IBaseFilter> audioDecoder;
    ComPtr<IBaseFilter> audioRenderer;
    ComPtr<IBaseFilter> captionFilter;
    ComPtr<IQVSIAnalyzer> analyzer;

    bool building = false;
    bool fileMode = false;
    ICWString filePath;
    FileStart fileStart;
    uint32_t eventsTakenAhead = 0;  // events handled before their own messages arrived
    int64_t duration = 0;
    int32_t volumeLevel = 10;
    DWORD notificationMask = 0;

    CTuner* tuner = nullptr;
    CTuningSpace* tuningSpace = nullptr;
    CChannelInfo* channel = nullptr;
    uint16_t networkId = 0;
    uint16_t transportStreamId = 0;
    uint16_t serviceId = 0;
    uint16_t pcrPid = 0;
    uint16_t videoPid = 0;
    uint16_t audioPid = 0;
    uint16_t captionPid = 0;

    bool running = false;
    bool paused = false;
    uint32_t startTick = 0;
    bool sizePending = false;
    bool outputsOff = false;
    ICWString serviceName;
    CurrentProgramme programme;
    int32_t retuneCount = 0;
    bool wrongStreamPosted = false;

    // Reception watchdog.
    uint32_t lastTick = 0;
    PeriodAccumulator oneSecond{1000};
    PeriodAccumulator fiveSeconds{5000};
    int32_t secondsCounter = 0;
    int32_t watchPhase = 0;
    int32_t zeroRateCount = 0;
    int32_t dropCount = 0;
    int32_t syncErrorCount = 0;
    int32_t transportErrorCount = 0;

    CGraphRecorder recorder;
};
