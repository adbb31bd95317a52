#include "core/ICThread.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <system_error>
#include <utility>

#include "core/ICErrors.h"
#include "core/ICUiThread.h"

namespace {

// The nice value for each platform priority; false for a value that is not a priority.
bool NiceForPriority(int32_t priority, int* nice) {
    switch (priority) {
        case kICThreadPriorityIdle:
            *nice = 19;
            return true;
        case kICThreadPriorityLowest:
            *nice = 10;
            return true;
        case kICThreadPriorityBelowNormal:
            *nice = 5;
            return true;
        case kICThreadPriorityNormal:
            *nice = 0;
            return true;
        case kICThreadPriorityAboveNormal:
            *nice = -5;
            return true;
        case kICThreadPriorityHighest:
            *nice = -10;
            return true;
        case kICThreadPriorityTimeCritical:
            *nice = -20;
            return true;
        default:
            return false;
    }
}

}  // namespace

ICThread::ICThread() = default;

ICThread::~ICThread() {
    if (HasThread()) {
        stopRequested.store(true);
        // The stop flag alone is not seen by a loop blocked in its queue; the quit message
        // wakes it. A thread that has not reached its loop yet sees the flag and skips it.
        if (GetQueue() != nullptr && IsInLoop()) {
            PostQuit(0, 0);
        }
        while (suspended.load()) {
            if (Resume(false) == kICSuspendFailed) {
                break;
            }
        }
        if (running.load()) {
            WaitForEnd();
        }
    }
    CloseThreadHandle();
    delete queue.exchange(nullptr);
}

ICMsgQueue* ICThread::EnsureQueue() {
    ICMsgQueue* current = queue.load(std::memory_order_acquire);
    if (current != nullptr) {
        return current;
    }
    auto* created = new ICMsgQueue(this);
    if (queue.compare_exchange_strong(current, created, std::memory_order_acq_rel)) {
        return created;
    }
    delete created;
    return current;
}

bool ICThread::IsOwnThread() const {
    uint32_t id = GetThreadId();
    return id != 0 && id == ICGetCurrentThreadId();
}

bool ICThread::HasThread() {
    std::lock_guard lock(stateMutex);
    return thread.joinable();
}

bool ICThread::IsLeaving() const {
    return phase == Phase::kFinishing || phase == Phase::kEnded ||
           (phase == Phase::kInMain && !running.load());
}

bool ICThread::HasLiveThread() {
    std::lock_guard lock(stateMutex);
    return thread.joinable() && !IsLeaving();
}

bool ICThread::IsInLoop() {
    std::lock_guard lock(stateMutex);
    return thread.joinable() && phase == Phase::kInMain && running.load();
}

// --- receiving

void ICThread::WaitWhileSuspended() {
    std::unique_lock lock(stateMutex);
    stateChanged.wait(lock, [this] { return suspendCount == 0 || leaveGate; });
}

// The thread's own receives are where a suspension takes effect: before the wait and again
// after it, so that a thread suspended while it waited does not take the message that woke it.
void ICThread::HonourSuspension(ICMsgQueue* current, bool wait) {
    if (suspended.load()) {
        WaitWhileSuspended();
    }
    if (wait) {
        current->WaitForMessage();
        if (suspended.load()) {
            WaitWhileSuspended();
        }
    }
}

uint32_t ICThread::GetMsg(ICMsg* msg, uint32_t id, bool wait) {
    ICMsgQueue* current = GetQueue();
    if (current == nullptr) {
        return kICNoQueue;
    }
    if (msg != nullptr && IsOwnThread()) {
        HonourSuspension(current, wait);
        wait = false;
    }
    return current->GetMsg(msg, id, wait);
}

uint32_t ICThread::PeekMsg(ICMsg* msg, uint32_t id, bool wait) {
    ICMsgQueue* current = GetQueue();
    if (current == nullptr) {
        return kICNoQueue;
    }
    if (msg != nullptr && IsOwnThread()) {
        HonourSuspension(current, wait);
        wait = false;
    }
    return current->PeekMsg(msg, id, wait);
}

