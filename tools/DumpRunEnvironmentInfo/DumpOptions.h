// The command line the gateway gives DumpRunEnvironmentInfo, in the Windows
// form its launcher builds: "/ep:<executable path>" and "/lfp:<log file
// path>", prefixes matched without regard to case. A parser only.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace envinfo {

inline constexpr const char* kUsage = "usage: DumpRunEnvironmentInfo /ep:<executable path> /lfp:<log file path>";

struct DumpOptions {
    std::string executablePath;
    std::string logFilePath;
};

// arguments without the program name; nullopt with the reason in *error
// when an argument is unknown, repeated, empty or missing.
std::optional<DumpOptions> ParseDumpOptions(const std::vector<std::string>& arguments, std::string* error);

}  // namespace envinfo
