#include "app/engine/UiThread.h"

#include <utility>

void CQueueUiThread::Post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        tasks.push_back(std::move(task));
    }
    posted.notify_one();
}

size_t CQueueUiThread::PendingCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return tasks.size();
}

std::function<void()> CQueueUiThread::Take(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex);
    posted.wait_until(lock, deadline, [this] { return !tasks.empty(); });
    if (tasks.empty()) {
        return {};
    }
    std::function<void()> task = std::move(tasks.front());
    tasks.pop_front();
    return task;
}

size_t CQueueUiThread::RunPending() {
    size_t ran = 0;
    // A deadline in the past: take what is queued, never wait.
    while (std::function<void()> task = Take(std::chrono::steady_clock::time_point::min())) {
        task();
        ++ran;
    }
    return ran;
}

void CQueueUiThread::RunFor(std::chrono::milliseconds duration) {
    RunUntil([] { return false; }, duration);
}

bool CQueueUiThread::RunUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        if (std::function<void()> task = Take(deadline)) {
            task();
        }
    }
    return true;
}
