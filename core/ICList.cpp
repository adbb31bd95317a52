#include "core/ICList.h"

#include "core/ICErrors.h"

ICList::~ICList() {
    delete condition.load();
}

ICListItem* ICList::GetHead() const {
    return head;
}

ICListItem* ICList::GetTail() const {
    EnsureCounted();
    return tail;
}

ICCondition* ICList::GetCondition() {
    ICCondition* current = condition.load(std::memory_order_acquire);
    if (current != nullptr) {
        return current;
    }
    // Two threads may ask at once the first time: the loser drops its object.
    auto* created = new ICCondition;
    if (condition.compare_exchange_strong(current, created, std::memory_order_acq_rel)) {
        return created;
    }
    delete created;
    return current;
}

int32_t ICList::GetCount() const {
    EnsureCounted();
    return count;
}

void ICList::ClearLinks() {
    head = nullptr;
    tail = nullptr;
    count = 0;
}

void ICList::Recount() const {
    ICListItem* last = nullptr;
    int32_t n = 0;
    for (ICListItem* item = head; item != nullptr; item = item->next) {
        last = item;
        ++n;
    }
    tail = last;
    count = n;
}

void ICList::EnsureCounted() const {
    if (head != nullptr) {
        if (tail == nullptr || count == 0) {
            Recount();
        }
    } else if (tail != nullptr || count != 0) {
        tail = nullptr;
        count = 0;
    }
}

bool ICList::IsLinkedHere(const ICListItem* item) const {
    if (item == nullptr || head == nullptr) {
        return false;
    }
    EnsureCounted();
    if (item->prev == nullptr ? item != head : item->prev->next != item) {
        return false;
    }
    return item->next == nullptr ? item == tail : item->next->prev == item;
}

// An item that already sits in a chain cannot be linked a second time without corrupting both.
static bool IsFree(const ICListItem* item, const ICListItem* head) {
    return item != nullptr && item->next == nullptr && item->prev == nullptr && item != head;
}

void ICList::Unlink(ICListItem* item) {
    ICListItem* before = item->prev;
    ICListItem* after = item->next;
    if (before != nullptr) {
        before->next = after;
    } else {
        head = after;
    }
    if (after != nullptr) {
        after->prev = before;
    } else {
        tail = before;
    }
    item->next = nullptr;
    item->prev = nullptr;
    --count;
}

int32_t ICList::IndexOf(const ICListItem* item) const {
    if (item == nullptr) {
        return -1;
    }
    int32_t index = 0;
    for (const ICListItem* p = head; p != nullptr; p = p->next, ++index) {
        if (p == item) {
            return index;
        }
    }
    return -1;
}

bool ICList::Contains(const ICListItem* item) const {
    return IndexOf(item) >= 0;
}

ICListItem* ICList::GetAt(int32_t index) const {
    EnsureCounted();
    if (index < 0 || index >= count) {
        return nullptr;
    }
    ICListItem* item;
    if (index <= count / 2) {
        item = head;
        for (int32_t i = 0; i < index && item != nullptr; ++i) {
            item = item->next;
        }
    } else {
        item = tail;
        for (int32_t i = count - 1; i > index && item != nullptr; --i) {
            item = item->prev;
        }
    }
    return item;
}

ICListItem* ICList::ReplaceAt(int32_t index, ICListItem* item) {
    ICListItem* old = GetAt(index);
    if (old == nullptr || !Replace(old, item)) {
        return nullptr;
    }
    return old;
}

ICListItem* ICList::AddTail(ICListItem* item) {
    return InsertBefore(nullptr, item);
}

ICListItem* ICList::InsertAt(int32_t index, ICListItem* item) {
    if (index < 0) {
        index = 0;
    }
    return InsertBefore(GetAt(index), item);
}

