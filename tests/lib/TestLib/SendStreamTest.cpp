#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <utility>

#include "lib/TestLib/NetStream.h"
#include "lib/TestLib/PackBuffer.h"
#include "platform/LastError.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/LoopbackPeer.h"

namespace {

TEST(PackBuferTest, HoldsAtMostCapacityMinusTwoBytes) {
    testsupport::ScopedCapturingLog log;
    PackBufer buffer(8192);
    const std::string big(8191, 'x');
    EXPECT_FALSE(buffer.Append(big.data(), 8191));
    EXPECT_EQ(buffer.Used(), 0);
    EXPECT_TRUE(buffer.Append(big.data(), 8190));
    EXPECT_EQ(buffer.Used(), 8190);
    EXPECT_FALSE(buffer.Append("y", 1));
    buffer.Clear();
    EXPECT_EQ(buffer.Used(), 0);
    EXPECT_TRUE(buffer.Append("y", 1));
    EXPECT_EQ(buffer.Data()[0], 'y');
    EXPECT_EQ(buffer.Data()[1], '\0');  // cleared storage reads as zeros
    EXPECT_TRUE(log->Texts(llWarn).empty());
}

TEST(PackBuferTest, HugeCapacityIsLoggedAndStillUsable) {
    testsupport::ScopedCapturingLog log;
    PackBufer buffer(65537);
    const auto warnings = log->Texts(llWarn);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("lib/TestLib/PackBuffer.cpp : "), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find(" Huge Packet Len:65537"), std::string::npos) << warnings[0];
    const std::string data(65535, 'z');
    EXPECT_TRUE(buffer.Append(data.data(), 65535));
}

// A connected socket pair: the stream writes to one end, the test reads the other.
class NetStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        stream.SetSocket(fds[0]);
    }
    void TearDown() override {
        if (fds[0] >= 0) ::close(fds[0]);
        if (fds[1] >= 0) ::close(fds[1]);
    }
    // Everything readable now, without blocking.
    std::string Drain() {
        std::string all;
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::recv(fds[1], chunk, sizeof(chunk), MSG_DONTWAIT);
            if (n <= 0) break;
            all.append(chunk, static_cast<size_t>(n));
        }
        return all;
    }
    int fds[2] = {-1, -1};
    testsupport::ScopedCapturingLog log;
    CNetStream stream;
};

TEST_F(NetStreamTest, PacketsWaitInTheBufferUntilTheFlush) {
    EXPECT_EQ(stream.SendBuf_o("abc", 3), 3);
    EXPECT_EQ(stream.SendBuf_o("defg", 4), 4);
    EXPECT_EQ(Drain(), "");
    EXPECT_EQ(stream.SendBuf_o(nullptr, 0), 7);
    EXPECT_EQ(Drain(), "abcdefg");
    EXPECT_EQ(stream.BufferedBytes(), 0);
}

TEST_F(NetStreamTest, FlushWithNothingBufferedSetsNothingToSend) {
    plat::SetLastError(0);
    EXPECT_EQ(stream.SendBuf_o(nullptr, 0), 0);
    EXPECT_EQ(plat::GetLastError(), NOTHING_TO_SEND);
    EXPECT_EQ(NOTHING_TO_SEND, 536870913u);
}

TEST_F(NetStreamTest, AFullBufferIsWrittenBeforeTheNextPacket) {
    const std::string first(8000, 'a');
    const std::string second(500, 'b');
    EXPECT_EQ(stream.SendBuf_o(first.data(), 8000), 8000);
    EXPECT_EQ(stream.SendBuf_o(second.data(), 500), 500);
    EXPECT_EQ(Drain(), first);
    EXPECT_EQ(stream.BufferedBytes(), 500);
}

