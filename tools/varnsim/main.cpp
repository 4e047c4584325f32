// varnsim: the peer simulator. `varnsim dataserver` plays the DataServer
// that the gateway connects to; `varnsim game|login|route` play servers that
// connect to the gateway (or, for benchmarks, straight to a dataserver sim).
// `varnsim garbage|stall|flood` misbehave (HostileRole.h). One event loop
// (Asio over epoll) runs the whole process on one thread.
// Exit codes: 0 ok, 2 bad arguments, 3 could not connect (or listen),
// 4 replies missing at the end.
#include <csignal>
#include <cstdio>

#include "tools/varnsim/DataServerRole.h"
#include "tools/varnsim/PeerRole.h"
#include "tools/varnsim/SimOptions.h"

namespace {

using namespace varnsim;

void PrintLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int RunDataServer(const DataServerOptions& options) {
    asio::io_context io(1);
    DataServerRole role(io, options);
    if (!role.Listen()) return kExitNoConnection;
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const std::error_code& error, int) {
        if (error) return;
        role.Stop();
        io.stop();
    });
    io.run();
    PrintLine(options.json ? FormatJson(role.Counters()) : FormatText(role.Counters()));
    return kExitOk;
}

int RunPeer(SimRole which, const PeerOptions& options) {
    asio::io_context io(1);
    PeerRole role(io, which, options);
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const std::error_code& error, int) {
        if (!error) role.Interrupt();
    });
    role.Start();
    if (!role.Finished()) io.run();
    const PeerSummary summary = role.Summary();
    PrintLine(options.json ? FormatJson(summary) : FormatText(summary));
    return role.ExitCode();
}

}  // namespace

int main(int argc, char** argv) {
    // Tests and scripts read the lines through pipes as they come.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
    SimCommand command;
    std::string output;
    const int parsed = ParseSimCommand(argc, argv, command, output);
    if (parsed >= 0) {
        std::fputs(output.c_str(), parsed == kExitOk ? stdout : stderr);
        return parsed;
    }
    if (command.role == SimRole::DataServer) return RunDataServer(command.dataServer);
    if (command.role == SimRole::Garbage || command.role == SimRole::Stall || command.role == SimRole::Flood) {
        HostileSummary summary;
        const int code = RunHostile(command.hostile, summary);
        if (code != kExitNoConnection) {
            PrintLine(command.hostile.json ? FormatJson(summary) : FormatText(summary));
        }
        return code;
    }
    return RunPeer(command.role, command.peer);
}
