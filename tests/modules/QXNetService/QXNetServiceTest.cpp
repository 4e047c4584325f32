// The network service module loaded as the program loads it, driven by
// peers over 127.0.0.1 on a port the service picks itself. Every case runs
// twice: with the service's own I/O thread, and with its work on an I/O
// driver that a thread of the test runs.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sched.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "modules/QXNetService/INetService.h"
#include "modules/QXNetService/NetConnection.h"
#include "platform/ModuleLoader.h"
#include "tests/support/LoopbackPeer.h"

namespace {

using namespace std::chrono_literals;
using nettest::LoopbackPeer;

struct NetModule {
    GetQXNetServiceInstanceFunc create = nullptr;
    GetNetMsgPoolFunc getPool = nullptr;
    FreeNetMsgPoolFunc freePool = nullptr;
    CreateNetIoDriverFunc createDriver = nullptr;
};

const NetModule& Module() {
    static const NetModule module = [] {
        NetModule loaded;
        plat::ModuleHandle handle = plat::LoadModule("QXNetService.dll");
        if (handle == nullptr) return loaded;
        loaded.create =
            reinterpret_cast<GetQXNetServiceInstanceFunc>(plat::ResolveSymbol(handle, "GetQXNetServiceInstance"));
        loaded.getPool = reinterpret_cast<GetNetMsgPoolFunc>(plat::ResolveSymbol(handle, "GetNetMsgPool"));
        loaded.freePool = reinterpret_cast<FreeNetMsgPoolFunc>(plat::ResolveSymbol(handle, "FreeNetMsgPool"));
        loaded.createDriver = reinterpret_cast<CreateNetIoDriverFunc>(plat::ResolveSymbol(handle, "CreateNetIoDriver"));
        return loaded;
    }();
    return module;
}

// Counts the service's "queued into an empty queue" notices and lets the
// test thread sleep until one arrives.
struct NotifyWaiter {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
    int calls = 0;
    std::thread::id lastThread;

    static void Callback(void* context) {
        auto* self = static_cast<NotifyWaiter*>(context);
        std::lock_guard lock(self->mutex);
        self->signalled = true;
        ++self->calls;
        self->lastThread = std::this_thread::get_id();
        self->changed.notify_all();
    }
    int Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Bytes 0, 1, ... 250, 0, 1, ...: a reordered or lost chunk shows.
std::string Pattern(size_t offset, size_t len) {
    std::string bytes(len, '\0');
    for (size_t i = 0; i < len; ++i) bytes[i] = static_cast<char>((offset + i) % 251);
    return bytes;
}

// A thread that runs a driver's work until it is stopped, as the program's
// process thread does between its passes.
class DriverThread {
public:
    explicit DriverThread(INetIoDriver* driver) : m_Driver(driver) {
        m_Thread = std::thread([this] {
            while (!m_Stop.load()) m_Driver->RunFor(50);
        });
    }
    ~DriverThread() {
        m_Stop.store(true);
        m_Driver->Wake();
        m_Thread.join();
    }

private:
    INetIoDriver* m_Driver;
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
};

enum class IoMode { OwnThread, Driven };

std::string IoModeName(const ::testing::TestParamInfo<IoMode>& info) {
    return info.param == IoMode::OwnThread ? "OwnThread" : "Driven";
}

class NetServiceTest : public ::testing::TestWithParam<IoMode> {
protected:
    void SetUp() override {
        ASSERT_NE(Module().create, nullptr) << plat::LastModuleError();
        m_Service = Module().create(0);
        ASSERT_NE(m_Service, nullptr);
        m_Service->SetMsgNotify(&NotifyWaiter::Callback, &m_Waiter);
        if (GetParam() == IoMode::Driven) {
            ASSERT_NE(Module().createDriver, nullptr);
            m_Driver = Module().createDriver();
            ASSERT_NE(m_Driver, nullptr);
            ASSERT_TRUE(m_Service->SetIoDriver(m_Driver));
            m_DriverThread.emplace(m_Driver);
        }
    }
    void TearDown() override {
        // The service goes first: its stop takes the driver's turn.
        if (m_Service != nullptr) m_Service->Release();
        m_DriverThread.reset();
        if (m_Driver != nullptr) m_Driver->Release();
    }

    void Listen(int count) {
        ASSERT_TRUE(m_Service->StartListen(0, count));
        m_Port = m_Service->GetListenPort();
        ASSERT_NE(m_Port, 0);
    }

    // The next message, waiting for the service's notice while none is queued.
    std::optional<tagNetMsg> Next(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        tagNetMsg msg{};
        for (;;) {
            if (m_Service->GetMsg(&msg)) return msg;
            std::unique_lock lock(m_Waiter.mutex);
            if (!m_Waiter.changed.wait_until(lock, deadline, [this] { return m_Waiter.signalled; })) break;
            m_Waiter.signalled = false;
        }
        if (m_Service->GetMsg(&msg)) return msg;
        return std::nullopt;
    }

    // The first connection of a slot: its create and connect messages.
    void ExpectFirstAccept(int poolIndex) {
        ExpectNext(poolIndex, NET_MSG_ON_CLIENTCREATE);
        ExpectNext(poolIndex, NET_MSG_ON_CLIENTCONNECT);
    }

    // Takes the next message and checks its slot and kind.
    void ExpectNext(int poolIndex, int kind) {
        const auto msg = Next();
        ASSERT_TRUE(msg.has_value()) << "no message, expected kind " << kind;
        EXPECT_EQ(msg->poolIndex, poolIndex);
        EXPECT_EQ(msg->msgType, kind);
    }

