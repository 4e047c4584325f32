// Header-only launcher side of the launch-control protocol (LaunchProtocol.h):
// connect to a gateway's endpoint, send a request line, read the one-line
// answer within a time-out. For launcher tools; it needs nothing of the
// gateway but this folder's headers. One thread per client object.
//
//   std::string answer, error;
//   const std::string endpoint = launchproto::EndpointName("VarnholtServer", pid);
//   if (LaunchRequest(endpoint, "status", answer, 2000, &error)) ...
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "modules/LaunchServerDLL/LaunchProtocol.h"

class CLaunchClient {
public:
    CLaunchClient() = default;
    ~CLaunchClient() { Close(); }
    CLaunchClient(const CLaunchClient&) = delete;
    CLaunchClient& operator=(const CLaunchClient&) = delete;

    // Connects to "varnholt-launch/<name>"; while the gateway's queue of
    // waiting launchers is full, retries until timeoutMs has passed.
    bool Connect(const std::string& endpointName, int timeoutMs) {
        Close();
        sockaddr_un address{};
        socklen_t length = 0;
        if (!launchproto::FillAddress(endpointName, address, length)) return Fail("endpoint name too long");
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            m_Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (m_Fd < 0) return Fail(std::string("socket: ") + std::strerror(errno));
            if (::connect(m_Fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) return true;
            const int error = errno;
            Close();
            if (error != EAGAIN || Clock::now() >= deadline) {
                return Fail(endpointName + ": " + std::strerror(error));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Sends one request; the '\n' is added here.
    bool SendLine(const std::string& request) {
        if (m_Fd < 0) return Fail("not connected");
        if (request.find('\n') != std::string::npos || request.size() + 1 > launchproto::kMaxLineBytes) {
            return Fail("a request is one short line");
        }
        const std::string line = request + "\n";
        size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = ::send(m_Fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!WaitFor(POLLOUT, 1000)) return Fail("send timed out");
                continue;
            }
            if (n <= 0) return Fail(std::string("send: ") + std::strerror(errno));
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // The next answer line without its '\n'; false when none came within
    // timeoutMs, the gateway closed the connection or the line is too long.
    bool ReadLine(std::string& answer, int timeoutMs) {
        if (m_Fd < 0) return Fail("not connected");
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t end = m_Buffer.find('\n');
            if (end != std::string::npos) {
                answer.assign(m_Buffer, 0, end);
                m_Buffer.erase(0, end + 1);
                return true;
            }
            if (m_Buffer.size() >= launchproto::kMaxLineBytes) return Fail("answer too long");
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !WaitFor(POLLIN, static_cast<int>(left.count()))) {
                return Fail("no answer within " + std::to_string(timeoutMs) + " ms");
            }
            char chunk[256];
            const ssize_t n = ::recv(m_Fd, chunk, sizeof(chunk), 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            if (n == 0) return Fail("the gateway closed the connection");
            if (n < 0) return Fail(std::string("recv: ") + std::strerror(errno));
            m_Buffer.append(chunk, static_cast<size_t>(n));
        }
    }

    void Close() {
        if (m_Fd >= 0) ::close(m_Fd);
        m_Fd = -1;
        m_Buffer.clear();
    }

    bool IsConnected() const { return m_Fd >= 0; }
    const std::string& Error() const { return m_Error; }

private:
    using Clock = std::chrono::steady_clock;

    bool WaitFor(short events, int timeoutMs) {
        pollfd entry{m_Fd, events, 0};
        for (;;) {
            const int ready = ::poll(&entry, 1, timeoutMs);
            if (ready < 0 && errno == EINTR) continue;
            return ready > 0;
        }
    }
    bool Fail(const std::string& why) {
        m_Error = why;
        return false;
    }

    int m_Fd = -1;
    std::string m_Buffer;  // bytes after the last answer taken
    std::string m_Error;
};

// One request on a connection of its own: connect, send, read the answer.
inline bool LaunchRequest(const std::string& endpointName, const std::string& request, std::string& answer,
                          int timeoutMs, std::string* error = nullptr) {
    CLaunchClient client;
    const bool done = client.Connect(endpointName, timeoutMs) && client.SendLine(request) &&
                      client.ReadLine(answer, timeoutMs);
    if (!done && error != nullptr) *error = client.Error();
    return done;
}
