// The listening side over the real network module, with peers on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "diag/PackRecorderManager.h"
#include "platform/LastError.h"
#include "platform/Tick.h"
#include "ShareDefine/MMORPGPacketPool.h"
#include "ShareDefine/NetProcess.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"

namespace {

using namespace std::chrono_literals;
using testsupport::FrameHeader;
using testsupport::PacketFrame;

// Turns every received packet into a pooled packet on the target queue,
// remembering the slot it came from in m_DestIndex.
class TestServerObj final : public IServerObj {
public:
    TestServerObj(INetService* service, int poolIndex, PacketQueue* target) : IServerObj(service, poolIndex, target) {
        m_Recorder = 3;
    }
    void OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) override {
        MMORPG::MMORPGPacket* packet = AllocPacket();
        packet->SetPackHead(head);
        packet->ReadData(data, len);
        packet->SetDestIndex(GetPoolIndex());
        GetTargetQueue()->Push(packet);
    }
};

class TestNetProcess final : public INetProcess {
public:
    explicit TestNetProcess(PacketQueue* target) : INetProcess(target) { m_Name = "GameServer"; }
    void CreateServerObj(INetService* service, QXNetClient* client) override {
        AddServerObj(client, std::make_unique<TestServerObj>(service, client->GetPoolIndex(), GetTargetQueue()));
    }
    void OnConnected(INetService*, QXNetClient* client) override { connected.push_back(client->GetPoolIndex()); }
    void OnRecvData(INetService*, QXNetClient* client, const char* data, int len) override {
        if (auto* serverObj = static_cast<IServerObj*>(client->GetUserObj())) serverObj->OnRecvBytes(data, len);
    }
    void OnDisconnected(INetService*, QXNetClient* client) override { disconnected.push_back(client->GetPoolIndex()); }
    void OnClientNotify(INetService*, QXNetClient*) override {}

    std::vector<int> connected;
    std::vector<int> disconnected;
};

class NetProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        process = std::make_unique<TestNetProcess>(&received);
        ASSERT_TRUE(process->StartService(0, 4));
        port = process->GetService()->GetListenPort();
        ASSERT_NE(port, 0);
    }
    void TearDown() override {
        process.reset();
        received.Clear();
    }
    // Runs the process thread's round until the condition holds.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            process->ProcessNetMsg();
            process->SendAll();
            if (done()) return true;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }
    std::unique_ptr<nettest::LoopbackPeer> ConnectPeer(int expectedOnline) {
        auto peer = std::make_unique<nettest::LoopbackPeer>(port);
        EXPECT_TRUE(peer->Connected());
        EXPECT_TRUE(PumpUntil([&] { return process->GetOnlineCount() == expectedOnline; }));
        return peer;
    }
    MMORPG::MMORPGPacket* PacketFor(int slot, const std::string& payload) {
        MMORPG::MMORPGPacket* packet = AllocPacket();
        packet->SetPackType(1);
        packet->SetSrcServerType(1);
        packet->SetDestServerType(3);
        packet->SetContext(0x11223344);
        packet->SetDestIndex(slot);
        packet->ReadData(payload.data(), static_cast<int>(payload.size()));
        return packet;
    }

    testsupport::ScopedCapturingLog log;
    PacketQueue received;
    std::unique_ptr<TestNetProcess> process;
    uint16_t port = 0;
};

