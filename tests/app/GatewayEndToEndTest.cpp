// The headless gateway as a child process in a temporary runtime folder,
// with peers on 127.0.0.1 written here: a listener plays the DataServer, and
// plain sockets play GameServers, LoginServers and RouteServers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/GatewayProcess.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;
using testsupport::FrameHeader;
using testsupport::PacketFrame;
using testsupport::ParsedPacket;

constexpr uint8_t kData = 1, kGateway = 2, kGame = 3, kLogin = 4, kRoute = 5;
constexpr uint8_t kBroadcast = 5, kKeepAlive = 7;

// One connection and the bytes received on it that were not taken yet.
class Link {
public:
    explicit Link(std::unique_ptr<nettest::LoopbackPeer> peer) : m_Peer(std::move(peer)) {}
    bool Connected() const { return m_Peer && m_Peer->Connected(); }
    bool Send(const std::string& bytes) { return m_Peer->Send(bytes); }
    // The next packet that is not a keep-alive (keep-alives are counted).
    bool Next(ParsedPacket& packet, std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            while (testsupport::TakeFrame(m_Pending, packet)) {
                if (packet.packType == kKeepAlive) {
                    ++keepAlives;
                    continue;
                }
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            const std::string got = m_Peer->Receive(1, std::min(left, std::chrono::milliseconds(200)));
            m_Pending += got;
        }
    }
    // Collects everything for a while, keep-alives included.
    std::vector<ParsedPacket> Drain(std::chrono::milliseconds quiet) {
        std::vector<ParsedPacket> packets;
        ParsedPacket packet;
        while (Next(packet, quiet)) packets.push_back(packet);
        return packets;
    }
    void Close() { m_Peer->Close(); }
    int keepAlives = 0;

private:
    std::unique_ptr<nettest::LoopbackPeer> m_Peer;
    std::string m_Pending;
};

class GatewayEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.Path().empty());
        gateway.WriteSettings(ports);
    }
    // DataServer up, gateway started and running.
    void StartWithDataServer() {
        ASSERT_TRUE(dataListener.Open(ports.dataServer));
        ASSERT_TRUE(gateway.Start());
        AcceptDataServer();
        ASSERT_TRUE(gateway.WaitForLog("Server Start Success!")) << gateway.Output();
    }
    void AcceptDataServer() {
        auto accepted = dataListener.Accept(15s);
        ASSERT_NE(accepted, nullptr) << gateway.Output();
        dataServer = std::make_unique<Link>(std::move(accepted));
    }
    std::unique_ptr<Link> Connect(uint16_t port) {
        auto link = std::make_unique<Link>(std::make_unique<nettest::LoopbackPeer>(port));
        EXPECT_TRUE(link->Connected());
        return link;
    }
    // Peers only count as online once the process thread saw the connect.
    void WaitOnline(const std::string& kind, int slot) {
        const std::string line = kind + "(poolIndex = " + std::to_string(slot) + ", IP = 127.0.0.1) Connect...OK!";
        ASSERT_TRUE(gateway.WaitForLog(line)) << line;
    }
    // A peer of `kind` on `port`, returned once the gateway has it online in `slot`.
    std::unique_ptr<Link> ConnectOnline(uint16_t port, const std::string& kind, int slot) {
        auto link = Connect(port);
        WaitOnline(kind, slot);
        return link;
    }

    void TearDown() override { testsupport::RemoveLeftoverGuards(); }

    testsupport::TempDir folder;
    testsupport::GatewayPorts ports;
    testsupport::GatewayProcess gateway{folder};
    nettest::LoopbackListener dataListener{0};
    std::unique_ptr<Link> dataServer;
};

