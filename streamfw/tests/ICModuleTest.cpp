// The modules' registration and entry points, through a module file built like the real ones:
// registered into a temporary registry, created by class identifier through the registry and
// the module loader.
#include "streamfw/ICModule.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/ICUiThread.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/ControlInterfaces.h"
#include "streamfw/IPageDialog.h"
#include "streamfw/tests/StreamTestFilters.h"
#include "streamfw/tests/StreamTestModule.h"

using namespace streamtest;

namespace {

// The registry in a fresh temporary folder for one test.
class TemporaryRegistryFolder {
public:
    TemporaryRegistryFolder() {
        std::string pattern = std::filesystem::temp_directory_path() / "orv-streamfw-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            folder = pattern;
        }
        ::setenv("ORVANTA_REGISTRY", (folder + "/registry.json").c_str(), 1);
    }
    ~TemporaryRegistryFolder() {
        ::unsetenv("ORVANTA_REGISTRY");
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    TemporaryRegistryFolder(const TemporaryRegistryFolder&) = delete;
    TemporaryRegistryFolder& operator=(const TemporaryRegistryFolder&) = delete;

    std::string folder;
};

std::u16string TakeText(LPOLESTR text) {
    std::u16string copy = text != nullptr ? std::u16string(text) : std::u16string();
    CoTaskMemFree(text);
    return copy;
}

class ModuleFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ComLoadModule(ORV_STREAM_TEST_MODULE, &module), S_OK);
        registerServer = reinterpret_cast<DllRegisterServerFunction>(
            ComGetModuleExport(module, "DllRegisterServer"));
        unregisterServer = reinterpret_cast<DllUnregisterServerFunction>(
            ComGetModuleExport(module, "DllUnregisterServer"));
        canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(
            ComGetModuleExport(module, "DllCanUnloadNow"));
        ASSERT_NE(registerServer, nullptr);
        ASSERT_NE(unregisterServer, nullptr);
        ASSERT_NE(canUnloadNow, nullptr);
        ASSERT_NE(ComGetModuleExport(module, "DllGetClassObject"), nullptr);
    }

    void TearDown() override {
        EXPECT_EQ(canUnloadNow(), S_OK);  // every object of the module is gone
    }

    std::vector<CategoryEntry> FiltersNamed(const std::u16string& name) {
        std::vector<CategoryEntry> entries;
        ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &entries);
        std::vector<CategoryEntry> found;
        for (const CategoryEntry& entry : entries) {
            if (entry.friendlyName == name) {
                found.push_back(entry);
            }
        }
        return found;
    }

    TemporaryRegistryFolder registry;
    void* module = nullptr;
    DllRegisterServerFunction registerServer = nullptr;
    DllUnregisterServerFunction unregisterServer = nullptr;
    DllCanUnloadNowFunction canUnloadNow = nullptr;
};

}  // namespace

TEST(ICModuleTables, TheFourModulesRegisterTheirNamesIdentifiersAndPins) {
    EXPECT_EQ(GuidToString(kICModuleSIAnalyzer.filterClsid),
              "{CC7FC4B9-6322-4760-9DC8-AA8FA52DE37D}");
    EXPECT_EQ(GuidToString(kICModuleSIAnalyzer.pageClsid),
              "{2F374380-3504-4B72-AB77-D962712D1842}");
    EXPECT_EQ(GuidToString(kICModuleTSSource.filterClsid),
              "{FB2E90B5-D75A-4630-90CF-E42E34797917}");
    EXPECT_EQ(GuidToString(kICModuleTSSource.pageClsid), "{10E6EA1B-F289-4083-969E-801F8FED4A55}");
    EXPECT_EQ(GuidToString(kICModuleBonSource.filterClsid),
              "{EFB22758-CFF9-4D96-8030-3F6041C913EC}");
    EXPECT_EQ(GuidToString(kICModuleBonSource.pageClsid), "{64A988B2-4D66-4975-84C8-992C611D8BE7}");
    EXPECT_EQ(GuidToString(kICModuleCaption.filterClsid), "{48B28034-5675-4E6D-B72F-00EF231B396F}");
    EXPECT_EQ(GuidToString(kICModuleCaption.pageClsid), "{F86EBCDC-C57C-4749-9D12-DD5182FD5A45}");
    EXPECT_EQ(std::u16string(kICModuleBonSource.pageName), u"QV Bon Source Version");

    RegFilter analyzer = ICModuleRegFilter(kICModuleSIAnalyzer);
    EXPECT_EQ(analyzer.name, u"QV SI Analyzer");
    EXPECT_EQ(analyzer.merit, 0x00200000u);
    ASSERT_EQ(analyzer.pins.size(), 2u);
    EXPECT_EQ(analyzer.pins[0].name, u"In");
    EXPECT_FALSE(analyzer.pins[0].output);
    EXPECT_EQ(analyzer.pins[0].mediaTypes[0].majorType, GUID_NULL);
    EXPECT_TRUE(analyzer.pins[1].output);

    RegFilter source = ICModuleRegFilter(kICModuleTSSource);
    ASSERT_EQ(source.pins.size(), 2u);
    ASSERT_EQ(source.pins[0].mediaTypes.size(), 2u);
    EXPECT_EQ(source.pins[0].mediaTypes[1].subType, KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT);
    EXPECT_EQ(source.pins[1].mediaTypes[0].subType, MEDIASUBTYPE_MPEG2_TRANSPORT);

    RegFilter tuner = ICModuleRegFilter(kICModuleBonSource);
    ASSERT_EQ(tuner.pins.size(), 1u);
    EXPECT_EQ(tuner.pins[0].name, u"Out");
    EXPECT_TRUE(tuner.pins[0].output);
    for (const RegPin& pin : source.pins) {
        EXPECT_FALSE(pin.rendered || pin.zero || pin.many);
    }
}

