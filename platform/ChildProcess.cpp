#include "platform/ChildProcess.h"

#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace plat {
namespace {

// Owns the two attribute objects of one posix_spawn call.
class SpawnSettings {
public:
    SpawnSettings() {
        posix_spawn_file_actions_init(&m_Actions);
        posix_spawnattr_init(&m_Attributes);
        // The server's own descriptors (sockets, log files, the signal
        // descriptor) are none of the tool's business.
        posix_spawn_file_actions_addclosefrom_np(&m_Actions, STDERR_FILENO + 1);
        // The daemon blocks its close signals and ignores SIGPIPE; both would
        // be inherited through exec and leave the tool deaf to them.
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&m_Attributes, &none);
        sigset_t reset;
        sigemptyset(&reset);
        sigaddset(&reset, SIGPIPE);
        sigaddset(&reset, SIGTERM);
        sigaddset(&reset, SIGINT);
        posix_spawnattr_setsigdefault(&m_Attributes, &reset);
        posix_spawnattr_setflags(&m_Attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSettings() {
        posix_spawnattr_destroy(&m_Attributes);
        posix_spawn_file_actions_destroy(&m_Actions);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    const posix_spawn_file_actions_t* Actions() const { return &m_Actions; }
    const posix_spawnattr_t* Attributes() const { return &m_Attributes; }

private:
    posix_spawn_file_actions_t m_Actions;
    posix_spawnattr_t m_Attributes;
};

}  // namespace

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    if (arguments.empty()) argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    const SpawnSettings settings;
    pid_t pid = -1;
    // glibc reports a failed exec here, not as a child that exits with 127.
    const int result = ::posix_spawn(&pid, program.c_str(), settings.Actions(), settings.Attributes(), argv.data(), environ);
    if (result != 0) {
        m_Error = result;
        return false;
    }
    m_Pid = pid;
    m_Error = 0;
    return true;
}

bool ChildProcess::Wait() {
    if (m_Pid <= 0) {
        m_Error = ECHILD;
        return false;
    }
    int status = 0;
    pid_t got = -1;
    do {
        got = ::waitpid(m_Pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    if (got != m_Pid) {
        m_Error = errno;
        return false;
    }
    m_Pid = -1;
    if (WIFEXITED(status)) {
        m_ExitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        m_ExitCode = 128 + WTERMSIG(status);
    }
    return true;
}

std::string OwnExecutablePath() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return "";
    return std::string(path, static_cast<size_t>(length));
}

}  // namespace plat
