#include "core/ICCriticalSection.h"

void ICCriticalSection::Lock() { mutex.lock(); }

bool ICCriticalSection::TryLock() { return mutex.try_lock(); }

void ICCriticalSection::Unlock() { mutex.unlock(); }
