// Streva.ax and Tunova.ax as the application meets them: registered, created by class
// identifier, with their private interfaces, version pages and pins.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/DShowInterfaces.h"
#include "sources/IQVBonSource.h"
#include "sources/IQVTSSource.h"
#include "streamfw/ICModuleTables.h"

namespace {

TEST(SourceModuleTest, BothModulesRegisterAndCreateTheirFilters) {
    const std::string folder = std::filesystem::temp_directory_path() / "orv-sources-module-test";
    std::filesystem::create_directories(folder);
    ::setenv("ORVANTA_REGISTRY", (folder + "/registry.json").c_str(), 1);
    const struct {
        const char* path;
        CLSID filter;
        CLSID page;
        const IID* privateIid;
        int pins;
    } modules[] = {
        {ORV_STREVA_MODULE, CLSID_QVTSSource, CLSID_QVTSSourceVersionPage, &IID_IQVTSSource, 2},
        {ORV_TUNOVA_MODULE, CLSID_QVBonSource, CLSID_QVBonSourceVersionPage, &IID_IQVBonSource, 1},
    };
    for (const auto& module : modules) {
        void* handle = nullptr;
        ASSERT_EQ(ComLoadModule(module.path, &handle), S_OK) << module.path;
        using RegisterFunction = HRESULT (*)();
        auto registerServer =
            reinterpret_cast<RegisterFunction>(ComGetModuleExport(handle, "DllRegisterServer"));
        ASSERT_NE(registerServer, nullptr);
        ASSERT_EQ(registerServer(), S_OK);

        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(CoCreateInstance(module.filter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   filter.GetVoidAddressOf()),
                  S_OK);
        ComPtr<IUnknown> privateInterface;
        EXPECT_EQ(filter->QueryInterface(*module.privateIid, privateInterface.GetVoidAddressOf()),
                  S_OK);
        ComPtr<IQVTSSource> source;
        EXPECT_EQ(filter.As(&source), S_OK);
        ComPtr<ISpecifyPropertyPages> pages;
        ASSERT_EQ(filter.As(&pages), S_OK);
        CAUUID list{};
        ASSERT_EQ(pages->GetPages(&list), S_OK);
        ASSERT_EQ(list.cElems, 1u);
        EXPECT_EQ(list.pElems[0], module.page);
        CoTaskMemFree(list.pElems);

        ComPtr<IPin> output;
        ASSERT_EQ(filter->FindPin(u"Out", output.GetAddressOf()), S_OK);
        ComPtr<IMediaSeeking> seeking;
        EXPECT_EQ(output.As(&seeking), S_OK);
        ComPtr<IPin> input;
        EXPECT_EQ(filter->FindPin(u"In", input.GetAddressOf()) == S_OK, module.pins == 2);

        // The driver's second interface is found across the two libraries.
        ComPtr<IQVBonSource> bon;
        if (filter.As(&bon) == S_OK) {
            ASSERT_EQ(bon->SetBonDriver(ORV_DEMO_BONDRIVER), 0u);
            ASSERT_NE(bon->GetTunerName(), nullptr);
            EXPECT_EQ(std::u16string(bon->EnumTuningSpace(0)), u"UHF");
        }
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