    // Collects kind-101 bytes of one slot until `len` arrived; other kinds
    // are counted in `others`.
    std::string ReceiveData(int poolIndex, size_t len, std::vector<int>* others = nullptr) {
        std::string got;
        while (got.size() < len) {
            const auto msg = Next();
            if (!msg.has_value()) break;
            EXPECT_EQ(msg->poolIndex, poolIndex);
            if (msg->msgType == NET_MSG_ON_RECV) {
                EXPECT_LE(msg->dataLen, kNetMsgDataSize);
                got.append(msg->data, static_cast<size_t>(msg->dataLen));
            } else if (others != nullptr) {
                others->push_back(msg->msgType);
            }
        }
        return got;
    }

    uint64_t Value(ENetValue id) { return m_Service->GetValue(id); }

    INetService* m_Service = nullptr;
    INetIoDriver* m_Driver = nullptr;
    std::optional<DriverThread> m_DriverThread;
    NotifyWaiter m_Waiter;
    uint16_t m_Port = 0;
};

INSTANTIATE_TEST_SUITE_P(IoModes, NetServiceTest, ::testing::Values(IoMode::OwnThread, IoMode::Driven), IoModeName);

// ---------------------------------------------------------------------------
// Message kinds and their order
// ---------------------------------------------------------------------------

TEST_P(NetServiceTest, FirstConnectOfASlotQueuesCreateThenConnect) {
    Listen(4);
    LoopbackPeer peer(m_Port);
    ASSERT_TRUE(peer.Connected());
    ExpectFirstAccept(0);

    QXNetClient* client = m_Service->GetClient(0);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->GetPoolIndex(), 0);
    EXPECT_STREQ(client->GetPeerIP(), "127.0.0.1");
    EXPECT_GE(client->GetSocket(), 0);
    EXPECT_TRUE(client->IsUsable());
    EXPECT_EQ(client->IsWaitClose(), 0);
    EXPECT_EQ(client->IsSendPending(), 0);
    EXPECT_EQ(client->GetConnectSerial(), 1u);
    EXPECT_EQ(m_Service->GetClient(1), nullptr);  // no connection has used slot 1 yet
    EXPECT_EQ(m_Service->GetOnlineCount(), 1);
    EXPECT_EQ(Value(NETVALUE_MAX_CLIENT), 4u);
    EXPECT_EQ(Value(NETVALUE_FREE_CLIENT_POOL), 3u);

    std::this_thread::sleep_for(30ms);
    EXPECT_GE(client->GetRecvIdleTime(), 25u);
    EXPECT_GE(client->GetConnectedTime(), 25u);
    ASSERT_TRUE(peer.Send("!"));
    ExpectNext(0, NET_MSG_ON_RECV);
    EXPECT_LT(client->GetRecvIdleTime(), client->GetConnectedTime());

    int marker = 0;
    client->BindUserObj(&marker);
    EXPECT_EQ(client->GetUserObj(), &marker);
}

TEST_P(NetServiceTest, ReceivedBytesArriveAsRecvRecordsOfAtMost4096Bytes) {
    Listen(2);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);
    m_Service->SetParam(NETPARAM_HACK_ATTACK_VALUE, 0);

    const std::string sent = Pattern(0, 10000);
    const uint64_t recordsBefore = Value(NETVALUE_PUSH_RECV_MSG_TOTAL);
    ASSERT_TRUE(peer.Send(sent));
    EXPECT_EQ(ReceiveData(0, sent.size()), sent);
    // 10000 bytes cannot fit in fewer than three 4096-byte records.
    EXPECT_GE(Value(NETVALUE_PUSH_RECV_MSG_TOTAL) - recordsBefore, 3u);
    EXPECT_EQ(Value(NETVALUE_RECV_TOTAL_BYTE), 10000u);
    EXPECT_EQ(m_Service->GetClient(0)->GetRecvBytes(), 10000u);
}

// Reads that fill the buffer are followed by more reads; a read that empties
// the socket waits for readiness. Every small message sent after a quiet
// gap must still be read, then a burst after them, and the peer's close.
TEST_P(NetServiceTest, ReadsGoOnAfterFullBuffersAndAfterQuietGaps) {
    Listen(2);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);
    m_Service->SetParam(NETPARAM_HACK_ATTACK_VALUE, 0);

    const std::string burst = Pattern(0, 300 * 1024);  // several full 64 KiB reads
    ASSERT_TRUE(peer.Send(burst));
    EXPECT_EQ(ReceiveData(0, burst.size()), burst);
    for (int round = 0; round < 20; ++round) {
        std::this_thread::sleep_for(2ms);
        const std::string message = "ping " + std::to_string(round);
        ASSERT_TRUE(peer.Send(message));
        ASSERT_EQ(ReceiveData(0, message.size()), message) << "round " << round;
    }
    // After small reads a large one overflows the few records it was given
    // and must still arrive whole and in order.
    const std::string second = Pattern(7, 200 * 1024);
    ASSERT_TRUE(peer.Send(second));
    EXPECT_EQ(ReceiveData(0, second.size()), second);
    peer.Close();
    ExpectNext(0, NET_MSG_ON_CLIENTDISCONNECT);
}

TEST_P(NetServiceTest, PeerCloseQueuesDisconnectAfterItsData) {
    Listen(2);
    {
        LoopbackPeer peer(m_Port);
        ExpectFirstAccept(0);
        ASSERT_TRUE(peer.Send("last words"));
    }
    EXPECT_EQ(ReceiveData(0, 10), "last words");
    ExpectNext(0, NET_MSG_ON_CLIENTDISCONNECT);
    EXPECT_EQ(Value(NETVALUE_CLIENTNORMAL_DIS_COUNT), 1u);
    EXPECT_EQ(m_Service->GetOnlineCount(), 0);
    EXPECT_FALSE(m_Service->GetClient(0)->IsUsable());
}

