// A reservation carried out from end to end on the demo tuner, with the real modules: the guide
// comes from the broadcast, the reservation gets its wake-up unit, the scheduler opens the
// automatic window, records the programme and closes the window, and the main timer puts the
// computer to sleep. The broadcast runs fast, and the application's timers with it, so that a
// quarter of an hour of broadcast takes well under a minute.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/engine/tests/EngineTestSupport.h"
#include "app/scheduler/CEngineScheduler.h"
#include "app/scheduler/tests/StoresEngineHost.h"
#include "app/startup/CAppStores.h"
#include "core/CodePage.h"
#include "platform/power/RecordingPowerManager.h"
#include "platform/tasks/TaskTimers.h"
#include "sianalyzer/ICSITime.h"
#include "tools/isdbsim/EpgGenerator.h"
#include "tools/isdbsim/bondriver/DemoBroadcastClock.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr double kSpeed = 30.0;
// The broadcast starts this long before the programme: time to collect the guide and still
// make the reservation before its wake-up time (five minutes before the start).
constexpr TimeValue kLeadIn = 600;
// How often the loop of the test looks at the application's 100 ms timer, whose tick count runs
// at the broadcast's pace.
constexpr auto kTimerStep = milliseconds(3);
// How late after its time the scheduler may act: one tick of the main timer (half a second
// of broadcast here) and the step of the broadcast clock, which the time table brings every
// five seconds.
constexpr TimeValue kActionSlack = 6;

TimeValue ToTimeValue(streamkit::JstTime time) {
    const streamkit::CivilTime civil = streamkit::ToCivil(time);
    return sitime::ToValue(ICSIDateTime{uint16_t(civil.year), uint8_t(civil.month),
                                        uint8_t(civil.day), 0, uint8_t(civil.hour),
                                        uint8_t(civil.minute), uint8_t(civil.second)});
}

// The first quarter-hour programme after 06:00 of the first terrestrial service on a fixed day,
// among those whose title has no additional symbol (the guide keeps those in their private
// code points and a file name leaves them out, so the title would not compare as it is).
isdbsim::ProgramEvent ShortProgramme() {
    const isdbsim::TransportStreamInfo* info = isdbsim::FindChannel(0, 0);
    const int64_t day = streamkit::DayOf(streamkit::FromCivil({2030, 6, 12, 0, 0, 0}));
    for (const isdbsim::ProgramEvent& event : isdbsim::EventsOfDay(info->services[0], 1, day)) {
        const bool plainTitle = std::none_of(event.title.begin(), event.title.end(),
                                             [](char16_t unit) { return unit >= 0xD800; });
        if (event.duration == 900 && plainTitle &&
            event.start >= streamkit::DayStart(event.start) + 6 * 3600) {
            return event;
        }
    }
    return {};
}

// What the test saw of the automatic window, by the scheduler's clock.
struct Observed {
    TimeValue opened = 0;
    TimeValue recordingStarted = 0;
    TimeValue recordingStopped = 0;
    TimeValue closed = 0;
    uint32_t closedAtTick = 0;  // the main timer's tick count
    bool withoutVideo = false;
};

class ReservationEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        programme = ShortProgramme();
        ASSERT_NE(programme.duration, 0);
        setenv("ORV_DEMO_TUNER_SPEED", std::to_string(kSpeed).c_str(), 1);
        setenv("ORV_DEMO_TUNER_START", streamkit::FormatJstTime(programme.start - kLeadIn).c_str(),
               1);
        setenv("ORV_POWER_BACKEND", "recording", 1);
        enginetest::RegisterEngineComponents();
        std::string pattern = (std::filesystem::temp_directory_path() / "orv-e2e-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        unsetenv("ORV_DEMO_TUNER_SPEED");
        unsetenv("ORV_DEMO_TUNER_START");
        unsetenv("ORV_POWER_BACKEND");
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    isdbsim::ProgramEvent programme;
    std::string folder;
};

