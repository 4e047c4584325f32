// The status-link module loaded as the program loads it, against a
// StatusServer on 127.0.0.1 written here.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ShareDefine/MMORPGPacket.h"
#include "ShareDefine/WireBytes.h"
#include "modules/SSNetCore/ISSNetCore.h"
#include "platform/ModuleLoader.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

GetSSNetCoreFunc Entry() {
    static const auto entry = reinterpret_cast<GetSSNetCoreFunc>(
        plat::ResolveSymbol(plat::LoadModule("SSNetCore.dll"), "GetSSNetCore"));
    return entry;
}

bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + 5s;
    while (!condition() && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    return condition();
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// The StatusServer end. Without `listen` the port is held but refuses links.
class StatusServer {
public:
    explicit StatusServer(int backlog = 8, bool listen = true)
        : m_Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address = Loopback(0);
        socklen_t len = sizeof(address);
        ::bind(m_Fd, reinterpret_cast<sockaddr*>(&address), len);
        if (listen) ::listen(m_Fd, backlog);
        ::getsockname(m_Fd, reinterpret_cast<sockaddr*>(&address), &len);
        m_Port = ntohs(address.sin_port);
    }
    ~StatusServer() {
        CloseFillers();
        for (int fd : m_Links) ::close(fd);
        ::close(m_Fd);
    }
    int Port() const { return m_Port; }
    // The next link, or -1 after the time-out.
    int Accept(std::chrono::milliseconds timeout = 5s) {
        pollfd entry{m_Fd, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) return -1;
        return m_Links.emplace_back(::accept4(m_Fd, nullptr, nullptr, SOCK_CLOEXEC));
    }
    // Queues clients until the kernel drops further requests, so a connect
    // waits for an answer that never comes; false when it never drops them.
    bool FillBacklog() {
        const sockaddr_in address = Loopback(static_cast<uint16_t>(m_Port));
        for (int i = 0; i < 64; ++i) {
            const int fd = m_Fillers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
            pollfd entry{fd, POLLOUT, 0};
            if (::poll(&entry, 1, 300) == 0) return true;
        }
        return false;
    }
    // A pending filler would retry its request; after this, arrivals are the module's.
    void CloseFillers() {
        for (int fd : m_Fillers) ::close(fd);
        m_Fillers.clear();
    }

private:
    int m_Fd;
    int m_Port = 0;
    std::vector<int> m_Links;
    std::vector<int> m_Fillers;
};

// A frame as the StatusServer sends it: FF CC, LE32 length, 9-byte head, record.
std::string Frame(uint32_t context, const std::string& record) {
    MMORPG::tagPackHead head;
    head.Context = context;
    head.DestIndex = -1;
    head.packType = MMORPG::atNormal;
    head.SrcServerType = MMORPG::stStatusServer;
    std::string frame(6 + MMORPG::kPackHeadSize, '\0');
    frame[0] = '\xFF';
    frame[1] = '\xCC';
    wire::WriteLE32(&frame[2], static_cast<uint32_t>(MMORPG::kPackHeadSize + record.size()));
    MMORPG::EncodePackHead(head, &frame[6]);
    return frame + record;
}
std::string HeadOf(const std::string& frame) { return frame.substr(6, MMORPG::kPackHeadSize); }

void Write(int fd, const std::string& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

std::string ReadExactly(int fd, size_t len) {
    std::string got;
    char buffer[65536];
    pollfd entry{fd, POLLIN, 0};
    while (got.size() < len && ::poll(&entry, 1, 5000) > 0) {
        const ssize_t n = ::recv(fd, buffer, std::min(sizeof(buffer), len - got.size()), 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

// True when the module ended the link (end of stream or reset) within 5 s.
bool ClosedByModule(int fd) {
    char byte = 0;
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 5000) > 0 && ::recv(fd, &byte, 1, 0) <= 0;
}

class SSNetCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Entry(), nullptr) << plat::LastModuleError();
        m_Core = Entry()();
        ASSERT_NE(m_Core, nullptr);
        EXPECT_EQ(m_Core->Start(), 1);
    }
    void TearDown() override {
        if (m_Core != nullptr) m_Core->Release();
    }
    // Connects to `server` and returns the server's end of the link.
    int Link(StatusServer& server) {
        EXPECT_TRUE(m_Core->Connect("127.0.0.1", server.Port()));
        return server.Accept();
    }

    ISSNetCore* m_Core = nullptr;
    MMORPG::MMORPGPacket_Stack m_Packet;
};

