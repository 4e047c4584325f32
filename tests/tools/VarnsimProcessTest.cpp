// The varnsim program as tests and benchmarks use it: a dataserver sim and
// peer sims as child processes on ports the system picks, plus hand-made
// peers where the exact bytes matter.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"
#include "tests/tools/SimProcess.h"

namespace {

using simtest::JsonNumber;
using simtest::SimProcess;
using testsupport::FrameHeader;
using testsupport::PacketFrame;

// A dataserver sim on a free port; the port is read from its first line.
class DataServerSim {
public:
    explicit DataServerSim(std::vector<std::string> extra = {}) : m_Process(Args(std::move(extra))) {
        m_Port = m_Process.ListeningPort();
    }
    int Port() const { return m_Port; }
    std::string PortText() const { return std::to_string(m_Port); }
    SimProcess& Process() { return m_Process; }
    // Ends it with SIGTERM and returns its JSON summary line.
    std::string Stop() {
        m_Process.Signal(SIGTERM);
        EXPECT_EQ(m_Process.Wait(), 0) << m_Process.Err();
        return m_Process.LastLine();
    }

private:
    static std::vector<std::string> Args(std::vector<std::string> extra) {
        std::vector<std::string> args{"dataserver", "--port", "0", "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    SimProcess m_Process;
    int m_Port = 0;
};

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& line : lines) {
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    }
    return found;
}

TEST(VarnsimProcessTest, RoutePeerGetsEveryEchoInOrder) {
    DataServerSim dataServer;
    ASSERT_GT(dataServer.Port(), 0);
    SimProcess route({"route", "--port", dataServer.PortText(), "--count", "300", "--window", "8", "--print",
                      "--json"});
    ASSERT_EQ(route.Wait(), 0) << route.Err();
    const std::string json = route.LastLine();
    EXPECT_EQ(JsonNumber(json, "sent"), 300);
    EXPECT_EQ(JsonNumber(json, "received"), 300);
    EXPECT_EQ(JsonNumber(json, "replies"), 300);
    EXPECT_EQ(JsonNumber(json, "missing"), 0);
    EXPECT_EQ(JsonNumber(json, "unmatched"), 0);
    EXPECT_EQ(JsonNumber(json, "corrupt"), 0);
    EXPECT_EQ(JsonNumber(json, "out_of_order"), 0);
    EXPECT_EQ(JsonNumber(json, "max_in_flight"), 8);
    EXPECT_EQ(JsonNumber(json, "bytes_received"), 300 * (6 + 9 + 64));
    EXPECT_GT(JsonNumber(json, "round_trips_per_s"), 0);
    EXPECT_GE(JsonNumber(json, "p99_us"), JsonNumber(json, "p50_us"));

    const auto received = Matching(route.Lines(), "recv: ");
    ASSERT_EQ(received.size(), 300u);
    for (size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(received[i], "recv: conn=0 ctx=0 dest_index=0 type=1 dest=5 src=1 len=64 seq=" + std::to_string(i));
    }
    const std::string summary = dataServer.Stop();
    EXPECT_EQ(JsonNumber(summary, "received"), 300);
    EXPECT_EQ(JsonNumber(summary, "answered"), 300);
    EXPECT_EQ(JsonNumber(summary, "connections"), 1);
}

TEST(VarnsimProcessTest, GamePeerIsAnsweredAtItsSlotFromContext) {
    DataServerSim dataServer;
    SimProcess game({"game", "--port", dataServer.PortText(), "--slot", "7", "--count", "2", "--size", "20",
                     "--dest-index", "3", "--print"});
    ASSERT_EQ(game.Wait(), 0) << game.Err();
    const auto received = Matching(game.Lines(), "recv: ");
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], "recv: conn=0 ctx=458752 dest_index=7 type=1 dest=3 src=1 len=20 seq=0");
    EXPECT_EQ(received[1], "recv: conn=0 ctx=458752 dest_index=7 type=1 dest=3 src=1 len=20 seq=1");
}

TEST(VarnsimProcessTest, SeveralConnectionsShareTheWork) {
    DataServerSim dataServer({"--quiet"});
    SimProcess route({"route", "--port", dataServer.PortText(), "--connections", "4", "--count", "200", "--window",
                      "16", "--size", "1024", "--json"});
    ASSERT_EQ(route.Wait(), 0) << route.Err();
    EXPECT_EQ(JsonNumber(route.LastLine(), "connections"), 4);
    EXPECT_EQ(JsonNumber(route.LastLine(), "replies"), 800);
    EXPECT_EQ(JsonNumber(route.LastLine(), "corrupt"), 0);
    const std::string summary = dataServer.Stop();
    EXPECT_EQ(JsonNumber(summary, "connections"), 4);
    EXPECT_EQ(JsonNumber(summary, "answered"), 800);
}

