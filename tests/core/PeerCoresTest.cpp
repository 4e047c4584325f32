// The link cores of the four peer kinds: how each turns a received header
// into a queued packet, what each logs, and the link-down notice each leaves
// behind. Server objects are driven directly (no service); the listening
// cores and the DataServer link also over real sockets on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/DataServerCore.h"
#include "core/GameServer.h"
#include "core/GameServerCore.h"
#include "core/LoginServer.h"
#include "core/LoginServerCore.h"
#include "core/RouteServer.h"
#include "core/RouteServerCore.h"
#include "diag/PackRecorderManager.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"

namespace {

using coretest::PacketsInUse;
using coretest::WaitFor;
using MMORPG::tagPackHead;
using namespace std::chrono_literals;

tagPackHead Head(uint32_t context, int16_t destIndex, uint8_t packType, uint8_t destType, uint8_t srcType) {
    tagPackHead head;
    head.Context = context;
    head.DestIndex = destIndex;
    head.packType = packType;
    head.DestServerType = destType;
    head.SrcServerType = srcType;
    return head;
}

// What a queued packet carried, taken off the queue (the packet is freed).
struct Queued {
    tagPackHead head;
    int32_t destIndex;
    std::string payload;
};

std::vector<Queued> Drain(PacketQueue& queue) {
    std::vector<Queued> drained;
    while (MMORPG::MMORPGPacket* packet = queue.Pop()) {
        drained.push_back({packet->m_PackHead, packet->GetDestIndex(), packet->Data()});
        FreePacket(packet);
    }
    return drained;
}

PackRecorder* EnabledRecorder(int number) {
    PackRecorderManager& recorders = PackRecorderManager::Instance();
    PackRecorder* recorder = recorders.FindRecorder(number);
    if (recorder == nullptr) recorder = recorders.CreateRecorder("Test", number);
    recorder->Recv().ClearRecords(true);
    recorder->Recv().SetEnabled(true);
    return recorder;
}

class PeerObjectTest : public ::testing::Test {
protected:
    void TearDown() override {
        queue.Clear();
        EXPECT_EQ(PacketsInUse(), poolStart);
    }

    testsupport::ScopedCapturingLog log;
    PacketQueue queue;
    const int poolStart = PacketsInUse();
};

TEST_F(PeerObjectTest, GameServerMovesTheHeaderDestIndexIntoTheRoutingSlot) {
    GameServer game(nullptr, 7, &queue);
    tagPackHead head = Head(9, 4, 1, 1, 3);
    game.OnRecvPack(&head, "abc", 3);
    const auto got = Drain(queue);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].destIndex, 4);
    EXPECT_EQ(got[0].head, Head(9, 0, 1, 1, 3));
    EXPECT_EQ(got[0].payload, "abc");
}

TEST_F(PeerObjectTest, GameServerLeavesABroadcastHeaderAsReceived) {
    GameServer game(nullptr, 2, &queue);
    tagPackHead head = Head(9, 2, 5, 0, 3);
    game.OnRecvPack(&head, "all", 3);
    const auto got = Drain(queue);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].destIndex, 0);
    EXPECT_EQ(got[0].head, Head(9, 2, 5, 0, 3));
}

TEST_F(PeerObjectTest, LoginServerTreatsHeadersLikeAGameServer) {
    LoginServer login(nullptr, 1, &queue);
    tagPackHead normal = Head(1, -1, 2, 3, 4);
    tagPackHead broadcast = Head(2, 1, 5, 0, 4);
    login.OnRecvPack(&normal, "", 0);
    login.OnRecvPack(&broadcast, "b", 1);
    const auto got = Drain(queue);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].destIndex, -1);  // sign-extended
    EXPECT_EQ(got[0].head, Head(1, 0, 2, 3, 4));
    EXPECT_EQ(got[1].destIndex, 0);
    EXPECT_EQ(got[1].head, Head(2, 1, 5, 0, 4));
}

TEST_F(PeerObjectTest, RouteServerStampsItsOwnSlotIntoEveryHeader) {
    RouteServer route(nullptr, 6, &queue);
    tagPackHead normal = Head(3, 3, 1, 3, 5);
    tagPackHead broadcast = Head(4, 3, 5, 0, 5);
    route.OnRecvPack(&normal, "r", 1);
    route.OnRecvPack(&broadcast, "", 0);
    const auto got = Drain(queue);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].destIndex, 3);
    EXPECT_EQ(got[0].head, Head(3, 6, 1, 3, 5));
    EXPECT_EQ(got[1].destIndex, 3);
    EXPECT_EQ(got[1].head, Head(4, 6, 5, 0, 5));
}

