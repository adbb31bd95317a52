#pragma once

#include "platform/com/Guid.h"

// The entry points a module file (a shared library named "*.ax") exports by name. Include this
// header in the module source that defines them: the declarations give the definitions C
// linkage and default visibility, so they stay exported when the module hides everything else.
// What the module does when it is loaded (the platform's attach processing) goes into a library
// constructor, __attribute__((constructor)).
#define ORV_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

ORV_MODULE_EXPORT HRESULT DllRegisterServer();
ORV_MODULE_EXPORT HRESULT DllUnregisterServer();
ORV_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID classId, REFIID iid, void** object);
ORV_MODULE_EXPORT HRESULT DllCanUnloadNow();
