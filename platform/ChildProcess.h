// Starting a companion program and waiting for its end. The child gets the
// caller's environment and current directory, standard input, output and
// error, and no other descriptor; it starts with no blocked signals and the
// default signal handling, whatever the server has set for itself. Failures
// carry the errno value, which messages show as the platform error code.
// One object per child; use it on one thread.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace plat {

class ChildProcess {
public:
    ChildProcess() = default;
    // A child that was started and never waited for keeps running; it is
    // not killed here.
    ~ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // arguments[0] is the name the program sees as its own; the program
    // file is taken as given, never searched for on PATH. False when the
    // program could not be started (Error() tells why).
    bool Start(const std::string& program, const std::vector<std::string>& arguments);
    // Waits without time-out. True when the exit code is known: the
    // program's exit status, or 128 + the signal that ended it.
    bool Wait();

    int ExitCode() const { return m_ExitCode; }
    int Error() const { return m_Error; }

private:
    pid_t m_Pid = -1;
    int m_ExitCode = -1;
    int m_Error = 0;
};

// Full path of the running executable ("" when the system does not tell).
std::string OwnExecutablePath();

}  // namespace plat
