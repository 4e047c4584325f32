#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "diag/PackRecorderManager.h"

namespace {

void CountNotify(void* context) { static_cast<std::atomic<int>*>(context)->fetch_add(1); }

class OneWayPackRecTest : public ::testing::Test {
protected:
    void SetUp() override { rec.SetEnabled(true); }
    void Add(const std::string& bytes) { rec.AddRecord(bytes.data(), static_cast<int>(bytes.size())); }
    OneWayPackRec rec;
};

TEST_F(OneWayPackRecTest, RecordsRawBytesHexTextAndSequence) {
    rec.AddRecord("\x01\xAB", 2, 77, 0);
    auto record = rec.GetViewItem(0);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->hexText, "01 AB ");
    EXPECT_EQ(record->rawBytes, std::string("\x01\xAB", 2));
    EXPECT_EQ(record->sequence, 1);
    EXPECT_EQ(record->sessionId, 77);
    EXPECT_EQ(record->packOrder, 0);
    EXPECT_EQ(record->time.size(), 8u);  // HH:MM:SS
    EXPECT_FALSE(rec.GetViewItem(1).has_value());
    EXPECT_FALSE(rec.GetViewItem(-1).has_value());
}

TEST_F(OneWayPackRecTest, DisabledDirectionOnlyCounts) {
    rec.SetEnabled(false);
    Add("ab");
    Add("cd");
    EXPECT_EQ(rec.GetPacketCount(), 2u);
    EXPECT_EQ(rec.GetRecordCount(), 0);
    rec.SetEnabled(true);
    Add("ef");
    EXPECT_EQ(rec.GetViewItem(0)->sequence, 3);
}

TEST_F(OneWayPackRecTest, AtTheLimitTheListEmptiesAndTheSequenceGoesOn) {
    for (int i = 0; i < OneWayPackRec::kMaxRecords; ++i) Add("x");
    EXPECT_EQ(rec.GetRecordCount(), OneWayPackRec::kMaxRecords);
    Add("y");
    EXPECT_EQ(rec.GetRecordCount(), 1);
    auto first = rec.GetViewItem(0);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->rawBytes, "y");
    EXPECT_EQ(first->sequence, OneWayPackRec::kMaxRecords + 1);
}

TEST_F(OneWayPackRecTest, FilterModesAndWatchStrings) {
    Add("\x01\xAB");
    Add("\x02\xCD");
    Add("\x03\xAB");

    rec.SetFilterMode(OneWayPackRec::fmOnlyWatched);
    EXPECT_EQ(rec.RebuildView(), 0);  // empty watch list matches nothing
    rec.SetFilterMode(OneWayPackRec::fmHideWatched);
    EXPECT_EQ(rec.RebuildView(), 3);  // ... so hiding matches hides nothing

    rec.AddWatch("ab");  // lower case never matches the upper-case text
    rec.SetFilterMode(OneWayPackRec::fmOnlyWatched);
    EXPECT_EQ(rec.RebuildView(), 0);

    rec.AddWatch("AB");
    EXPECT_EQ(rec.RebuildView(), 2);
    EXPECT_EQ(rec.GetViewItem(0)->hexText, "01 AB ");
    EXPECT_EQ(rec.GetViewItem(1)->hexText, "03 AB ");
    rec.SetFilterMode(OneWayPackRec::fmHideWatched);
    EXPECT_EQ(rec.RebuildView(), 1);
    EXPECT_EQ(rec.GetViewItem(0)->hexText, "02 CD ");

    rec.SetFilterMode(OneWayPackRec::fmNone);
    EXPECT_EQ(rec.RebuildView(), 3);  // reads all records, view stays empty
    EXPECT_EQ(rec.GetViewCount(), 0);
    EXPECT_EQ(rec.GetViewItem(2)->hexText, "03 AB ");

    rec.SetFilterMode(9);
    EXPECT_EQ(rec.RebuildView(), 0);
}

TEST_F(OneWayPackRecTest, DeleteWatchIgnoresBadIndexes) {
    rec.AddWatch("AA");
    rec.AddWatch("BB");
    rec.DeleteWatch(-1);
    rec.DeleteWatch(2);
    EXPECT_EQ(rec.GetWatchCount(), 2);
    rec.DeleteWatch(0);
    ASSERT_EQ(rec.GetWatchCount(), 1);
    EXPECT_EQ(rec.GetWatch(0), "BB");
    rec.ClearWatch();
    EXPECT_EQ(rec.GetWatchCount(), 0);
}