TEST_F(ModuleFile, RegisteringTwiceLeavesOneRegistrationAndUnregisteringRemovesBoth) {
    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(registerServer(), S_OK);
    ClassRegistration filterClass;
    ClassRegistration pageClass;
    ASSERT_EQ(ComponentRegistry::FindClass(CLSID_StreamTestFilter, &filterClass), S_OK);
    ASSERT_EQ(ComponentRegistry::FindClass(CLSID_StreamTestFilterVersionPage, &pageClass), S_OK);
    EXPECT_EQ(std::filesystem::path(filterClass.modulePath).filename(), "StreamTestModule.ax");
    EXPECT_EQ(pageClass.modulePath, filterClass.modulePath);
    EXPECT_EQ(pageClass.name, u"QV Test Filter Version");

    std::vector<CategoryEntry> filters = FiltersNamed(u"QV Test Filter");
    ASSERT_EQ(filters.size(), 1u);
    EXPECT_EQ(filters[0].clsid, CLSID_StreamTestFilter);
    EXPECT_EQ(filters[0].merit, kICModuleMerit);
    ASSERT_EQ(filters[0].pins.size(), 2u);
    EXPECT_EQ(filters[0].pins[0].mediaTypes.size(), 2u);
    // The page is a class, not a filter.
    EXPECT_TRUE(FiltersNamed(u"QV Test Filter Version").empty());

    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(ComponentRegistry::FindClass(CLSID_StreamTestFilter, &filterClass),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ComponentRegistry::FindClass(CLSID_StreamTestFilterVersionPage, &pageClass),
              REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(FiltersNamed(u"QV Test Filter").empty());
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CoCreateInstance(CLSID_StreamTestFilter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, filter.GetVoidAddressOf()),
              REGDB_E_CLASSNOTREG);
}

