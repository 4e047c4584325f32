// The gateway's StatusServer link end to end: the daemon as a child process
// in a temporary runtime folder, the status console (varnstatus) playing the
// StatusServer, the peer simulator playing the DataServer, and plain sockets
// on 127.0.0.1 as GameServers and LoginServers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/GatewayProcess.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Not;

const std::string kLogin = "login: server \"VarnholtServer\"";

std::string DayLogName() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[40];
    std::strftime(name, sizeof(name), "Varnholt_%Y-%m-%d.log", &local);
    return name;
}

struct ConsoleRun {
    int exitCode = -1;
    std::string out;  // standard output and error
};

// id 94 rows of a `base` table: group name -> slots whose peer IP is 127.0.0.1.
std::map<std::string, std::set<int>> LoopbackSlots(const std::string& table) {
    static const std::regex row(R"(^\s*94\s+\S+\s+\d+\s+(\S+)\s+(\d+)\s+\d+\s+"([^"]*)\"\s*$)");
    std::map<std::string, std::set<int>> slots;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, row) && match[3] == "127.0.0.1") {
            slots[match[1]].insert(std::stoi(match[2]));
        }
    }
    return slots;
}

bool HasRow(const std::string& table, int id, const std::string& group) {
    return std::regex_search(table, std::regex("(^|\n)\\s*" + std::to_string(id) + "\\s+\\S+\\s+\\d+\\s+" + group + "\\s"));
}

class StatusLinkEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.Path().empty());
        ports.status = testsupport::FreePort();
        gateway.WriteSettings(ports);
        ASSERT_TRUE(dataServer.Start({"dataserver", "--port", std::to_string(ports.dataServer), "--quiet"}, "varnsim"));
    }

    // `varnstatus --serve` on the status port; true once it listens.
    bool Serve(testsupport::GatewayProcess& console) {
        return console.Start({"--serve", "--port", std::to_string(ports.status)}, "varnstatus") &&
               console.WaitForOutput("listening: ", 10s);
    }

    // Gateway up with its relay running and its link logged in; the serving
    // console is then ended, so that the --exec runs have the port.
    void StartLinked() {
        testsupport::TempDir here;
        testsupport::GatewayProcess console(here);
        ASSERT_TRUE(Serve(console));
        ASSERT_TRUE(gateway.Start());
        ASSERT_TRUE(gateway.WaitForLog("Server Start Success!")) << gateway.Output();
        ASSERT_TRUE(console.WaitForOutput(kLogin)) << console.Output();
        console.Signal(SIGTERM);
        ASSERT_EQ(console.WaitExit(10s), 0);
    }

    // One `varnstatus --exec ...` run to its end, in a folder of its own.
    ConsoleRun Exec(std::vector<std::string> arguments) {
        testsupport::TempDir here;
        testsupport::GatewayProcess console(here);
        arguments.insert(arguments.begin(), {"--port", std::to_string(ports.status), "--login-timeout", "15"});
        ConsoleRun run;
        if (!console.Start(arguments, "varnstatus")) return run;
        run.exitCode = console.WaitExit(60s);
        run.out = console.Output();
        return run;
    }

    // The table that `varnstatus --exec base` prints.
    std::string BaseTable() {
        const ConsoleRun run = Exec({"--exec", "base"});
        EXPECT_EQ(run.exitCode, 0) << run.out;
        return run.out;
    }
    static std::set<int> SlotsOf(const std::string& table, const std::string& group) {
        const auto slots = LoopbackSlots(table);
        return slots.count(group) != 0 ? slots.at(group) : std::set<int>{};
    }

    std::unique_ptr<nettest::LoopbackPeer> ConnectOnline(uint16_t port, const std::string& kind, int slot) {
        auto peer = std::make_unique<nettest::LoopbackPeer>(port);
        EXPECT_TRUE(peer->Connected());
        const std::string line = kind + "(poolIndex = " + std::to_string(slot) + ", IP = 127.0.0.1) Connect...OK!";
        EXPECT_TRUE(gateway.WaitForLog(line)) << line;
        return peer;
    }

    testsupport::TempDir folder;
    testsupport::TempDir outputs;
    testsupport::TempDir dataFolder;
    testsupport::GatewayPorts ports;
    testsupport::GatewayProcess gateway{folder};
    testsupport::GatewayProcess dataServer{dataFolder};
};

