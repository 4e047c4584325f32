// Entry counts of the log object, kept on the callers' threads so a count is
// right as soon as the logging call returns. Every entry counts at its level
// whatever the mask; the "written" counts of Error and Fatal only count the
// entries the output mask let into the files. Also remembers the stamp texts
// of the last Error and the last Fatal entry. All operations are safe on any
// thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "modules/Lognest/LogEntry.h"
#include "modules/Lognest/LogService.h"

namespace lognest {

class LogCounters {
public:
    void Count(int level, bool toFile, LogTime time);

    // 0 for a level outside 0..8.
    int Level(int level) const;
    int Written(int level) const;  // only Error and Fatal are kept; 0 for others
    int64_t Total() const;
    // "YYYY-MM-DD HH:MM:SS.mmm" of the last Error / Fatal entry, "" when none.
    std::string LastErrorTime() const;
    std::string LastFatalTime() const;

private:
    void RememberTime(int level, LogTime time);

    std::array<std::atomic<int>, kLogLevelCount> m_Levels{};
    std::atomic<int> m_WrittenErrors{0};
    std::atomic<int> m_WrittenFatals{0};

    mutable std::mutex m_TimeMutex;
    LogTime m_LastError{};  // guarded by m_TimeMutex
    LogTime m_LastFatal{};  // guarded by m_TimeMutex
    bool m_HasError = false;  // guarded by m_TimeMutex
    bool m_HasFatal = false;  // guarded by m_TimeMutex
};

}  // namespace lognest
