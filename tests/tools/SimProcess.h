// SimProcess: runs the varnsim program as a child process for the black-box
// tests, with its standard output and error captured through pipes, lines
// waited for with a time-out, signals sent, and the exit code collected
// (a child still running at the end is killed). Test thread only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace simtest {

class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all{VARNSIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_Pid, VARNSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) m_Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_OutFd = out[0];
        m_ErrFd = err[0];
    }
    ~SimProcess() {
        if (m_Pid > 0 && m_ExitCode == kRunning) {
            ::kill(m_Pid, SIGKILL);
            Wait(std::chrono::seconds(5));
        }
        if (m_OutFd >= 0) ::close(m_OutFd);
        if (m_ErrFd >= 0) ::close(m_ErrFd);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Started() const { return m_Pid > 0; }

    // The first output line that begins with `prefix` and ends with
    // `suffix`, reading on until it comes or the time runs out.
    std::optional<std::string> WaitForLine(const std::string& prefix, const std::string& suffix = "",
                                           std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        size_t checked = 0;
        for (;;) {
            const auto lines = Lines();
            for (; checked < lines.size(); ++checked) {
                const std::string& line = lines[checked];
                if (line.rfind(prefix, 0) == 0 && line.size() >= suffix.size() &&
                    line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
                    return line;
                }
            }
            if (!Pump(deadline)) return std::nullopt;
        }
    }

    // The port named by the dataserver's "listening: <address>:<port>" line; 0 if none came.
    int ListeningPort() {
        const auto line = WaitForLine("listening: ");
        return line ? std::stoi(line->substr(line->rfind(':') + 1)) : 0;
    }

    void Signal(int signal) { ::kill(m_Pid, signal); }

    // Exit code, or -1 when the child did not end by itself within the time
    // (it is then killed) or ended by a signal. Reads all output on the way.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        if (m_ExitCode != kRunning) return m_ExitCode;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (Pump(deadline)) {
        }
        int status = 0;
        // The pipes close a moment before the child can be reaped.
        while (::waitpid(m_Pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(m_Pid, SIGKILL);
                ::waitpid(m_Pid, &status, 0);
                m_ExitCode = -1;
                return m_ExitCode;
            }
            ::usleep(2000);
        }
        m_ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_ExitCode;
    }

    // Complete lines of standard output so far.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = m_Out.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(m_Out.substr(start, end - start));
        }
        return lines;
    }
    std::string LastLine() const {
        const auto lines = Lines();
        return lines.empty() ? std::string() : lines.back();
    }
    const std::string& Out() const { return m_Out; }
    const std::string& Err() const { return m_Err; }

private:
    static constexpr int kRunning = -2;

    // Reads what is available until the deadline; false once both pipes are
    // closed or the time is up.
    bool Pump(std::chrono::steady_clock::time_point deadline) {
        if (m_OutFd < 0 && m_ErrFd < 0) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{m_OutFd, POLLIN, 0}, {m_ErrFd, POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) return false;
        ReadFrom(fds[0], m_OutFd, m_Out);
        ReadFrom(fds[1], m_ErrFd, m_Err);
        return true;
    }
    static void ReadFrom(const pollfd& entry, int& fd, std::string& into) {
        if (fd < 0 || (entry.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;
        char buffer[65536];
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
        } else {
            ::close(fd);
            fd = -1;
        }
    }

    pid_t m_Pid = -1;
    int m_OutFd = -1;
    int m_ErrFd = -1;
    int m_ExitCode = kRunning;
    std::string m_Out;
    std::string m_Err;
};

// The number under "key" in a flat JSON object line; -1 when absent.
inline double JsonNumber(const std::string& json, const std::string& key) {
    const std::string label = "\"" + key + "\":";
    const size_t at = json.find(label);
    if (at == std::string::npos) return -1;
    return std::strtod(json.c_str() + at + label.size(), nullptr);
}

}  // namespace simtest
