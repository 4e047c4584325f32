// The relay's routing decisions, one dispatch pass at a time: a started core
// with real peers on 127.0.0.1 and a DataServer played by a loopback
// listener; the test thread runs the dispatch and process work itself, so
// every decision can be checked in the queues before anything is sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/ServerCore.h"
#include "infra/IWakeable.h"
#include "platform/Tick.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"

namespace {

using coretest::Frame;
using coretest::PacketsInUse;
using coretest::QueuedPacket;
using coretest::ReadFrame;
using coretest::WaitFor;
using testsupport::PacketFrame;
using namespace std::chrono_literals;

// The peer's next bytes are exactly this frame.
void ExpectFrame(nettest::LoopbackPeer& peer, const std::string& frame) {
    EXPECT_EQ(peer.Receive(frame.size()), frame);
}

struct Peer {
    std::unique_ptr<nettest::LoopbackPeer> socket;
    int slot = -1;
};

class RoutingTest : public ::testing::Test {
protected:
    void SetUp() override {
        core = std::make_unique<CServerCore>();
        ASSERT_TRUE(core->Start(0, 8, 0, 8, 0, 8, "127.0.0.1", dataListener.Port()));
        dataServer = dataListener.Accept();
        ASSERT_NE(dataServer, nullptr);
    }
    void TearDown() override {
        core->Stop();
        core.reset();
        // Every packet the relay took from the pool went back.
        EXPECT_EQ(PacketsInUse(), poolStart);
    }

    // A peer of the kind of `service`, connected and online; its slot is
    // the one that came online with it.
    Peer Connect(INetProcess* service) {
        std::vector<int> before = Slots(service);
        Peer peer;
        peer.socket = std::make_unique<nettest::LoopbackPeer>(service->GetService()->GetListenPort());
        EXPECT_TRUE(peer.socket->Connected());
        EXPECT_TRUE(WaitFor([&] {
            core->ProcessPackWork();
            return service->GetOnlineCount() == static_cast<int>(before.size()) + 1;
        }));
        for (int slot : Slots(service)) {
            if (std::find(before.begin(), before.end(), slot) == before.end()) peer.slot = slot;
        }
        return peer;
    }
    static std::vector<int> Slots(INetProcess* service) {
        std::vector<int> slots;
        for (int k = 0; k < service->GetOnlineCount(); ++k) slots.push_back(service->GetOnlineServerObj(k)->GetPoolIndex());
        return slots;
    }
    static IServerObj* ObjectOf(INetProcess* service, const Peer& peer) { return service->GetServerObj(peer.slot); }
    static int Queued(INetProcess* service, const Peer& peer) { return ObjectOf(service, peer)->GetSendQueueCount(); }

    // A peer's frame reaches the receive queue (process pass), then the
    // queue is routed (dispatch passes, never an idle one).
    void SendFromPeer(const Peer& peer, const testsupport::FrameHeader& head, const std::string& payload) {
        const int before = core->GetRecvQueueCount();
        ASSERT_TRUE(peer.socket->Send(PacketFrame(head, payload)));
        ASSERT_TRUE(WaitFor([&] {
            core->ProcessPackWork();
            return core->GetRecvQueueCount() > before;
        }));
    }
    void Inject(MMORPG::MMORPGPacket* packet) { core->GetRecvQueue()->Push(packet); }
    void DispatchQueued() {
        while (core->GetRecvQueueCount() > 0) EXPECT_EQ(core->DispatchPackWork(), 0);
    }
    // Sends everything routed so far: the process pass for the listening
    // side, one send pass of the DataServer link.
    void Deliver() {
        core->ProcessPackWork();
        core->GetDataServerCore()->ThreadSendPack();
    }

    testsupport::ScopedCapturingLog log;
    const int poolStart = PacketsInUse();
    nettest::LoopbackListener dataListener;
    std::unique_ptr<CServerCore> core;
    std::unique_ptr<nettest::LoopbackPeer> dataServer;
};

TEST_F(RoutingTest, AGameServerPacketForTheDataServerArrivesWithItsSlotCleared) {
    Peer game = Connect(core->GetGameServerCore());
    SendFromPeer(game, {7, 4, 1, 1, 3}, "hello");
    DispatchQueued();
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 1);
    Deliver();
    ExpectFrame(*dataServer, PacketFrame({7, 0, 1, 1, 3}, "hello"));
    EXPECT_EQ(core->GetDispatchCounter()->GetTotalBytes(), 5u);
}

