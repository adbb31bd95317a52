#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/ICErrors.h"
#include "core/ICThread.h"
#include "core/ICUiThread.h"

namespace {

using namespace std::chrono_literals;

// Generous bounds: the tests run under ThreadSanitizer on a loaded machine.
constexpr auto kPatience = 20s;

// Polls `condition` until it holds or kPatience has passed.
bool Eventually(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Message identifiers of the test threads.
constexpr uint32_t kMsgBlock = 50;  // the handler waits for `gate` before it returns
constexpr uint32_t kMsgThrow = 66;  // the handler throws

// A thread that records what it handles and answers param1 * 2.
class RecordingThread : public ICThread {
public:
    ~RecordingThread() override { Stop(0, 0); }

    uint32_t OnMessage(ICMsg* msg) override {
        {
            std::lock_guard lock(mutex);
            handled.push_back(msg->id);
        }
        if (msg->id == kMsgBlock) {
            blocked.Signal();
            gate.Wait(kICInfinite);
        } else if (msg->id == kMsgThrow) {
            throw std::runtime_error("handler failed");
        }
        ICThread::OnMessage(msg);
        return static_cast<uint32_t>(msg->param1 * 2);
    }

    std::vector<uint32_t> Handled() {
        std::lock_guard lock(mutex);
        return handled;
    }

    ICSemaphore blocked;  // signalled when the handler starts to block
    ICSemaphore gate;     // releases a blocked handler

private:
    std::mutex mutex;
    std::vector<uint32_t> handled;
};

// The result and wait status of a SendMsg made on a thread of its own.
struct Sender {
    Sender(ICThread& target, uint32_t id, uintptr_t param1)
        : thread([this, &target, id, param1] {
              uint32_t waitStatus = 12345;
              result = target.SendMsg(id, param1, 0, &waitStatus, 0);
              status = waitStatus;
              done = true;
          }) {}
    ~Sender() { thread.join(); }

    std::atomic<uint32_t> result{0};
    std::atomic<uint32_t> status{12345};
    std::atomic<bool> done{false};
    std::thread thread;
};

std::vector<uint32_t> DrainIds(ICThread& thread) {
    std::vector<uint32_t> ids;
    ICMsg msg;
    while (thread.GetMsg(&msg, 0, false) == kICOk) {
        ids.push_back(msg.id);
    }
    return ids;
}

}  // namespace

// --- queue order and selection (the thread is created but never resumed, so the test thread
// receives)

TEST(ICThreadQueue, FrontMessagesComeFirstAndInReverseOrderOfPosting) {
    ICThread thread;
    ASSERT_NE(thread.Create(), 0u);
    EXPECT_EQ(thread.PostMsg(10), kICOk);
    EXPECT_EQ(thread.PostMsg(11), kICOk);
    EXPECT_EQ(thread.PostMsgFront(20), kICOk);
    EXPECT_EQ(thread.PostMsgFront(21), kICOk);
    EXPECT_EQ(DrainIds(thread), (std::vector<uint32_t>{21, 20, 10, 11}));
}

TEST(ICThreadQueue, GetMsgByIdentifierTakesTheFirstMatchAndLeavesTheRest) {
    ICThread thread;
    thread.Create();
    thread.PostMsg(5, 1);
    thread.PostMsg(7, 2);
    thread.PostMsg(7, 3);

    ICMsg msg;
    ASSERT_EQ(thread.GetMsg(&msg, 7, false), kICOk);
    EXPECT_EQ(msg.id, 7u);
    EXPECT_EQ(msg.param1, 2u);
    EXPECT_EQ(msg.reply, nullptr);

    msg.id = 99;
    EXPECT_EQ(thread.GetMsg(&msg, 9, false), kICNoMessage);
    EXPECT_EQ(msg.id, 0u);

    ASSERT_EQ(thread.GetMsg(&msg, 0, false), kICOk);
    EXPECT_EQ(msg.id, 5u);
    ASSERT_EQ(thread.GetMsg(&msg, 0, false), kICOk);
    EXPECT_EQ(msg.param1, 3u);
    EXPECT_EQ(thread.GetMsg(&msg, 0, false), kICNoMessage);
}

TEST(ICThreadQueue, PeekLeavesTheMessageAndRecordFormsCopyTheWords) {
    ICThread thread;
    thread.Create();
    ICMsg posted{4, 41, 42, 43, reinterpret_cast<ICCondition*>(0x1234)};
    thread.PostMsg(&posted);
    thread.PostMsgFront(nullptr);  // a message of zeros

    ICMsg msg;
    ASSERT_EQ(thread.PeekMsg(&msg, 4, false), kICOk);
    EXPECT_EQ(msg.param3, 43u);
    EXPECT_EQ(msg.reply, nullptr);  // the record's reply is not posted
    ASSERT_EQ(thread.PeekMsg(&msg, 0, false), kICOk);
    EXPECT_EQ(msg.id, 0u);
    EXPECT_EQ(thread.GetQueue()->GetCount(), 2);
    EXPECT_EQ(DrainIds(thread), (std::vector<uint32_t>{0, 4}));
}

TEST(ICThreadQueue, WaitingReceiveReturnsWhenAnotherThreadPosts) {
    ICThread thread;
    thread.Create();
    std::thread poster([&] {
        std::this_thread::sleep_for(30ms);
        thread.PostMsg(8, 80);
    });
    ICMsg msg;
    EXPECT_EQ(thread.GetMsg(&msg, 0, true), kICOk);
    EXPECT_EQ(msg.param1, 80u);
    poster.join();
}

TEST(ICThreadQueue, WithoutQueueEveryMessagingCallReturns22) {
    ICThread thread;
    ICMsg msg;
    uint32_t status = 0;
    EXPECT_EQ(thread.PostMsg(5), kICNoQueue);
    EXPECT_EQ(thread.PostMsgFront(5), kICNoQueue);
    EXPECT_EQ(thread.GetMsg(&msg, 0, true), kICNoQueue);
    EXPECT_EQ(thread.PeekMsg(&msg, 0, false), kICNoQueue);
    EXPECT_EQ(thread.SendMsg(5, 0, 0, &status, 0), kICNoQueue);
    EXPECT_EQ(status, kICWaitFailed);
    EXPECT_FALSE(thread.IsStopRequested());
    EXPECT_EQ(thread.PostQuit(0, 0), kICNoQueue);
    EXPECT_TRUE(thread.IsStopRequested());

    EXPECT_EQ(thread.Stop(0, 0), 0u);
    EXPECT_EQ(thread.WaitForEnd(), 0u);
    EXPECT_EQ(thread.Resume(true), kICSuspendFailed);
    EXPECT_EQ(thread.Suspend(), kICSuspendFailed);
    EXPECT_EQ(thread.GetPriority(), kICThreadPriorityError);
    EXPECT_FALSE(thread.SetPriority(kICThreadPriorityNormal));
    EXPECT_FALSE(thread.Terminate(1));
    EXPECT_EQ(thread.GetQueue(), nullptr);
}

TEST(ICThreadQueue, NullRecordIsRejected) {
    ICThread thread;
    thread.Create();
    thread.PostMsg(5);
    EXPECT_EQ(thread.GetMsg(nullptr, 0, true), kICNoQueue);
    EXPECT_EQ(thread.GetQueue()->GetCount(), 1);
}

// --- the loop

TEST(ICThreadLoop, StopEndsAThreadBlockedInItsQueuePromptly) {
    RecordingThread thread;
    thread.SetExitCode(42);
    EXPECT_EQ(thread.Start(), 1u);  // the previous suspend count
    EXPECT_FALSE(thread.IsSuspended());
    ASSERT_TRUE(Eventually([&] { return thread.IsRunning(); }));
    std::this_thread::sleep_for(20ms);  // let it block in its queue

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(thread.Stop(0, 0), 42u);
    // Far below the 30 s stop time-out: the quit message went to the front.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.Handled(), std::vector<uint32_t>{kICMsgQuit});
}

TEST(ICThreadLoop, StopOvertakesQueuedMessages) {
    RecordingThread thread;
    thread.Start();
    thread.PostMsg(kMsgBlock);
    ASSERT_EQ(thread.blocked.Wait(20000), kICOk);
    thread.PostMsg(11);
    thread.PostMsg(12);
    std::atomic<uint32_t> stopResult{1};
    std::thread stopper([&] { stopResult = thread.Stop(0, 0); });
    ASSERT_TRUE(Eventually([&] { return thread.GetQueue()->GetCount() == 3; }));
    thread.gate.Signal();
    stopper.join();
    EXPECT_EQ(stopResult, 0u);
    EXPECT_EQ(thread.Handled(), (std::vector<uint32_t>{kMsgBlock, kICMsgQuit}));
    EXPECT_EQ(DrainIds(thread), (std::vector<uint32_t>{11, 12}));
}

TEST(ICThreadLoop, SendMsgReturnsTheHandlerResultAndOvertakesPostedMessages) {
    RecordingThread thread;
    thread.Start();
    thread.PostMsg(kMsgBlock);
    ASSERT_EQ(thread.blocked.Wait(20000), kICOk);
    thread.PostMsg(11);
    thread.PostMsg(12);
    {
        Sender sender(thread, 30, 21);
        ASSERT_TRUE(Eventually([&] { return thread.GetQueue()->GetCount() == 3; }));
        thread.gate.Signal();
        ASSERT_TRUE(Eventually([&] { return sender.done.load(); }));
        EXPECT_EQ(sender.result, 42u);
        EXPECT_EQ(sender.status, kICOk);
    }
    ASSERT_TRUE(Eventually([&] { return thread.Handled().size() == 4; }));
    EXPECT_EQ(thread.Handled(), (std::vector<uint32_t>{kMsgBlock, 30, 11, 12}));
}

TEST(ICThreadLoop, ConcurrentSendersEachGetTheirOwnAnswer) {
    RecordingThread thread;
    thread.Start();
    std::atomic<int> wrong{0};
    std::vector<std::thread> senders;
    for (int s = 0; s < 4; ++s) {
        senders.emplace_back([&, s] {
            for (uintptr_t i = 0; i < 200; ++i) {
                uintptr_t value = s * 1000 + i;
                uint32_t status = 1;
                if (thread.SendMsg(9, value, 0, &status, 0) != value * 2 || status != kICOk) {
                    ++wrong;
                }
                thread.PostMsg(10, value);
            }
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(Eventually([&] { return thread.Handled().size() == 4u * 200 * 2; }));
}

TEST(ICThreadLoop, ProcessMsgsHandlesQueuedMessagesAndStopsAtTheStopRequest) {
    RecordingThread thread;
    thread.Create();
    thread.PostMsg(10);
    thread.PostMsg(11);
    EXPECT_EQ(thread.ProcessMsgs(), kICNoMessage);
    EXPECT_EQ(thread.Handled(), (std::vector<uint32_t>{10, 11}));

    thread.PostMsg(12);
    thread.PostMsg(kICMsgQuit);
    thread.PostMsg(13);  // taken after the stop request: dropped
    thread.PostMsg(14);  // left queued
    EXPECT_EQ(thread.ProcessMsgs(), kICOk);
    EXPECT_EQ(thread.Handled(), (std::vector<uint32_t>{10, 11, 12, kICMsgQuit}));
    EXPECT_EQ(DrainIds(thread), std::vector<uint32_t>{14});
}

TEST(ICThreadLoop, ThreadMainRunsTheLoopOnTheCallingThread) {
    RecordingThread thread;
    thread.PostMsg(5);  // no queue yet
    EXPECT_EQ(thread.GetQueue(), nullptr);
    std::thread poster([&] {
        ASSERT_TRUE(Eventually([&] { return thread.GetQueue() != nullptr; }));
        thread.PostMsg(6);
        thread.PostQuit(0, 0);
    });
    EXPECT_EQ(thread.ThreadMain(), 0u);
    poster.join();
    EXPECT_EQ(thread.Handled().back(), kICMsgQuit);
}

// --- a message's payload is freed exactly once, whichever way the message goes

// Counts its destructions in `freed`.
class CountedPayload : public ICMsgPayload {
public:
    explicit CountedPayload(std::atomic<int>* freed) : freed(freed) {}
    ~CountedPayload() override { ++*freed; }

private:
    std::atomic<int>* freed;
};

// A thread whose handler notes whether the message it handles still has its payload.
class PayloadThread : public ICThread {
public:
    ~PayloadThread() override { Stop(0, 0); }

    uint32_t OnMessage(ICMsg* msg) override {
        if (msg->id == 20) {
            sawPayload = msg->payload != nullptr && msg->param1 == 7;
            handled.Signal();
        }
        return ICThread::OnMessage(msg);
    }

    std::atomic<bool> sawPayload{false};
    ICSemaphore handled;
};

TEST(ICThreadPayload, APayloadGoesWithItsMessageHandledPeekedDiscardedClearedOrDestroyed) {
    std::atomic<int> freed{0};
    auto payload = [&] { return std::make_unique<CountedPayload>(&freed); };

    // Handled by the loop: the handler sees it, the loop frees it after the dispatch.
    {
        PayloadThread thread;
        thread.Start();
        ASSERT_EQ(thread.PostPayloadMsg(20, payload(), 7), kICOk);
        ASSERT_EQ(thread.handled.Wait(20000), kICOk);
        EXPECT_TRUE(thread.sawPayload);
        EXPECT_TRUE(Eventually([&] { return freed == 1; }));
    }
    EXPECT_EQ(freed, 1);

    // Peeked, then received, then discarded; a later receive into the record frees the last.
    ICThread thread;
    thread.Create();  // never resumed: the test thread receives
    ASSERT_EQ(thread.PostPayloadMsg(21, payload()), kICOk);
    ASSERT_EQ(thread.PostPayloadMsg(22, payload()), kICOk);
    ICMsg msg;
    ASSERT_EQ(thread.PeekMsg(&msg, 21, false), kICOk);
    EXPECT_EQ(msg.payload, nullptr);  // it stays with the queued message
    ASSERT_EQ(thread.GetMsg(&msg, 21, false), kICOk);
    ASSERT_NE(msg.payload, nullptr);
    EXPECT_EQ(freed, 1);
    ICMsgQueue::DiscardMsg(&msg);
    EXPECT_EQ(freed, 2);
    ASSERT_EQ(thread.GetMsg(&msg, 22, false), kICOk);
    ASSERT_EQ(thread.GetMsg(&msg, 0, false), kICNoMessage);
    EXPECT_EQ(freed, 3);

    // Cleared with the queue, destroyed with the thread, or posted to no queue at all.
    ASSERT_EQ(thread.PostPayloadMsg(23, payload()), kICOk);
    thread.ClearMsgs();
    EXPECT_EQ(freed, 4);
    {
        ICThread doomed;
        doomed.Create();
        ASSERT_EQ(doomed.PostPayloadMsg(24, payload()), kICOk);
        ASSERT_EQ(doomed.PostPayloadMsg(25, payload()), kICOk);
    }
    EXPECT_EQ(freed, 6);
    ICThread queueless;
    EXPECT_EQ(queueless.PostPayloadMsg(26, payload()), kICNoQueue);
    EXPECT_EQ(freed, 7);
}

// --- sent messages that are never handled still release their sender

TEST(ICThreadSend, ClearMsgsReleasesAWaitingSender) {
    ICThread thread;
    thread.Create();
    Sender sender(thread, 30, 1);
    ASSERT_TRUE(Eventually([&] { return thread.GetQueue()->GetCount() == 1; }));
    thread.ClearMsgs();
    ASSERT_TRUE(Eventually([&] { return sender.done.load(); }));
    EXPECT_EQ(sender.result, kICUnansweredReply);
    EXPECT_EQ(sender.status, kICWaitFailed);
}

TEST(ICThreadSend, DestroyingTheThreadReleasesAWaitingSender) {
    auto thread = std::make_unique<ICThread>();
    thread->Create();  // never resumed: nobody will handle the message
    Sender sender(*thread, 30, 1);
    ASSERT_TRUE(Eventually([&] { return thread->GetQueue()->GetCount() == 1; }));
    thread.reset();
    ASSERT_TRUE(Eventually([&] { return sender.done.load(); }));
    EXPECT_EQ(sender.result, kICUnansweredReply);
    EXPECT_EQ(sender.status, kICWaitFailed);
}

TEST(ICThreadSend, ProcessMsgsAfterTheStopRequestReleasesTheSender) {
    RecordingThread thread;
    thread.Create();
    Sender sender(thread, 30, 1);
    ASSERT_TRUE(Eventually([&] { return thread.GetQueue()->GetCount() == 1; }));
    thread.RequestStop();
    EXPECT_EQ(thread.ProcessMsgs(), kICOk);
    ASSERT_TRUE(Eventually([&] { return sender.done.load(); }));
    EXPECT_EQ(sender.result, kICUnansweredReply);
    EXPECT_EQ(sender.status, kICWaitFailed);
    EXPECT_TRUE(thread.Handled().empty());
}

TEST(ICThreadSend, LoopEndingWithTheMessageQueuedReleasesTheSender) {
    RecordingThread thread;
    thread.Start();
    thread.PostMsg(kMsgBlock);
    ASSERT_EQ(thread.blocked.Wait(20000), kICOk);
    thread.PostMsg(11);  // a posted message stays for a restart
    thread.RequestStop();
    Sender sender(thread, 30, 1);
    ASSERT_TRUE(Eventually([&] { return thread.GetQueue()->GetCount() == 2; }));
    thread.gate.Signal();
    ASSERT_TRUE(Eventually([&] { return sender.done.load(); }));
    EXPECT_EQ(sender.result, kICUnansweredReply);
    EXPECT_EQ(sender.status, kICWaitFailed);
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    EXPECT_EQ(thread.GetQueue()->GetCount(), 1);
}

TEST(ICThreadSend, HandlerExceptionReleasesTheSenderAndEndsTheThread) {
    RecordingThread thread;
    thread.Start();
    uint32_t status = 0;
    EXPECT_EQ(thread.SendMsg(kMsgThrow, 1, 0, &status, 0), kICUnansweredReply);
    EXPECT_EQ(status, kICWaitFailed);
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    EXPECT_EQ(thread.GetExitCode(), kICThreadNotEnded);
}

// --- life cycle

TEST(ICThreadLifeCycle, RestartAfterStopKeepsTheQueuedMessages) {
    RecordingThread thread;
    thread.Start();
    EXPECT_EQ(thread.SendMsg(9, 4), 8u);
    thread.Stop(0, 0);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_TRUE(thread.IsStopRequested());

    thread.PostMsg(9, 5);  // queued while stopped
    EXPECT_NE(thread.Create(), 0u);
    EXPECT_FALSE(thread.IsStopRequested());
    EXPECT_TRUE(thread.IsSuspended());
    thread.Resume(true);
    EXPECT_EQ(thread.SendMsg(9, 6), 12u);
    ASSERT_TRUE(Eventually([&] { return thread.Handled().size() == 4; }));
    EXPECT_EQ(thread.Handled(), (std::vector<uint32_t>{9, kICMsgQuit, 9, 9}));
}

TEST(ICThreadLifeCycle, StartAgainAfterTheThreadEndedByItself) {
    RecordingThread thread;
    thread.Start();
    uint32_t firstId = thread.GetThreadId();
    thread.PostQuit(0, 0);
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    std::this_thread::sleep_for(10ms);

    // Once without Stop (Start reaps the ended thread), once after a Stop of the ended thread
    // (which must not leave a quit message behind for the new thread).
    thread.Start();
    EXPECT_EQ(thread.SendMsg(9, 1), 2u);
    EXPECT_NE(thread.GetThreadId(), firstId);
    thread.PostQuit(0, 0);
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    EXPECT_EQ(thread.Stop(0, 0), 0u);
    thread.Start();
    EXPECT_EQ(thread.SendMsg(9, 2), 4u);
    EXPECT_TRUE(thread.IsRunning());
}

TEST(ICThreadLifeCycle, ThreadThatWasNeverResumedRunsNothing) {
    {
        RecordingThread thread;
        thread.Create();
        thread.PostMsg(10);
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_EQ(thread.WaitForEnd(), 0u);
        EXPECT_EQ(thread.Stop(0, 0), 0u);
        EXPECT_TRUE(thread.Handled().empty());
        // The stop left no quit behind: a later start handles the message and keeps running.
        thread.Start();
        ASSERT_TRUE(Eventually([&] { return thread.Handled().size() == 1; }));
        EXPECT_TRUE(thread.IsRunning());
    }
    {
        RecordingThread thread;
        thread.Create();
        thread.PostMsg(10);
    }  // destroyed while parked
}

TEST(ICThreadLifeCycle, SuspendTakesEffectAtTheNextMessageWait) {
    RecordingThread thread;
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return thread.IsRunning(); }));
    EXPECT_EQ(thread.Suspend(), 0u);
    EXPECT_EQ(thread.Suspend(), 1u);
    EXPECT_TRUE(thread.IsSuspended());
    thread.PostMsg(10);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(thread.Handled().empty());
    EXPECT_EQ(thread.GetQueue()->GetCount(), 1);

    EXPECT_EQ(thread.Resume(false), 2u);
    EXPECT_TRUE(thread.IsSuspended());
    EXPECT_EQ(thread.Resume(false), 1u);
    EXPECT_FALSE(thread.IsSuspended());
    ASSERT_TRUE(Eventually([&] { return thread.Handled().size() == 1; }));
}

TEST(ICThreadLifeCycle, DestroyingASuspendedRunningThreadEndsIt) {
    auto thread = std::make_unique<ICThread>();
    thread->Start();
    ASSERT_TRUE(Eventually([&] { return thread->IsRunning(); }));
    thread->Suspend();
    thread->Suspend();
    thread.reset();  // must resume, stop and join it
}

TEST(ICThreadLifeCycle, StopTimeOutReturnsMinusOneAndTheThreadIsJoinedLater) {
    RecordingThread thread;
    thread.SetStopTimeOut(50);
    thread.Start();
    thread.PostMsg(kMsgBlock);
    ASSERT_EQ(thread.blocked.Wait(20000), kICOk);
    EXPECT_EQ(thread.Stop(0, 0), kICThreadNotEnded);
    EXPECT_TRUE(thread.IsRunning());  // not killed
    EXPECT_TRUE(thread.IsStopRequested());
    thread.gate.Signal();
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    thread.SetStopTimeOut(30000);
    thread.Stop(0, 0);
    // The loop ended at the stop request after the blocked message.
    EXPECT_EQ(thread.Handled(), std::vector<uint32_t>{kMsgBlock});
}

TEST(ICThreadLifeCycle, TerminateEndsTheThreadWithTheGivenCode) {
    ICThread thread;
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return thread.IsRunning(); }));
    EXPECT_TRUE(thread.Terminate(9));
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.GetExitCode(), 9u);
    EXPECT_FALSE(thread.Terminate(9));  // no thread any more
}

