// The queue that stands for the user-interface thread, and the graph's hidden window on it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/engine/CViewerGraph.h"
#include "app/engine/UiThread.h"

namespace {

TEST(CQueueUiThread, RunsTasksPostedFromOtherThreadsInOrder) {
    CQueueUiThread ui;
    std::vector<int> ran;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            ui.Post([&ran, i] { ran.push_back(i); });
        }
    });
    EXPECT_TRUE(ui.RunUntil([&] { return ran.size() == 100; }, std::chrono::seconds(10)));
    poster.join();
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(ran[size_t(i)], i);
    }
}

TEST(CQueueUiThread, RunPendingRunsWhatTasksQueueAndRunUntilTimesOut) {
    CQueueUiThread ui;
    int ran = 0;
    ui.Post([&] {
        ++ran;
        ui.Post([&] { ++ran; });
    });
    EXPECT_EQ(ui.RunPending(), 2u);
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(ui.RunPending(), 0u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ui.RunUntil([] { return false; }, std::chrono::milliseconds(30)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(CGraphWindow, DropsEventsPostedBeforeADropAndEverythingAfterItIsGone) {
    CQueueUiThread ui;
    std::vector<uint32_t> handled;
    auto window = std::make_unique<CGraphWindow>(
        ui, CViewerGraph::kMsgGraphEvent,
        [&](uint32_t message, uintptr_t, intptr_t) { handled.push_back(message); });
    window->PostWindowMessage(CViewerGraph::kMsgGraphEvent, 0, 0);
    window->PostWindowMessage(CViewerGraph::kMsgRetune, 0, 0);
    window->DropPendingEvents();
    window->PostWindowMessage(CViewerGraph::kMsgGraphEvent, 0, 0);
    ui.RunPending();
    EXPECT_EQ(handled,
              (std::vector<uint32_t>{CViewerGraph::kMsgRetune, CViewerGraph::kMsgGraphEvent}));

    window->PostWindowMessage(CViewerGraph::kMsgGraphEvent, 0, 0);
    window.reset();
    ui.RunPending();
    EXPECT_EQ(handled.size(), 2u);
}

}  // namespace
