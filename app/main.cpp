// orvanta: watches and records Japanese digital television.
//
//   orvanta                 a viewing window on the first tuner (the demo tuner when no other
//                           is found)
//   orvanta FILE.ts         plays a recording
//   orvanta --headless [--seconds N] [--out DIR] [FILE.ts]
//                           watches without a window (see HeadlessRun.h)
//   --data DIR              the Data folder to use
//   --version               prints the version

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/headless/HeadlessRun.h"
#include "app/startup/AppFolders.h"
#include "app/startup/CAppStores.h"
#include "app/startup/ModuleRegistration.h"
#include "app/ui/ViewerShell.h"
#include "core/CodePage.h"
#include "sianalyzer/ICSITime.h"

namespace {

// The stores' format version; the same four bytes are the application's version.
constexpr unsigned char kVersionBytes[4] = {0x15, 0x12, 0x02, 0x00};

struct Options {
    bool headless = false;
    bool version = false;
    HeadlessOptions run;
    std::string data;
    std::string file;
};

void Usage() {
    std::fputs(
        "usage: orvanta [FILE.ts] [--data DIR]\n"
        "       orvanta --headless [--seconds N] [--out DIR] [--data DIR] [FILE.ts]\n"
        "       orvanta --version\n",
        stderr);
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--version") {
            options->version = true;
        } else if (arg == "--headless") {
            options->headless = true;
        } else if (arg == "--seconds" && hasValue) {
            options->run.seconds = std::atoi(argv[++i]);
            if (options->run.seconds <= 0) {
                return false;
            }
        } else if (arg == "--out" && hasValue) {
            options->run.outFolder = argv[++i];
        } else if (arg == "--data" && hasValue) {
            options->data = argv[++i];
        } else if (arg == "/schedule" || arg == "-schedule" || arg == "/epg" || arg == "-epg" ||
                   arg == "/Schedule" || arg == "/EPG") {
            // Requests of the wake-up tasks: nothing more to do than to start.
        } else if (!arg.empty() && arg[0] != '-') {
            options->file = arg;
        } else {
            return false;
        }
    }
    return true;
}

bool DisplayPresent() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != 0;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

TimeValue LocalTimeValue() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    ICSIDateTime time;
    time.year = static_cast<uint16_t>(local.tm_year + 1900);
    time.month = static_cast<uint8_t>(local.tm_mon + 1);
    time.day = static_cast<uint8_t>(local.tm_mday);
    time.hour = static_cast<uint8_t>(local.tm_hour);
    time.minute = static_cast<uint8_t>(local.tm_min);
    time.second = static_cast<uint8_t>(local.tm_sec);
    return sitime::ToValue(time);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        Usage();
        return 2;
    }
    if (options.version) {
        std::printf("Orvanta %02X.%02X.%02X.%02X\n", kVersionBytes[0], kVersionBytes[1],
                    kVersionBytes[2], kVersionBytes[3]);
        return 0;
    }
    if (!options.headless && !DisplayPresent()) {
        options.headless = true;
        std::printf("No display: running headless for %d seconds\n", options.run.seconds);
    }
    if (options.run.outFolder.empty()) {
        options.run.outFolder = "orvanta-headless";
    }

    const AppFolders folders = AppFolders::Find(options.data);
    RegisterStreamModules(folders.application, [](const std::string& line) {
        std::fprintf(stderr, "orvanta: %s\n", line.c_str());
    });
    // The guide's clock: the broadcast time of the active window's graph, else the local clock.
    std::function<TimeValue()> applicationClock;
    CAppStores stores(folders, [&applicationClock] {
        return applicationClock ? applicationClock() : LocalTimeValue();
    });
    stores.Load([](const ICWString&) {});

    if (options.headless) {
        options.run.file = options.file;
        return RunHeadless(stores, options.run);
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvanta"));
    QApplication::setQuitOnLastWindowClosed(false);
    int status = 0;
    {
        CViewerShell shell(stores);
        applicationClock = [&shell] {
            CVideoWindow* active = shell.Windows().ActiveWindow();
            return active != nullptr ? sitime::ToValue(active->Graph().GetApplicationTime())
                                     : LocalTimeValue();
        };
        CViewingWindow* window = nullptr;
        if (!options.file.empty()) {
            window = shell.OpenFileWindow(options.file);
        } else if (CTuner* tuner = stores.FirstTuner()) {
            window = shell.OpenTunerWindow(tuner);
        } else {
            shell.ShowMessage(u"チューナーが見つかりません。", u"Error", MessageIcon::kError,
                              MessageButtons::kOk);
        }
        if (window != nullptr) {
            status = application.exec();
        }
        applicationClock = nullptr;
    }
    stores.SaveAll();
    return status;
}