TEST_P(NetServiceTest, ResetByPeerQueuesSocketError) {
    Listen(2);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);
    peer.Reset();
    const auto msg = Next();
    ASSERT_TRUE(msg.has_value());
    EXPECT_EQ(msg->msgType, NET_MSG_ON_CONNECT_ERROR);
    EXPECT_EQ(msg->param, ECONNRESET);
    EXPECT_EQ(Value(NETVALUE_POST_RECV_ERR_COUNT), 1u);
    EXPECT_EQ(Value(NETVALUE_RET_ERROR_COUNT), 1u);
}

TEST_P(NetServiceTest, CloseClientQueuesServiceCloseAndEndsThePeer) {
    Listen(2);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);
    QXNetClient* client = m_Service->GetClient(0);

    m_Service->CloseClient(0);
    EXPECT_FALSE(client->IsUsable());
    EXPECT_EQ(client->IsWaitClose(), 1);
    EXPECT_EQ(m_Service->SendTo(0, "x", 1), 0);
    ExpectNext(0, NET_MSG_ON_CLIENTCLOSE);
    EXPECT_EQ(client->IsWaitClose(), 0);  // the close message was handed out
    EXPECT_TRUE(peer.WaitClosedByOtherSide());
    EXPECT_EQ(Value(NETVALUE_INITIATIVE_CLOSESOCKET_COUNT), 1u);

    m_Service->CloseClient(0);  // nothing left to close: no second message
    m_Service->CloseClient(99);
    EXPECT_FALSE(Next(200ms).has_value());
}

// ---------------------------------------------------------------------------
// Slots
// ---------------------------------------------------------------------------

TEST_P(NetServiceTest, FullSlotsRefuseTheNextConnection) {
    Listen(2);
    LoopbackPeer first(m_Port);
    LoopbackPeer second(m_Port);
    LoopbackPeer third(m_Port);
    EXPECT_TRUE(third.WaitClosedByOtherSide());
    EXPECT_TRUE(WaitUntil([&] { return Value(NETVALUE_MAX_CONNECT_REFUSE_COUNT) == 1; }));
    EXPECT_EQ(m_Service->GetOnlineCount(), 2);
    EXPECT_EQ(Value(NETVALUE_FREE_CLIENT_POOL), 0u);
    // Only the two accepted connections produced messages.
    EXPECT_EQ(m_Service->GetMsgCount(), 4);
}

TEST_P(NetServiceTest, SlotIsReusedOnlyAfterItsCloseMessageWasDrained) {
    Listen(1);
    {
        LoopbackPeer first(m_Port);
        ExpectFirstAccept(0);
    }
    // The disconnect waits in the queue: the slot must stay taken.
    ASSERT_TRUE(WaitUntil([&] { return m_Service->GetMsgCount() == 1; }));
    EXPECT_EQ(m_Service->GetClient(0)->IsWaitClose(), 1);
    LoopbackPeer early(m_Port);
    EXPECT_TRUE(early.WaitClosedByOtherSide());
    EXPECT_TRUE(WaitUntil([&] { return Value(NETVALUE_MAX_CONNECT_REFUSE_COUNT) == 1; }));

    ExpectNext(0, NET_MSG_ON_CLIENTDISCONNECT);
    EXPECT_EQ(Value(NETVALUE_FREE_CLIENT_POOL), 1u);
    LoopbackPeer later(m_Port);
    // The slot object already exists: only the connect this time.
    ExpectNext(0, NET_MSG_ON_CLIENTCONNECT);
    EXPECT_EQ(m_Service->GetClient(0)->GetConnectSerial(), 2u);
    EXPECT_TRUE(m_Service->GetClient(0)->IsUsable());
    EXPECT_FALSE(Next(200ms).has_value());
}

// ---------------------------------------------------------------------------
// Sending
// ---------------------------------------------------------------------------

TEST_P(NetServiceTest, SendToASlotWithoutConnectionReturnsZero) {
    Listen(2);
    EXPECT_EQ(m_Service->SendTo(0, "abc", 3), 0);
    EXPECT_EQ(m_Service->SendTo(-1, "abc", 3), 0);
    EXPECT_EQ(m_Service->SendTo(2, "abc", 3), 0);
    EXPECT_EQ(Value(NETVALUE_DROP_PACK_COUNT), 3u);
}

TEST_P(NetServiceTest, SendToMoreBurstEndedBySendToArrivesWholeAndInOrder) {
    Listen(2);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);

    const std::string all = Pattern(0, 11 * 4000);
    for (size_t i = 0; i < 10; ++i) {
        ASSERT_EQ(m_Service->SendToMore(0, all.data() + i * 4000, 4000), 1);
    }
    ASSERT_EQ(m_Service->SendTo(0, all.data() + 10 * 4000, 4000), 1);
    EXPECT_EQ(peer.Receive(all.size(), 5s), all);
    EXPECT_TRUE(WaitUntil([&] { return Value(NETVALUE_POP_SEND_MSG_TOTAL) == 11; }));
    EXPECT_EQ(Value(NETVALUE_SEND_TOTAL_BYTE), all.size());
    EXPECT_EQ(m_Service->SendToMore(3, "abc", 3), 0);  // no such slot
}

