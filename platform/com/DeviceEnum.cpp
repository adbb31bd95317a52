#include "platform/com/DeviceEnum.h"

#include <new>
#include <vector>

#include "platform/com/CEnumList.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/TaskAllocator.h"

namespace {

class CEntryPropertyBag final : public CUnknown, public IPropertyBag {
public:
    explicit CEntryPropertyBag(CategoryEntry entry)
        : CUnknown(u"Category entry properties", nullptr), entry(std::move(entry)) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IPropertyBag) {
            return GetInterface(static_cast<IPropertyBag*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (!name || !value) {
            return E_POINTER;
        }
        const std::u16string_view property(name);
        if (property == u"Merit") {
            if (value->vt != VT_EMPTY && value->vt != VT_I4 && value->vt != VT_UI4) {
                return DISP_E_TYPEMISMATCH;
            }
            const VARTYPE kind = value->vt == VT_EMPTY ? VT_I4 : value->vt;
            VariantClear(value);
            value->vt = kind;
            value->ulVal = entry.merit;
            return S_OK;
        }
        std::u16string text;
        if (property == u"FriendlyName") {
            text = entry.friendlyName;
        } else if (property == u"CLSID") {
            text = GuidToU16String(entry.clsid);
        } else if (property == u"DevicePath" && !entry.devicePath.empty()) {
            text = entry.devicePath;
        } else if (property == u"Description" && !entry.description.empty()) {
            text = entry.description;
        } else {
            return E_INVALIDARG;
        }
        if (value->vt != VT_EMPTY && value->vt != VT_BSTR) {
            return DISP_E_TYPEMISMATCH;
        }
        BSTR copy = SysAllocString(text.c_str());
        if (!copy) {
            return E_OUTOFMEMORY;
        }
        VariantClear(value);
        value->vt = VT_BSTR;
        value->bstrVal = copy;
        return S_OK;
    }

    HRESULT Write(LPCOLESTR, VARIANT*) override { return E_ACCESSDENIED; }

private:
    CategoryEntry entry;
};

std::u16string DisplayNameFor(const CategoryEntry& entry) {
    if (!entry.devicePath.empty()) {
        return u"@device:pnp:" + entry.devicePath;
    }
    return u"@device:sw:" + GuidToU16String(entry.category) + u"\\" + entry.instance;
}

class CEntryMoniker final : public CNamedMoniker {
public:
    explicit CEntryMoniker(CategoryEntry entry)
        : CNamedMoniker(u"Category entry moniker", DisplayNameFor(entry)),
          entry(std::move(entry)) {}

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (entry.create) {
            try {
                return entry.create(iid, object);
            } catch (...) {
                *object = nullptr;
                return E_FAIL;
            }
        }
        return CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
    }

    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (iid != IID_IPropertyBag && iid != IID_IUnknown) {
            return E_NOINTERFACE;
        }
        try {
            auto* bag = new CEntryPropertyBag(entry);
            bag->NonDelegatingAddRef();
            const HRESULT hr = bag->NonDelegatingQueryInterface(iid, object);
            bag->NonDelegatingRelease();
            return hr;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    CategoryEntry entry;
};

using CEnumEntries =
    CEnumList<IEnumMoniker, CSnapshotSource<CategoryEntry, IMoniker*, CreateCategoryEntryMoniker>>;

class CSystemDeviceEnum final : public CUnknown, public ICreateDevEnum {
public:
    CSystemDeviceEnum() : CUnknown(u"System device enumerator", nullptr) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_ICreateDevEnum) {
            return GetInterface(static_cast<ICreateDevEnum*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD) override {
        if (!enumerator) {
            return E_POINTER;
        }
        *enumerator = nullptr;
        std::vector<CategoryEntry> entries;
        const HRESULT hr = ComponentRegistry::EnumerateCategory(category, &entries);
        if (FAILED(hr)) {
            return hr;
        }
        if (entries.empty()) {
            return S_FALSE;
        }
        return CEnumEntries::Create(u"Category enumerator",
                                    CEnumEntries::ItemSource(std::move(entries)), enumerator);
    }
};

// The enumerator's class factory: a single object that lives for the whole process.
class CSystemDeviceEnumFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        try {
            auto* created = new CSystemDeviceEnum();
            created->NonDelegatingAddRef();
            const HRESULT hr = created->NonDelegatingQueryInterface(iid, object);
            created->NonDelegatingRelease();
            return hr;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

}  // namespace

HRESULT CreateCategoryEntryMoniker(const CategoryEntry& entry, IMoniker** moniker) {
    if (!moniker) {
        return E_POINTER;
    }
    *moniker = nullptr;
    try {
        auto* created = new CEntryMoniker(entry);
        return created->NonDelegatingQueryInterface(IID_IMoniker,
                                                    reinterpret_cast<void**>(moniker));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT GetSystemDeviceEnumClassObject(REFIID iid, void** object) {
    static CSystemDeviceEnumFactory factory;
    return factory.QueryInterface(iid, object);
}

namespace {

std::u16string ReadBagString(IPropertyBag* bag, const char16_t* name) {
    VARIANT value;
    VariantInit(&value);
    std::u16string text;
    if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR &&
        value.bstrVal != nullptr) {
        text = value.bstrVal;
    }
    VariantClear(&value);
    return text;
}

}  // namespace

std::vector<DeviceEntry> ListDevices(REFCLSID category) {
    std::vector<DeviceEntry> devices;
    ComPtr<ICreateDevEnum> enumerator;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, enumerator.GetVoidAddressOf()))) {
        return devices;
    }
    ComPtr<IEnumMoniker> monikers;
    if (enumerator->CreateClassEnumerator(category, monikers.GetAddressOf(), 0) != S_OK) {
        return devices;
    }
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.GetAddressOf(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                          bag.GetVoidAddressOf()))) {
            continue;
        }
        devices.push_back({ReadBagString(bag.Get(), u"FriendlyName"),
                           ReadBagString(bag.Get(), u"DevicePath"),
                           ReadBagString(bag.Get(), u"Description"), moniker});
    }
    return devices;
}
