// A module file for the tests: one counter class registered as a filter, one page class.
#include <atomic>

#include "platform/com/ClassFactory.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/com/ModuleExports.h"
#include "platform/com/tests/ComTestModule.h"

namespace {

std::atomic<int> attachCount{0};

class CComTestCounter final : public CUnknown, public IComTestCounter {
public:
    explicit CComTestCounter(IUnknown* outer) : CUnknown(u"Test counter", outer) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IComTestCounter) {
            return GetInterface(static_cast<IComTestCounter*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }

    LONG Increment() override { return ++count; }
    LONG ModuleObjects() override { return CBaseObject::ObjectsActive(); }

    static CUnknown* Create(IUnknown* outer, HRESULT*) { return new CComTestCounter(outer); }

private:
    LONG count = 0;
};

class CComTestPage final : public CUnknown {
public:
    CComTestPage() : CUnknown(u"Test page", nullptr) {}
    static CUnknown* Create(IUnknown*, HRESULT*) { return new CComTestPage(); }
};

const RegFilter kCounterFilter{CLSID_ComTestCounter,
                               kComTestFilterName,
                               MERIT_NORMAL,
                               {RegPin{u"In", false, false, false, false, {RegPinType{}}},
                                RegPin{u"Out", true, false, false, false, {RegPinType{}}}}};

const CFactoryTemplate kTemplates[] = {
    {kComTestFilterName, &CLSID_ComTestCounter, CComTestCounter::Create, nullptr, &kCounterFilter},
    {u"Orvanta Test Page", &CLSID_ComTestPage, CComTestPage::Create, nullptr, nullptr},
};
constexpr int kTemplateCount = sizeof(kTemplates) / sizeof(kTemplates[0]);

__attribute__((constructor)) void OnAttach() {
    attachCount.fetch_add(1);
    ComModuleAttach(kTemplates, kTemplateCount);
}

}  // namespace

ORV_MODULE_EXPORT int ComTestAttachCount() {
    return attachCount.load();
}

HRESULT DllRegisterServer() {
    return ComModuleRegisterServer(kTemplates, kTemplateCount, true);
}

HRESULT DllUnregisterServer() {
    return ComModuleRegisterServer(kTemplates, kTemplateCount, false);
}

HRESULT DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    return ComModuleGetClassObject(kTemplates, kTemplateCount, classId, iid, object);
}

HRESULT DllCanUnloadNow() {
    return ComModuleCanUnloadNow();
}