// Bursts held for one write meet a peer that stops reading: the socket
// takes part of a burst, the rest queues behind it, and later bursts queue
// whole until the peer drains them. Bursts are longer than what one write
// holds, so the hold also hands bytes over before a burst ends.
TEST_P(NetServiceTest, SendToMoreBurstsStayInOrderWhenThePeerStopsReading) {
    m_Service->SetParam(NETPARAM_MAX_SEND_MSG_QUEUE_COUNT, 0);
    Listen(2);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);

    constexpr size_t kMessage = 8000, kPerBurst = 21, kBursts = 100;
    const std::string all = Pattern(0, kMessage * kPerBurst * kBursts);
    for (size_t m = 0; m < kPerBurst * kBursts; ++m) {
        const bool lastOfBurst = m % kPerBurst == kPerBurst - 1;
        const char* message = all.data() + m * kMessage;
        ASSERT_EQ(lastOfBurst ? m_Service->SendTo(0, message, kMessage) : m_Service->SendToMore(0, message, kMessage),
                  1);
    }
    EXPECT_GT(Value(NETVALUE_SEND_QUEUE), 0u);  // the peer fell behind
    EXPECT_EQ(peer.Receive(all.size(), 20s), all);
    EXPECT_TRUE(WaitUntil([&] { return Value(NETVALUE_POP_SEND_MSG_TOTAL) == kPerBurst * kBursts; }));
    EXPECT_EQ(Value(NETVALUE_SEND_TOTAL_BYTE), all.size());
    EXPECT_EQ(Value(NETVALUE_SEND_QUEUE), 0u);
}

TEST_P(NetServiceTest, SendToWritesEveryMessageInOrder) {
    Listen(2);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);

    const std::string all = Pattern(0, 200 * 100);
    for (size_t i = 0; i < 200; ++i) {
        ASSERT_EQ(m_Service->SendTo(0, all.data() + i * 100, 100), 1);
    }
    EXPECT_EQ(peer.Receive(all.size()), all);
    EXPECT_TRUE(WaitUntil([&] { return Value(NETVALUE_POP_SEND_MSG_TOTAL) == 200; }));
    EXPECT_EQ(Value(NETVALUE_PUSH_SEND_MSG_TOTAL), 200u);
    EXPECT_EQ(Value(NETVALUE_COMMIT_SEND_TOTALBYTE), all.size());
    EXPECT_EQ(Value(NETVALUE_SEND_TOTAL_BYTE), all.size());
    EXPECT_EQ(Value(NETVALUE_SEND_QUEUE), 0u);
    EXPECT_EQ(Value(NETVALUE_SEND_STREAM_SIZE), 0u);
    EXPECT_EQ(m_Service->GetClient(0)->GetSentBytes(), all.size());
    EXPECT_EQ(m_Service->GetClient(0)->GetRemainSendBuffLen(), 0u);
    EXPECT_EQ(m_Service->GetClient(0)->GetCommitSendBuffLen(), 0u);
}

// Sends 64 KB messages to a peer that reads nothing until SendTo refuses one.
int SendUntilRefused(INetService* service, int maxCalls) {
    const std::string chunk(64 * 1024, 'q');
    for (int call = 0; call < maxCalls; ++call) {
        if (service->SendTo(0, chunk.data(), static_cast<int>(chunk.size())) == 0) return call;
    }
    return -1;
}

TEST_P(NetServiceTest, MaxSendMsgQueueCountClosesAPeerThatDoesNotRead) {
    Listen(2);
    m_Service->SetParam(NETPARAM_MAX_SEND_MSG_QUEUE_COUNT, 5);
    LoopbackPeer peer(m_Port, 4096);
    ExpectFirstAccept(0);

    EXPECT_GE(SendUntilRefused(m_Service, 2000), 5);
    EXPECT_EQ(Value(NETVALUE_MAXQUEUE_KICKOUT), 1u);
    ExpectNext(0, NET_MSG_ON_CLIENTCLOSE);
    EXPECT_EQ(m_Service->SendTo(0, "x", 1), 0);
    EXPECT_EQ(Value(NETVALUE_SEND_QUEUE), 0u);  // the closed connection's backlog is gone
    EXPECT_TRUE(peer.WaitClosedByOtherSide());
}

TEST_P(NetServiceTest, SendBufferBoundClosesAPeerThatDoesNotRead) {
    Listen(2);
    m_Service->SetParam(NETPARAM_MAX_SEND_MSG_QUEUE_COUNT, 0);
    m_Service->SetParam(NETPARAM_MAX_SEND_BUFFER_BYTES, 256 * 1024);
    LoopbackPeer peer(m_Port, 4096);
    ExpectFirstAccept(0);

    EXPECT_GE(SendUntilRefused(m_Service, 2000), 4);
    EXPECT_EQ(Value(NETVALUE_MAXQUEUE_KICKOUT), 1u);
    ExpectNext(0, NET_MSG_ON_CLIENTCLOSE);
    EXPECT_EQ(Value(NETVALUE_SEND_STREAM_SIZE), 0u);
}

// ---------------------------------------------------------------------------
// Refusing connections
// ---------------------------------------------------------------------------

TEST_P(NetServiceTest, RefuseConnectByRecvQueueWhileTooManyRecordsWait) {
    Listen(3);
    m_Service->SetParam(NETPARAM_REFUSE_CONNECT_BY_RECV_QUEUE, 2);
    LoopbackPeer first(m_Port);
    ASSERT_TRUE(first.Send("x"));
    ASSERT_TRUE(WaitUntil([&] { return m_Service->GetMsgCount() == 3; }));  // 109, 103, 101

    LoopbackPeer refused(m_Port);
    EXPECT_TRUE(refused.WaitClosedByOtherSide());
    EXPECT_TRUE(WaitUntil([&] { return Value(NETVALUE_REFUSE_CONNECTBYRECV_COUNT) == 1; }));
    EXPECT_EQ(m_Service->GetMsgCount(), 3);

    ExpectFirstAccept(0);
    ExpectNext(0, NET_MSG_ON_RECV);
    LoopbackPeer accepted(m_Port);
    ExpectNext(1, NET_MSG_ON_CLIENTCREATE);
    ExpectNext(1, NET_MSG_ON_CLIENTCONNECT);
}

