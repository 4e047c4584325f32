#include "tools/varnstatus/ConsoleOptions.h"

#include <CLI/CLI.hpp>


#include "tools/CliParse.h"

namespace varnstatus {
namespace {

constexpr double kMaxSeconds = 86400;

// Turns the --exec texts into commands; an empty result means all parsed.
std::string ParseExecCommands(const std::vector<std::string>& texts, ConsoleOptions& options) {
    for (const auto& text : texts) {
        ConsoleCommand command;
        std::string error;
        if (!ConsoleCommand::Parse(text, command, error)) return "--exec \"" + text + "\": " + error;
        // A script that quits or asks for help has nothing to wait for.
        if (command.kind == CommandKind::Quit || command.kind == CommandKind::Help) {
            return "--exec \"" + text + "\": only base, GetErrorLog, ListLogFiles and cmd can be run";
        }
        options.commands.push_back(command);
    }
    return {};
}

}  // namespace

int ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& options, std::string& output) {
    CLI::App app{"varnstatus: the StatusServer end of the Varnholt gateway's status link", "varnstatus"};
    std::vector<std::string> execTexts;
    bool serveOnly = false;
    app.add_option("--port", options.port, "TCP port the gateway connects to (0: any free port)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("--bind", options.bind, "address to listen on")->capture_default_str();
    app.add_option("--timeout", options.timeout, "seconds to wait for a reply")
        ->check(CLI::Range(0.001, kMaxSeconds))
        ->capture_default_str();
    app.add_option("--login-timeout", options.loginTimeout, "with --exec: seconds to wait for the gateway's login")
        ->check(CLI::Range(0.001, kMaxSeconds))
        ->capture_default_str();
    app.add_option("--out", options.out, "file that GetErrorLog writes (default: the log's base name, here)");
    auto* serve = app.add_flag("--serve", serveOnly, "only show the link's events until SIGTERM or SIGINT");
    auto* exec = app.add_option("--exec", execTexts,
                                "run this command once the gateway has logged in, then exit (repeatable, in order)")
                     ->expected(1)
                     ->take_all();
    serve->excludes(exec);

    bool helpRequested = false;
    if (!tools::ParseCommandLine(app, argc, argv, output, helpRequested)) return helpRequested ? kExitOk : kExitBadOption;
    options.mode = serveOnly ? ConsoleMode::Serve
                   : execTexts.empty() ? ConsoleMode::Interactive
                                       : ConsoleMode::Exec;
    const std::string problem = ParseExecCommands(execTexts, options);
    if (!problem.empty()) {
        output = problem + "\n";
        return kExitBadOption;
    }
    return -1;
}

}  // namespace varnstatus
