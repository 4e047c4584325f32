// The process figures that the base-information replies carry: CPU use in
// percent, working set and page-file usage. SampleProcessMetrics runs on
// every pass of the status request thread and keeps its own 1500 ms rate;
// it is the only writer. Readers on any thread see the latest sample or the
// one before it.
#pragma once

#include <cstdint>

struct ProcessMetrics {
    int32_t cpuPercent = 0;
    uint64_t workingSetBytes = 0;
    uint64_t pageFileBytes = 0;
};

inline constexpr uint32_t kMetricsSampleIntervalMs = 1500;

void SampleProcessMetrics();
ProcessMetrics GetProcessMetrics();

// CPU percent over one interval: (kernel + user delta in 100-ns units) turned
// into whole milliseconds, over (interval ms x processors), truncated; 0 when
// the divisor is 0.
int32_t CpuPercent(uint64_t busy100ns, uint32_t elapsedMs, int processorCount);

// Sets the per-drive environment variables ("=C:" = "C:") for every fixed
// drive; a system without drive letters has none to set.
void PrepareDriveVariables();