TEST_F(GatewayEndToEndTest, StartsWhenTheDataServerComesUpLater) {
    dataListener.Close();
    ASSERT_TRUE(gateway.Start());
    ASSERT_TRUE(gateway.WaitForOutput("Connect DataServer Fail!")) << gateway.Output();
    EXPECT_THAT(gateway.Output(), Not(HasSubstr("Running...")));
    ASSERT_TRUE(dataListener.Open(ports.dataServer));
    AcceptDataServer();
    ASSERT_TRUE(gateway.WaitForLog("Server Start Success!"));
    EXPECT_THAT(gateway.Output(), HasSubstr("status: Running..."));
    // Failed attempts pause instead of spinning: a handful, not thousands.
    EXPECT_LT(testsupport::CountOf(gateway.LogText(), "Connect DataServer Fail!"), 30);
}

TEST_F(GatewayEndToEndTest, AGameServerRoundTripGoesThroughTheDataServerToItsSlot) {
    StartWithDataServer();
    auto game = ConnectOnline(ports.game, "GameServer", 0);
    ASSERT_TRUE(game->Send(PacketFrame({0xABCD, 7, 1, kData, kGame}, "ask")));

    ParsedPacket atData;
    ASSERT_TRUE(dataServer->Next(atData));
    EXPECT_EQ(atData.context, 0xABCDu);
    EXPECT_EQ(atData.destIndex, 0);  // moved into the routing slot and cleared
    EXPECT_EQ(atData.srcServerType, kGame);
    EXPECT_EQ(atData.payload, "ask");

    ASSERT_TRUE(dataServer->Send(PacketFrame({0xABCD, 0, 1, kGame, kData}, "answer")));
    ParsedPacket atGame;
    ASSERT_TRUE(game->Next(atGame));
    EXPECT_EQ(atGame.context, 0xABCDu);
    EXPECT_EQ(atGame.destIndex, 0);
    EXPECT_EQ(atGame.srcServerType, kData);
    EXPECT_EQ(atGame.payload, "answer");
}

// Every thread of the process that is running or runnable right now.
std::vector<std::string> RunnableThreads(int pid) {
    std::vector<std::string> running;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        const std::string stat = testsupport::ReadAll(task.path().string() + "/stat");
        const size_t nameEnd = stat.rfind(')');
        if (nameEnd == std::string::npos || nameEnd + 2 >= stat.size()) continue;
        if (stat[nameEnd + 2] == 'R') running.push_back(stat.substr(0, nameEnd + 1));
    }
    return running;
}

TEST_F(GatewayEndToEndTest, WithTheLongestSpinAnIdleRelayStillSleepsInEveryThread) {
    std::ofstream(folder / "Config/Config.ini", std::ios::app) << "edtWorkerSpinMicros = 1000\nedtDispatchSpinMicros = 1000\n";
    StartWithDataServer();
    auto game = ConnectOnline(ports.game, "GameServer", 0);
    for (uint32_t k = 0; k < 20; ++k) {
        ASSERT_TRUE(game->Send(PacketFrame({k, 7, 1, kData, kGame}, "wave")));
        ASSERT_TRUE(dataServer->Send(PacketFrame({k, 0, 1, kGame, kData}, "answer")));
    }
    ParsedPacket packet;
    for (int k = 0; k < 20; ++k) ASSERT_TRUE(dataServer->Next(packet));
    for (int k = 0; k < 20; ++k) ASSERT_TRUE(game->Next(packet));
    // Long after the last work every worker is back asleep: a poll that did
    // not end would show its thread running in every sample.
    std::this_thread::sleep_for(200ms);
    std::map<std::string, int> runningSamples;
    constexpr int kSamples = 20;
    for (int k = 0; k < kSamples; ++k) {
        for (const std::string& thread : RunnableThreads(gateway.Pid())) ++runningSamples[thread];
        std::this_thread::sleep_for(10ms);
    }
    for (const auto& [thread, samples] : runningSamples) {
        EXPECT_LT(samples, kSamples / 2) << thread << " was running in " << samples << " of " << kSamples << " samples";
    }
}

