// orvanta: watches and records Japanese digital television.
//
//   orvanta                 a viewing window on the first tuner (the demo tuner when no other
//                           is found)
//   orvanta FILE.ts         plays a recording
//   orvanta --headless [--seconds N] [--out DIR] [FILE.ts]
//                           watches without a window (see HeadlessRun.h)
//   orvanta /schedule | /epg
//                           the wake-up tasks' requests, handed to a running instance
//   --data DIR              the Data folder to use
//   --version               prints the version

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <filesystem>

#include "app/headless/HeadlessRun.h"
#include "app/startup/AppFolders.h"
#include "app/startup/CAppStores.h"
#include "app/startup/CInitThread.h"
#include "app/ui/CApplicationFrame.h"
#include "app/ui/LogWindow.h"
#include "app/ui/SchedulerDriver.h"
#include "app/ui/SingleInstance.h"
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
    std::vector<std::string> requests;
};

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

std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

bool HasScheduleRequest(const std::vector<std::string>& requests) {
    for (const std::string& request : requests) {
        if (CSingleInstance::RequestsOf({QString::fromStdString(request)}).front() ==
            CSingleInstance::kScheduleRequest) {
            return true;
        }
    }
    return false;
}

std::string Utf8(const ICWString& text) {
    return Utf16ToUtf8(text.GetText() != nullptr ? text.GetText() : u"");
}

int RunWithoutWindow(Options& options) {
    if (options.run.outFolder.empty()) {
        options.run.outFolder = "orvanta-headless";
    }
    // The start-up works in the application folder: the user's paths are made absolute first.
    options.run.outFolder = Absolute(options.run.outFolder);
    options.run.file = options.file.empty() ? std::string() : Absolute(options.file);
    CAppStores stores(
        AppFolders::Find(options.data.empty() ? std::string() : Absolute(options.data)),
        [] { return LocalTimeValue(); });
    CInitThread::Callbacks callbacks;
    callbacks.error = [](const ICWString& text) {
        std::fprintf(stderr, "orvanta: Error: %s\n", Utf8(text).c_str());
    };
    CInitThread init(stores, callbacks);
    if (!init.StartupChecks()) {
        return 1;
    }
    return RunHeadless(stores, options.run);
}

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
        } else if (CSingleInstance::RequestsOf({QString::fromStdString(arg)}).front() !=
                   CSingleInstance::kOtherRequest) {
            // "/schedule", "/epg" (also with '-'): requests of the wake-up tasks.
            options->requests.push_back(arg);
        } else if (!arg.empty() && arg[0] != '-') {
            options->file = arg;
        } else {
            return false;
        }
    }
    return true;
}

// SIGTERM (the session ending) and SIGINT end the run the way leaving the event loop does, so
// that the stores are saved. The handler only writes to a pipe that the event loop reads.
int quitPipe[2] = {-1, -1};

void OnQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(quitPipe[1], &byte, 1);
}

void QuitOnSignals() {
    if (::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, qApp);
    // exit, not quit: quitting asks the windows first, and a window may refuse.
    QObject::connect(notifier, &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

// The settings dialog at start-up when the decoders are not set or no tuner has a service yet
// (so that a channel scan can be run).
void StartupDialogs(CApplicationFrame& frame, CAppStores& stores) {
    bool anyService = false;
    for (const CTuner* tuner : stores.tuners.Tuners()) {
        for (const CTuningSpace* space : tuner->tuningSpaces) {
            anyService = anyService || space->channels.GetCount() > 0;
        }
    }
    const bool decodersMissing =
        stores.settings.mpeg2Decoder.IsEmpty() || stores.settings.aacDecoder.IsEmpty();
    if (decodersMissing || !anyService) {
        QTimer::singleShot(
            0, [&frame, decodersMissing] { frame.OpenSettings(decodersMissing ? 1 : 0); });
    }
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
    if (options.headless) {
        return RunWithoutWindow(options);
    }

    QApplication application(argc, argv);
    QuitOnSignals();
    QApplication::setApplicationName(QStringLiteral("Orvanta"));
    QApplication::setQuitOnLastWindowClosed(false);
    // The desktop's style where one is set, else Fusion.
    if (qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE") &&
        QApplication::style()->name().compare(QStringLiteral("windows"), Qt::CaseInsensitive) ==
            0) {
        QApplication::setStyle(QStringLiteral("Fusion"));
    }
    const std::string file = options.file.empty() ? std::string() : Absolute(options.file);

    std::unique_ptr<CSchedulerDriver> scheduler;
    std::unique_ptr<CApplicationFrame> frame;
    CSingleInstance instance;
    if (!instance.Listen([&scheduler](uint32_t message) {
            if (scheduler) {
                scheduler->OnRequest(message);
            }
        })) {
        QStringList arguments;
        for (const std::string& request : options.requests) {
            arguments << QString::fromStdString(request);
        }
        CSingleInstance::Forward(CSingleInstance::RequestsOf(arguments), std::chrono::seconds(60));
        return 0;
    }

    // The guide's clock: the broadcast time of the active window's graph, else the local clock.
    std::function<TimeValue()> applicationClock;
    CAppStores stores(
        AppFolders::Find(options.data.empty() ? std::string() : Absolute(options.data)),
        [&applicationClock] { return applicationClock ? applicationClock() : LocalTimeValue(); });
    CLogWindow logWindow;
    logWindow.show();
    std::unique_ptr<CViewerShell> shell;
    CInitThread::Callbacks callbacks;
    callbacks.log = [&logWindow](const ICWString& text) { logWindow.AppendLog(text); };
    callbacks.error = [&logWindow](const ICWString& text) {
        QMetaObject::invokeMethod(
            &logWindow,
            [&logWindow, text] {
                QMessageBox::critical(&logWindow, QStringLiteral("Error"),
                                      QString::fromUtf16(text.GetText())
                                          .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
            },
            Qt::BlockingQueuedConnection);
    };
    callbacks.finished = [&](bool succeeded) {
        QMetaObject::invokeMethod(
            &logWindow,
            [&, succeeded] {
                logWindow.AppendLog(ICWString(u"Create Window\r\n"));
                if (!succeeded) {
                    QApplication::quit();
                    return;
                }
                shell = std::make_unique<CViewerShell>(stores);
                // The reservations loaded at start-up are carried out from now on.
                scheduler = std::make_unique<CSchedulerDriver>(*shell, stores);
                scheduler->quitWhenIdle = HasScheduleRequest(options.requests);
                frame = std::make_unique<CApplicationFrame>(*shell, stores);
                frame->Attach(*scheduler);
                applicationClock = [&shell] {
                    CVideoWindow* active = shell->Windows().ActiveWindow();
                    return active != nullptr ? sitime::ToValue(active->Graph().GetApplicationTime())
                                             : LocalTimeValue();
                };
                CViewingWindow* window = nullptr;
                if (!file.empty()) {
                    window = shell->OpenFileWindow(file);
                } else if (!HasScheduleRequest(options.requests)) {
                    window = frame->OpenFirstViewer();
                }
                if (window != nullptr) {
                    logWindow.hide();
                }
                frame->Start();
                StartupDialogs(*frame, stores);
            },
            Qt::QueuedConnection);
    };
    CInitThread init(stores, callbacks);
    init.Start();
    const int status = application.exec();
    init.WaitForEnd();
    applicationClock = nullptr;
    // The scheduler's timer calls into the frame: it goes first.
    scheduler.reset();
    frame.reset();
    shell.reset();
    stores.SaveAll();
    return status;
}
