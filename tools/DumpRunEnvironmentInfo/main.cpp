// DumpRunEnvironmentInfo /ep:<executable path> /lfp:<log file path>
// Writes the description of the host and the installation into the log
// file. Exit code 0 when the installation can run, 3 when it cannot (a
// module missing, the log file not writable), 2 for a wrong command line;
// the reason goes to the file when it can be written, and to standard error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/DumpRunEnvironmentInfo/DumpOptions.h"
#include "tools/DumpRunEnvironmentInfo/EnvironmentReport.h"

namespace {

constexpr int kCanRun = 0;
constexpr int kUsageError = 2;
constexpr int kCannotRun = 3;

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = envinfo::ParseDumpOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!options) {
        std::fprintf(stderr, "DumpRunEnvironmentInfo: %s\n%s\n", error.c_str(), envinfo::kUsage);
        return kUsageError;
    }
    std::ofstream log(options->logFilePath, std::ios::trunc);
    if (!log) {
        std::fprintf(stderr, "DumpRunEnvironmentInfo: cannot write %s: %s\n", options->logFilePath.c_str(),
                     std::strerror(errno));
        return kCannotRun;
    }
    const std::vector<std::string> problems = envinfo::WriteEnvironmentReport(log, options->executablePath);
    log << "\n[Result]\n";
    for (const std::string& problem : problems) {
        log << "cannot run: " << problem << "\n";
        std::fprintf(stderr, "DumpRunEnvironmentInfo: %s\n", problem.c_str());
    }
    if (problems.empty()) log << "OK\n";
    log.flush();
    if (!log) {
        std::fprintf(stderr, "DumpRunEnvironmentInfo: writing %s failed\n", options->logFilePath.c_str());
        return kCannotRun;
    }
    return problems.empty() ? kCanRun : kCannotRun;
}
