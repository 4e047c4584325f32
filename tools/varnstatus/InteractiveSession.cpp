#include "tools/varnstatus/InteractiveSession.h"

namespace varnstatus {

InteractiveSession::InteractiveSession(asio::io_context& io, StatusConsole& console, CommandRunner& runner,
                                       ConsoleOutput& output)
    : m_Io(io), m_Console(console), m_Runner(runner), m_Output(output), m_Input(io) {}

void InteractiveSession::Start() {
    m_Runner.SetOnFinished([this](const ConsoleCommand&, bool) {
        if (m_InputEnded && m_Runner.Idle()) End();
    });
    m_Output.Line("type a command (help lists them); the link's events show as they come");
    m_Input.Start([this](const std::string& line) { OnLine(line); }, [this] { OnEndOfInput(); });
}

void InteractiveSession::End() {
    m_Input.Close();
    m_Runner.Cancel();
    m_Console.Stop();
    m_Io.stop();
}

void InteractiveSession::OnLine(const std::string& line) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return;
    ConsoleCommand command;
    std::string error;
    if (!ConsoleCommand::Parse(line, command, error)) {
        m_Output.Error(error + " (help lists the commands)");
        return;
    }
    if (command.kind == CommandKind::Quit) {
        End();
    } else if (command.kind == CommandKind::Help) {
        std::string help = ConsoleCommandHelp();
        help.pop_back();  // Line ends it
        m_Output.Line(help);
    } else {
        m_Runner.Enqueue(command);
    }
}

void InteractiveSession::OnEndOfInput() {
    m_InputEnded = true;
    if (m_Runner.Idle()) End();
}

}  // namespace varnstatus
