// InteractiveSession: the default mode. Commands come from standard input,
// one a line, while the link's events keep showing; a failed command is
// reported and the console goes on. "quit", SIGINT/SIGTERM or the end of the
// input (once the commands given so far are done) stop the event loop.
// Event-loop thread only.
#pragma once

#include <asio.hpp>

#include "tools/varnstatus/CommandRunner.h"
#include "tools/varnstatus/StatusConsole.h"
#include "tools/varnstatus/StdinReader.h"

namespace varnstatus {

class InteractiveSession {
public:
    InteractiveSession(asio::io_context& io, StatusConsole& console, CommandRunner& runner, ConsoleOutput& output);
    InteractiveSession(const InteractiveSession&) = delete;
    InteractiveSession& operator=(const InteractiveSession&) = delete;

    void Start();
    void End();

private:
    void OnLine(const std::string& line);
    void OnEndOfInput();

    asio::io_context& m_Io;
    StatusConsole& m_Console;
    CommandRunner& m_Runner;
    ConsoleOutput& m_Output;
    StdinReader m_Input;
    bool m_InputEnded = false;
};

}  // namespace varnstatus
