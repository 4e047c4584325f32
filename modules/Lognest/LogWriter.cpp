#include "modules/Lognest/LogWriter.h"

#include <cstdio>
#include <exception>

#include "platform/Thread.h"

namespace lognest {
namespace {

constexpr const char* kLoggingThreadName = "Lognest Writer";
constexpr size_t kKeptBatchCapacity = 64 * 1024;  // entries

}  // namespace

LogWriter::LogWriter(const std::string& directory, const std::string& serverName)
    : m_DayFile(""), m_WarnFile(kWarnFileInfix), m_Directory(directory), m_ServerName(serverName) {
    m_DayFile.SetLocation(m_Directory, m_ServerName);
    m_WarnFile.SetLocation(m_Directory, m_ServerName);
    m_Thread = std::thread(&LogWriter::Run, this);
}

LogWriter::~LogWriter() {
    // The owner never destroys the writer from its own hook (Stop() refuses
    // that), so this join cannot be a self-join.
    Stop();
}

void LogWriter::Submit(LogEntry&& entry) {
    if (m_Queue.Push(std::move(entry))) return;
    WriteInline(std::move(entry));
}

void LogWriter::Flush() {
    if (OnLoggingThread()) return;  // it would wait for the entry it is handling
    m_Queue.WaitForWritten();
}

void LogWriter::SetHook(LogHook hook, void* context) {
    // The logging thread already holds the hook lock while it runs a hook.
    std::unique_lock<std::mutex> lock(m_HookMutex, std::defer_lock);
    if (!OnLoggingThread()) lock.lock();
    m_Hook = hook;
    m_HookContext = context;
}

bool LogWriter::Stop() {
    if (OnLoggingThread()) return false;
    std::lock_guard lock(m_StopMutex);
    if (m_Thread.joinable()) {
        m_Queue.RequestStop();
        m_Thread.join();
    }
    return true;
}

bool LogWriter::OnLoggingThread() const {
    return m_LoggingThreadId.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void LogWriter::Run() {
    m_LoggingThreadId.store(std::this_thread::get_id(), std::memory_order_release);
    plat::SetCurrentThreadName(kLoggingThreadName);
    std::vector<LogEntry> batch;
    while (m_Queue.TakeBatch(batch)) {
        WriteBatch(batch);
        m_Queue.MarkWritten();
        ReleaseAfterBurst(batch);
    }
    m_LoggingThreadId.store(std::thread::id(), std::memory_order_release);
}

void LogWriter::ReleaseAfterBurst(std::vector<LogEntry>& batch) {
    // The two vectors swap roles, so normally both keep their capacity. After
    // a burst the memory would stay with the process for good: once traffic
    // is back to small batches, give it back.
    const bool oversized = batch.capacity() > kKeptBatchCapacity && batch.size() < batch.capacity() / 4;
    if (oversized) {
        std::vector<LogEntry>().swap(batch);
    } else {
        batch.clear();
    }
}

void LogWriter::WriteBatch(const std::vector<LogEntry>& batch) {
    std::lock_guard writeLock(m_WriteMutex);
    std::lock_guard hookLock(m_HookMutex);
    for (const LogEntry& entry : batch) {
        Apply(entry);
        if (entry.kind == EntryKind::Text) CallHook(entry);
    }
    FlushFiles();
}

void LogWriter::Apply(const LogEntry& entry) {
    switch (entry.kind) {
        case EntryKind::SetDirectory:
            m_Directory = entry.text;
            break;
        case EntryKind::SetServerName:
            m_ServerName = entry.text;
            break;
        case EntryKind::ReopenFiles:
            m_DayFile.Reopen();
            m_WarnFile.Reopen();
            return;
        case EntryKind::Text:
            if (!entry.toFile) return;
            m_DayFile.Write(entry);
            if (entry.level >= llWarn) m_WarnFile.Write(entry);
            return;
    }
    m_DayFile.SetLocation(m_Directory, m_ServerName);
    m_WarnFile.SetLocation(m_Directory, m_ServerName);
}

void LogWriter::FlushFiles() {
    m_DayFile.Flush();
    m_WarnFile.Flush();
}

void LogWriter::CallHook(const LogEntry& entry) {
    if (m_Hook == nullptr) return;
    // The hook is foreign code on our thread: an exception from it must not
    // end the logging thread (and with it the process).
    try {
        m_Hook(m_HookContext, entry.level, entry.text.c_str());
    } catch (...) {
        if (!m_HookFailureReported) {
            m_HookFailureReported = true;
            std::fprintf(stderr, "Lognest: the log hook threw an exception\n");
        }
    }
}

void LogWriter::WriteInline(LogEntry&& entry) {
    // The logging thread has ended (process exit): the hook's owner may be
    // gone already, so only the files get the entry.
    std::lock_guard writeLock(m_WriteMutex);
    Apply(entry);
    FlushFiles();
}

}  // namespace lognest
