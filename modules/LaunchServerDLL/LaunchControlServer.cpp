#include "modules/LaunchServerDLL/LaunchControlServer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "modules/LaunchServerDLL/LaunchProtocol.h"

namespace {

constexpr int kListenBacklog = 8;

const char* StateName(int state) {
    switch (state) {
        case lsReady: return "ready";
        case lsStarting: return "starting";
        case lsRunning: return "running";
        case lsStopping: return "stopping";
        case lsStopped: return "stopped";
        default: return "init";
    }
}

std::string InstanceNameFromEnvironment() {
    const char* name = std::getenv(launchproto::kNameVariable);
    return (name != nullptr && name[0] != '\0') ? name : launchproto::kDefaultName;
}

}  // namespace

CLaunchControlServer::Connection::Connection(int descriptor)
    : fd(descriptor), reader(launchproto::kMaxLineBytes) {}

CLaunchControlServer::Connection::~Connection() { ::close(fd); }

CLaunchControlServer::~CLaunchControlServer() {
    m_Connections.clear();
    if (m_ListenFd >= 0) ::close(m_ListenFd);
}

bool CLaunchControlServer::Init(LaunchRequestFunc startRequest, LaunchRequestFunc stopRequest, int /*reserved*/) {
    m_LastError.clear();
    if (startRequest == nullptr || stopRequest == nullptr) {
        m_LastError = "LaunchControl::Init  a request callback is missing";
        return false;
    }
    if (m_ListenFd < 0) {
        const std::string endpoint = launchproto::EndpointName(InstanceNameFromEnvironment(), ::getpid());
        sockaddr_un address{};
        socklen_t length = 0;
        if (!launchproto::FillAddress(endpoint, address, length)) {
            m_LastError = "LaunchControl::Init  endpoint name too long: " + endpoint;
            return false;
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            m_LastError = std::string("LaunchControl::Init  socket: ") + std::strerror(errno);
            return false;
        }
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
            ::listen(fd, kListenBacklog) != 0) {
            m_LastError = "LaunchControl::Init  " + endpoint + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        m_ListenFd = fd;
        m_EndpointName = endpoint;
    }
    m_StartRequest = startRequest;
    m_StopRequest = stopRequest;
    return true;
}

void CLaunchControlServer::Poll() {
    if (m_ListenFd < 0) return;
    AcceptPending();
    ReadPending();
    // Ids, not iterators: a callback's nested Poll may add and drop connections.
    std::vector<uint64_t> ready;
    for (const auto& [id, connection] : m_Connections) {
        if (!connection->busy && !connection->closed) ready.push_back(id);
    }
    for (uint64_t id : ready) AnswerConnection(id);
}

void CLaunchControlServer::AcceptPending() {
    for (;;) {
        const int fd = ::accept4(m_ListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // EAGAIN: nothing more waiting (or a transient error, retried next Poll)
        }
        if (!IsOwnUser(fd) || m_Connections.size() >= kMaxConnections) {
            ::close(fd);
            continue;
        }
        m_Connections.emplace(m_NextId++, std::make_unique<Connection>(fd));
    }
}

bool CLaunchControlServer::IsOwnUser(int fd) {
    // The abstract namespace has no file permissions: anyone on the host
    // could connect, and only the gateway's own account may start or stop
    // it. The refusal is left as the last error for the program to log.
    ucred credentials{0, static_cast<uid_t>(-1), static_cast<gid_t>(-1)};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 && credentials.uid == ::geteuid()) {
        return true;
    }
    ++m_Refused;
    m_LastError = "LaunchControl: connection " + std::to_string(m_Refused) + " from pid " +
                  std::to_string(credentials.pid) + " (uid " + std::to_string(credentials.uid) +
                  ") refused: not this account";
    return false;
}

void CLaunchControlServer::ReadPending() {
    char buffer[512];
    for (auto& [id, connection] : m_Connections) {
        if (connection->busy || connection->closed) continue;
        for (;;) {
            const ssize_t n = ::recv(connection->fd, buffer, sizeof(buffer), MSG_DONTWAIT);
            if (n > 0) {
                if (!connection->reader.Feed(buffer, static_cast<size_t>(n))) connection->closed = true;
                if (connection->closed) break;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            // 0: the launcher hung up; its complete lines are still answered
            // (it may have shut down only its sending side).
            if (n == 0) connection->closed = !connection->reader.HasLine();
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) connection->closed = true;
            break;
        }
    }
    std::erase_if(m_Connections, [](const auto& item) { return item.second->closed && !item.second->busy; });
}

void CLaunchControlServer::AnswerConnection(uint64_t id) {
    auto found = m_Connections.find(id);
    if (found == m_Connections.end()) return;
    found->second->busy = true;
    std::string line;
    for (;;) {
        found = m_Connections.find(id);  // the map may have changed during a callback
        if (found == m_Connections.end() || found->second->closed) break;
        if (!found->second->reader.NextLine(line)) break;
        Send(id, Answer(line));
    }
    found = m_Connections.find(id);
    if (found != m_Connections.end()) found->second->busy = false;
}

std::string CLaunchControlServer::Answer(const std::string& request) {
    if (request == launchproto::kRequestStatus) return StatusText();
    if (request == launchproto::kRequestStart) return RunRequest(m_StartRequest);
    if (request == launchproto::kRequestStop) return RunRequest(m_StopRequest);
    return launchproto::kAnswerUnknown;
}

std::string CLaunchControlServer::RunRequest(LaunchRequestFunc request) {
    // A start runs for as long as the gateway needs to connect, with the
    // window pumping messages; a second start or a stop meanwhile would
    // re-enter the window's start/stop control half-way.
    if (m_RequestRunning || request == nullptr) return launchproto::kAnswerRefused;
    m_RequestRunning = true;
    const bool done = request();
    m_RequestRunning = false;
    return done ? launchproto::kAnswerOk : launchproto::kAnswerRefused;
}

std::string CLaunchControlServer::StatusText() const {
    return std::string("state=") + StateName(m_State.load(std::memory_order_acquire)) + " last=" + m_LastNotice;
}

void CLaunchControlServer::Send(uint64_t id, const std::string& answer) {
    const auto found = m_Connections.find(id);
    if (found == m_Connections.end()) return;
    const std::string line = answer + "\n";
    // Answers are a few bytes: a launcher whose socket buffer cannot take
    // one is not reading, and is dropped rather than waited for.
    const ssize_t n = ::send(found->second->fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n != static_cast<ssize_t>(line.size())) found->second->closed = true;
}

void CLaunchControlServer::Notice(ELaunchState state, const char* name) {
    m_LastNotice = name;
    m_State.store(state, std::memory_order_release);
}