TEST_F(PeerObjectTest, DataServerPacketsGetTheirSlotFromTheHeaderWhateverTheirType) {
    DataServerCore link(&queue);
    EXPECT_EQ(link.GetName(), "VarnholtServer");
    EXPECT_EQ(link.GetRecorder(), 2);
    tagPackHead all = Head(5, -1, 1, 3, 1);
    tagPackHead broadcast = Head(6, 2, 5, 0, 1);
    link.OnRecvPack(&all, "x", 1);
    link.OnRecvPack(&broadcast, "", 0);
    const auto got = Drain(queue);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].destIndex, -1);
    EXPECT_EQ(got[0].head, Head(5, 0, 1, 3, 1));
    EXPECT_EQ(got[1].destIndex, 2);
    EXPECT_EQ(got[1].head, Head(6, 0, 5, 0, 1));
}

TEST_F(PeerObjectTest, LosingTheDataServerInjectsAnEmptyBroadcastFromTheDataServer) {
    PackRecorder* recorder = EnabledRecorder(2);
    DataServerCore link(&queue);
    link.OnDisconnected();
    EXPECT_EQ(log->Texts(llInfo), std::vector<std::string>{"DataServer Disconnect!"});
    const auto got = Drain(queue);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].destIndex, -1);
    EXPECT_EQ(got[0].head, Head(0, 0, 5, 0, 1));
    EXPECT_EQ(got[0].payload, "");
    ASSERT_EQ(recorder->Recv().GetRecordCount(), 1);
    EXPECT_EQ(recorder->Recv().GetViewItem(0)->rawBytes, "");
    recorder->Recv().SetEnabled(false);
}

// The outbound link against a DataServer played by a loopback listener.
class DataServerLinkTest : public PeerObjectTest {
protected:
    // Connects the link to the listener; the accepted side, or null (a failure is recorded).
    std::unique_ptr<nettest::LoopbackPeer> ConnectLink(DataServerCore& link) {
        EXPECT_TRUE(link.Connect("127.0.0.1", listener.Port()));
        auto server = listener.Accept();
        EXPECT_NE(server, nullptr);
        return server;
    }

    nettest::LoopbackListener listener;
};

TEST_F(DataServerLinkTest, ConnectLogsTheAddressOnlyOnSuccess) {
    DataServerCore link(&queue);
    ASSERT_TRUE(link.Connect("127.0.0.1", listener.Port()));
    EXPECT_TRUE(log->Has(llInfo, "DataServerCore::Connect(127.0.0.1, " + std::to_string(listener.Port()) + ")"));

    nettest::LoopbackListener closed;
    const uint16_t refusedPort = closed.Port();
    closed.Close();
    log->Clear();
    EXPECT_FALSE(link.Connect("127.0.0.1", refusedPort));
    EXPECT_EQ(log->CountContaining("DataServerCore::Connect"), 0);
    link.Disconnect();
}

TEST_F(DataServerLinkTest, ReconnectAnnouncesTheLossAndLogsOnlyASuccessfulConnect) {
    DataServerCore link(&queue);
    auto server = ConnectLink(link);
    ASSERT_NE(server, nullptr);

    EXPECT_TRUE(link.Reconnect());
    EXPECT_EQ(log->CountContaining("DataServerCore::Reconnect()"), 1);
    EXPECT_EQ(log->CountContaining("DataServer Disconnect!"), 1);
    EXPECT_EQ(Drain(queue).size(), 1u);  // the link-down notice

    listener.Close();
    EXPECT_FALSE(link.Reconnect());
    EXPECT_EQ(log->CountContaining("DataServerCore::Reconnect()"), 1);
    link.Disconnect();
}

TEST_F(DataServerLinkTest, DropConnectionClosesTheLinkButKeepsReconnectsArmed) {
    DataServerCore link(&queue);
    auto server = ConnectLink(link);
    ASSERT_NE(server, nullptr);
    link.DropConnection();
    EXPECT_TRUE(server->WaitClosedByOtherSide());
    EXPECT_FALSE(link.SockIsConnected());
    EXPECT_FALSE(link.GetStopFlag());
    link.Disconnect();
    EXPECT_TRUE(link.GetStopFlag());
}