TEST(ICThreadLifeCycle, StopFromTheThreadItselfDoesNotWaitForItself) {
    class SelfStopping : public ICThread {
    public:
        ~SelfStopping() override { Stop(0, 0); }
        uint32_t OnMessage(ICMsg* msg) override {
            if (msg->id == 5) {
                stopResult = Stop(0, 0);
            }
            return ICThread::OnMessage(msg);
        }
        std::atomic<uint32_t> stopResult{1};
    };
    SelfStopping thread;
    thread.SetExitCode(0);
    thread.Start();
    thread.PostMsg(5);
    ASSERT_TRUE(Eventually([&] { return thread.stopResult == 0 && !thread.IsRunning(); }));
}

TEST(ICThreadLifeCycle, PriorityIsSetAndReadBack) {
    ICThread thread;
    thread.Create();
    EXPECT_EQ(thread.GetPriority(), kICThreadPriorityNormal);
    EXPECT_FALSE(thread.SetPriority(7));  // not a priority
    // Lowering a priority needs no privilege.
    EXPECT_TRUE(thread.SetPriority(kICThreadPriorityLowest));
    EXPECT_EQ(thread.GetPriority(), kICThreadPriorityLowest);
    EXPECT_NE(thread.GetThreadId(), 0u);
}

// --- the user-interface thread

