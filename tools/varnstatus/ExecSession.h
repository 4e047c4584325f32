// ExecSession: the --exec run. It waits for the gateway's login (bounded by
// --login-timeout), then runs the commands in order; the first command that
// fails ends the run, since later ones usually depend on it (and a dead link
// would make each of them wait out its time-out). When the run ends it stops
// the event loop and ExitCode() tells how it went. Event-loop thread only.
#pragma once

#include <asio.hpp>

#include "tools/varnstatus/CommandRunner.h"
#include "tools/varnstatus/ConsoleOptions.h"
#include "tools/varnstatus/StatusConsole.h"

namespace varnstatus {

class ExecSession {
public:
    ExecSession(asio::io_context& io, StatusConsole& console, CommandRunner& runner, ConsoleOutput& output,
                const ConsoleOptions& options);
    ExecSession(const ExecSession&) = delete;
    ExecSession& operator=(const ExecSession&) = delete;

    // Arms the login wait; call once, before the event loop runs.
    void Start();
    // SIGINT or SIGTERM: the commands did not all run.
    void Interrupt();
    int ExitCode() const { return m_ExitCode; }

private:
    void OnLogin();
    void OnFinished(const ConsoleCommand& command, bool ok);
    void End(int exitCode);

    asio::io_context& m_Io;
    asio::steady_timer m_LoginTimer;
    StatusConsole& m_Console;
    CommandRunner& m_Runner;
    ConsoleOutput& m_Output;
    const ConsoleOptions& m_Options;
    bool m_Started = false;  // the commands were handed to the runner
    bool m_Ended = false;
    int m_ExitCode = kExitFailed;
};

}  // namespace varnstatus
