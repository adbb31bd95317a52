#pragma once

#include "core/ICCriticalSection.h"

// The base classes' recursive lock and its scope guard.
class CCritSec {
public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;

    void Lock() { section.Lock(); }
    void Unlock() { section.Unlock(); }

private:
    ICCriticalSection section;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : lock(lock) { lock->Lock(); }
    ~CAutoLock() { lock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* lock;
};
