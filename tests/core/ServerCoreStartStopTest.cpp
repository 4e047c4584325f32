// Start and Stop of the relay: the stages in order with their texts, the
// undoing of a failed start, and the connect-state text, against a DataServer
// played by a loopback listener.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/ServerCore.h"
#include "infra/ThreadManager.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/LoopbackPeer.h"

namespace {

using coretest::PacketsInUse;
using Lines = std::vector<std::string>;

void CollectStage(void* context, const char* text, int length) {
    static_cast<Lines*>(context)->emplace_back(text, static_cast<size_t>(length));
}

class StartStopTest : public ::testing::Test {
protected:
    void SetUp() override { core->SetStageNotify(&CollectStage, &stages); }
    void TearDown() override {
        core->Stop();
        core.reset();
        EXPECT_EQ(PacketsInUse(), poolStart);
    }
    bool Start(int loginPort, int routePort, int gamePort) {
        return core->Start(loginPort, 4, routePort, 4, gamePort, 4, "127.0.0.1", dataListener.Port());
    }
    bool NothingListens() {
        return !core->GetLoginServerCore()->IsListening() && !core->GetRouteServerCore()->IsListening() &&
               !core->GetGameServerCore()->IsListening();
    }
    std::string ConnectLine() const {
        return "DataServerCore::Connect(127.0.0.1, " + std::to_string(dataListener.Port()) + ")";
    }

