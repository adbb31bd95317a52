#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/com/ComTypes.h"
#include "platform/dshow/CCritSec.h"

// A worker thread driven by requests: a caller hands the worker one request number at a time
// with CallWorker and waits for its reply; the worker takes requests with GetRequest or polls
// with CheckRequest and answers each with Reply.
class CAMThread {
public:
    CAMThread() = default;
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;
    // Joins the thread if it still exists (the derived class should have closed it: by now its
    // part of the object is gone).
    virtual ~CAMThread();

    // Starts the thread running ThreadProc; false when it already exists or cannot start.
    bool Create();
    // Sends a request and waits for the worker's reply.
    DWORD CallWorker(DWORD request);
    // Waits for the thread to end and forgets it.
    void Close();
    bool ThreadExists() const;

    // Worker side. A request stays pending until it is answered: CheckRequest only looks, and
    // GetRequest after CheckRequest returns the same request again.
    DWORD GetRequest();
    bool CheckRequest(DWORD* request);
    void Reply(DWORD result);

    // Serialises the callers of CallWorker.
    CCritSec m_AccessLock;

protected:
    virtual DWORD ThreadProc() = 0;

private:
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::thread thread;
    bool requestPending = false;
    DWORD request = 0;
    bool replyPending = false;
    DWORD reply = 0;
};
