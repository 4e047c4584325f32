// The admin listener of the daemon, black box: /healthz follows the
// DataServer link through a kill and a restart of its stand-in, /metrics
// counts every packet a RouteServer relays through the DataServer exactly,
// and "varnholtctl status" reads the port from the settings file and reports
// health by its exit code, including a gateway that is gone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "platform/ModuleLoader.h"
#include "tests/support/GatewayProcess.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;

constexpr uint8_t kData = 1, kRoute = 5, kKeepAlive = 7;

struct Answer {
    int status = 0;  // 0: no answer
    std::string body;
};

// Samples of a Prometheus text page by series ("name{labels}"), read
// independently of the program's own parser.
std::map<std::string, double> ParseSamples(const std::string& page) {
    std::map<std::string, double> samples;
    size_t start = 0;
    while (start < page.size()) {
        size_t end = page.find('\n', start);
        if (end == std::string::npos) end = page.size();
        const std::string line = page.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#') continue;
        const size_t blank = line.rfind(' ');
        if (blank == std::string::npos) continue;
        samples[line.substr(0, blank)] = std::strtod(line.c_str() + blank + 1, nullptr);
    }
    return samples;
}

std::string Traffic(const char* metric, const char* peer, const char* direction) {
    return std::string("varnholt_") + metric + "{peer=\"" + peer + "\",direction=\"" + direction + "\"}";
}

class AdminListenerEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        gateway.WriteSettings(ports, 1, 1, 2);
        std::ofstream(folder / "Config/Config.ini", std::ios::app) << "edtAdminPort = " << adminPort << "\n";
    }
    void TearDown() override { testsupport::RemoveLeftoverGuards(); }

    void StartDataServer() {
        const int listening = testsupport::CountOf(dataServer->Output(), "listening:");
        ASSERT_TRUE(dataServer->Start({"dataserver", "--port", std::to_string(ports.dataServer)}, "varnsim"));
        ASSERT_TRUE(testsupport::WaitUntil(
            [&] { return testsupport::CountOf(dataServer->Output(), "listening:") > listening; }, 10s));
    }
    void StartGateway() {
        ASSERT_TRUE(gateway.Start());
        ASSERT_TRUE(gateway.WaitForLog("Admin listener on 127.0.0.1:" + std::to_string(adminPort))) << gateway.Output();
    }

    Answer Get(const std::string& path) {
        httplib::Client client("127.0.0.1", adminPort);
        client.set_connection_timeout(2s);
        client.set_read_timeout(5s);
        const httplib::Result result = client.Get(path);
        return result ? Answer{result->status, result->body} : Answer{};
    }
    std::map<std::string, double> Metrics() { return ParseSamples(Get("/metrics").body); }
    bool WaitForHealth(int status, const std::string& body, std::chrono::milliseconds timeout) {
        return testsupport::WaitUntil(
            [&] {
                const Answer answer = Get("/healthz");
                return answer.status == status && answer.body == body;
            },
            timeout);
    }

    // Runs varnholtctl with the gateway's folder as current folder and data
    // root, so it finds the port where the gateway read it.
    int RunCtl(const std::string& arguments, std::string& output) {
        const std::string command = "cd '" + folder.Path() + "' && VARNHOLT_DATA_ROOT='" + folder.Path() + "' '" +
                                    plat::ExecutableDir() + "varnholtctl' " + arguments + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return -1;
        char buffer[4096];
        output.clear();
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) output.append(buffer, n);
        const int status = ::pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    testsupport::TempDir folder;
    testsupport::TempDir dataFolder;
    testsupport::GatewayPorts ports;
    const uint16_t adminPort = testsupport::FreePort();
    testsupport::GatewayProcess gateway{folder};
    std::unique_ptr<testsupport::GatewayProcess> dataServer = std::make_unique<testsupport::GatewayProcess>(dataFolder);
};

