#include "modules/SSNetCore/SSLinkSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

using AddressList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

AddressList Resolve(const char* host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, std::to_string(port).c_str(), &hints, &found) != 0) found = nullptr;
    return AddressList(found, &::freeaddrinfo);
}

// Waits for a non-blocking connect to finish; false on refusal, time-out or
// when abandonFd becomes readable.
bool WaitConnected(int fd, std::chrono::milliseconds timeout, int abandonFd) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd entries[2] = {{fd, POLLOUT, 0}, {abandonFd, POLLIN, 0}};
        const int ready = ::poll(entries, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || (entries[1].revents & POLLIN) != 0) return false;
        int error = 0;
        socklen_t len = sizeof(error);
        return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
    }
}

// Back to blocking mode for the link's life (writes pass MSG_DONTWAIT
// themselves), without the Nagle delay: status replies are small and wanted
// at once.
bool ConfigureConnected(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) return false;
    const int on = 1;
    return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) == 0;
}

// True when the socket can take more bytes (or has failed, which the next
// send reports) before the time-out.
bool WaitWritable(int fd, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd entry{fd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

int ConnectDescriptor(const addrinfo& address, std::chrono::milliseconds timeout, int abandonFd) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    const bool connected = ::connect(fd, address.ai_addr, address.ai_addrlen) == 0 ||
                           (errno == EINPROGRESS && WaitConnected(fd, timeout, abandonFd));
    if (connected && ConfigureConnected(fd)) return fd;
    ::close(fd);
    return -1;
}

}  // namespace

std::shared_ptr<CSSLinkSocket> CSSLinkSocket::Open(const char* ip, int port, std::chrono::milliseconds timeout,
                                                   int abandonFd) {
    const AddressList addresses = Resolve(ip, port);
    if (!addresses) return nullptr;
    // Only the first address: one address's time-out already spends the
    // caller's whole wait.
    const int fd = ConnectDescriptor(*addresses, timeout, abandonFd);
    if (fd < 0) return nullptr;
    std::shared_ptr<CSSLinkSocket> socket(new (std::nothrow) CSSLinkSocket(fd));
    if (!socket) ::close(fd);
    return socket;
}

CSSLinkSocket::CSSLinkSocket(int fd) : m_Fd(fd) {}

CSSLinkSocket::~CSSLinkSocket() { ::close(m_Fd); }

bool CSSLinkSocket::WriteAll(const std::string& data) {
    std::lock_guard lock(m_WriteMutex);
    size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::send(m_Fd, data.data() + written, data.size() - written, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            written += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitWritable(m_Fd, kSendTimeout)) {
            continue;
        } else {
            Shutdown();
            return false;
        }
    }
    return true;
}

ssize_t CSSLinkSocket::Read(char* buffer, size_t len, int wakeFd) {
    for (;;) {
        pollfd entries[2] = {{m_Fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(entries, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -1;
        if ((entries[1].revents & POLLIN) != 0) return 0;
        const ssize_t n = ::recv(m_Fd, buffer, len, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return n;
    }
}

void CSSLinkSocket::Shutdown() { ::shutdown(m_Fd, SHUT_RDWR); }
