#include "streamfw/ICVersionPage.h"

#include <cstdio>
#include <new>

#include "platform/com/TaskAllocator.h"

namespace {

constexpr char16_t kPageTitle[] = u"Version";
// The page's size in dialog units.
constexpr SIZE kPageSize{160, 80};

std::u16string Widen(const char* text) {
    std::u16string wide;
    for (const char* p = text; *p != '\0'; ++p) {
        wide.push_back(char16_t(static_cast<unsigned char>(*p)));
    }
    return wide;
}

HRESULT CopyOut(const std::u16string& text, LPOLESTR* out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = CoTaskMemStrDup(text);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

ICVersionPage::ICVersionPage(IUnknown* outer, const char16_t* filterName,
                             const IID* privateInterface)
    : CUnknown(u"ICVersionPage", outer), privateInterface(privateInterface) {
    // Top to bottom: the filter's name, an empty line, the version (filled in on activation)
    // and the maker line.
    items.push_back({0, filterName != nullptr ? filterName : u""});
    items.push_back({0, u""});
    items.push_back({kVersionControl, u""});
    items.push_back({0, u""});
}

ICVersionPage::~ICVersionPage() {
    if (connected != nullptr) {
        connected->Release();
    }
    if (site != nullptr) {
        site->Release();
    }
}

CUnknown* ICVersionPage::CreateInstance(IUnknown* outer, HRESULT* hr, const char16_t* filterName,
                                        const IID* privateInterface) {
    if (hr == nullptr) {
        return nullptr;
    }
    auto* page = new (std::nothrow) ICVersionPage(outer, filterName, privateInterface);
    if (page == nullptr) {
        *hr = E_OUTOFMEMORY;
    }
    return page;
}

std::u16string ICVersionPage::VersionText() {
    char text[64];
    std::snprintf(text, sizeof(text), "Version %d.%02X.%04X.%d", kVersionMajor, kVersionMinor,
                  kVersionBuild, kVersionRevision);
    return Widen(text);
}

HRESULT ICVersionPage::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IPropertyPage) {
        return GetInterface(static_cast<IPropertyPage*>(this), object);
    }
    if (iid == IID_IPageDialog) {
        return GetInterface(static_cast<IPageDialog*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

// --- IPropertyPage

HRESULT ICVersionPage::SetPageSite(IPropertyPageSite* newSite) {
    std::lock_guard lock(mutex);
    if (newSite != nullptr) {
        newSite->AddRef();
    }
    if (site != nullptr) {
        site->Release();
    }
    site = newSite;
    return S_OK;
}

HRESULT ICVersionPage::Activate(HWND, const RECT*, BOOL) {
    std::lock_guard lock(mutex);
    for (Item& item : items) {
        if (item.controlId == kVersionControl) {
            item.text = VersionText();
        }
    }
    active = true;
    return S_OK;
}

HRESULT ICVersionPage::Deactivate() {
    std::lock_guard lock(mutex);
    active = false;
    return S_OK;
}

HRESULT ICVersionPage::GetPageInfo(PROPPAGEINFO* info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    *info = PROPPAGEINFO{};
    info->cb = sizeof(PROPPAGEINFO);
    info->size = kPageSize;
    info->pszTitle = CoTaskMemStrDup(kPageTitle);
    return info->pszTitle != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT ICVersionPage::SetObjects(ULONG count, IUnknown** objects) {
    IUnknown* previous = nullptr;
    {
        std::lock_guard lock(mutex);
        previous = connected;
        connected = nullptr;
        if (count > 0 && objects == nullptr) {
            return E_POINTER;
        }
        if (count > 0 && objects[0] != nullptr && privateInterface != nullptr) {
            void* found = nullptr;
            if (SUCCEEDED(objects[0]->QueryInterface(*privateInterface, &found))) {
                connected = static_cast<IUnknown*>(found);
            }
        }
    }
    if (previous != nullptr) {
        previous->Release();
    }
    return S_OK;
}

HRESULT ICVersionPage::Show(uint32_t) {
    return S_OK;
}

HRESULT ICVersionPage::Move(const RECT*) {
    return S_OK;
}

HRESULT ICVersionPage::IsPageDirty() {
    return S_FALSE;  // nothing on it can be changed
}

HRESULT ICVersionPage::Apply() {
    return S_OK;
}

HRESULT ICVersionPage::Help(LPCOLESTR) {
    return E_NOTIMPL;
}

HRESULT ICVersionPage::TranslateAccelerator(MSG*) {
    return S_FALSE;
}

// --- IPageDialog

LONG ICVersionPage::GetDialogResource() {
    return kDialogResource;
}

LONG ICVersionPage::GetItemCount() {
    std::lock_guard lock(mutex);
    return LONG(items.size());
}

HRESULT ICVersionPage::GetItem(LONG index, LONG* controlId, LPOLESTR* text) {
    std::lock_guard lock(mutex);
    if (index < 0 || size_t(index) >= items.size()) {
        return E_INVALIDARG;
    }
    if (controlId != nullptr) {
        *controlId = items[size_t(index)].controlId;
    }
    return CopyOut(items[size_t(index)].text, text);
}

HRESULT ICVersionPage::GetControlText(LONG controlId, LPOLESTR* text) {
    std::lock_guard lock(mutex);
    for (const Item& item : items) {
        if (controlId != 0 && item.controlId == controlId) {
            return CopyOut(item.text, text);
        }
    }
    return E_INVALIDARG;
}

IUnknown* ICVersionPage::GetConnectedInterface() {
    std::lock_guard lock(mutex);
    return connected;
}

bool ICVersionPage::IsActive() {
    std::lock_guard lock(mutex);
    return active;
}

HRESULT ICVersionPageList(REFCLSID page, CAUUID* pages) {
    if (pages == nullptr) {
        return E_POINTER;
    }
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pages->pElems == nullptr) {
        return E_OUTOFMEMORY;
    }
    pages->pElems[0] = page;
    pages->cElems = 1;
    return S_OK;
}
