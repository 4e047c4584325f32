// What one log call costs its caller (format, stamp, count, queue; the disk
// is the logging thread's business), and how fast the logging thread gets
// entries into the files. The module is the real libLognest.so beside the
// binary; its files go to a temporary folder removed at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "infra/Log.h"
#include "platform/WinPath.h"

namespace {

void BM_LogInfo(benchmark::State& state) {
    LogService* log = GetLog();
    int i = 0;
    for (auto _ : state) log->LogInfo("relay packet %d queued", i++);
    // Outside the timing: keeps the queue from growing across runs.
    if (state.thread_index() == 0) log->Flush();
}
BENCHMARK(BM_LogInfo)->Threads(1)->Threads(2);

void BM_LogWarnTwoFiles(benchmark::State& state) {
    LogService* log = GetLog();
    int i = 0;
    for (auto _ : state) log->LogWarn("Unknown ServerType = %d", i++);
    if (state.thread_index() == 0) log->Flush();
}
BENCHMARK(BM_LogWarnTwoFiles)->Threads(1);

// End to end: a burst of entries until all are in the file.
void BM_WriteToFileThroughput(benchmark::State& state) {
    LogService* log = GetLog();
    const int64_t burst = state.range(0);
    for (auto _ : state) {
        for (int64_t i = 0; i < burst; ++i) log->LogInfo("throughput entry %ld", static_cast<long>(i));
        log->Flush();
    }
    state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(BM_WriteToFileThroughput)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    std::string root = (std::filesystem::temp_directory_path() / "lognest-bench-XXXXXX").string();
    if (::mkdtemp(root.data()) == nullptr) return 1;
    ::setenv(plat::kDataRootVariable, root.c_str(), 1);
    GetLog()->SetServerName("Bench");

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    Log_Free();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return 0;
}