TEST_F(RoutingTest, AProcessPassThatTookAPacketIsFollowedAtOnceAndAnEmptyPassSleeps) {
    Peer game = Connect(core->GetGameServerCore());
    for (int pass = 0; pass < 3; ++pass) core->ProcessPackWork();  // the connect's own messages
    ASSERT_TRUE(game.socket->Send(PacketFrame({7, 0, 1, 1, 3}, "hello")));
    int result = kIdleUntilWokenMs;
    ASSERT_TRUE(WaitFor([&] {
        result = core->ProcessPackWork();
        return core->GetRecvQueueCount() == 1;
    }));
    // The thread's poll after work starts from a pass that found some; one
    // that reported idle here would put the process thread to sleep in the
    // I/O driver between every two waves of a busy peer.
    EXPECT_EQ(result, 0);
    EXPECT_EQ(core->ProcessPackWork(), kIdleUntilWokenMs);
    DispatchQueued();
    Deliver();
    ExpectFrame(*dataServer, PacketFrame({7, 0, 1, 1, 3}, "hello"));
}

TEST_F(RoutingTest, AFloodingGameServerNeitherOverfillsTheRelayNorKeepsARouteServerBehindItsBacklog) {
    core->GetGameServerCore()->SetServiceParam(NETPARAM_HACK_ATTACK_VALUE, 2000000000);  // paused, not cut
    Peer game = Connect(core->GetGameServerCore());
    Peer route = Connect(core->GetRouteServerCore());
    constexpr int kFloodFrames = 200;
    const std::string body(4000, 'f');
    std::string flood;
    for (uint32_t k = 0; k < kFloodFrames; ++k) flood += PacketFrame({k, 0, 1, 1, 3}, body);
    ASSERT_TRUE(game.socket->Send(flood));
    ASSERT_TRUE(route.socket->Send(PacketFrame({1, 0, 1, 1, 5}, "healthy")));
    std::this_thread::sleep_for(20ms);  // both are in the gateway's sockets

    // While nothing moves on towards the DataServer, the process thread
    // fills the relay's backlog up to its bound and then takes no more.
    constexpr int64_t kMostQueued = CServerCore::kMaxRelayBacklogBytes + CServerCore::kServicePassBudgetBytes + 4096;
    ASSERT_TRUE(WaitFor([&] {
        core->ProcessPackWork();
        return core->GetRecvQueue()->Bytes() >= CServerCore::kMaxRelayBacklogBytes;
    }));
    for (int pass = 0; pass < 20; ++pass) core->ProcessPackWork();
    EXPECT_LE(core->GetRecvQueue()->Bytes(), kMostQueued);

    // Then the relay as its threads run it, one stage after the other.
    int64_t mostQueued = 0;
    int received = 0, routePosition = -1;
    uint32_t nextFlood = 0;
    std::string stream;  // as the DataServer reads it
    Frame frame;
    ASSERT_TRUE(WaitFor([&] {
        core->ProcessPackWork();
        mostQueued = std::max(mostQueued, core->GetRecvQueue()->Bytes() +
                                              core->GetDataServerCore()->GetSendQueueBytes());
        DispatchQueued();
        core->GetDataServerCore()->ThreadSendPack();
        stream += dataServer->ReceiveSome(5ms);
        while (testsupport::TakeFrame(stream, frame)) {
            if (frame.payload == "healthy") {
                routePosition = received;
            } else {
                EXPECT_EQ(frame.context, nextFlood++);  // whole and in order
                EXPECT_EQ(frame.payload, body);
            }
            ++received;
        }
        return received == kFloodFrames + 1;
    })) << received << " received, route at " << routePosition << ", queued " << core->GetRecvQueueCount() << " + "
        << core->GetDataServerCore()->GetSendQueueCount() << ", stream " << stream.size();
    EXPECT_LE(mostQueued, kMostQueued);
    // Taken within the first pass budgets, not behind the 800 KB read ahead of it.
    EXPECT_GE(routePosition, 0);
    EXPECT_LE(routePosition, 2 * CServerCore::kServicePassBudgetBytes / 4000 + 2);
}

