#include "platform/dshow/CMediaEventQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

CMediaEventQueue::~CMediaEventQueue() {
    if (eventFd >= 0) {
        ::close(eventFd);
    }
}

void CMediaEventQueue::Post(LONG code, LONG_PTR param1, LONG_PTR param2) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (notifyFlags & AM_MEDIAEVENT_NONOTIFY) {
            return;
        }
        try {
            events.push_back({code, param1, param2});
        } catch (...) {
            return;  // out of memory: the event is lost, nothing else is
        }
        UpdateHandleLocked();
        arrived.notify_all();
    }
    std::lock_guard<std::recursive_mutex> notifyLock(notifyMutex);
    if (window) {
        window->PostWindowMessage(static_cast<uint32_t>(windowMessage), 0, windowInstance);
    }
    if (callback) {
        callback(callbackContext, callbackInstance);
    }
}

HRESULT CMediaEventQueue::Get(Event* event, LONG milliseconds) {
    return WaitFor([](LONG) { return true; }, event, milliseconds);
}

void CMediaEventQueue::Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    events.clear();
    UpdateHandleLocked();
}

size_t CMediaEventQueue::Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return events.size();
}

void CMediaEventQueue::SetNotifyWindow(ICWindowTarget* target, LONG message,
                                       LONG_PTR instanceData) {
    std::lock_guard<std::recursive_mutex> notifyLock(notifyMutex);
    window = target;
    windowMessage = message;
    windowInstance = instanceData;
}

void CMediaEventQueue::SetNotifyCallback(MediaEventCallback newCallback, void* context,
                                         LONG_PTR instanceData) {
    std::lock_guard<std::recursive_mutex> notifyLock(notifyMutex);
    callback = newCallback;
    callbackContext = context;
    callbackInstance = instanceData;
}

void CMediaEventQueue::SetNotifyFlags(LONG flags) {
    std::lock_guard<std::mutex> lock(mutex);
    notifyFlags = flags;
    if (flags & AM_MEDIAEVENT_NONOTIFY) {
        events.clear();
        UpdateHandleLocked();
    }
}

LONG CMediaEventQueue::GetNotifyFlags() {
    std::lock_guard<std::mutex> lock(mutex);
    return notifyFlags;
}

int CMediaEventQueue::EventHandle() {
    std::lock_guard<std::mutex> lock(mutex);
    if (eventFd < 0) {
        eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        handleSignalled = false;
        UpdateHandleLocked();
    }
    return eventFd;
}

void CMediaEventQueue::UpdateHandleLocked() {
    if (eventFd < 0) {
        return;
    }
    const bool wanted = !events.empty();
    if (wanted == handleSignalled) {
        return;
    }
    uint64_t value = 1;
    if (wanted) {
        if (::write(eventFd, &value, sizeof(value)) == sizeof(value)) {
            handleSignalled = true;
        }
    } else if (::read(eventFd, &value, sizeof(value)) == sizeof(value)) {
        handleSignalled = false;
    }
}
