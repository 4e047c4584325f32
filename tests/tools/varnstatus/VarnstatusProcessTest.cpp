// The varnstatus program as a child process against a fake gateway written
// here: it connects to the console's port, logs in like the gateway, and
// answers (or does not answer) the console's requests with hand-made bytes.
#include <gtest/gtest.h>


#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/Compressed.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/SimProcess.h"

namespace {

using namespace std::string_literals;
using simtest::SimProcess;
using testsupport::ParsedPacket;

std::string Le32(uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes;
}

std::string NameField(const std::string& name) {
    std::string field = name;
    field.resize(32, '\0');
    return field;
}

// The gateway's side of the status link, byte by byte.
class FakeGateway {
public:
    explicit FakeGateway(int port) : m_Peer(static_cast<uint16_t>(port)) {}

    bool Connected() const { return m_Peer.Connected(); }
    bool Send(const std::string& record) {
        return m_Peer.Send(testsupport::PacketFrame({0, 0, 1, 13, 13}, record));
    }
    bool Login(const std::string& name) {
        return Send("\x01\x01\x0D\x6A\x00\x00"s + static_cast<char>(name.size()) + name);
    }
    // The next packet from the console, or none within the time.
    std::optional<ParsedPacket> Next() {
        std::string stream = m_Peer.Receive(6);
        if (stream.size() < 6) return std::nullopt;
        uint32_t length = 0;
        for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<uint8_t>(stream[2 + i])) << (8 * i);
        stream += m_Peer.Receive(length);
        ParsedPacket packet;
        if (!testsupport::TakeFrame(stream, packet)) return std::nullopt;
        return packet;
    }
    void Close() { m_Peer.Close(); }

private:
    nettest::LoopbackPeer m_Peer;
};

// A console on a free port; the port comes from its first line.
struct Console {
    explicit Console(std::vector<std::string> args) : process(WithFreePort(std::move(args))) {
        const auto line = process.WaitForLine("listening: ");
        port = line ? std::stoi(line->substr(line->rfind(':') + 1)) : 0;
    }
    static std::vector<std::string> WithFreePort(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", "0"});
        return args;
    }
    SimProcess process;
    int port = 0;
};

std::string CommandReply(const std::string& name, const std::string& data, const std::string& param) {
    return "\x01\x05\x00"s + NameField(name) + Le32(static_cast<uint32_t>(data.size())) + data +
           static_cast<char>(param.size()) + param;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& candidate : lines) {
        if (candidate == line) return true;
    }
    return false;
}

TEST(VarnstatusProcessTest, ExecBasePrintsOneTableRowPerEntry) {
    Console console({"--exec", "base"});
    ASSERT_GT(console.port, 0) << console.process.Err();
    FakeGateway gateway(console.port);
    ASSERT_TRUE(gateway.Login("VarnholtServer"));
    const auto request = gateway.Next();
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->payload, "\x06\x01\x00"s);
    EXPECT_EQ(request->context, 0u);
    EXPECT_EQ(request->destIndex, 0);
    EXPECT_EQ(request->packType, 1);
    EXPECT_EQ(request->destServerType, 2);
    EXPECT_EQ(request->srcServerType, 13);

    // CpuPercent 13, the key example as text, RecvCounter of the RouteServer service.
    const std::string reply = "\x05\x01\x00\x01\x00"s + "\x38\x00\x00\x10"s + Le32(13) + Le32(0) + "\x02\x00"s +
                              "\x5E\x08\x60\x10"s + "\x09\x00"s + "127.0.0.1" + "\x5A\x0A\x00\x10"s + "\x03\x00"s +
                              "1kb";
    ASSERT_TRUE(gateway.Send(reply));
    ASSERT_EQ(console.process.Wait(), 0) << console.process.Err();
    const auto lines = console.process.Lines();
    EXPECT_TRUE(HasLine(lines, "   56  CpuPercent                   0 process           0     2  13"));
    EXPECT_TRUE(HasLine(lines, "   94  PeerIp                       4 GameServer        3     2  \"127.0.0.1\""));
    EXPECT_TRUE(HasLine(lines, "   90  RecvCounter                  5 RouteServer       0     2  \"1kb\""));
    EXPECT_NE(console.process.Out().find("login: server \"VarnholtServer\", fixed value 0x6A0D (as expected)"),
              std::string::npos);
}

