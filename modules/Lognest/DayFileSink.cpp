#include "modules/Lognest/DayFileSink.h"

#include <spdlog/details/log_msg.h>
#include <spdlog/details/null_mutex.h>
#include <spdlog/sinks/basic_file_sink.h>

#include <cstdio>
#include <exception>

#include "modules/Lognest/LogService.h"
#include "platform/WinPath.h"

namespace lognest {
namespace {

// The level's display name travels in the logger-name field of the message,
// the caller's thread id in its thread field.
constexpr const char* kLinePattern = "%Y-%m-%d %H:%M:%S.%e [%n] [%t] %v";
constexpr auto kRetryDelay = std::chrono::seconds(1);

}  // namespace

DayFileSink::DayFileSink(std::string infix) : m_Infix(std::move(infix)) {}

DayFileSink::~DayFileSink() { Close(); }

std::string DayFileSink::FileName(const std::string& serverName, const std::string& infix, const std::string& date) {
    std::string name = serverName;
    name += '_';
    if (!infix.empty()) {
        name += infix;
        name += '_';
    }
    name += date;
    name += ".log";
    return name;
}

void DayFileSink::SetLocation(const std::string& directory, const std::string& serverName) {
    if (directory == m_Directory && serverName == m_ServerName) return;
    Close();
    m_Directory = directory;
    m_ServerName = serverName;
    m_RetryAfter = {};
}

void DayFileSink::Write(const LogEntry& entry) {
    if (!EnsureOpenFor(entry.time)) return;
    const int level = (entry.level >= 0 && entry.level < kLogLevelCount) ? entry.level : llNomal;
    spdlog::details::log_msg message(entry.time, spdlog::source_loc{}, kLogLevelNames[level], spdlog::level::info,
                                     entry.text);
    message.thread_id = static_cast<size_t>(entry.threadId);
    try {
        m_File->log(message);
    } catch (const std::exception& error) {
        ReportFailure(error.what());
        Close();
    }
}

void DayFileSink::Reopen() {
    Close();
    m_RetryAfter = {};
}

void DayFileSink::Flush() {
    if (!m_File) return;
    try {
        m_File->flush();
    } catch (const std::exception& error) {
        ReportFailure(error.what());
        Close();
    }
}

std::string DayFileSink::OpenPath() const { return m_File ? m_Path : std::string(); }

bool DayFileSink::EnsureOpenFor(LogTime time) {
    if (m_File && m_Day.Contains(time)) return true;
    // A failed open is not retried for every entry: with the disk gone that
    // would stall the logging thread on each one.
    const auto now = std::chrono::steady_clock::now();
    if (!m_File && now < m_RetryAfter) return false;
    if (Open(LocalDayOf(time))) return true;
    m_RetryAfter = now + kRetryDelay;
    return false;
}

bool DayFileSink::Open(const LocalDay& day) {
    Close();
    const std::string path = m_Directory + FileName(m_ServerName, m_Infix, day.date);
    try {
        plat::EnsureDirectory(m_Directory);
        auto file = std::make_unique<FileSink>(path, /*truncate=*/false);
        file->set_pattern(kLinePattern);
        m_File = std::move(file);
    } catch (const std::exception& error) {
        ReportFailure(error.what());
        return false;
    }
    m_Day = day;
    m_Path = path;
    m_FailureReported = false;
    return true;
}

void DayFileSink::Close() {
    if (!m_File) return;
    try {
        m_File->flush();
    } catch (const std::exception& error) {
        ReportFailure(error.what());
    }
    m_File.reset();  // the file helper closes the file
    m_Path.clear();
}

void DayFileSink::ReportFailure(const std::string& what) {
    if (m_FailureReported) return;
    m_FailureReported = true;
    std::fprintf(stderr, "Lognest: log file error: %s\n", what.c_str());
}

}  // namespace lognest
