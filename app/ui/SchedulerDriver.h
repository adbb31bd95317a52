#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/scheduler/CEngineScheduler.h"
#include "app/startup/CAppStores.h"
#include "platform/power/PowerManager.h"

class CViewerShell;

// The reservation scheduler in the running application: the engine scheduler over the viewer
// shell's windows, its main timer driven by a 100 ms timer of the event loop, the platform's
// power manager (its events carried to the user-interface thread), automatic windows opened
// through the shell, failures shown in a message box and the stores saved before the computer
// sleeps. Made when start-up has finished; the reservations are loaded by then.
class CSchedulerDriver final : public QObject {
public:
    CSchedulerDriver(CViewerShell& shell, CAppStores& stores);
    ~CSchedulerDriver() override;

    // A request forwarded by a second start (0x410 "/schedule", 0x411 "/epg", 0x412).
    void OnRequest(uint32_t message);

    CEngineScheduler& Scheduling() { return *scheduling; }
    power::IPowerManager& Power() { return *power; }

    // Ends the application once no window is open and the scheduler has nothing left to do,
    // even when no window was ever opened (a start by the wake-up task).
    bool quitWhenIdle = false;
    // Keeps the application running without windows (it lives on in the tray).
    std::function<bool()> stayResident;
    // After every timer message (the standby window follows the countdown).
    std::function<void()> afterTick;

private:
    void OnTimer();

    CViewerShell& shell;
    CAppStores& stores;
    std::unique_ptr<power::IPowerManager> power;
    std::unique_ptr<CEngineScheduler> scheduling;
    QTimer timer;
    QElapsedTimer elapsed;
    bool hadWindow = false;
};
