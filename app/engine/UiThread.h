#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

// The thread the engine lives on. Every engine object (graphs, windows, their timers' and
// graph events' handlers) is used on that one thread; other threads hand it work through Post.
class IUiThread {
public:
    virtual ~IUiThread() = default;
    // Queues `task` to run on the user-interface thread. Callable from any thread; never
    // blocks and never runs the task itself.
    virtual void Post(std::function<void()> task) = 0;
};

// A user-interface thread made of a plain queue: whoever calls RunPending, RunFor or RunUntil
// is that thread for the duration of the call. The tests and the headless application run the
// engine on it.
class CQueueUiThread final : public IUiThread {
public:
    void Post(std::function<void()> task) override;

    // Runs the tasks queued now and those they queue, until the queue is empty. Returns how
    // many ran.
    size_t RunPending();
    // Runs tasks as they come until `duration` has passed.
    void RunFor(std::chrono::milliseconds duration);
    // Runs tasks as they come until `done` is true (checked before waiting and after each
    // task) or `timeout` has passed. Returns `done`.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    size_t PendingCount();

private:
    // Takes the next task, waiting until `deadline` for one; empty when none came.
    std::function<void()> Take(std::chrono::steady_clock::time_point deadline);

    std::mutex mutex;
    std::condition_variable posted;
    std::deque<std::function<void()>> tasks;
};