TEST_F(NetProcessTest, FramesSplitAndJoinedBecomeQueuedPacketsInOrder) {
    auto peer = ConnectPeer(1);
    ASSERT_EQ(process->connected, std::vector<int>{0});

    const std::string first = PacketFrame({7, 4, 1, 1, 3}, "first");
    const std::string second = PacketFrame({8, -1, 2, 1, 3}, "");
    const std::string third = PacketFrame({9, 2, 3, 1, 3}, std::string(3000, 'x'));
    ASSERT_TRUE(peer->Send(first + second));
    ASSERT_TRUE(peer->Send(third.substr(0, 3)));
    ASSERT_TRUE(PumpUntil([&] { return received.Count() == 2; }));
    ASSERT_TRUE(peer->Send(third.substr(3, 1000)));
    std::this_thread::sleep_for(20ms);
    process->ProcessNetMsg();
    EXPECT_EQ(received.Count(), 2);  // the third frame is still incomplete
    ASSERT_TRUE(peer->Send(third.substr(1003)));
    ASSERT_TRUE(PumpUntil([&] { return received.Count() == 3; }));

    MMORPG::MMORPGPacket_Stack packet;
    ASSERT_EQ(received.PacketPop(&packet), 1);
    EXPECT_EQ(packet.GetContext(), 7u);
    EXPECT_EQ(packet.GetHeadDestIndex(), 4);
    EXPECT_EQ(packet.Data(), "first");
    ASSERT_EQ(received.PacketPop(&packet), 1);
    EXPECT_EQ(packet.GetHeadDestIndex(), -1);
    EXPECT_EQ(packet.GetDataLen(), 0);
    ASSERT_EQ(received.PacketPop(&packet), 1);
    EXPECT_EQ(packet.GetPackType(), 3);
    EXPECT_EQ(packet.Data(), std::string(3000, 'x'));
    EXPECT_GT(process->GetServerObj(0)->GetRecvCounterValue() + 1, 0);
}

TEST_F(NetProcessTest, ABodyShorterThanTheHeaderIsLoggedAndDropped) {
    auto peer = ConnectPeer(1);
    ASSERT_TRUE(peer->Send(std::string("\xFF\xCC\x02\x00\x00\x00\x01\x02", 8)));
    ASSERT_TRUE(peer->Send(PacketFrame({}, "ok")));
    ASSERT_TRUE(PumpUntil([&] { return received.Count() == 1; }));
    EXPECT_TRUE(log->Has(llWarn, "IServerObj::OnGetDispatchPack, PackError : 01 02 "));
}

TEST_F(NetProcessTest, DispatchedPacketsReachTheirSlotAsExactFrames) {
    auto peer = ConnectPeer(1);
    const int countBefore = MMORPG::MMORPGPacket::m_Count.load();
    process->PushDisp(PacketFor(0, "to slot 0"));
    process->PushDisp(PacketFor(0, "again"));
    const std::string expected = PacketFrame({0x11223344, 0, 1, 3, 1}, "to slot 0") + PacketFrame({0x11223344, 0, 1, 3, 1}, "again");
    std::string got;
    ASSERT_TRUE(PumpUntil([&] {
        got += peer->Receive(expected.size() - got.size(), 5ms);
        return got.size() >= expected.size();
    }));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(MMORPG::MMORPGPacket::m_Count.load(), countBefore);  // both went back to the pool
}

TEST_F(NetProcessTest, APacketForAnEmptySlotIsLoggedWithItsBytesAndFreed) {
    auto peer = ConnectPeer(1);
    const int countBefore = MMORPG::MMORPGPacket::m_Count.load();
    process->PushDisp(PacketFor(3, ""));
    process->SendAll();
    EXPECT_EQ(MMORPG::MMORPGPacket::m_Count.load(), countBefore);
    EXPECT_TRUE(log->Has(llWarn, "ThreadDispToAllClient error packet:FF CC 09 00 00 00 44 33 22 11 00 00 01 03 01 "));
}

TEST_F(NetProcessTest, PacketsBehindAFailedDispatchWaitForTheNextPassAndAreReportedAsPending) {
    auto peer = ConnectPeer(1);
    EXPECT_FALSE(process->HasPendingWork());
    process->PushDisp(PacketFor(3, ""));  // no client on slot 3
    process->PushDisp(PacketFor(0, "next"));
    process->SendAll();
    EXPECT_EQ(process->GetDispQueueCount(), 1);
    // No further push will wake the process thread for it.
    EXPECT_TRUE(process->HasPendingWork());
    process->SendAll();
    EXPECT_EQ(process->GetDispQueueCount(), 0);
    EXPECT_FALSE(process->HasPendingWork());
    const std::string expected = PacketFrame({0x11223344, 0, 1, 3, 1}, "next");
    EXPECT_EQ(peer->Receive(expected.size(), 2s), expected);
}