// A listening core of one kind over the real network service.
struct GameKind {
    using Core = GameServerCore;
    static constexpr const char* kName = "GameServer";
    static constexpr int kType = 3;
};
struct LoginKind {
    using Core = LoginServerCore;
    static constexpr const char* kName = "LoginServer";
    static constexpr int kType = 4;
};
struct RouteKind {
    using Core = RouteServerCore;
    static constexpr const char* kName = "RouteServer";
    static constexpr int kType = 5;
};

template <typename Kind>
class ListeningCoreTest : public PeerObjectTest {
protected:
    void SetUp() override {
        core = std::make_unique<typename Kind::Core>(&queue);
        ASSERT_TRUE(core->StartService(0, 4));
        port = core->GetService()->GetListenPort();
    }
    void TearDown() override {
        core.reset();
        PeerObjectTest::TearDown();
    }
    bool Pump(const std::function<bool()>& done) {
        return WaitFor([&] {
            core->ProcessNetMsg();
            core->SendAll();
            return done();
        }, 5s);
    }
    std::unique_ptr<nettest::LoopbackPeer> Connect(int online) {
        auto peer = std::make_unique<nettest::LoopbackPeer>(port);
        EXPECT_TRUE(peer->Connected());
        EXPECT_TRUE(Pump([&] { return core->GetOnlineCount() == online; }));
        return peer;
    }
    std::string Name() const { return Kind::kName; }

    std::unique_ptr<typename Kind::Core> core;
    uint16_t port = 0;
};

using Kinds = ::testing::Types<GameKind, LoginKind, RouteKind>;
TYPED_TEST_SUITE(ListeningCoreTest, Kinds);

TYPED_TEST(ListeningCoreTest, NamesItselfAndRecordsUnderItsServerType) {
    EXPECT_EQ(this->core->GetName(), this->Name());
    EXPECT_EQ(this->core->GetRecorder(), TypeParam::kType);
}

TYPED_TEST(ListeningCoreTest, ConnectIsLoggedAndReceivedFramesAreQueued) {
    auto peer = this->Connect(1);
    EXPECT_TRUE(this->log->Has(llInfo, this->Name() + "(poolIndex = 0, IP = 127.0.0.1) Connect...OK!"));
    ASSERT_EQ(this->core->GetServerObj(0)->GetRecorder(), TypeParam::kType);
    ASSERT_TRUE(peer->Send(testsupport::PacketFrame({11, 2, 1, 1, TypeParam::kType}, "payload")));
    ASSERT_TRUE(this->Pump([&] { return this->queue.Count() == 1; }));
    const auto got = Drain(this->queue);
    EXPECT_EQ(got[0].destIndex, 2);
    EXPECT_EQ(got[0].head.Context, 11u);
    EXPECT_EQ(got[0].payload, "payload");
}

TYPED_TEST(ListeningCoreTest, ADisconnectIsLoggedAndQueuesTheLinkDownNotice) {
    auto first = this->Connect(1);
    auto second = this->Connect(2);
    second->Close();
    ASSERT_TRUE(this->Pump([&] { return this->queue.Count() == 1; }));
    EXPECT_TRUE(this->log->Has(llInfo, this->Name() + "(1) Disconnect!"));
    const auto got = Drain(this->queue);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].head.packType, 5);
    EXPECT_EQ(got[0].head.SrcServerType, TypeParam::kType);
    EXPECT_EQ(got[0].head.DestServerType, 0);
    EXPECT_EQ(got[0].head.Context, 0u);
    EXPECT_EQ(got[0].payload, "");
    if (TypeParam::kType == 5) {
        // A RouteServer's packets carry its slot in the header, the notice too.
        EXPECT_EQ(got[0].head.DestIndex, 1);
        EXPECT_EQ(got[0].destIndex, -1);
    } else {
        EXPECT_EQ(got[0].head.DestIndex, -1);
        EXPECT_EQ(got[0].destIndex, 0);
    }
}

TYPED_TEST(ListeningCoreTest, OnlyTheGameServerCoreRecordsTheNoticeHeader) {
    auto peer = this->Connect(1);
    PackRecorder* recorder = EnabledRecorder(TypeParam::kType);
    peer->Close();
    ASSERT_TRUE(this->Pump([&] { return this->queue.Count() == 1; }));
    if (TypeParam::kType == 3) {
        ASSERT_EQ(recorder->Recv().GetRecordCount(), 1);
        EXPECT_EQ(recorder->Recv().GetViewItem(0)->hexText, "00 00 00 00 FF FF 05 00 03 ");
    } else {
        EXPECT_EQ(recorder->Recv().GetRecordCount(), 0);
    }
    recorder->Recv().SetEnabled(false);
}

}  // namespace
