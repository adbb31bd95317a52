#pragma once

#include "platform/com/ClassFactory.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/com/ModuleExports.h"
#include "streamfw/ICModuleTables.h"
#include "streamfw/ICVersionPage.h"

// The pieces of a stream module's one source file: its registration and its entry points.
//
// A module writes
//
//     ORV_STREAM_MODULE(kICModuleTSSource, CreateTSSource, &IID_IQVTSSource)
//
// with its filter's creation function (CUnknown* (IUnknown* outer, HRESULT* hr)) and the
// private interface its version page asks the filter for (or nullptr). That defines the class
// factory list (the filter and its version page, nothing else), the library constructor that
// does what attaching the module does, and the four exported entry points:
//
//   DllRegisterServer    both entries as classes of this module file, the filter with its merit
//                        and pins in the filter category; registering again replaces them
//   DllUnregisterServer  removes the same
//   DllGetClassObject    a class factory for either entry
//   DllCanUnloadNow      S_OK when no object of the module exists and no factory is locked

// The filter as the module registers it.
RegFilter ICModuleRegFilter(const ICModuleInfo& info);

// Attaching the module: remembers its handle (an address inside it) and records the calling
// thread, the one that loaded the module, as the process's user-interface thread for the
// module's worker threads; then the templates' own attach processing.
void ICModuleAttach(const CFactoryTemplate* templates, int count, const void* moduleAddress);
// An address inside the module this copy of the framework belongs to (null before attach).
const void* ICModuleGetHandle();

#define ORV_STREAM_MODULE(moduleInfo, createFilter, privateIid)                                   \
    namespace {                                                                                   \
    CUnknown* OrvModuleCreatePage(IUnknown* outer, HRESULT* hr) {                                 \
        return ICVersionPage::CreateInstance(outer, hr, (moduleInfo).filterName, (privateIid));   \
    }                                                                                             \
    const RegFilter orvModuleFilter = ICModuleRegFilter(moduleInfo);                              \
    const CFactoryTemplate orvModuleTemplates[2] = {                                              \
        {(moduleInfo).filterName, &(moduleInfo).filterClsid, (createFilter), nullptr,             \
         &orvModuleFilter},                                                                       \
        {(moduleInfo).pageName, &(moduleInfo).pageClsid, OrvModuleCreatePage, nullptr, nullptr}}; \
    __attribute__((constructor)) void OrvModuleLoaded() {                                         \
        ICModuleAttach(orvModuleTemplates, 2, ComCallerModuleAddress());                          \
    }                                                                                             \
    __attribute__((destructor)) void OrvModuleUnloaded() {                                        \
        ComModuleDetach(orvModuleTemplates, 2);                                                   \
    }                                                                                             \
    }                                                                                             \
    HRESULT DllRegisterServer() {                                                                 \
        return ComModuleRegisterServer(orvModuleTemplates, 2, true, ComCallerModuleAddress());    \
    }                                                                                             \
    HRESULT DllUnregisterServer() {                                                               \
        return ComModuleRegisterServer(orvModuleTemplates, 2, false, ComCallerModuleAddress());   \
    }                                                                                             \
    HRESULT DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {                      \
        return ComModuleGetClassObject(orvModuleTemplates, 2, classId, iid, object);              \
    }                                                                                             \
    HRESULT DllCanUnloadNow() {                                                                   \
        return ComModuleCanUnloadNow();                                                           \
    }
