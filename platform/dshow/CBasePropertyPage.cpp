#include "platform/dshow/CBasePropertyPage.h"

#include "platform/com/TaskAllocator.h"

namespace {

// IPropertyPageSite::OnStatusChange flag: the page's dirty state changed.
constexpr DWORD kPropPageStatusDirty = 0x01;

}  // namespace

CBasePropertyPage::CBasePropertyPage(const char16_t* objectName, IUnknown* outer, int dialogId,
                                     std::u16string title)
    : CUnknown(objectName, outer), dialogId(dialogId), title(std::move(title)) {}

CBasePropertyPage::~CBasePropertyPage() {
    if (m_pPageSite) {
        m_pPageSite->Release();
        m_pPageSite = nullptr;
    }
}

HRESULT CBasePropertyPage::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IPropertyPage) {
        return GetInterface(static_cast<IPropertyPage*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBasePropertyPage::SetPageSite(IPropertyPageSite* site) {
    if (site) {
        if (m_pPageSite) {
            return E_UNEXPECTED;
        }
        site->AddRef();
        m_pPageSite = site;
        return S_OK;
    }
    if (!m_pPageSite) {
        return E_UNEXPECTED;
    }
    m_pPageSite->Release();
    m_pPageSite = nullptr;
    return S_OK;
}

HRESULT CBasePropertyPage::Activate(HWND, const RECT* rect, BOOL) {
    if (active) {
        return E_UNEXPECTED;
    }
    if (rect) {
        position = *rect;
    }
    active = true;
    const HRESULT hr = OnActivate();
    if (FAILED(hr)) {
        active = false;
    }
    return hr;
}

HRESULT CBasePropertyPage::Deactivate() {
    if (!active) {
        return E_UNEXPECTED;
    }
    const HRESULT hr = OnDeactivate();
    active = false;
    visible = false;
    return hr;
}

HRESULT CBasePropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info) {
        return E_POINTER;
    }
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = CoTaskMemStrDup(title);
    if (!info->pszTitle) {
        return E_OUTOFMEMORY;
    }
    info->size = kPageSize;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
}

HRESULT CBasePropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count == 1) {
        if (!objects || !*objects) {
            return E_POINTER;
        }
        m_bObjectSet = true;
        return OnConnect(*objects);
    }
    if (count == 0) {
        m_bObjectSet = false;
        return OnDisconnect();
    }
    return E_UNEXPECTED;
}

HRESULT CBasePropertyPage::Show(uint32_t command) {
    if (!active) {
        return E_UNEXPECTED;
    }
    visible = command != 0;  // 0 hides, anything else shows
    return S_OK;
}

HRESULT CBasePropertyPage::Move(const RECT* rect) {
    if (!rect) {
        return E_POINTER;
    }
    position = *rect;
    return S_OK;
}

HRESULT CBasePropertyPage::IsPageDirty() {
    return m_bDirty ? S_OK : S_FALSE;
}

HRESULT CBasePropertyPage::Apply() {
    if (!m_bObjectSet) {
        return E_UNEXPECTED;
    }
    if (!m_pPageSite) {
        return E_UNEXPECTED;
    }
    if (!m_bDirty) {
        return S_OK;
    }
    const HRESULT hr = OnApplyChanges();
    if (SUCCEEDED(hr)) {
        m_bDirty = false;
    }
    return hr;
}

HRESULT CBasePropertyPage::Help(LPCOLESTR) {
    return E_NOTIMPL;
}

HRESULT CBasePropertyPage::TranslateAccelerator(MSG*) {
    return E_NOTIMPL;
}

void CBasePropertyPage::SetDlgItemText(int controlId, std::u16string_view text) {
    std::lock_guard<std::mutex> lock(controlsMutex);
    controls[controlId] = std::u16string(text);
}

std::u16string CBasePropertyPage::GetDlgItemText(int controlId) const {
    std::lock_guard<std::mutex> lock(controlsMutex);
    auto found = controls.find(controlId);
    return found == controls.end() ? std::u16string() : found->second;
}

void CBasePropertyPage::SetDirty() {
    m_bDirty = true;
    if (m_pPageSite) {
        m_pPageSite->OnStatusChange(kPropPageStatusDirty);
    }
}
