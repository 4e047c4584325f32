// The outbound link over the real blocking-client module, against a peer
// server on 127.0.0.1 that the tests stop and start again.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "infra/IWakeable.h"
#include "platform/Tick.h"
#include "platform/WakeableSleep.h"
#include "ShareDefine/MMORPGPacketPool.h"
#include "ShareDefine/TnServerClient.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"

namespace {

using namespace std::chrono_literals;
using testsupport::FrameHeader;
using testsupport::PacketFrame;

struct Received {
    uint32_t context;
    int16_t destIndex;
    std::string payload;
};

class TestClient final : public TnServerClient {
public:
    TestClient() { m_Name = "TestLink"; }
    void OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) override {
        std::lock_guard lock(mutex);
        received.push_back({head->Context, head->DestIndex, std::string(data, static_cast<size_t>(len))});
    }
    void OnDisconnected() override { ++disconnects; }

    std::vector<Received> Snapshot() {
        std::lock_guard lock(mutex);
        return received;
    }

    std::mutex mutex;
    std::vector<Received> received;
    std::atomic<int> disconnects{0};
};

// A worker's sleep between work calls that a producer can cut short.
class Sleeper final : public IWakeable {
public:
    void Wake() override { m_Sleep.Wake(); }
    void SleepFor(int ms) { m_Sleep.SleepFor(static_cast<uint32_t>(ms)); }

private:
    plat::WakeableSleep m_Sleep;
};

// Counts the wakes the link gives its send thread.
class WakeCounter final : public IWakeable {
public:
    void Wake() override { ++wakes; }
    std::atomic<int> wakes{0};
};

// Runs the link's two work callbacks as its worker threads would: each
// sleeps as long as its callback asks unless woken, the sender by the link.
class LinkThreads {
public:
    explicit LinkThreads(TestClient& client) : m_Client(client) {
        client.SetSenderWakeTarget(&m_SendSleep);
        m_Recv = std::thread([this] { Run(m_RecvSleep, [this] { return m_Client.ThreadRecvPack(); }); });
        m_Send = std::thread([this] { Run(m_SendSleep, [this] { return m_Client.ThreadSendPack(); }); });
    }
    ~LinkThreads() {
        m_Stop = true;
        m_RecvSleep.Wake();
        m_SendSleep.Wake();
        m_Recv.join();
        m_Send.join();
        m_Client.SetSenderWakeTarget(nullptr);
    }

private:
    void Run(Sleeper& sleeper, const std::function<int()>& work) {
        while (!m_Stop) {
            const int sleep = work();
            if (sleep > 0) sleeper.SleepFor(sleep);
        }
    }
    TestClient& m_Client;
    std::atomic<bool> m_Stop{false};
    Sleeper m_RecvSleep;
    Sleeper m_SendSleep;
    std::thread m_Recv;
    std::thread m_Send;
};

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return done();
}

MMORPG::MMORPGPacket* Packet(uint32_t context, const std::string& payload, uint8_t src = 3, uint8_t type = 1) {
    MMORPG::MMORPGPacket* packet = AllocPacket();
    packet->SetContext(context);
    packet->SetPackType(type);
    packet->SetSrcServerType(src);
    packet->SetDestServerType(1);
    packet->ReadData(payload.data(), static_cast<int>(payload.size()));
    return packet;
}

std::string FrameOf(uint32_t context, const std::string& payload) {
    return PacketFrame({context, 0, 1, 1, 3}, payload);
}

class TnServerClientTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Ends a receive thread blocked in its read.
        client->Disconnect();
        threads.reset();  // before the client it drives
        client.reset();
    }
    void Start() {
        ASSERT_TRUE(client->Connect("127.0.0.1", listener.Port()));
        server = listener.Accept();
        ASSERT_NE(server, nullptr);
        threads = std::make_unique<LinkThreads>(*client);
    }

    testsupport::ScopedCapturingLog log;
    nettest::LoopbackListener listener;
    std::unique_ptr<TestClient> client = std::make_unique<TestClient>();
    std::unique_ptr<nettest::LoopbackPeer> server;
    std::unique_ptr<LinkThreads> threads;
};

TEST_F(TnServerClientTest, ReceivedFramesReachOnRecvPack) {
    Start();
    ASSERT_TRUE(server->Send(FrameOf(1, "one") + FrameOf(2, "") + PacketFrame({3, -1, 1, 3, 1}, "three")));
    ASSERT_TRUE(WaitFor([&] { return client->Snapshot().size() == 3; }));
    const auto got = client->Snapshot();
    EXPECT_EQ(got[0].payload, "one");
    EXPECT_EQ(got[1].context, 2u);
    EXPECT_EQ(got[2].destIndex, -1);
    EXPECT_EQ(got[2].payload, "three");
}

