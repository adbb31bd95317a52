#include "platform/dshow/CBasePropertyPage.h"

#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/dshow/tests/TestFilters.h"

namespace {

// Shows the name of the filter it is connected to in control 1000.
class CNamePage final : public CBasePropertyPage {
public:
    CNamePage() : CBasePropertyPage(u"Name page", nullptr, 101, u"Version") {}

    HRESULT OnConnect(IUnknown* object) override {
        filter = ComPtr<IBaseFilter>();
        return ComQuery(object, &filter);
    }
    HRESULT OnDisconnect() override {
        filter.Reset();
        return S_OK;
    }
    HRESULT OnActivate() override {
        FILTER_INFO info{};
        if (filter && SUCCEEDED(filter->QueryFilterInfo(&info))) {
            SetDlgItemText(1000, info.achName);
            if (info.pGraph) {
                info.pGraph->Release();
            }
        } else {
            SetDlgItemText(1000, u"(none)");
        }
        return S_OK;
    }
    HRESULT OnApplyChanges() override {
        ++applied;
        return S_OK;
    }

    ComPtr<IBaseFilter> filter;
    int applied = 0;
};

class CSite final : public CUnknown, public IPropertyPageSite {
public:
    CSite() : CUnknown(u"Page site", nullptr) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IPropertyPageSite) {
            return GetInterface(static_cast<IPropertyPageSite*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT OnStatusChange(DWORD flags) override {
        lastStatus = flags;
        return S_OK;
    }
    HRESULT GetLocaleID(DWORD* locale) override {
        *locale = 0x411;
        return S_OK;
    }
    HRESULT GetPageContainer(IUnknown** container) override {
        *container = nullptr;
        return E_NOTIMPL;
    }
    HRESULT TranslateAccelerator(MSG*) override { return S_FALSE; }

    DWORD lastStatus = 0;
};

}  // namespace

TEST(PropertyPage, ConnectsActivatesAndAppliesLikeAPlatformPage) {
    const LONG before = CBaseObject::ObjectsActive();
    {
        auto* page = new CNamePage();
        ComPtr<IPropertyPage> held(page);
        PROPPAGEINFO info{};
        ASSERT_EQ(held->GetPageInfo(&info), S_OK);
        EXPECT_EQ(std::u16string(info.pszTitle), u"Version");
        CoTaskMemFree(info.pszTitle);
        EXPECT_EQ(page->DialogId(), 101);

        auto* sink = new testfilters::TestSink();
        ComPtr<IBaseFilter> filter = testfilters::Hold(sink);
        filter->JoinFilterGraph(nullptr, u"Shown filter");
        IUnknown* objects[] = {filter.Get()};
        ASSERT_EQ(held->SetObjects(1, objects), S_OK);
        EXPECT_EQ(held->SetObjects(2, objects), E_UNEXPECTED);
        EXPECT_EQ(held->SetObjects(1, nullptr), E_POINTER);

        EXPECT_EQ(held->Show(1), E_UNEXPECTED);  // not active yet
        ASSERT_EQ(held->Activate(nullptr, nullptr, FALSE), S_OK);
        EXPECT_EQ(held->Activate(nullptr, nullptr, FALSE), E_UNEXPECTED);
        EXPECT_EQ(page->GetDlgItemText(1000), u"Shown filter");
        EXPECT_EQ(page->GetDlgItemText(1001), u"");

        // Apply needs a site; a clean page has nothing to apply.
        EXPECT_EQ(held->Apply(), E_UNEXPECTED);
        auto* site = new CSite();
        ComPtr<IPropertyPageSite> siteHeld(site);
        ASSERT_EQ(held->SetPageSite(siteHeld.Get()), S_OK);
        EXPECT_EQ(held->IsPageDirty(), S_FALSE);
        page->SetDirty();
        EXPECT_EQ(site->lastStatus, 1u);
        EXPECT_EQ(held->IsPageDirty(), S_OK);
        ASSERT_EQ(held->Apply(), S_OK);
        EXPECT_EQ(page->applied, 1);
        EXPECT_EQ(held->IsPageDirty(), S_FALSE);

        ASSERT_EQ(held->Deactivate(), S_OK);
        ASSERT_EQ(held->SetObjects(0, nullptr), S_OK);
        EXPECT_FALSE(page->filter);
        ASSERT_EQ(held->SetPageSite(nullptr), S_OK);
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}
