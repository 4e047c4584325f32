// Local-time helpers shared by the counters and the day files: the stamp text
// of an entry and the local calendar day an entry belongs to. Pure functions,
// safe on any thread.
#pragma once

#include <string>

#include "modules/Lognest/LogEntry.h"

namespace lognest {

// "YYYY-MM-DD HH:MM:SS.mmm" in local time.
std::string FormatStamp(LogTime time);

// The local day that contains a moment: [start, end) and its "YYYY-MM-DD"
// text. Days of 23 or 25 hours (clock changes) come out right.
struct LocalDay {
    LogTime start{};
    LogTime end{};
    std::string date;

    bool Contains(LogTime time) const { return time >= start && time < end; }
};
LocalDay LocalDayOf(LogTime time);

}  // namespace lognest
