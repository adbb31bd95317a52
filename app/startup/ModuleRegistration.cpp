#include "app/startup/ModuleRegistration.h"

#include "platform/com/ComRuntime.h"

bool RegisterStreamModules(const std::string& folder,
                           const std::function<void(const std::string& line)>& log) {
    bool all = true;
    for (const char* name : kStreamModules) {
        const std::string path = folder + "/" + name;
        void* handle = nullptr;
        HRESULT hr = ComLoadModule(path, &handle);
        if (SUCCEEDED(hr)) {
            auto registerServer = reinterpret_cast<DllRegisterServerFunction>(
                ComGetModuleExport(handle, "DllRegisterServer"));
            hr = registerServer != nullptr ? registerServer() : CO_E_ERRORINDLL;
        }
        if (FAILED(hr)) {
            all = false;
            if (log) {
                const std::string why = ComGetLastErrorText();
                log(std::string(name) + ": cannot be registered" + (why.empty() ? "" : ": " + why));
            }
        }
    }
    return all;
}