void ICThread::ReplyMsg(ICMsg* msg, uint32_t result) {
    ICMsgQueue::ReplyMsg(msg, result);
}

void ICThread::ClearMsgs() {
    if (ICMsgQueue* current = GetQueue()) {
        current->ClearMsgs();
    }
}

// --- posting and sending

uint32_t ICThread::PostMsg(uint32_t id, uintptr_t param1, uintptr_t param2, uintptr_t param3) {
    ICMsgQueue* current = GetQueue();
    return current != nullptr ? current->PostMsg(id, param1, param2, param3) : kICNoQueue;
}

uint32_t ICThread::PostMsg(const ICMsg* msg) {
    return msg != nullptr ? PostMsg(msg->id, msg->param1, msg->param2, msg->param3)
                          : PostMsg(0, 0, 0, 0);
}

uint32_t ICThread::PostMsgFront(uint32_t id, uintptr_t param1, uintptr_t param2, uintptr_t param3) {
    ICMsgQueue* current = GetQueue();
    return current != nullptr ? current->PostMsgFront(id, param1, param2, param3) : kICNoQueue;
}

uint32_t ICThread::PostMsgFront(const ICMsg* msg) {
    return msg != nullptr ? PostMsgFront(msg->id, msg->param1, msg->param2, msg->param3)
                          : PostMsgFront(0, 0, 0, 0);
}

uint32_t ICThread::PostPayloadMsg(uint32_t id, std::unique_ptr<ICMsgPayload> payload,
                                  uintptr_t param1) {
    ICMsgQueue* current = GetQueue();
    return current != nullptr ? current->PostPayloadMsg(id, std::move(payload), param1)
                              : kICNoQueue;
}

uint32_t ICThread::SendMsg(uint32_t id, uintptr_t param1, uintptr_t param2, uint32_t* status,
                           uintptr_t param3) {
    ICMsgQueue* current = GetQueue();
    if (current == nullptr) {
        if (status != nullptr) {
            *status = kICWaitFailed;
        }
        return kICNoQueue;
    }
    return current->SendMsg(id, param1, param2, status, param3);
}

uint32_t ICThread::SendMsg(const ICMsg* msg, uint32_t* status) {
    return msg != nullptr ? SendMsg(msg->id, msg->param1, msg->param2, status, msg->param3)
                          : SendMsg(0, 0, 0, status, 0);
}

uint32_t ICThread::PostQuit(uintptr_t param1, uintptr_t param2) {
    ICMsgQueue* current = GetQueue();
    if (current == nullptr) {
        RequestStop();
        return kICNoQueue;
    }
    return current->PostMsgFront(kICMsgQuit, param1, param2, reinterpret_cast<uintptr_t>(this));
}

// --- the loop

uint32_t ICThread::OnMessage(ICMsg* msg) {
    if (msg != nullptr && msg->id == kICMsgQuit) {
        stopRequested.store(true);
    }
    return 0;
}

// Answers the sender of the message being dispatched when the handler throws, so that an
// exception cannot leave the sender waiting for ever.
static uint32_t Dispatch(ICThread* thread, ICMsg* msg) {
    try {
        return thread->OnMessage(msg);
    } catch (...) {
        ICMsgQueue::DiscardMsg(msg);
        throw;
    }
}

void ICThread::Run() {
    EnsureQueue();
    ICMsg msg{};
    while (!stopRequested.load()) {
        if (GetMsg(&msg, 0, true) != kICOk) {
            continue;
        }
        uint32_t result = Dispatch(this, &msg);
        if (msg.reply != nullptr) {
            ReplyMsg(&msg, result);
        }
        msg.payload.reset();  // now, not when the next message comes
    }
}

uint32_t ICThread::ProcessMsgs() {
    ICMsg msg{};
    uint32_t result;
    while ((result = GetMsg(&msg, 0, false)) == kICOk) {
        if (stopRequested.load()) {
            ICMsgQueue::DiscardMsg(&msg);
            return kICOk;
        }
        uint32_t handled = Dispatch(this, &msg);
        if (msg.reply != nullptr) {
            ReplyMsg(&msg, handled);
        }
        msg.payload.reset();
    }
    return result;
}

