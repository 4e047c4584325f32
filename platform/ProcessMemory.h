// Process memory counters and the processor count, as the Windows process
// status calls report them. Safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct ProcessMemoryCounters {
    uint64_t workingSetBytes = 0;  // resident pages (VmRSS)
    uint64_t pagefileBytes = 0;    // private committed memory (VmData + VmStk)
};

// False when the system refuses the query.
bool GetProcessMemoryCounters(ProcessMemoryCounters& out);
// Processors the process may run on (at least 1).
int GetProcessorCount();

// The roots of the logical drives whose type is a fixed disk ("C:\\"). A
// Windows process keeps a per-drive current directory in environment
// variables named "=C:"; Linux has no drives, so the list is empty and no
// such variable is needed.
std::vector<std::string> ListFixedDriveRoots();

}  // namespace plat
