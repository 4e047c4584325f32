#include "tools/DumpRunEnvironmentInfo/DumpOptions.h"

#include <strings.h>

namespace envinfo {
namespace {

// The value after the prefix when the argument starts with it.
std::optional<std::string> ValueOf(const std::string& argument, const char* prefix) {
    const size_t length = std::char_traits<char>::length(prefix);
    if (argument.size() < length || strncasecmp(argument.c_str(), prefix, length) != 0) return std::nullopt;
    return argument.substr(length);
}

bool Take(const std::string& value, const char* name, std::string& into, std::string* error) {
    if (!into.empty()) {
        *error = std::string("repeated ") + name;
    } else if (value.empty()) {
        *error = std::string("empty ") + name;
    } else {
        into = value;
        return true;
    }
    return false;
}

}  // namespace

std::optional<DumpOptions> ParseDumpOptions(const std::vector<std::string>& arguments, std::string* error) {
    std::string ignored;
    if (error == nullptr) error = &ignored;
    DumpOptions options;
    for (const std::string& argument : arguments) {
        bool taken = false;
        if (const auto value = ValueOf(argument, "/ep:")) {
            taken = Take(*value, "/ep:", options.executablePath, error);
        } else if (const auto logValue = ValueOf(argument, "/lfp:")) {
            taken = Take(*logValue, "/lfp:", options.logFilePath, error);
        } else {
            *error = "unknown argument " + argument;
        }
        if (!taken) return std::nullopt;
    }
    if (options.executablePath.empty() || options.logFilePath.empty()) {
        *error = options.executablePath.empty() ? "missing /ep:" : "missing /lfp:";
        return std::nullopt;
    }
    return options;
}

}  // namespace envinfo
