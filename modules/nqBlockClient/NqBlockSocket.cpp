#include "modules/nqBlockClient/NqBlockSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for a non-blocking connect to finish; 0 or the errno of the failure.
int AwaitConnect(int fd, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, MsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return errno;
        if (ready == 0) return ETIMEDOUT;
        int error = 0;
        socklen_t len = sizeof(error);
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
        return error;
    }
}

// One connect attempt to one address; 0 or an errno.
int TryAddress(int fd, const addrinfo& address, Clock::time_point deadline) {
    if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return errno;
    return AwaitConnect(fd, deadline);
}

void SetConnectedOptions(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
}

}  // namespace

CNqBlockSocket::~CNqBlockSocket() { SockClose(); }

void CNqBlockSocket::SockSetup(int connectTimeoutMs) {
    m_ConnectTimeoutMs.store(connectTimeoutMs > 0 ? connectTimeoutMs : kDefaultConnectTimeoutMs,
                             std::memory_order_relaxed);
}

bool CNqBlockSocket::SockConnect(const char* host, uint16_t port) {
    std::lock_guard connectLock(m_ConnectLock);
    SockClose();
    if (host == nullptr || *host == '\0') {
        Fail(EINVAL);
        return false;
    }
    {
        std::lock_guard lock(m_Lock);
        m_Connecting = true;
        m_ConnectAborted = false;
    }
    const int fd = ConnectWithin(host, port, m_ConnectTimeoutMs.load(std::memory_order_relaxed));
    std::lock_guard lock(m_Lock);
    m_Connecting = false;
    if (fd < 0) return false;
    SetConnectedOptions(fd);
    if (m_ConnectAborted) {
        ::close(fd);
        Fail(ECONNABORTED);
        return false;
    }
    m_Fd = fd;
    m_Connected = true;
    Fail(0);
    return true;
}

int CNqBlockSocket::ConnectWithin(const char* host, uint16_t port, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    char service[8];
    std::snprintf(service, sizeof(service), "%u", static_cast<unsigned>(port));
    const int resolved = ::getaddrinfo(host, service, &hints, &addresses);
    if (resolved != 0) {
        Fail(resolved == EAI_SYSTEM ? errno : EHOSTUNREACH);
        return -1;
    }
    int error = ETIMEDOUT;
    int connected = -1;
    for (const addrinfo* address = addresses; address != nullptr && connected < 0; address = address->ai_next) {
        if (MsLeft(deadline) == 0) {
            error = ETIMEDOUT;
            break;
        }
        const int fd = ::socket(address->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        error = SetConnecting(fd) ? TryAddress(fd, *address, deadline) : ECONNABORTED;
        if (!SetConnecting(-1)) error = ECONNABORTED;
        if (error == 0) {
            connected = fd;
        } else {
            ::close(fd);
        }
    }
    ::freeaddrinfo(addresses);
    if (connected < 0) Fail(error);
    return connected;
}

bool CNqBlockSocket::SetConnecting(int fd) {
    std::lock_guard lock(m_Lock);
    m_ConnectingFd = fd;
    return !m_ConnectAborted;
}

CNqBlockSocket::Use CNqBlockSocket::BeginUse() {
    std::lock_guard lock(m_Lock);
    if (m_Fd < 0 || m_Closing) return {};
    ++m_Users;
    return Use{m_Fd, m_Generation};
}

CNqBlockSocket::Use CNqBlockSocket::BeginTransfer(bool argumentsValid) {
    if (!argumentsValid) {
        Fail(EINVAL);
        return {};
    }
    const Use use = BeginUse();
    if (use.fd < 0) Fail(ENOTCONN);
    return use;
}

bool CNqBlockSocket::EndUse(const Use& use) {
    std::lock_guard lock(m_Lock);
    if (--m_Users == 0) m_Changed.notify_all();
    return use.generation == m_Generation && !m_Closing;
}

int CNqBlockSocket::SockRecv(char* buffer, int size) { return Recv(buffer, size, 0); }

int CNqBlockSocket::SockRecvNoWait(char* buffer, int size) { return Recv(buffer, size, MSG_DONTWAIT); }

int CNqBlockSocket::Recv(char* buffer, int size, int flags) {
    const Use use = BeginTransfer(buffer != nullptr && size > 0);
    if (use.fd < 0) return -1;
    ssize_t got;
    do {
        got = ::recv(use.fd, buffer, static_cast<size_t>(size), flags);
    } while (got < 0 && errno == EINTR);
    const int recvError = errno;
    const bool current = EndUse(use);
    if (got > 0) return static_cast<int>(got);
    if (got < 0 && (recvError == EAGAIN || recvError == EWOULDBLOCK) && current) {
        Fail(EWOULDBLOCK);  // nothing yet: the connection stays up
        return -1;
    }
    if (!current) {
        // SockClose woke us: that is not the peer's doing.
        Fail(ECONNABORTED);
        return -1;
    }
    std::lock_guard lock(m_Lock);
    m_Connected = false;
    if (got == 0) return 0;
    Fail(recvError);
    return -1;
}

int CNqBlockSocket::SockSend(const char* data, int len) { return SendAll(data, len, 0); }

int CNqBlockSocket::SockSendMore(const char* data, int len) { return SendAll(data, len, MSG_MORE); }

int CNqBlockSocket::SendAll(const char* data, int len, int flags) {
    const Use use = BeginTransfer(data != nullptr && len >= 0);
    if (use.fd < 0) return -1;
    int sent = 0;
    int sendError = 0;
    while (sent < len) {
        const ssize_t wrote = ::send(use.fd, data + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL | flags);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            sendError = wrote < 0 ? errno : EPIPE;
            break;
        }
        sent += static_cast<int>(wrote);
    }
    const bool current = EndUse(use);
    if (sendError == 0) return sent;
    Fail(current ? sendError : ECONNABORTED);
    if (current) {
        std::lock_guard lock(m_Lock);
        m_Connected = false;
    }
    return -1;
}

bool CNqBlockSocket::SockIsConnected() {
    std::lock_guard lock(m_Lock);
    return m_Connected && !m_Closing;
}

int CNqBlockSocket::SockGetHandle() {
    std::lock_guard lock(m_Lock);
    return m_Closing ? -1 : m_Fd;
}

void CNqBlockSocket::SockClose() {
    std::unique_lock lock(m_Lock);
    if (m_Connecting) {
        // Cuts a connect in progress short: its poll wakes, and the connect
        // sees m_ConnectAborted and fails.
        m_ConnectAborted = true;
        if (m_ConnectingFd >= 0) ::shutdown(m_ConnectingFd, SHUT_RDWR);
    }
    // A second closer waits for the first, so either returns with the
    // descriptor closed.
    m_Changed.wait(lock, [this] { return !m_Closing; });
    if (m_Fd < 0) return;
    m_Closing = true;
    m_Connected = false;
    ++m_Generation;
    // Wakes a blocked recv or send at once; close() alone would not.
    ::shutdown(m_Fd, SHUT_RDWR);
    m_Changed.wait(lock, [this] { return m_Users == 0; });
    ::close(m_Fd);
    m_Fd = -1;
    m_Closing = false;
    m_Changed.notify_all();
}
