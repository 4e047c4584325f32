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

void AddHostileOptions(CLI::App& app, HostileOptions& options) {
    app.add_option("--port", options.port, "gateway port of the kind to play (GameServer, LoginServer, RouteServer)")
        ->required()
        ->check(CLI::Range(1, 65535));
    app.add_option("--host", options.host, "address to connect to")->capture_default_str();
    app.add_option("--connections", options.connections, "connections (garbage: one after another; stall: held at once)")
        ->check(CLI::Range(1u, kMaxConnections))
        ->capture_default_str();
    app.add_flag("--json", options.json, "summary as one JSON object");
}

struct HostileApps {
    CLI::App* garbage = nullptr;
    CLI::App* stall = nullptr;
    CLI::App* flood = nullptr;
};

HostileApps AddHostileRoles(CLI::App& app, HostileOptions options[3], std::string& mode) {
    HostileApps apps;
    apps.garbage = app.add_subcommand("garbage", "a peer that sends what the gateway cannot accept");
    AddHostileOptions(*apps.garbage, options[0]);
    apps.garbage
        ->add_option("--mode", mode,
                     "random (random bytes), magic (CC FF instead of FF CC), oversize (a length of 100 MiB + 1), "
                     "cut (a frame cut off by our close), headers (well-framed frames with random headers)")
        ->check(CLI::IsMember({"random", "magic", "oversize", "cut", "headers"}))
        ->capture_default_str();
    apps.garbage->add_option("--count", options[0].count,
                             "random: bytes per connection (64 KiB); headers: frames per connection (10000)");
    apps.garbage->add_option("--wait", options[0].wait, "seconds to wait for the gateway's cut after sending")
        ->check(CLI::Range(0.0, 3600.0))
        ->capture_default_str();
    apps.garbage->add_option("--seed", options[0].seed, "random seed")->capture_default_str();

    apps.stall = app.add_subcommand("stall", "a peer that connects and never reads");
    AddHostileOptions(*apps.stall, options[1]);
    apps.stall->add_option("--hold", options[1].duration, "seconds to hold the connections (0: until a signal)")
        ->check(CLI::Range(0.0, 86400.0))
        ->capture_default_str();
    apps.stall->add_option("--rcvbuf", options[1].receiveBuffer, "SO_RCVBUF before connecting (0: the system's)")
        ->check(CLI::Range(0, 1 << 30));

    apps.flood = app.add_subcommand("flood", "a peer that sends packets to the DataServer as fast as it can");
    AddHostileOptions(*apps.flood, options[2]);
    apps.flood->add_option("--size", options[2].size, "payload bytes per packet")
        ->check(CLI::Range(0u, 65536u))
        ->capture_default_str();
    apps.flood->add_option("--duration", options[2].duration, "seconds of sending")
        ->check(CLI::Range(0.001, 86400.0))
        ->capture_default_str();
    apps.flood->add_option("--src-type", options[2].srcType, "SrcServerType: the kind it plays (3 game, 4 login, 5 route)")
        ->check(CLI::Range(1, 13))
        ->capture_default_str();
    apps.flood->add_option("--slot", options[2].slot, "its gateway slot, sent in Context's high 16 bits")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    return apps;
}

GarbageMode GarbageModeOf(const std::string& mode) {
    if (mode == "magic") return GarbageMode::Magic;
    if (mode == "oversize") return GarbageMode::Oversize;
    if (mode == "cut") return GarbageMode::Cut;
    if (mode == "headers") return GarbageMode::Headers;
    return GarbageMode::Random;
}

}  // namespace

const char* RoleName(SimRole role) {
    switch (role) {
        case SimRole::DataServer: return "dataserver";
        case SimRole::Game: return "game";
        case SimRole::Login: return "login";
        case SimRole::Route: return "route";
        case SimRole::Garbage: return "garbage";
        case SimRole::Stall: return "stall";
        case SimRole::Flood: return "flood";
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

    HostileOptions hostileOptions[3];
    std::string garbageMode = "random";
    const HostileApps hostile = AddHostileRoles(app, hostileOptions, garbageMode);

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
    const struct {
        CLI::App* app;
        SimRole role;
        HostileKind kind;
        int index;
    } hostileRoles[] = {{hostile.garbage, SimRole::Garbage, HostileKind::Garbage, 0},
                        {hostile.stall, SimRole::Stall, HostileKind::Stall, 1},
                        {hostile.flood, SimRole::Flood, HostileKind::Flood, 2}};
    for (const auto& entry : hostileRoles) {
        if (!entry.app->parsed()) continue;
        command.role = entry.role;
        command.hostile = hostileOptions[entry.index];
        command.hostile.kind = entry.kind;
        command.hostile.mode = GarbageModeOf(garbageMode);
        return -1;
    }
    output = "no role given\n";
    return kExitBadArguments;
}

}  // namespace varnsim
