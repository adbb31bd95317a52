#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/engine/CViewerGraph.h"
#include "app/engine/EngineHost.h"
#include "core/ICWString.h"
#include "core/ICWindowTarget.h"

class CChannelInfo;
class CTuner;
class CVideoWindowList;

// What the window of the user interface does for the engine of a viewing window: it gives the
// picture area, shows and hides itself, tells its rectangle, and its control panel shows what
// the engine reports. Called on the user-interface thread.
class IVideoWindowView {
public:
    virtual ~IVideoWindowView() = default;

    // The picture area the renderer draws into; null when the window has none.
    virtual IVideoSurface* PictureSurface() = 0;
    virtual void SetCaption(const ICWString& caption) = 0;
    virtual void Show() = 0;
    // Hides the window and its panel.
    virtual void Hide() = 0;
    virtual bool IsVisible() = 0;
    // left, top, right, bottom in screen pixels.
    virtual std::array<int32_t, 4> WindowRect() = 0;

    // The panel: the programme on air changed, the channel name (from the SDT) changed, a
    // service's logo arrived (message 0x600: wParam = transport_stream_id << 16 | service_id,
    // lParam = network id << 16 | logo id), the recording started or stopped, the volume or
    // the mute state changed.
    virtual void ProgrammeChanged() {}
    virtual void ChannelNameChanged() {}
    virtual void LogoMessage(uint32_t /*wParam*/, uint32_t /*lParam*/) {}
    virtual void RecordingStateChanged(bool /*recording*/) {}
    virtual void VolumeStateChanged(int32_t /*level*/, bool /*muted*/) {}
    // The file played to its end; its graph has stopped.
    virtual void PlaybackEnded() {}
};

// The engine of one viewing window: its graph built for its tuner or a file, tuning, playback,
// the volume, snapshots, its recording and how it closes. A window opened by the scheduler or
// the guide's sweep is automatic: it builds without picture and sound when the renderer or the
// caption filter cannot be made, so that a reservation still records.
class CVideoWindow {
public:
    static constexpr uint32_t kVersion = 0x15120200;
    static constexpr uint64_t kMinimumFreeSpace = uint64_t(1) << 30;  // bytes
    static constexpr uint32_t kFreeSpacePeriod = 60000;               // ms
    static constexpr int64_t kProgrammeEndGrace = 60;                 // s of recording

    CVideoWindow(IEngineHost& host, CVideoWindowList& list, IVideoWindowView& view, CTuner* tuner,
                 bool automatic, bool withoutVideo);
    ~CVideoWindow();
    CVideoWindow(const CVideoWindow&) = delete;
    CVideoWindow& operator=(const CVideoWindow&) = delete;

    // What the window does when its dialog is initialised: caption, graph, options, then the
    // tuner's current channel.
    void Open();

    // Builds the graph for the window's tuner (empty path) or for the file; shows the failure.
    HRESULT BuildGraph(const ICWString& filePath);
    HRESULT SwitchToTuner(CTuner* newTuner);
    // Tunes a channel of the window's tuner (it becomes the tuner's current channel) and runs.
    HRESULT TuneChannel(CChannelInfo* channel);
    // The next or previous enabled channel of the tuner, through all its tuning spaces, wrapping.
    HRESULT ChannelUp();
    HRESULT ChannelDown();

    HRESULT PlayFile(const ICWString& path);
    void TogglePause();
    void SetPosition(uint32_t milliseconds) { graph->SetPosition(milliseconds); }
    uint32_t GetPosition() { return graph->GetPosition(); }

    void SetVolume(int32_t level);
    void Mute();
    // The window became the active one.
    void Activate();
    // The platform's show-window notification.
    void OnShown();
    void ShowCaptions(bool on);

    // The panel's "CAP" button.
    void Snapshot();

    // The panel's recording button and the window level of recording.
    void ToggleRecording();
    HRESULT StartWindowRecording(const ICWString& folder);
    void StopWindowRecording();
    // The panel's timer: every 60 s while recording, the free space of the recording folder.
    void OnPanelTimer(uint32_t elapsedMilliseconds);
    void CheckFreeSpace();

    // The close command. False when the window stays (a recording runs on, hidden, or the
    // user cancelled).
    bool Close();

    CViewerGraph& Graph() { return *graph; }
    CTuner* Tuner() const { return tuner; }
    bool IsAutomatic() const { return automatic; }
    bool WithoutVideo() const { return withoutVideo; }
    const ICWString& FilePath() const { return filePath; }
    IVideoWindowView& View() { return view; }
    const ICWString& RecordingFolder() const { return recordingFolder; }
    int64_t RecordingStart() const { return recordingStart; }

    // The free space available to the user on the folder's volume (replaceable for tests).
    std::function<uint64_t(const std::string& folder)> freeSpaceProbe;
    // Frees space by deleting old recordings of the folder (the recorded-file list's job).
    std::function<void(const std::string& folder)> freeOldRecordings;

private:
    // The panel's window: the graph's logo messages reach the view on the user-interface
    // thread.
    class PanelTarget final : public ICWindowTarget {
    public:
        explicit PanelTarget(CVideoWindow& window) : window(window) {}
        void PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    private:
        CVideoWindow& window;
    };

    void SetCallbacks();
    // Tunes the enabled channel `step` places from the current one.
    HRESULT StepChannel(int step);
    void OnPresentEvent();
    void OnEitSegment(uint16_t networkId, uint16_t transportStreamId, uint16_t serviceId,
                      uint8_t tableId, uint8_t sectionNumber);
    void HandOverPlayPosition();
    bool IsRecordingReservation() const;
    // The recording stops for the free-space or end-of-programme rule.
    void StopRecordingByRule();

    IEngineHost& host;
    CVideoWindowList& list;
    IVideoWindowView& view;
    CTuner* tuner;
    bool automatic;
    bool withoutVideo;
    ICWString filePath;
    std::unique_ptr<CViewerGraph> graph;
    PanelTarget panel{*this};
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    // The recording as the panel keeps it.
    int64_t recordingStart = 0;
    std::chrono::steady_clock::time_point recordingStartedAt;
    ICWString recordingFolder;
    uint16_t recordingEventId = 0;
    uint16_t lastPresentEventId = 0;
    uint32_t freeSpaceElapsed = 0;
};

// Every open viewing window, in opening order, and the active one.
class CVideoWindowList {
public:
    explicit CVideoWindowList(IEngineHost& host) : host(host) {}

    // Creates a window for the tuner (null: a file window) and opens it.
    CVideoWindow* CreateVideoWindow(IVideoWindowView& view, CTuner* tuner, bool automatic,
                                    bool withoutVideo);
    // Destroys a window (the main window does this on its message 0x502).
    void DestroyVideoWindow(CVideoWindow* window);
    // Makes the window the active one (muting the others when MuteControl is set).
    void ActivateWindow(CVideoWindow* window);

    CVideoWindow* ActiveWindow() const { return active; }
    const std::vector<std::unique_ptr<CVideoWindow>>& Windows() const { return windows; }
    CVideoWindow* FindWindowOfTuner(const CTuner* tuner) const;

private:
    IEngineHost& host;
    std::vector<std::unique_ptr<CVideoWindow>> windows;
    CVideoWindow* active = nullptr;
};