TEST_F(AdminListenerEndToEndTest, HealthFollowsTheDataServerLinkThroughAKillAndARestart) {
    StartDataServer();
    StartGateway();
    EXPECT_TRUE(WaitForHealth(200, "ok\n", 5s)) << Get("/healthz").body;

    dataServer->Kill();
    EXPECT_TRUE(WaitForHealth(503, "DataServer link down\n", 5s)) << Get("/healthz").body;
    EXPECT_EQ(Metrics()["varnholt_dataserver_link_up"], 0);

    // Same port: the gateway keeps retrying the stored address.
    dataServer = std::make_unique<testsupport::GatewayProcess>(dataFolder);
    StartDataServer();
    EXPECT_TRUE(WaitForHealth(200, "ok\n", 5s)) << Get("/healthz").body;
    auto metrics = Metrics();
    EXPECT_EQ(metrics["varnholt_dataserver_link_up"], 1);
    EXPECT_EQ(metrics["varnholt_dataserver_reconnects_total"], 1);
    EXPECT_EQ(metrics["varnholt_relay_running"], 1);

    const auto stopAsked = std::chrono::steady_clock::now();
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(10s), 0) << gateway.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, 5s);
    EXPECT_EQ(Get("/healthz").status, 0);  // the port is closed with the relay
}

TEST_F(AdminListenerEndToEndTest, MetricsCountEveryRelayedPacketExactly) {
    constexpr int kPackets = 300;
    constexpr int kPayload = 40;
    StartDataServer();
    StartGateway();
    nettest::LoopbackPeer route(ports.route);
    ASSERT_TRUE(route.Connected());
    // The baseline is taken once the peer is online and the keep-alive
    // every start sends the DataServer at once has gone out; the next one
    // is 30 s away, well after this test.
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            auto m = Metrics();
            return m["varnholt_online_peers{kind=\"route\"}"] == 1 && m[Traffic("packets_total", "dataserver", "send")] >= 1;
        },
        10s));
    auto before = Metrics();

    std::string frames;
    for (int i = 0; i < kPackets; ++i) {
        frames += testsupport::PacketFrame({static_cast<uint32_t>(i), 0, 1, kData, kRoute}, std::string(kPayload, 'x'));
    }
    ASSERT_TRUE(route.Send(frames));
    std::string pending;
    int replies = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (replies < kPackets && std::chrono::steady_clock::now() < deadline) {
        pending += route.ReceiveSome(100ms);
        testsupport::ParsedPacket packet;
        while (testsupport::TakeFrame(pending, packet)) {
            if (packet.packType != kKeepAlive) ++replies;
        }
    }
    ASSERT_EQ(replies, kPackets);

    const auto delta = [&](const std::map<std::string, double>& after, const std::string& series) {
        return after.at(series) - before.at(series);
    };
    // The last reply's send is counted just after its bytes left.
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return delta(Metrics(), Traffic("packets_total", "route", "send")) >= kPackets; }, 5s));
    std::this_thread::sleep_for(200ms);  // anything extra would show by now
    auto after = Metrics();
    constexpr double kBytes = kPackets * (9.0 + kPayload);
    for (const char* peer : {"route", "dataserver"}) {
        for (const char* direction : {"recv", "send"}) {
            EXPECT_EQ(delta(after, Traffic("packets_total", peer, direction)), kPackets) << peer << " " << direction;
            EXPECT_EQ(delta(after, Traffic("bytes_total", peer, direction)), kBytes) << peer << " " << direction;
        }
    }
    for (const char* peer : {"game", "login"}) {
        EXPECT_EQ(delta(after, Traffic("packets_total", peer, "recv")), 0) << peer;
        EXPECT_EQ(delta(after, Traffic("packets_total", peer, "send")), 0) << peer;
    }
    EXPECT_EQ(after["varnholt_queue_length{queue=\"core_recv\"}"], 0);
    EXPECT_EQ(after["varnholt_connections_cut_total{service=\"route\",reason=\"flood\"}"], 0);
    EXPECT_GT(after["varnholt_process_resident_memory_bytes"], 1e6);
}

TEST_F(AdminListenerEndToEndTest, CtlStatusReadsThePortFromTheSettingsAndExitsByHealth) {
    StartDataServer();
    StartGateway();
    ASSERT_TRUE(WaitForHealth(200, "ok\n", 5s));
    std::string output;
    EXPECT_EQ(RunCtl("status", output), 0) << output;
    EXPECT_THAT(output, HasSubstr("health: ok"));
    EXPECT_THAT(output, HasSubstr("dataserver"));

    dataServer->Kill();
    ASSERT_TRUE(WaitForHealth(503, "DataServer link down\n", 5s));
    EXPECT_EQ(RunCtl("status", output), 1) << output;
    EXPECT_THAT(output, HasSubstr("DataServer link down"));

    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(10s), 0);
    EXPECT_EQ(RunCtl("status", output), 2) << output;
    EXPECT_THAT(output, HasSubstr("cannot reach the admin listener on 127.0.0.1:" + std::to_string(adminPort)));
}

}  // namespace
