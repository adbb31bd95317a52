#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/startup/AppFolders.h"
#include "app/stores/CEpgStore.h"
#include "app/stores/CLogo.h"
#include "app/stores/CRecScheduleList.h"
#include "app/stores/CSettings.h"
#include "app/stores/CTunerList.h"
#include "platform/tasks/TaskStore.h"
#include "platform/tasks/TaskTimers.h"

// The application's stores for the whole run: settings, tuners and channels, the programme
// guide, logos and reservations with their wake-up tasks.
class CAppStores {
public:
    // `clock` is the application clock the guide expires its events by. `timers` mirrors the
    // wake-up tasks (null: the systemd user timers when a user manager runs, else none).
    CAppStores(AppFolders folders, CEpgStore::Clock clock,
               std::unique_ptr<tasks::TaskTimerBackend> timers = nullptr);

    // Reads the settings, finds the tuners (broadcast-driver devices when enabled, then the
    // BonDriver modules), and reads the channel files, the guide, the logos and the
    // reservations. Each step's lines go to `log`.
    void Load(const CTunerList::Log& log);
    // Writes every store in the order settings, logos, channel files, reservations, guide.
    // False when one could not be written (the others are still written).
    bool SaveAll();

    // The first tuner that is not the demo tuner, else the demo tuner; null without tuners.
    CTuner* FirstTuner();
    // The channel a window opens on: the tuner's current one, else its first service, else
    // the first channel of its plan.
    static CChannelInfo* StartChannel(CTuner& tuner);

    ICWString SettingsPath() const;
    ICWString ReservationsPath() const;

    const AppFolders folders;
    CSettings settings;
    CTunerList tuners;
    CEpgStore epg;
    CLogoList logos;

private:
    std::unique_ptr<tasks::TaskTimerBackend> timers;
    tasks::TaskStore taskStore;

public:
    CRecScheduleList reservations;
};
