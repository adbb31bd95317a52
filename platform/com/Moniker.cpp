#include "platform/com/Moniker.h"

#include <new>

#include "platform/com/RunningObjectTable.h"
#include "platform/com/TaskAllocator.h"

namespace {

inline constexpr DWORD kMonikerKindItem = 4;  // MKSYS_ITEMMONIKER

class CItemMoniker final : public CNamedMoniker {
public:
    explicit CItemMoniker(std::u16string name) : CNamedMoniker(u"Item moniker", std::move(name)) {}

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        ComPtr<IRunningObjectTable> table;
        HRESULT hr = GetRunningObjectTable(0, table.GetAddressOf());
        if (FAILED(hr)) {
            return hr;
        }
        ComPtr<IUnknown> running;
        hr = table->GetObject(this, running.GetAddressOf());
        if (FAILED(hr)) {
            return hr;
        }
        return running->QueryInterface(iid, object);
    }

    HRESULT IsSystemMoniker(DWORD* kind) override {
        if (!kind) {
            return E_POINTER;
        }
        *kind = kMonikerKindItem;
        return S_OK;
    }
};

}  // namespace

CNamedMoniker::CNamedMoniker(const char16_t* objectName, std::u16string displayName)
    : CUnknown(objectName, nullptr), displayName(std::move(displayName)) {}

HRESULT CNamedMoniker::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IMoniker || iid == IID_IPersistStream || iid == IID_IPersist) {
        return GetInterface(static_cast<IMoniker*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CNamedMoniker::GetClassID(CLSID* classId) {
    if (!classId) {
        return E_POINTER;
    }
    *classId = GUID_NULL;
    return E_NOTIMPL;
}

HRESULT CNamedMoniker::BindToObject(IBindCtx*, IMoniker*, REFIID, void** object) {
    if (object) {
        *object = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT CNamedMoniker::BindToStorage(IBindCtx*, IMoniker*, REFIID, void** object) {
    if (object) {
        *object = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT CNamedMoniker::Enum(BOOL, IEnumMoniker** enumerator) {
    if (!enumerator) {
        return E_POINTER;
    }
    *enumerator = nullptr;  // a simple moniker has no parts
    return S_OK;
}

HRESULT CNamedMoniker::IsEqual(IMoniker* other) {
    if (!other) {
        return E_INVALIDARG;
    }
    LPOLESTR otherName = nullptr;
    if (FAILED(other->GetDisplayName(nullptr, nullptr, &otherName)) || !otherName) {
        return S_FALSE;
    }
    const bool equal = displayName == otherName;
    CoTaskMemFree(otherName);
    return equal ? S_OK : S_FALSE;
}

HRESULT CNamedMoniker::Hash(DWORD* hash) {
    if (!hash) {
        return E_POINTER;
    }
    DWORD value = 0;
    for (char16_t unit : displayName) {
        value = value * 31 + unit;
    }
    *hash = value;
    return S_OK;
}

HRESULT CNamedMoniker::IsRunning(IBindCtx*, IMoniker*, IMoniker*) {
    ComPtr<IRunningObjectTable> table;
    HRESULT hr = GetRunningObjectTable(0, table.GetAddressOf());
    if (FAILED(hr)) {
        return hr;
    }
    return table->IsRunning(this);
}

HRESULT CNamedMoniker::GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) {
    if (!name) {
        return E_POINTER;
    }
    *name = CoTaskMemStrDup(displayName);
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT CNamedMoniker::IsSystemMoniker(DWORD* kind) {
    if (!kind) {
        return E_POINTER;
    }
    *kind = 0;
    return S_FALSE;
}

HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** moniker) {
    if (!moniker) {
        return E_POINTER;
    }
    *moniker = nullptr;
    try {
        std::u16string name = delimiter ? delimiter : u"";
        name += item ? item : u"";
        auto* created = new CItemMoniker(std::move(name));
        return created->NonDelegatingQueryInterface(IID_IMoniker,
                                                    reinterpret_cast<void**>(moniker));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
