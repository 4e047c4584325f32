// Process and thread CPU times in the Windows unit of 100 ns, split into
// kernel and user time as GetProcessTimes/GetThreadTimes report them.
#pragma once

#include <cstdint>

namespace plat {

struct CpuTimes {
    uint64_t kernel100ns = 0;
    uint64_t user100ns = 0;
};

// Both return false when the operating system refuses the query.
bool GetProcessCpuTimes(CpuTimes& out);
// Times of the calling thread only.
bool GetCurrentThreadCpuTimes(CpuTimes& out);

}  // namespace plat
