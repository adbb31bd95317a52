#pragma once

// The application around the engine without a user interface, for the tests and benchmarks
// that run real viewing windows: the stores, a queue as the user-interface thread, views that
// show nothing, and the scheduler seams going to an engine scheduler once one is attached.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/engine/CVideoWindow.h"
#include "app/engine/UiThread.h"
#include "app/scheduler/CEngineScheduler.h"
#include "app/startup/CAppStores.h"
#include "platform/dshow/VideoSurface.h"

namespace schedtest {

// A picture area nobody sees.
class UnseenSurface final : public IVideoSurface {
public:
    void GetClientSize(LONG* width, LONG* height) override {
        *width = 960;
        *height = 540;
    }
    void PresentFrame(std::shared_ptr<const VideoFrame>, const RECT&) override {}
};

class UnseenView final : public IVideoWindowView {
public:
    IVideoSurface* PictureSurface() override { return &surface; }
    void SetCaption(const ICWString&) override {}
    void Show() override { visible = true; }
    void Hide() override { visible = false; }
    bool IsVisible() override { return visible; }
    std::array<int32_t, 4> WindowRect() override { return {0, 0, 960, 540}; }

    UnseenSurface surface;
    bool visible = true;
};

class StoresEngineHost final : public CSchedulingEngineHost {
public:
    explicit StoresEngineHost(CAppStores& stores) : stores(stores) {}

    CSettings& Settings() override { return stores.settings; }
    CTunerList& Tuners() override { return stores.tuners; }
    CEpgStore& EpgStore() override { return stores.epg; }
    CLogoList& Logos() override { return stores.logos; }
    CRecScheduleList& Reservations() override { return stores.reservations; }
    IUiThread& UiThread() override { return ui; }
    // Every message is kept; the answer is OK.
    MessageResult ShowMessage(const std::u16string& text, const std::u16string&, MessageIcon,
                              MessageButtons) override {
        messages.push_back(text);
        return MessageResult::kOk;
    }
    // A window that has closed is destroyed once the close command has returned.
    void PostMainWindowMessage(uint32_t message, CVideoWindow* window) override {
        if (message == kMsgVideoWindowClosed) {
            ui.Post([this, window] { Destroy(window); });
        }
    }

    CVideoWindow* Open(CTuner* tuner, bool automatic, bool withoutVideo) {
        views.push_back(std::make_unique<UnseenView>());
        return windows.CreateVideoWindow(*views.back(), tuner, automatic, withoutVideo);
    }
    void Destroy(CVideoWindow* window) {
        if (engineScheduler != nullptr) {
            engineScheduler->WindowDestroyed(window);
        }
        windows.DestroyVideoWindow(window);
    }
    // The windows go before the views they draw into.
    ~StoresEngineHost() override {
        while (!windows.Windows().empty()) {
            Destroy(windows.Windows().front().get());
        }
    }

    CAppStores& stores;
    CQueueUiThread ui;
    std::vector<std::unique_ptr<UnseenView>> views;
    CVideoWindowList windows{*this};
    std::vector<std::u16string> messages;
};

}  // namespace schedtest