TEST_F(RoutingTest, ADataServerAnswerReachesOnlyTheGameServerOfItsSlot) {
    Peer first = Connect(core->GetGameServerCore());
    Peer second = Connect(core->GetGameServerCore());
    ASSERT_TRUE(dataServer->Send(PacketFrame({8, static_cast<int16_t>(second.slot), 2, 3, 1}, "answer")));
    ASSERT_EQ(core->GetDataServerCore()->ThreadRecvPack(), 0);  // reads what is waiting
    ASSERT_EQ(core->GetRecvQueueCount(), 1);
    DispatchQueued();
    EXPECT_EQ(core->GetGameServerCore()->GetDispQueueCount(), 1);
    Deliver();
    ExpectFrame(*second.socket, PacketFrame({8, 0, 2, 3, 1}, "answer"));
    EXPECT_EQ(Queued(core->GetGameServerCore(), first), 0);
    EXPECT_FALSE(ReadFrame(*first.socket, 50ms));
}

TEST_F(RoutingTest, PacketsForOneLoginOrRouteServerGoToThatServiceForTheirSlot) {
    Peer login = Connect(core->GetLoginServerCore());
    Peer route = Connect(core->GetRouteServerCore());
    Inject(QueuedPacket(1, 4, 1, login.slot, 0, "to login"));
    Inject(QueuedPacket(1, 5, 1, route.slot, 0, "to route"));
    DispatchQueued();
    EXPECT_EQ(core->GetLoginServerCore()->GetDispQueueCount(), 1);
    EXPECT_EQ(core->GetRouteServerCore()->GetDispQueueCount(), 1);
    Deliver();
    EXPECT_EQ(ReadFrame(*login.socket)->payload, "to login");
    EXPECT_EQ(ReadFrame(*route.socket)->payload, "to route");
}

TEST_F(RoutingTest, ABroadcastFromAGameServerSkipsOnlyTheSender) {
    std::vector<Peer> games;
    for (int i = 0; i < 4; ++i) games.push_back(Connect(core->GetGameServerCore()));
    Peer login = Connect(core->GetLoginServerCore());
    Peer route = Connect(core->GetRouteServerCore());
    const Peer& sender = games[2];
    SendFromPeer(sender, {21, static_cast<int16_t>(sender.slot), 5, 0, 3}, "news");
    DispatchQueued();

    for (const Peer& game : games) {
        EXPECT_EQ(Queued(core->GetGameServerCore(), game), &game == &sender ? 0 : 1) << "slot " << game.slot;
    }
    EXPECT_EQ(Queued(core->GetLoginServerCore(), login), 1);
    EXPECT_EQ(Queued(core->GetRouteServerCore(), route), 1);
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 1);

    Deliver();
    const int16_t senderIndex = static_cast<int16_t>(sender.slot);
    ExpectFrame(*dataServer, PacketFrame({21, senderIndex, 5, 1, 3}, "news"));
    ExpectFrame(*login.socket, PacketFrame({21, senderIndex, 5, 4, 3}, "news"));
    ExpectFrame(*route.socket, PacketFrame({21, senderIndex, 5, 5, 3}, "news"));
    ExpectFrame(*games[0].socket, PacketFrame({21, senderIndex, 5, 3, 3}, "news"));
}

TEST_F(RoutingTest, ABroadcastFromARouteServerSkipsTheSenderByTheSlotTheGatewayStamped) {
    Peer first = Connect(core->GetRouteServerCore());
    Peer second = Connect(core->GetRouteServerCore());
    // The peer names another slot; its own slot replaces it on receipt.
    SendFromPeer(second, {1, static_cast<int16_t>(first.slot), 5, 0, 5}, "");
    DispatchQueued();
    EXPECT_EQ(Queued(core->GetRouteServerCore(), first), 1);
    EXPECT_EQ(Queued(core->GetRouteServerCore(), second), 0);
}

TEST_F(RoutingTest, ABroadcastFromTheDataServerIsNotSentBackToIt) {
    Peer game = Connect(core->GetGameServerCore());
    Peer login = Connect(core->GetLoginServerCore());
    Inject(QueuedPacket(5, 0, 1, -1, 0, "from data"));
    DispatchQueued();
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 0);
    EXPECT_EQ(Queued(core->GetGameServerCore(), game), 1);
    EXPECT_EQ(Queued(core->GetLoginServerCore(), login), 1);
}

TEST_F(RoutingTest, ABroadcastSkipsTheDataServerWhileItsLinkIsDown) {
    Peer game = Connect(core->GetGameServerCore());
    core->GetDataServerCore()->DropConnection();
    Inject(QueuedPacket(5, 0, 3, 0, -1));
    DispatchQueued();
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 0);
    EXPECT_EQ(Queued(core->GetGameServerCore(), game), 1);
}

