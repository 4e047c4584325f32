// The DataServer dies under load: its stand-in (the peer simulator) is
// killed with SIGKILL and started again while eight RouteServers keep sixteen
// round trips each in flight through the daemon. Every reply is checked for
// its bytes and its order; the only packets allowed to go missing are those
// sent around a kill, which the gateway may have written into the dead
// socket. VARNHOLT_FAULT_KILLS sets the number of kills (3 by default; the
// soak run uses 20). A second case puts the log folder on a full file system.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/GatewayProcess.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::ParsedPacket;
using testsupport::PacketFrame;

constexpr uint8_t kData = 1, kRoute = 5, kBroadcast = 5, kKeepAlive = 7;
constexpr int kConnections = 8;
constexpr size_t kWindow = 16;
constexpr size_t kPayloadSize = 64;
// A packet unanswered this long was lost with a dead DataServer: the gateway
// reconnects within two seconds and otherwise answers in microseconds.
constexpr auto kLostAfter = 4s;

int Kills() {
    const char* text = std::getenv("VARNHOLT_FAULT_KILLS");
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 3;
}

long ResidentKib(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// The payload of packet `seq` of connection `flow`: its numbers, then bytes
// that depend on both, so any changed byte shows.
std::string Payload(int flow, uint32_t seq) {
    std::string payload(kPayloadSize, '\0');
    payload[0] = static_cast<char>(flow);
    for (int i = 0; i < 4; ++i) payload[1 + i] = static_cast<char>((seq >> (8 * i)) & 0xFF);
    for (size_t k = 5; k < kPayloadSize; ++k) payload[k] = static_cast<char>((seq * 31u + k * 7u + flow) & 0xFF);
    return payload;
}

uint32_t SeqOf(const std::string& payload) {
    uint32_t seq = 0;
    for (int i = 0; i < 4; ++i) seq |= static_cast<uint32_t>(static_cast<uint8_t>(payload[1 + i])) << (8 * i);
    return seq;
}

// One RouteServer connection keeping kWindow round trips in flight and
// judging every packet that comes back.
class Flow {
public:
    Flow(int index, uint16_t port) : m_Index(index), m_Peer(std::make_unique<nettest::LoopbackPeer>(port)) {}

    bool Connected() const { return m_Peer->Connected(); }

    void Run(const std::atomic<bool>& sending, const std::atomic<bool>& running) {
        while (running.load()) {
            if (sending.load()) Fill();
            Read();
            ExpireLost();
        }
    }

    uint64_t replies = 0, corrupt = 0, duplicates = 0, reordered = 0, linkDowns = 0;
    std::vector<Clock::time_point> missingSentAt;
    size_t InFlight() const { return m_InFlight.size(); }

private:
    void Fill() {
        while (m_InFlight.size() < kWindow) {
            const uint32_t seq = m_Next++;
            m_InFlight.emplace(seq, Clock::now());
            m_Peer->Send(PacketFrame({static_cast<uint32_t>(m_Index), 0, 1, kData, kRoute}, Payload(m_Index, seq)));
        }
    }

    void Read() {
        m_Pending += m_Peer->ReceiveSome(20ms);
        ParsedPacket packet;
        while (testsupport::TakeFrame(m_Pending, packet)) Judge(packet);
    }

    void Judge(const ParsedPacket& packet) {
        if (packet.packType == kKeepAlive) return;
        // Link-down notices: the DataServer's are counted, other peers' ignored.
        if (packet.packType == kBroadcast && packet.payload.empty()) {
            if (packet.srcServerType == kData) ++linkDowns;
            return;
        }
        if (packet.payload.size() != kPayloadSize || packet.srcServerType != kData ||
            packet.payload != Payload(m_Index, SeqOf(packet.payload))) {
            ++corrupt;
            return;
        }
        const uint32_t seq = SeqOf(packet.payload);
        const auto found = m_InFlight.find(seq);
        if (found != m_InFlight.end()) {
            // One link carries a connection's packets in order: whatever was
            // sent before this one and is still unanswered is lost.
            for (auto older = m_InFlight.begin(); older != found;) {
                m_Missing.emplace(older->first, older->second);
                older = m_InFlight.erase(older);
            }
            m_InFlight.erase(found);
            ++replies;
        } else if (m_Missing.erase(seq) != 0) {
            ++reordered;
        } else {
            ++duplicates;
        }
    }

    void ExpireLost() {
        const auto now = Clock::now();
        for (auto entry = m_InFlight.begin(); entry != m_InFlight.end();) {
            if (now - entry->second < kLostAfter) break;  // later ones are younger
            m_Missing.emplace(entry->first, entry->second);
            entry = m_InFlight.erase(entry);
        }
        missingSentAt.clear();
        for (const auto& [seq, sentAt] : m_Missing) missingSentAt.push_back(sentAt);
    }

    const int m_Index;
    std::unique_ptr<nettest::LoopbackPeer> m_Peer;
    std::map<uint32_t, Clock::time_point> m_InFlight;
    std::map<uint32_t, Clock::time_point> m_Missing;
    std::string m_Pending;
    uint32_t m_Next = 0;
};

class DataServerFaultsTest : public ::testing::Test {
protected:
    void SetUp() override { gateway.WriteSettings(ports, 1, 1, kConnections); }

    // Starts a stand-in and returns the time it listened.
    Clock::time_point StartDataServer() {
        const int listening = testsupport::CountOf(dataServer->Output(), "listening:");
        EXPECT_TRUE(dataServer->Start({"dataserver", "--port", std::to_string(ports.dataServer)}, "varnsim"));
        EXPECT_TRUE(testsupport::WaitUntil(
            [&] { return testsupport::CountOf(dataServer->Output(), "listening:") > listening; }, 10s));
        return Clock::now();
    }
    // Milliseconds from `listened` until the gateway's link is up again.
    long WaitReconnected(Clock::time_point listened, int connectsBefore) {
        testsupport::WaitUntil(
            [&] { return testsupport::CountOf(dataServer->Output(), "connected:") > connectsBefore; }, 10s);
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - listened).count());
    }

    testsupport::TempDir folder;
    testsupport::TempDir dataFolder;
    testsupport::GatewayPorts ports;
    testsupport::GatewayProcess gateway{folder};
    std::unique_ptr<testsupport::GatewayProcess> dataServer = std::make_unique<testsupport::GatewayProcess>(dataFolder);
};

