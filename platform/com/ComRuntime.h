#pragma once

#include <string>

#include "platform/com/Unknown.h"

// In-process creation of component objects by class identifier.
//
// A class is found first among the factories this process registered with
// CoRegisterClassObject (the platform's built-in classes, test classes), then in the component
// registry, whose entry names the module file: the module is loaded with dlopen (once; it stays
// loaded until CoFreeUnusedLibraries finds it idle) and its DllGetClassObject supplies the
// factory. An unregistered class fails with REGDB_E_CLASSNOTREG, a module that cannot be found
// with CO_E_DLLNOTFOUND, a module that cannot be loaded or lacks DllGetClassObject with
// CO_E_ERRORINDLL; ComGetLastErrorText then tells why.

// Class contexts; every class runs in-process here.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

inline constexpr DWORD REGCLS_SINGLEUSE = 0;
inline constexpr DWORD REGCLS_MULTIPLEUSE = 1;

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// The entry points of a module file, looked up by name.
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID classId, REFIID iid, void** object);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
using DllUnregisterServerFunction = HRESULT (*)();

// Per-thread initialisation of the library: S_OK the first time on a thread, S_FALSE when it
// was already initialised. Nothing depends on it; it is kept so that code written for the
// platform calls it in the usual places.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();

HRESULT CoGetClassObject(REFCLSID classId, DWORD context, void* serverInfo, REFIID iid,
                         void** object);
HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID iid,
                         void** object);

// Makes `factory` (it must answer IClassFactory) the source of the class in this process. The
// cookie revokes it; the latest registration of a class wins.
HRESULT CoRegisterClassObject(REFCLSID classId, IUnknown* factory, DWORD context, DWORD flags,
                              DWORD* cookie);
HRESULT CoRevokeClassObject(DWORD cookie);

// Unloads every loaded module whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

// Why the last failed creation on this thread failed (empty after a success).
std::string ComGetLastErrorText();

// Loads a module file and resolves one of its exports, for the callers that call
// DllRegisterServer themselves. The handle stays with the runtime (never dlclose it);
// ComUnloadModule lets it go when nothing of it is in use.
HRESULT ComLoadModule(const std::string& path, void** handle);
void* ComGetModuleExport(void* handle, const char* name);
HRESULT ComUnloadModule(void* handle);