TEST(ICThreadUi, WaitForEndOnTheUiThreadPumpsItsEvents) {
    // The "user interface": events that only the UI thread may run, delivered by the pump.
    struct UiEvents {
        std::mutex mutex;
        std::deque<std::function<void()>> pending;
        static void Pump(void* context) {
            auto* self = static_cast<UiEvents*>(context);
            std::unique_lock lock(self->mutex);
            while (!self->pending.empty()) {
                auto event = std::move(self->pending.front());
                self->pending.pop_front();
                lock.unlock();
                event();
                lock.lock();
            }
        }
    } events;

    // A worker that, when asked to stop, first hands a request to the UI and waits for it.
    class Worker : public ICThread {
    public:
        explicit Worker(UiEvents& events) : events(events) {}
        ~Worker() override { Stop(0, 0); }
        uint32_t OnMessage(ICMsg* msg) override {
            if (msg->id == kICMsgQuit) {
                {
                    std::lock_guard lock(events.mutex);
                    events.pending.push_back([this] {
                        ranOnUiThread = ICIsUiThread();
                        answered.Signal();
                    });
                }
                answeredInTime = answered.Wait(20000) == kICOk;
            }
            return ICThread::OnMessage(msg);
        }
        UiEvents& events;
        ICSemaphore answered;
        std::atomic<bool> ranOnUiThread{false};
        std::atomic<bool> answeredInTime{false};
    } worker(events);

    ICSetUiThreadId(ICGetCurrentThreadId());
    ICSetUiEventPump(&UiEvents::Pump, &events);
    EXPECT_TRUE(ICIsUiThread());
    worker.SetExitCode(3);
    worker.Start();
    ASSERT_TRUE(Eventually([&] { return worker.IsRunning(); }));
    EXPECT_EQ(worker.Stop(0, 0), 3u);
    ICSetUiEventPump(nullptr, nullptr);
    ICSetUiThreadId(0);

    EXPECT_TRUE(worker.answeredInTime);
    EXPECT_TRUE(worker.ranOnUiThread);
    EXPECT_FALSE(worker.IsRunning());
}

