// The launch-control module loaded as the program loads it (through
// CLaunchServerDLLProxy, from beside this binary), driven over its real
// socket by LaunchClient.h from helper threads while the test thread plays
// the window thread and calls Poll; and the request line reader on its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "infra/LaunchServerDLLProxy.h"
#include "modules/LaunchServerDLL/LaunchClient.h"
#include "modules/LaunchServerDLL/LaunchLineReader.h"
#include "modules/LaunchServerDLL/LaunchProtocol.h"
#include "tests/support/CapturingLog.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kClientTimeoutMs = 5000;

// The window's request callbacks take no context, so the test's live here.
// Only the test thread touches them (callbacks run inside Poll).
struct Requests {
    static inline int starts = 0;
    static inline int stops = 0;
    static inline bool startAnswer = true;
    static inline bool stopAnswer = true;
    static inline std::function<void()> duringStart;

    static bool Start() {
        ++starts;
        if (duringStart) duringStart();
        return startAnswer;
    }
    static bool Stop() {
        ++stops;
        return stopAnswer;
    }
    static void Reset() {
        starts = stops = 0;
        startAnswer = stopAnswer = true;
        duringStart = nullptr;
    }
};

class LaunchServerDLLTest : public testing::Test {
protected:
    void SetUp() override {
        Requests::Reset();
        // Tests of other binaries may run at the same time: one name per process.
        ::setenv(launchproto::kNameVariable, "proxies-test-{pid}", 1);
        ASSERT_TRUE(m_Proxy.Init(&Requests::Start, &Requests::Stop));
        m_Control = m_Proxy.GetLaunchControl();
        ASSERT_NE(m_Control, nullptr);
    }
    void TearDown() override {
        m_Proxy.Release();
        ::unsetenv(launchproto::kNameVariable);
    }

    static std::string Endpoint() { return launchproto::EndpointName("proxies-test-{pid}", ::getpid()); }

    // Runs fn on a helper thread and polls, as the launch timer does, until
    // it has finished.
    void PollWhile(const std::function<void()>& fn) {
        std::atomic<bool> done{false};
        std::thread helper([&] {
            fn();
            done = true;
        });
        const auto deadline = Clock::now() + 10s;
        while (!done && Clock::now() < deadline) {
            m_Control->Poll();
            std::this_thread::sleep_for(2ms);
        }
        helper.join();
    }
    // One request on its own connection; the answer or "error: <why>".
    std::string Ask(const std::string& request) {
        std::string answer;
        std::string error;
        PollWhile([&] {
            if (!LaunchRequest(Endpoint(), request, answer, kClientTimeoutMs, &error)) answer = "error: " + error;
        });
        return answer;
    }

    testsupport::ScopedCapturingLog m_Log;
    CLaunchServerDLLProxy m_Proxy;
    LaunchControl* m_Control = nullptr;
};

TEST_F(LaunchServerDLLTest, EndpointIsNamedFromTheVariableAndTheProcessId) {
    EXPECT_EQ(std::string(m_Control->GetEndpointName()), "varnholt-launch/proxies-test-" + std::to_string(::getpid()));
    EXPECT_EQ(m_Proxy.GetLaunchControl(), m_Control);  // the same controller on every call
}

TEST_F(LaunchServerDLLTest, StartIsAnsweredWithTheStartRequestsResult) {
    EXPECT_EQ(Ask("start"), "ok");
    Requests::startAnswer = false;
    EXPECT_EQ(Ask("start"), "refused");
    EXPECT_EQ(Requests::starts, 2);
    EXPECT_EQ(Requests::stops, 0);
}

TEST_F(LaunchServerDLLTest, StopIsAnsweredWithTheStopRequestsResult) {
    Requests::stopAnswer = false;
    EXPECT_EQ(Ask("stop"), "refused");
    Requests::stopAnswer = true;
    EXPECT_EQ(Ask("stop\r"), "ok");  // a "\r\n" ending is accepted
    EXPECT_EQ(Requests::stops, 2);
    EXPECT_EQ(Requests::starts, 0);
}