TEST_F(NetProcessTest, SendQueuedWritesEveryQueuedPacketAndFlushesOnce) {
    auto peer = ConnectPeer(1);
    IServerObj* serverObj = process->GetOnlineServerObj(0);
    ASSERT_NE(serverObj, nullptr);
    serverObj->PushSendPack(PacketFor(0, "a"));
    serverObj->PushSendPack(PacketFor(0, "bb"));
    EXPECT_EQ(serverObj->GetSendQueueCount(), 2);
    const uint64_t writesBefore = process->GetService()->GetValue(NETVALUE_PUSH_SEND_MSG_TOTAL);
    EXPECT_EQ(serverObj->SendQueued(), 1);
    EXPECT_EQ(serverObj->GetSentThisPass(), 15 + 1 + 15 + 2);
    EXPECT_EQ(serverObj->GetSendQueueCount(), 0);
    // Both frames left in one SendTo: coalesced by the stream, flushed once.
    EXPECT_EQ(process->GetService()->GetValue(NETVALUE_PUSH_SEND_MSG_TOTAL), writesBefore + 1);
    EXPECT_EQ(peer->Receive(33), PacketFrame({0x11223344, 0, 1, 3, 1}, "a") + PacketFrame({0x11223344, 0, 1, 3, 1}, "bb"));
}

TEST_F(NetProcessTest, RecorderSeesReceivedBodiesAndSentFramesWithTheirContext) {
    PackRecorderManager& recorders = PackRecorderManager::Instance();
    PackRecorder* recorder = recorders.FindRecorder(3);
    if (recorder == nullptr) recorder = recorders.CreateRecorder("GameServer", 3);
    recorder->Recv().SetEnabled(true);
    recorder->Send().SetEnabled(true);
    recorder->Recv().ClearRecords(true);
    recorder->Send().ClearRecords(true);

    auto peer = ConnectPeer(1);
    ASSERT_TRUE(peer->Send(PacketFrame({5, 0, 1, 1, 3}, "in")));
    ASSERT_TRUE(PumpUntil([&] { return received.Count() == 1; }));
    process->PushDisp(PacketFor(0, "out"));
    ASSERT_TRUE(PumpUntil([&] { return recorder->Send().GetRecordCount() == 1; }));

    EXPECT_EQ(recorder->Recv().GetViewItem(0)->hexText, "05 00 00 00 00 00 01 01 03 69 6E ");
    auto sent = recorder->Send().GetViewItem(0);
    EXPECT_EQ(sent->rawBytes, PacketFrame({0x11223344, 0, 1, 3, 1}, "out"));
    EXPECT_EQ(sent->sessionId, 0x11223344);
    recorder->Recv().SetEnabled(false);
    recorder->Send().SetEnabled(false);
}

TEST_F(NetProcessTest, ASlotReusedAfterADisconnectCarriesNothingOfTheOldConnection) {
    auto peer = ConnectPeer(1);
    // Half a frame, and a packet waiting to be sent, then the peer leaves.
    ASSERT_TRUE(peer->Send(PacketFrame({}, "never completed").substr(0, 10)));
    ASSERT_TRUE(PumpUntil([&] { return process->GetServerObj(0)->GetRecvCounterValue() >= 0; }));
    peer->Close();
    ASSERT_TRUE(PumpUntil([&] { return process->GetOnlineCount() == 0; }));
    EXPECT_EQ(process->disconnected, std::vector<int>{0});

    auto next = ConnectPeer(1);
    EXPECT_EQ(process->connected, (std::vector<int>{0, 0}));  // the same slot again
    ASSERT_TRUE(next->Send(PacketFrame({42, 0, 1, 1, 3}, "fresh")));
    ASSERT_TRUE(PumpUntil([&] { return received.Count() == 1; }));
    MMORPG::MMORPGPacket_Stack packet;
    ASSERT_EQ(received.PacketPop(&packet), 1);
    EXPECT_EQ(packet.GetContext(), 42u);
    EXPECT_EQ(packet.Data(), "fresh");
}

