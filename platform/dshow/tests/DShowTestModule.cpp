// A module file with one media-graph filter, built on its own copy of the base classes.
#include <cstring>

#include "platform/com/ClassFactory.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/com/ModuleExports.h"
#include "platform/dshow/CTransInPlaceFilter.h"
#include "platform/dshow/tests/DShowTestModule.h"

namespace {

class CModuleTransform final : public CTransInPlaceFilter {
public:
    explicit CModuleTransform(IUnknown* outer)
        : CTransInPlaceFilter(u"Module transform", outer, CLSID_DShowTestModuleFilter, nullptr) {}

    HRESULT CheckInputType(const CMediaType* type) override {
        return *type->Type() == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT Transform(IMediaSample* sample) override {
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data)) ||
            sample->GetActualDataLength() < static_cast<LONG>(sizeof(int32_t))) {
            return S_OK;
        }
        int32_t value;
        std::memcpy(&value, data, sizeof(value));
        value += 2000;
        std::memcpy(data, &value, sizeof(value));
        return S_OK;
    }

    static CUnknown* Create(IUnknown* outer, HRESULT*) { return new CModuleTransform(outer); }
};

const RegFilter kFilter{
    CLSID_DShowTestModuleFilter,
    kDShowTestModuleFilterName,
    MERIT_DO_NOT_USE,
    {RegPin{u"In", false, false, false, false, {RegPinType{MEDIATYPE_Stream, GUID_NULL}}},
     RegPin{u"Out", true, false, false, false, {RegPinType{MEDIATYPE_Stream, GUID_NULL}}}}};

const CFactoryTemplate kTemplates[] = {
    {kDShowTestModuleFilterName, &CLSID_DShowTestModuleFilter, CModuleTransform::Create, nullptr,
     &kFilter},
};

}  // namespace

HRESULT DllRegisterServer() {
    return ComModuleRegisterServer(kTemplates, 1, true);
}

HRESULT DllUnregisterServer() {
    return ComModuleRegisterServer(kTemplates, 1, false);
}

HRESULT DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    return ComModuleGetClassObject(kTemplates, 1, classId, iid, object);
}

HRESULT DllCanUnloadNow() {
    return ComModuleCanUnloadNow();
}