TEST_F(TnServerClientTest, QueuedPacketsGoOutInOrder) {
    Start();
    std::string expected;
    for (uint32_t i = 0; i < 50; ++i) {
        ASSERT_TRUE(client->PushSend(Packet(i, std::string(i * 10, 'p'))));
        expected += FrameOf(i, std::string(i * 10, 'p'));
    }
    EXPECT_EQ(server->Receive(expected.size()), expected);
}

TEST_F(TnServerClientTest, PushSendRefusesBadTypesAndUnpooledPackets) {
    MMORPG::MMORPGPacket* edge = Packet(1, "", 13, 14);
    EXPECT_TRUE(client->PushSend(edge));
    EXPECT_EQ(client->GetSendQueueCount(), 1);

    MMORPG::MMORPGPacket* badSource = Packet(1, "", 14, 1);
    EXPECT_FALSE(client->PushSend(badSource));
    EXPECT_TRUE(log->Has(llError,
                         "TnServerClient::PushSend  SrcServerType(14) <= MMORPG::stMin || SrcServerType >= MMORPG::stMax"));
    MMORPG::MMORPGPacket* badType = Packet(1, "", 3, 15);
    EXPECT_FALSE(client->PushSend(badType));
    EXPECT_TRUE(log->Has(llError, "TnServerClient::PushSend  Type(15) < atNormal || Type >= atMax"));
    FreePacket(badSource);
    FreePacket(badType);

    const size_t linesBefore = log->Entries().size();
    MMORPG::MMORPGPacket unpooled;
    unpooled.SetSrcServerType(3);
    unpooled.SetPackType(1);
    EXPECT_FALSE(client->PushSend(&unpooled));
    EXPECT_EQ(log->Entries().size(), linesBefore);
    EXPECT_EQ(client->GetSendQueueCount(), 1);
}

TEST_F(TnServerClientTest, APeerCloseIsAnnouncedOnceAndTheLinkComesBack) {
    Start();
    server->Close();
    server = listener.Accept();  // the link reconnects to the stored address
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(WaitFor([&] { return client->SockIsConnected(); }));
    EXPECT_EQ(client->disconnects.load(), 1);
    EXPECT_EQ(log->Texts(llWarn).size(), 1u);
    EXPECT_TRUE(log->Has(llWarn, "TnServerClient::ThreadRecvPack Connection has been gracefully closed!"));
    ASSERT_TRUE(client->PushSend(Packet(9, "after")));
    EXPECT_EQ(server->Receive(FrameOf(9, "after").size()), FrameOf(9, "after"));
}

