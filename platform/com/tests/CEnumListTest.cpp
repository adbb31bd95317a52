#include "platform/com/CEnumList.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/com/Moniker.h"
#include "platform/com/TaskAllocator.h"

namespace {

ComPtr<IMoniker> Named(const char16_t* name) {
    ComPtr<IMoniker> moniker;
    EXPECT_EQ(CreateItemMoniker(u"", name, moniker.GetAddressOf()), S_OK);
    return moniker;
}

std::u16string NameOf(IMoniker* moniker) {
    LPOLESTR text = nullptr;
    if (FAILED(moniker->GetDisplayName(nullptr, nullptr, &text)) || !text) {
        return {};
    }
    std::u16string name(text);
    CoTaskMemFree(text);
    return name;
}

ULONG ReferencesOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// The names handed out by `enumerator`, one Next at a time, each reference released.
std::vector<std::u16string> Remaining(IEnumMoniker* enumerator) {
    std::vector<std::u16string> names;
    IMoniker* moniker = nullptr;
    while (enumerator->Next(1, &moniker, nullptr) == S_OK) {
        names.push_back(NameOf(moniker));
        moniker->Release();
    }
    return names;
}

using CEnumSnapshot = CEnumList<IEnumMoniker, CReferenceSnapshot<IMoniker>>;

// A list the test changes under the enumerator; `version` counts the changes.
struct SharedList {
    std::vector<ComPtr<IMoniker>> items;
    LONG version = 0;
};

inline constexpr HRESULT kOutOfSync = MakeHResult(0x80040203);

class CChangingSource {
public:
    using Element = IMoniker*;

    explicit CChangingSource(std::shared_ptr<SharedList> shared) : shared(std::move(shared)) {
        Refresh();
    }
    bool Has(size_t index) const { return index < count; }
    HRESULT Fetch(size_t index, IMoniker** out) const {
        return index < count ? HandOutReference(shared->items[index], out) : S_FALSE;
    }
    HRESULT CheckSync() const { return shared->version == version ? S_OK : kOutOfSync; }
    void Refresh() {
        count = shared->items.size();
        version = shared->version;
    }

private:
    std::shared_ptr<SharedList> shared;
    size_t count = 0;
    LONG version = 0;
};

}  // namespace

TEST(CEnumList, NextSkipResetAndCloneWalkOneSnapshotAndReleaseEveryReference) {
    const std::vector<ComPtr<IMoniker>> items{Named(u"a"), Named(u"b"), Named(u"c")};
    {
        ComPtr<IEnumMoniker> enumerator;
        ASSERT_EQ(CEnumSnapshot::Create(u"Snapshot", CEnumSnapshot::ItemSource(items),
                                        enumerator.GetAddressOf()),
                  S_OK);
        EXPECT_EQ(ReferencesOf(items[0].Get()), 2u);  // the test's and the snapshot's

        IMoniker* batch[3] = {};
        ULONG fetched = 9;
        EXPECT_EQ(enumerator->Next(2, batch, nullptr), E_INVALIDARG);
        EXPECT_EQ(enumerator->Next(1, nullptr, &fetched), E_POINTER);
        ASSERT_EQ(enumerator->Next(2, batch, &fetched), S_OK);
        ASSERT_EQ(fetched, 2u);
        EXPECT_EQ(NameOf(batch[1]), u"b");
        EXPECT_EQ(ReferencesOf(items[1].Get()), 3u);  // one more for the caller
        batch[0]->Release();
        batch[1]->Release();

        // A clone starts where its original stands and walks on its own.
        ComPtr<IEnumMoniker> clone;
        ASSERT_EQ(enumerator->Clone(clone.GetAddressOf()), S_OK);
        EXPECT_EQ(Remaining(clone.Get()), std::vector<std::u16string>{u"c"});
        ASSERT_EQ(enumerator->Next(3, batch, &fetched), S_FALSE);
        ASSERT_EQ(fetched, 1u);
        EXPECT_EQ(NameOf(batch[0]), u"c");
        batch[0]->Release();

        // Skip passes over what there is; past the end it answers S_FALSE and stays there.
        ASSERT_EQ(clone->Reset(), S_OK);
        EXPECT_EQ(clone->Skip(2), S_OK);
        EXPECT_EQ(clone->Skip(5), S_FALSE);
        EXPECT_TRUE(Remaining(clone.Get()).empty());
        ASSERT_EQ(enumerator->Reset(), S_OK);
        EXPECT_EQ(Remaining(enumerator.Get()), (std::vector<std::u16string>{u"a", u"b", u"c"}));
        EXPECT_EQ(enumerator->Clone(nullptr), E_POINTER);
    }
    // Every reference the enumerators took or handed out is back.
    for (const ComPtr<IMoniker>& item : items) {
        EXPECT_EQ(ReferencesOf(item.Get()), 1u);
    }
}

TEST(CEnumList, ASourceThatChangedFailsUntilReset) {
    auto shared = std::make_shared<SharedList>();
    shared->items.push_back(Named(u"a"));
    using CEnumChanging = CEnumList<IEnumMoniker, CChangingSource>;
    ComPtr<IEnumMoniker> enumerator;
    ASSERT_EQ(
        CEnumChanging::Create(u"Changing", CChangingSource(shared), enumerator.GetAddressOf()),
        S_OK);

    shared->items.push_back(Named(u"b"));
    ++shared->version;
    IMoniker* moniker = nullptr;
    ULONG fetched = 9;
    EXPECT_EQ(enumerator->Next(1, &moniker, &fetched), kOutOfSync);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(enumerator->Skip(1), kOutOfSync);
    ComPtr<IEnumMoniker> clone;
    EXPECT_EQ(enumerator->Clone(clone.GetAddressOf()), kOutOfSync);
    EXPECT_EQ(clone.Get(), nullptr);

    // Reset takes the list as it is now.
    ASSERT_EQ(enumerator->Reset(), S_OK);
    EXPECT_EQ(Remaining(enumerator.Get()), (std::vector<std::u16string>{u"a", u"b"}));
}
