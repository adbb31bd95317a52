#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "platform/com/CUnknown.h"
#include "platform/com/Moniker.h"

// A moniker enumerator over a snapshot of items: each Next makes the moniker of the next item
// with `makeMoniker`. Clones share nothing with the original but the snapshot's copy.
template <typename Item, HRESULT (*makeMoniker)(const Item&, IMoniker**)>
class CEnumMonikerList final : public CUnknown, public IEnumMoniker {
public:
    CEnumMonikerList(const char16_t* name, std::vector<Item> items, size_t position = 0)
        : CUnknown(name, nullptr), name(name), items(std::move(items)), position(position) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IEnumMoniker) {
            return GetInterface(static_cast<IEnumMoniker*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
        if (!monikers || (count != 1 && !fetched)) {
            return E_POINTER;
        }
        ULONG done = 0;
        while (done < count && position < items.size()) {
            if (FAILED(makeMoniker(items[position], &monikers[done]))) {
                break;
            }
            ++position;
            ++done;
        }
        if (fetched) {
            *fetched = done;
        }
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const size_t left = items.size() - position;
        position += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        position = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMoniker** clone) override {
        if (!clone) {
            return E_POINTER;
        }
        *clone = nullptr;
        try {
            auto* copy = new CEnumMonikerList(name, items, position);
            return copy->NonDelegatingQueryInterface(IID_IEnumMoniker,
                                                     reinterpret_cast<void**>(clone));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    const char16_t* name;
    std::vector<Item> items;
    size_t position;
};