TEST_F(OneWayPackRecTest, NotificationFollowsTheFilter) {
    std::atomic<int> notified{0};
    rec.SetNotify(&CountNotify, &notified);
    Add("\x01");
    EXPECT_EQ(notified.load(), 1);
    rec.AddWatch("01 ");
    rec.SetFilterMode(OneWayPackRec::fmOnlyWatched);
    Add("\x01");
    Add("\x02");
    EXPECT_EQ(notified.load(), 2);
    rec.SetFilterMode(OneWayPackRec::fmHideWatched);
    Add("\x01");
    Add("\x02");
    EXPECT_EQ(notified.load(), 3);
    rec.SetNotify(nullptr, nullptr);
    Add("\x02");
    EXPECT_EQ(notified.load(), 3);
}

TEST_F(OneWayPackRecTest, ClearRecordsKeepsOrResetsTheSequence) {
    Add("a");
    Add("b");
    rec.ClearRecords(false);
    EXPECT_EQ(rec.GetRecordCount(), 0);
    Add("c");
    EXPECT_EQ(rec.GetViewItem(0)->sequence, 3);
    rec.ClearRecords(true);
    Add("d");
    EXPECT_EQ(rec.GetViewItem(0)->sequence, 1);
}

TEST_F(OneWayPackRecTest, ConcurrentRecordersAndAReaderLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 5000;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            rec.RebuildView();
            (void)rec.GetViewItem(rec.GetRecordCount() - 1);
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) Add("\x10\x20");
        });
    }
    for (auto& writer : writers) writer.join();
    done = true;
    reader.join();
    EXPECT_EQ(rec.GetRecordCount(), kThreads * kPerThread);
    EXPECT_EQ(rec.GetPacketCount(), static_cast<uint32_t>(kThreads * kPerThread));
    std::vector<bool> seen(kThreads * kPerThread + 1, false);
    for (int i = 0; i < rec.GetRecordCount(); ++i) {
        const int sequence = rec.GetViewItem(i)->sequence;
        ASSERT_FALSE(seen[static_cast<size_t>(sequence)]) << "sequence " << sequence << " twice";
        seen[static_cast<size_t>(sequence)] = true;
    }
}

TEST(PackRecorderManagerTest, CreatesFindsEnablesAndClears) {
    PackRecorderManager manager;
    EXPECT_EQ(manager.FindRecorder(2), nullptr);
    PackRecorder* data = manager.CreateRecorder("DataServer", 2);
    PackRecorder* game = manager.CreateRecorder("GameServer", 3);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->Recv().GetName(), "DataServer Recv");
    EXPECT_EQ(data->Send().GetName(), "DataServer Send");
    EXPECT_EQ(manager.FindRecorder(3), game);
    EXPECT_EQ(manager.FindRecorder(7), nullptr);
    EXPECT_EQ(manager.GetRecorder(1), game);
    EXPECT_EQ(manager.GetRecorder(2), nullptr);

    manager.EnableAll(true);
    game->Send().AddRecord("abc", 3, 5, 0);
    data->Recv().AddRecord("", 0);
    EXPECT_EQ(game->Send().GetRecordCount(), 1);
    EXPECT_EQ(data->Recv().GetRecordCount(), 1);
    manager.ClearAll(true);
    EXPECT_EQ(game->Send().GetRecordCount(), 0);
    EXPECT_EQ(game->Send().GetPacketCount(), 0u);
    EXPECT_EQ(manager.GetCount(), 2);
}

TEST(PackRecorderManagerTest, LookupsWhileRecordersAreCreated) {
    PackRecorderManager manager;
    std::atomic<bool> done{false};
    std::atomic<int> found{0};
    std::thread link([&] {
        while (!done.load()) {
            if (PackRecorder* recorder = manager.FindRecorder(5)) {
                recorder->Recv().AddRecord("z", 1);
                found.fetch_add(1);
            }
        }
    });
    manager.CreateRecorder("DataServer", 2);
    manager.CreateRecorder("GameServer", 3);
    manager.CreateRecorder("LoginServer", 4);
    manager.CreateRecorder("RouteServer", 5);
    while (found.load() < 100) std::this_thread::yield();
    done = true;
    link.join();
    EXPECT_GE(manager.FindRecorder(5)->Recv().GetPacketCount(), 100u);
}

}  // namespace
