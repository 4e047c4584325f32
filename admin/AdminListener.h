// AdminListener: the admin HTTP listener on 127.0.0.1 ("GET /healthz",
// "GET /metrics"). It owns the HTTP server and the one thread that accepts
// and answers, one request per connection, so a stop never waits for more
// than one slow client's time-out. Start and Stop run on the window thread;
// the pages are built on the listener's thread from the figures, which are
// not owned and outlive the listener.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

class RelayFigures;

namespace httplib {
class Server;
}

class AdminListener {
public:
    static constexpr const char* kHost = "127.0.0.1";
    // What one client may hold the listener for, per read and per write.
    static constexpr int kClientTimeoutSeconds = 1;

    explicit AdminListener(const RelayFigures& figures);
    ~AdminListener();
    AdminListener(const AdminListener&) = delete;
    AdminListener& operator=(const AdminListener&) = delete;

    // Binds 127.0.0.1:port and starts answering; logs "Admin listener on
    // 127.0.0.1:<port>", or an Error line and false when the port cannot be
    // bound.
    bool Start(int port);
    // Closes the listening socket and joins the thread; at most one
    // client's time-out while a request is being answered. Idempotent.
    void Stop();

private:
    void Run();

    const RelayFigures& m_Figures;
    std::unique_ptr<httplib::Server> m_Server;
    std::thread m_Thread;
    std::atomic<bool> m_Finished{false};  // set by the thread when the server's loop ended
};
