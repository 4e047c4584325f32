// A small blocking TCP peer on 127.0.0.1 for the socket tests:
// connect, send, read with a time-out, close gracefully or with a reset.
// One thread uses it at a time, except Send from a helper thread while the
// test thread only watches the service.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace nettest {

class LoopbackPeer {
public:
    // receiveBuffer > 0 shrinks SO_RCVBUF before connecting: a peer that
    // does not read then stalls the service's writes quickly.
    explicit LoopbackPeer(uint16_t port, int receiveBuffer = 0) {
        m_Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_Fd < 0) return;
        if (receiveBuffer > 0) ::setsockopt(m_Fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        const int on = 1;
        ::setsockopt(m_Fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_Connected = ::connect(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    // Adopts a connected descriptor (one a LoopbackListener accepted).
    struct Adopt {};
    LoopbackPeer(Adopt, int fd) : m_Fd(fd), m_Connected(fd >= 0) {}
    ~LoopbackPeer() { Close(); }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    bool Connected() const { return m_Connected; }

    // Writes every byte; false when the connection failed on the way.
    bool Send(const void* data, size_t len) {
        const char* bytes = static_cast<const char*>(data);
        while (len > 0) {
            const ssize_t wrote = ::send(m_Fd, bytes, len, MSG_NOSIGNAL);
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) return false;
            bytes += wrote;
            len -= static_cast<size_t>(wrote);
        }
        return true;
    }
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }

    // Reads until `len` bytes arrived, the connection ended or the time ran out.
    std::string Receive(size_t len, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char buffer[65536];
        while (got.size() < len) {
            if (!WaitReadable(deadline)) break;
            const ssize_t n = ::recv(m_Fd, buffer, std::min(sizeof(buffer), len - got.size()), 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    // What arrives within the time, at most one read's worth; empty when
    // nothing came or the connection ended.
    std::string ReceiveSome(std::chrono::milliseconds timeout) {
        if (!WaitReadable(std::chrono::steady_clock::now() + timeout)) return {};
        char buffer[65536];
        const ssize_t n = ::recv(m_Fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }

    // True when the other side ended the connection (EOF or reset) within
    // the time; bytes still arriving before the end are skipped.
    bool WaitClosedByOtherSide(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char buffer[65536];
        for (;;) {
            if (!WaitReadable(deadline)) return false;
            const ssize_t n = ::recv(m_Fd, buffer, sizeof(buffer), 0);
            if (n == 0) return true;
            if (n < 0 && errno != EINTR) return true;
        }
    }

    void Close() {
        if (m_Fd >= 0) ::close(m_Fd);
        m_Fd = -1;
    }

    // Closes with SO_LINGER 0: the other side gets a reset, not a FIN.
    void Reset() {
        linger option{1, 0};
        ::setsockopt(m_Fd, SOL_SOCKET, SO_LINGER, &option, sizeof(option));
        Close();
    }

private:
    bool WaitReadable(std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd entry{m_Fd, POLLIN, 0};
            const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
            if (ready > 0) return true;
            if (ready < 0 && errno != EINTR) return false;
        }
    }

    int m_Fd = -1;
    bool m_Connected = false;
};

// A listening socket on 127.0.0.1 that can be closed and opened again on the
// same port (a peer server that restarts). Port 0 picks a free port.
class LoopbackListener {
public:
    explicit LoopbackListener(uint16_t port = 0) { Open(port); }
    ~LoopbackListener() { Close(); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool Open(uint16_t port) {
        Close();
        m_Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_Fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(m_Fd, 16) != 0) {
            Close();
            return false;
        }
        socklen_t length = sizeof(address);
        ::getsockname(m_Fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_Port = ntohs(address.sin_port);
        return true;
    }
    void Close() {
        if (m_Fd >= 0) ::close(m_Fd);
        m_Fd = -1;
    }
    uint16_t Port() const { return m_Port; }

    // The next connection, or null when none came within the time.
    std::unique_ptr<LoopbackPeer> Accept(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        pollfd entry{m_Fd, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) return nullptr;
        const int fd = ::accept4(m_Fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return nullptr;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        return std::make_unique<LoopbackPeer>(LoopbackPeer::Adopt{}, fd);
    }

private:
    int m_Fd = -1;
    uint16_t m_Port = 0;
};

// True when a connect to 127.0.0.1:port is refused (nothing listens there).
inline bool ConnectRefused(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool refused =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 && errno == ECONNREFUSED;
    ::close(fd);
    return refused;
}

}  // namespace nettest
