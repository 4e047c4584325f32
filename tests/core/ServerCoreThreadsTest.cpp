// The relay with its threads running, as the window starts it: threads
// registered, Start, ThreadManager::StartAll; peers and the DataServer on
// 127.0.0.1 see only what comes out of the sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/ServerCore.h"
#include "diag/PackRecorderManager.h"
#include "infra/ThreadManager.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"

namespace {

using coretest::Frame;
using coretest::PacketsInUse;
using coretest::ReadNonKeepAlive;
using coretest::WaitFor;
using testsupport::PacketFrame;
using namespace std::chrono_literals;

struct Peer {
    std::unique_ptr<nettest::LoopbackPeer> socket;
    int slot = -1;
};

std::vector<int> Slots(INetProcess* service) {
    std::vector<int> slots;
    const int online = service->GetOnlineCount();
    for (int k = 0; k < online; ++k) {
        if (IServerObj* serverObj = service->GetOnlineServerObj(k)) slots.push_back(serverObj->GetPoolIndex());
    }
    return slots;
}

class RunningRelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        core->StartThreads();
        ASSERT_TRUE(core->Start(0, 8, 0, 8, 0, 8, "127.0.0.1", dataListener.Port()));
        dataServer = dataListener.Accept();
        ASSERT_NE(dataServer, nullptr);
        ThreadManager::Instance().StartAll();
    }
    void TearDown() override {
        core->Stop();
        ThreadManager::Instance().StopAll();
        ThreadManager::Instance().ExitAll();
        core.reset();
        EXPECT_EQ(PacketsInUse(), poolStart);
    }
    Peer Connect(INetProcess* service) {
        const std::vector<int> before = Slots(service);
        Peer peer;
        peer.socket = std::make_unique<nettest::LoopbackPeer>(service->GetService()->GetListenPort());
        EXPECT_TRUE(peer.socket->Connected());
        EXPECT_TRUE(WaitFor([&] { return Slots(service).size() == before.size() + 1; }));
        for (int slot : Slots(service)) {
            if (std::find(before.begin(), before.end(), slot) == before.end()) peer.slot = slot;
        }
        return peer;
    }
    static void ExpectLinkDown(nettest::LoopbackPeer& peer, int destType, int srcType, int16_t destIndex) {
        const std::optional<Frame> frame = ReadNonKeepAlive(peer);
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(frame->packType, 5);
        EXPECT_EQ(frame->destServerType, destType);
        EXPECT_EQ(frame->srcServerType, srcType);
        EXPECT_EQ(frame->destIndex, destIndex);
        EXPECT_EQ(frame->context, 0u);
        EXPECT_EQ(frame->payload, "");
    }

    testsupport::ScopedCapturingLog log;
    const int poolStart = PacketsInUse();
    nettest::LoopbackListener dataListener;
    std::unique_ptr<CServerCore> core = std::make_unique<CServerCore>();
    std::unique_ptr<nettest::LoopbackPeer> dataServer;
};

TEST_F(RunningRelayTest, APacketTravelsFromAGameServerToTheDataServerAndBack) {
    Peer game = Connect(core->GetGameServerCore());
    ASSERT_TRUE(game.socket->Send(PacketFrame({0x1234, 4, 1, 1, 3}, "query")));
    const std::optional<Frame> request = ReadNonKeepAlive(*dataServer);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->context, 0x1234u);
    EXPECT_EQ(request->destIndex, 0);
    EXPECT_EQ(request->payload, "query");

    ASSERT_TRUE(dataServer->Send(PacketFrame({0x1234, static_cast<int16_t>(game.slot), 1, 3, 1}, "answer")));
    const std::optional<Frame> answer = ReadNonKeepAlive(*game.socket);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->context, 0x1234u);
    EXPECT_EQ(answer->destIndex, 0);
    EXPECT_EQ(answer->destServerType, 3);
    EXPECT_EQ(answer->srcServerType, 1);
    EXPECT_EQ(answer->payload, "answer");
}

// Threads of this process with the given name.
int ThreadsNamed(const std::string& name) {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        std::getline(comm, taskName);
        if (taskName == name) ++count;
    }
    return count;
}