TEST_P(NetServiceTest, RefuseConnectBySendQueueWhileTooManyMessagesAreUnsent) {
    Listen(3);
    m_Service->SetParam(NETPARAM_MAX_SEND_MSG_QUEUE_COUNT, 0);
    m_Service->SetParam(NETPARAM_REFUSE_CONNECT_BY_SEND_QUEUE, 10);
    auto slowReader = std::make_unique<LoopbackPeer>(m_Port, 4096);
    ExpectFirstAccept(0);
    // 19 MB cannot all pass into the socket buffers of a peer that reads nothing.
    const std::string chunk(64 * 1024, 's');
    for (int i = 0; i < 300; ++i) ASSERT_EQ(m_Service->SendTo(0, chunk.data(), static_cast<int>(chunk.size())), 1);
    ASSERT_GT(Value(NETVALUE_SEND_QUEUE), 10u);
    // The write chain is stuck on the full socket with the rest queued behind it.
    QXNetClient* client = m_Service->GetClient(0);
    ASSERT_TRUE(WaitUntil([&] { return client->IsSendPending() == 1; }));
    EXPECT_GT(client->GetCommitSendBuffLen(), 0u);
    EXPECT_GT(client->GetRemainSendBuffLen(), 0u);
    EXPECT_EQ(Value(NETVALUE_WAIT_PROCESS_SENDCOUNT), 1u);
    EXPECT_EQ(Value(NETVALUE_NETMSG_WSASEND_PENDING), 1u);

    LoopbackPeer refused(m_Port);
    EXPECT_TRUE(refused.WaitClosedByOtherSide());
    EXPECT_TRUE(WaitUntil([&] { return Value(NETVALUE_REFUSE_CONNECTBYSEND_COUNT) == 1; }));

    slowReader.reset();  // its close discards the unsent messages
    const auto last = Next();
    ASSERT_TRUE(last.has_value());
    EXPECT_TRUE(last->msgType == NET_MSG_ON_CLIENTDISCONNECT || last->msgType == NET_MSG_ON_CONNECT_ERROR);
    EXPECT_EQ(Value(NETVALUE_SEND_QUEUE), 0u);
    LoopbackPeer accepted(m_Port);
    ExpectNext(0, NET_MSG_ON_CLIENTCONNECT);
}

TEST_P(NetServiceTest, HackAttackValueClosesAPeerWithTooManyReadsPerSecond) {
    Listen(2);
    m_Service->SetParam(NETPARAM_HACK_ATTACK_VALUE, 5);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);

    // Small sends a few milliseconds apart: one read each, far more than 5
    // in the first second.
    for (int i = 0; i < 40 && peer.Send("h"); ++i) std::this_thread::sleep_for(3ms);
    int reads = 0;
    std::optional<tagNetMsg> msg;
    while ((msg = Next()).has_value() && msg->msgType == NET_MSG_ON_RECV) ++reads;
    ASSERT_TRUE(msg.has_value());
    EXPECT_EQ(msg->msgType, NET_MSG_ON_CLIENTCLOSE);
    EXPECT_EQ(reads, 6);  // the sixth read within the second was one too many
    EXPECT_EQ(Value(NETVALUE_FIND_HACKER_KICK_OUT), 1u);
    EXPECT_TRUE(peer.WaitClosedByOtherSide());
}

TEST_P(NetServiceTest, OneLargeReadBecomesOrderedRecordsThatCountAgainstTheFloodLimit) {
    Listen(2);
    m_Service->SetParam(NETPARAM_HACK_ATTACK_VALUE, 5);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);

    // 10 records' worth in one send: whatever the reads were, they make more
    // than 5 records, so the peer is closed after its data was queued.
    const std::string sent = Pattern(0, 10 * kNetMsgDataSize);
    ASSERT_TRUE(peer.Send(sent));
    std::string got;
    std::optional<tagNetMsg> msg;
    while ((msg = Next()).has_value() && msg->msgType == NET_MSG_ON_RECV) {
        EXPECT_GT(msg->dataLen, 0);
        EXPECT_LE(msg->dataLen, kNetMsgDataSize);
        got.append(msg->data, static_cast<size_t>(msg->dataLen));
    }
    ASSERT_TRUE(msg.has_value());
    EXPECT_EQ(msg->msgType, NET_MSG_ON_CLIENTCLOSE);
    EXPECT_EQ(Value(NETVALUE_FIND_HACKER_KICK_OUT), 1u);
    EXPECT_GE(got.size(), 6u * kNetMsgDataSize);
    EXPECT_TRUE(got == sent.substr(0, got.size())) << "records out of order or altered";
}

TEST_P(NetServiceTest, HackAttackValueZeroCountsNoReads) {
    Listen(2);
    m_Service->SetParam(NETPARAM_HACK_ATTACK_VALUE, 0);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);
    std::string sent;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(peer.Send("z"));
        sent += 'z';
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(ReceiveData(0, sent.size()), sent);
    EXPECT_EQ(Value(NETVALUE_FIND_HACKER_KICK_OUT), 0u);
    EXPECT_TRUE(m_Service->GetClient(0)->IsUsable());
}

// ---------------------------------------------------------------------------
// Back-pressure
// ---------------------------------------------------------------------------

