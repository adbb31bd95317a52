#include "platform/bda/BdaDevices.h"

#include <filesystem>
#include <mutex>
#include <vector>

#include "core/CodePage.h"
#include "platform/bda/BdaCaptureFilter.h"
#include "platform/bda/BdaNetworkProvider.h"
#include "platform/bda/BdaTunerFilter.h"
#include "platform/bda/BdaTuningModel.h"
#include "platform/bda/DvbDevice.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/ComponentRegistry.h"

// Referenced from the link line of everything that links the library, so that this file (and
// its start-up registration) is always part of the program.
extern "C" {
int OrvBdaBuiltinAnchor = 0;
}

namespace {

constexpr char16_t kNetworkProviderName[] = u"Microsoft DVBT Network Provider";
constexpr char16_t kTransportInformationName[] = u"BDA MPEG2 Transport Information Filter";

const CFactoryTemplate kClasses[] = {
    {kNetworkProviderName, &CLSID_DVBTNetworkProvider, CBdaNetworkProvider::CreateInstance, nullptr,
     nullptr},
    {kTransportInformationName, &CLSID_BDA_MPEG2TransportInformationFilter,
     CreateBdaTransportInformationFilter, nullptr, nullptr},
    {u"DVB-T locator", &CLSID_DVBTLocator, CDvbtLocator::CreateInstance, nullptr, nullptr},
};

std::string EscapedRoot() {
    std::string escaped;
    for (const char c : DvbRoot()) {
        if (c == '#') {
            escaped += "%23";
        } else if (c == '%') {
            escaped += "%25";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::u16string AdapterPrefix(int adapter) {
    const std::string number = std::to_string(adapter);
    return Utf8ToUtf16("dvb#" + EscapedRoot() + "/adapter" + number + "#" + number + "#");
}

std::u16string SystemsText(const DvbFrontendInfo& info) {
    std::string text;
    for (const DvbSystem system : info.systems) {
        text += (text.empty() ? "" : "/") + std::string(DvbSystemName(system));
    }
    return Utf8ToUtf16(text.empty() ? "DVB" : text);
}

void ListTuners(std::vector<CategoryEntry>* entries) {
    for (const DvbFrontendInfo& info : DvbEnumerateFrontends()) {
        CategoryEntry entry;
        entry.category = KSCATEGORY_BDA_NETWORK_TUNER;
        entry.clsid = CLSID_BdaTunerDevice;
        entry.devicePath = BdaTunerDevicePath(info.adapter, info.frontend);
        entry.instance = entry.devicePath;
        entry.friendlyName = Utf8ToUtf16(info.name);
        entry.description = SystemsText(info) + u" tuner, frontend " +
                            Utf8ToUtf16(std::to_string(info.frontend)) + u" of DVB adapter " +
                            Utf8ToUtf16(std::to_string(info.adapter));
        entry.merit = MERIT_DO_NOT_USE;
        const int adapter = info.adapter;
        const int frontend = info.frontend;
        entry.create = [adapter, frontend](REFIID iid, void** object) {
            return CBdaTunerFilter::Create(adapter, frontend, iid, object);
        };
        entries->push_back(std::move(entry));
    }
}

void ListCaptures(std::vector<CategoryEntry>* entries) {
    int lastAdapter = -1;
    for (const DvbFrontendInfo& info : DvbEnumerateFrontends()) {
        // One capture per adapter, named after its first frontend.
        std::error_code failure;
        if (info.adapter == lastAdapter ||
            !std::filesystem::exists(DvbDvrPath(info.adapter), failure)) {
            continue;
        }
        lastAdapter = info.adapter;
        CategoryEntry entry;
        entry.category = KSCATEGORY_BDA_RECEIVER_COMPONENT;
        entry.clsid = CLSID_BdaCaptureDevice;
        entry.devicePath = BdaCaptureDevicePath(info.adapter);
        entry.instance = entry.devicePath;
        entry.friendlyName = Utf8ToUtf16(info.name) + u" Capture";
        entry.description =
            u"Transport stream of DVB adapter " + Utf8ToUtf16(std::to_string(info.adapter));
        entry.merit = MERIT_DO_NOT_USE;
        const int adapter = info.adapter;
        entry.create = [adapter](REFIID iid, void** object) {
            return CBdaCaptureFilter::Create(adapter, iid, object);
        };
        entries->push_back(std::move(entry));
    }
}

CategoryEntry BuiltinEntry(REFCLSID category, const CFactoryTemplate& factoryTemplate) {
    CategoryEntry entry;
    entry.category = category;
    entry.clsid = *factoryTemplate.m_ClsID;
    entry.instance = GuidToU16String(entry.clsid);
    entry.friendlyName = factoryTemplate.m_Name;
    entry.merit = MERIT_DO_NOT_USE;
    return entry;
}

struct Registration {
    Registration() { BdaRegisterBuiltins(); }
};
const Registration registerAtStart;

}  // namespace

std::u16string BdaTunerDevicePath(int adapter, int frontend) {
    return AdapterPrefix(adapter) + u"frontend" + Utf8ToUtf16(std::to_string(frontend));
}

std::u16string BdaCaptureDevicePath(int adapter) {
    return AdapterPrefix(adapter) + u"dvr0";
}

HRESULT BdaCreateTunerFilter(int adapter, int frontend, IBaseFilter** filter) {
    try {
        return CBdaTunerFilter::Create(adapter, frontend, IID_IBaseFilter,
                                       reinterpret_cast<void**>(filter));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT BdaCreateCaptureFilter(int adapter, IBaseFilter** filter) {
    try {
        return CBdaCaptureFilter::Create(adapter, IID_IBaseFilter,
                                         reinterpret_cast<void**>(filter));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT BdaRegisterBuiltins() {
    static std::once_flag once;
    static HRESULT result = S_OK;
    std::call_once(once, [] {
        for (const CFactoryTemplate& factoryTemplate : kClasses) {
            // The runtime keeps the factory for as long as the class is registered.
            auto* factory = new CClassFactory(&factoryTemplate);
            factory->AddRef();
            DWORD cookie = 0;
            const HRESULT hr =
                CoRegisterClassObject(*factoryTemplate.m_ClsID, factory, CLSCTX_INPROC_SERVER,
                                      REGCLS_MULTIPLEUSE, &cookie);
            factory->Release();
            if (FAILED(hr)) {
                result = hr;
            }
        }
        ComponentRegistry::RegisterBuiltinEntry(
            BuiltinEntry(KSCATEGORY_BDA_NETWORK_PROVIDER, kClasses[0]));
        ComponentRegistry::RegisterBuiltinEntry(
            BuiltinEntry(KSCATEGORY_BDA_TRANSPORT_INFORMATION, kClasses[1]));
        ComponentRegistry::AddCategoryProvider(KSCATEGORY_BDA_NETWORK_TUNER, ListTuners);
        ComponentRegistry::AddCategoryProvider(KSCATEGORY_BDA_RECEIVER_COMPONENT, ListCaptures);
    });
    return result;
}