TEST_F(DataServerFaultsTest, KilledAndRestartedUnderLoadLosesOnlyWhatWentIntoTheDeadSocket) {
    const int kills = Kills();
    StartDataServer();
    ASSERT_TRUE(gateway.Start());
    ASSERT_TRUE(gateway.WaitForLog("Server Start Success!")) << gateway.Output();

    std::vector<std::unique_ptr<Flow>> flows;
    for (int i = 0; i < kConnections; ++i) {
        flows.push_back(std::make_unique<Flow>(i, ports.route));
        ASSERT_TRUE(flows.back()->Connected());
    }
    std::atomic<bool> sending{true};
    std::atomic<bool> running{true};
    std::vector<std::thread> threads;
    for (auto& flow : flows) threads.emplace_back([&, f = flow.get()] { f->Run(sending, running); });

    std::vector<Clock::time_point> killedAt;
    std::vector<long> reconnectMs;
    long firstRss = 0;
    for (int kill = 0; kill < kills; ++kill) {
        std::this_thread::sleep_for(1s);
        const int connects = testsupport::CountOf(dataServer->Output(), "connected:");
        killedAt.push_back(Clock::now());
        dataServer->Signal(SIGKILL);
        dataServer->WaitExit(5s);
        std::this_thread::sleep_for(300ms);
        reconnectMs.push_back(WaitReconnected(StartDataServer(), connects));
        if (kill == 0) firstRss = ResidentKib(gateway.Pid());
    }
    std::this_thread::sleep_for(1s);
    sending = false;
    std::this_thread::sleep_for(kLostAfter + 500ms);  // every answer is in, every loss expired
    running = false;
    for (auto& thread : threads) thread.join();
    const long lastRss = ResidentKib(gateway.Pid());

    uint64_t replies = 0, missing = 0, sentBeforeKill = 0, sentAfterKill = 0;
    for (const auto& flow : flows) {
        EXPECT_EQ(flow->corrupt, 0u);
        EXPECT_EQ(flow->duplicates, 0u);
        EXPECT_EQ(flow->reordered, 0u);
        EXPECT_EQ(flow->InFlight(), 0u);
        // Each loss of the link is announced once to every connection.
        EXPECT_EQ(flow->linkDowns, static_cast<uint64_t>(kills));
        replies += flow->replies;
        for (const Clock::time_point sentAt : flow->missingSentAt) {
            ++missing;
            // The nearest kill at or after the packet was sent; it must have
            // come before the gateway noticed, well within a second.
            const auto kill = std::lower_bound(killedAt.begin(), killedAt.end(), sentAt - 500ms);
            ASSERT_NE(kill, killedAt.end()) << "a packet went missing with no kill near it";
            EXPECT_LT(sentAt - *kill, 500ms) << "a packet sent long after a kill went missing";
            EXPECT_LT(*kill - sentAt, 1s) << "a packet sent long before a kill went missing";
            ++(sentAt <= *kill ? sentBeforeKill : sentAfterKill);
        }
    }
    for (const long ms : reconnectMs) EXPECT_LE(ms, 2000);
    EXPECT_GT(replies, 1000u * static_cast<uint64_t>(kills));
#if !defined(__SANITIZE_ADDRESS__)
    // Resident memory is flat across the loop: what the first cycle grew to.
    // (AddressSanitizer's quarantine of freed memory grows by design.)
    EXPECT_LE(lastRss, firstRss + firstRss / 10 + 2048);
#endif

    std::sort(reconnectMs.begin(), reconnectMs.end());
    std::printf("fault loop: %d kills; reconnect ms min %ld median %ld max %ld; link-down notices %d per connection; "
                "replies %llu; missing %llu (sent before the kill %llu, in the 500 ms after it %llu); "
                "gateway RSS %ld KiB after the first cycle, %ld KiB at the end\n",
                kills, reconnectMs.front(), reconnectMs[reconnectMs.size() / 2], reconnectMs.back(), kills,
                static_cast<unsigned long long>(replies), static_cast<unsigned long long>(missing),
                static_cast<unsigned long long>(sentBeforeKill), static_cast<unsigned long long>(sentAfterKill),
                firstRss, lastRss);
}

