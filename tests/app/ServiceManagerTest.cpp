// The daemon under a service manager: the readiness protocol seen through a
// stand-in notify socket, the exit code of a bad setting, and the log files
// reopened by SIGHUP after a rotation moved them away.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/GatewayProcess.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;

// A datagram socket where the daemon's sd_notify messages arrive, named in
// NOTIFY_SOCKET for the children started while it lives.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : m_Path(path) {
        m_Fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
        m_Bound = ::bind(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    }
    ~NotifySocket() {
        ::unsetenv("NOTIFY_SOCKET");
        ::unsetenv("WATCHDOG_USEC");
        ::close(m_Fd);
        ::unlink(m_Path.c_str());
    }
    bool Bound() const { return m_Bound; }

    // Reads what has arrived; each message is kept whole, in order.
    const std::vector<std::string>& Messages() {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(m_Fd, buffer, sizeof(buffer), 0);
            if (got < 0) break;
            m_Messages.emplace_back(buffer, static_cast<size_t>(got));
        }
        return m_Messages;
    }
    int Count(const std::string& message) {
        int count = 0;
        for (const std::string& each : Messages()) count += each == message ? 1 : 0;
        return count;
    }
    bool WaitFor(const std::string& message, std::chrono::milliseconds timeout = 15s) {
        return testsupport::WaitUntil([&] { return Count(message) > 0; }, timeout);
    }

private:
    std::string m_Path;
    int m_Fd = -1;
    bool m_Bound = false;
    std::vector<std::string> m_Messages;
};

class ServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder.Path().empty()); }
    void TearDown() override { testsupport::RemoveLeftoverGuards(); }

    void StartRunning() {
        gateway.WriteSettings(ports);
        ASSERT_TRUE(dataListener.Open(ports.dataServer));
        ASSERT_TRUE(gateway.Start());
        dataServer = dataListener.Accept(15s);
        ASSERT_NE(dataServer, nullptr) << gateway.Output();
        ASSERT_TRUE(gateway.WaitForLog("Server Start Success!")) << gateway.Output();
    }
    std::string DayLogPath() const {
        for (const auto& entry : std::filesystem::directory_iterator(folder / "D/ServerLog")) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("Varnholt_2", 0) == 0) return entry.path().string();
        }
        return "";
    }

    testsupport::TempDir folder;
    testsupport::GatewayPorts ports;
    testsupport::GatewayProcess gateway{folder};
    nettest::LoopbackListener dataListener{0};
    std::unique_ptr<nettest::LoopbackPeer> dataServer;
};

TEST_F(ServiceManagerTest, ReadyAfterTheStartLineStatusTextsWatchdogAndStoppingAtSigterm) {
    NotifySocket notify(folder / "notify");
    ASSERT_TRUE(notify.Bound());
    ::setenv("WATCHDOG_USEC", "400000", 1);  // a ping at least every 200 ms
    StartRunning();
    ASSERT_TRUE(notify.WaitFor("READY=1"));
    // Ready only once the relay runs: the start line is already written.
    EXPECT_THAT(gateway.LogText(), HasSubstr("Server Start Success!"));
    EXPECT_GT(notify.Count("STATUS=Running..."), 0);
    // An idle relay keeps the watchdog fed.
    const int pingsBefore = notify.Count("WATCHDOG=1");
    std::this_thread::sleep_for(1s);
    EXPECT_GE(notify.Count("WATCHDOG=1") - pingsBefore, 3);

    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(), 0) << gateway.Output();
    EXPECT_EQ(notify.Count("STOPPING=1"), 1);
    // STOPPING comes before the relay's own stop texts.
    const std::vector<std::string>& messages = notify.Messages();
    const auto stopping = std::find(messages.begin(), messages.end(), "STOPPING=1");
    const auto ready = std::find(messages.begin(), messages.end(), "READY=1");
    EXPECT_LT(ready - messages.begin(), stopping - messages.begin());
    EXPECT_NE(std::find(stopping, messages.end(), "STATUS=Disconnect"), messages.end());
}

TEST_F(ServiceManagerTest, ABadSettingEndsTheDaemonWithExConfigAfterItsStatus) {
    NotifySocket notify(folder / "notify");
    gateway.WriteSettings(ports);
    std::ofstream(folder / "Config/Config.ini", std::ios::app) << "edtGameServerMaxSendMsgQueueCount = lots\n";
    ASSERT_TRUE(gateway.Start());
    EXPECT_EQ(gateway.WaitExit(), 78) << gateway.Output();
    const std::string problem = "Bad setting edtGameServerMaxSendMsgQueueCount in Config\\Config.ini: not a number";
    EXPECT_THAT(gateway.Output(), HasSubstr("status: " + problem));
    EXPECT_EQ(notify.Count("STATUS=" + problem), 1);
    EXPECT_EQ(notify.Count("READY=1"), 0);
}

TEST_F(ServiceManagerTest, SighupOpensTheDayFileAnewAfterARotationMovedIt) {
    StartRunning();
    const std::string dayLog = DayLogPath();
    ASSERT_FALSE(dayLog.empty());
    const std::string rotated = dayLog + ".1";
    std::filesystem::rename(dayLog, rotated);
    gateway.Signal(SIGHUP);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return std::filesystem::exists(dayLog); }, 10s));
    ASSERT_TRUE(gateway.WaitForLog("Log files reopened"));
    EXPECT_THAT(testsupport::ReadAll(rotated), HasSubstr("Server Start Success!"));
    EXPECT_THAT(testsupport::ReadAll(rotated), testing::Not(HasSubstr("Log files reopened")));
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(), 0) << gateway.Output();
}

}  // namespace
