#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/startup/CInitThread.h"
#include "core/CodePage.h"
#include "core/tests/TempFolder.h"

namespace {

class TempFolder : public coretest::TempFolder {
public:
    TempFolder() : coretest::TempFolder("orv-init") {}
};

std::string Utf8(const ICWString& text) {
    return Utf16ToUtf8(text.GetText() != nullptr ? text.GetText() : u"");
}

// A start-up in a folder of its own: the modules of the build (or none), an empty BonDriver
// folder unless the test fills one, and a private component registry.
class StartupRun {
public:
    explicit StartupRun(bool withModules) {
        ::setenv("ORVANTA_REGISTRY", (temp.path + "/registry.json").c_str(), 1);
        folders.application = withModules ? ORV_BIN_DIR : temp.path;
        folders.data = temp.path;
        folders.executablePath = temp.path + "/orvanta";
        folders.bonDriver = temp.path + "/BonDriver";
        std::filesystem::create_directories(folders.bonDriver);
        previousFolder = std::filesystem::current_path();
    }
    ~StartupRun() { std::filesystem::current_path(previousFolder); }

    void WriteSettings(const std::string& lines) {
        std::ofstream(temp.path + "/orvanta.ini") << "[Config]\r\n" << lines;
    }

    bool Run() {
        auto recordingTimers = std::make_unique<tasks::RecordingTaskTimers>();
        timers = recordingTimers.get();
        stores = std::make_unique<CAppStores>(
            folders, [] { return TimeValue{0}; }, std::move(recordingTimers));
        CInitThread::Callbacks callbacks;
        callbacks.log = [this](const ICWString& text) { log += Utf8(text); };
        callbacks.error = [this](const ICWString& text) { errors.push_back(Utf8(text)); };
        CInitThread thread(*stores, callbacks);
        return thread.StartupChecks();
    }

    TempFolder temp;
    AppFolders folders;
    std::filesystem::path previousFolder;
    std::unique_ptr<CAppStores> stores;
    tasks::RecordingTaskTimers* timers = nullptr;
    std::string log;
    std::vector<std::string> errors;
};

TEST(StartupChecks, AMissingModuleStopsBeforeAnyTunerIsSought) {
    StartupRun run(false);
    EXPECT_FALSE(run.Run());
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_EQ(run.errors[0].rfind("Tunova.ax : ", 0), 0u) << run.errors[0];
    EXPECT_GT(run.errors[0].size(), std::string("Tunova.ax : ").size());
    EXPECT_EQ(run.log, "\r\n-----Check Filter-----\r\nTunova.ax\r\n");
}

TEST(StartupChecks, NoTunerEndsTheStartWithItsMessage) {
    StartupRun run(true);
    run.WriteSettings("BDATuner=0\r\nBonDriver=1\r\nBonDriverFolder=" + run.folders.bonDriver +
                      "\r\n");
    EXPECT_FALSE(run.Run());
    EXPECT_EQ(run.errors, std::vector<std::string>{"チューナーが見つかりません。"});
    EXPECT_NE(run.log.find("Tunova.ax\r\nStreva.ax\r\nTabrix.ax\r\nLumiq.ax\r\n"),
              std::string::npos);
    EXPECT_NE(run.log.find("-----Check BonDriver-----"), std::string::npos);
}

TEST(StartupChecks, TheDemoTunerStartsTheApplicationAndTheGuideTaskIsRegistered) {
    StartupRun run(true);
    std::filesystem::copy_file(std::string(ORV_BIN_DIR) + "/BonDriver/BonDriver_Demo.so",
                               run.folders.bonDriver + "/BonDriver_Demo.so");
    run.WriteSettings("BonDriverFolder=" + run.folders.bonDriver + "\r\nEPGUpdateTime=4\r\n");
    ASSERT_TRUE(run.Run()) << (run.errors.empty() ? run.log : run.errors[0]);
    EXPECT_TRUE(run.errors.empty());
    EXPECT_EQ(run.stores->tuners.Tuners().GetCount(), 1);
    const size_t initialize = run.log.find(
        "\r\n\r\n-----Initialize-----\r\nOrvanta 15.12.02.00\r\n\r\nLoad Channel data\r\n"
        "Load EPG data\r\nLoad Logo data\r\nLoad RecSchedule data\r\n");
    EXPECT_NE(initialize, std::string::npos) << run.log;
    // The guide's task starts the program daily at 04:00 with "/EPG".
    ASSERT_FALSE(run.timers->calls.empty());
    const tasks::ScheduledTask& task = run.timers->calls.back().task;
    EXPECT_EQ(task.name, "Orvanta Task");
    EXPECT_EQ(task.argument, "/EPG");
    ASSERT_EQ(task.triggers.size(), 1u);
    EXPECT_EQ(task.triggers[0].kind, tasks::TriggerKind::kDaily);
    EXPECT_EQ(task.triggers[0].startHour, 4);
}

}  // namespace
