// Building the collector's JSON lines. No I/O: the recorder passes in the
// fields and the time, and writes what comes back. Safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvalis {

struct EventFields {
    std::string_view appId;
    std::string_view sessionId;
    std::string_view productId;
    std::string_view zoneName;
    std::string_view operatorId;
    int eventId = 0;
    std::string_view content;
};

// A JSON string literal (quotes included) of 8-bit text: valid UTF-8 kept,
// control characters escaped, other high bytes as \u00XX.
std::string JsonString(std::string_view text);
// One line, '\n' included. stamp is the report's local time as written.
std::string EventLine(const std::string& stamp, const EventFields& fields);
// "2024-05-01T12:34:56.789+02:00" for a moment in milliseconds since 1970.
std::string LocalStamp(int64_t unixMs);
// "2024-05-01", the local date of the moment.
std::string LocalDate(int64_t unixMs);

}  // namespace orvalis
