// A gateway process started by the loader: spawned in a session of its own,
// so that it outlives the loader and a Ctrl-C at the loader's terminal, and
// watched for an early end. The loader's main thread owns it; the process is
// left running when the object goes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace varnholtctl {

class GatewayProcess {
public:
    // Starts path with the arguments (argv[0] is the path); nullptr with
    // *error set when it cannot be started.
    static std::unique_ptr<GatewayProcess> Spawn(const std::string& path, const std::vector<std::string>& args,
                                                 std::string* error);

    pid_t Pid() const { return m_Pid; }
    // Whether it has ended; collects it the first time and keeps how.
    bool HasExited();
    // "exited with code N" or "was killed by signal N"; empty while running.
    const std::string& HowItEnded() const { return m_HowItEnded; }

private:
    explicit GatewayProcess(pid_t pid) : m_Pid(pid) {}

    pid_t m_Pid;
    bool m_Exited = false;
    std::string m_HowItEnded;
};

}  // namespace varnholtctl
