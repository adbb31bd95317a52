#include "core/ICUiThread.h"

#include <unistd.h>

#include <atomic>
#include <mutex>

namespace {

std::atomic<uint32_t> uiThreadId{0};

std::mutex pumpMutex;
ICUiEventPump installedPump = nullptr;
void* installedContext = nullptr;

}  // namespace

uint32_t ICGetCurrentThreadId() {
    thread_local const uint32_t id = static_cast<uint32_t>(gettid());
    return id;
}

void ICSetUiThreadId(uint32_t threadId) {
    uiThreadId.store(threadId, std::memory_order_release);
}

uint32_t ICGetUiThreadId() {
    return uiThreadId.load(std::memory_order_acquire);
}

bool ICIsUiThread() {
    uint32_t id = ICGetUiThreadId();
    return id != 0 && id == ICGetCurrentThreadId();
}

void ICSetUiEventPump(ICUiEventPump pump, void* context) {
    std::lock_guard lock(pumpMutex);
    installedPump = pump;
    installedContext = context;
}

void ICPumpUiEvents() {
    ICUiEventPump pump;
    void* context;
    {
        std::lock_guard lock(pumpMutex);
        pump = installedPump;
        context = installedContext;
    }
    // Called without the lock: the pump may deliver an event that installs another pump.
    if (pump != nullptr) {
        pump(context);
    }
}