uint32_t ICThread::ThreadMain() {
    ICMsgQueue* current = EnsureQueue();
    Run();
    running.store(false);
    current->ReleaseSenders();
    return 0;
}

void ICThread::ThreadProcedure() {
    bool runMain;
    {
        std::unique_lock lock(stateMutex);
        threadId.store(ICGetCurrentThreadId(), std::memory_order_release);
        phase = Phase::kParked;
        stateChanged.notify_all();
        stateChanged.wait(lock, [this] { return suspendCount == 0 || leaveGate; });
        if (leaveGate) {
            endExitCode = exitCode.load();
            phase = Phase::kEnded;
            stateChanged.notify_all();
            return;
        }
        runMain = !stopRequested.load();
        if (runMain) {
            running.store(true);
            phase = Phase::kInMain;
        } else {
            phase = Phase::kFinishing;
        }
    }
    if (runMain) {
        try {
            ThreadMain();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "thread \"%s\" ended by an exception: %s\n", GetName(),
                         error.what());
            exitCode.store(kICThreadNotEnded);
        } catch (...) {
            std::fprintf(stderr, "thread \"%s\" ended by an exception\n", GetName());
            exitCode.store(kICThreadNotEnded);
        }
        running.store(false);
    }
    {
        std::lock_guard lock(stateMutex);
        phase = Phase::kFinishing;
    }
    if (ICMsgQueue* current = GetQueue()) {
        current->ReleaseSenders();
    }
    std::lock_guard lock(stateMutex);
    endExitCode = exitCode.load();
    phase = Phase::kEnded;
    stateChanged.notify_all();
}

// --- life cycle

ICThreadHandle ICThread::Create() {
    EnsureQueue();
    std::unique_lock lock(stateMutex);
    if (thread.joinable()) {
        if (!IsLeaving()) {
            return thread.native_handle();
        }
        // The previous thread has left its loop but was never closed: it ends by itself and
        // only has to be joined.
        stateChanged.wait(lock, [this] { return phase == Phase::kEnded; });
        thread.join();
    }
    phase = Phase::kNone;
    suspendCount = 1;
    leaveGate = false;
    suspended.store(true);
    stopRequested.store(false);
    priority.store(kICThreadPriorityNormal);
    try {
        thread = std::thread([this] { ThreadProcedure(); });
    } catch (const std::system_error&) {
        return 0;
    }
    // The new thread reports its identifier before it parks at the gate.
    stateChanged.wait(lock, [this] { return phase != Phase::kNone; });
    return thread.native_handle();
}

uint32_t ICThread::Start() {
    if (!HasLiveThread()) {
        Create();
    }
    return Resume(true);
}

bool ICThread::IsRunning() {
    return running.load();
}

uint32_t ICThread::Suspend() {
    std::lock_guard lock(stateMutex);
    if (!thread.joinable() || phase == Phase::kEnded) {
        return kICSuspendFailed;
    }
    suspended.store(true);
    return suspendCount++;
}

uint32_t ICThread::ResumeOnce() {
    std::lock_guard lock(stateMutex);
    if (!thread.joinable()) {
        return kICSuspendFailed;
    }
    uint32_t previous = suspendCount;
    if (suspendCount > 0 && --suspendCount == 0) {
        stateChanged.notify_all();
    }
    return previous;
}

uint32_t ICThread::Resume(bool all) {
    uint32_t result;
    for (;;) {
        result = ResumeOnce();
        if (result == kICSuspendFailed) {
            break;
        }
        if (result < 2) {
            suspended.store(false);
            break;
        }
        if (!all) {
            break;
        }
    }
    return result;
}

uint32_t ICThread::Stop(uintptr_t param1, uintptr_t param2) {
    if (!HasThread()) {
        return 0;
    }
    // Only a thread in its loop gets the quit message: one that never started or has already
    // left the loop would otherwise find it in the queue when it is started again, and end at
    // once.
    if (GetQueue() != nullptr && IsInLoop()) {
        uint32_t result = PostQuit(param1, param2);
        if (result != kICOk) {
            CloseThreadHandle();
            return result;
        }
        // Waited for even if the thread has already cleared `running` by now: its exit code
        // is the answer, not the 0 of a thread that was never running.
        return WaitForThreadEnd();
    }
    if (running.load()) {
        return WaitForEnd();
    }
    CloseThreadHandle();
    return 0;
}

