#include "MessageWindow.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/WindowMessageCodec.h"
#include "platform/WindowNames.h"

namespace plat {
namespace {

// Makes a datagram socket bound to an abstract name. Returns the descriptor,
// or -1 with the bind's errno in *error (EADDRINUSE: a live window has it;
// abstract names vanish with the last descriptor, so a dead one never does).
int BindWindowSocket(const std::string& name, int* error) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    // The kernel then attaches the sender's pid and uid to every datagram.
    const int on = 1;
    sockaddr_un address;
    const socklen_t length = MakeAbstractAddress(name, &address);
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    *error = 0;
    return fd;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

MessageWindow::MessageWindow(std::string className, std::string windowName)
    : m_ClassName(std::move(className)),
      m_WindowName(std::move(windowName)),
      m_Owner(std::this_thread::get_id()),
      m_Buffer(kMaxWindowDatagramBytes + 1) {}

MessageWindow::~MessageWindow() {
    CloseFd(m_NamedFd);
    CloseFd(m_ProcessFd);
    CloseFd(m_PollFd);
}

std::unique_ptr<MessageWindow> MessageWindow::Create(const std::string& className, const std::string& windowName,
                                                     NameClash clash, CreateStatus* status) {
    CreateStatus ignored;
    CreateStatus& result = status != nullptr ? *status : ignored;
    std::unique_ptr<MessageWindow> window(new MessageWindow(className, windowName));
    window->m_PollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (window->m_PollFd < 0) {
        result = CreateStatus::Failed;
        return nullptr;
    }
    int error = 0;
    window->m_NamedFd = BindWindowSocket(WindowSocketName(className, windowName), &error);
    if (window->m_NamedFd < 0 && (error != EADDRINUSE || clash == NameClash::Refuse)) {
        result = error == EADDRINUSE ? CreateStatus::NameTaken : CreateStatus::Failed;
        return nullptr;
    }
    // Only the process's first window answers for it; a later one finds the
    // alias taken and simply goes without.
    window->m_ProcessFd = BindWindowSocket(ProcessWindowSocketName(::getpid()), &error);
    if (!window->AddToPoll(window->m_NamedFd) || !window->AddToPoll(window->m_ProcessFd)) {
        result = CreateStatus::Failed;
        return nullptr;
    }
    result = window->IsNamed() ? CreateStatus::Created : CreateStatus::NameTaken;
    return window;
}

bool MessageWindow::AddToPoll(int fd) {
    if (fd < 0) return true;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return ::epoll_ctl(m_PollFd, EPOLL_CTL_ADD, fd, &event) == 0;
}

WindowHandle MessageWindow::Handle() const {
    if (IsNamed()) return WindowHandle{WindowSocketName(m_ClassName, m_WindowName)};
    if (AnswersForProcess()) return WindowHandle{ProcessWindowSocketName(::getpid())};
    return WindowHandle{};
}

void MessageWindow::CheckOwnerThread(const char* operation) const {
    if (std::this_thread::get_id() == m_Owner) return;
    // Handlers assume the window thread; running them elsewhere would race
    // with everything they touch, so this is a programming error, not a result.
    std::fprintf(stderr, "MessageWindow::%s called off the window's own thread (%s/%s)\n", operation,
                 m_ClassName.c_str(), m_WindowName.c_str());
    std::abort();
}

size_t MessageWindow::Dispatch(const Handler& handler) {
    CheckOwnerThread("Dispatch");
    size_t handled = DrainSocket(m_NamedFd, handler, kMaxDispatchBatch);
    handled += DrainSocket(m_ProcessFd, handler, kMaxDispatchBatch - handled);
    return handled;
}

bool MessageWindow::WaitForMessage(uint32_t timeoutMs) const {
    CheckOwnerThread("WaitForMessage");
    pollfd entry{m_PollFd, POLLIN, 0};
    const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
    int rc;
    do {
        rc = ::poll(&entry, 1, timeout);
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}

size_t MessageWindow::DrainSocket(int fd, const Handler& handler, size_t budget) {
    size_t handled = 0;
    while (fd >= 0 && handled < budget) {
        iovec io{m_Buffer.data(), m_Buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr header{};
        header.msg_iov = &io;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof(control);
        const ssize_t got = ::recvmsg(fd, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (got < 0) {
            if (errno == EINTR) continue;
            break;  // EAGAIN: nothing more waits
        }
        ucred credentials{0, static_cast<uid_t>(-1), static_cast<gid_t>(-1)};
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
                std::memcpy(&credentials, CMSG_DATA(c), sizeof(credentials));
            }
        }
        WindowMessage message;
        if (!Accept(m_Buffer.data(), static_cast<size_t>(got), (header.msg_flags & MSG_TRUNC) != 0,
                    credentials.uid, credentials.pid, &message)) {
            ++m_Dropped;
            continue;
        }
        ++handled;
        handler(message);
    }
    return handled;
}

bool MessageWindow::Accept(const uint8_t* bytes, size_t size, bool truncated, uid_t uid, pid_t pid,
                           WindowMessage* message) {
    if (!FromOwnAccount(uid)) {
        if (m_Refused) m_Refused(pid, uid);
        return false;
    }
    if (truncated) return false;
    auto decoded = DecodeWindowMessage(bytes, size);
    if (!decoded) return false;
    *message = std::move(*decoded);
    message->senderPid = pid;
    return true;
}

bool MessageWindow::FromOwnAccount(uid_t uid) {
    // Abstract names carry no file permissions, so the sender's account is
    // the only thing that keeps another user of the host from closing the
    // gateway; not even root's requests are taken from another account.
    return uid == ::geteuid();
}

}  // namespace plat
