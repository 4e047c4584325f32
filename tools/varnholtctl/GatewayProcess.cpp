#include "GatewayProcess.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace varnholtctl {

std::unique_ptr<GatewayProcess> GatewayProcess::Spawn(const std::string& path, const std::vector<std::string>& args,
                                                      std::string* error) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        *error = "cannot start " + path + ": " + std::strerror(rc);
        return nullptr;
    }
    return std::unique_ptr<GatewayProcess>(new GatewayProcess(pid));
}

bool GatewayProcess::HasExited() {
    if (m_Exited) return true;
    int status = 0;
    pid_t rc;
    do {
        rc = ::waitpid(m_Pid, &status, WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc != m_Pid) return false;
    m_Exited = true;
    if (WIFEXITED(status)) {
        m_HowItEnded = "exited with code " + std::to_string(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        m_HowItEnded = "was killed by signal " + std::to_string(WTERMSIG(status));
    } else {
        m_HowItEnded = "ended";
    }
    return true;
}

}  // namespace varnholtctl
