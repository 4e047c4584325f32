// varnstatus: the status console, the StatusServer end of the gateway's
// status link. It listens (the gateway connects to it), shows the link's
// events, and asks the gateway for base information, log files and any
// common command: typed at standard input (default), from --exec for
// scripts, or not at all with --serve. One event loop runs the process;
// only standard input has a small thread of its own.
// Exit codes: 0 ok, 2 bad option, 3 time-out, failed command or no port.
#include <csignal>
#include <cstdio>

#include "tools/varnstatus/CommandRunner.h"
#include "tools/varnstatus/ConsoleOptions.h"
#include "tools/varnstatus/ExecSession.h"
#include "tools/varnstatus/InteractiveSession.h"
#include "tools/varnstatus/StatusConsole.h"

namespace {

using namespace varnstatus;

int Run(const ConsoleOptions& options) {
    asio::io_context io(1);
    ConsoleOutput output(stdout, stderr);
    StatusConsole console(io, options.bind, options.port, output);
    CommandRunner runner(io, console, output, RunnerSettings{options.timeout, options.out});
    console.SetObserver(&runner);
    if (!console.Listen()) return kExitFailed;

    asio::signal_set signals(io, SIGINT, SIGTERM);
    ExecSession exec(io, console, runner, output, options);
    InteractiveSession interactive(io, console, runner, output);
    signals.async_wait([&](const std::error_code& error, int) {
        if (error) return;
        if (options.mode == ConsoleMode::Exec) {
            exec.Interrupt();
        } else if (options.mode == ConsoleMode::Interactive) {
            interactive.End();
        } else {
            console.Stop();
            io.stop();
        }
    });
    if (options.mode == ConsoleMode::Exec) exec.Start();
    if (options.mode == ConsoleMode::Interactive) interactive.Start();
    io.run();
    return options.mode == ConsoleMode::Exec ? exec.ExitCode() : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    // Scripts and tests read the lines through pipes as they come.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
    ConsoleOptions options;
    std::string text;
    const int parsed = ParseConsoleOptions(argc, argv, options, text);
    if (parsed >= 0) {
        std::fputs(text.c_str(), parsed == kExitOk ? stdout : stderr);
        return parsed;
    }
    return Run(options);
}
