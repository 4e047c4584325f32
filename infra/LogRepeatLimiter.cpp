#include "infra/LogRepeatLimiter.h"

#include <cstdio>

#include "platform/Tick.h"

LogRepeatLimiter::LogRepeatLimiter(uint32_t firstLines, uint32_t intervalMs, size_t maxEntries)
    : m_FirstLines(firstLines), m_IntervalMs(intervalMs > 0 ? intervalMs : 1), m_MaxEntries(maxEntries > 0 ? maxEntries : 1) {}

std::string LogRepeatLimiter::SummaryText(const std::string& source, const std::string& kind, uint64_t count,
                                          uint32_t seconds) {
    char text[512];
    std::snprintf(text, sizeof(text), "%s: %llu more %s lines in the last %u s", source.c_str(),
                  static_cast<unsigned long long>(count), kind.c_str(), seconds);
    return text;
}

std::string LogRepeatLimiter::SummaryOf(const Key& key, Entry& entry, uint32_t now) {
    if (entry.counted == 0) return {};
    // Rounded up: a summary never claims a shorter time than it covers.
    const uint32_t seconds = (now - entry.countStart + 999) / 1000;
    std::string text = SummaryText(key.first, key.second, entry.counted, seconds);
    entry.counted = 0;
    return text;
}

void LogRepeatLimiter::PruneQuiet(uint32_t now) {
    for (auto it = m_Entries.begin(); it != m_Entries.end();) {
        // Only pairs with nothing left to report go; their summary was given.
        if (it->second.counted == 0 && now - it->second.lastSeen >= m_IntervalMs) {
            it = m_Entries.erase(it);
        } else {
            ++it;
        }
    }
}

LogRepeatLimiter::Entry& LogRepeatLimiter::EntryFor(const std::string& source, const std::string& kind,
                                                    uint32_t now) {
    Key key{source, kind};
    auto found = m_Entries.find(key);
    if (found != m_Entries.end()) return found->second;
    // The last place is kept for the shared entry.
    const size_t room = m_MaxEntries > 1 ? m_MaxEntries - 1 : 1;
    if (m_Entries.size() >= room) PruneQuiet(now);
    // Many sources at once (a spread-out attack): beyond the bound they are
    // counted together, so the table cannot grow with the number of peers.
    if (m_Entries.size() >= room) key.first = kOverflowSource;
    return m_Entries[key];
}

LogRepeatLimiter::Verdict LogRepeatLimiter::Admit(const std::string& source, const std::string& kind) {
    const uint32_t now = plat::GetTickMs();
    Entry& entry = EntryFor(source, kind, now);
    entry.lastSeen = now;
    Verdict verdict;
    if (entry.written < m_FirstLines) {
        ++entry.written;
        return verdict;
    }
    verdict.write = false;
    if (entry.counted > 0 && now - entry.countStart >= m_IntervalMs) {
        const auto it = m_Entries.find(Key{source, kind});
        const Key& key = it != m_Entries.end() ? it->first : Key{kOverflowSource, kind};
        verdict.summary = SummaryOf(key, entry, now);
    }
    if (entry.counted == 0) entry.countStart = now;
    ++entry.counted;
    return verdict;
}

std::vector<std::string> LogRepeatLimiter::TakeDue() {
    const uint32_t now = plat::GetTickMs();
    std::vector<std::string> due;
    for (auto& [key, entry] : m_Entries) {
        if (entry.counted > 0 && now - entry.countStart >= m_IntervalMs) due.push_back(SummaryOf(key, entry, now));
    }
    if (m_Entries.size() >= m_MaxEntries / 2) PruneQuiet(now);
    return due;
}

std::vector<std::string> LogRepeatLimiter::Flush(const std::string& source) {
    const uint32_t now = plat::GetTickMs();
    std::vector<std::string> lines;
    for (auto it = m_Entries.lower_bound(Key{source, std::string()}); it != m_Entries.end() && it->first.first == source;
         ++it) {
        std::string text = SummaryOf(it->first, it->second, now);
        if (!text.empty()) lines.push_back(std::move(text));
    }
    return lines;
}
