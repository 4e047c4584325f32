// The hand-over between callers and the logging thread, driven directly.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "modules/Lognest/EntryQueue.h"

namespace {

using lognest::EntryQueue;
using lognest::LogEntry;

LogEntry Text(const std::string& text) {
    LogEntry entry;
    entry.text = text;
    return entry;
}

TEST(EntryQueueTest, BatchHoldsEverythingPendingInOrder) {
    EntryQueue queue;
    ASSERT_TRUE(queue.Push(Text("a")));
    ASSERT_TRUE(queue.Push(Text("b")));
    EXPECT_EQ(queue.Pending(), 2);
    std::vector<LogEntry> batch;
    ASSERT_TRUE(queue.TakeBatch(batch));
    ASSERT_EQ(batch.size(), 2u);
    EXPECT_EQ(batch[0].text, "a");
    EXPECT_EQ(batch[1].text, "b");
    EXPECT_EQ(queue.Pending(), 2);  // taken is not written
    queue.MarkWritten();
    EXPECT_EQ(queue.Pending(), 0);
}

TEST(EntryQueueTest, StopDrainsFirstThenClosesAndRefuses) {
    EntryQueue queue;
    queue.Push(Text("last"));
    queue.RequestStop();
    std::vector<LogEntry> batch;
    ASSERT_TRUE(queue.TakeBatch(batch));  // the pending entry still comes out
    queue.MarkWritten();
    batch.clear();
    EXPECT_FALSE(queue.TakeBatch(batch));
    LogEntry late = Text("late");
    EXPECT_FALSE(queue.Push(std::move(late)));
    EXPECT_EQ(late.text, "late");  // a refused entry stays with the caller
    queue.WaitForWritten();        // closed: returns at once
}

TEST(EntryQueueTest, ConsumerSleepsUntilAnEntryArrives) {
    EntryQueue queue;
    std::atomic<bool> taken{false};
    std::thread consumer([&] {
        std::vector<LogEntry> batch;
        if (queue.TakeBatch(batch)) taken = true;
    });
    queue.Push(Text("wake"));
    consumer.join();
    EXPECT_TRUE(taken.load());
}

TEST(EntryQueueTest, WaitForWrittenCoversEntriesAcceptedBeforeIt) {
    EntryQueue queue;
    std::atomic<int> written{0};
    std::thread consumer([&] {
        std::vector<LogEntry> batch;
        while (queue.TakeBatch(batch)) {
            written += static_cast<int>(batch.size());
            queue.MarkWritten();
            batch.clear();
        }
    });
    constexpr int kProducers = 3;
    constexpr int kEach = 20000;
    std::vector<std::thread> producers;
    std::atomic<int> shortFlushes{0};
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                queue.Push(Text("x"));
                if (i % 1000 == 999) {
                    queue.WaitForWritten();
                    // Only this producer's own entries are certain to be in.
                    if (written.load() < i + 1) ++shortFlushes;
                }
            }
        });
    }
    for (auto& producer : producers) producer.join();
    queue.WaitForWritten();
    EXPECT_EQ(written.load(), kProducers * kEach);
    EXPECT_EQ(shortFlushes.load(), 0);
    EXPECT_EQ(queue.Pending(), 0);
    queue.RequestStop();
    consumer.join();
}

}  // namespace
