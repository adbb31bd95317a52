#include "platform/dshow/CAMThread.h"

#include <system_error>

CAMThread::~CAMThread() {
    Close();
}

bool CAMThread::Create() {
    std::lock_guard<std::mutex> lock(mutex);
    if (thread.joinable()) {
        return false;
    }
    requestPending = false;
    replyPending = false;
    try {
        thread = std::thread([this] { ThreadProc(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

DWORD CAMThread::CallWorker(DWORD command) {
    CAutoLock callers(&m_AccessLock);
    std::unique_lock<std::mutex> lock(mutex);
    if (!thread.joinable()) {
        return static_cast<DWORD>(E_FAIL);
    }
    request = command;
    requestPending = true;
    replyPending = false;
    changed.notify_all();
    changed.wait(lock, [this] { return replyPending; });
    replyPending = false;
    return reply;
}

void CAMThread::Close() {
    std::thread ending;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!thread.joinable() || thread.get_id() == std::this_thread::get_id()) {
            return;
        }
        ending = std::move(thread);
    }
    ending.join();
}

bool CAMThread::ThreadExists() const {
    std::lock_guard<std::mutex> lock(mutex);
    return thread.joinable();
}

DWORD CAMThread::GetRequest() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return requestPending; });
    return request;
}

bool CAMThread::CheckRequest(DWORD* command) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!requestPending) {
        return false;
    }
    if (command) {
        *command = request;
    }
    return true;
}

void CAMThread::Reply(DWORD result) {
    std::lock_guard<std::mutex> lock(mutex);
    reply = result;
    // The request is answered: it is no longer pending for CheckRequest or GetRequest.
    requestPending = false;
    replyPending = true;
    changed.notify_all();
}