TEST_F(GatewayEndToEndTest, TheDesktopProgramRelaysWithItsWindowAndClosesOnSigterm) {
    ASSERT_TRUE(dataListener.Open(ports.dataServer));
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);  // inherited by the program
    ASSERT_TRUE(gateway.Start({"autostart", "", ""}, "VarnholtServer"));
    ::unsetenv("QT_QPA_PLATFORM");
    AcceptDataServer();
    ASSERT_TRUE(gateway.WaitForLog("Server Start Success!")) << gateway.Output();
    auto game = ConnectOnline(ports.game, "GameServer", 0);
    ASSERT_TRUE(game->Send(PacketFrame({0x77, 0, 1, kData, kGame}, "ask")));
    ParsedPacket atData;
    ASSERT_TRUE(dataServer->Next(atData));
    ASSERT_TRUE(dataServer->Send(PacketFrame({0x77, 0, 1, kGame, kData}, "answer")));
    ParsedPacket atGame;
    ASSERT_TRUE(game->Next(atGame));
    EXPECT_EQ(atGame.payload, "answer");

    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(), 0) << gateway.Output();
    EXPECT_THAT(gateway.LogText(), HasSubstr("All Thread Exit OK!"));
}

TEST_F(GatewayEndToEndTest, AHostWithoutBootIniIsRefusedWithExitCodeOne) {
    std::filesystem::remove(folder / "C/Boot.ini");
    ASSERT_TRUE(gateway.Start());
    EXPECT_EQ(gateway.WaitExit(), 1) << gateway.Output();
    EXPECT_THAT(gateway.Output(), HasSubstr("Can't Find Dir : " + folder / "C/Boot.ini"));
    EXPECT_THAT(gateway.Output(), Not(HasSubstr("Running...")));
}

TEST_F(GatewayEndToEndTest, ABroadcastReachesEveryOtherPeerAndTheDataServerButNotTheSender) {
    StartWithDataServer();
    auto sender = ConnectOnline(ports.game, "GameServer", 0);
    auto otherGame = ConnectOnline(ports.game, "GameServer", 1);
    auto login = ConnectOnline(ports.login, "LoginServer", 0);
    auto route = ConnectOnline(ports.route, "RouteServer", 0);

    ASSERT_TRUE(sender->Send(PacketFrame({5, 0, kBroadcast, 0, kGame}, "to all")));
    for (Link* link : {otherGame.get(), login.get(), route.get(), dataServer.get()}) {
        ParsedPacket packet;
        ASSERT_TRUE(link->Next(packet));
        EXPECT_EQ(packet.packType, kBroadcast);
        EXPECT_EQ(packet.payload, "to all");
        EXPECT_EQ(packet.srcServerType, kGame);
    }
    ParsedPacket none;
    EXPECT_FALSE(sender->Next(none, 500ms));
}

TEST_F(GatewayEndToEndTest, UnknownDestinationTypesAreLoggedAndDropped) {
    StartWithDataServer();
    auto game = ConnectOnline(ports.game, "GameServer", 0);
    ASSERT_TRUE(game->Send(PacketFrame({1, 4, 1, 9, kGame}, "lost")));
    EXPECT_TRUE(gateway.WaitForLog("Unknown ServerType = 9"));
    ParsedPacket none;
    EXPECT_FALSE(dataServer->Next(none, 300ms));
}

TEST_F(GatewayEndToEndTest, APeerDisconnectReachesTheOthersAsALinkDownNoticeWithItsKind) {
    StartWithDataServer();
    auto game = ConnectOnline(ports.game, "GameServer", 0);
    auto login = ConnectOnline(ports.login, "LoginServer", 0);
    login->Close();
    ASSERT_TRUE(gateway.WaitForLog("LoginServer(0) Disconnect!"));
    for (Link* link : {game.get(), dataServer.get()}) {
        ParsedPacket notice;
        ASSERT_TRUE(link->Next(notice));
        EXPECT_EQ(notice.packType, kBroadcast);
        EXPECT_EQ(notice.srcServerType, kLogin);
        EXPECT_EQ(notice.payload, "");
    }
}

