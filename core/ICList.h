#pragma once

#include <atomic>
#include <cstdint>

#include "core/ICListItem.h"
#include "core/ICObject.h"
#include "core/ICSemaphore.h"

// An intrusive doubly linked list of ICListItems. The list links the items it is given; it
// frees them only when an operation is asked to delete. Indices are 0-based; an absent item is
// -1 and an index out of range gives null or is ignored.
//
// The tail and count are recomputed from the head whenever they are found stale (tail null or
// count 0 while a head exists), so a list whose links were set up by hand stays usable.
//
// The list does not lock by itself: callers that share one take its lock explicitly. The lock
// object (an ICCondition) is created on first use.
class ICList : public ICObject {
public:
    ICList() = default;
    ICList(const ICList&) = delete;
    ICList& operator=(const ICList&) = delete;

    virtual ICListItem* GetHead() const;
    // The last item (recounting first if stale).
    virtual ICListItem* GetTail() const;
    // The lock object, created on first use.
    virtual ICCondition* GetCondition();
    // Frees the lock object; the items are not freed.
    virtual ~ICList();
    virtual int32_t GetCount() const;
    // Head, tail and count become empty; the items are left as they are.
    virtual void ClearLinks();
    // Walks from the head to set the tail and the count.
    virtual void Recount() const;
    virtual int32_t IndexOf(const ICListItem* item) const;
    virtual bool Contains(const ICListItem* item) const;
    virtual ICListItem* GetAt(int32_t index) const;
    // Puts item in the place of the item at index; the old item is unlinked (not freed) and
    // returned. Null (and nothing changed) when index is out of range.
    virtual ICListItem* ReplaceAt(int32_t index, ICListItem* item);
    virtual ICListItem* AddTail(ICListItem* item);
    // A negative index counts as 0; an index at or beyond the count appends.
    virtual ICListItem* InsertAt(int32_t index, ICListItem* item);
    // Inserts item before position; a null position appends.
    virtual ICListItem* InsertBefore(ICListItem* position, ICListItem* item);
    // Unlinks the item at index and, with deleteItem, destroys it. Returns the unlinked item
    // when it was kept, otherwise null.
    virtual ICListItem* RemoveAt(int32_t index, bool deleteItem);
    // Unlinks item (which must be in this list) and, with deleteItem, destroys it. Returns false
    // when the item is null or plainly not linked into this list.
    virtual bool Remove(ICListItem* item, bool deleteItem);
    // Removes every item, from the last to the first.
    virtual void RemoveAll(bool deleteItems);
    // Moves the item at `from` before the item at `to` (to the end when `to` is out of range).
    virtual void MoveAt(int32_t to, int32_t from);
    // Unlinks item, then inserts it at index.
    virtual void MoveToIndex(int32_t index, ICListItem* item);
    // Unlinks item, then inserts it before position (a null position appends).
    virtual void MoveBefore(ICListItem* position, ICListItem* item);
    // Links newItem in the place of oldItem, which is unlinked (not freed).
    virtual bool Replace(ICListItem* oldItem, ICListItem* newItem);
    virtual void SwapAt(int32_t i, int32_t j);
    // Exchanges the positions of two items of this list, adjacent or not.
    virtual void Swap(ICListItem* a, ICListItem* b);
    virtual void Lock();
    virtual bool TryLock();
    virtual void Unlock();
    // Waits for one count of the lock object's semaphore: 0, 138 on time-out.
    virtual uint32_t Wait(uint32_t milliseconds);
    virtual uint32_t Wait();
    // Releases the semaphore once.
    virtual void Signal();

protected:
    // Recounts when the tail or count is stale.
    void EnsureCounted() const;
    // Takes item out of the chain, fixing head, tail and count.
    void Unlink(ICListItem* item);
    // Plausibility check before unlinking: an item without a predecessor must be the head.
    bool IsLinkedHere(const ICListItem* item) const;

    ICListItem* head = nullptr;
    mutable ICListItem* tail = nullptr;
    mutable int32_t count = 0;

private:
    std::atomic<ICCondition*> condition{nullptr};
};