TEST_F(RunningRelayTest, TheProcessThreadServesTheListeningSocketsWithoutAnIoThread) {
    EXPECT_EQ(ThreadsNamed("QXNetService IO"), 0);
    Peer route = Connect(core->GetRouteServerCore());
    ASSERT_TRUE(route.socket->Send(PacketFrame({7, 3, 1, 1, 5}, "ask")));
    const std::optional<Frame> request = ReadNonKeepAlive(*dataServer);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->destIndex, route.slot);  // stamped with the sender's slot
    ASSERT_TRUE(dataServer->Send(PacketFrame({7, static_cast<int16_t>(route.slot), 1, 5, 1}, "told")));
    const std::optional<Frame> answer = ReadNonKeepAlive(*route.socket);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->payload, "told");
    EXPECT_EQ(ThreadsNamed("QXNetService IO"), 0);
}

TEST_F(RunningRelayTest, ALostGameServerIsAnnouncedToEveryOtherLink) {
    Peer stays = Connect(core->GetGameServerCore());
    Peer leaves = Connect(core->GetGameServerCore());
    Peer login = Connect(core->GetLoginServerCore());
    Peer route = Connect(core->GetRouteServerCore());
    PackRecorderManager& recorders = PackRecorderManager::Instance();
    PackRecorder* recorder = recorders.FindRecorder(3);
    if (recorder == nullptr) recorder = recorders.CreateRecorder("GameServer", 3);
    recorder->Recv().ClearRecords(true);
    recorder->Recv().SetEnabled(true);

    leaves.socket->Close();
    ExpectLinkDown(*stays.socket, 3, 3, -1);
    ExpectLinkDown(*login.socket, 4, 3, -1);
    ExpectLinkDown(*route.socket, 5, 3, -1);
    ExpectLinkDown(*dataServer, 1, 3, -1);
    EXPECT_TRUE(log->Has(llInfo, "GameServer(" + std::to_string(leaves.slot) + ") Disconnect!"));
    recorder->Recv().SetEnabled(false);
    ASSERT_EQ(recorder->Recv().GetRecordCount(), 1);
    EXPECT_EQ(recorder->Recv().GetViewItem(0)->rawBytes.size(), 9u);
}

TEST_F(RunningRelayTest, ALostRouteServerIsAnnouncedWithItsSlot) {
    Peer game = Connect(core->GetGameServerCore());
    Peer route = Connect(core->GetRouteServerCore());
    route.socket->Close();
    ExpectLinkDown(*game.socket, 3, 5, static_cast<int16_t>(route.slot));
    ExpectLinkDown(*dataServer, 1, 5, static_cast<int16_t>(route.slot));
    EXPECT_TRUE(log->Has(llInfo, "RouteServer(" + std::to_string(route.slot) + ") Disconnect!"));
}

TEST_F(RunningRelayTest, LosingTheDataServerIsAnnouncedOnceToEveryPeerAndTheLinkComesBack) {
    Peer game = Connect(core->GetGameServerCore());
    Peer login = Connect(core->GetLoginServerCore());
    Peer route = Connect(core->GetRouteServerCore());
    dataServer.reset();
    ExpectLinkDown(*game.socket, 3, 1, 0);
    ExpectLinkDown(*login.socket, 4, 1, 0);
    ExpectLinkDown(*route.socket, 5, 1, 0);

    auto returned = dataListener.Accept();
    ASSERT_NE(returned, nullptr);
    EXPECT_TRUE(WaitFor([&] { return log->Has(llInfo, "DataServerCore::Reconnect()"); }));
    EXPECT_EQ(log->CountContaining("DataServer Disconnect!"), 1);
    // The notice is not sent back to the DataServer.
    EXPECT_FALSE(ReadNonKeepAlive(*returned, 100ms).has_value());
}

TEST(RelayThreadsTest, StartThreadsRegistersTheLinkTheDispatchAndTheProcessThreadsInOrder) {
    testsupport::ScopedCapturingLog log;
    auto core = std::make_unique<CServerCore>();
    ThreadManager& threads = ThreadManager::Instance();
    core->StartThreads();
    std::vector<std::string> names;
    for (int i = 0; i < threads.GetCount(); ++i) names.push_back(threads.GetThread(i)->GetName());
    EXPECT_EQ(names, (std::vector<std::string>{"VarnholtServer_RecvThread", "VarnholtServer_SendThread",
                                               "DispatchPackThread Processer", "ProcessPackThread Processer"}));
    threads.StopAll();
    threads.ExitAll();
    EXPECT_EQ(threads.GetCount(), 0);
}

}  // namespace