// A packet built in place leaves exactly as a queued one would: the
// buffered bytes first when it does not fit behind them, nothing reserved
// for one larger than the buffer, and a failed write keeps what is held.
TEST_F(NetStreamTest, PacketsBuiltInTheBufferLeaveAsQueuedOnesWould) {
    const auto build = [this](int len, char fill) {
        int result = 0;
        char* at = stream.ReserveTail(len, &result);
        if (at != nullptr) {
            std::memset(at, fill, static_cast<size_t>(len));
            stream.CommitTail(len);
        }
        return std::make_pair(at != nullptr, result);
    };
    EXPECT_EQ(build(8000, 'a'), std::make_pair(true, 1));
    EXPECT_EQ(Drain(), "");
    EXPECT_EQ(build(500, 'b'), std::make_pair(true, 1));
    EXPECT_EQ(Drain(), std::string(8000, 'a'));
    EXPECT_EQ(stream.BufferedBytes(), 500);

    EXPECT_EQ(build(8191, 'c'), std::make_pair(false, 1));
    EXPECT_EQ(Drain(), std::string(500, 'b'));
    EXPECT_EQ(stream.BufferedBytes(), 0);

    EXPECT_EQ(build(8000, 'd'), std::make_pair(true, 1));
    ::close(fds[1]);
    fds[1] = -1;
    const auto failed = build(500, 'e');
    EXPECT_FALSE(failed.first);
    EXPECT_LT(failed.second, 1);
    EXPECT_EQ(stream.BufferedBytes(), 8000);
}

TEST_F(NetStreamTest, APacketLargerThanTheBufferGoesOutDirectlyAfterTheBufferedBytes) {
    const std::string big(20000, 'B');
    EXPECT_EQ(stream.SendBuf_o("xy", 2), 2);
    EXPECT_EQ(stream.SendBuf_o(big.data(), 20000), 20000);
    EXPECT_EQ(Drain(), "xy" + big);
    EXPECT_EQ(stream.BufferedBytes(), 0);
}

TEST_F(NetStreamTest, AFailedFlushKeepsTheBytesForTheNextSocket) {
    EXPECT_EQ(stream.SendBuf_o("keep", 4), 4);
    ::close(fds[1]);
    fds[1] = -1;
    EXPECT_LT(stream.SendBuf_o(nullptr, 0), 1);
    EXPECT_NE(plat::GetLastError(), NOTHING_TO_SEND);
    EXPECT_EQ(stream.BufferedBytes(), 4);

    // After a reconnect the stream is re-pointed and the kept bytes go out.
    ::close(fds[0]);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    stream.SetSocket(fds[0]);
    EXPECT_EQ(stream.SendBuf_o(nullptr, 0), 4);
    EXPECT_EQ(Drain(), "keep");
}

TEST_F(NetStreamTest, NegativeLengthWritesNothing) {
    EXPECT_EQ(stream.SendBuf_o("abc", -1), 0);
    EXPECT_EQ(stream.BufferedBytes(), 0);
}

// Over TCP, a full buffer that the next packet follows may be held back by
// the kernel; the flush at the end of the pass must push the whole burst.
TEST(NetStreamOverTcpTest, ABurstOfSeveralBuffersArrivesWholeAfterTheFlush) {
    testsupport::ScopedCapturingLog log;
    nettest::LoopbackListener listener;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listener.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    auto reader = listener.Accept();
    ASSERT_NE(reader, nullptr);

    CNetStream stream(fd);
    std::string all;
    for (int i = 0; i < 25; ++i) {
        const std::string packet(1000, static_cast<char>('A' + i));
        all += packet;
        ASSERT_EQ(stream.SendBuf_o(packet.data(), 1000), 1000);
    }
    EXPECT_EQ(stream.BufferedBytes(), 1000);  // three full buffers went out before it
    EXPECT_EQ(stream.SendBuf_o(nullptr, 0), 1000);
    EXPECT_EQ(reader->Receive(all.size(), std::chrono::seconds(5)), all);
    ::close(fd);
}

}  // namespace
