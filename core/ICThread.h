#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/ICMsgItem.h"
#include "core/ICMsgQueue.h"
#include "core/ICObject.h"

// What Create returns: the native handle of the thread, 0 when there is none.
using ICThreadHandle = std::thread::native_handle_type;

// Thread priorities in the Windows numbering that callers use; SetPriority maps
// them to the thread's nice value (-15 → 19, -2 → 10, -1 → 5, 0 → 0, 1 → -5, 2 → -10,
// 15 → -20). Raising a priority above normal needs the privilege to lower nice values.
inline constexpr int32_t kICThreadPriorityIdle = -15;
inline constexpr int32_t kICThreadPriorityLowest = -2;
inline constexpr int32_t kICThreadPriorityBelowNormal = -1;
inline constexpr int32_t kICThreadPriorityNormal = 0;
inline constexpr int32_t kICThreadPriorityAboveNormal = 1;
inline constexpr int32_t kICThreadPriorityHighest = 2;
inline constexpr int32_t kICThreadPriorityTimeCritical = 15;
inline constexpr int32_t kICThreadPriorityError = 0x7FFFFFFF;  // GetPriority without thread

// What Suspend and Resume return when there is no thread.
inline constexpr uint32_t kICSuspendFailed = 0xFFFFFFFF;
// The exit code WaitForEnd reports for a thread that did not end within the stop time-out.
inline constexpr uint32_t kICThreadNotEnded = 0xFFFFFFFF;

// A worker thread that owns a message queue and runs a message loop.
//
// Construction creates neither the thread nor the queue. Start() creates the queue and the
// thread (suspended), then resumes it; Stop() posts the quit message to the front of the queue
// and waits for the thread to end. The thread runs ThreadMain() → Run(), which dispatches every
// received message to OnMessage and answers sent messages with its result. A thread object can
// be started again after its thread ended; the queue stays, with the messages left in it.
//
// Suspension: a thread is created suspended and waits at a gate until resumed. Suspend() of a
// thread that is already running takes effect when that thread next receives or peeks a
// message (the only point where it can stop safely); a running thread is never stopped in the
// middle of its work.
//
// A sent message is always answered: with the receiver's OnMessage result, or, when the
// message is thrown away unhandled (ClearMsgs, the queue destroyed, ProcessMsgs after a stop
// request, the loop ending with it still queued, OnMessage throwing), with
// kICUnansweredReply and the wait status 0x08000000.
//
// A derived class that overrides the message handling must stop the thread in its own
// destructor: by the time ~ICThread runs, the derived part is gone.
class ICThread : public ICObject {
public:
    ICThread();
    ICThread(const ICThread&) = delete;
    ICThread& operator=(const ICThread&) = delete;

    // Receives and removes a message (id 0: any). 0, 122 when none matches, 22 without queue.
    virtual uint32_t GetMsg(ICMsg* msg, uint32_t id = 0, bool wait = true);
    virtual uint32_t GetExitCode();
    virtual void SetExitCode(uint32_t code);
    // The exit code (the same field).
    virtual uint32_t GetResult();
    // The message loop: until a stop is requested, receive, dispatch, answer.
    virtual void Run();
    // Handles the messages already queued without waiting; returns 0 when it stopped because
    // a stop was requested, otherwise the last receive result (122).
    virtual uint32_t ProcessMsgs();
    // The message handler. The base marks the stop request for the quit message (1) and
    // returns 0 for every message.
    virtual uint32_t OnMessage(ICMsg* msg);
    // Stops a running thread (request, quit message, resume, WaitForEnd) and joins it.
    virtual ~ICThread();
    // Makes the queue if missing; if there is no thread (or it has ended), creates one,
    // suspended, and clears the stop request. Returns the thread's handle, 0 if none could be
    // created.
    virtual ICThreadHandle Create();
    // Frees every queued message.
    virtual void ClearMsgs();
    // Create() if there is no thread, then Resume(true); returns the Resume result.
    virtual uint32_t Start();
    virtual bool IsRunning();
    // Adds one suspension; returns the previous suspend count, kICSuspendFailed without thread.
    virtual uint32_t Suspend();
    // Removes one suspension, or (all) every one; returns the last previous suspend count,
    // kICSuspendFailed without thread.
    virtual uint32_t Resume(bool all);
    // Posts the quit message {1, param1, param2, this} to the front and waits for the end;
    // returns the thread's exit code (0 when it was not running).
    virtual uint32_t Stop(uintptr_t param1 = 0, uintptr_t param2 = 0);
    // Waits for the thread to end and returns its exit code (0 when it is not running). From
    // the user-interface thread it waits without limit, pumping that thread's events; from any
    // other thread for the stop time-out, after which it requests the stop and returns
    // kICThreadNotEnded: the thread cannot be killed safely, so it stays and is joined by a
    // later Stop, WaitForEnd, Create or the destructor. Called by the thread itself it returns
    // the exit code at once.
    virtual uint32_t WaitForEnd();
    // Marks the stop request only; the loop ends after its next message.
    virtual void RequestStop();
    // Ends the thread as soon as it can be ended: sets the exit code, requests the stop, wakes
    // and resumes the thread and waits for it for the stop time-out. True when it ended.
    virtual bool Terminate(uint32_t exitCode);
    virtual bool SetPriority(int32_t priority);
    virtual int32_t GetPriority();
    // Posts {1, param1, param2, this} to the front; without queue requests the stop and
    // returns 22.
    virtual uint32_t PostQuit(uintptr_t param1 = 0, uintptr_t param2 = 0);
    // As GetMsg, leaving the message queued.
    virtual uint32_t PeekMsg(ICMsg* msg, uint32_t id = 0, bool wait = true);
    // Answers a sent message with `result` (nothing for a posted one); clears msg->reply.
    virtual void ReplyMsg(ICMsg* msg, uint32_t result);
    // Appends a message; 0, or 22 without queue.
    virtual uint32_t PostMsg(uint32_t id, uintptr_t param1 = 0, uintptr_t param2 = 0,
                             uintptr_t param3 = 0);
    // Appends the record's id and parameters (its reply is ignored; null posts zeros).
    virtual uint32_t PostMsg(const ICMsg* msg);
    // Inserts a message at the head of the queue.
    virtual uint32_t PostMsgFront(uint32_t id, uintptr_t param1 = 0, uintptr_t param2 = 0,
                                  uintptr_t param3 = 0);
    virtual uint32_t PostMsgFront(const ICMsg* msg);
    // Appends a message {id, param1, 0, 0} that owns `payload`: the receiver's record takes it,
    // and it is freed if the message is never handled. 0, or 22 without queue (the payload is
    // then freed at once).
    uint32_t PostPayloadMsg(uint32_t id, std::unique_ptr<ICMsgPayload> payload,
                            uintptr_t param1 = 0);
    // Queues the message at the head and waits without limit for the reply, which it returns.
    // `status` (may be null) receives the wait status (0x08000000 when the message was thrown
    // away, or without queue, when the result is 22). Never send to the calling thread.
    virtual uint32_t SendMsg(uint32_t id, uintptr_t param1 = 0, uintptr_t param2 = 0,
                             uint32_t* status = nullptr, uintptr_t param3 = 0);
    virtual uint32_t SendMsg(const ICMsg* msg, uint32_t* status = nullptr);
    // Makes the queue if missing, runs Run(), clears `running`; returns 0. Sent messages left
    // in the queue are answered as unhandled.
    virtual uint32_t ThreadMain();

