#include "admin/AdminListener.h"

#include <pthread.h>
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <httplib.h>

#include "admin/AdminPages.h"
#include "admin/MetricsText.h"
#include "admin/RelayFigures.h"
#include "infra/Log.h"

namespace {

// Runs each connection's work on the accepting thread itself: the listener
// is one thread, and its few requests a second need no pool.
class InlineTaskQueue : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override {}
};

}  // namespace

AdminListener::AdminListener(const RelayFigures& figures) : m_Figures(figures) {}

AdminListener::~AdminListener() { Stop(); }

bool AdminListener::Start(int port) {
    m_Server = std::make_unique<httplib::Server>();
    httplib::Server& server = *m_Server;
    server.new_task_queue = [] { return new InlineTaskQueue(); };
    // SO_REUSEADDR, not the library's SO_REUSEPORT: a restart may bind past
    // the last run's closing connections, but a second gateway of the same
    // account must not share the port and take every other scrape.
    server.set_socket_options([](socket_t sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    server.set_keep_alive_max_count(1);
    server.set_keep_alive_timeout(kClientTimeoutSeconds);
    server.set_read_timeout(kClientTimeoutSeconds, 0);
    server.set_write_timeout(kClientTimeoutSeconds, 0);
    server.Get("/healthz", [this](const httplib::Request&, httplib::Response& response) {
        const HealthPage page = BuildHealthPage(m_Figures.Health());
        response.status = page.status;
        response.set_content(page.body, "text/plain; charset=utf-8");
    });
    server.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(BuildMetricsPage(m_Figures.Collect()), MetricsText::kContentType);
    });
    if (!server.bind_to_port(kHost, port)) {
        GetLog()->LogError("Admin listener cannot listen on %s:%d (port in use or not allowed); the relay runs without it",
                           kHost, port);
        m_Server.reset();
        return false;
    }
    m_Finished.store(false, std::memory_order_release);
    m_Thread = std::thread([this] { Run(); });
    GetLog()->LogRun("Admin listener on %s:%d", kHost, port);
    return true;
}

void AdminListener::Run() {
    pthread_setname_np(pthread_self(), "AdminListener");
    m_Server->listen_after_bind();
    m_Finished.store(true, std::memory_order_release);
}

void AdminListener::Stop() {
    if (!m_Thread.joinable()) return;
    // The server ignores a stop that comes before its loop has begun, and
    // must not be asked twice: wait for the loop (moments after Start).
    while (!m_Server->is_running() && !m_Finished.load(std::memory_order_acquire)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!m_Finished.load(std::memory_order_acquire)) m_Server->stop();
    m_Thread.join();
    m_Server.reset();
}
