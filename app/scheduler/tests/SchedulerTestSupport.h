#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/scheduler/CScheduler.h"
#include "app/stores/CChannelInfo.h"
#include "app/stores/CRecScheduleList.h"
#include "app/stores/CTuner.h"
#include "platform/power/PowerManager.h"
#include "platform/tasks/TaskTimers.h"
#include "sianalyzer/ICSITime.h"

namespace schedtest {

// A local time as a time value (the weekday does not enter it).
inline TimeValue At(uint16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute,
                    uint8_t second = 0) {
    return sitime::ToValue(ICSIDateTime{year, month, day, 0, hour, minute, second});
}

// Thursday, 10 December 2026, at the given time.
inline TimeValue Today(uint8_t hour, uint8_t minute, uint8_t second = 0) {
    return At(2026, 12, 10, hour, minute, second);
}

// What a window did, and when by the scheduler's clock.
struct WindowAction {
    std::string what;  // "open", "tune", "start", "stop", "close", "rebuild"
    char tuner;        // 'A', 'B', ...
    TimeValue when;
    bool operator==(const WindowAction&) const = default;
};

class FakeHost;

// A viewing window that only remembers its state and reports what it is told to do.
class FakeWindow final : public IReservationWindow {
public:
    FakeWindow(FakeHost& host, CTuner* tuner, bool automatic)
        : host(host), tuner(tuner), automatic(automatic) {}

    bool IsClosing() override { return closing; }
    TimeValue LiveApplicationTime() override { return liveTime; }
    bool IsAutomatic() override { return automatic; }
    bool IsRecording() override { return recording; }
    CChannelInfo* TunedChannel() override { return channel; }
    bool Tune(CChannelInfo* newChannel) override;
    bool StartRecording(const ICWString& folder) override;
    void StopRecording() override;
    void StopGraph() override { running = false; }
    bool RebuildGraph() override;
    void PostClose() override;

    FakeHost& host;
    CTuner* tuner;
    bool automatic;
    bool closing = false;
    bool recording = false;
    bool running = true;
    bool rebuildFails = false;
    TimeValue liveTime = 0;
    CChannelInfo* channel = nullptr;
    ICWString recordedFolder;
    bool recordingRefused = false;
};

class FakeHost final : public ISchedulerHost {
public:
    IReservationWindow* OpenAutomaticWindow(CTuner* tuner, bool withoutVideo) override {
        openedWithoutVideo = withoutVideo;
        if (failingTuners.count(tuner) != 0) {
            Log("fail", tuner);
            return nullptr;
        }
        Log("open", tuner);
        return Add(tuner, true);
    }
    std::vector<IReservationWindow*> ViewingWindows() override {
        std::vector<IReservationWindow*> open;
        for (auto& window : windows) {
            if (!window->closing) {
                open.push_back(window.get());
            }
        }
        return open;
    }
    bool RecordWithoutVideo() override { return recordWithoutVideo; }
    void ReservationDropping(CRecSchedule& reservation) override {
        dropped.push_back(std::u16string(reservation.eventTitle.GetView()));
    }
    void ReportReservationFailure(const std::u16string& text) override { failures.push_back(text); }
    void CloseToolWindows() override { ++toolWindowCloses; }
    void SaveAll() override { Log("save", nullptr); }
    void Suspend() override {
        Log("suspend", nullptr);
        if (power != nullptr) {
            power->Suspend();
        }
    }

    FakeWindow* Add(CTuner* tuner, bool automatic) {
        windows.push_back(std::make_unique<FakeWindow>(*this, tuner, automatic));
        return windows.back().get();
    }
    void Log(const char* what, const CTuner* tuner) {
        const char name = tuner != nullptr ? char(tuner->displayName.GetView()[0]) : '-';
        actions.push_back({what, name, clock ? clock() : 0});
    }

