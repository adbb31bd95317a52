#pragma once

// The running application's parts over the demo tuner for the window tests: a Data folder of
// its own, the stores after the start-up checks and the viewer shell, on the build's modules.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/engine/recording/CGraphRecorder.h"
#include "app/startup/CInitThread.h"
#include "app/ui/ViewerShell.h"
#include "core/CodePage.h"
#include "core/tests/TempFolder.h"

namespace uitest {

// Runs the Qt event loop until `done` or the time-out.
inline bool Pump(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count()) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

inline void Wait(std::chrono::milliseconds duration) {
    Pump([] { return false; }, duration);
}

// Where the tests leave the pictures they took, for a person to look at.
inline QString PicturePath(const char* name) {
    return QString::fromStdString(std::string(ORV_BIN_DIR) + "/../" + name);
}

class TempFolder : public coretest::TempFolder {
public:
    TempFolder() : coretest::TempFolder("orv-ui") {}
};

// The test program's Qt application (on the display when there is one), with silent sound and
// the recording power backend.
inline void StartApplication() {
    ::setenv("ORV_AUDIO_SINK", "silent", 1);
    ::setenv("ORV_POWER_BACKEND", "recording", 1);
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) {
        new QApplication(argc, argv);
    }
}

class DemoApplicationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartApplication(); }

    // Before the stores load: the Data folder as a test wants it (the settings file is there).
    virtual void PrepareData() {}

    void SetUp() override {
        ::setenv("ORVANTA_REGISTRY", (temp.path + "/registry.json").c_str(), 1);
        folders.application = ORV_BIN_DIR;
        folders.data = temp.path + "/Data";
        folders.executablePath = folders.data + "/orvanta";
        folders.bonDriver = temp.path + "/BonDriver";
        std::filesystem::create_directories(folders.bonDriver);
        std::filesystem::create_directories(folders.data);
        std::filesystem::copy_file(std::string(ORV_BIN_DIR) + "/BonDriver/BonDriver_Demo.so",
                                   folders.bonDriver + "/BonDriver_Demo.so");
        std::ofstream(folders.data + "/orvanta.ini")
            << "[Config]\r\nBonDriverFolder=" << folders.bonDriver << "\r\nRecFolder1=" << temp.path
            << "/rec\r\nFirstIgnoreTime=0\r\n";
        PrepareData();
        previousFolder = std::filesystem::current_path();
        stores = std::make_unique<CAppStores>(
            folders, [this] { return clock(); }, std::make_unique<tasks::RecordingTaskTimers>());
        CInitThread::Callbacks callbacks;
        callbacks.error = [](const ICWString& text) {
            ADD_FAILURE() << Utf16ToUtf8(text.GetText());
        };
        CInitThread init(*stores, callbacks);
        ASSERT_TRUE(init.StartupChecks());
        shell = std::make_unique<CViewerShell>(*stores);
    }

    void TearDown() override {
        shell.reset();
        CGraphRecorder::WaitForReports();
        std::filesystem::current_path(previousFolder);
    }

    // The stores' application clock.
    std::function<TimeValue()> clock = [] { return TimeValue{0}; };
    TempFolder temp;
    AppFolders folders;
    std::filesystem::path previousFolder;
    std::unique_ptr<CAppStores> stores;
    std::unique_ptr<CViewerShell> shell;
};

}  // namespace uitest