TEST_P(NetServiceTest, FloodingPeerIsHeldToTheReceiveBacklogBound) {
    Listen(2);
    m_Service->SetParam(NETPARAM_HACK_ATTACK_VALUE, 0);
    const uint64_t bound = static_cast<uint64_t>(m_Service->GetParam(NETPARAM_MAX_RECV_BACKLOG_BYTES));
    ASSERT_EQ(bound, 1024u * 1024u);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);
    QXNetClient* client = m_Service->GetClient(0);

    constexpr size_t kTotal = 16 * 1024 * 1024;
    std::atomic<bool> sentAll{false};
    std::thread flooder([&] {
        const std::string chunk = Pattern(0, 251 * 256);  // a whole number of pattern periods
        size_t sent = 0;
        while (sent < kTotal && peer.Send(chunk.data(), std::min(chunk.size(), kTotal - sent))) {
            sent += std::min(chunk.size(), kTotal - sent);
        }
        sentAll = sent == kTotal;
    });

    // Nobody drains: the service must stop reading at the bound.
    ASSERT_TRUE(WaitUntil([&] { return client->IsRecvPaused(); }));
    const uint64_t heldBytes = Value(NETVALUE_RECV_TOTAL_BYTE);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Value(NETVALUE_RECV_TOTAL_BYTE), heldBytes);
    EXPECT_GE(heldBytes, bound);
    // The read that crossed the bound is the last one.
    EXPECT_LT(heldBytes, bound + CNetConnection::kReadChunkBytes);

    // Draining lets everything through, in order.
    std::vector<int> notices;
    std::string got = ReceiveData(0, kTotal, &notices);
    flooder.join();
    EXPECT_TRUE(sentAll.load());
    ASSERT_EQ(got.size(), kTotal);
    EXPECT_TRUE(got == Pattern(0, kTotal)) << "received bytes differ from the sent stream";
    ASSERT_GE(notices.size(), 2u);
    for (int kind : notices) EXPECT_EQ(kind, NET_MSG_ON_CLIENTNOTIFY);
    EXPECT_FALSE(client->IsRecvPaused());
}

TEST_P(NetServiceTest, ReceiveFlowNoticesTellPauseThenResume) {
    Listen(2);
    m_Service->SetParam(NETPARAM_HACK_ATTACK_VALUE, 0);
    m_Service->SetParam(NETPARAM_MAX_RECV_BACKLOG_BYTES, 8192);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);
    const std::string sent = Pattern(0, 64 * 1024);
    std::thread sender([&] { peer.Send(sent); });
    ASSERT_TRUE(WaitUntil([&] { return m_Service->GetClient(0)->IsRecvPaused(); }));

    std::vector<int> params;
    std::string got;
    while (got.size() < sent.size()) {
        const auto msg = Next();
        ASSERT_TRUE(msg.has_value());
        if (msg->msgType == NET_MSG_ON_RECV) got.append(msg->data, static_cast<size_t>(msg->dataLen));
        if (msg->msgType == NET_MSG_ON_CLIENTNOTIFY) params.push_back(msg->param);
    }
    // The notices of the last pause may follow the last data record.
    while (const auto msg = Next(200ms)) {
        if (msg->msgType == NET_MSG_ON_CLIENTNOTIFY) params.push_back(msg->param);
    }
    sender.join();
    EXPECT_EQ(got, sent);
    ASSERT_GE(params.size(), 2u);
    for (size_t i = 0; i < params.size(); ++i) EXPECT_EQ(params[i], i % 2 == 0 ? 1 : 0) << "notice " << i;
}

// ---------------------------------------------------------------------------
// Listening
// ---------------------------------------------------------------------------

// Policy of the service's I/O thread, read through /proc; -1 while it has
// no such thread or has not named itself yet.
int IoThreadPolicy() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == "QXNetService IO") return sched_getscheduler(std::stoi(task.path().filename().string()));
    }
    return -1;
}

TEST_P(NetServiceTest, TheIoThreadDoesNotPreemptTheThreadItWakes) {
    if (GetParam() == IoMode::Driven) GTEST_SKIP() << "a driven service has no I/O thread";
    Listen(1);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (IoThreadPolicy() != SCHED_BATCH && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(IoThreadPolicy(), SCHED_BATCH);
}

TEST_P(NetServiceTest, StopListenClosesEveryConnectionAndStartListenWorksAgain) {
    Listen(1);
    LoopbackPeer peer(m_Port);
    ExpectFirstAccept(0);
    const uint16_t port = m_Port;

    m_Service->StopListen();
    EXPECT_FALSE(m_Service->IsListening());
    EXPECT_EQ(m_Service->GetListenPort(), 0);
    EXPECT_TRUE(peer.WaitClosedByOtherSide());
    EXPECT_TRUE(nettest::ConnectRefused(port));
    EXPECT_EQ(m_Service->GetMsgCount(), 1);  // the close stays queued for the owner

    ASSERT_TRUE(m_Service->StartListen(port, 1));
    EXPECT_TRUE(m_Service->IsListening());
    ExpectNext(0, NET_MSG_ON_CLIENTCLOSE);
    LoopbackPeer again(port);
    ExpectNext(0, NET_MSG_ON_CLIENTCONNECT);
    ASSERT_EQ(m_Service->SendTo(0, "back", 4), 1);
    EXPECT_EQ(again.Receive(4), "back");
}

TEST_P(NetServiceTest, StartListenFailsOnATakenPortAndWhenAlreadyListening) {
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(holder, 4), 0);
    socklen_t len = sizeof(address);
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &len);

    EXPECT_FALSE(m_Service->StartListen(ntohs(address.sin_port), 4));
    EXPECT_FALSE(m_Service->IsListening());
    ::close(holder);

    EXPECT_FALSE(m_Service->StartListen(0, 0));
    Listen(2);
    EXPECT_FALSE(m_Service->StartListen(0, 2));
    EXPECT_TRUE(m_Service->IsListening());
}

