#include "tools/varnstatus/CommandRunner.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "tools/varnstatus/BaseInfoReply.h"
#include "tools/varnstatus/ReplyFormatter.h"
#include "tools/varnstatus/ZlibInflater.h"

namespace varnstatus {
namespace {

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g s", seconds);
    return text;
}

// False with the reason in `error`; a partly written file is left for the
// operator to look at, the message says it is incomplete.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = "cannot write " + path + " (incomplete): " + std::strerror(written ? errno : writeErrno);
        return false;
    }
    return true;
}

}  // namespace

CommandRunner::CommandRunner(asio::io_context& io, StatusConsole& console, ConsoleOutput& output,
                             RunnerSettings settings)
    : m_Timer(io), m_Console(console), m_Output(output), m_Settings(std::move(settings)) {}

std::string CommandRunner::DefaultOutPath(const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") return "errorlog.out";
    return base;
}

void CommandRunner::Enqueue(const ConsoleCommand& command) {
    m_Queue.push_back(command);
    StartNext();
}

void CommandRunner::Cancel() {
    m_Queue.clear();
    if (!m_Active) return;
    m_Active = false;
    ++m_Generation;
    m_Timer.cancel();
}

void CommandRunner::StartNext() {
    if (m_Starting) return;
    m_Starting = true;
    while (!m_Active && !m_Queue.empty()) {
        m_Current = m_Queue.front();
        m_Queue.pop_front();
        m_Active = true;
        m_RecordsShown = 0;
        const std::string record = m_Current.kind == CommandKind::Base
                                       ? EncodeBaseRequest()
                                       : EncodeCommonCmd(m_Current.name, m_Current.param);
        if (!m_Console.Send(record)) {
            m_Output.Error(Label() + ": no gateway linked");
            Finish(false);
            continue;
        }
        if (m_Current.kind == CommandKind::Other) {
            m_Output.Line(Label() + ": sent; showing what comes back within " + SecondsText(m_Settings.timeoutSeconds));
        }
        ArmTimer();
    }
    m_Starting = false;
}

void CommandRunner::ArmTimer() {
    const auto duration = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(m_Settings.timeoutSeconds));
    m_Timer.expires_after(duration);
    const uint64_t generation = ++m_Generation;
    m_Timer.async_wait([this, generation](const std::error_code& error) {
        if (!error && generation == m_Generation && m_Active) OnTimeout();
    });
}

void CommandRunner::OnTimeout() {
    const std::string waited = SecondsText(m_Settings.timeoutSeconds);
    if (m_Current.kind == CommandKind::Other && m_RecordsShown > 0) {
        m_Output.Line(Label() + ": " + std::to_string(m_RecordsShown) + " records within " + waited);
        Finish(true);
        return;
    }
    std::string text = Label() + ": no reply within " + waited;
    if (m_Current.kind == CommandKind::GetErrorLog) text += " (a refused file name gets no reply)";
    m_Output.Error(text);
    Finish(false);
}

void CommandRunner::Finish(bool ok) {
    m_Active = false;
    ++m_Generation;
    m_Timer.cancel();
    const ConsoleCommand finished = m_Current;
    if (m_OnFinished) m_OnFinished(finished, ok);
    StartNext();
}

bool CommandRunner::OnRecord(const MMORPG::tagPackHead& head, const std::string& record) {
    if (!m_Active) return false;
    switch (m_Current.kind) {
        case CommandKind::Base: return TakeBaseReply(record);
        case CommandKind::GetErrorLog:
        case CommandKind::ListLogFiles: return TakeCommandReply(record);
        case CommandKind::Other: ShowAnyRecord(head, record); return true;
        case CommandKind::Help:
        case CommandKind::Quit: break;
    }
    return false;
}

void CommandRunner::OnLinkClosed() {
    if (!m_Active) return;
    if (m_Current.kind == CommandKind::Other && m_RecordsShown > 0) {
        Finish(true);
        return;
    }
    m_Output.Error(Label() + ": the link closed before the reply");
    Finish(false);
}

bool CommandRunner::TakeBaseReply(const std::string& record) {
    BaseInfoReply reply;
    if (!reply.Decode(record)) return false;
    m_Output.Lines(FormatBaseInfo(reply));
    if (reply.Truncated()) m_Output.Error("base: truncated reply");
    Finish(!reply.Truncated());
    return true;
}

bool CommandRunner::TakeCommandReply(const std::string& record) {
    CommandReply reply;
    const ReplyDecode result = DecodeCommandReply(record, reply);
    // A reply to some other command (a script's, say) is not ours to end on.
    if (result == ReplyDecode::NotAReply || reply.name != m_Current.name) return false;
    if (result != ReplyDecode::Ok) {
        m_Output.Error(Label() + (result == ReplyDecode::BadLength ? ": reply with a negative data length"
                                                                   : ": truncated reply") +
                       " (" + std::to_string(record.size()) + " bytes)");
        Finish(false);
        return true;
    }
    Finish(m_Current.kind == CommandKind::GetErrorLog ? SaveErrorLog(reply.data) : ShowLogList(reply.data));
    return true;
}

bool CommandRunner::SaveErrorLog(const std::string& packed) {
    if (packed.empty()) {
        m_Output.Error(Label() + ": no data (file missing, empty or refused)");
        return false;
    }
    ZlibInflater inflater;
    std::string bytes;
    if (!inflater.Inflate(packed, bytes)) {
        m_Output.Error(Label() + ": " + inflater.Error());
        return false;
    }
    const std::string path = m_Settings.outPath.empty() ? DefaultOutPath(m_Current.param) : m_Settings.outPath;
    std::string error;
    if (!WriteWholeFile(path, bytes, error)) {
        m_Output.Error(Label() + ": " + error);
        return false;
    }
    m_Output.Line(Label() + ": wrote " + std::to_string(bytes.size()) + " bytes to " + path + " (" +
                  std::to_string(packed.size()) + " compressed)");
    return true;
}

bool CommandRunner::ShowLogList(const std::string& data) {
    CommandReply reply;
    reply.name = m_Current.name;
    reply.dataLength = static_cast<int32_t>(data.size());
    reply.data = data;
    m_Output.Lines(FormatCommandReply(reply));
    return true;
}

void CommandRunner::ShowAnyRecord(const MMORPG::tagPackHead& head, const std::string& record) {
    ++m_RecordsShown;
    CommandReply reply;
    BaseInfoReply baseInfo;
    const ReplyDecode result = DecodeCommandReply(record, reply);
    if (result == ReplyDecode::Ok) {
        m_Output.Lines(FormatCommandReply(reply));
    } else if (result == ReplyDecode::NotAReply && baseInfo.Decode(record)) {
        m_Output.Lines(FormatBaseInfo(baseInfo));
    } else {
        m_Output.Line(FormatOtherRecord(head, record));
    }
}

std::string CommandRunner::Label() const { return m_Current.Text(); }

}  // namespace varnstatus