bool ICThread::WaitForProcedureEnd(uint32_t milliseconds) {
    std::unique_lock lock(stateMutex);
    auto ended = [this] { return phase == Phase::kEnded || !thread.joinable(); };
    if (milliseconds == kICInfinite) {
        stateChanged.wait(lock, ended);
        return true;
    }
    return stateChanged.wait_for(lock, std::chrono::milliseconds(milliseconds), ended);
}

uint32_t ICThread::WaitForEnd() {
    if (!HasThread() || !running.load()) {
        return 0;
    }
    return WaitForThreadEnd();
}

uint32_t ICThread::WaitForThreadEnd() {
    if (suspended.load()) {
        Resume(true);
    }
    if (IsOwnThread()) {
        return exitCode.load();
    }
    if (ICIsUiThread()) {
        // No time limit here, but the user-interface thread's events keep flowing: a worker
        // that hands something to the user interface before it ends gets its answer. The 1 ms
        // wait for the end keeps this polling loop from spinning a core.
        for (;;) {
            ICPumpUiEvents();
            std::this_thread::yield();
            if (WaitForProcedureEnd(1)) {
                break;
            }
        }
    } else if (!WaitForProcedureEnd(GetStopTimeOut())) {
        // A thread cannot be killed safely here (it may hold locks or be inside the C++
        // runtime). It is asked to stop and left running; whoever closes it later joins it.
        std::fprintf(stderr, "thread \"%s\" did not end within %u ms; left to end by itself\n",
                     GetName(), GetStopTimeOut());
        stopRequested.store(true);
        return kICThreadNotEnded;
    }
    uint32_t code;
    {
        std::lock_guard lock(stateMutex);
        code = endExitCode;
    }
    CloseThreadHandle();
    return code;
}

void ICThread::CloseThreadHandle() {
    std::unique_lock lock(stateMutex);
    if (!thread.joinable() || IsOwnThread()) {
        return;
    }
    // A parked thread leaves the gate without running anything.
    leaveGate = true;
    stateChanged.notify_all();
    if (!stateChanged.wait_for(lock, std::chrono::milliseconds(GetStopTimeOut()),
                               [this] { return phase == Phase::kEnded; })) {
        std::fprintf(stderr, "thread \"%s\" still running; waiting for it to end\n", GetName());
        stateChanged.wait(lock, [this] { return phase == Phase::kEnded; });
    }
    // The procedure touches nothing of the object after it has marked the end.
    thread.join();
}

void ICThread::RequestStop() {
    stopRequested.store(true);
}

bool ICThread::Terminate(uint32_t code) {
    if (!HasLiveThread()) {
        return false;
    }
    SetExitCode(code);
    stopRequested.store(true);
    if (GetQueue() != nullptr && IsInLoop()) {
        PostQuit(0, 0);
    }
    Resume(true);
    if (IsOwnThread() || !WaitForProcedureEnd(GetStopTimeOut())) {
        return false;
    }
    CloseThreadHandle();
    return true;
}

// --- exit code and priority

uint32_t ICThread::GetExitCode() {
    return exitCode.load();
}

void ICThread::SetExitCode(uint32_t code) {
    exitCode.store(code);
}

uint32_t ICThread::GetResult() {
    return exitCode.load();
}

bool ICThread::SetPriority(int32_t value) {
    int nice;
    if (!NiceForPriority(value, &nice) || !HasLiveThread()) {
        return false;
    }
    // On Linux each thread has its own nice value, addressed by its kernel identifier.
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(GetThreadId()), nice) != 0) {
        return false;
    }
    priority.store(value);
    return true;
}

int32_t ICThread::GetPriority() {
    return HasLiveThread() ? priority.load() : kICThreadPriorityError;
}
