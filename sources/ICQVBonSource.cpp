#include "sources/ICQVBonSource.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>
#include <typeinfo>

#include "core/ICWinError.h"
#include "platform/dshow/DShowErrors.h"
#include "sources/ICQVTSSourcePins.h"
#include "streamfw/ICModuleTables.h"

// Driver objects come from libraries built elsewhere, perhaps without run-time type
// information: the undefined-behaviour checker cannot verify calls on them and is told so.
#if defined(__clang__)
#define ORV_DRIVER_CALLS __attribute__((no_sanitize("vptr")))
#else
#define ORV_DRIVER_CALLS
#endif

namespace {

// Windows numbers for what loading a library can run into.
constexpr DWORD kErrorModNotFound = 126;
constexpr DWORD kErrorProcNotFound = 127;
constexpr DWORD kErrorBadExeFormat = 193;

// The number for a failed load: the file itself is checked first (missing, unreadable), then
// the loader's message tells a damaged or foreign file from a missing dependency.
DWORD LoadErrorNumber(const char* path, const char* loaderMessage) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        return ICWinErrorFromErrno(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return kErrorAccessDenied;
    }
    const char* message = loaderMessage != nullptr ? loaderMessage : "";
    if (std::strstr(message, "invalid ELF header") != nullptr ||
        std::strstr(message, "file too short") != nullptr ||
        std::strstr(message, "wrong ELF class") != nullptr ||
        std::strstr(message, "ELF file") != nullptr) {
        return kErrorBadExeFormat;
    }
    if (std::strstr(message, "undefined symbol") != nullptr) {
        return kErrorProcNotFound;
    }
    if (std::strstr(message, "Permission denied") != nullptr) {
        return kErrorAccessDenied;
    }
    return kErrorModNotFound;
}

// The object's run-time type information, read from its virtual table (Itanium C++ ABI: the
// slot before the first function). A driver built without it has a null slot there, and a
// dynamic_cast on it would crash.
bool HasTypeInfo(IBonDriver* object) {
    const auto* const* table = *reinterpret_cast<const void* const* const*>(object);
    return table[-1] != nullptr;
}

ORV_DRIVER_CALLS IBonDriver2* AsDriver2(IBonDriver* object) {
    return HasTypeInfo(object) ? dynamic_cast<IBonDriver2*>(object) : nullptr;
}

}  // namespace

ICQVBonSource::ICQVBonSource(IUnknown* outer, HRESULT* hr)
    : ICQVTSSource(kICModuleBonSource.filterName, outer, CLSID_QVBonSource, hr) {}

ICQVBonSource::~ICQVBonSource() {
    // The worker reads from the driver: it ends first.
    StopWorker();
    std::lock_guard<std::mutex> lock(driverMutex);
    UnloadDriver();
}

CUnknown* ICQVBonSource::CreateInstance(IUnknown* outer, HRESULT* hr) {
    return ICCreateFilter<ICQVBonSource>(outer, hr);
}

HRESULT ICQVBonSource::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IQVBonSource) {
        return GetInterface(static_cast<IQVBonSource*>(this), object);
    }
    return ICQVTSSource::NonDelegatingQueryInterface(iid, object);
}

const CLSID& ICQVBonSource::VersionPageClsid() const {
    return CLSID_QVBonSourceVersionPage;
}

int ICQVBonSource::GetPinCount() {
    return 1;
}

CBasePin* ICQVBonSource::GetPin(int index) {
    return index == 0 ? GetSourceOutputPin() : nullptr;
}

HRESULT ICQVBonSource::FindPin(LPCWSTR id, IPin** pin) {
    if (id == nullptr || pin == nullptr) {
        return E_POINTER;
    }
    *pin = nullptr;
    if (std::u16string_view(id) != u"Out") {
        return VFW_E_NOT_FOUND;
    }
    CBasePin* output = GetPin(0);
    if (output == nullptr) {
        return E_OUTOFMEMORY;
    }
    output->AddRef();
    *pin = output;
    return S_OK;
}

bool ICQVBonSource::WaitsForWorkerOnPause() const {
    return false;
}

ORV_DRIVER_CALLS HRESULT ICQVBonSource::Run(REFERENCE_TIME start) {
    // What the driver buffered while the filter stood still is old.
    if (IBonDriver* current = driver.load()) {
        current->PurgeTsStream();
    }
    HRESULT hr = ICQVTSSource::Run(start);
    PostReadStep();
    return hr;
}

