#pragma once

// What the engine tests share: the four modules registered in a temporary registry, stand-ins
// for the platform's decoders and renderers (which record what the graph asks of them), a host
// with its stores and a queue as user-interface thread, a picture area, and simulated
// broadcasts as files and tuners.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/engine/CVideoWindow.h"
#include "app/engine/CViewerGraph.h"
#include "app/engine/EngineHost.h"
#include "app/engine/UiThread.h"
#include "app/engine/tests/SimulatedRecording.h"
#include "app/stores/CEpgStore.h"
#include "app/stores/CLogo.h"
#include "app/stores/CRecScheduleList.h"
#include "app/stores/CSettings.h"
#include "app/stores/CTunerList.h"
#include "core/CodePage.h"
#include "platform/com/tests/TemporaryRegistry.h"
#include "platform/dshow/VideoSurface.h"

namespace enginetest {

// What the stand-in renderers were asked, and the picture they pretend to show.
struct StandInRecord {
    std::mutex mutex;
    int videoRenderersMade = 0;
    DWORD renderingMode = 0;
    DWORD numberOfStreams = 0;
    DWORD aspectRatioMode = 0xFFFFFFFF;
    IVideoSurface* clippingWindow = nullptr;
    std::vector<RECT> videoPositions;
    LONG volume = 1;  // not set yet
    // The picture: coded size and preferred aspect ratio.
    LONG videoWidth = 1920;
    LONG videoHeight = 1080;
    LONG aspectX = 16;
    LONG aspectY = 9;
    bool imageFails = false;
};
StandInRecord& StandIns();

// The modules, the stand-ins and a temporary registry for the whole test program (made once).
void RegisterEngineComponents();
// Makes the stand-in video renderer's class unknown (false) or known again (true).
void SetVideoRendererAvailable(bool available);
// Registers the module file's classes again (after a test unregistered one).
void RegisterModule(const char* path);

// A picture area of a fixed size.
class FakeSurface final : public IVideoSurface {
public:
    FakeSurface(LONG width, LONG height) : width(width), height(height) {}
    void GetClientSize(LONG* w, LONG* h) override {
        *w = width;
        *h = height;
    }
    void PresentFrame(std::shared_ptr<const VideoFrame>, const RECT&) override {}
    LONG width;
    LONG height;
};

struct ShownMessage {
    std::u16string text;
    std::u16string caption;
    MessageIcon icon;
    MessageButtons buttons;
};

// The application as the engine sees it, with fresh stores in a temporary folder.
class TestHost final : public IEngineHost {
public:
    TestHost();
    ~TestHost() override;

    CSettings& Settings() override { return settings; }
    CTunerList& Tuners() override { return tuners; }
    CEpgStore& EpgStore() override { return epg; }
    CLogoList& Logos() override { return logos; }
    CRecScheduleList& Reservations() override { return reservations; }
    IUiThread& UiThread() override { return ui; }
    MessageResult ShowMessage(const std::u16string& text, const std::u16string& caption,
                              MessageIcon icon, MessageButtons buttons) override {
        messages.push_back({text, caption, icon, buttons});
        return answer;
    }
    void PostMainWindowMessage(uint32_t message, CVideoWindow* window) override {
        mainWindowMessages.emplace_back(message, window);
    }
    TunerReservationState GetTunerState(const CTuner*) override { return tunerState; }

    const std::string& Folder() const { return folder; }

    std::string folder;
    CQueueUiThread ui;
    CSettings settings;
    CTunerList tuners;
    CEpgStore epg;
    CLogoList logos;
    CRecScheduleList reservations;
    std::vector<ShownMessage> messages;
    MessageResult answer = MessageResult::kOk;
    std::vector<std::pair<uint32_t, CVideoWindow*>> mainWindowMessages;
    TunerReservationState tunerState = TunerReservationState::kIdle;
};

// A window of the user interface that only records.
class TestView final : public IVideoWindowView {
public:
    explicit TestView(IVideoSurface* surface) : surface(surface) {}
    IVideoSurface* PictureSurface() override { return surface; }
    void SetCaption(const ICWString& text) override { caption = text; }
    void Show() override { visible = true; }
    void Hide() override { visible = false; }
    bool IsVisible() override { return visible; }
    std::array<int32_t, 4> WindowRect() override { return {10, 20, 970, 560}; }
    void ProgrammeChanged() override { ++programmeChanges; }
    void LogoMessage(uint32_t wParam, uint32_t lParam) override {
        logoMessages.emplace_back(wParam, lParam);
    }
    void RecordingStateChanged(bool recording) override { recordingShown = recording; }
    void VolumeStateChanged(int32_t, bool muted) override { mutedShown = muted; }

    IVideoSurface* surface;
    ICWString caption;
    bool visible = true;
    int programmeChanges = 0;
    std::vector<std::pair<uint32_t, uint32_t>> logoMessages;
    bool recordingShown = false;
    bool mutedShown = false;
};

// The simulator's first terrestrial stream (transport_stream_id 0x7FE0, services from 0x0400).
inline constexpr uint16_t kSimTransportStreamId = 0x7FE0;
inline constexpr uint16_t kSimFirstService = 0x0400;

// A BonDriver tuner with one terrestrial tuning space and one service on the driver's channel
// `physicalIndex`, owned by the host's tuner list.
CTuner* AddBonDriverTuner(TestHost& host, const char* driver, int32_t physicalIndex,
                          uint32_t serviceId);

// The names of the filters in a graph.
std::vector<std::u16string> FilterNames(IGraphBuilder* graph);
// Whether the filter's pin with this name (or its first pin of the direction) is connected.
bool IsPinConnected(IBaseFilter* filter, const char16_t* pinName);
ComPtr<IBaseFilter> FindFilter(IGraphBuilder* graph, const char16_t* name);

}  // namespace enginetest