    // The kernel's identifier of the thread, 0 before the first Create.
    uint32_t GetThreadId() const { return threadId.load(std::memory_order_acquire); }
    ICMsgQueue* GetQueue() const { return queue.load(std::memory_order_acquire); }
    bool IsStopRequested() const { return stopRequested.load(std::memory_order_acquire); }
    bool IsSuspended() const { return suspended.load(std::memory_order_acquire); }
    // How long WaitForEnd waits from a thread other than the user-interface thread (30000 ms).
    uint32_t GetStopTimeOut() const { return stopTimeOut.load(std::memory_order_relaxed); }
    void SetStopTimeOut(uint32_t milliseconds) { stopTimeOut.store(milliseconds); }

protected:
    // Makes the queue if missing and returns it.
    ICMsgQueue* EnsureQueue();

    // Read by other threads without locking.
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> running{false};
    std::atomic<bool> suspended{true};
    std::atomic<uint32_t> exitCode{0};

private:
    // Where the thread procedure is.
    enum class Phase {
        kNone,       // no thread yet
        kParked,     // created, waiting at the gate for its first resume
        kInMain,     // past the gate, in ThreadMain
        kFinishing,  // ThreadMain has returned (or was skipped)
        kEnded,      // the procedure is done; only the join is left
    };

    void ThreadProcedure();
    bool IsOwnThread() const;
    bool HasThread();
    // A thread exists and has not left its loop (stateMutex held for IsLeaving).
    bool HasLiveThread();
    bool IsLeaving() const;
    // True when a quit message will reach the thread's loop: in ThreadMain and running.
    bool IsInLoop();
    uint32_t ResumeOnce();
    // Blocks the calling (own) thread while it is suspended.
    void WaitWhileSuspended();
    // Waits (if asked) for a message on the own thread, honouring a suspension before and
    // after the wait.
    void HonourSuspension(ICMsgQueue* current, bool wait);
    // WaitForEnd without its check of `running`.
    uint32_t WaitForThreadEnd();
    // Waits for the procedure to end; false on time-out.
    bool WaitForProcedureEnd(uint32_t milliseconds);
    // Joins the thread, letting a parked one leave without running; waits without limit.
    void CloseThreadHandle();

    std::atomic<ICMsgQueue*> queue{nullptr};
    std::atomic<uint32_t> stopTimeOut{30000};
    std::atomic<uint32_t> threadId{0};
    std::atomic<int32_t> priority{kICThreadPriorityNormal};

    // Guards the members below and signals their changes.
    std::mutex stateMutex;
    std::condition_variable stateChanged;
    std::thread thread;
    Phase phase = Phase::kNone;
    uint32_t suspendCount = 0;
    bool leaveGate = false;
    uint32_t endExitCode = 0;
};
