#include "tools/varnstatus/ExecSession.h"

#include <chrono>
#include <cstdio>

namespace varnstatus {

ExecSession::ExecSession(asio::io_context& io, StatusConsole& console, CommandRunner& runner, ConsoleOutput& output,
                         const ConsoleOptions& options)
    : m_Io(io), m_LoginTimer(io), m_Console(console), m_Runner(runner), m_Output(output), m_Options(options) {}

void ExecSession::Start() {
    m_Console.SetOnLogin([this] { OnLogin(); });
    m_Runner.SetOnFinished([this](const ConsoleCommand& command, bool ok) { OnFinished(command, ok); });
    m_LoginTimer.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(m_Options.loginTimeout)));
    m_LoginTimer.async_wait([this](const std::error_code& error) {
        if (error || m_Started || m_Ended) return;
        char text[96];
        std::snprintf(text, sizeof(text), "no gateway logged in within %g s", m_Options.loginTimeout);
        m_Output.Error(text);
        End(kExitFailed);
    });
}

void ExecSession::Interrupt() {
    if (m_Ended) return;
    m_Output.Error("interrupted before the commands were done");
    End(kExitFailed);
}

void ExecSession::OnLogin() {
    // Only the first login starts the run: a link lost mid-run has already
    // failed the command in flight, and with it the run.
    if (m_Started || m_Ended) return;
    m_Started = true;
    m_LoginTimer.cancel();
    for (const auto& command : m_Options.commands) m_Runner.Enqueue(command);
}

void ExecSession::OnFinished(const ConsoleCommand&, bool ok) {
    if (m_Ended) return;
    if (!ok) {
        End(kExitFailed);
    } else if (m_Runner.Idle()) {
        End(kExitOk);
    }
}

void ExecSession::End(int exitCode) {
    m_Ended = true;
    m_ExitCode = exitCode;
    m_LoginTimer.cancel();
    m_Runner.Cancel();
    m_Console.Stop();
    m_Io.stop();
}

}  // namespace varnstatus
