// Helpers for tests that need a second process: fork a child that runs a
// function and reports through its exit code, and a pipe to pass small
// signals and values between the two. The child never returns into gtest.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace testsupport {

// Runs body() in a forked child and ends it with body's result as exit code.
template <typename Body>
pid_t ForkChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
            code = 98;
        }
        ::_exit(code);
    }
    return pid;
}

// The child's exit code, or 128 + signal when a signal ended it.
inline int WaitChild(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// One-way channel of 32-bit values between parent and child.
class Pipe {
public:
    Pipe() {
        if (::pipe(m_Fds) != 0) m_Fds[0] = m_Fds[1] = -1;
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool Write(uint32_t value) { return ::write(m_Fds[1], &value, sizeof(value)) == sizeof(value); }
    // False when the writing side closed (or failed) before a value came.
    bool Read(uint32_t* value) {
        size_t got = 0;
        auto* bytes = reinterpret_cast<char*>(value);
        while (got < sizeof(*value)) {
            const ssize_t n = ::read(m_Fds[0], bytes + got, sizeof(*value) - got);
            if (n <= 0) return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }
    void CloseRead() { Close(m_Fds[0]); }
    void CloseWrite() { Close(m_Fds[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int m_Fds[2];
};

// A name no other test run on this host uses at the same time.
inline std::string UniqueName(const std::string& stem) {
    static int counter = 0;
    return stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

}  // namespace testsupport
