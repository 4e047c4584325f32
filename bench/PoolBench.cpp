// Cost of the packet pool and of the locked queue: an AllocPacket+FreePacket
// pair on one thread and on two at once, and Push+Pop on a CThreadQueue.
#include <benchmark/benchmark.h>

#include "ShareDefine/CThreadQueue.h"
#include "ShareDefine/MMORPGPacketPool.h"
#include "tests/support/CapturingLog.h"

namespace {

using MMORPG::MMORPGPacket;

void BM_AllocFreePair(benchmark::State& state) {
    for (auto _ : state) {
        MMORPGPacket* packet = AllocPacket();
        benchmark::DoNotOptimize(packet);
        FreePacket(packet);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AllocFreePair)->Threads(1)->Threads(2)->UseRealTime();

void BM_QueuePushPop(benchmark::State& state) {
    CThreadQueue<MMORPGPacket> queue;
    MMORPGPacket* packet = AllocPacket();
    for (auto _ : state) {
        queue.Push(packet);
        benchmark::DoNotOptimize(queue.Pop());
    }
    FreePacket(packet);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueuePushPop);

// The send-loop path: a pooled packet queued, then copied out and freed.
void BM_QueuePushPacketPop(benchmark::State& state) {
    CThreadQueue<MMORPGPacket> queue;
    MMORPG::MMORPGPacket_Stack scratch;
    const std::string payload(64, 'p');
    for (auto _ : state) {
        MMORPGPacket* packet = AllocPacket();
        packet->ReadData(payload.data(), static_cast<int>(payload.size()));
        queue.Push(packet);
        benchmark::DoNotOptimize(queue.PacketPop(&scratch));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueuePushPacketPop);

}  // namespace

int main(int argc, char** argv) {
    testsupport::ScopedCapturingLog log;  // the pool's start-up line stays in memory
    GetPacketPool();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ReleasePacketPool();
    return 0;
}