    std::function<TimeValue()> clock;
    power::IPowerManager* power = nullptr;
    std::vector<std::unique_ptr<FakeWindow>> windows;
    std::set<const CTuner*> failingTuners;
    std::vector<WindowAction> actions;
    std::vector<std::u16string> dropped;
    std::vector<std::u16string> failures;
    bool recordWithoutVideo = true;
    bool openedWithoutVideo = false;
    int toolWindowCloses = 0;
};

inline bool FakeWindow::Tune(CChannelInfo* newChannel) {
    channel = newChannel;
    host.Log("tune", tuner);
    return true;
}

inline bool FakeWindow::StartRecording(const ICWString& folder) {
    if (recordingRefused) {
        return false;
    }
    recording = true;
    recordedFolder = folder;
    host.Log("start", tuner);
    return true;
}

inline void FakeWindow::StopRecording() {
    if (recording) {
        recording = false;
        host.Log("stop", tuner);
    }
}

inline bool FakeWindow::RebuildGraph() {
    host.Log("rebuild", tuner);
    return !rebuildFails;
}

inline void FakeWindow::PostClose() {
    closing = true;
    host.Log("close", tuner);
}

// Tuners "A" and "B" (and "C" on request), each with a terrestrial space of two services:
// channel 1 (service kSid) and channel 2 (service kSid + 8) of the same transport stream.
// The scheduler runs on a clock the test moves; the wake-up tasks go to a recording backend.
class SchedulerFixture {
public:
    static constexpr uint16_t kTsid = 0x7FE0;
    static constexpr uint16_t kSid = 0x0400;

    explicit SchedulerFixture(int tunerCount = 2) {
        folder = std::filesystem::temp_directory_path() /
                 ("orv-scheduler-" + std::to_string(::getpid()) + "-" +
                  std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(folder);
        for (int index = 0; index < tunerCount; ++index) {
            auto* tuner = tuners.Add(new CTuner());
            tuner->displayName = ICWString(std::u16string(1, char16_t(u'A' + index)).c_str());
            auto* space = tuner->tuningSpaces.Add(new CTuningSpace(tuner));
            space->name = u"UHF";
            space->type = CTuningSpace::kTerrestrial;
            for (uint16_t service : {kSid, uint16_t(kSid + 8)}) {
                auto* channel = space->channels.Add(new CChannelInfo(space));
                channel->transportStreamId = kTsid;
                channel->serviceId = service;
            }
        }
        store = std::make_unique<tasks::TaskStore>(folder.string(), &timers);
        list = std::make_unique<CRecScheduleList>(tuners, store.get());
        list->executablePath = u"/opt/orvanta/orvanta";
        scheduler = std::make_unique<CScheduler>(host, tuners, *list);
        scheduler->localClock = [this] { return now; };
        host.clock = [this] { return scheduler->Clock(); };
    }
    ~SchedulerFixture() {
        scheduler.reset();
        list.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    CTuner* Tuner(int index) const { return tuners.At(index); }
    // Channel 1 or 2 of a tuner.
    CChannelInfo* Channel(int tuner, int number) const {
        return Tuner(tuner)->tuningSpaces.First()->channels.At(number - 1);
    }

    // A reservation of channel `number` of the tuner, with its wake-up trigger.
    CRecSchedule* Reserve(int tuner, int number, TimeValue start, int32_t duration,
                          const char16_t* title = u"ニュース") {
        auto* reservation = new CRecSchedule();
        reservation->SetStartTime(start);
        reservation->duration = duration;
        CChannelInfo* channel = Channel(tuner, number);
        reservation->transportStreamId = uint16_t(channel->transportStreamId);
        reservation->serviceId = uint16_t(channel->serviceId);
        reservation->eventId = uint16_t(0x1000 + list->GetCount());
        reservation->eventTitle = title;
        reservation->folder = u"/rec";
        reservation->tunerName = Tuner(tuner)->displayName;
        reservation->channel = channel;
        list->InsertReservation(reservation, true);
        return reservation;
    }

    // Ticks once a second (the tick's 500 ms cadence adds nothing on a clock of seconds) from
    // `from` through `to`.
    void Run(TimeValue from, TimeValue to) {
        for (now = from; now <= to; ++now) {
            scheduler->SchedulerTick();
        }
        now = to;
    }

    // The actions of the kind, as times.
    std::vector<TimeValue> TimesOf(const std::string& what, char tuner = 'A') const {
        std::vector<TimeValue> times;
        for (const WindowAction& action : host.actions) {
            if (action.what == what && action.tuner == tuner) {
                times.push_back(action.when);
            }
        }
        return times;
    }

    std::filesystem::path folder;
    COwnedList<CTuner> tuners;
    tasks::RecordingTaskTimers timers;
    std::unique_ptr<tasks::TaskStore> store;
    std::unique_ptr<CRecScheduleList> list;
    FakeHost host;
    std::unique_ptr<CScheduler> scheduler;
    TimeValue now = Today(12, 0);
};

}  // namespace schedtest
