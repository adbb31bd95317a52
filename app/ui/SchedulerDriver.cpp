#include "app/ui/SchedulerDriver.h"

#include "app/ui/SingleInstance.h"
#include "app/ui/ViewerShell.h"

CSchedulerDriver::CSchedulerDriver(CViewerShell& shell, CAppStores& stores)
    : shell(shell), stores(stores), power(power::CreatePowerManager()) {
    CEngineScheduler::Hooks hooks;
    hooks.openAutomaticWindow = [this](CTuner* tuner, bool withoutVideo) -> CVideoWindow* {
        CViewingWindow* view = this->shell.OpenAutomaticWindow(tuner, withoutVideo);
        return view != nullptr ? view->Engine() : nullptr;
    };
    hooks.postClose = [this](CVideoWindow* window) { this->shell.PostClose(window); };
    hooks.report = [this](const std::u16string& text) {
        this->shell.ShowMessage(text, u"エラー", MessageIcon::kError, MessageButtons::kOk);
    };
    hooks.saveAll = [this] { this->stores.SaveAll(); };
    scheduling = std::make_unique<CEngineScheduler>(shell, shell.Windows(), *power, hooks);
    CMainTimer& mainTimer = scheduling->Timer();
    mainTimer.reloadReservations = [this] {
        this->stores.reservations.LoadReservations(this->stores.ReservationsPath());
    };
    shell.AttachScheduler(scheduling.get());
    power->SetNotify([this](power::PowerBroadcast event) {
        QMetaObject::invokeMethod(
            this, [this, event] { scheduling->Timer().OnPowerBroadcast(event); },
            Qt::QueuedConnection);
    });
    elapsed.start();
    mainTimer.Start(uint32_t(elapsed.elapsed()));
    connect(&timer, &QTimer::timeout, this, [this] { OnTimer(); });
    timer.start(int(CMainTimer::kDelay));
}

CSchedulerDriver::~CSchedulerDriver() {
    timer.stop();
    power->SetNotify({});
    shell.AttachScheduler(nullptr);
}

void CSchedulerDriver::OnRequest(uint32_t message) {
    if (message == CSingleInstance::kScheduleRequest) {
        scheduling->Timer().OnScheduleRequest();
    } else if (message == CSingleInstance::kEpgRequest) {
        scheduling->Timer().OnEpgRequest();
    }
}

void CSchedulerDriver::OnTimer() {
    scheduling->Timer().OnTimer(uint32_t(elapsed.elapsed()));
    // Without a window the application runs on only while the scheduler has something to do.
    const bool noWindow = shell.Windows().Windows().empty();
    hadWindow = hadWindow || !noWindow;
    if (afterTick) {
        afterTick();
    }
    if (noWindow && (hadWindow || quitWhenIdle) && !scheduling->HasWork() &&
        !(stayResident && stayResident())) {
        // As when the last window goes: the stores are saved and the run ends.
        shell.AllWindowsGone();
    }
}
