// Creating classes of module files: registration through the module's own DllRegisterServer,
// loading with dlopen, DllGetClassObject, object counts, unloading, and modules that fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/com/tests/ComTestModule.h"
#include "platform/com/tests/TemporaryRegistry.h"

namespace {

HRESULT CallExport(const std::string& path, const char* name) {
    void* handle = nullptr;
    HRESULT hr = ComLoadModule(path, &handle);
    if (FAILED(hr)) {
        return hr;
    }
    auto entry = reinterpret_cast<DllRegisterServerFunction>(ComGetModuleExport(handle, name));
    return entry ? entry() : E_NOINTERFACE;
}

std::string Canonical(const std::string& path) {
    return std::filesystem::canonical(path).string();
}

HRESULT CreateCounter(ComPtr<IComTestCounter>* counter) {
    return CoCreateInstance(CLSID_ComTestCounter, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IComTestCounter, counter->GetVoidAddressOf());
}

}  // namespace

TEST(ComModule, RegisteredModuleIsLoadedAndCreatesItsClass) {
    TemporaryRegistry registry;
    ASSERT_EQ(CallExport(ORV_COM_TEST_MODULE, "DllRegisterServer"), S_OK);
    // The module found its own file through the address of its code.
    ClassRegistration found;
    ASSERT_EQ(ComponentRegistry::FindClass(CLSID_ComTestCounter, &found), S_OK);
    EXPECT_EQ(found.modulePath, Canonical(ORV_COM_TEST_MODULE));
    ASSERT_EQ(ComponentRegistry::FindClass(CLSID_ComTestPage, &found), S_OK);
    std::vector<CategoryEntry> filters;
    ASSERT_EQ(ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &filters), S_OK);
    ASSERT_EQ(filters.size(), 1u);
    EXPECT_EQ(filters[0].friendlyName, kComTestFilterName);
    EXPECT_EQ(filters[0].merit, 0x600000u);

    void* handle = nullptr;
    ASSERT_EQ(ComLoadModule(ORV_COM_TEST_MODULE, &handle), S_OK);
    auto attachCount = reinterpret_cast<ComTestAttachCountFunction>(
        ComGetModuleExport(handle, "ComTestAttachCount"));
    ASSERT_NE(attachCount, nullptr);
    EXPECT_EQ(attachCount(), 1);  // the library constructor ran once
    auto canUnload =
        reinterpret_cast<DllCanUnloadNowFunction>(ComGetModuleExport(handle, "DllCanUnloadNow"));
    ASSERT_NE(canUnload, nullptr);

    ComPtr<IComTestCounter> counter;
    ASSERT_EQ(CreateCounter(&counter), S_OK);
    EXPECT_EQ(counter->Increment(), 1);
    EXPECT_EQ(counter->Increment(), 2);
    EXPECT_EQ(counter->ModuleObjects(), 1);
    EXPECT_EQ(canUnload(), S_FALSE);
    CoFreeUnusedLibraries();  // in use: stays loaded
    EXPECT_EQ(counter->Increment(), 3);

    counter.Reset();
    EXPECT_EQ(canUnload(), S_OK);
    EXPECT_EQ(ComUnloadModule(handle), S_OK);

    // Loading it again runs the constructor again and works as before.
    ASSERT_EQ(CreateCounter(&counter), S_OK);
    EXPECT_EQ(counter->Increment(), 1);
    counter.Reset();
    CoFreeUnusedLibraries();
    ASSERT_EQ(CallExport(ORV_COM_TEST_MODULE, "DllUnregisterServer"), S_OK);
}

TEST(ComModule, RegisteringTwiceLeavesOneRegistrationAndUnregisteringRemovesAll) {
    TemporaryRegistry registry;
    ASSERT_EQ(CallExport(ORV_COM_TEST_MODULE, "DllRegisterServer"), S_OK);
    ASSERT_EQ(CallExport(ORV_COM_TEST_MODULE, "DllRegisterServer"), S_OK);
    std::vector<CategoryEntry> filters;
    ASSERT_EQ(ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &filters), S_OK);
    EXPECT_EQ(filters.size(), 1u);

    ASSERT_EQ(CallExport(ORV_COM_TEST_MODULE, "DllUnregisterServer"), S_OK);
    EXPECT_EQ(ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &filters),
              S_FALSE);
    ClassRegistration found;
    EXPECT_EQ(ComponentRegistry::FindClass(CLSID_ComTestCounter, &found), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ComponentRegistry::FindClass(CLSID_ComTestPage, &found), REGDB_E_CLASSNOTREG);
    ComPtr<IComTestCounter> counter;
    EXPECT_EQ(CreateCounter(&counter), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(static_cast<uint32_t>(REGDB_E_CLASSNOTREG), 0x80040154u);
    CoFreeUnusedLibraries();
}

TEST(ComModule, UnregisteredClassOfARegisteredModuleIsNotAvailable) {
    TemporaryRegistry registry;
    ClassRegistration registration;
    registration.clsid = CLSID_ComTestUnregistered;
    registration.modulePath = ORV_COM_TEST_MODULE;
    ASSERT_EQ(ComponentRegistry::RegisterClass(registration), S_OK);
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestUnregistered, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, object.GetVoidAddressOf()),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(object);
    CoFreeUnusedLibraries();
}

TEST(ComModule, ModuleWithoutDllGetClassObjectFailsCleanly) {
    TemporaryRegistry registry;
    ASSERT_EQ(CallExport(ORV_COM_TEST_NO_ENTRY_MODULE, "DllRegisterServer"), S_OK);
    ComPtr<IComTestCounter> counter;
    EXPECT_EQ(CreateCounter(&counter), CO_E_ERRORINDLL);
    EXPECT_FALSE(counter);
    EXPECT_NE(ComGetLastErrorText().find("DllGetClassObject"), std::string::npos);
    void* handle = nullptr;
    ASSERT_EQ(ComLoadModule(ORV_COM_TEST_NO_ENTRY_MODULE, &handle), S_OK);
    EXPECT_EQ(ComGetModuleExport(handle, "DllUnregisterServer"), nullptr);
    EXPECT_EQ(ComUnloadModule(handle), S_OK);  // no DllCanUnloadNow: nothing holds it
}

TEST(ComModule, ModulesThatCannotBeLoadedFailCleanly) {
    TemporaryRegistry registry;
    ClassRegistration registration;
    registration.clsid = CLSID_ComTestCounter;

    registration.modulePath = registry.Folder() + "/Missing.ax";
    ASSERT_EQ(ComponentRegistry::RegisterClass(registration), S_OK);
    ComPtr<IComTestCounter> counter;
    EXPECT_EQ(CreateCounter(&counter), CO_E_DLLNOTFOUND);
    EXPECT_NE(ComGetLastErrorText().find("Missing.ax"), std::string::npos);

    // A file that is not a shared library.
    registration.modulePath = registry.Folder() + "/Broken.ax";
    std::ofstream(registration.modulePath) << "this is not a module";
    ASSERT_EQ(ComponentRegistry::RegisterClass(registration), S_OK);
    EXPECT_EQ(CreateCounter(&counter), CO_E_ERRORINDLL);
    EXPECT_FALSE(counter);
    EXPECT_NE(ComGetLastErrorText().find("cannot be loaded"), std::string::npos);

    void* handle = reinterpret_cast<void*>(1);
    EXPECT_EQ(ComLoadModule(registration.modulePath, &handle), CO_E_ERRORINDLL);
    EXPECT_EQ(handle, nullptr);
}
