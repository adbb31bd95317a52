#pragma once

#include <cstdint>

// An element of an intrusive doubly linked list (ICList and the lists built on it). The fields
// are public: the lists link and unlink items directly.
class ICListItem {
public:
    ICListItem() = default;
    // A copy is a new, unlinked item: list membership and the user value belong to the item, not
    // to the value it carries.
    ICListItem(const ICListItem&) {}
    ICListItem& operator=(const ICListItem&) { return *this; }
    // Unlinks the item from its neighbours. The owning list's head, tail and count are not
    // updated; lists unlink their items before deleting them.
    virtual ~ICListItem();

    ICListItem* next = nullptr;
    ICListItem* prev = nullptr;
    // The item itself, or the object an ICObjList holder wraps.
    void* payload = this;
    uint32_t userValue = 0;
};
