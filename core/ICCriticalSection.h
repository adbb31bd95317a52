#pragma once

#include <mutex>

// A recursive mutual-exclusion lock.
class ICCriticalSection {
public:
    ICCriticalSection() = default;
    ICCriticalSection(const ICCriticalSection&) = delete;
    ICCriticalSection& operator=(const ICCriticalSection&) = delete;

    void Lock();
    bool TryLock();  // true when acquired without waiting
    void Unlock();

private:
    std::recursive_mutex mutex;
};

// Holds an ICCriticalSection for the lifetime of the guard.
class ICLockGuard {
public:
    explicit ICLockGuard(ICCriticalSection& section) : section(section) { section.Lock(); }
    ~ICLockGuard() { section.Unlock(); }
    ICLockGuard(const ICLockGuard&) = delete;
    ICLockGuard& operator=(const ICLockGuard&) = delete;

private:
    ICCriticalSection& section;
};