TEST_F(RoutingTest, ABroadcastFromTheGatewayItselfIsRoutedByItsSlotInstead) {
    Peer game = Connect(core->GetGameServerCore());
    Peer login = Connect(core->GetLoginServerCore());
    Inject(QueuedPacket(5, 3, 2, game.slot));
    DispatchQueued();
    EXPECT_EQ(core->GetGameServerCore()->GetDispQueueCount(), 1);
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 0);
    EXPECT_EQ(Queued(core->GetLoginServerCore(), login), 0);
}

TEST_F(RoutingTest, KeepAlivesFromPeersEndAtTheRelay) {
    Peer game = Connect(core->GetGameServerCore());
    const int before = PacketsInUse();
    SendFromPeer(game, {0, -1, 7, 2, 3}, "");
    Inject(QueuedPacket(7, 1, 1, -1));
    DispatchQueued();
    EXPECT_EQ(PacketsInUse(), before);
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 0);
    EXPECT_EQ(core->GetGameServerCore()->GetDispQueueCount(), 0);
    EXPECT_EQ(Queued(core->GetGameServerCore(), game), 0);
}

TEST_F(RoutingTest, AllSlotsOfAKindGetOneCopyEach) {
    std::vector<Peer> games;
    for (int i = 0; i < 3; ++i) games.push_back(Connect(core->GetGameServerCore()));
    Peer route = Connect(core->GetRouteServerCore());
    Inject(QueuedPacket(1, 3, 1, -1, 0, "every game"));
    DispatchQueued();
    for (const Peer& game : games) EXPECT_EQ(Queued(core->GetGameServerCore(), game), 1);
    EXPECT_EQ(Queued(core->GetRouteServerCore(), route), 0);
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 0);
    Deliver();
    for (const Peer& game : games) {
        ExpectFrame(*game.socket, PacketFrame({0x0A0B0C0D, 0, 1, 3, 1}, "every game"));
    }
}

TEST_F(RoutingTest, AllSlotsOfTheDataServerMeansItsOneLink) {
    Inject(QueuedPacket(1, 1, 3, -1, 0, "once"));
    DispatchQueued();
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 1);
    Deliver();
    ExpectFrame(*dataServer, PacketFrame({0x0A0B0C0D, 0, 1, 1, 3}, "once"));
    EXPECT_FALSE(ReadFrame(*dataServer, 50ms));
}

TEST_F(RoutingTest, AnUnknownDestinationTypeIsFreedAndLogged) {
    const int before = PacketsInUse();
    Inject(QueuedPacket(1, 9, 3, 4));
    DispatchQueued();
    EXPECT_EQ(PacketsInUse(), before);
    EXPECT_EQ(log->Texts(llWarn), std::vector<std::string>{"Unknown ServerType = 9"});
}

TEST_F(RoutingTest, AnUnknownDestinationTypeForAllSlotsIsFreedAndLogged) {
    const int before = PacketsInUse();
    Inject(QueuedPacket(1, 2, 3, -1));
    DispatchQueued();
    EXPECT_EQ(PacketsInUse(), before);
    EXPECT_EQ(log->Texts(llWarn), std::vector<std::string>{"Error target ServerType = 2"});
}

TEST_F(RoutingTest, BroadcastSpecialPackRefusesAPacketWithARealSlot) {
    MMORPG::MMORPGPacket* packet = QueuedPacket(1, 3, 1, 3);
    core->BroadcastSpecialPack(packet);
    EXPECT_EQ(log->Texts(llError), std::vector<std::string>{"CServerCore::BroadcastSpecialPack  DestIndex!= -1"});
    EXPECT_TRUE(packet->IsInUse());  // still the caller's
    EXPECT_EQ(core->GetGameServerCore()->GetDispQueueCount(), 0);
    FreePacket(packet);
}

TEST_F(RoutingTest, APacketTheDataServerLinkRefusesIsFreed) {
    const int before = PacketsInUse();
    Inject(QueuedPacket(1, 1, 0, 0));   // no source type
    Inject(QueuedPacket(15, 1, 3, -1));  // no such pack type
    DispatchQueued();
    EXPECT_EQ(PacketsInUse(), before);
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 0);
    EXPECT_EQ(log->Texts(llError).size(), 2u);
}

