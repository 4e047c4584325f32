// The thread list's row model over the real registry.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "infra/ThreadManager.h"
#include "infra/ThreadManagerView.h"
#include "tests/support/CapturingLog.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> g_calls{0};

int SleepyWork(void*, int) {
    g_calls.fetch_add(1);
    return 5;
}

int QuitWork(void*, int) { return -1; }

template <typename Predicate>
bool WaitUntil(Predicate predicate) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class ThreadManagerViewTest : public ::testing::Test {
protected:
    void TearDown() override { manager.ExitAll(); }

    testsupport::ScopedCapturingLog log;
    ThreadManager& manager = ThreadManager::Instance();
    ThreadManagerView& view = ThreadManagerView::Instance();
};

TEST_F(ThreadManagerViewTest, HasFiveCaptionedColumns) {
    const auto& captions = ThreadManagerView::ColumnCaptions();
    ASSERT_EQ(captions.size(), 5u);
    EXPECT_STREQ(captions[0], "Thread Name");
    EXPECT_STREQ(captions[1], "Thread ID");
    EXPECT_STREQ(captions[2], "CPU Useage");
    EXPECT_STREQ(captions[3], "Kernel CPU Useage");
    EXPECT_STREQ(captions[4], "Thread State");
    EXPECT_EQ(ThreadManagerView::kColumnWidth, 100);
}

TEST_F(ThreadManagerViewTest, RowsShowNameIdUsageAndStateOfLiveThreads) {
    manager.AddThread("Viewed", &SleepyWork, nullptr, false);
    EXPECT_EQ(view.GetRowCount(), 1);
    ThreadViewRow row = view.GetRow(0);
    EXPECT_EQ(row.caption, "Viewed");
    ASSERT_EQ(row.subItems.size(), 4u);
    EXPECT_EQ(row.subItems[0], "0");
    EXPECT_EQ(row.subItems[3], "Suspended");

    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return view.GetRow(0).subItems.at(3) == "Not Busy :)"; }));
    row = view.GetRow(0);
    const SingleThread* thread = manager.GetThread(0);
    EXPECT_EQ(row.subItems[0], std::to_string(thread->ThreadId()));
    EXPECT_NE(row.subItems[0], "0");
    EXPECT_EQ(row.subItems[1], std::to_string(thread->GetCpuUsage()));
    EXPECT_EQ(row.subItems[2], std::to_string(thread->GetKernelCpuUsage()));
}

TEST_F(ThreadManagerViewTest, EndedThreadAndBadIndexShowErrorOnly) {
    manager.AddThread("Quitter", &QuitWork, nullptr, false);
    manager.AddThread("Stays", &SleepyWork, nullptr, false);
    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return manager.GetThread(0) == nullptr; }));
    EXPECT_EQ(view.GetRowCount(), 2);
    const ThreadViewRow ended = view.GetRow(0);
    EXPECT_EQ(ended.caption, "ERROR");
    EXPECT_TRUE(ended.subItems.empty());
    EXPECT_EQ(view.GetRow(1).caption, "Stays");
    EXPECT_EQ(view.GetRow(2).caption, "ERROR");
    EXPECT_EQ(view.GetRow(-1).caption, "ERROR");
    manager.ExitAll();
    EXPECT_EQ(view.GetRowCount(), 0);
}

}  // namespace
