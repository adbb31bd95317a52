#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// The owning list of SI objects inside the store and inside each object: items are kept in
// arrival order (or in the order a caller inserts them), reached by 0-based index in constant
// time, and deleted when removed or when the list goes.
template <typename T>
class ICSIItemList {
public:
    ICSIItemList() = default;
    ICSIItemList(const ICSIItemList&) = delete;
    ICSIItemList& operator=(const ICSIItemList&) = delete;
    ~ICSIItemList() { Clear(); }

    int32_t GetCount() const { return static_cast<int32_t>(items.size()); }
    bool IsEmpty() const { return items.empty(); }
    // Null when the index is out of range.
    T* GetAt(int32_t index) const {
        return index >= 0 && index < GetCount() ? items[static_cast<size_t>(index)] : nullptr;
    }
    T* GetLast() const { return items.empty() ? nullptr : items.back(); }

    // Takes ownership; returns the item.
    T* Add(T* item) {
        items.push_back(item);
        return item;
    }
    // Takes ownership and inserts before index (an index at or beyond the count appends).
    T* InsertAt(int32_t index, T* item) {
        const size_t at = std::min(static_cast<size_t>(std::max(index, 0)), items.size());
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), item);
        return item;
    }
    // Deletes the item if it is in the list; false when it is not.
    bool Remove(T* item) {
        auto it = std::find(items.begin(), items.end(), item);
        if (it == items.end()) {
            return false;
        }
        items.erase(it);
        delete item;
        return true;
    }
    void RemoveAt(int32_t index) {
        if (T* item = GetAt(index)) {
            items.erase(items.begin() + index);
            delete item;
        }
    }
    // Deletes every item, the last first.
    void Clear() {
        while (!items.empty()) {
            T* item = items.back();
            items.pop_back();
            delete item;
        }
    }

    // The first item for which `match` holds, or null.
    template <typename Match>
    T* FindIf(Match match) const {
        for (T* item : items) {
            if (match(*item)) {
                return item;
            }
        }
        return nullptr;
    }

    auto begin() const { return items.begin(); }
    auto end() const { return items.end(); }

private:
    std::vector<T*> items;
};