TEST(VarnsimProcessTest, WindowBoundsWhatASilentDataServerReceives) {
    DataServerSim dataServer({"--rule", "sink", "--quiet"});
    SimProcess route({"route", "--port", dataServer.PortText(), "--connections", "3", "--window", "4", "--count",
                      "50", "--timeout", "0.3", "--json"});
    EXPECT_EQ(route.Wait(), 4) << "replies missing";
    EXPECT_EQ(JsonNumber(route.LastLine(), "sent"), 12);
    EXPECT_EQ(JsonNumber(route.LastLine(), "missing"), 150);
    const std::string summary = dataServer.Stop();
    EXPECT_EQ(JsonNumber(summary, "received"), 12);
    EXPECT_EQ(JsonNumber(summary, "answered"), 0);
    EXPECT_EQ(JsonNumber(summary, "max_unanswered"), 4) << "no connection may have more than its window in flight";
}

TEST(VarnsimProcessTest, DurationAndRateRunsEndAnswered) {
    DataServerSim dataServer({"--quiet"});
    SimProcess timed({"route", "--port", dataServer.PortText(), "--duration", "0.3", "--window", "4", "--json"});
    SimProcess paced({"login", "--port", dataServer.PortText(), "--rate", "200", "--count", "20", "--json"});
    ASSERT_EQ(timed.Wait(), 0) << timed.Err();
    ASSERT_EQ(paced.Wait(), 0) << paced.Err();
    EXPECT_GT(JsonNumber(timed.LastLine(), "sent"), 0);
    EXPECT_EQ(JsonNumber(timed.LastLine(), "replies"), JsonNumber(timed.LastLine(), "sent"));
    EXPECT_EQ(JsonNumber(paced.LastLine(), "replies"), 20);
}

TEST(VarnsimProcessTest, LinkDownNoticesArePrintedAndNothingIsEchoedForThem) {
    DataServerSim dataServer;
    SimProcess game({"game", "--port", dataServer.PortText(), "--pack-type", "5", "--size", "0", "--count", "1"});
    EXPECT_EQ(game.Wait(), 0) << game.Err();
    EXPECT_TRUE(dataServer.Process().WaitForLine("link-down: kind=3", "kind=3"));
    SimProcess login({"login", "--port", dataServer.PortText(), "--pack-type", "5", "--size", "0", "--count", "1"});
    EXPECT_EQ(login.Wait(), 0) << login.Err();
    EXPECT_TRUE(dataServer.Process().WaitForLine("link-down: kind=4", "kind=4"));
    SimProcess keepAlive({"route", "--port", dataServer.PortText(), "--pack-type", "7", "--size", "0", "--count", "3"});
    EXPECT_EQ(keepAlive.Wait(), 0) << keepAlive.Err();
    EXPECT_TRUE(dataServer.Process().WaitForLine("disconnected: ", "(open: 0)"));
    const std::string summary = dataServer.Stop();
    EXPECT_EQ(JsonNumber(summary, "link_downs"), 2);
    EXPECT_EQ(JsonNumber(summary, "keepalives"), 3);
    EXPECT_EQ(JsonNumber(summary, "answered"), 0);
}

TEST(VarnsimProcessTest, DataServerAnswersAGatewayByteForByte) {
    DataServerSim dataServer;
    nettest::LoopbackPeer gateway(static_cast<uint16_t>(dataServer.Port()));
    ASSERT_TRUE(gateway.Connected());
    // A keep-alive and a broadcast from the gateway get no answer; the
    // packet after them does, with the slot the gateway stamped.
    ASSERT_TRUE(gateway.Send(PacketFrame(FrameHeader{0, -1, 7, 1, 2}, "")));
    ASSERT_TRUE(gateway.Send(PacketFrame(FrameHeader{0, 0, 5, 1, 3}, "news")));
    ASSERT_TRUE(gateway.Send(PacketFrame(FrameHeader{0xA1B2C3D4, 6, 2, 1, 5}, "abc")));
    const std::string expected = PacketFrame(FrameHeader{0xA1B2C3D4, 6, 2, 5, 1}, "abc");
    EXPECT_EQ(gateway.Receive(expected.size()), expected);
    EXPECT_EQ(gateway.Receive(1, std::chrono::milliseconds(200)), "") << "nothing more was due";
    gateway.Close();
    EXPECT_TRUE(dataServer.Process().WaitForLine("disconnected: "));
    const std::string summary = dataServer.Stop();
    EXPECT_EQ(JsonNumber(summary, "received"), 3);
    EXPECT_EQ(JsonNumber(summary, "keepalives"), 1);
    EXPECT_EQ(JsonNumber(summary, "broadcasts"), 1);
    EXPECT_EQ(JsonNumber(summary, "link_downs"), 0);
}

