// One record on its way from a caller to the logging thread. Callers build it
// completely (text already formatted, stamp and thread id taken, file
// decision made under the mask of the moment) and hand it over by move; from
// then on only the logging thread touches it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace lognest {

using LogTime = std::chrono::system_clock::time_point;

enum class EntryKind : uint8_t {
    Text,          // a log entry: written (when toFile) and passed to the hook
    SetDirectory,  // text holds the new directory (Linux path with trailing '/')
    SetServerName, // text holds the new server name
    ReopenFiles,   // both files are closed; the next entry opens them anew
};

struct LogEntry {
    EntryKind kind = EntryKind::Text;
    bool toFile = true;  // the output mask let it into the files
    int level = 0;
    int threadId = 0;    // caller's OS thread id
    LogTime time{};      // caller's stamp; also picks the day file
    std::string text;
};

}  // namespace lognest
