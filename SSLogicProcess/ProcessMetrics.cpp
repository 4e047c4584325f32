#include "SSLogicProcess/ProcessMetrics.h"

#include <cstdlib>
#include <atomic>
#include <string>

#include "platform/CpuTimes.h"
#include "platform/ProcessMemory.h"
#include "platform/Tick.h"

namespace {

// Written only by the sampler (the request thread); the figures are atomics
// because the window and the handlers read them from other threads.
struct MetricsState {
    int processorCount = 0;
    uint32_t lastSampleTick = 0;
    bool sampled = false;
    bool haveTimes = false;
    plat::CpuTimes lastTimes;
    std::atomic<int32_t> cpuPercent{0};
    std::atomic<uint64_t> workingSet{0};
    std::atomic<uint64_t> pageFile{0};
};

MetricsState& State() {
    static MetricsState state;
    return state;
}

void SampleCpu(MetricsState& state, uint32_t elapsedMs) {
    plat::CpuTimes times;
    if (!plat::GetProcessCpuTimes(times)) return;
    if (state.haveTimes) {
        const uint64_t busy = (times.kernel100ns - state.lastTimes.kernel100ns) +
                              (times.user100ns - state.lastTimes.user100ns);
        state.cpuPercent.store(CpuPercent(busy, elapsedMs, state.processorCount), std::memory_order_relaxed);
    }
    state.lastTimes = times;
    state.haveTimes = true;
}

}  // namespace

int32_t CpuPercent(uint64_t busy100ns, uint32_t elapsedMs, int processorCount) {
    const uint64_t busyMs = busy100ns / 10 / 1000;
    const uint64_t divisor = static_cast<uint64_t>(elapsedMs) * static_cast<uint64_t>(processorCount > 0 ? processorCount : 0);
    if (divisor == 0) return 0;
    // Multiplied before dividing: busy / divisor alone is 0 for any process
    // below one full CPU, so the percent would only ever read 0 or 100.
    return static_cast<int32_t>(busyMs * 100 / divisor);
}

void SampleProcessMetrics() {
    MetricsState& state = State();
    if (state.processorCount == 0) state.processorCount = plat::GetProcessorCount();
    const uint32_t now = plat::GetTickMs();
    if (state.sampled) {
        const uint32_t elapsed = now - state.lastSampleTick;
        if (elapsed < kMetricsSampleIntervalMs) return;
        plat::ProcessMemoryCounters memory;
        const bool haveMemory = plat::GetProcessMemoryCounters(memory);
        state.workingSet.store(haveMemory ? memory.workingSetBytes : 0, std::memory_order_relaxed);
        state.pageFile.store(haveMemory ? memory.pagefileBytes : 0, std::memory_order_relaxed);
        SampleCpu(state, elapsed);
    }
    state.lastSampleTick = now;
    state.sampled = true;
}

ProcessMetrics GetProcessMetrics() {
    const MetricsState& state = State();
    ProcessMetrics metrics;
    metrics.cpuPercent = state.cpuPercent.load(std::memory_order_relaxed);
    metrics.workingSetBytes = state.workingSet.load(std::memory_order_relaxed);
    metrics.pageFileBytes = state.pageFile.load(std::memory_order_relaxed);
    return metrics;
}

void PrepareDriveVariables() {
    for (const std::string& root : plat::ListFixedDriveRoots()) {
        if (root.empty()) continue;
        const std::string drive = root.substr(0, 1) + ":";
        ::setenv(("=" + drive).c_str(), drive.c_str(), 1);
    }
}
