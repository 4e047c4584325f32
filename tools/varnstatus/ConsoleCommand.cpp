#include "tools/varnstatus/ConsoleCommand.h"

#include "tools/varnstatus/StatusRecords.h"

namespace varnstatus {
namespace {

constexpr const char* kBlanks = " \t\r\n";

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Splits off the first word; `rest` is the trimmed remainder.
std::string FirstWord(const std::string& text, std::string& rest) {
    const size_t end = text.find_first_of(kBlanks);
    rest = end == std::string::npos ? std::string() : Trim(text.substr(end));
    return text.substr(0, end);
}

bool CheckLengths(const ConsoleCommand& command, std::string& error) {
    if (command.name.empty()) {
        error = "cmd needs a command name";
    } else if (command.name.size() > kCommandNameMax) {
        error = "command name longer than " + std::to_string(kCommandNameMax) + " characters";
    } else if (command.param.size() > kCommandParamMax) {
        error = "parameter longer than " + std::to_string(kCommandParamMax) + " bytes";
    }
    return error.empty();
}

}  // namespace

bool ConsoleCommand::Parse(const std::string& line, ConsoleCommand& command, std::string& error) {
    command = ConsoleCommand();
    error.clear();
    std::string rest;
    const std::string word = FirstWord(Trim(line), rest);
    if (word == "base" || word == "help" || word == "quit" || word == "ListLogFiles") {
        if (!rest.empty()) {
            error = word + " takes no argument";
            return false;
        }
        command.kind = word == "base"   ? CommandKind::Base
                       : word == "help" ? CommandKind::Help
                       : word == "quit" ? CommandKind::Quit
                                        : CommandKind::ListLogFiles;
        if (command.kind == CommandKind::ListLogFiles) command.name = word;
        return true;
    }
    if (word == "GetErrorLog") {
        command.kind = CommandKind::GetErrorLog;
        command.name = word;
        command.param = rest;
        if (rest.empty()) error = "GetErrorLog needs a file name";
        return error.empty() && CheckLengths(command, error);
    }
    if (word == "cmd") {
        command.kind = CommandKind::Other;
        command.name = FirstWord(rest, command.param);
        return CheckLengths(command, error);
    }
    error = word.empty() ? "empty command" : "unknown command \"" + word + "\"";
    return false;
}

std::string ConsoleCommand::Text() const {
    switch (kind) {
        case CommandKind::Base: return "base";
        case CommandKind::GetErrorLog: return "GetErrorLog " + param;
        case CommandKind::ListLogFiles: return "ListLogFiles";
        case CommandKind::Other: return "cmd " + name + (param.empty() ? "" : " " + param);
        case CommandKind::Help: return "help";
        case CommandKind::Quit: return "quit";
    }
    return {};
}

const char* ConsoleCommandHelp() {
    return "commands:\n"
           "  base                  base information as a table\n"
           "  GetErrorLog <file>    fetch a log file (written to --out or the file's base name)\n"
           "  ListLogFiles          list the gateway's log files\n"
           "  cmd <Name> [param]    send any common command and show what comes back within --timeout\n"
           "  help                  this list\n"
           "  quit                  end the console\n";
}

}  // namespace varnstatus
