#include "ShareDefine/CThreadQueue.h"
#include "ShareDefine/PacketStage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/WakeableSleep.h"
#include "tests/support/CapturingLog.h"

namespace {

using MMORPG::MMORPGPacket;
using MMORPG::MMORPGPacket_Stack;
using PacketQueue = CThreadQueue<MMORPGPacket>;

int Count() { return MMORPGPacket::m_Count.load(); }

MMORPGPacket* NewPacket(uint8_t packType, const char* payload = "") {
    MMORPGPacket* packet = AllocPacket();
    packet->SetPackType(packType);
    packet->ReadData(payload, static_cast<int>(std::strlen(payload)));
    return packet;
}

class ThreadQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        GetPacketPool();
        log->Clear();
    }
    testsupport::ScopedCapturingLog log;
};

TEST_F(ThreadQueueTest, PopReturnsPacketsInPushOrder) {
    PacketQueue queue;
    MMORPGPacket* a = NewPacket(1);
    MMORPGPacket* b = NewPacket(2);
    EXPECT_EQ(queue.Push(a), 1);
    EXPECT_EQ(queue.Push(b), 1);
    EXPECT_EQ(queue.Count(), 2);
    EXPECT_EQ(queue.Front(), a);
    EXPECT_EQ(queue.Count(), 2);
    EXPECT_EQ(queue.Pop(), a);
    EXPECT_EQ(queue.Pop(), b);
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Front(), nullptr);
    EXPECT_EQ(queue.Count(), 0);
    FreePacket(a);
    FreePacket(b);
}

TEST_F(ThreadQueueTest, PushesBetweenPopsQueueBehindWhatIsAlreadyBeingPopped) {
    PacketQueue queue;
    MMORPGPacket* a = NewPacket(1);
    MMORPGPacket* b = NewPacket(2);
    MMORPGPacket* c = NewPacket(3);
    MMORPGPacket* d = NewPacket(4);
    queue.Push(a);
    queue.Push(b);
    EXPECT_EQ(queue.Pop(), a);  // b is now on the popping side
    queue.Push(c);
    EXPECT_EQ(queue.Count(), 2);
    EXPECT_EQ(queue.Front(), b);
    EXPECT_EQ(queue.Pop(), b);
    queue.Push(d);
    EXPECT_EQ(queue.Front(), c);
    EXPECT_EQ(queue.Pop(), c);
    EXPECT_EQ(queue.Pop(), d);
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Count(), 0);
    for (MMORPGPacket* packet : {a, b, c, d}) FreePacket(packet);
}

TEST_F(ThreadQueueTest, PacketPopCopiesIntoTheScratchPacketAndFreesTheQueuedOne) {
    const int before = Count();
    PacketQueue queue;
    MMORPGPacket* queued = NewPacket(MMORPG::atBroadcast, "payload");
    queued->m_DestIndex = -1;
    queued->SetContext(42);
    queue.Push(queued);
    EXPECT_EQ(Count(), before + 1);

    MMORPGPacket_Stack scratch;
    EXPECT_EQ(queue.PacketPop(&scratch), 1);
    EXPECT_EQ(scratch.GetPackType(), MMORPG::atBroadcast);
    EXPECT_EQ(scratch.GetContext(), 42u);
    EXPECT_EQ(scratch.Data(), "payload");
    EXPECT_EQ(scratch.m_DestIndex, -1);
    EXPECT_FALSE(scratch.IsInUse());
    EXPECT_FALSE(queued->IsInUse());
    EXPECT_EQ(Count(), before);
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(AllocPacket(), queued);  // back in the pool, first in line
    FreePacket(queued);
}

TEST_F(ThreadQueueTest, PacketPopOnAnEmptyQueueLeavesThePacketUnchanged) {
    PacketQueue queue;
    MMORPGPacket_Stack scratch;
    scratch.SetPackType(3);
    scratch.ReadData("keep", 4);
    scratch.m_DestIndex = 8;
    EXPECT_EQ(queue.PacketPop(&scratch), 0);
    EXPECT_EQ(scratch.GetPackType(), 3);
    EXPECT_EQ(scratch.Data(), "keep");
    EXPECT_EQ(scratch.m_DestIndex, 8);
    EXPECT_TRUE(log->Entries().empty());
}

TEST_F(ThreadQueueTest, PacketPopOfAQueuedNullIsWarnedAndReturnsZero) {
    PacketQueue queue;
    queue.Push(nullptr);
    MMORPGPacket_Stack scratch;
    EXPECT_EQ(queue.PacketPop(&scratch), 0);
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(log->Texts(llWarn),
              std::vector<std::string>{"CThreadQueue<T>::PacketPop(T * Packet)  m_Queue->Pop()== NULL"});
}