TEST(VarnsimProcessTest, DataServerDropsAStreamThatIsNotFramed) {
    DataServerSim dataServer;
    nettest::LoopbackPeer peer(static_cast<uint16_t>(dataServer.Port()));
    ASSERT_TRUE(peer.Send(std::string("\xCC\xFF\x09\x00\x00\x00", 6) + std::string(9, '\0')));
    EXPECT_TRUE(peer.WaitClosedByOtherSide());
    EXPECT_EQ(JsonNumber(dataServer.Stop(), "bad_frames"), 1);
}

TEST(VarnsimProcessTest, PassivePeerCountsWhatTheGatewaySends) {
    nettest::LoopbackListener gatewayPort;
    SimProcess game({"game", "--port", std::to_string(gatewayPort.Port()), "--count", "0", "--print", "--json"});
    auto link = gatewayPort.Accept();
    ASSERT_TRUE(link);
    ASSERT_TRUE(game.WaitForLine("connected: 1 connection"));
    ASSERT_TRUE(link->Send(PacketFrame(FrameHeader{0, -1, 7, 3, 2}, "")));
    ASSERT_TRUE(link->Send(PacketFrame(FrameHeader{0, -1, 7, 3, 2}, "")));
    ASSERT_TRUE(link->Send(PacketFrame(FrameHeader{0, 0, 5, 3, 1}, "hello")));
    ASSERT_TRUE(link->Send(PacketFrame(FrameHeader{0, -1, 5, 3, 4}, "")));
    ASSERT_TRUE(link->Send(PacketFrame(FrameHeader{42, 0, 1, 3, 5}, "xy")));
    ASSERT_TRUE(game.WaitForLine("link-down: kind=4", "kind=4"));
    ASSERT_TRUE(game.WaitForLine("recv: conn=0 ctx=42 dest_index=0 type=1 dest=3 src=5 len=2", "len=2"));
    game.Signal(SIGTERM);
    EXPECT_EQ(game.Wait(), 0) << game.Err();
    const std::string json = game.LastLine();
    EXPECT_EQ(JsonNumber(json, "keepalives"), 2);
    EXPECT_EQ(JsonNumber(json, "broadcasts"), 2);
    EXPECT_EQ(JsonNumber(json, "link_downs"), 1);
    EXPECT_EQ(JsonNumber(json, "received"), 1);
    EXPECT_EQ(JsonNumber(json, "sent"), 0);
}

TEST(VarnsimProcessTest, LosingTheDataServerMidRunMeansRepliesMissing) {
    DataServerSim dataServer({"--rule", "sink"});
    SimProcess route({"route", "--port", dataServer.PortText(), "--count", "10", "--window", "2", "--timeout", "30",
                      "--json"});
    ASSERT_TRUE(dataServer.Process().WaitForLine("connected: "));
    dataServer.Stop();
    EXPECT_EQ(route.Wait(std::chrono::seconds(10)), 4);
    EXPECT_NE(route.Err().find("closed"), std::string::npos) << route.Err();
}

TEST(VarnsimProcessTest, BadArgumentsExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"mirror", "--port", "1"},
        {"route"},
        {"route", "--port", "1", "--window", "0"},
        {"game", "--port", "1", "--size", "8"},
        {"dataserver", "--port", "1", "--rule", "bounce"},
        {"route", "--port", "1", "--no-such-option"},
    };
    for (const auto& args : cases) {
        SimProcess sim(args);
        EXPECT_EQ(sim.Wait(), 2) << (args.empty() ? std::string("(none)") : args[0]);
        EXPECT_FALSE(sim.Err().empty());
    }
}

TEST(VarnsimProcessTest, RefusedConnectExitsWithThree) {
    uint16_t port = 0;
    {
        nettest::LoopbackListener probe;
        port = probe.Port();
    }
    ASSERT_TRUE(nettest::ConnectRefused(port));
    SimProcess route({"route", "--port", std::to_string(port), "--count", "1"});
    EXPECT_EQ(route.Wait(), 3);
    EXPECT_NE(route.Err().find("could not connect to 127.0.0.1:" + std::to_string(port)), std::string::npos)
        << route.Err();
}

}  // namespace
