#include "core/ICArray.h"

#include <cstdlib>
#include <cstring>

#include "core/ICErrors.h"

ICArray::ICArray(int32_t growStep) : growStep(growStep) {}

ICArray::~ICArray() {
    std::free(items);
    delete condition.load();
}

int32_t ICArray::GetCapacity() const {
    return capacity;
}

void ICArray::SetCapacity(int32_t n) {
    if (n < 0) {
        n = 0;
    }
    if (n == capacity) {
        return;
    }
    if (n == 0) {
        std::free(items);
        items = nullptr;
        capacity = 0;
        count = 0;
        return;
    }
    void** grown = static_cast<void**>(std::realloc(items, sizeof(void*) * size_t(n)));
    if (grown == nullptr) {
        return;  // the array keeps its old buffer
    }
    items = grown;
    if (n > capacity) {
        std::memset(items + capacity, 0, sizeof(void*) * size_t(n - capacity));
    }
    capacity = n;
    if (count > capacity) {
        count = capacity;
    }
}

int32_t ICArray::GetCount() const {
    return count;
}

void ICArray::SetCount(int32_t n) {
    if (n < 0) {
        n = 0;
    }
    int32_t step = growStep < 1 ? 1 : growStep;
    int32_t wanted = n > INT32_MAX - step ? INT32_MAX : n + step;
    // Slots beyond the old count may hold stale pointers from before a shrink: clear them.
    int32_t oldCount = count;
    SetCapacity(wanted);
    if (capacity < n) {
        return;  // allocation failed
    }
    if (n > oldCount) {
        std::memset(items + oldCount, 0, sizeof(void*) * size_t(n - oldCount));
    }
    count = n;
}

int32_t ICArray::GetGrowStep() const {
    return growStep;
}

void ICArray::SetGrowStep(int32_t n) {
    growStep = n;
}

void** ICArray::GetItems() {
    return items;
}

ICCondition* ICArray::GetCondition() {
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

void ICArray::CopyFrom(const ICArray& other) {
    if (&other == this) {
        return;
    }
    SetCount(other.count);
    if (count == other.count && count > 0) {
        std::memcpy(items, other.items, sizeof(void*) * size_t(count));
    }
}

void ICArray::RemoveAll() {
    SetCount(0);
}

bool ICArray::Grow() {
    if (count < capacity) {
        return true;
    }
    int32_t step = growStep < 1 ? 1 : growStep;
    if (capacity > INT32_MAX - step) {
        return false;
    }
    SetCapacity(capacity + step);
    return count < capacity;
}

int32_t ICArray::Add(void* item) {
    if (!Grow()) {
        return -1;
    }
    items[count] = item;
    return count++;
}

int32_t ICArray::InsertAt(int32_t index, void* item) {
    if (index >= count) {
        return Add(item);
    }
    if (index < 0) {
        index = 0;
    }
    if (!Grow()) {
        return -1;
    }
    std::memmove(items + index + 1, items + index, sizeof(void*) * size_t(count - index));
    items[index] = item;
    ++count;
    return index;
}

bool ICArray::RemoveAt(int32_t index) {
    if (index < 0 || index >= count) {
        return false;
    }
    std::memmove(items + index, items + index + 1, sizeof(void*) * size_t(count - index - 1));
    --count;
    items[count] = nullptr;
    return true;
}

bool ICArray::Remove(void* item) {
    int32_t index = IndexOf(item);
    if (index < 0) {
        return false;
    }
    return RemoveAt(index);
}

void ICArray::Move(int32_t to, int32_t from) {
    if (to < 0 || to >= count || from < 0 || from >= count || to == from) {
        return;
    }
    void* item = items[from];
    if (from < to) {
        std::memmove(items + from, items + from + 1, sizeof(void*) * size_t(to - from));
    } else {
        std::memmove(items + to + 1, items + to, sizeof(void*) * size_t(from - to));
    }
    items[to] = item;
}

int32_t ICArray::IndexOf(const void* item) const {
    for (int32_t i = 0; i < count; ++i) {
        if (items[i] == item) {
            return i;
        }
    }
    return -1;
}

void** ICArray::Find(const void* item) {
    int32_t index = IndexOf(item);
    return index < 0 ? nullptr : items + index;
}

void* ICArray::GetAt(int32_t index) const {
    if (index < 0 || index >= count) {
        return nullptr;
    }
    return items[index];
}

void ICArray::SetAt(int32_t index, void* item) {
    if (index < 0 || index >= count) {
        return;
    }
    items[index] = item;
}

void ICArray::Lock() {
    GetCondition()->Lock();
}

bool ICArray::TryLock() {
    return GetCondition()->TryLock();
}

void ICArray::Unlock() {
    GetCondition()->Unlock();
}

uint32_t ICArray::Wait(uint32_t milliseconds) {
    return GetCondition()->Wait(milliseconds);
}

uint32_t ICArray::Wait() {
    return Wait(kICInfinite);
}

void ICArray::Signal() {
    GetCondition()->Signal();
}