TEST_F(SSNetCoreTest, ConnectToAClosedPortOrABadAddressFailsPromptly) {
    StatusServer closed(8, false);
    const auto start = Clock::now();
    EXPECT_FALSE(m_Core->Connect("127.0.0.1", closed.Port()));
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_FALSE(m_Core->Connect(nullptr, closed.Port()));
    EXPECT_FALSE(m_Core->Connect("127.0.0.1", 65536));
    EXPECT_FALSE(m_Core->IsConnected());
    EXPECT_EQ(m_Core->Send("h", 1, "b", 1), 0);
    EXPECT_FALSE(m_Core->Receive(&m_Packet));
}

TEST_F(SSNetCoreTest, ConnectGivesUpAfterItsTimeOutAndNeverRetries) {
    StatusServer server(0);
    if (!server.FillBacklog()) GTEST_SKIP() << "this system never drops a connection request on a full backlog";
    const auto start = Clock::now();
    EXPECT_FALSE(m_Core->Connect("127.0.0.1", server.Port()));
    EXPECT_LT(Clock::now() - start, 6s);
    server.CloseFillers();
    while (server.Accept(100ms) >= 0) {
    }
    EXPECT_LT(server.Accept(2500ms), 0) << "a failed Connect must not leave reconnects running";
}

TEST_F(SSNetCoreTest, SentPacketsArriveByteForByteAndTheEntryKeepsItsObject) {
    EXPECT_EQ(Entry()(), m_Core);
    StatusServer server;
    const int link = Link(server);
    ASSERT_GE(link, 0);
    EXPECT_EQ(m_Core->Run(), 1);
    const std::string frame = Frame(0x01020304, "\x01\x04\xB3");
    EXPECT_EQ(m_Core->Send(HeadOf(frame).data(), 9, "\x01\x04\xB3", 3), 18);
    EXPECT_EQ(ReadExactly(link, 18), frame);
    EXPECT_EQ(m_Core->Send(nullptr, 9, "x", 1), 0);
    EXPECT_EQ(m_Core->Send(frame.data(), 9, "x", 0), 0);
    EXPECT_FALSE(m_Core->IsReconnected()) << "the first link is no reconnection";
}

TEST_F(SSNetCoreTest, ConcurrentSendersNeverInterleaveFrames) {
    StatusServer server;
    const int link = Link(server);
    ASSERT_GE(link, 0);
    constexpr int kEach = 300;
    constexpr int kRecord = 20000;
    auto sender = [&](char fill) {
        const std::string frame = Frame(7, std::string(kRecord, fill));
        for (int i = 0; i < kEach; ++i) EXPECT_EQ(m_Core->Send(&frame[6], 9, &frame[15], kRecord), 15 + kRecord);
    };
    std::jthread a(sender, 'a'), b(sender, 'b');
    int seen[2] = {0, 0};
    for (int i = 0; i < 2 * kEach; ++i) {
        const std::string got = ReadExactly(link, 15 + kRecord);
        ASSERT_EQ(got.size(), size_t{15 + kRecord});
        ASSERT_EQ(got, Frame(7, std::string(kRecord, got[15]))) << "frame " << i << " mixes two packets";
        ++seen[got[15] == 'b'];
    }
    EXPECT_EQ(seen[0], kEach);
    EXPECT_EQ(seen[1], kEach);
}

TEST_F(SSNetCoreTest, SplitAndCoalescedFramesBecomeWholePacketsAndStopDropsThem) {
    StatusServer server;
    const int link = Link(server);
    ASSERT_GE(link, 0);
    const std::string split = Frame(1, "first");
    for (size_t i = 0; i < split.size(); i += 4) {
        Write(link, split.substr(i, 4));
        std::this_thread::sleep_for(2ms);
    }
    Write(link, Frame(2, "second") + Frame(3, ""));
    ASSERT_TRUE(WaitUntil([&] { return m_Core->GetRecvCount() == 3; }));
    for (const auto& [context, record] : {std::pair<uint32_t, std::string>{1, "first"}, {2, "second"}, {3, ""}}) {
        m_Packet.m_DestIndex = 9;
        ASSERT_TRUE(m_Core->Receive(&m_Packet));
        EXPECT_EQ(m_Packet.GetContext(), context);
        EXPECT_EQ(m_Packet.GetHeadDestIndex(), -1);
        EXPECT_EQ(m_Packet.GetSrcServerType(), MMORPG::stStatusServer);
        EXPECT_EQ(m_Packet.Data(), record);
        EXPECT_EQ(m_Packet.m_DestIndex, 0);
    }
    EXPECT_FALSE(m_Core->Receive(&m_Packet));

    Write(link, Frame(4, "left"));
    ASSERT_TRUE(WaitUntil([&] { return m_Core->GetRecvCount() == 1; }));
    m_Core->Stop();
    m_Core->Stop();
    EXPECT_EQ(m_Core->GetRecvCount(), 0u);
    EXPECT_FALSE(m_Core->IsConnected());
    EXPECT_TRUE(ClosedByModule(link));
}