ICListItem* ICList::InsertBefore(ICListItem* position, ICListItem* item) {
    EnsureCounted();
    if (!IsFree(item, head)) {
        return nullptr;
    }
    if (position != nullptr && !IsLinkedHere(position)) {
        return nullptr;
    }
    if (position == nullptr) {
        item->prev = tail;
        if (tail != nullptr) {
            tail->next = item;
        } else {
            head = item;
        }
        tail = item;
    } else {
        item->prev = position->prev;
        item->next = position;
        if (position->prev != nullptr) {
            position->prev->next = item;
        } else {
            head = item;
        }
        position->prev = item;
    }
    ++count;
    return item;
}

ICListItem* ICList::RemoveAt(int32_t index, bool deleteItem) {
    ICListItem* item = GetAt(index);
    if (item == nullptr || !Remove(item, deleteItem)) {
        return nullptr;
    }
    return deleteItem ? nullptr : item;
}

bool ICList::Remove(ICListItem* item, bool deleteItem) {
    if (!IsLinkedHere(item)) {
        return false;
    }
    Unlink(item);
    if (deleteItem) {
        delete item;
    }
    return true;
}

void ICList::RemoveAll(bool deleteItems) {
    EnsureCounted();
    while (tail != nullptr) {
        if (!Remove(tail, deleteItems)) {
            ClearLinks();  // the chain is broken; forget it rather than loop
            break;
        }
    }
}

void ICList::MoveAt(int32_t to, int32_t from) {
    ICListItem* item = GetAt(from);
    if (item == nullptr) {
        return;
    }
    ICListItem* position = GetAt(to < 0 ? 0 : to);
    MoveBefore(position, item);
}

void ICList::MoveToIndex(int32_t index, ICListItem* item) {
    if (!IsLinkedHere(item)) {
        return;
    }
    Unlink(item);
    InsertAt(index, item);
}

void ICList::MoveBefore(ICListItem* position, ICListItem* item) {
    if (item == position || !IsLinkedHere(item)) {
        return;
    }
    if (position != nullptr && !IsLinkedHere(position)) {
        return;
    }
    Unlink(item);
    InsertBefore(position, item);
}

bool ICList::Replace(ICListItem* oldItem, ICListItem* newItem) {
    if (oldItem == newItem) {
        return IsLinkedHere(oldItem);
    }
    if (!IsLinkedHere(oldItem) || !IsFree(newItem, head)) {
        return false;
    }
    newItem->prev = oldItem->prev;
    newItem->next = oldItem->next;
    if (oldItem->prev != nullptr) {
        oldItem->prev->next = newItem;
    } else {
        head = newItem;
    }
    if (oldItem->next != nullptr) {
        oldItem->next->prev = newItem;
    } else {
        tail = newItem;
    }
    oldItem->prev = nullptr;
    oldItem->next = nullptr;
    return true;
}

void ICList::SwapAt(int32_t i, int32_t j) {
    ICListItem* a = GetAt(i);
    ICListItem* b = GetAt(j);
    if (a != nullptr && b != nullptr) {
        Swap(a, b);
    }
}

void ICList::Swap(ICListItem* a, ICListItem* b) {
    if (a == b || !IsLinkedHere(a) || !IsLinkedHere(b)) {
        return;
    }
    if (a->next == b) {
        MoveBefore(a, b);
    } else if (b->next == a) {
        MoveBefore(b, a);
    } else {
        // Put b where a is, then a where b was (before b's old successor, or at the end).
        ICListItem* afterB = b->next;
        MoveBefore(a, b);
        MoveBefore(afterB, a);
    }
}

void ICList::Lock() {
    GetCondition()->Lock();
}

bool ICList::TryLock() {
    return GetCondition()->TryLock();
}

void ICList::Unlock() {
    GetCondition()->Unlock();
}

uint32_t ICList::Wait(uint32_t milliseconds) {
    return GetCondition()->Wait(milliseconds);
}

uint32_t ICList::Wait() {
    return Wait(kICInfinite);
}

void ICList::Signal() {
    GetCondition()->Signal();
}
