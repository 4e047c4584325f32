// LogRepeatLimiter: keeps a peer from filling the disk through the log. Each
// (source, kind) pair may write its first few lines as they are; further
// lines of that pair are only counted, and once an interval has passed since
// the first counted one a single summary line stands for them:
//   "<source>: <n> more <kind> lines in the last <s> s"
// The summary is handed out by the next Admit of the pair, or by TakeDue
// once the interval is over (the owner polls it), or by Flush when the
// source's connection ends. A pair stays known until it has been quiet for
// a whole interval, so a peer that reconnects after each bad line is still
// summarised. The table is bounded: quiet pairs are dropped, and when it is
// full new sources share one "other peers" entry.
// Not locked: one thread uses one limiter (the owner's). Time is the
// platform tick (plat::TestClock pins it in tests).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class LogRepeatLimiter {
public:
    static constexpr uint32_t kDefaultFirstLines = 5;
    static constexpr uint32_t kDefaultIntervalMs = 10000;
    static constexpr size_t kDefaultMaxEntries = 4096;
    // The source that stands for every peer once the table is full.
    static constexpr const char* kOverflowSource = "other peers";

    LogRepeatLimiter(uint32_t firstLines = kDefaultFirstLines, uint32_t intervalMs = kDefaultIntervalMs,
                     size_t maxEntries = kDefaultMaxEntries);
    LogRepeatLimiter(const LogRepeatLimiter&) = delete;
    LogRepeatLimiter& operator=(const LogRepeatLimiter&) = delete;

    struct Verdict {
        bool write = true;     // write the line itself
        std::string summary;   // when not empty: write this line first
    };
    // One line of `kind` from `source` is about to be written.
    Verdict Admit(const std::string& source, const std::string& kind);
    // Summary lines of pairs whose interval ended with counted lines.
    std::vector<std::string> TakeDue();
    // The source's connection ended: the summaries of its counted lines,
    // now. Its pairs stay known (see above).
    std::vector<std::string> Flush(const std::string& source);

    size_t Entries() const { return m_Entries.size(); }

    static std::string SummaryText(const std::string& source, const std::string& kind, uint64_t count,
                                   uint32_t seconds);

private:
    struct Entry {
        uint64_t written = 0;      // lines let through
        uint64_t counted = 0;      // lines held back since countStart
        uint32_t countStart = 0;   // tick of the first held-back line
        uint32_t lastSeen = 0;     // tick of the last line of the pair
    };
    using Key = std::pair<std::string, std::string>;

    std::string SummaryOf(const Key& key, Entry& entry, uint32_t now);
    void PruneQuiet(uint32_t now);
    Entry& EntryFor(const std::string& source, const std::string& kind, uint32_t now);

    const uint32_t m_FirstLines;
    const uint32_t m_IntervalMs;
    const size_t m_MaxEntries;
    std::map<Key, Entry> m_Entries;
};