    testsupport::ScopedCapturingLog log;
    const int poolStart = PacketsInUse();
    nettest::LoopbackListener dataListener;
    std::unique_ptr<CServerCore> core = std::make_unique<CServerCore>();
    Lines stages;
};

TEST_F(StartStopTest, StartRunsEveryStageInOrderAndShowsOnlyTheAnnouncementsAndTheLastSuccess) {
    ASSERT_TRUE(Start(0, 0, 0));
    EXPECT_TRUE(core->IsRunning());
    EXPECT_EQ(log->Texts(llInfo),
              (Lines{"Connecting DataBase...", ConnectLine(), "Connect DataBase...OK!", "Starting LoginServer Service...",
                     "Start LoginServer Service...OK!", "Starting RouteServer Service...",
                     "Start RouteServer Service...OK!", "Starting GameServer Service...",
                     "Start GameServer Service...OK!"}));
    EXPECT_EQ(stages, (Lines{"Connecting DataBase...", "Starting LoginServer Service...",
                             "Starting RouteServer Service...", "Starting GameServer Service...",
                             "Start GameServer Service...OK!"}));
    EXPECT_EQ(core->GetStageText(), "Start GameServer Service...OK!");
    EXPECT_EQ(core->GetServerConnectState(),
              "[ServerConnectState]\r\n DataServer Connect=1\r\n GameServer Active=1\r\n LoginServer Active=1\r\n "
              "RouteServer Active=1");
}

TEST_F(StartStopTest, StartWithTheDataServerDownOpensNoService) {
    dataListener.Close();
    ASSERT_TRUE(nettest::ConnectRefused(dataListener.Port()));
    EXPECT_FALSE(Start(0, 0, 0));
    EXPECT_FALSE(core->IsRunning());
    EXPECT_EQ(log->Texts(llInfo), (Lines{"Connecting DataBase...", "Connect DataServer Fail!"}));
    EXPECT_EQ(stages, (Lines{"Connecting DataBase...", "Connect DataServer Fail!"}));
    EXPECT_EQ(core->GetStageText(), "Connect DataServer Fail!");
    EXPECT_TRUE(NothingListens());
    EXPECT_EQ(core->GetServerConnectState(),
              "[ServerConnectState]\r\n DataServer Connect=0\r\n GameServer Active=0\r\n LoginServer Active=0\r\n "
              "RouteServer Active=0");
}

TEST_F(StartStopTest, StartWithTheLoginPortTakenClosesTheDataServerLinkAgain) {
    nettest::LoopbackListener blocker;
    EXPECT_FALSE(Start(blocker.Port(), 0, 0));
    auto dataServer = dataListener.Accept();
    ASSERT_NE(dataServer, nullptr);
    EXPECT_TRUE(dataServer->WaitClosedByOtherSide());
    EXPECT_TRUE(NothingListens());
    EXPECT_EQ(stages.back(), "LoginServer Service Start Fail!");
    EXPECT_EQ(log->Texts(llInfo).back(), "LoginServer Service Start Fail!");
}

TEST_F(StartStopTest, StartWithTheRoutePortTakenStopsTheLoginServiceAndTheDataServerLink) {
    nettest::LoopbackListener blocker;
    EXPECT_FALSE(Start(0, blocker.Port(), 0));
    EXPECT_FALSE(core->IsRunning());
    auto dataServer = dataListener.Accept();
    ASSERT_NE(dataServer, nullptr);
    EXPECT_TRUE(dataServer->WaitClosedByOtherSide());
    EXPECT_FALSE(core->GetDataServerCore()->SockIsConnected());
    EXPECT_TRUE(NothingListens());
    EXPECT_EQ(log->Texts(llInfo),
              (Lines{"Connecting DataBase...", ConnectLine(), "Connect DataBase...OK!", "Starting LoginServer Service...",
                     "Start LoginServer Service...OK!", "Starting RouteServer Service...",
                     "RouteServer Service Start Fail!"}));
    EXPECT_EQ(stages, (Lines{"Connecting DataBase...", "Starting LoginServer Service...",
                             "Starting RouteServer Service...", "RouteServer Service Start Fail!"}));
    EXPECT_EQ(core->GetStageText(), "RouteServer Service Start Fail!");
}

TEST_F(StartStopTest, StartWithTheGamePortTakenStopsAllThreeServices) {
    nettest::LoopbackListener blocker;
    EXPECT_FALSE(Start(0, 0, blocker.Port()));
    auto dataServer = dataListener.Accept();
    ASSERT_NE(dataServer, nullptr);
    EXPECT_TRUE(dataServer->WaitClosedByOtherSide());
    EXPECT_TRUE(NothingListens());
    EXPECT_EQ(stages.back(), "GameServer Start Fail!");
}

// The window retries a failed start at once; the DataServer link of the
// start that succeeds must still recover from a later loss by itself.
TEST_F(StartStopTest, AFailedStartLeavesTheRetriedLinkAbleToReconnect) {
    {
        nettest::LoopbackListener blocker;
        ASSERT_FALSE(Start(0, blocker.Port(), 0));
    }
    auto firstServer = dataListener.Accept();
    ASSERT_TRUE(Start(0, 0, 0));
    auto dataServer = dataListener.Accept();
    ASSERT_NE(dataServer, nullptr);

    dataServer.reset();  // the DataServer goes away
    EXPECT_EQ(core->GetDataServerCore()->ThreadRecvPack(), 1);
    EXPECT_TRUE(log->Has(llInfo, "DataServer Disconnect!"));
    EXPECT_TRUE(log->Has(llInfo, "DataServerCore::Reconnect()"));
    EXPECT_NE(dataListener.Accept(), nullptr);
    EXPECT_EQ(core->GetRecvQueueCount(), 1);  // the link-down notice
}

// As the window runs it: threads registered (suspended) before the first
// Start, so the failed start must undo its services while nobody serves
// their sockets yet; the start that follows must serve peers once the
// threads run.
TEST_F(StartStopTest, AFailedStartBeforeTheThreadsRunUndoesItsServicesAndTheNextStartServes) {
    core->StartThreads();
    {
        nettest::LoopbackListener blocker;
        ASSERT_FALSE(Start(0, 0, blocker.Port()));
    }
    EXPECT_TRUE(NothingListens());
    auto firstServer = dataListener.Accept();
    ASSERT_TRUE(Start(0, 0, 0));
    auto dataServer = dataListener.Accept();
    ASSERT_NE(dataServer, nullptr);
    ThreadManager::Instance().StartAll();

    nettest::LoopbackPeer login(core->GetLoginServerCore()->GetService()->GetListenPort());
    EXPECT_TRUE(coretest::WaitFor([&] { return core->GetLoginServerCore()->GetOnlineCount() == 1; }));
    core->Stop();
    EXPECT_TRUE(login.WaitClosedByOtherSide());
    ThreadManager::Instance().StopAll();
    ThreadManager::Instance().ExitAll();
}

TEST_F(StartStopTest, StopClosesTheServicesThenTheDataServerLinkWithItsLinesInOrder) {
    ASSERT_TRUE(Start(0, 0, 0));
    auto dataServer = dataListener.Accept();
    ASSERT_NE(dataServer, nullptr);
    log->Clear();
    stages.clear();
    core->Stop();
    EXPECT_FALSE(core->IsRunning());
    EXPECT_EQ(log->Texts(llInfo),
              (Lines{"Stoping RouteServer Service...", "Stoping RouteServer Service...OK!",
                     "Stoping LoginServer Service...", "Stoping LoginServer Service...OK!",
                     "Stoping GameServer Service...", "Stoping GameServer Service...OK!",
                     "DisConnecting   DataServer Service...", "DisConnecting   DataServer Service...OK!"}));
    EXPECT_TRUE(stages.empty());
    EXPECT_TRUE(NothingListens());
    EXPECT_TRUE(dataServer->WaitClosedByOtherSide());
    EXPECT_TRUE(core->GetDataServerCore()->GetStopFlag());
}

TEST(ServerCoreSingletonTest, GetServerCoreCreatesOneRelayUntilReleased) {
    testsupport::ScopedCapturingLog log;
    CServerCore* core = GetServerCore();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(GetServerCore(), core);
    EXPECT_FALSE(core->IsRunning());
    EXPECT_EQ(core->GetRecvQueueCount(), 0);
    EXPECT_EQ(core->GetDataServerCore()->GetName(), "VarnholtServer");
    EXPECT_EQ(core->GetGameServerCore()->GetTargetQueue(), core->GetRecvQueue());
    EXPECT_EQ(core->GetDataServerCore()->GetTargetQueue(), core->GetRecvQueue());
    ReleaseServerCore();
    CServerCore* again = GetServerCore();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetServerCore(), again);
    ReleaseServerCore();
}

}  // namespace