TEST_F(ThreadQueueTest, ClearOfThreePacketsGivesAllThreeBack) {
    PacketQueue queue;
    for (int i = 0; i < 3; ++i) queue.Push(NewPacket(1));
    const int before = Count();
    const int freeBefore = GetPacketPool()->EmptyCount();
    queue.Clear();
    EXPECT_EQ(Count(), before - 3);
    EXPECT_EQ(GetPacketPool()->EmptyCount(), freeBefore + 3);
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_TRUE(log->Entries().empty());
}

TEST_F(ThreadQueueTest, ClearWarnsForEachQueuedNull) {
    PacketQueue queue;
    queue.Push(nullptr);
    queue.Push(NewPacket(1));
    const int before = Count();
    queue.Clear();
    EXPECT_EQ(Count(), before - 1);
    EXPECT_EQ(log->Texts(llWarn), std::vector<std::string>{"CThreadQueue<T>::Clear()  m_Queue->Pop()== NULL"});
}

TEST_F(ThreadQueueTest, DestroyingAQueueGivesItsPacketsBack) {
    const int before = Count();
    {
        PacketQueue queue;
        queue.Push(NewPacket(1));
        queue.Push(NewPacket(2));
        EXPECT_EQ(Count(), before + 2);
    }
    EXPECT_EQ(Count(), before);
}

class CountingWakeable : public IWakeable {
public:
    virtual ~CountingWakeable() = default;
    void Wake() override { wakes.fetch_add(1); }
    std::atomic<int> wakes{0};
};

TEST_F(ThreadQueueTest, WakeTargetIsCalledOnlyWhenAPushFindsTheQueueEmpty) {
    PacketQueue queue;
    CountingWakeable target;
    queue.SetWakeTarget(&target);
    queue.Push(NewPacket(1));
    EXPECT_EQ(target.wakes.load(), 1);
    queue.Push(NewPacket(1));
    queue.Push(NewPacket(1));
    EXPECT_EQ(target.wakes.load(), 1);
    queue.Clear();
    queue.Push(NewPacket(1));
    EXPECT_EQ(target.wakes.load(), 2);
    queue.SetWakeTarget(nullptr);
    queue.Clear();
    queue.Push(NewPacket(1));
    EXPECT_EQ(target.wakes.load(), 2);
}

class SleepingConsumer : public IWakeable {
public:
    virtual ~SleepingConsumer() = default;
    void Wake() override { sleep.Wake(); }
    plat::WakeableSleep sleep;
};

TEST_F(ThreadQueueTest, PushWakesASleepingConsumerThread) {
    PacketQueue queue;
    SleepingConsumer consumer;
    queue.SetWakeTarget(&consumer);
    std::atomic<bool> woken{false};
    std::atomic<int> received{0};
    std::thread thread([&] {
        // Sleeps far longer than the test may take; only a wake ends it early.
        woken = consumer.sleep.SleepFor(600000);
        MMORPGPacket_Stack scratch;
        while (queue.PacketPop(&scratch) == 1) received.fetch_add(1);
    });
    queue.Push(NewPacket(1));
    thread.join();
    EXPECT_TRUE(woken.load());
    EXPECT_EQ(received.load(), 1);
    queue.SetWakeTarget(nullptr);
}

// The relay's shape: several producers, one pushing packet by packet and
// one through a stage a read at a time, and one consumer taking batches as
// they push.
TEST_F(ThreadQueueTest, EachProducersPacketsArriveInTheirPushOrderWhileTheConsumerTakesBatchesAlongside) {
    constexpr int kProducers = 2;
    constexpr int kPerProducer = 30000;
    const int poolStart = Count();
    PacketQueue queue;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&queue, p] {
            PacketStage stage(&queue);
            for (int i = 0; i < kPerProducer; ++i) {
                // Reads of 1 to 100 packets, with packets between them made
                // outside a batch: some fill the stage on the way.
                if (p == 1 && i % 100 == 0) stage.BeginBatch();
                MMORPGPacket* packet = p == 0 ? AllocPacket() : stage.NewPacket();
                packet->SetPackType(static_cast<uint8_t>(p));
                packet->SetContext(static_cast<uint32_t>(i));
                packet->ReadData("ab", 1 + i % 2);
                if (p == 0) {
                    queue.Push(packet);
                    continue;
                }
                stage.Add(packet);
                if (i % 100 == i / 100 % 100 || i == kPerProducer - 1) stage.EndBatch();
            }
        });
    }
    std::vector<int> next(kProducers, 0);
    int outOfOrder = 0;
    int received = 0;
    int64_t bytesTaken = 0;
    MMORPGPacket* batch[7];
    // A lost packet fails the counts below instead of hanging the test.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (received < kProducers * kPerProducer && std::chrono::steady_clock::now() < deadline) {
        const int taken = queue.PopSome(batch, 7);
        if (taken == 0) std::this_thread::yield();
        for (int b = 0; b < taken; ++b) {
            int& expected = next[batch[b]->GetPackType()];
            if (static_cast<int>(batch[b]->GetContext()) != expected) ++outOfOrder;
            expected = static_cast<int>(batch[b]->GetContext()) + 1;
            bytesTaken += batch[b]->GetDataLen();
            FreePacket(batch[b]);
            ++received;
        }
    }
    for (std::thread& producer : producers) producer.join();
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(next, std::vector<int>(kProducers, kPerProducer));
    EXPECT_EQ(bytesTaken, kProducers * (kPerProducer / 2) * 3);
    EXPECT_EQ(queue.PopSome(batch, 7), 0);
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(queue.Bytes(), 0);
    EXPECT_EQ(Count(), poolStart);  // no spare packet was kept or lost
}

