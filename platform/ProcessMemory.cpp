#include "platform/ProcessMemory.h"

#include <sched.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace plat {

namespace {

// A "Key:   123 kB" line of /proc/self/status, in bytes.
bool ParseKilobytesLine(const std::string& line, const char* key, uint64_t& bytes) {
    const std::string prefix = std::string(key) + ":";
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    std::istringstream fields(line.substr(prefix.size()));
    uint64_t kilobytes = 0;
    if (!(fields >> kilobytes)) return false;
    bytes = kilobytes * 1024;
    return true;
}

}  // namespace

bool GetProcessMemoryCounters(ProcessMemoryCounters& out) {
    std::ifstream status("/proc/self/status");
    if (!status) return false;
    uint64_t rss = 0, data = 0, stack = 0;
    bool haveRss = false;
    std::string line;
    while (std::getline(status, line)) {
        haveRss |= ParseKilobytesLine(line, "VmRSS", rss);
        ParseKilobytesLine(line, "VmData", data);
        ParseKilobytesLine(line, "VmStk", stack);
    }
    if (!haveRss) return false;
    out.workingSetBytes = rss;
    out.pagefileBytes = data + stack;
    return true;
}

int GetProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

std::vector<std::string> ListFixedDriveRoots() { return {}; }

}  // namespace plat