TEST_F(ReservationEndToEnd,
       AProgrammeOfTheGuideIsRecordedInTheAutomaticWindowAndTheComputerSleeps) {
    const auto broadcastNow = [] { return ToTimeValue(isdbsim::DemoBroadcastNow()); };
    auto timers = std::make_unique<tasks::RecordingTaskTimers>();
    tasks::RecordingTaskTimers& wakeUnits = *timers;
    CAppStores stores(AppFolders{"/opt/orvanta/orvanta", folder, folder, folder}, broadcastNow,
                      std::move(timers));
    const std::string recordings = folder + "/rec";
    stores.settings.recFolders[0] = ICWString(std::u16string_view(Utf8ToUtf16(recordings + "/")));
    stores.settings.recordWithoutVideo = true;
    stores.settings.streamOffset = 0;
    stores.settings.firstIgnoreTime = 0;
    stores.reservations.executablePath = u"/opt/orvanta/orvanta";

    // The demo tuner with the first terrestrial service.
    const isdbsim::TransportStreamInfo* broadcast = isdbsim::FindChannel(0, 0);
    auto* tuner = new CTuner(ICString(ORV_DEMO_BONDRIVER));
    tuner->displayName = u"Demo";
    auto* space = tuner->tuningSpaces.Add(new CTuningSpace(tuner));
    space->name = u"UHF";
    space->type = CTuningSpace::kTerrestrial;
    auto* channel = space->channels.Add(new CChannelInfo(space));
    channel->name = ICWString(broadcast->services[0].name.c_str());
    channel->transportStreamId = broadcast->transportStreamId;
    channel->serviceId = broadcast->services[0].serviceId;
    channel->channelNumber = 11;
    tuner->currentChannel = channel;
    stores.tuners.Tuners().Add(tuner);
    stores.epg.RebuildEpgIndex(stores.tuners.Tuners());

    schedtest::StoresEngineHost host(stores);
    std::unique_ptr<power::IPowerManager> power = power::CreatePowerManager();
    auto* recordedPower = dynamic_cast<power::CRecordingPowerManager*>(power.get());
    ASSERT_NE(recordedPower, nullptr);
    Observed seen;
    uint32_t tickCount = 0;
    CEngineScheduler::Hooks hooks;
    CEngineScheduler* engineScheduler = nullptr;
    hooks.openAutomaticWindow = [&](CTuner* on, bool withoutVideo) {
        seen.opened = engineScheduler->Scheduler().Clock();
        seen.withoutVideo = withoutVideo;
        CVideoWindow* window = host.Open(on, true, withoutVideo);
        // The graph's own timer keeps the pace of the application's.
        window->Graph().SetTickSource([&tickCount] { return tickCount; });
        return window;
    };
    hooks.postClose = [&](CVideoWindow* window) {
        host.ui.Post([&, window] {
            seen.closed = engineScheduler->Scheduler().Clock();
            seen.closedAtTick = tickCount;
            window->Close();
        });
    };
    hooks.report = [&](const std::u16string& text) { host.messages.push_back(text); };
    hooks.saveAll = [&] { stores.SaveAll(); };
    CEngineScheduler scheduling(host, host.windows, *power, hooks);
    engineScheduler = &scheduling;
    host.AttachScheduler(&scheduling);
    // The host's windows outlive the scheduler when the test ends early.
    const std::unique_ptr<schedtest::StoresEngineHost, void (*)(schedtest::StoresEngineHost*)>
        detach(&host, [](schedtest::StoresEngineHost* held) { held->AttachScheduler(nullptr); });
    scheduling.Scheduler().localClock = broadcastNow;

    // The user watches the channel until the guide holds the programme, then closes the window.
    CVideoWindow* watched = host.Open(tuner, false, false);
    ASSERT_TRUE(watched->Graph().IsRunning());
    CEventInfo* event = nullptr;
    ASSERT_TRUE(host.ui.RunUntil(
        [&] {
            event = stores.epg.FindEpgEvent(channel->transportStreamId, channel->serviceId,
                                            programme.eventId);
            return event != nullptr;
        },
        seconds(20)));
    EXPECT_EQ(event->startTime, ToTimeValue(programme.start));
    EXPECT_EQ(event->duration, programme.duration);
    EXPECT_EQ(event->title.GetView(), std::u16string_view(programme.title));
    ASSERT_TRUE(watched->Close());
    host.ui.RunPending();
    ASSERT_TRUE(host.windows.Windows().empty());

    // The reservation of the guide's event, with its wake-up unit five minutes before it.
    auto* reservation = new CRecSchedule();
    reservation->SetStartTime(event->startTime);
    reservation->duration = event->duration;
    reservation->transportStreamId = uint16_t(channel->transportStreamId);
    reservation->serviceId = uint16_t(channel->serviceId);
    reservation->eventId = event->eventId;
    reservation->serviceName = channel->name;
    reservation->eventTitle = event->title;
    reservation->folder = stores.settings.recFolders[0];
    reservation->tunerName = tuner->displayName;
    reservation->kind = space->type;
    reservation->channel = channel;
    event->reservation = reservation;
    stores.reservations.InsertReservation(reservation, true);
    const TimeValue start = event->startTime;
    const TimeValue end = start + event->duration;
    ASSERT_FALSE(wakeUnits.calls.empty());
    const tasks::ScheduledTask& task = wakeUnits.calls.back().task;
    EXPECT_EQ(task.argument, "/Schedule");
    ASSERT_EQ(task.triggers.size(), 1u);
    const std::string wakeAt = streamkit::FormatJstTime(programme.start - 300);
    char beginDate[16];
    std::snprintf(beginDate, sizeof beginDate, "%04u-%02u-%02u", task.triggers[0].beginYear,
                  task.triggers[0].beginMonth, task.triggers[0].beginDay);
    EXPECT_EQ(beginDate, wakeAt.substr(0, 10));
    const std::string unit = tasks::TimerUnitText(task);
    EXPECT_NE(unit.find("OnCalendar=*-*-* " + wakeAt.substr(11) + "\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("WakeSystem=true"), std::string::npos) << unit;

    // The wake-up: the computer resumes and the task forwards its request.
    CMainTimer& timer = scheduling.Timer();
    timer.OnPowerBroadcast(power::PowerBroadcast::kResumeAutomatic);
    timer.OnScheduleRequest();
    ASSERT_TRUE(timer.wokenForReservation);

    const auto asleep = [&] {
        for (const power::PowerCall& call : recordedPower->Calls()) {
            if (call.kind == power::PowerCall::Kind::kSuspend) {
                return true;
            }
        }
        return false;
    };
    timer.Start(tickCount);
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = std::chrono::steady_clock::now() +
                          seconds(int((kLeadIn + programme.duration) / kSpeed) + 30);
    bool recording = false;
    while (!asleep() && std::chrono::steady_clock::now() < deadline) {
        host.ui.RunFor(kTimerStep);
        tickCount = uint32_t(kSpeed * std::chrono::duration<double, std::milli>(
                                          std::chrono::steady_clock::now() - started)
                                          .count());
        timer.OnTimer(tickCount);
        const bool recordsNow = scheduling.Scheduler().LastTick().anyWindowRecords;
        if (recordsNow != recording) {
            (recordsNow ? seen.recordingStarted : seen.recordingStopped) =
                scheduling.Scheduler().Clock();
            recording = recordsNow;
        }
    }
    CGraphRecorder::WaitForReports();

    EXPECT_TRUE(host.messages.empty()) << Utf16ToUtf8(host.messages.front());
    EXPECT_TRUE(seen.withoutVideo);
    EXPECT_GE(seen.opened, start - CRecScheduleList::kActionLead);
    EXPECT_LE(seen.opened, start - CRecScheduleList::kActionLead + kActionSlack);
    EXPECT_GE(seen.recordingStarted, start);
    EXPECT_LE(seen.recordingStarted, start + kActionSlack);
    EXPECT_GE(seen.recordingStopped, end);
    EXPECT_LE(seen.recordingStopped, end + kActionSlack);
    EXPECT_GE(seen.closed, seen.recordingStopped);
    EXPECT_TRUE(host.windows.Windows().empty());
    EXPECT_EQ(stores.reservations.GetCount(), 0);
    // The computer sleeps once the standby countdown has run after the recording.
    EXPECT_TRUE(asleep());
    EXPECT_GE(tickCount - seen.closedAtTick, uint32_t(CMainTimer::kStandbyCountdown - 1) * 1000);

    // One recording, named after the programme, with a clean integrity report beside it.
    std::vector<std::filesystem::path> files;
    std::error_code noFolder;
    for (const auto& entry : std::filesystem::directory_iterator(recordings, noFolder)) {
        if (entry.path().extension() == ".ts") {
            files.push_back(entry.path());
        }
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].filename().string().find(Utf16ToUtf8(programme.title)), std::string::npos)
        << files[0];
    std::ifstream reportFile(files[0].string() + ".check.json");
    const std::string report((std::istreambuf_iterator<char>(reportFile)), {});
    EXPECT_NE(report.find("\"drops\": 0"), std::string::npos) << report;
}

}  // namespace