TEST_P(NetServiceTest, MsgNotifyIsCalledOnlyForAMessageIntoAnEmptyQueue) {
    Listen(2);
    LoopbackPeer peer(m_Port);
    ASSERT_TRUE(WaitUntil([&] { return m_Service->GetMsgCount() == 2; }));
    EXPECT_EQ(m_Waiter.Calls(), 1);  // 109 found the queue empty, 103 did not
    {
        std::lock_guard lock(m_Waiter.mutex);
        EXPECT_NE(m_Waiter.lastThread, std::this_thread::get_id());
    }
    tagNetMsg msg{};
    ASSERT_TRUE(m_Service->GetMsg(&msg));
    ASSERT_TRUE(m_Service->GetMsg(&msg));
    ASSERT_FALSE(m_Service->GetMsg(&msg));

    ASSERT_TRUE(peer.Send("ping"));
    ASSERT_TRUE(WaitUntil([&] { return m_Service->GetMsgCount() == 1; }));
    EXPECT_EQ(m_Waiter.Calls(), 2);

    m_Service->SetMsgNotify(nullptr, nullptr);
    ASSERT_TRUE(m_Service->GetMsg(&msg));
    ASSERT_TRUE(peer.Send("pong"));
    ASSERT_TRUE(WaitUntil([&] { return m_Service->GetMsgCount() == 1; }));
    EXPECT_EQ(m_Waiter.Calls(), 2);
}

// ---------------------------------------------------------------------------
// Parameters, statistics, exports
// ---------------------------------------------------------------------------

TEST_P(NetServiceTest, ParametersStartAtTheirDefaults) {
    EXPECT_EQ(m_Service->GetParam(NETPARAM_MAX_SEND_BUFFER_BYTES), 0x20000000);
    EXPECT_EQ(m_Service->GetParam(NETPARAM_MAX_RECV_BACKLOG_BYTES), 1024 * 1024);
    EXPECT_EQ(m_Service->GetParam(NETPARAM_MAX_SEND_MSG_QUEUE_COUNT), 100);
    EXPECT_EQ(m_Service->GetParam(NETPARAM_REFUSE_CONNECT_BY_RECV_QUEUE), 10000);
    EXPECT_EQ(m_Service->GetParam(NETPARAM_REFUSE_CONNECT_BY_SEND_QUEUE), 50000);
    EXPECT_EQ(m_Service->GetParam(NETPARAM_HACK_ATTACK_VALUE), 50);
    EXPECT_TRUE(m_Service->SetParam(NETPARAM_HACK_ATTACK_VALUE, 7));
    EXPECT_EQ(m_Service->GetParam(NETPARAM_HACK_ATTACK_VALUE), 7);
    EXPECT_FALSE(m_Service->SetParam(3, 1));
    EXPECT_EQ(m_Service->GetParam(3), 0);
    EXPECT_EQ(m_Service->GetValue(NETVALUE_COUNT), 0u);
    EXPECT_EQ(m_Service->GetValue(-1), 0u);
}

TEST_P(NetServiceTest, MessagePoolExportsHandOutARecord) {
    ASSERT_NE(Module().getPool, nullptr);
    ASSERT_NE(Module().freePool, nullptr);
    tagNetMsg* record = Module().getPool();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->dataLen, 0);
    EXPECT_FALSE(m_Service->GetMsg(record));
    Module().freePool(record);
    Module().freePool(nullptr);
}

// ---------------------------------------------------------------------------
// The I/O driver
// ---------------------------------------------------------------------------

int ThreadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

// A service on a driver that no thread runs unless the test says so.
class NetIoDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Module().createDriver, nullptr) << plat::LastModuleError();
        m_Driver = Module().createDriver();
        ASSERT_NE(m_Driver, nullptr);
        m_Service = NewService();
        ASSERT_NE(m_Service, nullptr);
    }
    void TearDown() override {
        for (INetService* service : m_Services) service->Release();
        m_Driver->Release();
    }

    INetService* NewService() {
        INetService* service = Module().create(0);
        if (service == nullptr) return nullptr;
        m_Services.push_back(service);
        return service->SetIoDriver(m_Driver) ? service : nullptr;
    }

    // Runs the driver on this thread until `condition` holds.
    bool DriveUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            m_Driver->RunFor(20);
        }
        return true;
    }

    NotifyWaiter m_Waiter;  // outlives the services, whose stop may still notify
    INetIoDriver* m_Driver = nullptr;
    INetService* m_Service = nullptr;
    std::vector<INetService*> m_Services;
};

TEST_F(NetIoDriverTest, ADrivenServiceStartsNoThreadAndWorksOnlyWhenDriven) {
    m_Service->SetMsgNotify(&NotifyWaiter::Callback, &m_Waiter);
    const int threadsBefore = ThreadCount();
    ASSERT_TRUE(m_Service->StartListen(0, 2));
    EXPECT_EQ(ThreadCount(), threadsBefore);

    LoopbackPeer peer(m_Service->GetListenPort());
    ASSERT_TRUE(peer.Connected());  // the kernel's backlog took it
    ASSERT_TRUE(peer.Send("hello"));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(m_Service->GetMsgCount(), 0);  // nobody ran the accept yet

    ASSERT_TRUE(DriveUntil([&] { return m_Service->GetMsgCount() == 3; }));
    tagNetMsg msg{};
    ASSERT_TRUE(m_Service->GetMsg(&msg));
    EXPECT_EQ(msg.msgType, NET_MSG_ON_CLIENTCREATE);
    ASSERT_TRUE(m_Service->GetMsg(&msg));
    EXPECT_EQ(msg.msgType, NET_MSG_ON_CLIENTCONNECT);
    ASSERT_TRUE(m_Service->GetMsg(&msg));
    EXPECT_EQ(msg.msgType, NET_MSG_ON_RECV);
    EXPECT_EQ(std::string(msg.data, static_cast<size_t>(msg.dataLen)), "hello");
    std::lock_guard lock(m_Waiter.mutex);
    EXPECT_EQ(m_Waiter.lastThread, std::this_thread::get_id());  // the notice came from the driving thread
}

