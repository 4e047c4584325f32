// One family of day files, "<ServerName>_<YYYY-MM-DD>.log" or, with the infix
// "Warn", "<ServerName>_Warn_<YYYY-MM-DD>.log", in the log directory. Each
// entry goes to the file of the local day of its own stamp, whenever it is
// written, so an entry made at 23:59:59.999 lands in that day's file. Lines
// are "YYYY-MM-DD HH:MM:SS.mmm [<level name>] [<thread id>] <text>".
//
// Not thread-safe: the logging thread owns it (or, once that thread has
// ended, whoever holds the writer's lock). The file itself is written by an
// spdlog file sink; open and write failures are reported once on standard
// error and retried a second later, never thrown at the caller.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "modules/Lognest/LocalTime.h"
#include "modules/Lognest/LogEntry.h"

namespace spdlog::sinks {
template <typename Mutex>
class basic_file_sink;
}  // namespace spdlog::sinks
namespace spdlog::details {
struct null_mutex;
}  // namespace spdlog::details

namespace lognest {

// Infix of the file that holds only Warn and the levels above it.
inline constexpr const char* kWarnFileInfix = "Warn";

class DayFileSink {
public:
    explicit DayFileSink(std::string infix);
    ~DayFileSink();
    DayFileSink(const DayFileSink&) = delete;
    DayFileSink& operator=(const DayFileSink&) = delete;

    // "<serverName>[_<infix>]_<date>.log"
    static std::string FileName(const std::string& serverName, const std::string& infix, const std::string& date);

    // Later entries go to files of this directory (with trailing '/') and name.
    void SetLocation(const std::string& directory, const std::string& serverName);
    void Write(const LogEntry& entry);
    // Closes the file; the next entry opens the file of its day by name,
    // at once, even within the retry delay of a failed open.
    void Reopen();
    // Hands buffered lines to the operating system.
    void Flush();
    // Path of the open file, "" when none is open.
    std::string OpenPath() const;

private:
    using FileSink = spdlog::sinks::basic_file_sink<spdlog::details::null_mutex>;

    bool EnsureOpenFor(LogTime time);
    bool Open(const LocalDay& day);
    void Close();
    void ReportFailure(const std::string& what);

    const std::string m_Infix;
    std::string m_Directory;
    std::string m_ServerName;
    LocalDay m_Day;                  // day of the open file
    std::unique_ptr<FileSink> m_File;
    std::string m_Path;
    std::chrono::steady_clock::time_point m_RetryAfter{};
    bool m_FailureReported = false;  // one stderr line per run of failures
};

}  // namespace lognest
