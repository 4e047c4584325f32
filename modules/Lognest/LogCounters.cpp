#include "modules/Lognest/LogCounters.h"

#include "modules/Lognest/LocalTime.h"

namespace lognest {
namespace {
bool InRange(int level) { return level >= 0 && level < kLogLevelCount; }
}  // namespace

void LogCounters::Count(int level, bool toFile, LogTime time) {
    if (!InRange(level)) return;
    m_Levels[level].fetch_add(1, std::memory_order_relaxed);
    if (level == llError) {
        if (toFile) m_WrittenErrors.fetch_add(1, std::memory_order_relaxed);
        RememberTime(level, time);
    } else if (level == llFatal) {
        if (toFile) m_WrittenFatals.fetch_add(1, std::memory_order_relaxed);
        RememberTime(level, time);
    }
}

int LogCounters::Level(int level) const {
    return InRange(level) ? m_Levels[level].load(std::memory_order_relaxed) : 0;
}

int LogCounters::Written(int level) const {
    if (level == llError) return m_WrittenErrors.load(std::memory_order_relaxed);
    if (level == llFatal) return m_WrittenFatals.load(std::memory_order_relaxed);
    return 0;
}

int64_t LogCounters::Total() const {
    int64_t total = 0;
    for (const auto& count : m_Levels) total += count.load(std::memory_order_relaxed);
    return total;
}

std::string LogCounters::LastErrorTime() const {
    std::lock_guard lock(m_TimeMutex);
    return m_HasError ? FormatStamp(m_LastError) : std::string();
}

std::string LogCounters::LastFatalTime() const {
    std::lock_guard lock(m_TimeMutex);
    return m_HasFatal ? FormatStamp(m_LastFatal) : std::string();
}

void LogCounters::RememberTime(int level, LogTime time) {
    // Only the stamp is kept here; the text is made when someone asks, so
    // an error burst does not pay for formatting on every call. Two threads
    // may arrive here out of stamp order: the later stamp wins.
    std::lock_guard lock(m_TimeMutex);
    LogTime& last = (level == llError) ? m_LastError : m_LastFatal;
    bool& has = (level == llError) ? m_HasError : m_HasFatal;
    if (!has || time > last) last = time;
    has = true;
}

}  // namespace lognest