TEST_F(NetProcessTest, SeveralPeersTakeTheirOwnSlotsAndBroadcastWalkSeesEveryOne) {
    auto a = ConnectPeer(1);
    auto b = ConnectPeer(2);
    auto c = ConnectPeer(3);
    std::vector<int> slots;
    for (int i = 0; i < process->GetOnlineCount(); ++i) slots.push_back(process->GetOnlineServerObj(i)->GetPoolIndex());
    std::sort(slots.begin(), slots.end());
    EXPECT_EQ(slots, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(process->GetOnlineServerObj(3), nullptr);
    EXPECT_EQ(process->GetOnlineServerObj(-1), nullptr);
    b->Reset();
    ASSERT_TRUE(PumpUntil([&] { return process->GetOnlineCount() == 2; }));
    EXPECT_EQ(process->disconnected, std::vector<int>{1});
}

TEST_F(NetProcessTest, ASlotStreamFlushThatFailsLosesTheBufferedBytes) {
    CICOPNetStream stream(process->GetService(), 2);  // slot 2 has no connection
    EXPECT_EQ(stream.SendBuf_o("abc", 3), 3);
    EXPECT_EQ(stream.BufferedBytes(), 3);
    plat::SetLastError(NOTHING_TO_SEND);  // a stale value must not turn the failure into success
    EXPECT_EQ(stream.SendBuf_o(nullptr, 0), 0);
    EXPECT_NE(plat::GetLastError(), NOTHING_TO_SEND);
    EXPECT_EQ(stream.BufferedBytes(), 0);
}

TEST_F(NetProcessTest, ASlotStreamWritesThroughTheServiceToItsPeer) {
    auto peer = ConnectPeer(1);
    CICOPNetStream stream(process->GetService(), 0);
    EXPECT_EQ(stream.SendBuf_o("hello ", 6), 6);
    EXPECT_EQ(stream.SendBuf_o("peer", 4), 4);
    EXPECT_EQ(stream.SendBuf_o(nullptr, 0), 1);
    EXPECT_EQ(peer->Receive(10), "hello peer");
}

TEST_F(NetProcessTest, StopServiceClosesEveryConnection) {
    auto peer = ConnectPeer(1);
    EXPECT_TRUE(process->IsListening());
    process->StopService();
    EXPECT_FALSE(process->IsListening());
    EXPECT_TRUE(peer->WaitClosedByOtherSide());
    ASSERT_TRUE(PumpUntil([&] { return process->GetOnlineCount() == 0; }));
    const std::string text = process->GetSendCounterText();
    EXPECT_NE(text.find("kb/s, total: "), std::string::npos) << text;
    EXPECT_NE(text.find(")(Commit:"), std::string::npos) << text;
}

}  // namespace

namespace {

TEST_F(NetProcessTest, ABadMagicClosesTheConnectionWithOneLineNamingThePeerAndTheReason) {
    auto peer = ConnectPeer(1);
    ASSERT_TRUE(peer->Send(std::string("\xCC\xFF\x09\x00\x00\x00", 6) + std::string(9, '\0')));
    ASSERT_TRUE(PumpUntil([&] { return process->disconnected.size() == 1; }));
    EXPECT_TRUE(peer->WaitClosedByOtherSide(5s));
    EXPECT_EQ(log->CountContaining("IServerObj::OnRecvBytes, 127.0.0.1:"), 1);
    EXPECT_EQ(log->CountContaining("bad frame (封包错误:0xffcc), connection closed, first bytes: CC FF 09 00 "), 1);
    EXPECT_EQ(received.Count(), 0);
    // The slot's next peer starts clean.
    auto next = ConnectPeer(1);
    ASSERT_TRUE(next->Send(PacketFrame({}, "ok")));
    EXPECT_TRUE(PumpUntil([&] { return received.Count() == 1; }));
}

TEST_F(NetProcessTest, RepeatedUnroutablePacketsOfOnePeerStopAfterFiveAndAreSummarised) {
    plat::TestClock clock(5000);
    auto peer = ConnectPeer(1);
    std::string frames;
    for (int i = 0; i < 100; ++i) frames += PacketFrame({1, 0, 1, 99, 3}, "nowhere");
    ASSERT_TRUE(peer->Send(frames + PacketFrame({}, "ok")));
    // Five go on to the core (which logs and drops them); the rest end here.
    ASSERT_TRUE(PumpUntil([&] { return received.Count() == 6; }));
    std::this_thread::sleep_for(50ms);
    process->ProcessNetMsg();
    EXPECT_EQ(received.Count(), 6);
    clock.Advance(10000);
    ASSERT_TRUE(peer->Send(PacketFrame({1, 0, 1, 99, 3}, "nowhere")));
    EXPECT_TRUE(PumpUntil([&] { return log->Has(llWarn, "127.0.0.1: 95 more Unknown ServerType lines in the last 10 s"); }));
}

}  // namespace
