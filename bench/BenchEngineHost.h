#pragma once

// The application as the engine and the windows see it, for the benchmarks: empty stores over
// the temporary folder, a queued user-interface thread, and message boxes answered with OK.

#include <filesystem>
#include <string>

#include "app/engine/EngineHost.h"
#include "app/engine/UiThread.h"
#include "app/stores/CEpgStore.h"
#include "app/stores/CLogo.h"
#include "app/stores/CRecScheduleList.h"
#include "app/stores/CSettings.h"
#include "app/stores/CTunerList.h"

namespace benchsupport {

class BenchEngineHost : public IEngineHost {
public:
    explicit BenchEngineHost(CEpgStore::Clock clock = {})
        : folder(std::filesystem::temp_directory_path().string()),
          tuners(folder, folder),
          logos(tuners),
          reservations(tuners.Tuners(), nullptr),
          epg(std::move(clock)) {}

    CSettings& Settings() override { return settings; }
    CTunerList& Tuners() override { return tuners; }
    CEpgStore& EpgStore() override { return epg; }
    CLogoList& Logos() override { return logos; }
    CRecScheduleList& Reservations() override { return reservations; }
    IUiThread& UiThread() override { return ui; }
    MessageResult ShowMessage(const std::u16string&, const std::u16string&, MessageIcon,
                              MessageButtons) override {
        return MessageResult::kOk;
    }

    std::string folder;
    CQueueUiThread ui;
    CSettings settings;
    CTunerList tuners;
    CLogoList logos;
    CRecScheduleList reservations;
    CEpgStore epg;
};

}  // namespace benchsupport
