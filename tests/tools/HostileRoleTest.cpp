// The misbehaving simulator roles: their options, and what they put on the
// wire, read back by a plain listener on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"
#include "tools/varnsim/HostileRole.h"
#include "tools/varnsim/SimOptions.h"

namespace {

using namespace varnsim;
using namespace std::chrono_literals;

int Parse(std::vector<const char*> args, SimCommand& command) {
    args.insert(args.begin(), "varnsim");
    std::string text;
    return ParseSimCommand(static_cast<int>(args.size()), args.data(), command, text);
}

TEST(HostileRoleTest, GarbageStallAndFloodParseIntoTheirRoles) {
    SimCommand command;
    ASSERT_EQ(Parse({"garbage", "--port", "7000", "--mode", "oversize", "--connections", "3"}, command), -1);
    EXPECT_EQ(command.role, SimRole::Garbage);
    EXPECT_EQ(command.hostile.kind, HostileKind::Garbage);
    EXPECT_EQ(command.hostile.mode, GarbageMode::Oversize);
    EXPECT_EQ(command.hostile.connections, 3u);
    ASSERT_EQ(Parse({"stall", "--port", "7000", "--hold", "0", "--rcvbuf", "4096"}, command), -1);
    EXPECT_EQ(command.role, SimRole::Stall);
    EXPECT_EQ(command.hostile.receiveBuffer, 4096);
    ASSERT_EQ(Parse({"flood", "--port", "7000", "--size", "100", "--duration", "1"}, command), -1);
    EXPECT_EQ(command.role, SimRole::Flood);
    EXPECT_EQ(command.hostile.size, 100u);
    EXPECT_EQ(Parse({"garbage", "--port", "7000", "--mode", "nonsense"}, command), kExitBadArguments);
}

// Runs one role against a listener and returns the bytes of its first connection.
std::string BytesOf(HostileOptions options, HostileSummary& summary) {
    nettest::LoopbackListener listener(0);
    options.port = listener.Port();
    options.wait = 0;
    std::thread peer([&] { RunHostile(options, summary); });
    auto accepted = listener.Accept(5s);
    std::string bytes;
    if (accepted) {
        for (std::string got; !(got = accepted->ReceiveSome(300ms)).empty();) bytes += got;
    }
    peer.join();
    return bytes;
}

TEST(HostileRoleTest, OversizeAnnouncesOneByteMoreThanTheFrameBound) {
    HostileSummary summary;
    HostileOptions options;
    options.mode = GarbageMode::Oversize;
    const std::string bytes = BytesOf(options, summary);
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xCC", 2));
    const uint32_t length = static_cast<uint8_t>(bytes[2]) | (static_cast<uint8_t>(bytes[3]) << 8) |
                            (static_cast<uint8_t>(bytes[4]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(bytes[5])) << 24);
    EXPECT_EQ(length + 6u, 100u * 1024 * 1024 + 1);
}

TEST(HostileRoleTest, MagicSwapsTheTwoMagicBytes) {
    HostileSummary summary;
    HostileOptions options;
    options.mode = GarbageMode::Magic;
    const std::string bytes = BytesOf(options, summary);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xCC\xFF", 2));
}

TEST(HostileRoleTest, HeadersAreWellFramedFramesWithRandomHeaders) {
    HostileSummary summary;
    HostileOptions options;
    options.mode = GarbageMode::Headers;
    options.count = 500;
    std::string bytes = BytesOf(options, summary);
    int frames = 0;
    testsupport::ParsedPacket packet;
    while (testsupport::TakeFrame(bytes, packet)) ++frames;
    EXPECT_EQ(frames, 500);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(summary.packetsSent, 500u);
}

TEST(HostileRoleTest, CutSendsAFrameHeadAndLessBodyThanItAnnounces) {
    HostileSummary summary;
    HostileOptions options;
    options.mode = GarbageMode::Cut;
    std::string bytes = BytesOf(options, summary);
    testsupport::ParsedPacket packet;
    EXPECT_FALSE(testsupport::TakeFrame(bytes, packet));
    EXPECT_EQ(bytes.size(), 106u);
}

}  // namespace