TEST(VarnstatusProcessTest, ExecGetErrorLogWritesTheDecompressedFileByteForByte) {
    testsupport::TempDir folder;
    const std::string outPath = folder / "fetched.log";
    Console console({"--exec", "GetErrorLog x.log", "--out", outPath});
    ASSERT_GT(console.port, 0) << console.process.Err();
    FakeGateway gateway(console.port);
    ASSERT_TRUE(gateway.Login("VarnholtServer"));
    const auto request = gateway.Next();
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->payload, "\x03\x04\x00"s + NameField("GetErrorLog") + "\x05" + "x.log");

    std::string log;
    for (int i = 0; i < 30000; ++i) log += "2024-05-01 [Error] pack " + std::to_string(i) + "\r\n";
    for (int i = 0; i < 256; ++i) log.push_back(static_cast<char>(i));
    ASSERT_TRUE(gateway.Send(CommandReply("GetErrorLog", testsupport::Packed(log), "x.log")));
    ASSERT_EQ(console.process.Wait(), 0) << console.process.Err();
    const std::string written = testsupport::ReadAll(outPath);
    EXPECT_EQ(written.size(), log.size());
    EXPECT_TRUE(written == log);
}

TEST(VarnstatusProcessTest, RefusedNameGetsNoReplyAndTimesOutWithExit3) {
    Console console({"--timeout", "0.3", "--exec", "GetErrorLog ..\\secret.ini"});
    ASSERT_GT(console.port, 0) << console.process.Err();
    FakeGateway gateway(console.port);
    ASSERT_TRUE(gateway.Login("VarnholtServer"));
    ASSERT_TRUE(gateway.Next().has_value());
    EXPECT_EQ(console.process.Wait(), 3);
    EXPECT_NE(console.process.Err().find("no reply within 0.3 s"), std::string::npos) << console.process.Err();
}

TEST(VarnstatusProcessTest, EmptyDataMeansNoFileAndExit3) {
    Console console({"--exec", "GetErrorLog missing.log"});
    ASSERT_GT(console.port, 0) << console.process.Err();
    FakeGateway gateway(console.port);
    ASSERT_TRUE(gateway.Login("VarnholtServer"));
    ASSERT_TRUE(gateway.Next().has_value());
    ASSERT_TRUE(gateway.Send(CommandReply("GetErrorLog", "", "missing.log")));
    EXPECT_EQ(console.process.Wait(), 3);
    EXPECT_NE(console.process.Err().find("no data (file missing, empty or refused)"), std::string::npos);
}

TEST(VarnstatusProcessTest, NoLoginWithinTheLoginTimeOutExits3) {
    Console console({"--login-timeout", "0.2", "--exec", "base"});
    ASSERT_GT(console.port, 0);
    EXPECT_EQ(console.process.Wait(), 3);
    EXPECT_NE(console.process.Err().find("no gateway logged in within 0.2 s"), std::string::npos);
}

TEST(VarnstatusProcessTest, BadOptionsExit2) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--port", "70000"}, {"--exec", "frobnicate"}, {"--timeout", "0"}, {"--serve", "--exec", "base"}}) {
        SimProcess console(args);
        EXPECT_EQ(console.Wait(), 2) << args[0] << " " << args[1];
        EXPECT_FALSE(console.Err().empty());
    }
}

TEST(VarnstatusProcessTest, ServeShowsAReconnectingGatewayLoggingInAgain) {
    Console console({"--serve"});
    ASSERT_GT(console.port, 0);
    {
        FakeGateway first(console.port);
        ASSERT_TRUE(first.Login("VarnholtServer"));
        ASSERT_TRUE(first.Send("\x01\x04\xB3"s));
        ASSERT_TRUE(console.process.WaitForLine("[", "] keep-alive").has_value());
    }
    ASSERT_TRUE(console.process.WaitForLine("[", "waiting for the gateway").has_value());
    FakeGateway second(console.port);
    ASSERT_TRUE(second.Login("VarnholtServer"));
    ASSERT_TRUE(second.Send("\x07\x02\xAB"s));
    EXPECT_TRUE(console.process.WaitForLine("[", "logged in again (login 2)").has_value());
    const auto other = console.process.WaitForLine("[", ": 07 02 AB");
    ASSERT_TRUE(other.has_value());
    EXPECT_NE(other->find("record 7/2 (3 bytes"), std::string::npos);
    console.process.Signal(SIGTERM);
    EXPECT_EQ(console.process.Wait(), 0);
}

}  // namespace
