#include "tools/DumpRunEnvironmentInfo/EnvironmentReport.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <utility>

#include "tools/DumpRunEnvironmentInfo/ElfBuildId.h"

namespace envinfo {
namespace {

std::string TimeText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void Heading(std::ostream& out, const char* title) { out << "\n[" << title << "]\n"; }

// The value of the first "key : value" line of a /proc file.
std::string ProcValue(const char* file, const std::string& key) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, key.size(), key) != 0) continue;
        const size_t colon = line.find(':', key.size());
        if (colon == std::string::npos) continue;
        const size_t start = line.find_first_not_of(" \t", colon + 1);
        return start == std::string::npos ? "" : line.substr(start);
    }
    return "unknown";
}

void WriteHost(std::ostream& out) {
    Heading(out, "Host");
    out << "Time: " << TimeText(std::time(nullptr)) << "\n";
    utsname name{};
    if (::uname(&name) == 0) {
        out << "Host name: " << name.nodename << "\n"
            << "Kernel: " << name.sysname << " " << name.release << " " << name.version << " " << name.machine << "\n";
    }
    out << "CPU: " << ProcValue("/proc/cpuinfo", "model name") << "\n"
        << "CPU count: " << ::sysconf(_SC_NPROCESSORS_ONLN) << "\n";
    for (const char* key : {"MemTotal", "MemAvailable", "SwapTotal", "SwapFree"}) {
        out << key << ": " << ProcValue("/proc/meminfo", key) << "\n";
    }
}

std::string LimitText(rlim_t value) { return value == RLIM_INFINITY ? "unlimited" : std::to_string(value); }

void WriteLimits(std::ostream& out) {
    Heading(out, "Process limits (soft / hard)");
    const std::pair<const char*, int> limits[] = {
        {"RLIMIT_NOFILE", RLIMIT_NOFILE}, {"RLIMIT_CORE", RLIMIT_CORE},   {"RLIMIT_NPROC", RLIMIT_NPROC},
        {"RLIMIT_AS", RLIMIT_AS},         {"RLIMIT_STACK", RLIMIT_STACK},
    };
    for (const auto& [label, resource] : limits) {
        rlimit limit{};
        if (::getrlimit(resource, &limit) != 0) continue;
        out << label << ": " << LimitText(limit.rlim_cur) << " / " << LimitText(limit.rlim_max) << "\n";
    }
}

// One line for a file of the installation; false when it is not there.
bool WriteFileLine(std::ostream& out, const std::string& label, const std::string& path) {
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        out << label << ": MISSING (" << path << ")\n";
        return false;
    }
    out << label << ": " << info.st_size << " bytes, modified " << TimeText(info.st_mtime)
        << ", build-id " << ReadBuildId(path).value_or("none") << "\n";
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

void WriteInstallation(std::ostream& out, const std::string& executablePath, std::vector<std::string>& problems) {
    Heading(out, "Installation");
    if (!WriteFileLine(out, "Executable " + executablePath, executablePath)) {
        problems.push_back("executable missing: " + executablePath);
    }
    const std::string folder = FolderOf(executablePath);
    for (const std::string& module : kExpectedModules) {
        if (!WriteFileLine(out, module, folder + module)) problems.push_back("module missing: " + folder + module);
    }
}

void WriteSettings(std::ostream& out) {
    Heading(out, "Settings");
    for (const char* file : {"Config/Config.ini", "VarnholtServer.ini"}) {
        std::ifstream in(file);
        if (!in) {
            out << file << ": not present\n";
            continue;
        }
        out << "--- " << file << "\n"
            << std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) << "\n";
    }
}

}  // namespace

std::vector<std::string> WriteEnvironmentReport(std::ostream& out, const std::string& executablePath) {
    std::vector<std::string> problems;
    out << "DumpRunEnvironmentInfo\n";
    WriteHost(out);
    WriteLimits(out);
    WriteInstallation(out, executablePath, problems);
    WriteSettings(out);
    return problems;
}

}  // namespace envinfo
