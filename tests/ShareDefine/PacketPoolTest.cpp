#include "ShareDefine/MMORPGPacketPool.h"

#include <gtest/gtest.h>

#include <new>
#include <set>
#include <thread>
#include <vector>

#include "tests/support/CapturingLog.h"

namespace {

using MMORPG::MMORPGPacket;
using MMORPG::MMORPGPacket_Stack;
using MMORPG::MMORPGPacketPool;

int Count() { return MMORPGPacket::m_Count.load(); }

// Each test starts from a freshly created process-wide pool.
class PacketPoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReleasePacketPool();
        GetPacketPool();
        log->Clear();
    }
    void TearDown() override { ReleasePacketPool(); }

    testsupport::ScopedCapturingLog log;
};

TEST_F(PacketPoolTest, FirstUseCreatesFiveThousandPacketsAndLogsIt) {
    ReleasePacketPool();
    MMORPGPacketPool* pool = GetPacketPool();
    EXPECT_EQ(pool, GetPacketPool());
    EXPECT_EQ(pool->Count(), 5000);
    EXPECT_EQ(pool->EmptyCount(), 5000);
    EXPECT_EQ(log->Texts(llInfo), std::vector<std::string>{"Init PacketPool Size = 5000"});
}

TEST_F(PacketPoolTest, AllocHandsOutAPacketInUseAndCountsIt) {
    const int before = Count();
    MMORPGPacket* packet = AllocPacket();
    ASSERT_NE(packet, nullptr);
    EXPECT_TRUE(packet->IsInUse());
    EXPECT_EQ(Count(), before + 1);
    EXPECT_EQ(GetPacketPool()->EmptyCount(), 4999);
    FreePacket(packet);
    EXPECT_FALSE(packet->IsInUse());
    EXPECT_EQ(Count(), before);
    EXPECT_EQ(GetPacketPool()->EmptyCount(), 5000);
    EXPECT_TRUE(log->Texts(llError).empty());
}

TEST_F(PacketPoolTest, TheFiveThousandAndFirstAllocGrowsByFiveHundred) {
    const int before = Count();
    std::vector<MMORPGPacket*> packets;
    for (int i = 0; i < 5000; ++i) packets.push_back(AllocPacket());
    EXPECT_EQ(GetPacketPool()->Count(), 5000);
    EXPECT_EQ(GetPacketPool()->EmptyCount(), 0);

    MMORPGPacket* grown = AllocPacket();
    ASSERT_NE(grown, nullptr);
    packets.push_back(grown);
    EXPECT_EQ(GetPacketPool()->Count(), 5500);
    EXPECT_EQ(GetPacketPool()->EmptyCount(), 499);
    EXPECT_EQ(grown->m_PackHead, MMORPG::tagPackHead{});
    EXPECT_EQ(std::set<MMORPGPacket*>(packets.begin(), packets.end()).size(), 5001u);
    EXPECT_EQ(Count(), before + 5001);

    for (MMORPGPacket* packet : packets) FreePacket(packet);
    EXPECT_EQ(Count(), before);
    EXPECT_EQ(GetPacketPool()->EmptyCount(), 5500);
    EXPECT_TRUE(log->Texts(llError).empty());
}

TEST_F(PacketPoolTest, FreeThenAllocReturnsTheSamePacketWithAZeroHeader) {
    MMORPGPacket* first = AllocPacket();
    first->SetPackType(MMORPG::atKeepAlive);
    first->SetContext(99);
    first->ReadData("abc", 3);
    first->m_DestIndex = 3;
    FreePacket(first);
    MMORPGPacket* again = AllocPacket();
    EXPECT_EQ(again, first);
    EXPECT_EQ(again->m_PackHead, MMORPG::tagPackHead{});
    EXPECT_EQ(again->GetDataLen(), 0);
    EXPECT_EQ(again->m_DestIndex, 0);
    FreePacket(again);
}

TEST_F(PacketPoolTest, PoolAllocKeepsTheHeaderThatAllocPacketClears) {
    MMORPGPacketPool* pool = GetPacketPool();
    MMORPGPacket* packet = pool->Alloc();
    packet->SetContext(5);
    pool->Free(packet);
    MMORPGPacket* again = pool->Alloc();
    ASSERT_EQ(again, packet);
    EXPECT_EQ(again->GetContext(), 5u);  // Reset leaves the header; AllocPacket zeroes it
    pool->Free(again);
}

TEST_F(PacketPoolTest, FreeOfAScratchPacketIsRefusedAndCountUnchanged) {
    MMORPGPacket* held = AllocPacket();
    const int before = Count();
    MMORPGPacket_Stack scratch;
    FreePacket(&scratch);
    EXPECT_EQ(Count(), before);
    EXPECT_EQ(GetPacketPool()->EmptyCount(), 4999);
    EXPECT_EQ(log->Texts(llError), std::vector<std::string>{"MMORPGPacketPool::Free  MMORPGPacket * pack can't free"});
    FreePacket(held);
}

