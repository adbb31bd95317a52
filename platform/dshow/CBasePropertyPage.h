#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/com/CUnknown.h"
#include "platform/dshow/DShowInterfaces.h"

// The base of a property page. The page has no window of its own here: its dialog is a set of
// control texts by control identifier, which the page fills in its hooks and which the
// user-interface layer shows. SetObjects with one object connects the page to it (OnConnect),
// with none disconnects it (OnDisconnect); Activate and Deactivate bracket the page being
// shown; Apply passes a dirty page's changes on (OnApplyChanges).
class CBasePropertyPage : public CUnknown, public IPropertyPage {
public:
    CBasePropertyPage(const char16_t* objectName, IUnknown* outer, int dialogId,
                      std::u16string title);
    ~CBasePropertyPage() override;
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT SetPageSite(IPropertyPageSite* site) override;
    HRESULT Activate(HWND parent, const RECT* rect, BOOL modal) override;
    HRESULT Deactivate() override;
    HRESULT GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT Show(uint32_t command) override;
    HRESULT Move(const RECT* rect) override;
    HRESULT IsPageDirty() override;
    HRESULT Apply() override;
    HRESULT Help(LPCOLESTR helpDirectory) override;
    HRESULT TranslateAccelerator(MSG* message) override;

    virtual HRESULT OnConnect(IUnknown*) { return S_OK; }
    virtual HRESULT OnDisconnect() { return S_OK; }
    virtual HRESULT OnActivate() { return S_OK; }
    virtual HRESULT OnDeactivate() { return S_OK; }
    virtual HRESULT OnApplyChanges() { return S_OK; }

    // The page's controls.
    void SetDlgItemText(int controlId, std::u16string_view text);
    std::u16string GetDlgItemText(int controlId) const;

    int DialogId() const { return dialogId; }
    const std::u16string& Title() const { return title; }
    bool IsActive() const { return active; }
    bool IsVisible() const { return visible; }
    void SetDirty();

    static constexpr SIZE kPageSize{240, 150};

protected:
    IPropertyPageSite* m_pPageSite = nullptr;  // referenced
    bool m_bDirty = false;
    bool m_bObjectSet = false;

private:
    const int dialogId;
    const std::u16string title;
    bool active = false;
    bool visible = false;
    RECT position{};
    mutable std::mutex controlsMutex;
    std::map<int, std::u16string> controls;
};
