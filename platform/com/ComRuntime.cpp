#include "platform/com/ComRuntime.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/com/DeviceEnum.h"

namespace {

thread_local std::string lastErrorText;
thread_local int initialisationCount = 0;

void SetError(std::string text) {
    lastErrorText = std::move(text);
}

struct RegisteredFactory {
    DWORD cookie;
    CLSID classId;
    IClassFactory* factory;  // one reference
};

struct LoadedModule {
    void* handle;
};

struct Runtime {
    ~Runtime() {
        for (RegisteredFactory& entry : factories) {
            entry.factory->Release();
        }
    }

    std::mutex mutex;
    std::vector<RegisteredFactory> factories;
    DWORD nextCookie = 1;
    // Loaded modules stay loaded until the process ends (their handles are not closed here:
    // their objects may still be in use while the program shuts down).
    std::map<std::string, LoadedModule> modules;
};

Runtime& TheRuntime() {
    // An object, not a heap block: a module's copy of this code goes with the module.
    static Runtime runtime;
    return runtime;
}

// The classes the component library itself provides.
HRESULT GetLibraryClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (classId == CLSID_SystemDeviceEnum) {
        return GetSystemDeviceEnumClassObject(iid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT FindRegisteredFactory(REFCLSID classId, ComPtr<IClassFactory>* out) {
    Runtime& runtime = TheRuntime();
    std::lock_guard<std::mutex> lock(runtime.mutex);
    for (auto it = runtime.factories.rbegin(); it != runtime.factories.rend(); ++it) {
        if (it->classId == classId) {
            *out = ComPtr<IClassFactory>(it->factory);
            return S_OK;
        }
    }
    return REGDB_E_CLASSNOTREG;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

HRESULT LoadModuleLocked(Runtime& runtime, const std::string& path, void** handle) {
    auto found = runtime.modules.find(path);
    if (found != runtime.modules.end()) {
        *handle = found->second.handle;
        return S_OK;
    }
    if (!FileExists(path)) {
        SetError("module " + path + " not found: " + std::strerror(errno));
        return CO_E_DLLNOTFOUND;
    }
    ::dlerror();
    void* loaded = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!loaded) {
        const char* reason = ::dlerror();
        SetError("module " + path + " cannot be loaded: " + (reason ? reason : "unknown error"));
        return CO_E_ERRORINDLL;
    }
    runtime.modules.emplace(path, LoadedModule{loaded});
    *handle = loaded;
    return S_OK;
}

HRESULT GetModuleClassObject(REFCLSID classId, REFIID iid, void** object) {
    ClassRegistration registration;
    HRESULT hr = ComponentRegistry::FindClass(classId, &registration);
    if (FAILED(hr)) {
        SetError(hr == REGDB_E_CLASSNOTREG
                     ? "class " + GuidToString(classId) + " is not registered"
                     : "the component registry cannot be read: " + ComponentRegistry::LastError());
        return hr;
    }
    DllGetClassObjectFunction getClassObject = nullptr;
    {
        Runtime& runtime = TheRuntime();
        std::lock_guard<std::mutex> lock(runtime.mutex);
        void* handle = nullptr;
        hr = LoadModuleLocked(runtime, registration.modulePath, &handle);
        if (FAILED(hr)) {
            return hr;
        }
        getClassObject =
            reinterpret_cast<DllGetClassObjectFunction>(::dlsym(handle, "DllGetClassObject"));
        if (!getClassObject) {
            SetError("module " + registration.modulePath + " has no DllGetClassObject");
            return CO_E_ERRORINDLL;
        }
    }
    // The module's code runs without the runtime's lock: it may create objects itself.
    hr = getClassObject(classId, iid, object);
    if (FAILED(hr)) {
        SetError("module " + registration.modulePath + " cannot make class " +
                 GuidToString(classId));
    }
    return hr;
}

}  // namespace

HRESULT CoInitialize(void* reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(void*, DWORD) {
    return initialisationCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (initialisationCount > 0) {
        --initialisationCount;
    }
}

HRESULT CoGetClassObject(REFCLSID classId, DWORD context, void*, REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    SetError({});
    if ((context & CLSCTX_INPROC) == 0) {
        SetError("class " + GuidToString(classId) + " is only available in-process");
        return REGDB_E_CLASSNOTREG;
    }
    try {
        ComPtr<IClassFactory> factory;
        if (SUCCEEDED(FindRegisteredFactory(classId, &factory))) {
            return factory->QueryInterface(iid, object);
        }
        const HRESULT hr = GetLibraryClassObject(classId, iid, object);
        if (hr != CLASS_E_CLASSNOTAVAILABLE) {
            return hr;
        }
        return GetModuleClassObject(classId, iid, object);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID iid,
                         void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    ComPtr<IClassFactory> factory;
    HRESULT hr =
        CoGetClassObject(classId, context, nullptr, IID_IClassFactory, factory.GetVoidAddressOf());
    if (FAILED(hr)) {
        return hr;
    }
    hr = factory->CreateInstance(outer, iid, object);
    if (FAILED(hr)) {
        *object = nullptr;
        SetError("class " + GuidToString(classId) + " could not create its object");
    }
    return hr;
}

HRESULT CoRegisterClassObject(REFCLSID classId, IUnknown* factory, DWORD, DWORD, DWORD* cookie) {
    if (!factory || !cookie) {
        return E_INVALIDARG;
    }
    *cookie = 0;
    IClassFactory* classFactory = nullptr;
    HRESULT hr =
        factory->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&classFactory));
    if (FAILED(hr)) {
        return hr;
    }
    try {
        Runtime& runtime = TheRuntime();
        std::lock_guard<std::mutex> lock(runtime.mutex);
        const DWORD assigned = runtime.nextCookie++;
        runtime.factories.push_back({assigned, classId, classFactory});
        *cookie = assigned;
        return S_OK;
    } catch (...) {
        classFactory->Release();
        return E_OUTOFMEMORY;
    }
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    IClassFactory* released = nullptr;
    {
        Runtime& runtime = TheRuntime();
        std::lock_guard<std::mutex> lock(runtime.mutex);
        for (auto it = runtime.factories.begin(); it != runtime.factories.end(); ++it) {
            if (it->cookie == cookie) {
                released = it->factory;
                runtime.factories.erase(it);
                break;
            }
        }
    }
    if (!released) {
        return E_INVALIDARG;
    }
    released->Release();
    return S_OK;
}

void CoFreeUnusedLibraries() {
    Runtime& runtime = TheRuntime();
    std::lock_guard<std::mutex> lock(runtime.mutex);
    for (auto it = runtime.modules.begin(); it != runtime.modules.end();) {
        auto canUnload = reinterpret_cast<DllCanUnloadNowFunction>(
            ::dlsym(it->second.handle, "DllCanUnloadNow"));
        if (canUnload && canUnload() == S_OK) {
            ::dlclose(it->second.handle);
            it = runtime.modules.erase(it);
        } else {
            ++it;
        }
    }
}

std::string ComGetLastErrorText() {
    return lastErrorText;
}

HRESULT ComLoadModule(const std::string& path, void** handle) {
    if (!handle) {
        return E_POINTER;
    }
    *handle = nullptr;
    SetError({});
    try {
        Runtime& runtime = TheRuntime();
        std::lock_guard<std::mutex> lock(runtime.mutex);
        return LoadModuleLocked(runtime, path, handle);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void* ComGetModuleExport(void* handle, const char* name) {
    return handle && name ? ::dlsym(handle, name) : nullptr;
}

HRESULT ComUnloadModule(void* handle) {
    Runtime& runtime = TheRuntime();
    std::lock_guard<std::mutex> lock(runtime.mutex);
    for (auto it = runtime.modules.begin(); it != runtime.modules.end(); ++it) {
        if (it->second.handle != handle) {
            continue;
        }
        auto canUnload =
            reinterpret_cast<DllCanUnloadNowFunction>(::dlsym(handle, "DllCanUnloadNow"));
        if (canUnload && canUnload() != S_OK) {
            return S_FALSE;
        }
        ::dlclose(handle);
        runtime.modules.erase(it);
        return S_OK;
    }
    return E_INVALIDARG;
}
