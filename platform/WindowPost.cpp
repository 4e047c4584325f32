#include "WindowPost.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/WindowMessageCodec.h"
#include "platform/WindowNames.h"

namespace plat {
namespace {

// How long a send waits for room in a full receiving queue: a window whose
// thread does not dispatch must not hang its senders for ever.
constexpr int kSendTimeoutMs = 1000;

// Owns one socket descriptor for the length of a send.
class SocketFd {
public:
    SocketFd() : m_Fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~SocketFd() {
        if (m_Fd >= 0) ::close(m_Fd);
    }
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;
    int Get() const { return m_Fd; }

private:
    int m_Fd;
};

// A connect on a datagram socket is refused when nothing is bound to the
// name, which makes it the existence test, and it lets a full peer queue
// block the send (with the time-out) instead of failing at once.
bool ConnectTo(const SocketFd& sock, const std::string& address) {
    if (sock.Get() < 0 || address.empty()) return false;
    sockaddr_un target;
    const socklen_t length = MakeAbstractAddress(address, &target);
    int rc;
    do {
        rc = ::connect(sock.Get(), reinterpret_cast<const sockaddr*>(&target), length);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool SendDatagram(const WindowHandle& window, const std::vector<uint8_t>& datagram) {
    if (datagram.empty()) return false;
    SocketFd sock;
    if (!ConnectTo(sock, window.address)) return false;
    timeval timeout{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
    ::setsockopt(sock.Get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    ssize_t sent;
    do {
        sent = ::send(sock.Get(), datagram.data(), datagram.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(datagram.size());
}

std::optional<WindowHandle> FindAddress(const std::string& address) {
    WindowHandle handle{address};
    if (!IsWindow(handle)) return std::nullopt;
    return handle;
}

}  // namespace

std::optional<WindowHandle> FindWindow(const std::string& className, const std::string& windowName) {
    return FindAddress(WindowSocketName(className, windowName));
}

std::optional<WindowHandle> FindWindowByProcess(pid_t pid) {
    if (pid <= 0) return std::nullopt;
    return FindAddress(ProcessWindowSocketName(pid));
}

bool IsWindow(const WindowHandle& window) {
    SocketFd sock;
    return ConnectTo(sock, window.address);
}

bool PostMessage(const WindowHandle& window, uint32_t msg, uint64_t wParam, uint64_t lParam) {
    if (msg == WM_COPYDATA) return false;
    WindowMessage message;
    message.msg = msg;
    message.wParam = wParam;
    message.lParam = lParam;
    return SendDatagram(window, EncodeWindowMessage(message));
}

bool SendCopyData(const WindowHandle& window, uint64_t dwData, const void* bytes, size_t size) {
    if (size > kMaxCopyDataBytes || (bytes == nullptr && size != 0)) return false;
    WindowMessage message;
    message.msg = WM_COPYDATA;
    message.dwData = dwData;
    const auto* first = static_cast<const uint8_t*>(bytes);
    if (size != 0) message.data.assign(first, first + size);
    return SendDatagram(window, EncodeWindowMessage(message));
}

bool SendCopyData(const WindowHandle& window, uint64_t dwData, const std::string& bytes) {
    return SendCopyData(window, dwData, bytes.data(), bytes.size());
}

}  // namespace plat
