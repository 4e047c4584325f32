// The module's logging thread and everything it owns: the entry queue, the
// day file and the Warn file, and the hook. Callers Submit() finished entries
// and never wait for the disk; the thread drains the queue in batches, writes
// each entry to the files (when the mask let it in) and then passes it to the
// hook, in entry order.
//
// Submit(), Flush(), SetHook() and Pending() are safe on any thread. The hook
// runs on the logging thread; it may log (the entry is queued) and may
// replace the hook, but a Flush() from inside it returns at once. Stop()
// drains and joins; entries submitted after it are written on the caller's
// thread, without the hook, so nothing made during process exit is lost.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modules/Lognest/DayFileSink.h"
#include "modules/Lognest/EntryQueue.h"
#include "modules/Lognest/LogService.h"

namespace lognest {

class LogWriter {
public:
    // Starts the logging thread; files go to directory (trailing '/').
    LogWriter(const std::string& directory, const std::string& serverName);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    void Submit(LogEntry&& entry);
    // Returns when every entry submitted before the call is in the files and
    // has been passed to the hook.
    void Flush();
    void SetHook(LogHook hook, void* context);
    int64_t Pending() const { return m_Queue.Pending(); }

    // Drains the queue, flushes the files and joins the logging thread.
    // False (and nothing done) when called on the logging thread itself.
    bool Stop();
    bool OnLoggingThread() const;

private:
    void Run();
    void WriteBatch(const std::vector<LogEntry>& batch);
    static void ReleaseAfterBurst(std::vector<LogEntry>& batch);
    void Apply(const LogEntry& entry);  // requires m_WriteMutex
    void FlushFiles();                  // requires m_WriteMutex
    void CallHook(const LogEntry& entry);  // requires m_HookMutex
    void WriteInline(LogEntry&& entry);

    EntryQueue m_Queue;

    // Held by whoever writes the files: the logging thread for each batch,
    // callers once the thread has ended.
    std::mutex m_WriteMutex;
    DayFileSink m_DayFile;   // guarded by m_WriteMutex
    DayFileSink m_WarnFile;  // guarded by m_WriteMutex
    std::string m_Directory;   // guarded by m_WriteMutex
    std::string m_ServerName;  // guarded by m_WriteMutex

    // Held by the logging thread while it runs the hooks of a batch.
    std::mutex m_HookMutex;
    LogHook m_Hook = nullptr;        // guarded by m_HookMutex
    void* m_HookContext = nullptr;   // guarded by m_HookMutex
    bool m_HookFailureReported = false;  // logging thread only

    std::mutex m_StopMutex;
    std::thread m_Thread;  // guarded by m_StopMutex once started
    std::atomic<std::thread::id> m_LoggingThreadId{};
};

}  // namespace lognest
