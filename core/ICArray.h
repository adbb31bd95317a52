#pragma once

#include <atomic>
#include <cstdint>

#include "core/ICSemaphore.h"

// A growable array of pointers. The array does not own what its items point to. Indices are
// 0-based; an absent index is -1 and an index out of range gives null or is ignored.
//
// The array does not lock by itself: callers that share one take its lock explicitly. The lock
// object (an ICCondition) is created on first use.
class ICArray {
public:
    static constexpr int32_t kDefaultGrowStep = 16;

    ICArray() = default;
    explicit ICArray(int32_t growStep);
    ICArray(const ICArray&) = delete;
    ICArray& operator=(const ICArray&) = delete;

    virtual ~ICArray();
    virtual int32_t GetCapacity() const;
    // Reallocates to room for n items, keeping the first min(n, count) of them.
    virtual void SetCapacity(int32_t n);
    virtual int32_t GetCount() const;
    // The count becomes n (new slots are null) and the capacity n + the growth step.
    virtual void SetCount(int32_t n);
    virtual int32_t GetGrowStep() const;
    // Items added when a full array grows; a step below 1 grows by one item.
    virtual void SetGrowStep(int32_t n);
    virtual void** GetItems();
    // The lock object, created on first use.
    virtual ICCondition* GetCondition();
    // Copies the other array's item pointers (not what they point to).
    virtual void CopyFrom(const ICArray& other);
    virtual void RemoveAll();
    // Appends; returns the new item's index.
    virtual int32_t Add(void* item);
    // A negative index inserts at the front; an index at or beyond the count appends.
    virtual int32_t InsertAt(int32_t index, void* item);
    // Removes the item at index, shifting the following ones down; false when out of range.
    virtual bool RemoveAt(int32_t index);
    // Removes the first slot holding item; true when found.
    virtual bool Remove(void* item);
    // Moves the item at `from` so that it ends at index `to`; ignored when either index is out
    // of range or they are equal.
    virtual void Move(int32_t to, int32_t from);
    virtual int32_t IndexOf(const void* item) const;
    // The slot holding item, or null.
    virtual void** Find(const void* item);
    virtual void* GetAt(int32_t index) const;
    // Ignored when index is out of range.
    virtual void SetAt(int32_t index, void* item);
    virtual void Lock();
    virtual bool TryLock();
    virtual void Unlock();
    // Waits for one count of the lock object's semaphore: 0, 138 on time-out.
    virtual uint32_t Wait(uint32_t milliseconds);
    virtual uint32_t Wait();
    // Releases the semaphore once.
    virtual void Signal();

protected:
    // Makes room for one more item.
    bool Grow();

    int32_t capacity = 0;
    void** items = nullptr;
    int32_t count = 0;
    int32_t growStep = kDefaultGrowStep;

private:
    std::atomic<ICCondition*> condition{nullptr};
};