TEST_F(GatewayEndToEndTest, ADataServerRestartIsAnnouncedOnceAndNothingSentMeanwhileIsLost) {
    StartWithDataServer();
    auto game = ConnectOnline(ports.game, "GameServer", 0);
    dataListener.Close();
    dataServer->Close();

    ParsedPacket notice;
    ASSERT_TRUE(game->Next(notice));
    EXPECT_EQ(notice.packType, kBroadcast);
    EXPECT_EQ(notice.srcServerType, kData);
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(game->Send(PacketFrame({static_cast<uint32_t>(i), 0, 1, kData, kGame}, "m" + std::to_string(i))));
    }
    std::this_thread::sleep_for(2500ms);  // a few reconnect attempts fail meanwhile

    ASSERT_TRUE(dataListener.Open(ports.dataServer));
    AcceptDataServer();
    for (int i = 0; i < 100; ++i) {
        ParsedPacket packet;
        ASSERT_TRUE(dataServer->Next(packet)) << "packet " << i;
        EXPECT_EQ(packet.context, static_cast<uint32_t>(i));
        EXPECT_EQ(packet.payload, "m" + std::to_string(i));
    }
    ParsedPacket extra;
    EXPECT_FALSE(game->Next(extra, 300ms));  // no second notice for the same outage
    EXPECT_EQ(testsupport::CountOf(gateway.LogText(), "DataServer Disconnect!"), 1);
}

TEST_F(GatewayEndToEndTest, TheFirstIdlePassSendsKeepAlives) {
    StartWithDataServer();
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] {
            ParsedPacket ignored;
            dataServer->Next(ignored, 50ms);
            return dataServer->keepAlives > 0;
        },
        5s));
}

TEST_F(GatewayEndToEndTest, SigtermStopsInOrderAndExitsWithZero) {
    StartWithDataServer();
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(), 0) << gateway.Output();
    const std::string log = gateway.LogText();
    const std::vector<std::string> lines = {
        "Stoping RouteServer Service...",      "Stoping RouteServer Service...OK!",
        "Stoping LoginServer Service...",      "Stoping LoginServer Service...OK!",
        "Stoping GameServer Service...",       "Stoping GameServer Service...OK!",
        "DisConnecting   DataServer Service...", "DisConnecting   DataServer Service...OK!",
        "All Thread Stopped",                  "All Thread Exit OK!",
    };
    size_t at = 0;
    for (const std::string& line : lines) {
        const size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line;
        at = found + line.size();
    }
}

TEST_F(GatewayEndToEndTest, SigtermDuringTheStartLoopEndsTheProcess) {
    dataListener.Close();
    ASSERT_TRUE(gateway.Start());
    ASSERT_TRUE(gateway.WaitForOutput("Connect DataServer Fail!"));
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(10s), 0);
}

TEST_F(GatewayEndToEndTest, FreshIniFilesHoldEveryKeyWithItsDeclaredValue) {
    std::filesystem::remove(folder / "VarnholtServer.ini");
    std::filesystem::remove(folder / "Config/Config.ini");
    // The defaults name a StatusServer, whose link is the first step of a
    // start: the files are complete by then, whether or not it answers.
    ASSERT_TRUE(gateway.Start());
    ASSERT_TRUE(gateway.WaitForOutput("Connecting to StatusServer..."));
    const std::string node = testsupport::ReadAll(folder / "VarnholtServer.ini");
    const std::string settings = testsupport::ReadAll(folder / "Config/Config.ini");
    EXPECT_THAT(node, testing::ContainsRegex("edtDataServerIP *= *127.0.0.1"));
    EXPECT_THAT(node, testing::ContainsRegex("edtMutexSign *= *VarnholtServer"));
    const std::vector<std::pair<std::string, std::string>> declared = {
        {"edtDataServerPort", "16899"}, {"edtRouteServerPort", "19008"}, {"edtRouteServerCount", "10"},
        {"edtGameServerPort", "19003"}, {"edtGameServerCount", "1"},     {"edtLoginServerPort", "19007"},
        {"edtLoginServerCount", "1"},   {"chkRefreshGUI", "true"},       {"chkEnableWatch", "false"},
        {"edtGameServerHackAttackValue", "2000000000"}, {"edtLoginServerMaxSendMsgQueueCount", "2000000000"},
        {"edtRouteServerRefuseConnectByRecvQueue", "2000000000"}, {"edtSSIP", "127.0.0.1"}, {"edtSSPort", "21888"},
    };
    for (const auto& [key, value] : declared) {
        EXPECT_THAT(settings, testing::ContainsRegex(key + " *= *" + value)) << key;
    }
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(10s), 0);
}

