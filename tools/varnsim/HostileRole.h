// The misbehaving peers: `varnsim garbage` sends what no framer can accept
// (or well-framed packets with random headers), `varnsim stall` connects and
// never reads, `varnsim flood` sends well-framed packets to the DataServer as
// fast as the socket takes them. They use plain blocking sockets on the
// calling thread (they only need to be rude, not fast at measuring), and
// report one summary line: what was sent and whether the gateway cut them.
#pragma once

#include <cstdint>
#include <string>

namespace varnsim {

enum class GarbageMode { Random, Magic, Oversize, Cut, Headers };
enum class HostileKind { Garbage, Stall, Flood };

struct HostileOptions {
    HostileKind kind = HostileKind::Garbage;
    std::string host = "127.0.0.1";
    int port = 0;
    GarbageMode mode = GarbageMode::Random;
    uint32_t connections = 1;   // one after another (garbage) or held at once (stall)
    uint64_t count = 0;         // garbage: bytes (random, magic) or frames (headers); 0: the mode's default
    uint32_t size = 4096;       // flood: payload bytes per packet
    double duration = 5;        // flood: seconds of sending; stall: seconds to hold (0: until a signal)
    double wait = 3;            // garbage: seconds to wait for the gateway's cut after sending
    int receiveBuffer = 0;      // stall: SO_RCVBUF before connecting (0: the system's)
    int srcType = 3;            // flood: SrcServerType (the kind it plays; 3 GameServer)
    int slot = 0;               // flood: its gateway slot, in Context's high 16 bits (where replies go)
    uint32_t seed = 1;
    bool json = false;
};

struct HostileSummary {
    std::string role;           // "garbage random", "stall", "flood"
    uint32_t connections = 0;   // connections made
    uint32_t cutByGateway = 0;  // connections the gateway ended (EOF or reset seen)
    uint64_t bytesSent = 0;
    uint64_t packetsSent = 0;   // flood, headers: whole frames
    double seconds = 0;
};

const char* GarbageModeName(GarbageMode mode);

// Runs the role until done (or SIGINT/SIGTERM for stall and flood);
// exit code 0, or 3 when no connection could be made.
int RunHostile(const HostileOptions& options, HostileSummary& summary);

std::string FormatText(const HostileSummary& summary);
std::string FormatJson(const HostileSummary& summary);

}  // namespace varnsim
