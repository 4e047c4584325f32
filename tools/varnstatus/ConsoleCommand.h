// ConsoleCommand: one operator command, from a line typed at the console or
// given with --exec. Parsing is pure and checks everything that can be
// checked before anything is sent (name and parameter lengths), so a script
// with a bad command fails before the gateway is asked anything.
//
//   base                      ask for base information
//   GetErrorLog <file>        fetch a log file (the rest of the line is the name)
//   ListLogFiles              list the gateway's log files
//   cmd <Name> [param]        any common command; the rest of the line is the parameter
//   help, quit
#pragma once

#include <string>

namespace varnstatus {

enum class CommandKind { Base, GetErrorLog, ListLogFiles, Other, Help, Quit };

struct ConsoleCommand {
    CommandKind kind = CommandKind::Help;
    std::string name;   // the common command's name (GetErrorLog, ListLogFiles or cmd's <Name>)
    std::string param;  // its parameter (GetErrorLog: the file name)

    // False with the reason in `error` (empty lines included).
    static bool Parse(const std::string& line, ConsoleCommand& command, std::string& error);
    // The line that would parse back to this command.
    std::string Text() const;
};

// The list that `help` and bad lines show.
const char* ConsoleCommandHelp();

}  // namespace varnstatus
