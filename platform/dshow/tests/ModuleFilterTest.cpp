// A filter from a module file, created by class identifier, in a graph of this program.
#include <gtest/gtest.h>

#include "platform/com/ComRuntime.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/com/tests/TemporaryRegistry.h"
#include "platform/dshow/tests/DShowTestModule.h"
#include "platform/dshow/tests/TestFilters.h"

using namespace testfilters;

TEST(ModuleFilter, RunsInAGraphAndLetsTheModuleGo) {
    TemporaryRegistry registry;
    void* module = nullptr;
    ASSERT_EQ(ComLoadModule(ORV_DSHOW_TEST_MODULE, &module), S_OK);
    auto registerServer = reinterpret_cast<DllRegisterServerFunction>(
        ComGetModuleExport(module, "DllRegisterServer"));
    auto canUnload =
        reinterpret_cast<DllCanUnloadNowFunction>(ComGetModuleExport(module, "DllCanUnloadNow"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_NE(canUnload, nullptr);
    ASSERT_EQ(registerServer(), S_OK);
    std::vector<CategoryEntry> filters;
    ASSERT_EQ(ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &filters), S_OK);
    ASSERT_EQ(filters.size(), 1u);
    EXPECT_EQ(filters[0].friendlyName, kDShowTestModuleFilterName);

    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.GetVoidAddressOf()),
                  S_OK);
        ComPtr<IBaseFilter> transform;
        ASSERT_EQ(CoCreateInstance(CLSID_DShowTestModuleFilter, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, transform.GetVoidAddressOf()),
                  S_OK);
        EXPECT_EQ(canUnload(), S_FALSE);
        ComPtr<IBaseFilter> source = Hold(new TestSource(6, kMs));
        auto* sink = new TestSink();
        ComPtr<IBaseFilter> sinkFilter = Hold(sink);
        ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
        ASSERT_EQ(graph->AddFilter(transform.Get(), kDShowTestModuleFilterName), S_OK);
        ASSERT_EQ(graph->AddFilter(sinkFilter.Get(), u"Sink"), S_OK);
        ASSERT_EQ(graph->ConnectDirect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                                       PinOf(transform.Get(), PINDIR_INPUT).Get(), nullptr),
                  S_OK);
        ASSERT_EQ(graph->ConnectDirect(PinOf(transform.Get(), PINDIR_OUTPUT).Get(),
                                       PinOf(sinkFilter.Get(), PINDIR_INPUT).Get(), nullptr),
                  S_OK);
        ComPtr<IMediaControl> control;
        ComPtr<IMediaEvent> events;
        ASSERT_EQ(graph.As(&control), S_OK);
        ASSERT_EQ(graph.As(&events), S_OK);
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        LONG code = 0;
        LONG_PTR param1;
        LONG_PTR param2;
        while (SUCCEEDED(events->GetEvent(&code, &param1, &param2, 5000)) && code != EC_COMPLETE) {
        }
        EXPECT_EQ(code, EC_COMPLETE);
        EXPECT_EQ(sink->Rendered(), (std::vector<int32_t>{2000, 2001, 2002, 2003, 2004, 2005}));
        control->Stop();
    }
    // With the graph gone nothing of the module is alive.
    EXPECT_EQ(canUnload(), S_OK);
    auto unregisterServer = reinterpret_cast<DllUnregisterServerFunction>(
        ComGetModuleExport(module, "DllUnregisterServer"));
    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &filters),
              S_FALSE);
    EXPECT_EQ(ComUnloadModule(module), S_OK);
}
