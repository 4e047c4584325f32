// The console's command line, parsed with CLI11 and checked as a whole,
// --exec commands included, so that a bad script line is a bad option (exit
// 2) and not a failure halfway through a run. Pure: no I/O besides the text
// it returns, so tests can drive it with argument lists.
#pragma once

#include <string>
#include <vector>

#include "tools/varnstatus/ConsoleCommand.h"

namespace varnstatus {

enum class ConsoleMode {
    Interactive,  // commands from standard input while the link's events show
    Serve,        // only the link's events, until SIGTERM or SIGINT
    Exec,         // wait for the login, run the --exec commands, exit
};

struct ConsoleOptions {
    std::string bind = "127.0.0.1";
    int port = 21888;            // 0: any free port (the "listening:" line names it)
    double timeout = 10;         // seconds to wait for a reply
    double loginTimeout = 30;    // --exec: seconds to wait for the gateway's login
    std::string out;             // GetErrorLog's file; empty: the name's base name here
    ConsoleMode mode = ConsoleMode::Interactive;
    std::vector<ConsoleCommand> commands;  // --exec, in order
};

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitBadOption = 2;
// A time-out, a failed command, or no port to listen on.
inline constexpr int kExitFailed = 3;

// Fills `options` from the arguments. Returns -1 when the console should
// run, otherwise the exit code (0 after --help, kExitBadOption after an
// error) with the text to print in `output`.
int ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& options, std::string& output);

}  // namespace varnstatus