TEST_F(LaunchServerDLLTest, StatusFollowsTheNotices) {
    EXPECT_EQ(Ask("status"), "state=init last=none");
    m_Control->OnSelfReady();
    EXPECT_EQ(Ask("status"), "state=ready last=OnSelfReady");
    m_Control->OnStartBegin();
    EXPECT_EQ(Ask("status"), "state=starting last=OnStartBegin");
    m_Control->OnStartDone();
    EXPECT_EQ(Ask("status"), "state=running last=OnStartDone");
    EXPECT_EQ(m_Control->GetState(), lsRunning);
    m_Control->OnStopBegin();
    EXPECT_EQ(Ask("status"), "state=stopping last=OnStopBegin");
    m_Control->OnStopDone();
    EXPECT_EQ(Ask("status"), "state=stopped last=OnStopDone");
    EXPECT_EQ(m_Control->GetState(), lsStopped);
    EXPECT_EQ(Requests::starts + Requests::stops, 0);  // status never runs a callback
}

TEST_F(LaunchServerDLLTest, PollWithoutRequestsDoesNothing) {
    CLaunchClient idle;
    ASSERT_TRUE(idle.Connect(Endpoint(), kClientTimeoutMs)) << idle.Error();
    for (int i = 0; i < 50; ++i) m_Control->Poll();
    std::string answer;
    EXPECT_FALSE(idle.ReadLine(answer, 100));
    EXPECT_EQ(Requests::starts + Requests::stops, 0);
    EXPECT_EQ(m_Control->GetState(), lsInit);
}

TEST_F(LaunchServerDLLTest, SeveralRequestsOnOneConnectionAreAnsweredInOrder) {
    std::string first;
    std::string second;
    std::string third;
    PollWhile([&] {
        CLaunchClient client;
        if (!client.Connect(Endpoint(), kClientTimeoutMs) || !client.SendLine("status") ||
            !client.SendLine("restart") || !client.SendLine("start")) {
            return;
        }
        client.ReadLine(first, kClientTimeoutMs);
        client.ReadLine(second, kClientTimeoutMs);
        client.ReadLine(third, kClientTimeoutMs);
    });
    EXPECT_EQ(first, "state=init last=none");
    EXPECT_EQ(second, "unknown");
    EXPECT_EQ(third, "ok");
    EXPECT_EQ(Requests::starts, 1);
}

TEST_F(LaunchServerDLLTest, OverlongRequestDropsTheConnection) {
    // Raw bytes: the client refuses to send an overlong line itself.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    socklen_t length = 0;
    ASSERT_TRUE(launchproto::FillAddress(Endpoint(), address, length));
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), length), 0);
    const std::string flood(launchproto::kMaxLineBytes + 10, 's');
    ASSERT_EQ(::send(fd, flood.data(), flood.size(), MSG_NOSIGNAL), static_cast<ssize_t>(flood.size()));
    char byte = 0;
    ssize_t received = -2;
    PollWhile([&] { received = ::recv(fd, &byte, 1, 0); });
    EXPECT_EQ(received, 0);  // closed without an answer
    ::close(fd);
    EXPECT_EQ(Requests::starts, 0);
    EXPECT_EQ(Ask("status"), "state=init last=none");  // and the endpoint serves on
}

TEST_F(LaunchServerDLLTest, DuringARunningStartStatusIsAnsweredAndAnotherStartRefused) {
    std::string statusMeanwhile;
    std::string startMeanwhile;
    Requests::duringStart = [&] {
        // The window keeps pumping messages while it starts: the launch
        // timer polls again from inside the start request.
        m_Control->OnStartBegin();
        statusMeanwhile = Ask("status");
        startMeanwhile = Ask("start");
        m_Control->OnStartDone();
    };
    EXPECT_EQ(Ask("start"), "ok");
    EXPECT_EQ(statusMeanwhile, "state=starting last=OnStartBegin");
    EXPECT_EQ(startMeanwhile, "refused");
    EXPECT_EQ(Requests::starts, 1);
    EXPECT_EQ(Ask("status"), "state=running last=OnStartDone");
}