// Notes, on the dispatch thread's pushes, which kind of link each wake-up
// came from and whether the DataServer's keep-alive was queued already.
class PushOrder final : public IWakeable {
public:
    PushOrder(std::vector<std::string>& order, std::string name, DataServerCore* dataServer)
        : m_Order(order), m_Name(std::move(name)), m_DataServer(dataServer) {}
    void Wake() override {
        m_Order.push_back(m_DataServer->GetSendQueueCount() > 0 ? m_Name + " after DataServer" : m_Name);
    }

private:
    std::vector<std::string>& m_Order;
    std::string m_Name;
    DataServerCore* m_DataServer;
};

TEST_F(RoutingTest, IdlePassesSendKeepAlivesEveryThirtySecondsInServiceOrder) {
    plat::TestClock clock(5000);
    Peer route = Connect(core->GetRouteServerCore());
    std::vector<Peer> games;
    for (int i = 0; i < 2; ++i) games.push_back(Connect(core->GetGameServerCore()));
    Peer login = Connect(core->GetLoginServerCore());

    std::vector<std::string> order;
    PushOrder routeProbe(order, "Route", core->GetDataServerCore());
    PushOrder gameProbe(order, "Game", core->GetDataServerCore());
    PushOrder loginProbe(order, "Login", core->GetDataServerCore());
    ObjectOf(core->GetRouteServerCore(), route)->SetWakeTarget(&routeProbe);
    for (const Peer& game : games) ObjectOf(core->GetGameServerCore(), game)->SetWakeTarget(&gameProbe);
    ObjectOf(core->GetLoginServerCore(), login)->SetWakeTarget(&loginProbe);

    // The first idle pass sends at once, then sleeps until woken.
    EXPECT_EQ(core->DispatchPackWork(), kIdleUntilWokenMs);
    EXPECT_EQ(order, (std::vector<std::string>{"Route", "Game", "Game", "Login"}));
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 1);
    Deliver();
    ExpectFrame(*route.socket, PacketFrame({0, -1, 7, 5, 2}, ""));
    ExpectFrame(*dataServer, PacketFrame({0, -1, 7, 1, 2}, ""));
    ExpectFrame(*games[0].socket, PacketFrame({0, -1, 7, 3, 2}, ""));
    ExpectFrame(*games[1].socket, PacketFrame({0, -1, 7, 3, 2}, ""));
    ExpectFrame(*login.socket, PacketFrame({0, -1, 7, 4, 2}, ""));

    order.clear();
    clock.Advance(29999);
    core->DispatchPackWork();
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 0);

    clock.Advance(1);
    core->DispatchPackWork();
    EXPECT_EQ(order, (std::vector<std::string>{"Route", "Game", "Game", "Login"}));
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 1);

    ObjectOf(core->GetRouteServerCore(), route)->SetWakeTarget(nullptr);
    for (const Peer& game : games) ObjectOf(core->GetGameServerCore(), game)->SetWakeTarget(nullptr);
    ObjectOf(core->GetLoginServerCore(), login)->SetWakeTarget(nullptr);
}

TEST_F(RoutingTest, TheKeepAliveIntervalSurvivesTheWrapOfTheTick) {
    plat::TestClock clock(0xFFFFF000u);
    core->DispatchPackWork();
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 1);
    clock.Advance(0x2000);  // past the wrap, 8 s later
    core->DispatchPackWork();
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 1);
    clock.Advance(30000 - 0x2000);
    core->DispatchPackWork();
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 2);
}

TEST_F(RoutingTest, AQueuedPacketIsRoutedBeforeAnyKeepAlive) {
    plat::TestClock clock(100000);
    Inject(QueuedPacket(1, 1, 3, 0, 0, "first"));
    EXPECT_EQ(core->DispatchPackWork(), 0);  // called again at once
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 1);
    EXPECT_EQ(core->DispatchPackWork(), kIdleUntilWokenMs);  // idle now: the keep-alive
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 2);
}

TEST_F(RoutingTest, AnIdleDispatchThreadSleepsNoLongerThanUntilTheNextKeepAlive) {
    plat::TestClock clock(100000);
    EXPECT_EQ(core->DispatchPackWork(), kIdleUntilWokenMs);  // sends the first keep-alives
    clock.Advance(29500);
    EXPECT_EQ(core->DispatchPackWork(), 500);
    clock.Advance(499);
    EXPECT_EQ(core->DispatchPackWork(), 1);
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 1);
    clock.Advance(1);
    EXPECT_EQ(core->DispatchPackWork(), kIdleUntilWokenMs);  // due: sent, and a full interval ahead
    EXPECT_EQ(core->GetDataServerCore()->GetSendQueueCount(), 2);
}

}  // namespace
