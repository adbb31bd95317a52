// The scheduler in the running application: when a window-less run ends, and how the power
// events and a second start's request reach the main timer.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <filesystem>

#include "app/ui/SchedulerDriver.h"
#include "app/ui/SingleInstance.h"
#include "app/ui/ViewerShell.h"
#include "app/ui/tests/DemoApplication.h"
#include "platform/power/RecordingPowerManager.h"
#include "sianalyzer/ICSITime.h"

namespace {

class SchedulerDriverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { uitest::StartApplication(); }

    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orv-driver-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        stores = std::make_unique<CAppStores>(
            AppFolders{folder + "/orvanta", folder, folder, folder},
            [] { return sitime::ToValue(sitime::LocalNow()); },
            std::make_unique<tasks::RecordingTaskTimers>());
        shell = std::make_unique<CViewerShell>(*stores);
    }
    void TearDown() override {
        driver.reset();
        shell.reset();
        stores.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // Runs the event loop until the application is told to quit (true) or `timeout` ms pass.
    static bool QuitsWithin(int timeout) {
        bool timedOut = false;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&timedOut] {
            timedOut = true;
            QApplication::quit();
        });
        guard.start(timeout);
        QApplication::exec();
        return !timedOut;
    }

    // A reservation a day ahead on a tuner of its own.
    void ReserveTomorrow() {
        auto* tuner = stores->tuners.Tuners().Add(new CTuner());
        tuner->displayName = u"A";
        auto* space = tuner->tuningSpaces.Add(new CTuningSpace(tuner));
        space->type = CTuningSpace::kTerrestrial;
        auto* channel = space->channels.Add(new CChannelInfo(space));
        channel->transportStreamId = 0x7FE0;
        channel->serviceId = 0x0400;
        auto* reservation = new CRecSchedule();
        reservation->SetStartTime(sitime::ToValue(sitime::LocalNow()) + 86400);
        reservation->duration = 600;
        reservation->channel = channel;
        stores->reservations.InsertReservation(reservation, false);
    }

    std::string folder;
    std::unique_ptr<CAppStores> stores;
    std::unique_ptr<CViewerShell> shell;
    std::unique_ptr<CSchedulerDriver> driver;
};

TEST_F(SchedulerDriverTest, AWindowLessStartForTheScheduleEndsOnlyWhenNothingIsLeftToDo) {
    driver = std::make_unique<CSchedulerDriver>(*shell, *stores);
    driver->quitWhenIdle = true;
    EXPECT_TRUE(QuitsWithin(3000));

    // A reservation ahead keeps it running.
    ReserveTomorrow();
    EXPECT_FALSE(QuitsWithin(1000));
}

TEST_F(SchedulerDriverTest, ARequestAfterAResumeMarksTheComputerAsWokenForAReservation) {
    ReserveTomorrow();
    driver = std::make_unique<CSchedulerDriver>(*shell, *stores);
    CMainTimer& timer = driver->Scheduling().Timer();
    auto* power = dynamic_cast<power::CRecordingPowerManager*>(&driver->Power());
    ASSERT_NE(power, nullptr);

    // Started without a resume: the request does not count as a wake-up.
    driver->OnRequest(CSingleInstance::kScheduleRequest);
    EXPECT_FALSE(timer.wokenForReservation);

    // The system's sleep and resume reach the timer on the event loop.
    power->RaisePrepareForSleep(true);
    power->RaisePrepareForSleep(false);
    QElapsedTimer clock;
    clock.start();
    while (!timer.resumedFlag && clock.elapsed() < 3000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ASSERT_TRUE(timer.resumedFlag);
    driver->OnRequest(CSingleInstance::kScheduleRequest);
    EXPECT_TRUE(timer.wokenForReservation);
    EXPECT_FALSE(timer.epgWakePending);
    driver->OnRequest(CSingleInstance::kEpgRequest);
    EXPECT_TRUE(timer.epgWakePending);
}

}  // namespace