TEST_F(ModuleFile, TheFilterCreatedByClassIdentifierRunsInAGraph) {
    ASSERT_EQ(registerServer(), S_OK);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(CLSID_StreamTestFilter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, filter.GetVoidAddressOf()),
              S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ComPtr<IStreamTestFilter> control;
    ASSERT_EQ(filter.As(&control), S_OK);
    CLSID classId{};
    filter->GetClassID(&classId);
    EXPECT_EQ(classId, CLSID_StreamTestFilter);

    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.GetVoidAddressOf()),
                  S_OK);
        ComPtr<IMediaControl> media;
        ASSERT_EQ(graph.As(&media), S_OK);
        auto* source = new PushSource();
        ComPtr<IBaseFilter> sourceFilter = Hold(source);
        auto* sink = new RecordingSink();
        ComPtr<IBaseFilter> sinkFilter = Hold(sink);
        ASSERT_EQ(graph->AddFilter(sourceFilter.Get(), u"Source"), S_OK);
        ASSERT_EQ(graph->AddFilter(filter.Get(), u"QV Test Filter"), S_OK);
        ASSERT_EQ(graph->AddFilter(sinkFilter.Get(), u"Sink"), S_OK);
        ComPtr<IPin> input;
        ComPtr<IPin> output;
        ASSERT_EQ(filter->FindPin(u"In", input.GetAddressOf()), S_OK);
        ASSERT_EQ(filter->FindPin(u"Out", output.GetAddressOf()), S_OK);
        CMediaType type = TransportStreamType();
        ASSERT_EQ(graph->ConnectDirect(source->pin, input.Get(), &type), S_OK);
        ASSERT_EQ(graph->ConnectDirect(output.Get(), sink->pin, &type), S_OK);
        ASSERT_TRUE(SUCCEEDED(media->Run()));
        for (int32_t i = 0; i < 100; ++i) {
            ASSERT_EQ(source->PushNumbered(i), S_OK);
        }
        ASSERT_TRUE(sink->WaitForCount(100));
        std::vector<int32_t> expected;
        for (int32_t i = 0; i < 100; ++i) {
            expected.push_back(i);
        }
        EXPECT_EQ(sink->Sequences(), expected);
        EXPECT_EQ(control->GetProcessedCount(), 100);
        ASSERT_TRUE(SUCCEEDED(media->Stop()));
    }
    control.Reset();
    filter.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ModuleFile, TheVersionPageShowsTheVersionWithOrWithoutItsObject) {
    ASSERT_EQ(registerServer(), S_OK);
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(CoCreateInstance(CLSID_StreamTestFilterVersionPage, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IPropertyPage, page.GetVoidAddressOf()),
              S_OK);
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(TakeText(info.pszTitle), u"Version");
    ComPtr<IPageDialog> dialog;
    ASSERT_EQ(page.As(&dialog), S_OK);
    EXPECT_EQ(dialog->GetDialogResource(), 101);
    ASSERT_EQ(dialog->GetItemCount(), 4);
    LONG id = -1;
    LPOLESTR text = nullptr;
    ASSERT_EQ(dialog->GetItem(0, &id, &text), S_OK);
    EXPECT_EQ(TakeText(text), u"QV Test Filter");
    EXPECT_EQ(dialog->GetItem(4, &id, &text), E_INVALIDARG);

    // A page whose object lacks the private interface still shows the version.
    auto* stranger = new PushSource();
    ComPtr<IBaseFilter> strangerFilter = Hold(stranger);
    IUnknown* objects[] = {strangerFilter.Get()};
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);
    ASSERT_EQ(page->Activate(nullptr, nullptr, FALSE), S_OK);
    ASSERT_EQ(dialog->GetControlText(1012, &text), S_OK);
    EXPECT_EQ(TakeText(text), u"Version 1.51.0010.0");
    ASSERT_EQ(page->Deactivate(), S_OK);

    // Connected to its filter it holds the filter's private interface until disconnected.
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(CLSID_StreamTestFilter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, filter.GetVoidAddressOf()),
              S_OK);
    objects[0] = filter.Get();
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);
    ASSERT_EQ(page->Activate(nullptr, nullptr, FALSE), S_OK);
    ASSERT_EQ(dialog->GetControlText(1012, &text), S_OK);
    EXPECT_EQ(TakeText(text), u"Version 1.51.0010.0");
    ASSERT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    dialog.Reset();
    page.Reset();
    filter.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ModuleFile, LoadingRecordsTheLoadingThreadAsTheUserInterfaceThread) {
    using UiThreadFunction = uint32_t (*)();
    auto uiThread =
        reinterpret_cast<UiThreadFunction>(ComGetModuleExport(module, "StreamTestModuleUiThread"));
    ASSERT_NE(uiThread, nullptr);
    // The module was first loaded by this (the test's main) thread.
    EXPECT_EQ(uiThread(), ICGetCurrentThreadId());
}

TEST_F(ModuleFile, CreationFailsCleanlyForUnregisteredMissingBrokenAndFactorylessModules) {
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(CLSID_StreamTestUnregistered, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, object.GetVoidAddressOf()),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(MakeHResult(0x80040154), REGDB_E_CLASSNOTREG);

    // A module without DllGetClassObject.
    void* noFactory = nullptr;
    ASSERT_EQ(ComLoadModule(ORV_STREAM_TEST_NO_FACTORY_MODULE, &noFactory), S_OK);
    auto registerNoFactory = reinterpret_cast<DllRegisterServerFunction>(
        ComGetModuleExport(noFactory, "DllRegisterServer"));
    ASSERT_NE(registerNoFactory, nullptr);
    ASSERT_EQ(registerNoFactory(), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_StreamTestNoFactory, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, object.GetVoidAddressOf()),
              CO_E_ERRORINDLL);
    EXPECT_FALSE(ComGetLastErrorText().empty());
    EXPECT_EQ(object.Get(), nullptr);

    // A module file that is not a shared library.
    std::string broken = registry.folder + "/Broken.ax";
    std::ofstream(broken) << "not a shared library";
    ClassRegistration registration;
    registration.clsid = CLSID_StreamTestBroken;
    registration.name = u"Broken";
    registration.modulePath = broken;
    ASSERT_EQ(ComponentRegistry::RegisterClass(registration), S_OK);
    HRESULT hr = CoCreateInstance(CLSID_StreamTestBroken, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IUnknown, object.GetVoidAddressOf());
    EXPECT_TRUE(FAILED(hr));
    EXPECT_FALSE(ComGetLastErrorText().empty());

    // A module file that is gone.
    registration.modulePath = registry.folder + "/Missing.ax";
    ASSERT_EQ(ComponentRegistry::RegisterClass(registration), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_StreamTestBroken, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               object.GetVoidAddressOf()),
              CO_E_DLLNOTFOUND);
    EXPECT_EQ(object.Get(), nullptr);
}

TEST_F(ModuleFile, TheClassFactoryAnswersOnlyItsTwoClasses) {
    auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
        ComGetModuleExport(module, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(
        getClassObject(CLSID_StreamTestUnregistered, IID_IClassFactory, factory.GetVoidAddressOf()),
        CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClassObject(CLSID_StreamTestFilterVersionPage, IID_IClassFactory,
                             factory.GetVoidAddressOf()),
              S_OK);
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, page.GetVoidAddressOf()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    page.Reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // locked
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
}
