// varnholtctl driven as a program, against the fake gateway (FakeGateway.cpp)
// and a fake launch-control endpoint. The test process is made a child
// subreaper, so a gateway that varnholtctl started becomes its child once
// varnholtctl has ended, and its exit code can be checked.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "modules/LaunchServerDLL/LaunchProtocol.h"
#include "platform/MessageWindow.h"
#include "platform/ModuleLoader.h"
#include "platform/WindowPost.h"

extern char** environ;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Exit code of a process, or 128 + signal; -1 when it is not done within timeoutMs.
int WaitExit(pid_t pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t rc = ::waitpid(pid, &status, WNOHANG);
        if (rc == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (rc < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class VarnholtctlTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

    void SetUp() override {
        m_GatewayName = "FakeGateway-" + std::to_string(::getpid()) + "-" +
                        testing::UnitTest::GetInstance()->current_test_info()->name();
        ::setenv("FAKE_GATEWAY_WINDOW", m_GatewayName.c_str(), 1);
        ::unsetenv("FAKE_GATEWAY_MODE");
    }

    void TearDown() override {
        for (const pid_t pid : m_Gateways) {
            ::kill(pid, SIGKILL);
            WaitExit(pid, 5000);
        }
    }

    static std::string Bin(const std::string& name) { return plat::ExecutableDir() + name; }
    std::string FakeGateway() const { return Bin("FakeVarnholtGateway"); }

    RunResult Run(const std::vector<std::string>& args) {
        const std::string stem = "/tmp/varnholtctl-test-" + std::to_string(::getpid());
        const std::string outPath = stem + ".out";
        const std::string errPath = stem + ".err";
        const std::string exe = Bin("varnholtctl");
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = 0;
        RunResult result;
        if (::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
            result.exitCode = WaitExit(pid, 60000);
        }
        posix_spawn_file_actions_destroy(&actions);
        result.out = ReadFile(outPath);
        result.err = ReadFile(errPath);
        ::unlink(outPath.c_str());
        ::unlink(errPath.c_str());
        return result;
    }

    // The gateway pid in a varnholtctl message; remembered for clean-up.
    pid_t GatewayPid(const std::string& text) {
        std::smatch match;
        if (!std::regex_search(text, match, std::regex("\\(pid ([0-9]+)\\)"))) return 0;
        const pid_t pid = static_cast<pid_t>(std::stol(match[1]));
        m_Gateways.push_back(pid);
        return pid;
    }

    static std::string LoaderName(const std::string& text) {
        std::smatch match;
        return std::regex_search(text, match, std::regex("loader window VarnholtLoader/(\\S+)")) ? match[1].str() : "";
    }

    // Starts the fake and returns its pid (0 on failure), with the loader window name.
    pid_t StartGateway(std::string* loaderName) {
        const RunResult started = Run({"start", "--exe", FakeGateway(), "--timeout", "10"});
        EXPECT_EQ(started.exitCode, 0) << started.err;
        *loaderName = LoaderName(started.out);
        return GatewayPid(started.out);
    }

    std::string m_GatewayName;
    std::vector<pid_t> m_Gateways;
};

TEST_F(VarnholtctlTest, StartWaitsForTheGatewaysStartReport) {
    const RunResult result = Run({"start", "--exe", FakeGateway(), "--timeout", "10"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const pid_t gateway = GatewayPid(result.out);
    ASSERT_GT(gateway, 0) << result.out;
    EXPECT_NE(LoaderName(result.out), "");
    // It keeps running after the loader has gone.
    EXPECT_TRUE(plat::FindWindow("TfrmVarnholt", m_GatewayName).has_value());
    EXPECT_EQ(WaitExit(gateway, 0), -1);
}

TEST_F(VarnholtctlTest, CloseWithTheLoaderWindowGetsTheConfirmationAndTheGatewayExits) {
    std::string loaderName;
    const pid_t gateway = StartGateway(&loaderName);
    ASSERT_GT(gateway, 0);
    ASSERT_NE(loaderName, "");
    const RunResult closed = Run({"close", "--name", m_GatewayName, "--loader-name", loaderName, "--timeout", "10"});
    EXPECT_EQ(closed.exitCode, 0) << closed.err;
    EXPECT_EQ(closed.out, "gateway TfrmVarnholt/" + m_GatewayName + " confirmed the close\n");
    EXPECT_EQ(WaitExit(gateway, 10000), 0);
    EXPECT_FALSE(plat::FindWindow("TfrmVarnholt", m_GatewayName).has_value());
}

TEST_F(VarnholtctlTest, CloseWithoutALoaderWindowWaitsUntilTheGatewayIsGone) {
    std::string loaderName;
    const pid_t gateway = StartGateway(&loaderName);
    ASSERT_GT(gateway, 0);
    const RunResult closed = Run({"close", "--name", m_GatewayName, "--timeout", "10"});
    EXPECT_EQ(closed.exitCode, 0) << closed.err;
    EXPECT_EQ(closed.out, "gateway TfrmVarnholt/" + m_GatewayName + " closed\n");
    EXPECT_EQ(WaitExit(gateway, 10000), 0);
}

TEST_F(VarnholtctlTest, StartFailsWhenTheGatewayExitsBeforeReporting) {
    ::setenv("FAKE_GATEWAY_MODE", "exit-early", 1);
    const RunResult result = Run({"start", "--exe", FakeGateway(), "--timeout", "10"});
    EXPECT_EQ(result.exitCode, 1);
    const pid_t gateway = GatewayPid(result.err);
    EXPECT_EQ(result.err, "varnholtctl start: the gateway (pid " + std::to_string(gateway) +
                              ") exited with code 3 before it reported a start\n");
}

TEST_F(VarnholtctlTest, StartTimesOutWhenNoReportComes) {
    ::setenv("FAKE_GATEWAY_MODE", "silent", 1);
    const RunResult result = Run({"start", "--exe", FakeGateway(), "--timeout", "0.5"});
    EXPECT_EQ(result.exitCode, 1);
    const pid_t gateway = GatewayPid(result.err);
    EXPECT_EQ(result.err, "varnholtctl start: no start report from the gateway (pid " + std::to_string(gateway) +
                              ") within 0.5 s; it is still running\n");
}

TEST_F(VarnholtctlTest, StartWithACommandLineOfOurOwnFillsInTheLoaderWindow) {
    const RunResult result =
        Run({"start", "--exe", FakeGateway(), "--args", "AutoStart", "{class}", "{name}", "--timeout", "10"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_GT(GatewayPid(result.out), 0);
}

TEST_F(VarnholtctlTest, StartWithoutTheAutostartCommandLineTimesOut) {
    const RunResult result = Run({"start", "--exe", FakeGateway(), "--args", "start", "--timeout", "0.3"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_GT(GatewayPid(result.err), 0);
}

TEST_F(VarnholtctlTest, StartOfAMissingExecutableFails) {
    const RunResult result = Run({"start", "--exe", "/nonexistent/VarnholtServerd", "--timeout", "1"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "varnholtctl start: cannot start /nonexistent/VarnholtServerd: No such file or directory\n");
}

TEST_F(VarnholtctlTest, CloseWithoutAGatewayFails) {
    const RunResult result = Run({"close", "--name", m_GatewayName, "--timeout", "1"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "varnholtctl close: no gateway window TfrmVarnholt/" + m_GatewayName + " on this host\n");
}

TEST_F(VarnholtctlTest, CloseTimesOutWhenTheGatewayIgnoresTheRequest) {
    ::setenv("FAKE_GATEWAY_MODE", "silent", 1);
    const RunResult started = Run({"start", "--exe", FakeGateway(), "--timeout", "0.2"});
    ASSERT_EQ(started.exitCode, 1);
    const pid_t gateway = GatewayPid(started.err);
    ASSERT_GT(gateway, 0);
    const std::string loaderName = "VarnholtLoader-" + m_GatewayName;
    const RunResult closed =
        Run({"close", "--name", m_GatewayName, "--loader-name", loaderName, "--timeout", "0.5"});
    EXPECT_EQ(closed.exitCode, 1);
    EXPECT_EQ(closed.err,
              "varnholtctl close: no close confirmation from TfrmVarnholt/" + m_GatewayName + " within 0.5 s\n");
    EXPECT_EQ(WaitExit(gateway, 0), -1);  // still running
}

TEST_F(VarnholtctlTest, CloseWithALoaderNameInUseSendsNothing) {
    std::string loaderName;
    const pid_t gateway = StartGateway(&loaderName);
    ASSERT_GT(gateway, 0);
    const std::string taken = "VarnholtLoader-" + m_GatewayName;
    auto holder = plat::MessageWindow::Create("VarnholtLoader", taken);
    ASSERT_NE(holder, nullptr);
    const RunResult closed = Run({"close", "--name", m_GatewayName, "--loader-name", taken, "--timeout", "1"});
    EXPECT_EQ(closed.exitCode, 1);
    EXPECT_EQ(closed.err, "varnholtctl close: the loader window VarnholtLoader/" + taken +
                              " is already taken by another loader\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(WaitExit(gateway, 0), -1);  // no close request went out
}

TEST_F(VarnholtctlTest, CloseReportsAGatewayThatLeftWithoutConfirming) {
    ::setenv("FAKE_GATEWAY_MODE", "no-confirm", 1);
    std::string loaderName;
    const pid_t gateway = StartGateway(&loaderName);
    ASSERT_GT(gateway, 0);
    const RunResult closed = Run({"close", "--name", m_GatewayName, "--loader-name", loaderName, "--timeout", "10"});
    EXPECT_EQ(closed.exitCode, 1);
    EXPECT_EQ(closed.err, "varnholtctl close: the gateway TfrmVarnholt/" + m_GatewayName +
                              " went away without confirming the close to VarnholtLoader/" + loaderName + "\n");
}

TEST_F(VarnholtctlTest, BadCommandLinesExitWithTwo) {
    EXPECT_EQ(Run({}).exitCode, 2);
    EXPECT_EQ(Run({"launch", "restart"}).exitCode, 2);
    EXPECT_EQ(Run({"start", "--timeout", "-1"}).exitCode, 2);
    EXPECT_EQ(Run({"--help"}).exitCode, 0);
}

// Serves one launch-control connection: reads a request line, answers it.
class FakeLaunchEndpoint {
public:
    FakeLaunchEndpoint(const std::string& endpoint, std::string answer) : m_Answer(std::move(answer)) {
        m_Listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        socklen_t length = 0;
        m_Ready = launchproto::FillAddress(endpoint, address, length) &&
                  ::bind(m_Listener, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                  ::listen(m_Listener, 4) == 0;
        if (m_Ready) m_Thread = std::thread([this] { Serve(); });
    }
    ~FakeLaunchEndpoint() {
        if (m_Thread.joinable()) m_Thread.join();
        ::close(m_Listener);
    }
    bool Ready() const { return m_Ready; }
    std::string Request() {
        if (m_Thread.joinable()) m_Thread.join();
        return m_Request;
    }

private:
    void Serve() {
        pollfd entry{m_Listener, POLLIN, 0};
        if (::poll(&entry, 1, 10000) != 1) return;  // varnholtctl never came
        const int peer = ::accept(m_Listener, nullptr, nullptr);
        if (peer < 0) return;
        char c = 0;
        while (::read(peer, &c, 1) == 1 && c != '\n') m_Request += c;
        const std::string line = m_Answer + "\n";
        (void)!::write(peer, line.data(), line.size());
        ::close(peer);
    }

    std::string m_Answer;
    std::string m_Request;
    int m_Listener = -1;
    bool m_Ready = false;
    std::thread m_Thread;
};

TEST_F(VarnholtctlTest, LaunchStatusPrintsTheStateAndSucceeds) {
    const std::string name = "Launch-" + std::to_string(::getpid()) + "-{pid}";
    const pid_t fakePid = 424242;
    FakeLaunchEndpoint endpoint(launchproto::EndpointName(name, fakePid), "state=running last=OnStartDone");
    ASSERT_TRUE(endpoint.Ready());
    const RunResult result =
        Run({"launch", "status", "--name", name, "--pid", std::to_string(fakePid), "--timeout", "5"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "state=running last=OnStartDone\n");
    EXPECT_EQ(endpoint.Request(), "status");
}

TEST_F(VarnholtctlTest, LaunchRefusalFails) {
    const std::string name = "Launch-" + std::to_string(::getpid()) + "-refused";
    FakeLaunchEndpoint endpoint(launchproto::EndpointName(name, 0), "refused");
    ASSERT_TRUE(endpoint.Ready());
    const RunResult result = Run({"launch", "start", "--name", name, "--timeout", "5"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "refused\n");
    EXPECT_EQ(endpoint.Request(), "start");
}

TEST_F(VarnholtctlTest, LaunchWithoutAControllerFails) {
    const std::string name = "Launch-" + std::to_string(::getpid()) + "-absent";
    const RunResult result = Run({"launch", "stop", "--name", name, "--timeout", "1"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("varnholtctl launch stop: varnholt-launch/" + name + ": ", 0), 0u) << result.err;
}

}  // namespace