TEST_F(NetIoDriverTest, WakeEndsAWaitingRunForAndIsRememberedWhenEarly) {
    EXPECT_EQ(m_Driver->RunFor(0), 0);
    m_Driver->Wake();
    m_Driver->Wake();  // one wake is kept, however often it is asked for
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_Driver->RunFor(60000), 1);
    EXPECT_EQ(m_Driver->RunFor(0), 0);

    std::thread waker([this] {
        std::this_thread::sleep_for(20ms);
        m_Driver->Wake();
    });
    EXPECT_GE(m_Driver->RunFor(60000), 1);
    waker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST_F(NetIoDriverTest, StopListenTakesItsTurnFromAThreadWaitingInRunFor) {
    ASSERT_TRUE(m_Service->StartListen(0, 1));
    const uint16_t port = m_Service->GetListenPort();
    std::atomic<bool> stop{false};
    std::thread driver([&] {
        while (!stop.load()) m_Driver->RunFor(60000);
    });
    LoopbackPeer peer(port);
    ASSERT_TRUE(WaitUntil([&] { return m_Service->GetMsgCount() == 2; }));  // create, connect

    const auto start = std::chrono::steady_clock::now();
    m_Service->StopListen();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_TRUE(peer.WaitClosedByOtherSide());
    EXPECT_TRUE(nettest::ConnectRefused(port));
    EXPECT_EQ(m_Service->GetMsgCount(), 3);  // and the close

    // The thread in RunFor goes on serving after the stop (the slot is free
    // again once its close message is drained).
    tagNetMsg msg{};
    while (m_Service->GetMsg(&msg)) {
    }
    ASSERT_TRUE(m_Service->StartListen(port, 1));
    LoopbackPeer again(port);
    ASSERT_TRUE(WaitUntil([&] { return m_Service->GetMsgCount() == 1; }));
    ASSERT_TRUE(m_Service->GetMsg(&msg));
    EXPECT_EQ(msg.msgType, NET_MSG_ON_CLIENTCONNECT);
    stop.store(true);
    m_Driver->Wake();
    driver.join();
}

TEST_F(NetIoDriverTest, StopListenWithNobodyDrivingDoesTheRemainingWorkItself) {
    ASSERT_TRUE(m_Service->StartListen(0, 1));
    const uint16_t port = m_Service->GetListenPort();
    LoopbackPeer peer(port);
    ASSERT_TRUE(DriveUntil([&] { return m_Service->GetMsgCount() == 2; }));
    ASSERT_EQ(m_Service->SendTo(0, "bye", 3), 1);

    m_Service->StopListen();
    EXPECT_FALSE(m_Service->IsListening());
    EXPECT_EQ(peer.Receive(3), "bye");
    EXPECT_TRUE(peer.WaitClosedByOtherSide());
    EXPECT_TRUE(nettest::ConnectRefused(port));
    EXPECT_EQ(m_Service->GetMsgCount(), 3);
}

TEST_F(NetIoDriverTest, ServicesSharingADriverKeepTheirOwnSlotsAndMessages) {
    INetService* other = NewService();
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(m_Service->StartListen(0, 1));
    ASSERT_TRUE(other->StartListen(0, 1));
    LoopbackPeer first(m_Service->GetListenPort());
    LoopbackPeer second(other->GetListenPort());
    ASSERT_TRUE(first.Send("one"));
    ASSERT_TRUE(second.Send("two"));
    ASSERT_TRUE(DriveUntil([&] { return m_Service->GetMsgCount() == 3 && other->GetMsgCount() == 3; }));

    tagNetMsg msg{};
    for (INetService* service : {m_Service, other}) {
        ASSERT_TRUE(service->GetMsg(&msg));
        ASSERT_TRUE(service->GetMsg(&msg));
        ASSERT_TRUE(service->GetMsg(&msg));
        EXPECT_EQ(msg.msgType, NET_MSG_ON_RECV);
        EXPECT_EQ(std::string(msg.data, static_cast<size_t>(msg.dataLen)), service == m_Service ? "one" : "two");
    }
    ASSERT_EQ(other->SendTo(0, "back", 4), 1);
    EXPECT_EQ(second.Receive(4), "back");

    // Stopping one leaves the other served by the same driver.
    other->StopListen();
    ASSERT_TRUE(first.Send("still"));
    ASSERT_TRUE(DriveUntil([&] { return m_Service->GetMsgCount() == 1; }));
}

TEST_F(NetIoDriverTest, ADriverIsTakenOnlyBeforeTheFirstListen) {
    INetService* own = Module().create(0);
    ASSERT_NE(own, nullptr);
    m_Services.push_back(own);
    EXPECT_FALSE(own->SetIoDriver(nullptr));
    ASSERT_TRUE(own->StartListen(0, 1));
    EXPECT_FALSE(own->SetIoDriver(m_Driver));
    own->StopListen();
    EXPECT_FALSE(own->SetIoDriver(m_Driver));
    EXPECT_TRUE(m_Service->SetIoDriver(m_Driver));  // the same driver again changes nothing
}

}  // namespace
