#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "platform/com/CUnknown.h"
#include "platform/com/ComPtr.h"

// The one COM enumerator of the layer (pins, media types, filters, monikers): Next hands out
// the items of a Source in order, Skip passes over them, Reset starts again and Clone copies
// the enumerator with its position.
//
// `Enumerator` is the enumeration interface (IEnumPins, IEnumFilters, IEnumMoniker, ...) with
// its `kIid`. The Source is a copyable value with
//   using Element = ...;                    what Next hands out (IPin*, AM_MEDIA_TYPE*, ...)
//   bool Has(size_t index);                 whether there is an item at `index` (Skip)
//   HRESULT Fetch(size_t index, Element*);  S_OK and a new reference (or copy) for the caller;
//                                           S_FALSE past the end; anything but S_OK ends Next
//   HRESULT CheckSync();                    S_OK, or the error Next, Skip and Clone answer
//                                           once the enumerated set has changed under them
//   void Refresh();                         Reset: take the current set again
//
// Skip passes over what there is and answers S_FALSE when that was fewer than asked.
template <typename Enumerator, typename Source>
class CEnumList final : public CUnknown, public Enumerator {
public:
    using Element = typename Source::Element;
    using ItemSource = Source;

    CEnumList(const char16_t* name, Source source, size_t position = 0)
        : CUnknown(name, nullptr), name(name), source(std::move(source)), position(position) {}
    DECLARE_IUNKNOWN

    // Makes an enumerator over `source` and hands out its interface.
    static HRESULT Create(const char16_t* name, Source source, Enumerator** enumerator) {
        if (!enumerator) {
            return E_POINTER;
        }
        *enumerator = nullptr;
        try {
            auto* created = new CEnumList(name, std::move(source));
            return created->NonDelegatingQueryInterface(Enumerator::kIid,
                                                        reinterpret_cast<void**>(enumerator));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == Enumerator::kIid) {
            return GetInterface(static_cast<Enumerator*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT Next(ULONG count, Element* out, ULONG* fetched) override {
        if (!out) {
            return E_POINTER;
        }
        if (!fetched && count != 1) {
            return E_INVALIDARG;
        }
        if (fetched) {
            *fetched = 0;
        }
        const HRESULT sync = source.CheckSync();
        if (sync != S_OK) {
            return sync;
        }
        ULONG done = 0;
        while (done < count && source.Fetch(position, &out[done]) == S_OK) {
            ++position;
            ++done;
        }
        if (fetched) {
            *fetched = done;
        }
        return done == count ? S_OK : S_FALSE;
    }

    HRESULT Skip(ULONG count) override {
        const HRESULT sync = source.CheckSync();
        if (sync != S_OK) {
            return sync;
        }
        for (; count > 0 && source.Has(position); --count) {
            ++position;
        }
        return count == 0 ? S_OK : S_FALSE;
    }

    HRESULT Reset() override {
        position = 0;
        source.Refresh();
        return S_OK;
    }

    HRESULT Clone(Enumerator** clone) override {
        if (!clone) {
            return E_POINTER;
        }
        *clone = nullptr;
        const HRESULT sync = source.CheckSync();
        if (sync != S_OK) {
            return sync;
        }
        try {
            auto* copy = new CEnumList(name, source, position);
            return copy->NonDelegatingQueryInterface(Enumerator::kIid,
                                                     reinterpret_cast<void**>(clone));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    const char16_t* name;
    Source source;
    size_t position;
};

// A source over a list taken when the enumerator is made (its clones share nothing but their
// copies of it); `handOut` makes the caller's element of an item: a new reference, a moniker.
template <typename Item, typename ElementType, HRESULT (*handOut)(const Item&, ElementType*)>
class CSnapshotSource {
public:
    using Element = ElementType;

    explicit CSnapshotSource(std::vector<Item> items) : items(std::move(items)) {}

    bool Has(size_t index) const { return index < items.size(); }
    HRESULT Fetch(size_t index, Element* out) const {
        return index < items.size() ? handOut(items[index], out) : S_FALSE;
    }
    HRESULT CheckSync() const { return S_OK; }
    void Refresh() {}

private:
    std::vector<Item> items;
};

// Hands out a held interface with a new reference.
template <typename Interface>
HRESULT HandOutReference(const ComPtr<Interface>& item, Interface** out) {
    *out = item.Get();
    (*out)->AddRef();
    return S_OK;
}

// A snapshot of referenced interfaces, handed out with a reference each.
template <typename Interface>
using CReferenceSnapshot =
    CSnapshotSource<ComPtr<Interface>, Interface*, HandOutReference<Interface>>;