TEST_F(StatusLinkEndToEndTest, WithoutAStatusServerTheStartIsRetriedUntilOneListens) {
    const std::string launchName = "e2e-status-" + std::to_string(::getpid());
    ::setenv("VARNHOLT_LAUNCH_NAME", launchName.c_str(), 1);  // inherited by the gateway
    ASSERT_TRUE(gateway.Start());
    ::unsetenv("VARNHOLT_LAUNCH_NAME");
    ASSERT_TRUE(gateway.WaitForOutput("Connect to StatusServer failed")) << gateway.Output();
    std::this_thread::sleep_for(1s);
    EXPECT_THAT(gateway.Output(), Not(HasSubstr("Server Start Success!")));
    EXPECT_THAT(gateway.LogText(), Not(HasSubstr("Server Start Success!")));
    // The attempt started nothing, so the launch controller is ready again.
    const testsupport::RunResult launch = testsupport::RunInFolder(
        folder, "'" + plat::ExecutableDir() + "varnholtctl' launch status --timeout 10 --name " + launchName);
    EXPECT_THAT(launch.out, HasSubstr("state=ready")) << launch.out << launch.err;

    testsupport::TempDir here;
    testsupport::GatewayProcess console(here);
    ASSERT_TRUE(Serve(console));
    ASSERT_TRUE(console.WaitForOutput(kLogin, 20s)) << gateway.Output();
    ASSERT_TRUE(gateway.WaitForLog("Server Start Success!")) << gateway.Output();
    EXPECT_THAT(gateway.Output(), HasSubstr("Connect to StatusServer OK"));
    // Failed starts pause between attempts instead of spinning.
    EXPECT_LT(testsupport::CountOf(gateway.Output(), "Connect to StatusServer failed"), 10);
}

TEST_F(StatusLinkEndToEndTest, TheGatewayLogsInOnceOnConnectAndOnceMoreAfterAReconnect) {
    testsupport::TempDir firstFolder;
    testsupport::GatewayProcess first(firstFolder);
    ASSERT_TRUE(Serve(first));
    ASSERT_TRUE(gateway.Start());
    ASSERT_TRUE(first.WaitForOutput(kLogin)) << gateway.Output();
    ASSERT_TRUE(gateway.WaitForLog("Server Start Success!"));
    std::this_thread::sleep_for(2500ms);  // longer than a reconnect period: a second login would show
    EXPECT_EQ(testsupport::CountOf(first.Output(), kLogin), 1) << first.Output();
    first.Kill();  // the StatusServer vanishes without a word

    testsupport::TempDir secondFolder;
    testsupport::GatewayProcess second(secondFolder);
    ASSERT_TRUE(Serve(second));
    ASSERT_TRUE(second.WaitForOutput(kLogin, 20s)) << gateway.Output();
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(testsupport::CountOf(second.Output(), kLogin), 1) << second.Output();
    EXPECT_EQ(testsupport::CountOf(second.Output(), "link accepted"), 1) << second.Output();
    // Losing the status link must not take the relay down with it.
    EXPECT_EQ(testsupport::CountOf(gateway.LogText(), "Server Start Success!"), 1);

    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(15s), 0) << gateway.Output();
    EXPECT_TRUE(second.WaitForOutput("link closed", 5s)) << second.Output();
}

TEST_F(StatusLinkEndToEndTest, BaseInformationListsExactlyTheConnectedSlotsOfEachService) {
    StartLinked();
    std::vector<std::unique_ptr<nettest::LoopbackPeer>> peers;
    for (int slot = 0; slot < 3; ++slot) peers.push_back(ConnectOnline(ports.game, "GameServer", slot));
    for (int slot = 0; slot < 2; ++slot) peers.push_back(ConnectOnline(ports.login, "LoginServer", slot));

    const std::string table = BaseTable();
    EXPECT_EQ(SlotsOf(table, "GameServer"), (std::set<int>{0, 1, 2})) << table;
    EXPECT_EQ(SlotsOf(table, "LoginServer"), (std::set<int>{0, 1})) << table;
    EXPECT_EQ(SlotsOf(table, "RouteServer"), std::set<int>{}) << table;
    for (int id : {56, 57, 58, 62, 63}) EXPECT_TRUE(HasRow(table, id, "process")) << "id " << id;
}

