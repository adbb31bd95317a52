#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/com/CUnknown.h"
#include "platform/dshow/DShowInterfaces.h"
#include "streamfw/IPageDialog.h"

// The version page every module offers: its dialog (resource 101) shows the filter's name, an
// empty line, the version text (control 1012) and a maker line; its title is "Version".
//
// What a module filter's ISpecifyPropertyPages::GetPages answers: its one version page, in a
// block from the task allocator (E_POINTER for a null argument, E_OUTOFMEMORY).
HRESULT ICVersionPageList(REFCLSID page, CAUUID* pages);

// Connected to an object, the page holds the module's private interface when the object has it
// (a page whose object lacks it still shows the version). Activating the page fills in the
// version text "Version 1.51.0010.0".
class ICVersionPage final : public CUnknown, public IPropertyPage, public IPageDialog {
public:
    static constexpr LONG kDialogResource = 101;
    static constexpr LONG kVersionControl = 1012;
    static constexpr int kVersionMajor = 1;
    static constexpr int kVersionMinor = 0x51;
    static constexpr int kVersionBuild = 0x10;
    static constexpr int kVersionRevision = 0;

    // `filterName` (a literal) is the module's filter name; `privateInterface` the interface
    // the page asks its object for (null: none).
    ICVersionPage(IUnknown* outer, const char16_t* filterName, const IID* privateInterface);
    ~ICVersionPage() override;
    DECLARE_IUNKNOWN

    // The class factory's creation function: nothing without `hr`, E_OUTOFMEMORY when the page
    // cannot be made.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr, const char16_t* filterName,
                                    const IID* privateInterface);
    // "Version 1.51.0010.0".
    static std::u16string VersionText();

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // IPropertyPage
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

    // IPageDialog
    LONG GetDialogResource() override;
    LONG GetItemCount() override;
    HRESULT GetItem(LONG index, LONG* controlId, LPOLESTR* text) override;
    HRESULT GetControlText(LONG controlId, LPOLESTR* text) override;

    // The private interface of the connected object, without a new reference (null if none).
    IUnknown* GetConnectedInterface();
    bool IsActive();

private:
    struct Item {
        LONG controlId;
        std::u16string text;
    };

    const IID* privateInterface;
    std::mutex mutex;
    std::vector<Item> items;
    IPropertyPageSite* site = nullptr;  // referenced
    IUnknown* connected = nullptr;      // referenced
    bool active = false;
};
