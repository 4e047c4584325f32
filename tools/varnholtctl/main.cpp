// varnholtctl: the loader for the gateway from a shell. "start" starts it the
// way the suite's loader does and waits for its start report, "close" asks a
// running gateway to close, "launch" talks to its launch controller,
// "status" shows what its admin listener reports.
// Exit codes: 0 done, 1 failed or refused (the reason on standard error),
// 2 bad command line. "status": 0 healthy, 1 unhealthy, 2 listener not
// reachable (or no port known).
#include <CLI/CLI.hpp>

#include <iostream>

#include "tools/varnholtctl/CloseCommand.h"
#include "tools/varnholtctl/LaunchCommand.h"
#include "tools/varnholtctl/StartCommand.h"
#include "tools/varnholtctl/StatusCommand.h"

namespace {

using namespace varnholtctl;

void AddStart(CLI::App& app, StartOptions& options) {
    auto* command = app.add_subcommand("start", "Start the gateway and wait until it reports that it runs");
    command->add_option("--exe", options.exe, "Gateway executable (default: VarnholtServerd beside varnholtctl)");
    command->add_option("--args", options.args,
                        "Command line instead of \"autostart <class> <name>\"; {class} and {name} stand for the "
                        "loader window's (write --args=-X for a value that starts with '-')");
    command->add_option("--timeout", options.timeoutSeconds, "Seconds to wait for the start report (default 60)")
        ->check(CLI::NonNegativeNumber);
}

void AddClose(CLI::App& app, CloseOptions& options) {
    auto* command = app.add_subcommand("close", "Ask a running gateway to close and wait for it");
    command->add_option("--class", options.className, "Gateway window class (default TfrmVarnholt)");
    command->add_option("--name", options.windowName, "Gateway window name (default VarnholtServer)");
    command->add_option("--loader-class", options.loaderClass,
                        "Class of the loader window the gateway was started with (default VarnholtLoader)");
    command->add_option("--loader-name", options.loaderName,
                        "Name of the loader window the gateway was started with; without it, wait until the "
                        "gateway's window is gone");
    command->add_option("--timeout", options.timeoutSeconds, "Seconds to wait (default 30)")
        ->check(CLI::NonNegativeNumber);
}

void AddLaunch(CLI::App& app, LaunchOptions& options) {
    auto* command = app.add_subcommand("launch", "Send start, stop or status to the gateway's launch controller");
    command->add_option("request", options.request, "start, stop or status")
        ->required()
        ->check(CLI::IsMember({"start", "stop", "status"}));
    command->add_option("--name", options.name,
                        "Launch instance name (default: $VARNHOLT_LAUNCH_NAME, else VarnholtServer)");
    command->add_option("--pid", options.pid, "Gateway pid, for a name with {pid} in it");
    command->add_option("--timeout", options.timeoutSeconds, "Seconds to wait for the answer (default 30)")
        ->check(CLI::NonNegativeNumber);
}

void AddStatus(CLI::App& app, StatusOptions& options) {
    auto* command = app.add_subcommand("status", "Show the health and figures of a running gateway's admin listener");
    command->add_option("--port", options.port, "Admin listener port (default: edtAdminPort of the settings file)")
        ->check(CLI::Range(1, 65535));
    command->add_option("--settings", options.settings,
                        "Settings file to read edtAdminPort from (default: Config/Config.ini below the data root)");
    command->add_option("--timeout", options.timeoutSeconds, "Seconds to wait for each answer (default 5)")
        ->check(CLI::PositiveNumber);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Start, close and steer the Varnholt gateway", "varnholtctl"};
    app.require_subcommand(1);
    StartOptions start;
    CloseOptions close;
    LaunchOptions launch;
    AddStart(app, start);
    AddClose(app, close);
    AddLaunch(app, launch);
    StatusOptions status;
    AddStatus(app, status);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (app.got_subcommand("start")) return StartCommand(start, std::cout, std::cerr).Run();
    if (app.got_subcommand("close")) return CloseCommand(close, std::cout, std::cerr).Run();
    if (app.got_subcommand("status")) return StatusCommand(status, std::cout, std::cerr).Run();
    return LaunchCommand(launch, std::cout, std::cerr).Run();
}
