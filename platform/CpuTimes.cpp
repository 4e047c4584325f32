#include "CpuTimes.h"

#include <sys/resource.h>
#include <sys/time.h>

namespace plat {
namespace {

uint64_t To100ns(const timeval& tv) {
    return static_cast<uint64_t>(tv.tv_sec) * 10000000u + static_cast<uint64_t>(tv.tv_usec) * 10u;
}

bool Query(int who, CpuTimes& out) {
    rusage usage{};
    if (getrusage(who, &usage) != 0) return false;
    out.kernel100ns = To100ns(usage.ru_stime);
    out.user100ns = To100ns(usage.ru_utime);
    return true;
}

}  // namespace

bool GetProcessCpuTimes(CpuTimes& out) { return Query(RUSAGE_SELF, out); }

bool GetCurrentThreadCpuTimes(CpuTimes& out) { return Query(RUSAGE_THREAD, out); }

}  // namespace plat