TEST_F(GatewayEndToEndTest, ExistingValuesAreKeptAndAMalformedPortIsRefusedByName) {
    std::string settings = testsupport::ReadAll(folder / "Config/Config.ini");
    const std::string good = "edtGameServerPort = " + std::to_string(ports.game);
    settings.replace(settings.find(good), good.size(), "edtGameServerPort = 19x03");
    std::ofstream(folder / "Config/Config.ini") << settings;
    ASSERT_TRUE(dataListener.Open(ports.dataServer));
    ASSERT_TRUE(gateway.Start());
    ASSERT_TRUE(gateway.WaitForOutput("edtGameServerPort")) << gateway.Output();
    EXPECT_THAT(gateway.Output(), HasSubstr("not a number"));
    EXPECT_TRUE(gateway.WaitForLog("19x03"));  // the Warn line names the value
    const std::string after = testsupport::ReadAll(folder / "Config/Config.ini");
    EXPECT_THAT(after, testing::ContainsRegex("edtDataServerPort *= *" + std::to_string(ports.dataServer)));
    EXPECT_THAT(after, testing::ContainsRegex("edtGameServerPort *= *19x03"));  // kept for the operator to mend
    EXPECT_EQ(dataListener.Accept(500ms), nullptr) << "a refused start must not connect";
    // The daemon ends by itself with EX_CONFIG rather than idling.
    EXPECT_EQ(gateway.WaitExit(10s), 78) << gateway.Output();
}

TEST_F(GatewayEndToEndTest, ASecondInstanceWithTheSameSignHandsOverAndEnds) {
    const std::string sign = "E2E-" + std::to_string(::getpid());
    gateway.WriteSettings(ports, 4, 4, 4, sign);
    StartWithDataServer();
    // A folder of its own, so its output is its own; the sign is what matters.
    testsupport::TempDir secondFolder;
    testsupport::GatewayProcess second(secondFolder);
    second.WriteSettings(ports, 4, 4, 4, sign);
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.WaitExit(15s), 0) << second.Output();
    EXPECT_TRUE(gateway.WaitForOutput("asked to come to the front"));
    EXPECT_THAT(second.Output(), Not(HasSubstr("Running...")));
    EXPECT_TRUE(second.WaitForLog("handing over"));
}

TEST_F(GatewayEndToEndTest, AGuardLeftByAKilledInstanceIsTakenOver) {
    const std::string sign = "E2E-stale-" + std::to_string(::getpid());
    gateway.WriteSettings(ports, 4, 4, 4, sign);
    dataListener.Close();
    ASSERT_TRUE(gateway.Start());
    ASSERT_TRUE(gateway.WaitForOutput("Connecting DataBase..."));
    gateway.Kill();  // no clean-up: the guard's memory stays behind

    testsupport::GatewayProcess next(folder);
    ASSERT_TRUE(dataListener.Open(ports.dataServer));
    ASSERT_TRUE(next.Start());
    auto accepted = dataListener.Accept(15s);
    EXPECT_NE(accepted, nullptr);
    EXPECT_TRUE(next.WaitForLog("Server Start Success!"));
    next.Signal(SIGTERM);
    EXPECT_EQ(next.WaitExit(), 0);
}

