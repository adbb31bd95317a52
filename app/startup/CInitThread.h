#pragma once

#include <functional>
#include <string>

#include "app/startup/CAppStores.h"
#include "core/ICThread.h"
#include "core/ICWString.h"

// The start-up checks, on a worker thread while the main window's log shows their progress:
// the settings, the four stream modules' registration, the display font, the tuners, then the
// channel files, the guide, the logos and the reservations. When it is done it reports whether
// the application can run; a failing step has shown its message first.
class CInitThread final : public ICThread {
public:
    struct Callbacks {
        // A log text ("\r\n" ends lines); called on the worker, in order.
        std::function<void(const ICWString& text)> log;
        // A failure message (caption "Error", error icon); called on the worker, which waits
        // until it returns.
        std::function<void(const ICWString& text)> error;
        // The end: whether the checks succeeded (the main window's message 0x501).
        std::function<void(bool succeeded)> finished;
    };

    // The stores are filled by the thread; nobody else uses them until `finished`.
    CInitThread(CAppStores& stores, Callbacks callbacks);
    ~CInitThread() override;

    // The checks themselves, on the calling thread (the thread body runs them).
    bool StartupChecks();

    // The module files, in the order they are registered.
    static constexpr const char* kModules[] = {"Tunova.ax", "Streva.ax", "Tabrix.ax", "Lumiq.ax"};
    // Milliseconds the thread lingers after reporting.
    static constexpr uint32_t kLinger = 1000;

protected:
    void Run() override;

private:
    bool CheckFilters();
    bool CheckFont();
    void Log(const char16_t* text);
    void Fail(const ICWString& text);

    CAppStores& stores;
    Callbacks callbacks;
};
