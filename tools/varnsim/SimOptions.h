// The simulator's command line: which role to play and its settings, parsed
// with CLI11 and checked as a whole (ranges, and combinations such as a
// payload too short to carry the reply stamp). Pure: no I/O besides the texts
// it returns, so tests can drive it with argument lists.
#pragma once

#include <cstdint>
#include <string>

#include "tools/varnsim/HostileRole.h"

namespace varnsim {

// Garbage, Stall and Flood are the misbehaving peers (HostileRole.h).
enum class SimRole { DataServer, Game, Login, Route, Garbage, Stall, Flood };

// What the DataServer sim does with a packet that asks for an answer.
enum class AnswerRule { Echo, Sink };

struct DataServerOptions {
    std::string bind = "127.0.0.1";
    int port = 0;  // 0: any free port (the listening line names it)
    AnswerRule rule = AnswerRule::Echo;
    bool quiet = false;  // no connect/disconnect lines
    bool print = false;  // one line per received packet
    bool json = false;
};

struct PeerOptions {
    std::string host = "127.0.0.1";
    int port = 0;
    uint64_t count = 1000;   // per connection; 0 with a duration: no limit
    double duration = 0;     // seconds of sending; 0: none
    uint32_t size = 64;      // payload bytes
    uint32_t window = 1;     // packets in flight per connection
    double rate = 0;         // packets per second per connection; 0: as fast as the window allows
    int destType = 1;
    int destIndex = 0;
    int packType = 1;
    int slot = 0;            // the gateway slot of the first connection (high 16 bits of Context)
    uint32_t connections = 1;
    double timeout = 10;     // seconds without progress before replies count as missing
    bool noReply = false;
    bool print = false;
    bool json = false;
    bool quiet = false;

    // Derived by ParseSimCommand.
    uint8_t srcType = 0;         // the role's own server type
    bool expectReplies = false;  // to DataServer, not a broadcast or keep-alive, no --no-reply
    bool passive = false;        // --count 0 without a duration: only receive
};

struct SimCommand {
    SimRole role = SimRole::DataServer;
    DataServerOptions dataServer;
    PeerOptions peer;
    HostileOptions hostile;
};

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitNoConnection = 3;
inline constexpr int kExitRepliesMissing = 4;

// Fills `command` from the arguments. Returns -1 when the role should run,
// otherwise the exit code (0 after --help, kExitBadArguments after an
// error) with the text to print in `output` (help text or error message).
int ParseSimCommand(int argc, const char* const* argv, SimCommand& command, std::string& output);

const char* RoleName(SimRole role);

}  // namespace varnsim