TEST_F(StatusLinkEndToEndTest, ASlotWhosePeerLeftIsNoLongerReported) {
    StartLinked();
    std::vector<std::unique_ptr<nettest::LoopbackPeer>> peers;
    for (int slot = 0; slot < 3; ++slot) peers.push_back(ConnectOnline(ports.game, "GameServer", slot));
    peers[1]->Close();
    ASSERT_TRUE(gateway.WaitForLog("GameServer(1) Disconnect!"));

    const std::string table = BaseTable();
    EXPECT_EQ(SlotsOf(table, "GameServer"), (std::set<int>{0, 2})) << table;
}

TEST_F(StatusLinkEndToEndTest, GetErrorLogReturnsTheDayLogAsItWasWhenAsked) {
    StartLinked();
    const std::string saved = outputs / "day.log";
    const ConsoleRun run = Exec({"--exec", "GetErrorLog " + DayLogName(), "--out", saved});
    ASSERT_EQ(run.exitCode, 0) << run.out;

    const std::string fetched = testsupport::ReadAll(saved);
    const std::string current = gateway.LogText();  // grown since, by the request's own lines at least
    ASSERT_FALSE(fetched.empty());
    EXPECT_THAT(run.out, HasSubstr("wrote " + std::to_string(fetched.size()) + " bytes"));
    ASSERT_LE(fetched.size(), current.size());
    EXPECT_TRUE(current.compare(0, fetched.size(), fetched) == 0) << "not a prefix of the log";
    EXPECT_THAT(fetched, HasSubstr("Server Start Success!"));
}

TEST_F(StatusLinkEndToEndTest, NamesLeadingOutOfTheLogFolderGetNoReply) {
    StartLinked();
    std::ofstream(folder / "secret.txt") << "not for the StatusServer\n";
    std::filesystem::create_symlink(folder / "secret.txt", folder / "D/ServerLog/escape.log");

    for (const std::string name : {"../VarnholtServer.ini", "/etc/passwd", "escape.log"}) {
        const std::string saved = outputs / "refused.out";
        const ConsoleRun run = Exec({"--timeout", "2", "--exec", "GetErrorLog " + name, "--out", saved});
        EXPECT_EQ(run.exitCode, 3) << name << ": " << run.out;
        EXPECT_THAT(run.out, HasSubstr("no reply within")) << name;
        EXPECT_FALSE(std::filesystem::exists(saved)) << name;
        EXPECT_TRUE(gateway.WaitForLog("Invalid filename: " + name, 5s)) << name;
    }
    // The refusals left the link working.
    const ConsoleRun list = Exec({"--exec", "ListLogFiles"});
    EXPECT_EQ(list.exitCode, 0) << list.out;
}

TEST_F(StatusLinkEndToEndTest, TheScriptAndTheCommonLogicAnswerTheirCommands) {
    std::filesystem::create_directories(folder / "script");
    std::filesystem::copy_file(VARNHOLT_SOURCE_ROOT "/scripts/runtime/script/ProcessServerStatus.py",
                               folder / "script/ProcessServerStatus.py");
    StartLinked();
    const ConsoleRun run = Exec({"--timeout", "3", "--exec", "cmd ScriptPing hello", "--exec", "ListLogFiles"});
    ASSERT_EQ(run.exitCode, 0) << run.out << gateway.Output();
    EXPECT_THAT(run.out, HasSubstr("pong: hello"));
    EXPECT_THAT(run.out, HasSubstr("reply to ListLogFiles"));
    EXPECT_THAT(run.out, HasSubstr(DayLogName()));
}

TEST_F(StatusLinkEndToEndTest, SigtermWhileTheStatusServerIsRetriedExitsWithZero) {
    ASSERT_TRUE(gateway.Start());
    ASSERT_TRUE(gateway.WaitForOutput("Connect to StatusServer failed")) << gateway.Output();
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(10s), 0) << gateway.Output();
}

}  // namespace
