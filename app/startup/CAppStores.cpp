#include "app/startup/CAppStores.h"

#include <filesystem>

#include "core/CodePage.h"

namespace {

std::unique_ptr<tasks::TaskTimerBackend> DefaultTimers() {
    if (tasks::SystemdTimers::UserSessionPresent()) {
        return std::make_unique<tasks::SystemdTimers>(tasks::SystemdTimers::UserUnitFolder(), true);
    }
    return nullptr;
}

std::string Utf8(const ICWString& text) {
    return Utf16ToUtf8(text.GetText() != nullptr ? text.GetText() : u"");
}

bool IsDemoTuner(const CTuner& tuner) {
    const std::string name =
        std::filesystem::path(tuner.path.GetText() != nullptr ? tuner.path.GetText() : "")
            .filename()
            .string();
    return name == "BonDriver_Demo.so";
}

}  // namespace

CAppStores::CAppStores(AppFolders appFolders, CEpgStore::Clock clock,
                       std::unique_ptr<tasks::TaskTimerBackend> timerBackend)
    : folders(std::move(appFolders)),
      tuners(folders.application, folders.data),
      epg(std::move(clock)),
      logos(tuners),
      timers(timerBackend != nullptr ? std::move(timerBackend) : DefaultTimers()),
      taskStore(folders.data, timers.get()),
      reservations(tuners.Tuners(), &taskStore) {}

ICWString CAppStores::SettingsPath() const {
    return CSettings::FileName(ICWString(Utf8ToUtf16(folders.data)),
                               ICWString(Utf8ToUtf16(folders.executablePath)));
}

ICWString CAppStores::ReservationsPath() const {
    return ICWString(Utf8ToUtf16(folders.data + "/RecSchedule.ini"));
}

void CAppStores::Load(const CTunerList::Log& log) {
    settings.LoadSettings(SettingsPath());
    if (settings.bdaTuner) {
        tuners.LoadBDATuners(log);
    }
    if (settings.bonDriver) {
        std::string folder = Utf8(settings.bonDriverFolder);
        if (folder.empty() || folder == "BonDriver") {
            folder = folders.bonDriver;
        } else if (folder.front() != '/') {
            folder = folders.application + "/" + folder;
        }
        tuners.LoadBonDriverTuners(folder, log);
    }
    tuners.LoadChannelFiles();
    for (CTuner* tuner : tuners.Tuners()) {
        CTunerList::ValidateCurrentChannel(tuner);
    }
    epg.LoadEpg(folders.data);
    epg.RebuildEpgIndex(tuners.Tuners());
    logos.LoadLogos(folders.data);
    reservations.LoadReservations(ReservationsPath());
}

bool CAppStores::SaveAll() {
    bool saved = settings.SaveSettings(SettingsPath(), tuners.Tuners());
    saved = logos.SaveLogos(folders.data) && saved;
    saved = tuners.SaveChannelFiles() && saved;
    saved = reservations.SaveReservations(ReservationsPath()) && saved;
    saved = epg.SaveEpg(folders.data) && saved;
    return saved;
}

CTuner* CAppStores::FirstTuner() {
    CTuner* demo = nullptr;
    for (CTuner* tuner : tuners.Tuners()) {
        if (!IsDemoTuner(*tuner)) {
            return tuner;
        }
        if (demo == nullptr) {
            demo = tuner;
        }
    }
    return demo;
}

CChannelInfo* CAppStores::StartChannel(CTuner& tuner) {
    if (tuner.currentChannel != nullptr) {
        return tuner.currentChannel;
    }
    for (CTuningSpace* space : tuner.tuningSpaces) {
        for (CChannelInfo* channel : space->channels) {
            return channel;
        }
    }
    for (CTuningSpace* space : tuner.tuningSpaces) {
        for (CChannelInfo* channel : space->physicalChannels) {
            return channel;
        }
    }
    return nullptr;
}
