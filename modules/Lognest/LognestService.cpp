#include "modules/Lognest/LognestService.h"

#include <cstdio>

#include "modules/Lognest/DayFileSink.h"
#include "modules/Lognest/LocalTime.h"
#include "modules/Lognest/OutputMask.h"
#include "platform/Thread.h"
#include "platform/WinPath.h"

// The variadic entry operations all funnel into Format().
#define LOGNEST_FORMAT_ENTRY(level)   \
    do {                              \
        va_list args;                 \
        va_start(args, format);       \
        Format(level, format, args);  \
        va_end(args);                 \
    } while (0)

namespace lognest {
namespace {

// Most entries fit; longer ones cost a second formatting pass.
constexpr size_t kFormatBufferSize = 512;

// gettid is a system call: each thread asks once.
int CallerThreadId() {
    static thread_local const int threadId = plat::CurrentThreadId();
    return threadId;
}

// An entry at a level outside the table is kept (never dropped), at the
// nearest level that exists.
int ClampLevel(int level) {
    if (level < llNomal) return llNomal;
    if (level > llFatal) return llFatal;
    return level;
}

std::string FormatText(const char* format, va_list args) {
    if (format == nullptr) return {};
    char buffer[kFormatBufferSize];
    va_list firstPass;
    va_copy(firstPass, args);
    const int length = std::vsnprintf(buffer, sizeof(buffer), format, firstPass);
    va_end(firstPass);
    if (length < 0) return format;  // a broken format: keep what the caller wrote
    const auto size = static_cast<size_t>(length);
    if (size < sizeof(buffer)) return std::string(buffer, size);
    std::string text(size, '\0');
    std::vsnprintf(text.data(), size + 1, format, args);
    return text;
}

// Linux path with the trailing '/' the file names are appended to.
std::string DirectoryPath(const char* directory) {
    std::string path = plat::TranslatePath(directory);
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

// The server name becomes part of a file name: no folder separators.
std::string FileSafeName(const char* name) {
    if (name == nullptr || name[0] == '\0') return kDefaultServerName;
    std::string safe = name;
    for (char& c : safe) {
        if (c == '/' || c == '\\') c = '_';
    }
    return safe;
}

}  // namespace

LognestService::LognestService()
    : m_OutputMask(kDefaultOutputMask),
      m_Directory(DirectoryPath(kDefaultLogDirectory)),
      m_ServerName(kDefaultServerName),
      m_Writer(std::make_unique<LogWriter>(m_Directory, m_ServerName)) {}

LognestService::~LognestService() = default;

bool LognestService::Shutdown() { return m_Writer->Stop(); }

// ---- entries

void LognestService::LogV(int level, const char* format, va_list args) { Format(level, format, args); }

void LognestService::LogText(int level, const char* text) { Enqueue(level, text != nullptr ? text : ""); }

void LognestService::LogNomal(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llNomal); }
void LognestService::LogInfo(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llInfo); }
void LognestService::LogDebug(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llDebug); }
void LognestService::LogPyWarn(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llPyWarn); }
void LognestService::LogWarn(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llWarn); }
void LognestService::LogDesign(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llDesign); }
void LognestService::LogPyErr(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llPyErr); }
void LognestService::LogError(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llError); }
void LognestService::LogFatal(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llFatal); }
// Progress and command-handler lines are the server's record: Info.
void LognestService::LogRun(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llInfo); }
void LognestService::LogNote(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llInfo); }
void LognestService::LogAlarm(const char* format, ...) { LOGNEST_FORMAT_ENTRY(llWarn); }
// Script output: ordinary lines at Nomal, error lines at PyWarn.
void LognestService::PyOutput(int /*kind*/, const char* text) { LogText(llNomal, text); }
void LognestService::PyErrorOutput(int /*kind*/, const char* text) { LogText(llPyWarn, text); }

void LognestService::Format(int level, const char* format, va_list args) { Enqueue(level, FormatText(format, args)); }