TEST_F(LaunchServerDLLTest, ReleaseClosesTheEndpoint) {
    ASSERT_TRUE(m_Proxy.Release());
    EXPECT_FALSE(m_Proxy.IsInited());
    EXPECT_EQ(m_Proxy.GetLaunchControl(), nullptr);
    CLaunchClient client;
    EXPECT_FALSE(client.Connect(Endpoint(), 200));
    EXPECT_THAT(client.Error(), testing::HasSubstr("Connection refused"));
    EXPECT_TRUE(m_Proxy.Release());  // a second release is harmless
}

TEST_F(LaunchServerDLLTest, InitWhenInitialisedIsTrueAtOnce) {
    EXPECT_TRUE(m_Proxy.IsInited());
    EXPECT_TRUE(m_Proxy.Init(&Requests::Start, &Requests::Stop));
    EXPECT_EQ(m_Proxy.GetLaunchControl(), m_Control);
}

TEST(LaunchServerDLLNameTest, TakenEndpointTurnsTheFeatureOff) {
    testsupport::ScopedCapturingLog log;
    ::setenv(launchproto::kNameVariable, "proxies-taken-{pid}", 1);
    const std::string endpoint = launchproto::EndpointName("proxies-taken-{pid}", ::getpid());
    const int holder = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    socklen_t length = 0;
    ASSERT_TRUE(launchproto::FillAddress(endpoint, address, length));
    ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&address), length), 0);

    CLaunchServerDLLProxy proxy;
    EXPECT_FALSE(proxy.Init(&Requests::Start, &Requests::Stop));
    EXPECT_FALSE(proxy.IsInited());
    EXPECT_EQ(proxy.GetLaunchControl(), nullptr);
    EXPECT_TRUE(log->Has(llInfo, "CLaunchServerDLLProxy::Init  LaunchControl::Init failed: LaunchControl::Init  " +
                                     endpoint + ": Address already in use"));
    ::close(holder);
    EXPECT_TRUE(proxy.Init(&Requests::Start, &Requests::Stop));  // a later Init may succeed
    proxy.Release();
    ::unsetenv(launchproto::kNameVariable);
}

TEST(LaunchLineReaderTest, LinesAreCutAtNewlinesWhateverTheChunks) {
    CLaunchLineReader reader(launchproto::kMaxLineBytes);
    std::string line;
    EXPECT_TRUE(reader.Feed("sta", 3));
    EXPECT_FALSE(reader.NextLine(line));
    EXPECT_TRUE(reader.Feed("tus\r\nsto", 8));
    ASSERT_TRUE(reader.NextLine(line));
    EXPECT_EQ(line, "status");
    EXPECT_FALSE(reader.NextLine(line));
    EXPECT_TRUE(reader.Feed("p\n\n", 3));
    ASSERT_TRUE(reader.NextLine(line));
    EXPECT_EQ(line, "stop");
    ASSERT_TRUE(reader.NextLine(line));
    EXPECT_EQ(line, "");
}

TEST(LaunchLineReaderTest, LineOverTheBoundMakesTheStreamBad) {
    CLaunchLineReader reader(8);
    EXPECT_TRUE(reader.Feed("1234567\n", 8));  // exactly the bound, '\n' included
    EXPECT_FALSE(reader.Feed("12345678", 8));  // an unfinished line that can no longer fit
    EXPECT_TRUE(reader.IsBad());
    std::string line;
    EXPECT_FALSE(reader.NextLine(line));
    EXPECT_FALSE(reader.Feed("ok\n", 3));  // bad for good
}

TEST(LaunchLineReaderTest, TooManyQueuedLinesMakeTheStreamBad) {
    CLaunchLineReader reader(8);
    std::string many;
    for (int i = 0; i < 40; ++i) many += "status\n";
    EXPECT_FALSE(reader.Feed(many.data(), many.size()));
}

}  // namespace
