#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "core/ICWindowTarget.h"
#include "platform/dshow/ControlInterfaces.h"

// The event queue of a filter graph: events in arrival order, a wait with time-out, and the
// notifications that tell the application an event is waiting: a window target (receives
// PostWindowMessage(message, 0, instance data) once per event), a callback, and an event
// handle (a file descriptor that is readable while the queue is not empty).
//
// Post may be called from any thread, with no lock of the caller's that the notification
// handlers could need. The notification runs without the queue's lock, so a handler may call
// Get; clearing the notification target waits for a notification in progress.
class CMediaEventQueue {
public:
    CMediaEventQueue() = default;
    CMediaEventQueue(const CMediaEventQueue&) = delete;
    CMediaEventQueue& operator=(const CMediaEventQueue&) = delete;
    ~CMediaEventQueue();

    struct Event {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };

    void Post(LONG code, LONG_PTR param1, LONG_PTR param2);
    // E_ABORT when nothing arrives within `milliseconds` (a negative value waits without limit).
    HRESULT Get(Event* event, LONG milliseconds);
    // Waits for the first queued event whose code satisfies `accept` and removes it.
    template <typename Accept>
    HRESULT WaitFor(Accept accept, Event* event, LONG milliseconds);
    void Clear();
    size_t Count();

    void SetNotifyWindow(ICWindowTarget* target, LONG message, LONG_PTR instanceData);
    void SetNotifyCallback(MediaEventCallback callback, void* context, LONG_PTR instanceData);
    // AM_MEDIAEVENT_NONOTIFY discards events and stops notifications.
    void SetNotifyFlags(LONG flags);
    LONG GetNotifyFlags();
    // The readable-while-not-empty descriptor, made on first use (-1 if it cannot be made).
    int EventHandle();

private:
    void UpdateHandleLocked();

    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Event> events;
    LONG notifyFlags = 0;
    int eventFd = -1;
    bool handleSignalled = false;

    // Guards the notification targets and is held while notifying, so that a target removed
    // is never called afterwards. Recursive: a handler may change the target.
    std::recursive_mutex notifyMutex;
    ICWindowTarget* window = nullptr;
    LONG windowMessage = 0;
    LONG_PTR windowInstance = 0;
    MediaEventCallback callback = nullptr;
    void* callbackContext = nullptr;
    LONG_PTR callbackInstance = 0;
};

template <typename Accept>
HRESULT CMediaEventQueue::WaitFor(Accept accept, Event* event, LONG milliseconds) {
    std::unique_lock<std::mutex> lock(mutex);
    auto find = [&]() {
        for (auto it = events.begin(); it != events.end(); ++it) {
            if (accept(it->code)) {
                return it;
            }
        }
        return events.end();
    };
    auto found = events.end();
    auto ready = [&] {
        found = find();
        return found != events.end();
    };
    if (milliseconds < 0) {
        arrived.wait(lock, ready);
    } else if (!arrived.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
        return E_ABORT;
    }
    *event = *found;
    events.erase(found);
    UpdateHandleLocked();
    return S_OK;
}