TEST_F(ThreadQueueTest, AStageTakesABatchsPacketsFromThePoolTogetherAndGivesBackWhatItDidNotUse) {
    PacketQueue queue;
    const int poolStart = Count();
    PacketStage stage(&queue);
    stage.BeginBatch();
    for (int i = 0; i < 20; ++i) stage.Add(stage.NewPacket());
    stage.EndBatch();
    EXPECT_EQ(queue.Count(), 20);
    EXPECT_EQ(Count(), poolStart + 20);

    // The next batch takes as many as the last one made, freshly zeroed:
    // the packet freed last comes first.
    MMORPGPacket* used = NewPacket(9, "old");
    used->SetContext(77);
    FreePacket(used);
    stage.BeginBatch();
    MMORPGPacket* first = stage.NewPacket();
    EXPECT_EQ(Count(), poolStart + 40);
    EXPECT_EQ(first, used);
    EXPECT_EQ(first->GetPackType(), 0);
    EXPECT_EQ(first->GetContext(), 0u);
    EXPECT_EQ(first->GetDataLen(), 0);
    stage.Add(first);
    stage.EndBatch();
    EXPECT_EQ(Count(), poolStart + 21);  // the 19 it did not use went back
    queue.Clear();
    EXPECT_EQ(Count(), poolStart);
}

TEST_F(ThreadQueueTest, ManyThreadsAllocPushPopAndFreeWithTheCountBackAtItsStart) {
    const int before = Count();
    constexpr int kProducers = 3;
    constexpr int kPerProducer = 20000;
    PacketQueue queue;
    std::atomic<int> consumed{0};
    std::atomic<bool> producing{true};
    std::atomic<long long> payloadSum{0};

    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&queue] {
            for (int i = 0; i < kPerProducer; ++i) {
                MMORPGPacket* packet = AllocPacket();
                const char value = static_cast<char>(i % 100);
                packet->ReadData(&value, 1);
                queue.Push(packet);
            }
        });
    }
    // One consumer frees popped packets itself, the other copies with PacketPop.
    threads.emplace_back([&] {
        while (producing.load() || queue.Count() > 0) {
            if (MMORPGPacket* packet = queue.Pop()) {
                payloadSum.fetch_add(packet->GetData()[0]);
                FreePacket(packet);
                consumed.fetch_add(1);
            } else {
                std::this_thread::yield();
            }
        }
    });
    threads.emplace_back([&] {
        MMORPGPacket_Stack scratch;
        while (producing.load() || queue.Count() > 0) {
            if (queue.PacketPop(&scratch) == 1) {
                payloadSum.fetch_add(scratch.GetData()[0]);
                consumed.fetch_add(1);
            } else {
                std::this_thread::yield();
            }
        }
    });
    for (int p = 0; p < kProducers; ++p) threads[static_cast<size_t>(p)].join();
    producing = false;
    for (size_t t = kProducers; t < threads.size(); ++t) threads[t].join();

    EXPECT_EQ(consumed.load(), kProducers * kPerProducer);
    long long expectedSum = 0;
    for (int i = 0; i < kPerProducer; ++i) expectedSum += i % 100;
    EXPECT_EQ(payloadSum.load(), expectedSum * kProducers);
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(Count(), before);
    EXPECT_TRUE(log->Texts(llError).empty());
    EXPECT_EQ(GetPacketPool()->EmptyCount(), GetPacketPool()->Count());
}

}  // namespace