TEST_F(GatewayEndToEndTest, TheLoaderStartsTheGatewayAndClosesIt) {
    ASSERT_TRUE(dataListener.Open(ports.dataServer));
    const testsupport::RunResult started = testsupport::RunInFolder(
        folder, "'" + plat::ExecutableDir() + "varnholtctl' start --exe '" + plat::ExecutableDir() + "VarnholtServerd' --timeout 20");
    ASSERT_EQ(started.exitCode, 0) << started.out << started.err;
    // The gateway is the loader's child, not ours: whatever happens below,
    // it must not outlive the test.
    const size_t pidAt = started.out.find("(pid ");
    const pid_t gatewayPid = pidAt == std::string::npos ? 0 : static_cast<pid_t>(std::atoi(started.out.c_str() + pidAt + 5));
    struct KillOnExit {
        pid_t pid;
        ~KillOnExit() {
            if (pid > 0) ::kill(pid, SIGKILL);
        }
    } killOnExit{gatewayPid};
    EXPECT_GT(gatewayPid, 0) << started.out;
    auto accepted = dataListener.Accept(5s);
    ASSERT_NE(accepted, nullptr);
    const testsupport::RunResult closed =
        testsupport::RunInFolder(folder, "'" + plat::ExecutableDir() + "varnholtctl' close --timeout 20");
    EXPECT_EQ(closed.exitCode, 0) << closed.out << closed.err;
    // The gateway was the loader's child, not ours: read its day log by name.
    testsupport::GatewayProcess logReader(folder);
    EXPECT_TRUE(logReader.WaitForLog("Close Program", 5s)) << testsupport::FileNames(folder / "D/ServerLog").size();
}

TEST_F(GatewayEndToEndTest, TheLaunchControllerReportsAndStopsTheRelay) {
    const std::string name = "e2e-launch-" + std::to_string(::getpid());
    ::setenv("VARNHOLT_LAUNCH_NAME", name.c_str(), 1);  // inherited by the gateway
    StartWithDataServer();
    ::unsetenv("VARNHOLT_LAUNCH_NAME");
    const std::string ctl = "'" + plat::ExecutableDir() + "varnholtctl' launch --timeout 10 --name " + name + " ";

    const testsupport::RunResult status = testsupport::RunInFolder(folder, ctl + "status");
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_THAT(status.out, HasSubstr("state=running"));
    const testsupport::RunResult again = testsupport::RunInFolder(folder, ctl + "start");
    EXPECT_THAT(again.out, HasSubstr("refused"));  // already running

    const testsupport::RunResult stop = testsupport::RunInFolder(folder, ctl + "stop");
    EXPECT_EQ(stop.exitCode, 0) << stop.err;
    EXPECT_THAT(stop.out, HasSubstr("ok"));
    EXPECT_TRUE(gateway.WaitForOutput("You Can Close Me"));
    EXPECT_TRUE(gateway.WaitForLog("All Thread Exit OK!"));
}

TEST_F(GatewayEndToEndTest, AnotherAccountCanNeitherCloseNorStopTheGateway) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    const std::string name = "e2e-account-" + std::to_string(::getpid());
    ::setenv("VARNHOLT_LAUNCH_NAME", name.c_str(), 1);  // inherited by the gateway
    StartWithDataServer();
    ::unsetenv("VARNHOLT_LAUNCH_NAME");
    const std::string ctl = "'" + plat::ExecutableDir() + "varnholtctl' ";
    const std::string asNobody = "cd / && setpriv --reuid=65534 --regid=65534 --clear-groups " + ctl;

    const testsupport::RunResult close = testsupport::RunInFolder(folder, asNobody + "close --timeout 2");
    EXPECT_NE(close.exitCode, 0) << close.out;
    const testsupport::RunResult stop =
        testsupport::RunInFolder(folder, asNobody + "launch stop --timeout 2 --name " + name);
    EXPECT_THAT(stop.out, Not(HasSubstr("ok")));
    EXPECT_TRUE(gateway.WaitForLog("LaunchControl: connection 1 from pid ")) << gateway.LogText();
    EXPECT_TRUE(gateway.WaitForLog("(uid 65534) refused: not this account"));
    EXPECT_THAT(gateway.LogText(), HasSubstr("Window message from pid "));

    // The gateway's own account is still served, and the relay never stopped.
    const testsupport::RunResult status =
        testsupport::RunInFolder(folder, ctl + "launch status --timeout 10 --name " + name);
    EXPECT_THAT(status.out, HasSubstr("state=running"));
    EXPECT_THAT(gateway.Output(), Not(HasSubstr("You Can Close Me")));
}

}  // namespace
