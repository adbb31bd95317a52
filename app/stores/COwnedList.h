#pragma once

#include <cstdint>

#include "core/ICList.h"

// An ordered list of T (an ICListItem) that owns its items: removing with the delete option and
// destroying the list free them. The stores' lists of tuners, tuning spaces, channels, events
// and reservations are all of this kind; a list that is shared between threads is locked by its
// users with Lock / Unlock.
template <typename T>
class COwnedList : public ICList {
public:
    COwnedList() = default;
    ~COwnedList() override { RemoveAll(true); }

    T* First() const { return static_cast<T*>(GetHead()); }
    T* Last() const { return static_cast<T*>(GetTail()); }
    static T* Next(const T* item) { return static_cast<T*>(item->next); }
    T* At(int32_t index) const { return static_cast<T*>(GetAt(index)); }
    T* Add(T* item) { return static_cast<T*>(AddTail(item)); }

    // for (T* item : list) ...
    class Iterator {
    public:
        explicit Iterator(ICListItem* item) : item(item) {}
        T* operator*() const { return static_cast<T*>(item); }
        Iterator& operator++() {
            item = item->next;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return item != other.item; }

    private:
        ICListItem* item;
    };
    Iterator begin() const { return Iterator(GetHead()); }
    Iterator end() const { return Iterator(nullptr); }
};
