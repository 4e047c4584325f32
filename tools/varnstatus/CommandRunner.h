// CommandRunner: runs operator commands over the status link, one at a time
// in the order given: sends the request, waits up to the time-out for the
// record that answers it, shows the result (the base table, a written log
// file, the log list) and reports success or failure. `cmd` shows every
// record that comes back within the time-out. A refused GetErrorLog gets no
// answer at all, so the time-out is its only end. Event-loop thread only;
// the io_context, console and output must outlive it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include <asio.hpp>

#include "tools/varnstatus/ConsoleCommand.h"
#include "tools/varnstatus/ConsoleOutput.h"
#include "tools/varnstatus/StatusConsole.h"

namespace varnstatus {

struct RunnerSettings {
    double timeoutSeconds = 10;
    std::string outPath;  // GetErrorLog's file; empty: the log's base name in the current folder
};

class CommandRunner : public ILinkObserver {
public:
    using OnFinished = std::function<void(const ConsoleCommand& command, bool ok)>;

    CommandRunner(asio::io_context& io, StatusConsole& console, ConsoleOutput& output, RunnerSettings settings);
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    void Enqueue(const ConsoleCommand& command);
    // Drops the waiting commands and ends the running one without a report.
    void Cancel();
    bool Idle() const { return !m_Active && m_Queue.empty(); }
    // Called after each command; the next one starts once it returns.
    void SetOnFinished(OnFinished onFinished) { m_OnFinished = std::move(onFinished); }

    bool OnRecord(const MMORPG::tagPackHead& head, const std::string& record) override;
    void OnLinkClosed() override;

    // Where GetErrorLog writes `name` without --out: its base name (after the
    // last / or \), or "errorlog.out" when that is empty, "." or "..".
    static std::string DefaultOutPath(const std::string& name);

private:
    void StartNext();
    void ArmTimer();
    void OnTimeout();
    void Finish(bool ok);
    bool TakeBaseReply(const std::string& record);
    bool TakeCommandReply(const std::string& record);
    bool SaveErrorLog(const std::string& packed);
    bool ShowLogList(const std::string& data);
    void ShowAnyRecord(const MMORPG::tagPackHead& head, const std::string& record);
    std::string Label() const;

    asio::steady_timer m_Timer;
    StatusConsole& m_Console;
    ConsoleOutput& m_Output;
    const RunnerSettings m_Settings;
    OnFinished m_OnFinished;
    std::deque<ConsoleCommand> m_Queue;
    ConsoleCommand m_Current;
    bool m_Active = false;
    bool m_Starting = false;     // StartNext is on the stack: a finish must not recurse into it
    uint64_t m_Generation = 0;   // tells a stale timer completion from the current one
    uint64_t m_RecordsShown = 0;  // cmd: records that came back
};

}  // namespace varnstatus