void LognestService::Enqueue(int level, std::string&& text) {
    LogEntry entry;
    entry.level = ClampLevel(level);
    entry.time = std::chrono::system_clock::now();
    entry.threadId = CallerThreadId();
    entry.toFile = MaskLetsIntoFiles(m_OutputMask.load(std::memory_order_relaxed), entry.level);
    entry.text = std::move(text);
    // Counted before it is queued, so the hook already sees it in the counts.
    m_Counters.Count(entry.level, entry.toFile, entry.time);
    m_Writer->Submit(std::move(entry));
}

void LognestService::EnqueueSetting(EntryKind kind, const std::string& value) {
    LogEntry entry;
    entry.kind = kind;
    entry.toFile = false;
    entry.time = std::chrono::system_clock::now();
    entry.text = value;
    m_Writer->Submit(std::move(entry));
}

void LognestService::Flush() { m_Writer->Flush(); }

// ---- counts

int LognestService::GetLevelCount(int level) { return m_Counters.Level(level); }
int LognestService::GetErrorCount() { return m_Counters.Level(llError); }
int LognestService::GetFatalCount() { return m_Counters.Level(llFatal); }
int LognestService::GetLogFatalErrorCount() { return m_Counters.Level(llError) + m_Counters.Level(llFatal); }
int LognestService::GetErrorCountAlt() { return m_Counters.Written(llError); }
int LognestService::GetFatalCountAlt() { return m_Counters.Written(llFatal); }
int64_t LognestService::GetTotalCount() { return m_Counters.Total(); }
int64_t LognestService::GetPendingCount() { return m_Writer->Pending(); }
std::string LognestService::GetLastErrorTime() { return m_Counters.LastErrorTime(); }
std::string LognestService::GetLastFatalTime() { return m_Counters.LastFatalTime(); }

// ---- settings

const char* LognestService::GetLevelName(int level) {
    return (level >= 0 && level < kLogLevelCount) ? kLogLevelNames[level] : "";
}

uint8_t LognestService::GetOutputMask() { return m_OutputMask.load(std::memory_order_relaxed); }
void LognestService::SetOutputMask(uint8_t mask) { m_OutputMask.store(mask, std::memory_order_relaxed); }

void LognestService::SetNotifyWindow(void* window) { m_NotifyWindow.store(window, std::memory_order_release); }
void* LognestService::GetNotifyWindow() { return m_NotifyWindow.load(std::memory_order_acquire); }

void LognestService::SetMarkerFlag(bool markerFileExists) {
    m_MarkerFlag.store(markerFileExists, std::memory_order_relaxed);
}
bool LognestService::GetMarkerFlag() { return m_MarkerFlag.load(std::memory_order_relaxed); }

void LognestService::SetLogDirectory(const char* directory, const char* /*text*/) {
    // An empty directory would scatter the files into the current folder.
    if (directory == nullptr || directory[0] == '\0') return;
    const std::string path = DirectoryPath(directory);
    plat::EnsureDirectory(path);
    std::lock_guard lock(m_SettingsMutex);
    m_Directory = path;
    EnqueueSetting(EntryKind::SetDirectory, path);
}

void LognestService::ReopenFiles() { EnqueueSetting(EntryKind::ReopenFiles, ""); }

std::string LognestService::GetLogDirectory() {
    std::lock_guard lock(m_SettingsMutex);
    return m_Directory;
}

void LognestService::SetServerName(const char* name) {
    const std::string safe = FileSafeName(name);
    std::lock_guard lock(m_SettingsMutex);
    m_ServerName = safe;
    EnqueueSetting(EntryKind::SetServerName, safe);
}

std::string LognestService::GetServerName() {
    std::lock_guard lock(m_SettingsMutex);
    return m_ServerName;
}

std::string LognestService::GetFileName(bool warnFile) {
    const std::string date = LocalDayOf(std::chrono::system_clock::now()).date;
    return DayFileSink::FileName(GetServerName(), warnFile ? kWarnFileInfix : "", date);
}

void LognestService::SetLogHook(LogHook hook, void* context) { m_Writer->SetHook(hook, context); }

}  // namespace lognest
