#include "tools/varnstatus/StdinReader.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace varnstatus {

// What the reading thread and the event loop share. The callbacks are only
// touched on the event-loop thread; `closed` is what the thread checks.
struct StdinReader::Shared {
    explicit Shared(asio::io_context& context) : io(context) {}
    asio::io_context& io;
    std::atomic<bool> closed{false};
    OnLine onLine;
    OnEnd onEnd;
};

namespace {

// Poll period: how long Close() may wait for the thread.
constexpr int kPollMs = 100;

}  // namespace

StdinReader::StdinReader(asio::io_context& io, int fd) : m_Shared(std::make_shared<Shared>(io)), m_Fd(fd) {}

StdinReader::~StdinReader() { Close(); }

void StdinReader::Start(OnLine onLine, OnEnd onEnd) {
    m_Shared->onLine = std::move(onLine);
    m_Shared->onEnd = std::move(onEnd);
    m_Thread = std::thread(&StdinReader::ReadLoop, m_Shared, m_Fd);
}

void StdinReader::Close() {
    m_Shared->closed = true;
    if (m_Thread.joinable()) m_Thread.join();
}

void StdinReader::ReadLoop(std::shared_ptr<Shared> shared, int fd) {
    auto post = [&shared](std::function<void(Shared&)> deliver) {
        // A handler posted just before Close() must not run a callback after it.
        asio::post(shared->io, [shared, deliver = std::move(deliver)] {
            if (!shared->closed) deliver(*shared);
        });
    };
    std::string line;
    char buffer[4096];
    while (!shared->closed) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, kPollMs);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) break;
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] != '\n') {
                if (line.size() < kMaxLine) line.push_back(buffer[i]);
                continue;
            }
            post([text = line](Shared& s) { s.onLine(text); });
            line.clear();
        }
    }
    if (shared->closed) return;
    if (!line.empty()) post([text = line](Shared& s) { s.onLine(text); });
    post([](Shared& s) { s.onEnd(); });
}

}  // namespace varnstatus