// --- the reply slot

TEST(ICThreadReplySlot, AbandonFailsTheWaitInProgressAndEveryLaterOne) {
    ICCondition reply;
    std::atomic<uint32_t> result{0};
    std::thread waiter([&] { result = reply.Wait(kICInfinite); });
    std::this_thread::sleep_for(10ms);
    reply.Abandon();
    waiter.join();
    EXPECT_EQ(result, kICWaitFailed);
    reply.Signal();
    EXPECT_EQ(reply.Wait(0), kICWaitFailed);
    EXPECT_EQ(reply.Wait(10), kICWaitFailed);
}

TEST(ICThreadReplySlot, WaiterMayDestroyTheSlotAsSoonAsItIsReleased) {
    // The sender's pattern: a slot on the waiter's stack, signalled or abandoned by another
    // thread; the sanitizer builds catch any access to the slot after the waiter left.
    for (int i = 0; i < 500; ++i) {
        std::atomic<ICCondition*> shared{nullptr};
        std::thread replier([&, i] {
            ICCondition* slot;
            while ((slot = shared.load()) == nullptr) {
                std::this_thread::yield();
            }
            if (i % 2 == 0) {
                slot->Signal();
            } else {
                slot->Abandon();
            }
        });
        {
            auto slot = std::make_unique<ICCondition>();
            shared = slot.get();
            EXPECT_EQ(slot->Wait(kICInfinite), i % 2 == 0 ? kICOk : kICWaitFailed);
        }
        replier.join();
    }
}
