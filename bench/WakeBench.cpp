// What a hand-over between two threads costs on this host: a wake-up of a
// sleeping thread (WakeableSleep, as the relay's workers sleep) on the same
// CPU and on another one, beside a hand-over to a thread that polls. Each
// iteration is one round trip, two hand-overs; "cpu_us" is the CPU time both
// threads spent per round trip. The relay's poll after work and the parting
// of its pollers (README, "Threads and queues") follow from these figures.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <thread>

#include "platform/Thread.h"
#include "platform/WakeableSleep.h"

namespace {

double ProcessCpuMicros() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

bool PinTo(int cpu) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return pthread_setaffinity_np(pthread_self(), sizeof(one), &one) == 0;
}

// The partner runs on CPU state.range(0); the benchmark thread on CPU 0.
// With a sleeping partner each side sleeps until the other wakes it; with a
// polling one both look at the turn and yield between looks.
void RoundTrips(benchmark::State& state, bool partnerPolls) {
    const int partnerCpu = static_cast<int>(state.range(0));
    if (!PinTo(0)) {
        state.SkipWithError("cannot run on CPU 0");
        return;
    }
    std::atomic<int> turn{0};  // 1: the partner's, 0: ours, -1: stop
    plat::WakeableSleep ourSleep;
    plat::WakeableSleep partnerSleep;
    const auto await = [&](int wanted, plat::WakeableSleep& sleep) {
        while (turn.load(std::memory_order_acquire) != wanted && turn.load(std::memory_order_acquire) != -1) {
            if (partnerPolls) {
                plat::YieldToOtherThreads();
            } else {
                sleep.SleepFor(1000);
            }
        }
    };
    std::thread partner([&] {
        if (!PinTo(partnerCpu)) return;
        while (true) {
            await(1, partnerSleep);
            if (turn.load(std::memory_order_acquire) == -1) return;
            turn.store(0, std::memory_order_release);
            ourSleep.Wake();
        }
    });
    const double cpuBefore = ProcessCpuMicros();
    for (auto _ : state) {
        turn.store(1, std::memory_order_release);
        partnerSleep.Wake();
        await(0, ourSleep);
    }
    const double cpuUsed = ProcessCpuMicros() - cpuBefore;
    turn.store(-1, std::memory_order_release);
    partnerSleep.Wake();
    partner.join();
    state.counters["cpu_us"] = benchmark::Counter(cpuUsed / static_cast<double>(state.iterations()));
}

void BM_WakeRoundTrip(benchmark::State& state) { RoundTrips(state, false); }
void BM_PollRoundTrip(benchmark::State& state) { RoundTrips(state, true); }

// Partner on CPU 0 (with the benchmark thread) and on CPU 1; a host with a
// single CPU reports the second as an error.
BENCHMARK(BM_WakeRoundTrip)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PollRoundTrip)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
