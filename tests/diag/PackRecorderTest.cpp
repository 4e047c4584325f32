#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
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

TEST_F(OneWayPackRecTest, RemovingTheNotificationWaitsForACallUnderWay) {
    // The callback dawdles so that removing it surely happens during the call.
    struct Probe {
        std::atomic<bool> entered{false};
        std::atomic<bool> finished{false};
    };
    Probe probe;
    rec.SetNotify(
        [](void* context) {
            auto* p = static_cast<Probe*>(context);
            p->entered.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            p->finished.store(true);
        },
        &probe);
    std::thread link([&] { Add("\x01"); });
    while (!probe.entered.load()) std::this_thread::yield();
    rec.SetNotify(nullptr, nullptr);
    EXPECT_TRUE(probe.finished.load());
    link.join();
}

TEST_F(OneWayPackRecTest, NewRecordsJoinTheFilteredViewAtTheNextRebuild) {
    rec.AddWatch("AB ");
    rec.SetFilterMode(OneWayPackRec::fmOnlyWatched);
    Add("\x01\xAB");
    EXPECT_EQ(rec.RebuildView(), 1);
    Add("\x02\xAB");
    Add("\x03\xCD");
    EXPECT_EQ(rec.GetViewCount(), 1);
    EXPECT_FALSE(rec.GetViewItem(1).has_value());
    EXPECT_EQ(rec.RebuildView(), 2);
    EXPECT_EQ(rec.GetViewItem(1)->hexText, "02 AB ");
    rec.SetFilterMode(OneWayPackRec::fmHideWatched);
    Add("\x04");
    EXPECT_EQ(rec.GetViewItem(1)->hexText, "02 AB ");  // the old view until rebuilt
    EXPECT_EQ(rec.RebuildView(), 2);
    EXPECT_EQ(rec.GetViewItem(0)->hexText, "03 CD ");
    EXPECT_EQ(rec.GetViewItem(1)->hexText, "04 ");
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

// The recording as it behaves when every RebuildView scans all records: the
// view is a copy taken then, emptied by a clear.
class FullScanReference {
public:
    struct Item {
        std::string hexText;
        int32_t sequence;
    };

    explicit FullScanReference(int maxRecords) : m_MaxRecords(maxRecords) {}

    // Whether the record passes the filter, i.e. whether it is notified.
    bool Add(const std::string& hexText) {
        ++m_PacketCount;
        if (static_cast<int>(m_Records.size()) >= m_MaxRecords) {
            m_Records.clear();
            m_View.clear();
        }
        m_Records.push_back({hexText, m_PacketCount});
        switch (m_Mode) {
            case OneWayPackRec::fmNone: return true;
            case OneWayPackRec::fmHideWatched: return !Matches(hexText);
            case OneWayPackRec::fmOnlyWatched: return Matches(hexText);
            default: return false;
        }
    }
    void ClearRecords(bool resetSequence) {
        m_Records.clear();
        m_View.clear();
        if (resetSequence) m_PacketCount = 0;
    }
    int RebuildView() {
        m_View.clear();
        if (m_Mode == OneWayPackRec::fmNone) return static_cast<int>(m_Records.size());
        if (m_Mode != OneWayPackRec::fmHideWatched && m_Mode != OneWayPackRec::fmOnlyWatched) return 0;
        for (const Item& item : m_Records) {
            if (Matches(item.hexText) == (m_Mode == OneWayPackRec::fmOnlyWatched)) m_View.push_back(item);
        }
        return static_cast<int>(m_View.size());
    }
    std::optional<Item> GetViewItem(int index) const {
        const std::vector<Item>& list = m_Mode == OneWayPackRec::fmNone ? m_Records : m_View;
        if (index < 0 || index >= static_cast<int>(list.size())) return std::nullopt;
        return list[static_cast<size_t>(index)];
    }
    void SetFilterMode(int32_t mode) { m_Mode = mode; }
    void AddWatch(const std::string& text) { m_Watches.push_back(text); }
    void DeleteWatch(int index) {
        if (index >= 0 && index < static_cast<int>(m_Watches.size())) m_Watches.erase(m_Watches.begin() + index);
    }
    void ClearWatch() { m_Watches.clear(); }
    int RecordCount() const { return static_cast<int>(m_Records.size()); }
    int ViewCount() const { return static_cast<int>(m_View.size()); }
    int WatchCount() const { return static_cast<int>(m_Watches.size()); }
    int32_t PacketCount() const { return m_PacketCount; }

private:
    bool Matches(const std::string& hexText) const {
        for (const std::string& watch : m_Watches) {
            if (hexText.find(watch) != std::string::npos) return true;
        }
        return false;
    }

    const int m_MaxRecords;
    std::vector<Item> m_Records;
    std::vector<Item> m_View;
    std::vector<std::string> m_Watches;
    int32_t m_Mode = OneWayPackRec::fmNone;
    int32_t m_PacketCount = 0;
};

void CompareWithReference(const OneWayPackRec& rec, const FullScanReference& ref, int step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    ASSERT_EQ(rec.GetRecordCount(), ref.RecordCount());
    ASSERT_EQ(rec.GetViewCount(), ref.ViewCount());
    ASSERT_EQ(rec.GetWatchCount(), ref.WatchCount());
    ASSERT_EQ(rec.GetPacketCount(), static_cast<uint32_t>(ref.PacketCount()));
    const int end = std::max(ref.RecordCount(), ref.ViewCount()) + 1;
    for (int i = -1; i <= end; ++i) {
        const std::optional<tagOnePackData> got = rec.GetViewItem(i);
        const std::optional<FullScanReference::Item> want = ref.GetViewItem(i);
        ASSERT_EQ(got.has_value(), want.has_value()) << "row " << i;
        if (!want) continue;
        ASSERT_EQ(got->sequence, want->sequence) << "row " << i;
        ASSERT_EQ(got->hexText, want->hexText) << "row " << i;
    }
}

// Random operations on a recording and on the full-scan reference must show
// the same rows, counts and notifications after every step, with a limit low
// enough to be reached again and again.
TEST(OneWayPackRecViewTest, MatchesAFullScanAfterEveryStep) {
    const std::vector<std::string> watches = {"01 ", "AB ", "02 03 ", "3", "B 0", "ab "};
    const std::vector<int32_t> modes = {OneWayPackRec::fmNone, OneWayPackRec::fmHideWatched,
                                        OneWayPackRec::fmOnlyWatched, OneWayPackRec::fmHideWatched,
                                        OneWayPackRec::fmOnlyWatched, 9};
    const char alphabet[] = {'\x01', '\x02', '\x03', '\xAB'};
    for (int maxRecords : {9, 60}) {
        SCOPED_TRACE(testing::Message() << "limit " << maxRecords);
        OneWayPackRec rec(maxRecords);
        rec.SetEnabled(true);
        std::atomic<int> notified{0};
        rec.SetNotify(&CountNotify, &notified);
        FullScanReference ref(maxRecords);
        int expectedNotified = 0;
        std::mt19937 random(20240611u + static_cast<unsigned>(maxRecords));
        auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        for (int step = 0; step < 1500; ++step) {
            const int action = pick(100);
            if (action < 45) {
                const int burst = pick(4) == 0 ? 1 + pick(8) : 1;
                for (int b = 0; b < burst; ++b) {
                    std::string bytes;
                    for (int n = 1 + pick(3); n > 0; --n) bytes += alphabet[pick(4)];
                    rec.AddRecord(bytes.data(), static_cast<int>(bytes.size()));
                    char hex[16] = {};
                    std::string hexText;
                    for (char c : bytes) {
                        std::snprintf(hex, sizeof hex, "%02X ", static_cast<unsigned char>(c));
                        hexText += hex;
                    }
                    if (ref.Add(hexText)) ++expectedNotified;
                }
            } else if (action < 67) {
                ASSERT_EQ(rec.RebuildView(), ref.RebuildView()) << "step " << step;
            } else if (action < 74) {
                const int32_t mode = modes[static_cast<size_t>(pick(static_cast<int>(modes.size())))];
                rec.SetFilterMode(mode);
                ref.SetFilterMode(mode);
            } else if (action < 80) {
                const std::string& watch = watches[static_cast<size_t>(pick(static_cast<int>(watches.size())))];
                rec.AddWatch(watch);
                ref.AddWatch(watch);
            } else if (action < 90) {
                const int index = pick(ref.WatchCount() + 2) - 1;
                rec.DeleteWatch(index);
                ref.DeleteWatch(index);
            } else if (action < 96) {
                rec.ClearWatch();
                ref.ClearWatch();
            } else {
                const bool reset = pick(2) == 0;
                rec.ClearRecords(reset);
                ref.ClearRecords(reset);
            }
            CompareWithReference(rec, ref, step);
            ASSERT_EQ(notified.load(), expectedNotified) << "step " << step;
        }
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
