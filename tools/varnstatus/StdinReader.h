// StdinReader: feeds the lines typed at the console into the event loop.
// Standard input may be a terminal, a pipe or a plain file (which epoll
// refuses), so a small thread of its own reads it and posts each line to the
// io_context; the callbacks run on the event-loop thread. Lines longer than
// kMaxLine are cut there. Close() (and the destructor) ends the thread
// within one poll period, whatever the input does.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <asio.hpp>

namespace varnstatus {

class StdinReader {
public:
    using OnLine = std::function<void(const std::string& line)>;
    using OnEnd = std::function<void()>;

    static constexpr size_t kMaxLine = 4096;

    StdinReader(asio::io_context& io, int fd = 0);
    ~StdinReader();
    StdinReader(const StdinReader&) = delete;
    StdinReader& operator=(const StdinReader&) = delete;

    // Starts the thread; OnEnd comes once, after the last line.
    void Start(OnLine onLine, OnEnd onEnd);
    // No callback runs after this returns (event-loop thread).
    void Close();

private:
    struct Shared;

    static void ReadLoop(std::shared_ptr<Shared> shared, int fd);

    std::shared_ptr<Shared> m_Shared;
    int m_Fd;
    std::thread m_Thread;
};

}  // namespace varnstatus