// --- the driver

ORV_DRIVER_CALLS DWORD ICQVBonSource::SetBonDriver(const char* path) {
    std::lock_guard<std::mutex> lock(driverMutex);
    UnloadDriver();
    if (path == nullptr) {
        return kErrorInvalidParameter;
    }
    dlerror();
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return LoadErrorNumber(path, dlerror());
    }
    using CreateFunction = IBonDriver* (*)();
    auto create = reinterpret_cast<CreateFunction>(dlsym(handle, "CreateBonDriver"));
    if (create == nullptr) {
        dlclose(handle);
        return kErrorProcNotFound;
    }
    IBonDriver* created = create();
    if (created == nullptr) {
        dlclose(handle);
        return kErrorNoDriverObject;
    }
    if (!BonDriverResultTrue(created->OpenTuner())) {
        created->Release();
        dlclose(handle);
        return kErrorTunerNotOpened;
    }
    library = handle;
    driver2.store(AsDriver2(created));
    driver.store(created);
    return 0;
}

ORV_DRIVER_CALLS void ICQVBonSource::UnloadDriver() {
    IBonDriver* current = driver.exchange(nullptr);
    driver2.store(nullptr);
    if (current != nullptr) {
        current->CloseTuner();
        current->Release();
    }
    if (library != nullptr) {
        dlclose(library);
        library = nullptr;
    }
}

ORV_DRIVER_CALLS const char16_t* ICQVBonSource::GetTunerName() {
    IBonDriver2* current = driver2.load();
    return current != nullptr ? current->GetTunerName() : nullptr;
}

ORV_DRIVER_CALLS BOOL ICQVBonSource::SetChannel(DWORD space, DWORD channel) {
    IBonDriver2* current = driver2.load();
    return current != nullptr && BonDriverResultTrue(current->SetChannel(space, channel)) ? TRUE
                                                                                          : FALSE;
}

ORV_DRIVER_CALLS float ICQVBonSource::GetSignalLevel() {
    IBonDriver2* current = driver2.load();
    return current != nullptr ? current->GetSignalLevel() : 0.0f;
}

ORV_DRIVER_CALLS const char16_t* ICQVBonSource::EnumTuningSpace(DWORD space) {
    IBonDriver2* current = driver2.load();
    return current != nullptr ? current->EnumTuningSpace(space) : nullptr;
}

ORV_DRIVER_CALLS const char16_t* ICQVBonSource::EnumChannelName(DWORD space, DWORD channel) {
    IBonDriver2* current = driver2.load();
    return current != nullptr ? current->EnumChannelName(space, channel) : nullptr;
}

// --- the read loop

ORV_DRIVER_CALLS void ICQVBonSource::ReadStep() {
    if (IsFileMode()) {
        ICQVTSSource::ReadStep();
        return;
    }
    if (seeking.load() || !delivering.load(std::memory_order_acquire)) {
        return;
    }
    const auto stepStart = std::chrono::steady_clock::now();
    bool gotData = false;
    {
        std::lock_guard<std::mutex> lock(driverMutex);
        IBonDriver* current = driver.load();
        if (current == nullptr) {
            return;
        }
        driverReadSteps.fetch_add(1);
        if (current->WaitTsStream(kWaitMilliseconds) == kWaitObject0) {
            DWORD remaining = current->GetReadyCount();
            int failures = 0;
            while (remaining != 0 && delivering.load(std::memory_order_acquire)) {
                BYTE* data = nullptr;
                DWORD size = 0;
                if (!BonDriverResultTrue(current->GetTsStream(&data, &size, &remaining))) {
                    if (++failures >= kMaxReadFailures) {
                        break;
                    }
                    continue;
                }
                failures = 0;
                gotData = gotData || (data != nullptr && size != 0);
                if (data == nullptr || size == 0 || !StartThresholdPassed()) {
                    continue;
                }
                CutIntoPackets(data, size, true);
            }
        }
    }
    if (!gotData) {
        // A driver that answers at once without data would otherwise have the worker spin:
        // the step lasts the wait it asked for.
        std::this_thread::sleep_until(stepStart + std::chrono::milliseconds(kWaitMilliseconds));
    }
    if (delivering.load(std::memory_order_acquire)) {
        PostReadStep();
    }
}