TEST_F(SSNetCoreTest, ABrokenFrameClosesTheLinkAndTheNextLinkStartsClean) {
    StatusServer server;
    int link = Link(server);
    // Bad magic, a length above 100 MiB, a length below the 9-byte head.
    for (const char* prefix : {"\xFF\xCD\x0A\0\0\0", "\xFF\xCC\x01\x00\x40\x06", "\xFF\xCC\x08\0\0\0"}) {
        ASSERT_GE(link, 0);
        Write(link, Frame(5, "kept") + std::string(prefix, 6));
        EXPECT_TRUE(ClosedByModule(link));
        link = server.Accept();
        ASSERT_GE(link, 0) << "no reconnection after a broken frame";
        ASSERT_TRUE(WaitUntil([&] { return m_Core->IsReconnected() && m_Core->IsConnected(); }));
        m_Core->ClearReconnected();
    }
    Write(link, Frame(6, "fresh"));
    ASSERT_TRUE(WaitUntil([&] { return m_Core->GetRecvCount() == 4; }));
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(m_Core->Receive(&m_Packet));
    EXPECT_EQ(m_Packet.Data(), "fresh");
}

TEST_F(SSNetCoreTest, ARemadeLinkIsReportedExactlyOnce) {
    StatusServer server;
    const int first = Link(server);
    ASSERT_GE(first, 0);
    EXPECT_FALSE(m_Core->IsReconnected());
    ::shutdown(first, SHUT_RDWR);
    const int second = server.Accept();
    ASSERT_GE(second, 0);
    ASSERT_TRUE(WaitUntil([&] { return m_Core->IsReconnected(); }));
    EXPECT_TRUE(m_Core->IsConnected());
    m_Core->ClearReconnected();
    std::this_thread::sleep_for(1500ms);  // longer than one reconnect pause
    EXPECT_FALSE(m_Core->IsReconnected());
    EXPECT_LT(server.Accept(0ms), 0);
    const std::string login = Frame(8, "login");
    EXPECT_EQ(m_Core->Send(HeadOf(login).data(), 9, "login", 5), 20);
    EXPECT_EQ(ReadExactly(second, 20), login);
}

TEST_F(SSNetCoreTest, SendToAServerThatStopsReadingFailsAndTheLinkIsRemade) {
    StatusServer server;
    ASSERT_GE(Link(server), 0);
    const std::string record(1 << 20, 'x');
    int sent = 0;
    while (sent < 1000 && m_Core->Send(HeadOf(Frame(9, "")).data(), 9, record.data(), 1 << 20) > 0) ++sent;
    EXPECT_LT(sent, 1000) << "a send to a server that never reads must fail in the end";
    EXPECT_GE(server.Accept(), 0);
    EXPECT_TRUE(WaitUntil([&] { return m_Core->IsReconnected(); }));
}

TEST_F(SSNetCoreTest, StopEndsReconnectAttemptsAtOnce) {
    StatusServer server(0);
    const int link = Link(server);
    ASSERT_GE(link, 0);
    if (!server.FillBacklog()) GTEST_SKIP() << "this system never drops a connection request on a full backlog";
    ::shutdown(link, SHUT_RDWR);
    ASSERT_TRUE(WaitUntil([&] { return !m_Core->IsConnected(); }));
    std::this_thread::sleep_for(1500ms);  // the next attempt now waits on the full backlog
    const auto start = Clock::now();
    m_Core->Stop();
    // Well inside both the reconnect pause and the connect time-out.
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_FALSE(m_Core->IsConnected());
}

}  // namespace
