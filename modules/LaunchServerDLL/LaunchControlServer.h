// LaunchControl over a non-blocking Unix stream socket in the abstract
// namespace (LaunchProtocol.h). It has no thread of its own: Poll, called on
// the window thread, accepts, reads and answers, and runs the request
// callbacks there. Poll may be entered again from inside a callback, so
// every Poll works from the connection table afresh and a connection whose
// request is running is left alone until its answer has gone out.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modules/LaunchServerDLL/LaunchControl.h"
#include "modules/LaunchServerDLL/LaunchLineReader.h"

class CLaunchControlServer final : public LaunchControl {
public:
    static constexpr size_t kMaxConnections = 16;

    CLaunchControlServer() = default;
    ~CLaunchControlServer();
    CLaunchControlServer(const CLaunchControlServer&) = delete;
    CLaunchControlServer& operator=(const CLaunchControlServer&) = delete;

    int GetState() override { return m_State.load(std::memory_order_acquire); }
    bool Init(LaunchRequestFunc startRequest, LaunchRequestFunc stopRequest, int reserved) override;
    const char* GetEndpointName() override { return m_EndpointName.c_str(); }
    const char* GetLastError() override { return m_LastError.c_str(); }
    void Poll() override;
    // A server that started during its own set-up (autostart) reports ready
    // after it already runs: the state stays what the start made it. A start
    // that began and ended without starting anything reports ready again.
    void OnSelfReady() override {
        const auto state = static_cast<ELaunchState>(m_State.load());
        Notice(state == lsInit || state == lsStarting ? lsReady : state, "OnSelfReady");
    }
    void OnStartBegin() override { Notice(lsStarting, "OnStartBegin"); }
    void OnStartDone() override { Notice(lsRunning, "OnStartDone"); }
    void OnStopBegin() override { Notice(lsStopping, "OnStopBegin"); }
    void OnStopDone() override { Notice(lsStopped, "OnStopDone"); }

private:
    struct Connection {
        explicit Connection(int descriptor);
        ~Connection();
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;

        int fd;
        CLaunchLineReader reader;
        bool busy = false;    // its requests are being answered (maybe in an outer Poll)
        bool closed = false;  // peer gone, stream bad or an answer could not be sent
    };

    void AcceptPending();
    bool IsOwnUser(int fd);
    // Reads what each idle connection has and drops the ones that ended.
    void ReadPending();
    // Answers every complete line of one connection, in order.
    void AnswerConnection(uint64_t id);
    std::string Answer(const std::string& request);
    std::string RunRequest(LaunchRequestFunc request);
    std::string StatusText() const;
    void Send(uint64_t id, const std::string& answer);
    void Notice(ELaunchState state, const char* name);

    int m_ListenFd = -1;
    std::string m_EndpointName;
    std::string m_LastError;
    LaunchRequestFunc m_StartRequest = nullptr;
    LaunchRequestFunc m_StopRequest = nullptr;
    bool m_RequestRunning = false;  // a start or stop callback is under way
    uint64_t m_NextId = 1;
    uint64_t m_Refused = 0;  // connections refused for their account, for the log text
    std::map<uint64_t, std::unique_ptr<Connection>> m_Connections;
    std::atomic<int> m_State{lsInit};
    const char* m_LastNotice = "none";  // window thread only
};