TEST_F(PacketPoolTest, SecondFreeOfTheSamePacketIsLoggedOnceAndDoesNotLowerTheCount) {
    const int before = Count();
    MMORPGPacket* packet = AllocPacket();
    MMORPGPacket* other = AllocPacket();
    FreePacket(packet);
    EXPECT_EQ(Count(), before + 1);
    FreePacket(packet);
    EXPECT_EQ(Count(), before + 1);
    EXPECT_EQ(log->Texts(llError),
              std::vector<std::string>{"MMORPGPacketPool::Free  MMORPGPacket * pack is Not Used"});
    EXPECT_EQ(GetPacketPool()->EmptyCount(), 4999);

    // The packet is in the free list once: two takes give two objects.
    MMORPGPacket* a = AllocPacket();
    MMORPGPacket* b = AllocPacket();
    EXPECT_EQ(a, packet);
    EXPECT_NE(b, packet);
    FreePacket(a);
    FreePacket(b);
    FreePacket(other);
    EXPECT_EQ(Count(), before);
}

TEST_F(PacketPoolTest, FreeOfNullIsLoggedAndIgnored) {
    const int before = Count();
    FreePacket(nullptr);
    EXPECT_EQ(Count(), before);
    EXPECT_EQ(log->Texts(llError), std::vector<std::string>{"MMORPGPacketPool::Free  MMORPGPacket * pack == NULL"});
}

TEST_F(PacketPoolTest, FreeThatWouldTakeTheCountBelowZeroIsLogged) {
    MMORPGPacket* packet = AllocPacket();
    const int saved = Count();
    MMORPGPacket::m_Count = 0;
    FreePacket(packet);
    EXPECT_TRUE(log->Has(llError, "Error : MMORPGPacket::Free, m_Count = -1"));
    MMORPGPacket::m_Count = saved - 1;
}

// A pool whose growth runs out of memory.
class StarvedPool : public MMORPGPacketPool {
protected:
    MMORPGPacket* NewPacket() override { throw std::bad_alloc(); }
};

TEST_F(PacketPoolTest, AllocThatCannotGrowReturnsNullAfterItsErrorLine) {
    StarvedPool pool;
    const int before = Count();
    std::vector<MMORPGPacket*> packets;
    for (int i = 0; i < 5000; ++i) packets.push_back(pool.Alloc());
    log->Clear();
    EXPECT_EQ(pool.Alloc(), nullptr);
    EXPECT_EQ(log->Texts(llError), std::vector<std::string>{"MMORPGPacketPool  m_PacketPool.Alloc == NULL"});
    EXPECT_EQ(Count(), before + 5000);
    EXPECT_EQ(pool.Count(), 5000);
    for (MMORPGPacket* packet : packets) pool.Free(packet);
    EXPECT_EQ(Count(), before);
}

// A pool whose free list can be given a packet that is still handed out.
class CorruptiblePool : public MMORPGPacketPool {
public:
    void PutInUsePacketInFreeList(MMORPGPacket* packet) { PushFreeFront(packet); }
};

TEST_F(PacketPoolTest, AllocOfAFreePacketStillInUseReturnsNull) {
    CorruptiblePool pool;
    const int before = Count();
    MMORPGPacket* held = pool.Alloc();
    pool.PutInUsePacketInFreeList(held);
    log->Clear();
    EXPECT_EQ(pool.Alloc(), nullptr);
    EXPECT_EQ(log->Texts(llError), std::vector<std::string>{"MMORPGPacketPool  m_PacketPool.Alloc == NULL"});
    EXPECT_EQ(Count(), before + 1);
    EXPECT_TRUE(held->IsInUse());

    MMORPGPacket* next = pool.Alloc();
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next, held);
    pool.Free(next);
    pool.Free(held);
    EXPECT_EQ(Count(), before);
    EXPECT_EQ(pool.EmptyCount(), 5000);
}

TEST_F(PacketPoolTest, ReleasedPoolIsCreatedAnewOnNextUse) {
    MMORPGPacket* packet = AllocPacket();
    FreePacket(packet);
    ReleasePacketPool();
    log->Clear();
    EXPECT_EQ(GetPacketPool()->EmptyCount(), 5000);
    EXPECT_TRUE(log->Has(llInfo, "Init PacketPool Size = 5000"));
}

TEST_F(PacketPoolTest, ConcurrentFirstUseCreatesOnePool) {
    ReleasePacketPool();
    log->Clear();
    std::vector<MMORPGPacketPool*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&seen, i] { seen[static_cast<size_t>(i)] = GetPacketPool(); });
    for (auto& thread : threads) thread.join();
    for (MMORPGPacketPool* pool : seen) EXPECT_EQ(pool, seen[0]);
    EXPECT_EQ(log->Texts(llInfo).size(), 1u);
}

}  // namespace
