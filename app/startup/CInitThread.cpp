#include "app/startup/CInitThread.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/CodePage.h"
#include "platform/com/ComRuntime.h"
#include "platform/gdi/FontProvider.h"

namespace {

// The stores' format version; the same four bytes are the application's version.
constexpr uint8_t kVersionBytes[4] = {0x15, 0x12, 0x02, 0x00};

ICWString Wide(const std::string& utf8) {
    return ICWString(Utf8ToUtf16(utf8));
}

}  // namespace

CInitThread::CInitThread(CAppStores& appStores, Callbacks initCallbacks)
    : stores(appStores), callbacks(std::move(initCallbacks)) {}

CInitThread::~CInitThread() {
    WaitForEnd();
}

void CInitThread::Log(const char16_t* text) {
    if (callbacks.log) {
        callbacks.log(ICWString(text));
    }
}

void CInitThread::Fail(const ICWString& text) {
    if (callbacks.error) {
        callbacks.error(text);
    }
}

void CInitThread::Run() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const bool succeeded = StartupChecks();
    if (callbacks.finished) {
        callbacks.finished(succeeded);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kLinger));
    CoUninitialize();
}

bool CInitThread::StartupChecks() {
    // The application folder is the working folder: the modules are found there.
    if (!stores.folders.application.empty()) {
        [[maybe_unused]] const int changed = ::chdir(stores.folders.application.c_str());
    }
    stores.settings.LoadSettings(stores.SettingsPath());
    if (!CheckFilters() || !CheckFont()) {
        return false;
    }
    stores.DiscoverTuners([this](const ICWString& text) { Log(text.GetText()); });
    if (stores.tuners.Tuners().GetCount() == 0) {
        Fail(ICWString(u"チューナーが見つかりません。"));
        return false;
    }
    ICWString version;
    version.Format(u"Orvanta %02X.%02X.%02X.%02X\r\n", kVersionBytes[0], kVersionBytes[1],
                   kVersionBytes[2], kVersionBytes[3]);
    Log(u"\r\n\r\n-----Initialize-----\r\n");
    Log(version.GetText());
    Log(u"\r\n");
    Log(u"Load Channel data\r\n");
    stores.LoadChannels();
    Log(u"Load EPG data\r\n");
    stores.LoadGuide();
    Log(u"Load Logo data\r\n");
    stores.LoadLogoStore();
    Log(u"Load RecSchedule data\r\n");
    stores.LoadReservationList();
    if (stores.settings.epgUpdateTime < CSettings::kNoEpgUpdate) {
        stores.reservations.SetEpgUpdateTask(stores.settings.epgUpdateTime);
    }
    return true;
}

bool CInitThread::CheckFilters() {
    Log(u"\r\n-----Check Filter-----\r\n");
    for (const char* name : kModules) {
        const ICWString wideName = Wide(name);
        ICWString line;
        line.Format(u"%s\r\n", wideName.GetText());
        Log(line.GetText());
        const std::string path = stores.folders.application + "/" + name;
        void* handle = nullptr;
        if (FAILED(ComLoadModule(path, &handle))) {
            ICWString message;
            const ICWString why = Wide(ComGetLastErrorText());
            message.Format(u"%s : %s", wideName.GetText(), why.GetText());
            Fail(message);
            return false;
        }
        auto registerServer = reinterpret_cast<DllRegisterServerFunction>(
            ComGetModuleExport(handle, "DllRegisterServer"));
        if (registerServer == nullptr) {
            ComUnloadModule(handle);
            ICWString message;
            message.Format(u"%s : DllRegisterServerエントリーがありません", wideName.GetText());
            Fail(message);
            return false;
        }
        const HRESULT hr = registerServer();
        ComUnloadModule(handle);
        if (FAILED(hr)) {
            ICWString message;
            message.Format(u"%s : Error %08X", wideName.GetText(), static_cast<unsigned>(hr));
            Fail(message);
            return false;
        }
    }
    return true;
}

bool CInitThread::CheckFont() {
    // A face that is not installed falls back to the Japanese face; only a system without
    // fonts fails.
    const std::string face = Utf16ToUtf8(
        stores.settings.aribFont.GetText() != nullptr ? stores.settings.aribFont.GetText() : u"");
    if (FontconfigFontProvider::Get().FindFace(face).has_value()) {
        return true;
    }
    ICWString message = stores.settings.aribFont;
    message.Append(u"フォントが作成できません。\r\nフォントをインストールしてください。");
    Fail(message);
    return false;
}
