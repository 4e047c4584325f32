#include "tools/varnsim/SimOptions.h"

#include <CLI/CLI.hpp>


#include "ShareDefine/PackHead.h"
#include "tools/varnsim/InFlightTable.h"
#include "tools/varnsim/SimPayload.h"
#include "tools/CliParse.h"

namespace varnsim {
namespace {

// Without an explicit window, paced sending may keep this many packets in flight.
constexpr uint32_t kPacedWindow = 8192;
constexpr uint32_t kMaxConnections = 1000;
constexpr uint32_t kMaxPayload = 16u << 20;

void AddDataServerOptions(CLI::App& app, DataServerOptions& options, std::string& rule) {
    app.add_option("--port", options.port, "TCP port to listen on (0: any free port)")
        ->required()
        ->check(CLI::Range(0, 65535));
    app.add_option("--bind", options.bind, "address to listen on")->capture_default_str();
    app.add_option("--rule", rule, "echo (answer to the sender), swap (same as echo) or sink (answer nothing)")
        ->check(CLI::IsMember({"echo", "swap", "sink"}))
        ->capture_default_str();
    app.add_flag("--quiet", options.quiet, "no line per connect and disconnect");
    app.add_flag("--print", options.print, "one line per received packet");
    app.add_flag("--json", options.json, "summary at exit as one JSON object");
}

struct PeerExtras {
    CLI::Option* count = nullptr;
    CLI::Option* window = nullptr;
};

PeerExtras AddPeerOptions(CLI::App& app, PeerOptions& options) {
    PeerExtras extras;
    app.add_option("--port", options.port, "gateway (or DataServer sim) port")->required()->check(CLI::Range(1, 65535));
    app.add_option("--host", options.host, "address to connect to")->capture_default_str();
    extras.count = app.add_option("--count", options.count,
                                  "packets per connection; 0 without --duration: only receive until a signal")
                       ->capture_default_str();
    app.add_option("--duration", options.duration, "seconds of sending (with --count, whichever ends first)")
        ->check(CLI::Range(0.0, 86400.0));
    app.add_option("--size", options.size, "payload bytes (at least 16 when replies are expected)")
        ->check(CLI::Range(0u, kMaxPayload))
        ->capture_default_str();
    extras.window = app.add_option("--window", options.window, "packets in flight per connection")
                        ->check(CLI::Range(1u, InFlightTable::kMaxCapacity))
                        ->capture_default_str();
    app.add_option("--rate", options.rate, "packets per second per connection (0: as fast as the window allows)")
        ->check(CLI::Range(0.0, 1e9));
    app.add_option("--dest-type", options.destType, "DestServerType")->check(CLI::Range(0, 255))->capture_default_str();
    app.add_option("--dest-index", options.destIndex, "header DestIndex")
        ->check(CLI::Range(-32768, 32767))
        ->capture_default_str();
    app.add_option("--pack-type", options.packType, "packType")->check(CLI::Range(0, 255))->capture_default_str();
    app.add_option("--slot", options.slot,
                   "gateway slot of the first connection, sent in the high 16 bits of Context "
                   "(connection i: slot + i)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--connections", options.connections, "connections, opened one after another")
        ->check(CLI::Range(1u, kMaxConnections))
        ->capture_default_str();
    app.add_option("--timeout", options.timeout, "seconds without progress before replies count as missing")
        ->check(CLI::Range(0.001, 86400.0))
        ->capture_default_str();
    app.add_flag("--no-reply", options.noReply, "expect no replies even to DataServer packets");
    app.add_flag("--print", options.print, "one line per received packet");
    app.add_flag("--json", options.json, "summary as one JSON object (the last line on stdout)");
    app.add_flag("--quiet", options.quiet, "no connect line");
    return extras;
}

// Derives what the options imply; an empty result means they fit together.
std::string FinishPeerOptions(SimRole role, const PeerExtras& extras, PeerOptions& options) {
    options.srcType = role == SimRole::Game    ? MMORPG::stGameServer
                      : role == SimRole::Login ? MMORPG::stLoginServer
                                               : MMORPG::stRouteServer;
    if (extras.count->count() == 0 && options.duration > 0) options.count = 0;
    if (extras.window->count() == 0 && options.rate > 0) options.window = kPacedWindow;
    options.passive = options.count == 0 && options.duration <= 0;
    options.expectReplies = !options.noReply && options.destType == MMORPG::stDataServer &&
                            options.packType != MMORPG::atBroadcast && options.packType != MMORPG::atKeepAlive;
    if (options.slot + static_cast<int>(options.connections) - 1 > 65535) {
        return "--slot + --connections - 1 must stay below 65536 (the slot travels in 16 bits of Context)";
    }
    if (!options.passive && options.expectReplies && options.size < kStampBytes) {
        return "--size must be at least 16 when replies are expected (the payload carries the sequence "
               "number and send time); use --no-reply for shorter payloads";
    }
    return {};
}

}  // namespace

const char* RoleName(SimRole role) {
    switch (role) {
        case SimRole::DataServer: return "dataserver";
        case SimRole::Game: return "game";
        case SimRole::Login: return "login";
        case SimRole::Route: return "route";
    }
    return "?";
}

int ParseSimCommand(int argc, const char* const* argv, SimCommand& command, std::string& output) {
    CLI::App app{"varnsim: peer simulator for the Varnholt gateway", "varnsim"};
    app.require_subcommand(1);
    std::string rule = "echo";
    CLI::App* dataServer = app.add_subcommand("dataserver", "the DataServer end of the gateway's outbound link");
    AddDataServerOptions(*dataServer, command.dataServer, rule);

    struct PeerRoleEntry {
        SimRole role;
        CLI::App* app;
        PeerExtras extras;
    };
    PeerRoleEntry peers[] = {
        {SimRole::Game, app.add_subcommand("game", "a GameServer (connects to the GameServer port)"), {}},
        {SimRole::Login, app.add_subcommand("login", "a LoginServer (connects to the LoginServer port)"), {}},
        {SimRole::Route, app.add_subcommand("route", "a RouteServer (connects to the RouteServer port)"), {}},
    };
    // Each peer role parses into its own copy; the chosen one is kept.
    PeerOptions peerOptions[3];
    for (int i = 0; i < 3; ++i) peers[i].extras = AddPeerOptions(*peers[i].app, peerOptions[i]);

    bool helpRequested = false;
    if (!tools::ParseCommandLine(app, argc, argv, output, helpRequested)) return helpRequested ? kExitOk : kExitBadArguments;

    if (dataServer->parsed()) {
        command.role = SimRole::DataServer;
        command.dataServer.rule = rule == "sink" ? AnswerRule::Sink : AnswerRule::Echo;
        return -1;
    }
    for (int i = 0; i < 3; ++i) {
        if (!peers[i].app->parsed()) continue;
        command.role = peers[i].role;
        command.peer = peerOptions[i];
        const std::string problem = FinishPeerOptions(command.role, peers[i].extras, command.peer);
        if (!problem.empty()) {
            output = problem + "\n";
            return kExitBadArguments;
        }
        return -1;
    }
    output = "no role given\n";
    return kExitBadArguments;
}

}  // namespace varnsim
