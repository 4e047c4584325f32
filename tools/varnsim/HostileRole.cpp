#include "tools/varnsim/HostileRole.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "ShareDefine/PackHead.h"
#include "ShareDefine/WireBytes.h"
#include "tools/varnsim/SimOptions.h"

namespace varnsim {
namespace {

using Clock = std::chrono::steady_clock;

// The framer's bound is a whole frame of 100 MiB; one byte more is refused.
constexpr uint64_t kFrameBound = 100ull << 20;
constexpr uint64_t kDefaultRandomBytes = 64 * 1024;
constexpr uint64_t kDefaultHeaderFrames = 10000;
constexpr uint32_t kMaxRandomPayload = 64;

std::atomic<bool> g_Stop{false};

void OnSignal(int) { g_Stop.store(true); }

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Socket {
public:
    ~Socket() { Close(); }
    bool Connect(const HostileOptions& options) {
        m_Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_Fd < 0) return false;
        if (options.receiveBuffer > 0) {
            ::setsockopt(m_Fd, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer, sizeof(options.receiveBuffer));
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(options.port));
        if (::inet_pton(AF_INET, options.host.c_str(), &address.sin_addr) != 1) return false;
        return ::connect(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    // Bytes the kernel took; stops early (false) when the connection is gone.
    bool SendAll(const std::string& bytes, uint64_t& sent) {
        size_t offset = 0;
        while (offset < bytes.size()) {
            const ssize_t wrote = ::send(m_Fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
            if (wrote < 0 && errno == EINTR) {
                if (g_Stop.load()) return false;
                continue;
            }
            if (wrote <= 0) return false;
            offset += static_cast<size_t>(wrote);
            sent += static_cast<uint64_t>(wrote);
        }
        return true;
    }
    // Reads and drops whatever came, without blocking; false once the
    // gateway has ended the connection.
    bool DrainAndCheck() {
        char sink[65536];
        for (;;) {
            const ssize_t got = ::recv(m_Fd, sink, sizeof(sink), MSG_DONTWAIT);
            if (got > 0) continue;
            if (got == 0) return false;
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
    }
    // Waits up to `seconds` for the gateway's close, reading what it sends.
    bool WaitForCut(double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < deadline && !g_Stop.load()) {
            pollfd entry{m_Fd, POLLIN, 0};
            ::poll(&entry, 1, 50);
            if (!DrainAndCheck()) return true;
        }
        return false;
    }
    // Without reading: has the gateway's FIN or reset arrived?
    bool HangUpSeen() const {
        pollfd entry{m_Fd, POLLRDHUP, 0};
        return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    }
    void Close() {
        if (m_Fd >= 0) ::close(m_Fd);
        m_Fd = -1;
    }
    int Fd() const { return m_Fd; }

private:
    int m_Fd = -1;
};

std::string Frame(const MMORPG::tagPackHead& head, const std::string& payload) {
    std::string frame(6 + MMORPG::kPackHeadSize, '\0');
    wire::WriteLE16(frame.data(), 0xCCFF);
    wire::WriteLE32(frame.data() + 2, static_cast<uint32_t>(MMORPG::kPackHeadSize + payload.size()));
    MMORPG::EncodePackHead(head, frame.data() + 6);
    return frame + payload;
}

std::string RandomBytes(std::mt19937& random, size_t count) {
    std::string bytes(count, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

// What one garbage connection sends, in pieces the caller writes in order.
std::string GarbageFor(const HostileOptions& options, std::mt19937& random, uint64_t& frames) {
    switch (options.mode) {
        case GarbageMode::Random: {
            std::string bytes = RandomBytes(random, options.count != 0 ? options.count : kDefaultRandomBytes);
            // Random bytes that happen to start with the magic would be a
            // (likely oversized) frame: a different case.
            if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF) bytes[0] = 0x00;
            return bytes;
        }
        case GarbageMode::Magic: {
            // A well-formed frame with the magic byte-swapped (CC FF).
            MMORPG::tagPackHead head;
            head.DestServerType = MMORPG::stDataServer;
            std::string frame = Frame(head, "wrong magic");
            std::swap(frame[0], frame[1]);
            return frame;
        }
        case GarbageMode::Oversize: {
            // Head of a frame one byte over the bound, and a little of its body.
            std::string head(6, '\0');
            wire::WriteLE16(head.data(), 0xCCFF);
            wire::WriteLE32(head.data() + 2, static_cast<uint32_t>(kFrameBound + 1 - 6));
            return head + std::string(4096, 'x');
        }
        case GarbageMode::Cut: {
            // A frame that announces 4 KiB of body, of which only 100 bytes come.
            std::string head(6, '\0');
            wire::WriteLE16(head.data(), 0xCCFF);
            wire::WriteLE32(head.data() + 2, 4096);
            return head + std::string(100, 'c');
        }
        case GarbageMode::Headers: {
            const uint64_t total = options.count != 0 ? options.count : kDefaultHeaderFrames;
            std::string stream;
            for (uint64_t i = 0; i < total; ++i) {
                const std::string header = RandomBytes(random, MMORPG::kPackHeadSize);
                const std::string payload = RandomBytes(random, random() % (kMaxRandomPayload + 1));
                std::string frame(6, '\0');
                wire::WriteLE16(frame.data(), 0xCCFF);
                wire::WriteLE32(frame.data() + 2, static_cast<uint32_t>(header.size() + payload.size()));
                stream += frame + header + payload;
            }
            frames = total;
            return stream;
        }
    }
    return {};
}

int RunGarbage(const HostileOptions& options, HostileSummary& summary) {
    std::mt19937 random(options.seed);
    const auto start = Clock::now();
    for (uint32_t i = 0; i < options.connections && !g_Stop.load(); ++i) {
        Socket socket;
        if (!socket.Connect(options)) {
            if (summary.connections == 0) return kExitNoConnection;
            break;
        }
        ++summary.connections;
        uint64_t frames = 0;
        const std::string bytes = GarbageFor(options, random, frames);
        const bool whole = socket.SendAll(bytes, summary.bytesSent);
        if (whole) summary.packetsSent += frames;
        if (options.mode == GarbageMode::Cut) {
            socket.Close();  // the peer itself cuts the frame off
            continue;
        }
        if (!whole || socket.WaitForCut(options.wait)) ++summary.cutByGateway;
    }
    summary.seconds = SecondsSince(start);
    return kExitOk;
}

int RunStall(const HostileOptions& options, HostileSummary& summary) {
    std::vector<std::unique_ptr<Socket>> sockets;
    for (uint32_t i = 0; i < options.connections; ++i) {
        auto socket = std::make_unique<Socket>();
        if (!socket->Connect(options)) break;
        sockets.push_back(std::move(socket));
    }
    summary.connections = static_cast<uint32_t>(sockets.size());
    if (sockets.empty()) return kExitNoConnection;
    std::printf("stall: %zu connection(s) held, not reading\n", sockets.size());
    std::fflush(stdout);
    const auto start = Clock::now();
    for (;;) {
        uint32_t cut = 0;
        for (const auto& socket : sockets) cut += socket->HangUpSeen() ? 1 : 0;
        summary.cutByGateway = cut;
        if (g_Stop.load() || cut == sockets.size()) break;
        if (options.duration > 0 && SecondsSince(start) >= options.duration) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    summary.seconds = SecondsSince(start);
    return kExitOk;
}

int RunFlood(const HostileOptions& options, HostileSummary& summary) {
    Socket socket;
    if (!socket.Connect(options)) return kExitNoConnection;
    summary.connections = 1;
    MMORPG::tagPackHead head;
    head.packType = MMORPG::atNormal;
    head.DestServerType = MMORPG::stDataServer;
    // A valid source kind and slot: the packets are relayed like a real
    // peer's (not refused at the gateway), and the DataServer's answers come back here.
    head.SrcServerType = static_cast<uint8_t>(options.srcType);
    head.Context = static_cast<uint32_t>(options.slot) << 16;
    const std::string frame = Frame(head, std::string(options.size, 'f'));
    // Many frames per write: the peer is limited by the socket, not by calls.
    const size_t perBatch = std::max<size_t>(1, (256 * 1024) / frame.size());
    std::string batch;
    for (size_t i = 0; i < perBatch; ++i) batch += frame;
    const auto start = Clock::now();
    bool open = true;
    while (open && !g_Stop.load() && SecondsSince(start) < options.duration) {
        // Replies are read and dropped, so the flood is all on the gateway's
        // receiving side and nothing waits in its send queue for us.
        open = socket.DrainAndCheck();
        if (!open) break;
        pollfd entry{socket.Fd(), POLLOUT, 0};
        if (::poll(&entry, 1, 50) <= 0 || (entry.revents & POLLOUT) == 0) {
            if ((entry.revents & (POLLHUP | POLLERR)) != 0) open = false;
            continue;
        }
        const ssize_t wrote = ::send(socket.Fd(), batch.data(), batch.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (wrote < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (wrote <= 0) {
            open = false;
            break;
        }
        summary.bytesSent += static_cast<uint64_t>(wrote);
        // A partial write leaves a frame half sent: finish it so the stream
        // stays well framed.
        size_t offset = static_cast<size_t>(wrote) % frame.size();
        if (offset != 0) {
            const std::string rest = frame.substr(offset);
            if (!socket.SendAll(rest, summary.bytesSent)) open = false;
        }
        summary.packetsSent = summary.bytesSent / frame.size();
    }
    if (!open) summary.cutByGateway = 1;
    summary.seconds = SecondsSince(start);
    return kExitOk;
}

}  // namespace

const char* GarbageModeName(GarbageMode mode) {
    switch (mode) {
        case GarbageMode::Random: return "random";
        case GarbageMode::Magic: return "magic";
        case GarbageMode::Oversize: return "oversize";
        case GarbageMode::Cut: return "cut";
        case GarbageMode::Headers: return "headers";
    }
    return "?";
}

int RunHostile(const HostileOptions& options, HostileSummary& summary) {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    switch (options.kind) {
        case HostileKind::Garbage:
            summary.role = std::string("garbage ") + GarbageModeName(options.mode);
            return RunGarbage(options, summary);
        case HostileKind::Stall:
            summary.role = "stall";
            return RunStall(options, summary);
        case HostileKind::Flood:
            summary.role = "flood";
            return RunFlood(options, summary);
    }
    return kExitBadArguments;
}

std::string FormatText(const HostileSummary& summary) {
    char text[256];
    std::snprintf(text, sizeof(text), "%s: connections %u, cut by gateway %u, bytes sent %llu, packets sent %llu, %.2f s",
                  summary.role.c_str(), summary.connections, summary.cutByGateway,
                  static_cast<unsigned long long>(summary.bytesSent), static_cast<unsigned long long>(summary.packetsSent),
                  summary.seconds);
    return text;
}

std::string FormatJson(const HostileSummary& summary) {
    char text[256];
    std::snprintf(text, sizeof(text),
                  "{\"role\":\"%s\",\"connections\":%u,\"cut_by_gateway\":%u,\"bytes_sent\":%llu,\"packets_sent\":%llu,"
                  "\"seconds\":%.3f}",
                  summary.role.c_str(), summary.connections, summary.cutByGateway,
                  static_cast<unsigned long long>(summary.bytesSent), static_cast<unsigned long long>(summary.packetsSent),
                  summary.seconds);
    return text;
}

}  // namespace varnsim