TEST_F(DataServerFaultsTest, AFullLogFileSystemCostsLogLinesNotTheRelay) {
    const std::string logFolder = folder / "D/ServerLog";
    std::filesystem::create_directories(logFolder);
    if (::mount("tmpfs", logFolder.c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{logFolder};
    StartDataServer();
    ASSERT_TRUE(gateway.Start());
    ASSERT_TRUE(gateway.WaitForOutput("status: Running...", 20s)) << gateway.Output();
    {
        // The disk fills up while the gateway runs: no room left at all.
        std::ofstream filler(logFolder + "/filler.bin", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size())) {
        }
    }
    // Connections that come and go write log lines that have nowhere to go.
    for (int i = 0; i < 20; ++i) nettest::LoopbackPeer(ports.game).Close();

    Flow flow(0, ports.route);
    ASSERT_TRUE(flow.Connected());
    std::atomic<bool> sending{true};
    std::atomic<bool> running{true};
    std::thread traffic([&] { flow.Run(sending, running); });
    std::this_thread::sleep_for(2s);
    sending = false;
    std::this_thread::sleep_for(500ms);
    running = false;
    traffic.join();

    EXPECT_GT(flow.replies, 100u);
    EXPECT_EQ(flow.corrupt, 0u);
    EXPECT_EQ(flow.InFlight(), 0u);
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitExit(), 0) << gateway.Output();
}

}  // namespace