TEST_F(TnServerClientTest, LonePacketsAndAFrameSplitOverTwoReadsArriveWholeAndACloseIsAnnouncedOnce) {
    // The send thread's poll far longer than the test; the receive thread
    // blocks in its read whatever it is set to.
    client->SetSpinMicros(1000000);
    Start();
    const auto sendAlone = [&](int type, const char* text, size_t expected) {
        ASSERT_TRUE(server->Send(FrameOf(type, text)));
        ASSERT_TRUE(WaitFor([&] { return client->Snapshot().size() == expected; }));
    };
    sendAlone(1, "alone", 1);
    sendAlone(2, "alone again", 2);
    std::this_thread::sleep_for(20ms);  // the receive thread is back in its read
    const std::string split = FrameOf(4, "split across two reads");
    ASSERT_TRUE(server->Send(FrameOf(3, "polled") + split.substr(0, 5)));
    ASSERT_TRUE(WaitFor([&] { return client->Snapshot().size() == 3; }));
    ASSERT_TRUE(server->Send(split.substr(5)));
    ASSERT_TRUE(WaitFor([&] { return client->Snapshot().size() == 4; }));
    EXPECT_EQ(client->Snapshot()[2].payload, "polled");
    EXPECT_EQ(client->Snapshot()[3].payload, "split across two reads");

    // The peer closes right behind two lone packets.
    sendAlone(5, "alone", 5);
    sendAlone(6, "alone again", 6);
    server->Close();
    server = listener.Accept();
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(WaitFor([&] { return client->SockIsConnected() && client->disconnects.load() == 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(client->disconnects.load(), 1);
    EXPECT_EQ(log->Texts(llWarn).size(), 1u);
    EXPECT_TRUE(log->Has(llWarn, "TnServerClient::ThreadRecvPack Connection has been gracefully closed!"));
    ASSERT_TRUE(server->Send(FrameOf(7, "after")));
    EXPECT_TRUE(WaitFor([&] { return client->Snapshot().size() == 7; }));
}

TEST_F(TnServerClientTest, ALinkThatDiesAtOnceAfterTheReconnectContinuesTheSameOutage) {
    Start();
    server->Close();
    // The re-made connection is reset before anything arrives on it, as a
    // killed DataServer's listener does in its last moment.
    auto stillborn = listener.Accept();
    ASSERT_NE(stillborn, nullptr);
    stillborn->Reset();
    server = listener.Accept();
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(WaitFor([&] { return client->SockIsConnected(); }));
    EXPECT_EQ(client->disconnects.load(), 1);

    // A link that came to life is a new one: its loss is announced again.
    ASSERT_TRUE(server->Send(FrameOf(1, "alive")));
    ASSERT_TRUE(WaitFor([&] { return client->Snapshot().size() == 1; }));
    server->Close();
    server = listener.Accept();
    ASSERT_NE(server, nullptr);
    EXPECT_TRUE(WaitFor([&] { return client->disconnects.load() == 2; }));
}

TEST_F(TnServerClientTest, PacketsPushedWhileThePeerIsDownArriveInOrderOnceItIsBack) {
    Start();
    const uint16_t port = listener.Port();
    listener.Close();
    server->Close();
    ASSERT_TRUE(WaitFor([&] { return client->disconnects.load() == 1; }));

    std::string expected;
    for (uint32_t i = 0; i < 200; ++i) {
        ASSERT_TRUE(client->PushSend(Packet(i, "while down " + std::to_string(i))));
        expected += FrameOf(i, "while down " + std::to_string(i));
    }
    std::this_thread::sleep_for(2500ms);  // a few retries fail meanwhile
    EXPECT_FALSE(client->SockIsConnected());

    ASSERT_TRUE(listener.Open(port));
    server = listener.Accept(5s);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->Receive(expected.size()), expected);
    EXPECT_EQ(client->disconnects.load(), 1);  // one notice for the whole outage
    // The failed retries were logged once, not once per attempt.
    EXPECT_EQ(log->CountContaining("TestLink Reconnect 127.0.0.1:"), 1);
}

TEST_F(TnServerClientTest, AWriteFailureResendsTheSamePacketAfterTheReconnect) {
    Start();
    // The peer vanishes without a word; the first writes may still be taken
    // by the kernel, later ones fail and must be sent again on the new link.
    server->Reset();
    std::string expected;
    for (uint32_t i = 0; i < 20; ++i) {
        ASSERT_TRUE(client->PushSend(Packet(100 + i, std::string(3000, static_cast<char>('a' + i)))));
        expected += FrameOf(100 + i, std::string(3000, static_cast<char>('a' + i)));
        std::this_thread::sleep_for(2ms);
    }
    server = listener.Accept();
    ASSERT_NE(server, nullptr);
    const std::string got = server->Receive(expected.size(), 5s);
    // Whatever the old connection swallowed is lost with it; what arrives on
    // the new one is an unbroken, ordered tail of what was pushed.
    ASSERT_FALSE(got.empty());
    ASSERT_LE(got.size(), expected.size());
    EXPECT_EQ(expected.substr(expected.size() - got.size()), got);
    EXPECT_EQ(client->disconnects.load(), 1);
}

TEST_F(TnServerClientTest, DirectWritesAndTheSendThreadHandOverInOrderThroughAStallAndARestart) {
    Start();
    // The peer does not read at first: the caller's own waves fill the
    // socket, one is cut short and its tail, several frames long, goes to
    // the send thread with the packets queued behind it; waves come back
    // once both the socket and the queue have drained.
    std::string expected;
    uint32_t next = 0;
    int mostQueued = 0;
    uint32_t passLength = 0;
    bool queueSome = false;  // every 40th packet by PushSend
    auto push = [&](int count, size_t size) {
        for (int k = 0; k < count; ++k, ++next) {
            const std::string payload(size, static_cast<char>('a' + next % 26));
            ASSERT_TRUE(queueSome && next % 40 == 0 ? client->PushSend(Packet(next, payload)) : client->WriteOrPush(Packet(next, payload)));
            expected += FrameOf(next, payload);
            mostQueued = std::max(mostQueued, client->GetSendQueueCount());
            if (next % passLength == passLength - 1) client->FlushDirectWave();  // the end of a pass
        }
        client->FlushDirectWave();
    };
    passLength = 60;
    push(60000, 200);  // about 13 MB: more than the socket buffers take
    EXPECT_GT(mostQueued, 0) << "the stall never reached the send thread";
    std::string got = server->Receive(expected.size(), 10s);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "reordered or corrupted in the stall";
    // Every packet is counted once, however its wave was cut.
    EXPECT_EQ(client->GetPacketTotals().PacketsOut(), 60000u);
    // Drained: waves come back, still in order; passes longer than a
    // wave's bound leave the rest of each to the send thread, behind it.
    ASSERT_TRUE(WaitFor([&] { return client->GetSendQueueCount() == 0; }));
    expected.clear();
    passLength = 39;
    queueSome = true;
    push(400, 1000);
    EXPECT_EQ(server->Receive(expected.size(), 5s), expected);

    // A restart: what the dead connection swallowed is lost with it; what
    // arrives on the new one is an unbroken, ordered tail of what was pushed.
    server->Reset();
    expected.clear();
    for (int k = 0; k < 20; ++k) {
        push(1, 3000);
        std::this_thread::sleep_for(2ms);
    }
    server = listener.Accept();
    ASSERT_NE(server, nullptr);
    got = server->Receive(expected.size(), 5s);
    ASSERT_FALSE(got.empty());
    ASSERT_LE(got.size(), expected.size());
    EXPECT_EQ(expected.substr(expected.size() - got.size()), got);
    EXPECT_EQ(client->disconnects.load(), 1);
}

TEST_F(TnServerClientTest, WhileThePeerIsDownTheReceiveThreadSleepsUntilTheNextRetryIsDue) {
    WakeCounter sender;
    client->SetSenderWakeTarget(&sender);
    ASSERT_TRUE(client->Connect("127.0.0.1", listener.Port()));
    EXPECT_EQ(sender.wakes.load(), 1) << "a connect wakes the send thread";
    server = listener.Accept();
    ASSERT_NE(server, nullptr);
    const uint16_t port = listener.Port();
    listener.Close();
    server->Close();

    plat::TestClock clock(50000);
    EXPECT_EQ(client->ThreadRecvPack(), 1);  // reads the close; the first retry fails
    EXPECT_FALSE(client->SockIsConnected());
    ASSERT_TRUE(client->PushSend(Packet(1, "waits")));
    EXPECT_EQ(client->ThreadSendPack(), kIdleUntilWokenMs) << "nothing to do until the link is back";
    clock.Advance(400);
    EXPECT_EQ(client->ThreadRecvPack(), 600);
    clock.Advance(600);
    const int wakesWhileDown = sender.wakes.load();  // the push woke it, failed retries do not
    EXPECT_EQ(client->ThreadRecvPack(), 1000);       // due: attempted, failed again
    EXPECT_EQ(sender.wakes.load(), wakesWhileDown);

    ASSERT_TRUE(listener.Open(port));
    clock.Advance(1000);
    EXPECT_EQ(client->ThreadRecvPack(), 0);  // due: reconnected, read at once
    EXPECT_EQ(sender.wakes.load(), wakesWhileDown + 1) << "the reconnect wakes the send thread";
    server = listener.Accept();
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(client->ThreadSendPack(), 0);
    EXPECT_EQ(server->Receive(FrameOf(1, "waits").size()), FrameOf(1, "waits"));
    client->SetSenderWakeTarget(nullptr);
}

TEST_F(TnServerClientTest, AfterDisconnectAReadFailureDoesNotReconnect) {
    Start();
    client->Disconnect();
    EXPECT_TRUE(client->GetStopFlag());
    EXPECT_TRUE(server->WaitClosedByOtherSide());
    EXPECT_EQ(listener.Accept(1500ms), nullptr);
    EXPECT_EQ(client->disconnects.load(), 0);
    EXPECT_FALSE(client->SockIsConnected());
}

TEST_F(TnServerClientTest, DisconnectGivesQueuedPacketsBackToThePool) {
    const int before = MMORPG::MMORPGPacket::m_Count.load();
    ASSERT_TRUE(client->PushSend(Packet(1, "x")));
    ASSERT_TRUE(client->PushSend(Packet(2, "y")));
    EXPECT_EQ(MMORPG::MMORPGPacket::m_Count.load(), before + 2);
    client->Disconnect();
    EXPECT_EQ(client->GetSendQueueCount(), 0);
    EXPECT_EQ(MMORPG::MMORPGPacket::m_Count.load(), before);
}

TEST_F(TnServerClientTest, ConnectToAClosedPortFails) {
    const uint16_t port = listener.Port();
    listener.Close();
    EXPECT_FALSE(client->Connect("127.0.0.1", port));
    EXPECT_FALSE(client->SockIsConnected());
}

}  // namespace
